// Full lower-casing: every scalar value against the mappings and properties
// read straight from the UCD files, Final_Sigma in and out of context, and
// what lower-casing does to the lengths the pair functions count.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>  // std::snprintf
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "quillmatch_core/damerau_bp.h"
#include "quillmatch_core/jaro_winkler.h"
#include "quillmatch_core/levenshtein_bp.h"
#include "reference.h"
#include "unicode_case.h"
#include "unicode_lookup.h"

namespace quillmatch_core {
namespace {

struct ExpectedLowercase {
  char32_t cp;
  std::array<char32_t, 3> lower;
};

struct CodePointRange {
  char32_t first, last;
};

#include "unicode_lowercase_expected.inc"

using detail::append_lowercase;
using detail::case_record;
using std::nullopt;

constexpr char32_t kCapitalSigma = 0x03A3;
constexpr char32_t kSmallSigma = 0x03C3;
constexpr char32_t kFinalSigma = 0x03C2;

std::string lower(std::string_view text) {
  std::string out;
  append_lowercase(text, out);
  return out;
}

std::string hex(char32_t cp) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "U+%04X", static_cast<unsigned>(cp));
  return buf;
}

// Expands the inclusive ranges into one flag per code point, U+0000 to U+10FFFF.
template <std::size_t N>
std::vector<bool> flags_of(const CodePointRange (&ranges)[N]) {
  std::vector<bool> flags(0x110000);
  for (const CodePointRange& range : ranges) {
    for (char32_t cp = range.first; cp <= range.last; ++cp) flags[cp] = true;
  }
  return flags;
}

bool is_surrogate(char32_t cp) { return cp >= 0xD800 && cp <= 0xDFFF; }

// The expected mapping of every code point: itself unless listed.
std::vector<ref::Text> expected_mappings() {
  std::vector<ref::Text> mappings(0x110000);
  for (char32_t cp = 0; cp < 0x110000; ++cp) mappings[cp] = {cp};
  for (const ExpectedLowercase& entry : kExpectedLowercase) {
    ref::Text& mapping = mappings[entry.cp];
    mapping.clear();
    for (const char32_t c : entry.lower) {
      if (c != 0) mapping.push_back(c);
    }
  }
  return mappings;
}

TEST(UnicodeCaseTest, ExpectedDataIsSortedAndPlausible) {
  // Guards against a truncated or reordered data file making the sweeps vacuous.
  ASSERT_GT(std::size(kExpectedLowercase), 1400u);
  EXPECT_TRUE(std::is_sorted(std::begin(kExpectedLowercase), std::end(kExpectedLowercase),
                             [](const auto& a, const auto& b) { return a.cp < b.cp; }));
  const auto check_ranges = [](const auto& ranges) {
    for (std::size_t i = 0; i < std::size(ranges); ++i) {
      EXPECT_LE(ranges[i].first, ranges[i].last);
      if (i > 0) {
        EXPECT_LT(ranges[i - 1].last, ranges[i].first);
      }
    }
  };
  check_ranges(kExpectedCased);
  check_ranges(kExpectedCaseIgnorable);
}

TEST(UnicodeCaseTest, EveryScalarValueAloneGivesItsMapping) {
  const std::vector<ref::Text> mappings = expected_mappings();
  std::size_t changed = 0;
  for (char32_t cp = 0; cp < 0x110000; ++cp) {
    if (is_surrogate(cp)) continue;
    // U+03A3 alone has no cased character before it, so it takes the small form.
    const ref::Text want = cp == kCapitalSigma ? ref::Text{kSmallSigma} : mappings[cp];
    const ref::Text got = ref::decode(lower(ref::encode({cp})));
    ASSERT_EQ(got, want) << hex(cp);
    changed += got != ref::Text{cp};
  }
  EXPECT_EQ(changed, std::size(kExpectedLowercase));
}

