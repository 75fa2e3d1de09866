// jaro_winkler: exact doubles for fixed cases, errors, cut-off rules, and
// every path bit for bit against the definition.
#include <cmath>
#include <cstddef>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <tuple>

#include <gtest/gtest.h>

#include "quillmatch_core/jaro_winkler.h"
#include "reference.h"

namespace quillmatch_core {
namespace {

using ref::Exact;
using std::nullopt;

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

struct Case {
  std::string a;
  std::string b;
  std::optional<double> p;
  std::optional<bool> ci;
  std::optional<double> cutoff;
  double want;
};

TEST(JaroWinklerTest, ExactValues) {
  const Case cases[] = {
      {"", "", nullopt, nullopt, nullopt, 1.0},
      {"", "", nullopt, nullopt, 2.0, 1.0},
      {"", "a", nullopt, nullopt, nullopt, 0.0},
      {"a", "", nullopt, nullopt, nullopt, 0.0},
      {"a", "", nullopt, nullopt, -1.0, 0.0},
      {"ab", "ba", nullopt, nullopt, nullopt, 0.0},
      {"abc", "cba", nullopt, nullopt, nullopt, 0.5555555555555555},
      {"a", "b", nullopt, nullopt, nullopt, 0.0},
      {"a", "a", nullopt, nullopt, nullopt, 1.0},
      {"MARTHA", "MARHTA", nullopt, nullopt, nullopt, 0.9611111111111111},
      {"MARHTA", "MARTHA", nullopt, nullopt, nullopt, 0.9611111111111111},
      {"DWAYNE", "DUANE", nullopt, nullopt, nullopt, 0.8400000000000001},
      {"DIXON", "DICKSONX", nullopt, nullopt, nullopt, 0.8133333333333332},
      {"jellyfish", "smellyfish", nullopt, nullopt, nullopt, 0.8962962962962964},
      {"abc", "abd", nullopt, nullopt, nullopt, 0.8222222222222222},
      {"abcxyz", "bcaxyz", nullopt, nullopt, nullopt, 0.9444444444444445},
      {"xabcde", "xbcade", nullopt, nullopt, nullopt, 0.9500000000000001},
      {"listen", "silent", nullopt, nullopt, nullopt, 0.8888888888888888},
      {"abcdef", "abcxyz", nullopt, nullopt, nullopt, 0.6666666666666666},
      {"heart", "earth", nullopt, nullopt, nullopt, 0.8666666666666667},
      {"MARTHA", "MARHTA", 0.0, nullopt, nullopt, 0.9444444444444445},
      {"MARTHA", "MARHTA", -0.0, nullopt, nullopt, 0.9444444444444445},
      {"abcdx", "abcdy", 0.25, nullopt, nullopt, 1.0},
      {"abcdx", "abcdy", 0.0, nullopt, nullopt, 0.8666666666666667},
      {"Hello", "hello", nullopt, nullopt, nullopt, 0.8666666666666667},
      {"Hello", "hello", nullopt, true, nullopt, 1.0},
      {"ABC", "abc", nullopt, nullopt, nullopt, 0.0},
      {"ABC", "abc", nullopt, false, nullopt, 0.0},
      {"Hello World", "hello world", nullopt, nullopt, nullopt, 0.8787878787878789},
      {"MARTHA", "MARHTA", nullopt, nullopt, 0.9, 0.9611111111111111},
      {"MARTHA", "MARHTA", nullopt, nullopt, 0.97, 0.0},
      {"MARTHA", "MARHTA", nullopt, nullopt, 0.9611111111111111, 0.9611111111111111},
      {"MARTHA", "MARHTA", nullopt, nullopt, kNaN, 0.9611111111111111},
      {"MARTHA", "MARHTA", nullopt, nullopt, -kInf, 0.9611111111111111},
      {"ab", "ba", nullopt, nullopt, 0.5, 0.0},
      {"İ", "i", nullopt, true, nullopt, 0.8500000000000001},
      {"日本語", "日本人", nullopt, nullopt, nullopt, 0.8222222222222222},
      {"aaaaaaaaaaaaaaaaaaaab", "aaaaaaaaaaaaaaaaaaaac", nullopt, nullopt, nullopt,
       0.9809523809523809},
      {"abcdefghijklmnopq", "abcdefghijklmnopr", nullopt, nullopt, nullopt, 0.9764705882352941},
      {"ABCDEFGHIJKLMNOPQ", "abcdefghijklmnopr", nullopt, true, nullopt, 0.9764705882352941},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.a + " / " + c.b);
    const auto got = jaro_winkler(c.a, c.b, c.p, nullopt, c.ci, c.cutoff);
    ASSERT_TRUE(got.ok()) << got.error().debug_text();
    EXPECT_EQ(Exact{got.value()}, Exact{c.want});
    // The fixed values are those of the definition itself.
    if (!c.cutoff && !c.ci.value_or(false)) {
      EXPECT_EQ(Exact{ref::jaro_winkler(c.a, c.b, c.p.value_or(0.1))}, Exact{c.want});
    }
  }
}

void expect_bits(double got, double want) {
  EXPECT_EQ(std::memcmp(&got, &want, sizeof got), 0) << got;
}

TEST(JaroWinklerTest, Errors) {
  const double bad[] = {0.26, -0.01, kNaN, kInf, -kInf, 0.25000000000000006, -5e-324, 1e300};
  for (const double p : bad) {
    for (const auto& [a, b, max_len] :
         {std::tuple<const char*, const char*, std::optional<std::size_t>>{"MARTHA", "MARHTA",
                                                                           nullopt},
          {"", "", nullopt},
          {"abcd", "ab", 3},
          {"", "", 0}}) {
      const auto got = jaro_winkler(a, b, p, max_len);
      ASSERT_FALSE(got.ok()) << p;
      ASSERT_NE(got.error().invalid_prefix_scale(), nullptr);
      expect_bits(got.error().invalid_prefix_scale()->value, p);
    }
  }
  EXPECT_EQ(jaro_winkler("", "", 0.3).error().debug_text(), "InvalidPrefixScale { value: 0.3 }");
  for (const double p : {0.0, -0.0, 0.25, 5e-324, 0.125})
    EXPECT_TRUE(jaro_winkler("ab", "ab", p).ok()) << p;

  const struct {
    const char* a;
    const char* b;
    std::size_t max_len;
    bool ci;
    const char* which;
    std::size_t len;
  } too_long[] = {
      {"abcd", "ab", 3, false, "str_1", 4},    {"abc", "abcd", 3, false, "str_2", 4},
      {"abcd", "abcde", 3, false, "str_1", 4}, {"a", "", 0, false, "str_1", 1},
      {"İ", "i", 1, true, "str_1", 2},         {"i", "İ", 1, true, "str_2", 2},
      {"日本語", "x", 2, false, "str_1", 3},
  };
  for (const auto& c : too_long) {
    const auto got = jaro_winkler(c.a, c.b, nullopt, c.max_len, c.ci);
    ASSERT_FALSE(got.ok()) << c.a;
    const InputTooLong* e = got.error().input_too_long();
    ASSERT_NE(e, nullptr);
    EXPECT_STREQ(e->which, c.which);
    EXPECT_EQ(e->len, c.len);
    EXPECT_EQ(e->limit, c.max_len);
  }
  EXPECT_EQ(Exact{jaro_winkler("", "", nullopt, 0).value()}, Exact{1.0});
  EXPECT_EQ(Exact{jaro_winkler("abc", "abd", nullopt, 3).value()}, Exact{0.8222222222222222});
  EXPECT_EQ(Exact{jaro_winkler("İ", "i", nullopt, 1).value()},
            Exact{0.0});  // one code point each, nothing shared
}

// Checks `jaro_winkler` against the definition for one pair, all options.
void check_pair(const std::string& a, const std::string& b, bool foldable) {
  SCOPED_TRACE(a + " / " + b);
  for (const double p : {0.0, 0.1, 0.25}) {
    const double want = ref::jaro_winkler(a, b, p);
    ASSERT_EQ(Exact{jaro_winkler(a, b, p).value()}, Exact{want}) << "p " << p;
    ASSERT_EQ(
        Exact{jaro_winkler(a, b, p, std::max(ref::decode(a).size(), ref::decode(b).size()), false)
                  .value()},
        Exact{want});
    if (foldable) {
      ASSERT_EQ(Exact{jaro_winkler(a, b, p, nullopt, true).value()},
                Exact{ref::jaro_winkler(ref::simple_lower(a), ref::simple_lower(b), p)});
    }
  }
  const double want = ref::jaro_winkler(a, b, 0.1);
  ASSERT_EQ(Exact{jaro_winkler(a, b, nullopt, nullopt, nullopt, want).value()}, Exact{want});
  ASSERT_EQ(
      Exact{jaro_winkler(a, b, nullopt, nullopt, nullopt, std::nextafter(want, -1.0)).value()},
      Exact{want});
  ASSERT_EQ(Exact{jaro_winkler(a, b, nullopt, nullopt, nullopt, std::nextafter(want, 2.0)).value()},
            Exact{0.0});
}

// Every longer length from 1 to 70 (short byte path up to 16, mask byte path
// 17 to 64, code-point path beyond), shorter partners of several lengths.
void check_lengths(std::uint64_t seed, ref::Alphabet alphabet, bool foldable,
                   std::size_t max_length = 70) {
  ref::Random random(seed);
  for (std::size_t n = 1; n <= max_length; ++n) {
    const ref::Text s = random.text(n, alphabet);
    for (const std::size_t k : {n, n - 1, n / 2, std::size_t{1}, 1 + random.below(n)}) {
      const std::string a = ref::encode(s);
      const std::string b = ref::encode(random.text(k, alphabet));
      check_pair(a, b, foldable);
      check_pair(b, a, foldable);
      const ref::Text edited = random.edit(s, 1 + random.below(3), alphabet);
      if (edited.size() <= n) check_pair(a, ref::encode(edited), foldable);
    }
  }
}

TEST(JaroWinklerTest, AsciiPathsMatchDefinition) {
  check_lengths(301, ref::Alphabet::kAscii, false);
}
TEST(JaroWinklerTest, AsciiCaseInsensitiveMatchesDefinition) {
  check_lengths(302, ref::Alphabet::kAsciiCase, true);
}
TEST(JaroWinklerTest, Latin1MatchesDefinition) {
  check_lengths(303, ref::Alphabet::kLatin1, false);
}
TEST(JaroWinklerTest, BmpMatchesDefinition) { check_lengths(304, ref::Alphabet::kBmp, false); }
TEST(JaroWinklerTest, AstralMatchesDefinition) {
  check_lengths(305, ref::Alphabet::kAstral, false);
}
TEST(JaroWinklerTest, MixedWidthsMatchDefinition) {
  check_lengths(309, ref::Alphabet::kMixed, false);
}
TEST(JaroWinklerTest, FoldableCaseInsensitiveMatchesDefinition) {
  check_lengths(306, ref::Alphabet::kFoldable, true);
}
TEST(JaroWinklerTest, LongInputsMatchDefinition) {
  ref::Random random(307);
  for (const std::size_t n : {127, 128, 129, 200}) {
    for (const auto alphabet : {ref::Alphabet::kAscii, ref::Alphabet::kMixed}) {
      const ref::Text s = random.text(n, alphabet);
      check_pair(ref::encode(s), ref::encode(random.edit(s, 5, alphabet)), false);
      check_pair(ref::encode(s), ref::encode(random.text(n / 3, alphabet)), false);
    }
  }
}

// Strings beyond 64 characters find their matches in rows of position
// words: windows that start, end or turn inside a word, partners shifted so
// that matches sit on a window's edge, a partner too short for the windows of
// the later characters, and code points below 256, from 256 and above U+FFFF.
TEST(JaroWinklerTest, LongPathMatchesDefinitionAtWordBorders) {
  ref::Random random(308);
  struct Case {
    const char* what;
    std::size_t n1;
    std::size_t n2;
    ref::Alphabet alphabet;
  };
  const Case cases[] = {
      {"one past a word", 65, 65, ref::Alphabet::kAscii},
      {"pattern on a word border", 128, 129, ref::Alphabet::kAscii},
      {"three words", 191, 193, ref::Alphabet::kLatin1},
      {"longer second", 70, 300, ref::Alphabet::kBmp},
      {"much shorter second", 300, 20, ref::Alphabet::kAstral},
      {"short first", 5, 140, ref::Alphabet::kMixed},
      {"long mixed", 500, 480, ref::Alphabet::kMixed},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const ref::Text s = random.text(c.n1, c.alphabet);
    std::vector<ref::Text> partners = {random.text(c.n2, c.alphabet),
                                       random.edit(s, 1 + c.n1 / 10, c.alphabet)};
    // Shifted by the window's reach and one more, so that matches land on
    // the window's first and last positions and just outside them.
    const std::size_t d = std::max(c.n1, c.n2) / 2 - 1;
    for (const std::size_t shift : {d, d + 1}) {
      ref::Text shifted = random.text(shift, c.alphabet);
      shifted.insert(shifted.end(), s.begin(), s.end());
      shifted.resize(std::min(shifted.size(), c.n2 + shift));
      partners.push_back(shifted);
    }
    for (const ref::Text& t : partners) {
      check_pair(ref::encode(s), ref::encode(t), false);
      check_pair(ref::encode(t), ref::encode(s), false);
    }
  }
}

}  // namespace
}  // namespace quillmatch_core
