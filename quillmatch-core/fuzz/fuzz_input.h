// Turns the bytes of a libFuzzer input into inputs of the core: texts drawn
// from small alphabets of every UTF-8 width (so that two strings share
// characters and every path of a measure is reached), lengths clustered at
// the borders the code switches on, edited copies, options, and re-codings
// of a pair into other character widths. Also the failure report.
#ifndef QUILLMATCH_CORE_FUZZ_FUZZ_INPUT_H_
#define QUILLMATCH_CORE_FUZZ_FUZZ_INPUT_H_

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>  // std::abort
#include <cstring>  // std::memcpy
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "reference.h"  // ref::Text, decode, encode and the plain measures
#include "unicode_case.h"

namespace fuzz {

using ref::Text;

// ---------------------------------------------------------------------------
// Failure report: what differed and the inputs, as C++ literals ready to be
// pasted into a regression test.

inline std::string literal(std::string_view bytes) {
  std::string out = "\"";
  for (const char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    if (b >= 0x20 && b < 0x7F && b != '"' && b != '\\') {
      out += c;
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X\" \"", b);
      out += hex;
    }
  }
  return out + "\"";
}

// Collects the inputs of one run, to print them when a check fails.
class Report {
 public:
  void text(const char* name, std::string_view value) {
    lines_ += std::string("  ") + name + " = " + literal(value) + " (" +
              std::to_string(value.size()) + " bytes)\n";
  }
  void number(const char* name, double value) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.17g", value);
    lines_ += std::string("  ") + name + " = " + buffer + "\n";
  }
  template <typename T>
  void option(const char* name, const std::optional<T>& value) {
    if (value) {
      number(name, static_cast<double>(*value));
    } else {
      lines_ += std::string("  ") + name + " = absent\n";
    }
  }

  [[noreturn]] void fail(const char* file, int line, const char* check) const {
    std::fprintf(stderr, "\nMISMATCH %s:%d: %s\ninputs:\n%s", file, line, check, lines_.c_str());
    std::abort();
  }

 private:
  std::string lines_;
};