TEST(UnicodeCaseTest, EveryScalarValueBetweenAsciiLetters) {
  // The ASCII runs on both sides go through the arithmetic shortcut; the
  // character between them must come out the same as alone.
  const std::vector<ref::Text> mappings = expected_mappings();
  for (char32_t cp = 0; cp < 0x110000; ++cp) {
    if (is_surrogate(cp) || cp == kCapitalSigma) continue;
    ref::Text want{'x', 'y'};
    want.insert(want.end(), mappings[cp].begin(), mappings[cp].end());
    want.push_back('z');
    ASSERT_EQ(ref::decode(lower(ref::encode({'x', 'Y', cp, 'Z'}))), want) << hex(cp);
  }
}

TEST(UnicodeCaseTest, TablesCarryTheGeneratorsPinnedVersion) {
  EXPECT_EQ(detail::kUnicodeVersion, QUILLMATCH_PINNED_UCD_VERSION);
}

TEST(UnicodeCaseTest, CaseRecordsAgreeWithTheProperties) {
  const std::vector<bool> cased = flags_of(kExpectedCased);
  const std::vector<bool> ignorable = flags_of(kExpectedCaseIgnorable);
  for (char32_t cp = 0; cp < 0x110000; ++cp) {
    const auto record = case_record(cp);
    ASSERT_EQ(record.cased(), cased[cp]) << hex(cp);
    ASSERT_EQ(record.case_ignorable(), ignorable[cp]) << hex(cp);
  }
  // Beyond the code space (only from malformed input): uncased, maps to itself.
  for (const char32_t cp : {char32_t{0x110000}, char32_t{0x1FFFFF}, char32_t{0xFFFFFFFF}}) {
    const auto record = case_record(cp);
    EXPECT_FALSE(record.cased());
    EXPECT_FALSE(record.case_ignorable());
    EXPECT_FALSE(record.expands());
    EXPECT_EQ(record.delta(), 0);
  }
}

// Final_Sigma for every scalar value c as the only neighbour of a capital
// sigma: "AΣc" is final unless c is cased, "cΣ" is final only when c is cased;
// a case-ignorable c is skipped, which leaves the 'A' or the start of text.
TEST(UnicodeCaseTest, FinalSigmaNextToEveryScalarValue) {
  const std::vector<bool> cased = flags_of(kExpectedCased);
  const std::vector<bool> ignorable = flags_of(kExpectedCaseIgnorable);
  const std::vector<ref::Text> mappings = expected_mappings();
  const auto mapped = [&](char32_t c) { return c == kCapitalSigma ? ref::Text{} : mappings[c]; };
  for (char32_t c = 0; c < 0x110000; ++c) {
    if (is_surrogate(c) || c == kCapitalSigma) continue;
    const bool cased_after = !ignorable[c] && cased[c];
    ref::Text want{'a', cased_after ? kSmallSigma : kFinalSigma};
    const ref::Text tail = mapped(c);
    want.insert(want.end(), tail.begin(), tail.end());
    ASSERT_EQ(ref::decode(lower(ref::encode({'A', kCapitalSigma, c}))), want) << "after " << hex(c);

    const bool cased_before = !ignorable[c] && cased[c];
    want = mapped(c);
    want.push_back(cased_before ? kFinalSigma : kSmallSigma);
    ASSERT_EQ(ref::decode(lower(ref::encode({c, kCapitalSigma}))), want) << "before " << hex(c);
  }
}

struct LowerCase {
  const char* text;
  const char* want;
};

