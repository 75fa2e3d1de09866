// The error type's debug text, the shortest round-trip form of doubles, and
// the input preparation every pair measure runs first.
#include "quillmatch_core/common.h"

#include <charconv>  // std::to_chars
#include <cmath>
#include <cstdlib>  // std::abs on the exponent
#include <string>

#include "fault_injection.h"
#include "prepare.h"
#include "unicode_case.h"
#include "utf8.h"

namespace quillmatch_core {

void internal_fault(const char* message) { throw InternalFault(message); }

std::string format_shortest(double value) {
  if (std::isnan(value)) return "NaN";
  std::string out = std::signbit(value) ? "-" : "";
  const double magnitude = std::fabs(value);
  if (std::isinf(magnitude)) return out + "inf";

  // The shortest scientific form gives the significant digits and the
  // exponent; the layout is ours.
  char buffer[64];
  const auto converted =
      std::to_chars(buffer, buffer + sizeof buffer, magnitude, std::chars_format::scientific);
  const std::string_view scientific(buffer, converted.ptr - buffer);
  const std::size_t e_at = scientific.find('e');
  std::string digits;
  for (char c : scientific.substr(0, e_at)) {
    if (c != '.') digits += c;
  }
  int exponent = 0;
  const std::string_view exponent_text = scientific.substr(e_at + 1);
  std::from_chars(exponent_text.data() + (exponent_text[0] == '+'),
                  exponent_text.data() + exponent_text.size(), exponent);

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
    return std::string("InputTooLong { which: \"") + e->which + "\", len: " + std::to_string(e->len) +
           ", limit: " + std::to_string(e->limit) + " }";
  }
  return "InvalidPrefixScale { value: " + format_shortest(invalid_prefix_scale()->value) + " }";
}

namespace detail {

std::optional<InputTooLong> PreparedPair::prepare(std::string_view str_1, std::string_view str_2,
                                                  bool case_insensitive,
                                                  std::optional<std::size_t> max_len) {
  inject_fault(str_1);
  inject_fault(str_2);
  if (case_insensitive) {
    append_lowercase(str_1, folded_1_);
    append_lowercase(str_2, folded_2_);
    text_1 = folded_1_;
    text_2 = folded_2_;
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