// Fails the run with the report when `condition` does not hold.
#define FUZZ_CHECK(report, condition)                                \
  do {                                                               \
    if (!(condition)) (report).fail(__FILE__, __LINE__, #condition); \
  } while (0)

// ---------------------------------------------------------------------------
// Alphabets

// Characters by storage class. Each alphabet is small, so random strings
// share characters; the case-sensitive ones hold what lower-casing treats
// specially: both ASCII cases and the bytes 32 apart ('[' and '{'), sigma
// with case-ignorables (U+0307, U+2019) for Final_Sigma, U+0130 (lower-cases
// to two code points), KELVIN SIGN (to ASCII 'k') and both sharp s.
inline const std::vector<std::vector<char32_t>>& alphabets() {
  static const std::vector<std::vector<char32_t>> all = [] {
    std::vector<std::vector<char32_t>> sets = {
        {'a', 'b', 'c'},
        {'a', 'b', 'A', 'B', 'k', 'K', '[', '{', ' '},
        {'a', 0x80, 0xC9, 0xD7, 0xDF, 0xE9, 0xFF},
        {'a', 0x130, 0x307, 0x391, 0x3A3, 0x3C2, 0x3C3, 0x1E9E, 0x2019, 0x212A, 0x65E5},
        {'a', 0x10000, 0x10400, 0x10428, 0x1F600, 0x10FFFF},
    };
    std::vector<char32_t> mixed;
    for (const auto& set : sets) mixed.insert(mixed.end(), set.begin(), set.end());
    std::sort(mixed.begin(), mixed.end());
    mixed.erase(std::unique(mixed.begin(), mixed.end()), mixed.end());
    sets.push_back(mixed);
    return sets;
  }();
  return all;
}

// The index one past the alphabets: characters drawn from all of Unicode.
inline std::size_t any_scalar_alphabet() { return alphabets().size(); }

// ---------------------------------------------------------------------------
// Input

class Input {
 public:
  // Choices are read from the front of the data; once they are used up, a
  // generator seeded by the data goes on, so that a short input still makes
  // long texts with varied characters.
  Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {
    std::uint64_t hash = 0x9E3779B97F4A7C15u ^ size;
    for (std::size_t i = 0; i < size; ++i) hash = (hash ^ data[i]) * 0x100000001B3u;
    state_ = hash | 1;
  }

  std::uint8_t byte() {
    if (used_ < size_) return data_[used_++];
    state_ ^= state_ << 13;
    state_ ^= state_ >> 7;
    state_ ^= state_ << 17;
    return static_cast<std::uint8_t>(state_ >> 32);
  }
  bool flag() { return (byte() & 1) != 0; }
  // A number in [0, n); 0 when n is 0.
  std::size_t below(std::size_t n) {
    if (n <= 1) return 0;
    std::uint64_t value = 0;
    for (std::uint64_t span = 1; span < n; span <<= 8) value = (value << 8) | byte();
    return static_cast<std::size_t>(value % n);
  }
  // Up to `max` raw bytes, as many as the data say.
  std::string bytes(std::size_t max) {
    std::string out(below(max + 1), '\0');
    for (char& c : out) c = static_cast<char>(byte());
    return out;
  }
  // The bytes not read yet.
  std::string rest() {
    std::string out(reinterpret_cast<const char*>(data_) + used_, size_ - used_);
    used_ = size_;
    return out;
  }
  double real() {
    std::uint64_t bits = 0;
    for (int i = 0; i < 8; ++i) bits = (bits << 8) | byte();
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
  }

  // A length at one of the borders the code switches on (0 to 2, 14 to 18
  // around Jaro-Winkler's short path, 62 to 66 and 126 to 130 around the
  // words), or any length up to 64, or up to `max`; never above `max`.
  std::size_t length(std::size_t max) {
    static constexpr std::size_t kBorders[] = {0, 16, 64, 128};
    const std::size_t kind = below(6);
    std::size_t len;
    if (kind < 4) {
      const std::size_t border = kBorders[kind];
      len = border + below(5);
      len = len >= 2 ? len - 2 : len;
    } else if (kind == 4) {
      len = below(65);
    } else {
      len = below(max + 1);
    }
    return std::min(len, max);
  }

  // An alphabet index, the whole-Unicode one included.
  std::size_t alphabet() { return below(any_scalar_alphabet() + 1); }

  // A text of `len` characters from alphabet `which`.
  Text text(std::size_t len, std::size_t which) {
    Text out(len);
    for (char32_t& c : out) c = character(which);
    return out;
  }

  // A copy of `text` after a few insertions, deletions, substitutions and
  // swaps of neighbours, new characters from alphabet `which`.
  Text edited(Text text, std::size_t which, std::size_t max_edits) {
    const std::size_t edits = below(max_edits + 1);
    for (std::size_t e = 0; e < edits; ++e) {
      const std::size_t pos = below(text.size() + 1);
      const char32_t c = character(which);
      switch (below(4)) {
        case 0: text.insert(text.begin() + static_cast<std::ptrdiff_t>(pos), c); break;
        case 1:
          if (pos < text.size()) text.erase(text.begin() + static_cast<std::ptrdiff_t>(pos));
          break;
        case 2:
          if (pos < text.size()) text[pos] = c;
          break;
        default:
          if (pos + 1 < text.size()) std::swap(text[pos], text[pos + 1]);
          break;
      }
    }
    return text;
  }

  // Two texts: unrelated, equal, or the second an edited copy of the first.
  // The shape is chosen before any character, so short inputs reach it all.
  std::pair<Text, Text> pair(std::size_t max_len) {
    const std::size_t alphabet_1 = alphabet();
    const std::size_t alphabet_2 = flag() ? alphabet_1 : alphabet();
    const std::size_t len_1 = length(max_len);
    const std::size_t len_2 = length(max_len);
    const std::size_t relation = below(4);
    Text first = text(len_1, alphabet_1);
    switch (relation) {
      case 0: return {first, text(len_2, alphabet_2)};
      case 1: return {first, first};
      case 2: {
        Text second = edited(first, alphabet_2, 4);
        return {std::move(first), std::move(second)};
      }
      default: {
        Text second = edited(first, alphabet_2, first.size() / 2 + 2);
        return {std::move(first), std::move(second)};
      }
    }
  }

  // An optional machine word near `near`: absent, 0, or within a few of it.
  std::optional<std::size_t> option_near(std::size_t near) {
    switch (below(4)) {
      case 0: return std::nullopt;
      case 1: return below(4);
      default: {
        const std::size_t low = near >= 3 ? near - 3 : 0;
        return low + below(7);
      }
    }
  }

  // A case flag: absent, false or true.
  std::optional<bool> case_option() {
    switch (below(3)) {
      case 0: return std::nullopt;
      case 1: return false;
      default: return true;
    }
  }

  // A prefix scale: absent, a valid one, or one that must be refused.
  std::optional<double> prefix_scale() {
    static constexpr double kScales[] = {0.1, 0.0, -0.0, 0.25, 0.2, 0.26, -0.01, 1.0};
    switch (below(4)) {
      case 0: return std::nullopt;
      case 1: return kScales[below(std::size(kScales))];
      case 2: return 0.25 * static_cast<double>(below(1 << 20)) / static_cast<double>(1 << 20);
      default: return real();  // NaN and infinities included
    }
  }

 private:
  // A character of alphabet `which`; any scalar value for the last one,
  // weighted towards the shorter UTF-8 forms.
  char32_t character(std::size_t which) {
    if (which < alphabets().size()) {
      const auto& set = alphabets()[which];
      return set[below(set.size())];
    }
    static constexpr char32_t kLimits[] = {0x80, 0x800, 0x10000, 0x110000};
    char32_t c = static_cast<char32_t>(below(kLimits[byte() & 3]));
    if (c >= 0xD800 && c <= 0xDFFF) c -= 0x800;  // surrogates are not characters
    return c;
  }

  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t used_ = 0;
  std::uint64_t state_;
};

// ---------------------------------------------------------------------------
// Helpers shared by the targets

// Returns the core's full lower-case form of `text`.
inline std::string lower(std::string_view text) {
  std::string out;
  quillmatch_core::detail::append_lowercase(text, out);
  return out;
}

// Where the k-th distinct character of a pair goes when the pair is written
// in another width: the measures see only which characters are equal, so
// every re-coding must give the same result, each on its own path.
enum class Width { kAscii, kLatin1, kMap, kAstral, kMixed };
inline constexpr Width kWidths[] = {Width::kAscii, Width::kLatin1, Width::kMap, Width::kAstral,
                                    Width::kMixed};

// Returns `a` and `b` with their distinct characters renamed, in order of
// first appearance, into characters of `width`; nothing when there are too
// many distinct characters for it.
inline std::optional<std::pair<std::string, std::string>> recode(const Text& a, const Text& b,
                                                                 Width width) {
  std::map<char32_t, char32_t> names;
  const auto name_of = [&](char32_t c) -> std::optional<char32_t> {
    const auto found = names.find(c);
    if (found != names.end()) return found->second;
    const auto k = static_cast<char32_t>(names.size());
    char32_t named;
    switch (width) {
      case Width::kAscii:
        if (k >= 0x5E) return std::nullopt;
        named = 0x21 + k;  // printable, neither space nor control
        break;
      case Width::kLatin1:
        if (k >= 0x80) return std::nullopt;
        named = 0x80 + k;
        break;
      case Width::kMap: named = 0x100 + k; break;
      case Width::kAstral: named = 0x10000 + k; break;
      default: {
        static constexpr char32_t kBases[] = {0x21, 0xA0, 0x4E00, 0x1F300};
        if (k >= 4 * 0x5E) return std::nullopt;
        named = kBases[k % 4] + k / 4;
        break;
      }
    }
    names.emplace(c, named);
    return named;
  };
  Text out_a, out_b;
  for (const char32_t c : a) {
    const auto named = name_of(c);
    if (!named) return std::nullopt;
    out_a.push_back(*named);
  }
  for (const char32_t c : b) {
    const auto named = name_of(c);
    if (!named) return std::nullopt;
    out_b.push_back(*named);
  }
  return std::make_pair(ref::encode(out_a), ref::encode(out_b));
}

}  // namespace fuzz

#endif  // QUILLMATCH_CORE_FUZZ_FUZZ_INPUT_H_