TEST(UnicodeCaseTest, Cases) {
  const LowerCase cases[] = {
      {"", ""},
      {"ABCXYZ@[`{", "abcxyz@[`{"},                        // only the 26 letters shift
      {"\u0130", "i\u0307"},                               // two code points
      {"\u212A", "k"},                                     // KELVIN SIGN becomes ASCII
      {"\u1E9E", "\u00DF"},                                // capital sharp s
      {"\u00DF", "\u00DF"},                                // no expansion to "ss"
      {"\U00010400\U00010427x", "\U00010428\U0001044Fx"},  // Deseret, above U+FFFF
      {"\u00C0\u00DE\u00D7", "\u00E0\u00FE\u00D7"},        // Latin-1; the sign stays
      // Final_Sigma.
      {"\u03A3\u0391\u03A3", "\u03C3\u03B1\u03C2"},
      {"\u03A3", "\u03C3"},
      {"\u03A3\u03A3", "\u03C3\u03C2"},
      {"\u0391\u03A3\u03A3", "\u03B1\u03C3\u03C2"},
      {"A\u03A3", "a\u03C2"},
      {"a\u03A3", "a\u03C2"},
      {"A\u03A3'", "a\u03C2'"},    // U+0027 is case-ignorable: skipped after
      {"A\u03A3'B", "a\u03C3'b"},  // ... and a cased letter follows it
      {"A'\u03A3", "a'\u03C2"},    // skipped before
      {"'\u03A3", "'\u03C3"},      // only ignorables before
      {"1\u03A3", "1\u03C3"},      // a digit is neither cased nor ignorable
      {"A\u03A31", "a\u03C21"},
      {"\u0391\u03A3 \u0392", "\u03B1\u03C2 \u03B2"},
      {"A\u0301\u03A3", "a\u0301\u03C2"},  // two-byte ignorable before
      {"A\u03A3\u0301", "a\u03C2\u0301"},
      {"A\u00AD\u03A3\u00ADB", "a\u00AD\u03C3\u00ADb"},
      {"A\U000E0001\u03A3", "a\U000E0001\u03C2"},    // four-byte ignorable before
      {"A\u03A3\U000E0001B", "a\u03C3\U000E0001b"},  // ... and after
      {"\U00010400\u03A3", "\U00010428\u03C2"},      // four-byte cased before
      {"A\u03A3\U00010400", "a\u03C3\U00010428"},
      {"\u0130\u03A3", "i\u0307\u03C2"},
      {"\u03A3\u0301A", "\u03C3\u0301a"},
      // U+02B0 is both cased and case-ignorable; it is skipped as ignorable.
      {"\u02B0\u03A3", "\u02B0\u03C3"},
      {"\u0391\u03A3\u02B0", "\u03B1\u03C2\u02B0"},
      {"\u03B1\u03C2", "\u03B1\u03C2"},  // already small: unchanged
  };
  for (const LowerCase& c : cases) EXPECT_EQ(lower(c.text), c.want) << c.text;
}

TEST(UnicodeCaseTest, AppendsToWhatIsThere) {
  std::string out = "keep";
  append_lowercase("\u03A3X", out);
  EXPECT_EQ(out, "keep\u03C3x");  // the sigma's context is its own text only
}

// Lower-casing into a fixed buffer, the pair's short form: the same bytes as
// appending when they fit, at every capacity around their length, and the
// pair functions' results either way (U+0130 grows from 2 to 3 bytes, so 96
// of them fill the pair's 192-byte buffer and then some).
TEST(UnicodeCaseTest, IntoABufferEqualsAppendingOrSaysItDoesNotFit) {
  for (const std::string& text :
       {std::string("Stra\u00DFE \u03A3\u0391\u03A3 \u65E5"), std::string(90, 'A'),
        ref::encode(ref::Text(96, 0x130)), std::string("\xC3\xC9\xE2\x82")}) {
    std::string want;
    detail::append_lowercase(text, want);
    for (std::size_t capacity = 0; capacity <= want.size() + 4; ++capacity) {
      std::string out(capacity, '?');
      const std::size_t size = detail::lowercase_into(text, out.data(), capacity);
      if (capacity < want.size()) {
        EXPECT_EQ(size, capacity + 1) << capacity;
      } else {
        ASSERT_EQ(size, want.size()) << capacity;
        EXPECT_EQ(out.substr(0, size), want) << capacity;
      }
    }
  }
  const std::string capitals = ref::encode(ref::Text(96, 0x130));
  const std::string lower = ref::encode(ref::Text(96, 'i'));
  EXPECT_EQ(levenshtein_bp(capitals, lower, std::nullopt, true, std::nullopt).value(), 96u);
  EXPECT_EQ(damerau_bp(capitals, capitals, std::nullopt, true, std::nullopt).value(), 0u);
}

