// The error type's debug text, the shortest round-trip form of doubles, and
// the input preparation every pair measure runs first.
#include "quillmatch_core/common.h"

#include <cmath>
#include <cstdio>   // std::snprintf
#include <cstdlib>  // std::strtod
#include <cstring>  // std::strchr
#include <string>

#include "fault_injection.h"
#include "prepare.h"
#include "unicode_case.h"
#include "utf8.h"

namespace quillmatch_core {

void internal_fault(const char* message) { throw InternalFault(message); }

namespace {

// True when the decimal `digits` x 10^(exponent - digits + 1) reads back as
// `magnitude`. The text has no decimal point, so no locale can change its
// meaning.
bool reads_back(const std::string& digits, int exponent, double magnitude) {
  char text[48];
  std::snprintf(text, sizeof text, "%se%d", digits.c_str(),
                exponent - static_cast<int>(digits.size()) + 1);
  return std::strtod(text, nullptr) == magnitude;
}

// Returns the fewest significant digits that read back as `magnitude` (a
// finite non-negative double; "0" for zero) and stores the decimal exponent
// of the first. Of several such digit strings it returns the one nearest to
// the value, like std::to_chars. At most 17 rounds of snprintf and strtod,
// no heap use beyond the short strings.
std::string shortest_digits(double magnitude, int& exponent) {
  char text[40];
  for (int precision = 1;; ++precision) {
    // The C library rounds correctly to `precision` digits; only the digits
    // and the exponent are read, whatever the locale's decimal point.
    std::snprintf(text, sizeof text, "%.*e", precision - 1, magnitude);
    const char* e_at = std::strchr(text, 'e');
    std::string digits;
    for (const char* c = text; c != e_at; ++c) {
      if (*c >= '0' && *c <= '9') digits += *c;
    }
    exponent = std::atoi(e_at + 1);
    if (precision == 17 || reads_back(digits, exponent, magnitude)) return digits;
    // Below a power of two the doubles lie twice as close as above it, so
    // the nearest digits can miss while the next ones up still read back.
    std::string up = digits;
    int up_exponent = exponent;
    std::size_t at = up.size();
    while (at > 0 && up[at - 1] == '9') up[--at] = '0';
    if (at == 0) {
      up.insert(up.begin(), '1');
      up.pop_back();
      ++up_exponent;
    } else {
      ++up[at - 1];
    }
    if (reads_back(up, up_exponent, magnitude)) {
      while (up.size() > 1 && up.back() == '0') up.pop_back();
      exponent = up_exponent;
      return up;
    }
  }
}

}  // namespace

std::string format_shortest(double value) {
  if (std::isnan(value)) return "NaN";
  std::string out = std::signbit(value) ? "-" : "";
  const double magnitude = std::fabs(value);
  if (std::isinf(magnitude)) return out + "inf";

  // The shortest digits and their exponent come from the C library; the
  // layout is ours.
  int exponent = 0;
  const std::string digits = shortest_digits(magnitude, exponent);

  if (magnitude >= 1e16 || (magnitude != 0.0 && magnitude < 1e-4)) {
    out += digits[0];
    if (digits.size() > 1) {
      out += '.';
      out.append(digits, 1);
    }
    out += 'e';
    out += std::to_string(exponent);
    return out;
  }
  if (exponent < 0) {
    out += "0.";
    out.append(static_cast<std::size_t>(-exponent - 1), '0');
    out += digits;
    return out;
  }
  const auto integer_digits = static_cast<std::size_t>(exponent) + 1;
  if (digits.size() <= integer_digits) {
    out += digits;
    out.append(integer_digits - digits.size(), '0');
    out += ".0";
  } else {
    out.append(digits, 0, integer_digits);
    out += '.';
    out.append(digits, integer_digits);
  }
  return out;
}

std::string MatchError::debug_text() const {
  if (const auto* e = input_too_long()) {
    return std::string("InputTooLong { which: \"") + e->which +
           "\", len: " + std::to_string(e->len) + ", limit: " + std::to_string(e->limit) + " }";
  }
  return "InvalidPrefixScale { value: " + format_shortest(invalid_prefix_scale()->value) + " }";
}

namespace detail {

std::string_view PreparedPair::fold(std::string_view text, std::string& folded,
                                    char (&short_form)[kShortFold]) {
  if (text.size() <= kShortFold) {
    if (is_ascii(text)) {
      lowercase_ascii(text, short_form);
      return {short_form, text.size()};
    }
    const std::size_t size = lowercase_into(text, short_form, kShortFold);
    if (size <= kShortFold) return {short_form, size};
  }
  append_lowercase(text, folded);
  return folded;
}

std::optional<InputTooLong> PreparedPair::prepare(std::string_view str_1, std::string_view str_2,
                                                  bool case_insensitive,
                                                  std::optional<std::size_t> max_len) {
  inject_fault(str_1);
  inject_fault(str_2);
  if (case_insensitive) {
    text_1 = fold(str_1, folded_1_, short_1_);
    text_2 = fold(str_2, folded_2_, short_2_);
  } else {
    text_1 = str_1;
    text_2 = str_2;
  }
  // The second text is tested only when the first passed.
  ascii = is_ascii(text_1) && is_ascii(text_2);
  if (ascii) {
    len_1 = text_1.size();
    len_2 = text_2.size();
  } else {
    len_1 = count_chars(text_1);
    len_2 = count_chars(text_2);
  }
  if (max_len) {
    if (len_1 > *max_len) return InputTooLong{"str_1", len_1, *max_len};
    if (len_2 > *max_len) return InputTooLong{"str_2", len_2, *max_len};
  }
  return std::nullopt;
}

}  // namespace detail
}  // namespace quillmatch_core