// The word-at-a-time ASCII path, every length around its 4- and 8-byte
// loads, against one byte at a time, with every ASCII byte in every place.
TEST(UnicodeCaseTest, AsciiWordsEqualBytes) {
  for (std::size_t n = 0; n <= 25; ++n) {
    for (unsigned first = 0; first < 128; first += 7) {
      std::string text(n, '\0');
      for (std::size_t i = 0; i < n; ++i) text[i] = static_cast<char>((first + 37 * i) % 128);
      std::string want = text;
      for (char& c : want) c = static_cast<char>(detail::lowercase_ascii_byte(c));
      std::string out(n, '?');
      detail::lowercase_ascii(text, out.data());
      EXPECT_EQ(out, want) << n << " " << first;
    }
  }
}

// What the lower-casing changes in the pair functions: counts after folding,
// and pairs that become ASCII.
struct FoldedLength {
  const char* a;
  const char* b;
  std::size_t max_len;
  bool ci;
  const char* which;  // nullptr: passes the limit
  std::size_t len;
};

TEST(UnicodeCaseTest, LimitCountsTheFoldedText) {
  const FoldedLength cases[] = {
      {"\u0130", "", 1, true, "str_1", 2},
      {"\u0130", "", 1, false, nullptr, 0},
      {"\u0130", "", 2, true, nullptr, 0},
      {"", "\u0130\u0130", 3, true, "str_2", 4},
      {"\u1E9E\u212A", "", 2, true, nullptr, 0},  // one code point each
      {"\u03A3\u0391\u03A3", "", 2, true, "str_1", 3},
      {"\u65E5\u672C", "", 2, false, nullptr, 0},  // 2 characters, 6 bytes
      {"\U00010400\U00010401", "", 1, true, "str_1", 2},
  };
  for (const FoldedLength& c : cases) {
    const auto distance = levenshtein_bp(c.a, c.b, c.max_len, c.ci);
    const auto osa = damerau_bp(c.a, c.b, c.max_len, c.ci);
    const auto similarity = jaro_winkler(c.a, c.b, nullopt, c.max_len, c.ci);
    if (c.which == nullptr) {
      EXPECT_TRUE(distance.ok() && osa.ok() && similarity.ok()) << c.a << " / " << c.b;
      continue;
    }
    for (const MatchError* error : {&distance.error(), &osa.error(), &similarity.error()}) {
      ASSERT_NE(error->input_too_long(), nullptr);
      EXPECT_STREQ(error->input_too_long()->which, c.which);
      EXPECT_EQ(error->input_too_long()->len, c.len) << c.a << " / " << c.b;
      EXPECT_EQ(error->input_too_long()->limit, c.max_len);
    }
  }
}

TEST(UnicodeCaseTest, FoldingToAsciiGivesTheAsciiResults) {
  // After folding, U+212A is the byte 'k': the pair is measured as the ASCII
  // pair it became, on both sides of the 16/17 and 64/65 path borders.
  for (const std::size_t n : {1u, 16u, 17u, 63u, 64u, 65u}) {
    const std::string ascii = std::string(n - 1, 'q') + "k";
    std::string kelvin = std::string(n - 1, 'Q') + "\u212A";
    const std::string other = std::string(1, 'k').append(n - 1, 'q');
    EXPECT_EQ(levenshtein_bp(kelvin, other, nullopt, true).value(),
              levenshtein_bp(ascii, other).value())
        << n;
    EXPECT_EQ(damerau_bp(kelvin, other, nullopt, true).value(), damerau_bp(ascii, other).value())
        << n;
    EXPECT_EQ(ref::Exact{jaro_winkler(kelvin, other, nullopt, nullopt, true).value()},
              ref::Exact{jaro_winkler(ascii, other).value()})
        << n;
    EXPECT_EQ(levenshtein_bp(kelvin, ascii, n, true).value(), 0u) << n;
  }
}

}  // namespace
}  // namespace quillmatch_core
