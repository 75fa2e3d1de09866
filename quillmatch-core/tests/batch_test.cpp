// The three batch matchers: fixed cases, then every result against the pair
// function on random queries and candidate lists.
#include <cmath>
#include <cstddef>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "quillmatch_core/damerau_batch.h"
#include "quillmatch_core/damerau_bp.h"
#include "quillmatch_core/jaro_winkler.h"
#include "quillmatch_core/jaro_winkler_batch.h"
#include "quillmatch_core/levenshtein_batch.h"
#include "quillmatch_core/levenshtein_bp.h"
#include "reference.h"

namespace quillmatch_core {
namespace {

using ref::Exact;
using std::nullopt;
using Sizes = std::vector<std::size_t>;
using Doubles = std::vector<double>;

std::vector<std::string_view> views(const std::vector<std::string>& strings) {
  return {strings.begin(), strings.end()};
}

struct DistanceCase {
  std::string query;
  std::optional<bool> ci;
  std::vector<std::string> candidates;
  Sizes levenshtein;
  Sizes damerau;
};

TEST(DistanceBatchTest, Cases) {
  const std::string q64(64, 'q'), q65(65, 'q');
  const DistanceCase cases[] = {
      {"abc", nullopt, {}, {}, {}},
      {"", nullopt, {}, {}, {}},
      {"", nullopt, {"", "abc", "日本"}, {0, 3, 2}, {0, 3, 2}},
      {"", true, {"İ", "İİ", "ABC"}, {1, 2, 3}, {1, 2, 3}},
      {"abc", nullopt, {""}, {3}, {3}},
      {"abc", true, {""}, {3}, {3}},
      {"ab", nullopt, {"ba", "ab", "b", "CA"}, {2, 0, 1, 2}, {1, 0, 1, 2}},
      {"a", nullopt, {"abca", "abcabcaca"}, {3, 8}, {3, 8}},
      {"Ab", true, {"ba", "BA", "ab", "AB"}, {2, 2, 0, 0}, {1, 1, 0, 0}},
      {"Ab", false, {"ba", "BA", "ab", "AB"}, {2, 2, 1, 1}, {2, 2, 1, 1}},
      {"Ab", nullopt, {"ba", "BA", "ab", "AB"}, {2, 2, 1, 1}, {2, 2, 1, 1}},
      {"[", true, {"{", "["}, {1, 0}, {1, 0}},
      {"@`", true, {"`@", "@`"}, {2, 0}, {1, 0}},
      {"CA", nullopt, {"ABC"}, {3}, {3}},
      {"abc", nullopt, {"abç", "ab"}, {1, 1}, {1, 1}},
      {"abc", true, {"ABÇ", "ABC"}, {1, 0}, {1, 0}},
      {"İ", true, {"i", "İ", ""}, {1, 0, 2}, {1, 0, 2}},
      {"日本", nullopt, {"本日", "日本", "x"}, {2, 0, 2}, {1, 0, 2}},
      {"abc", nullopt, {std::string(200, 'x')}, {200}, {200}},
      {q64, nullopt, {q65, q64, "q", ""}, {1, 0, 63, 64}, {1, 0, 63, 64}},
      {q65, nullopt, {q64, q65, "q", ""}, {1, 0, 64, 65}, {1, 0, 64, 65}},
  };
  for (const DistanceCase& c : cases) {
    SCOPED_TRACE(c.query);
    const auto candidates = views(c.candidates);
    EXPECT_EQ(levenshtein_batch(c.query, candidates, c.ci), c.levenshtein);
    EXPECT_EQ(damerau_batch(c.query, candidates, c.ci), c.damerau);
  }
}

TEST(JaroWinklerBatchTest, Cases) {
  const struct {
    std::string query;
    std::optional<double> p;
    std::optional<bool> ci;
    std::vector<std::string> candidates;
    Doubles want;
  } cases[] = {
      // One case per line; clang-format would give each field of the long ones a line.
      // clang-format off
      {"MARTHA", nullopt, nullopt, {"MARHTA", "martha", "", "MARTHA"}, {0.9611111111111111, 0.0, 0.0, 1.0}},
      {"MARTHA", nullopt, true, {"MARHTA", "martha", "", "MARTHA"}, {0.9611111111111111, 1.0, 0.0, 1.0}},
      {"", nullopt, nullopt, {"", "a"}, {1.0, 0.0}},
      {"", nullopt, true, {"", "İ"}, {1.0, 0.0}},
      {"abc", nullopt, nullopt, {}, {}},
      {"listen", nullopt, nullopt, {"silent"}, {0.8888888888888888}},
      {"abcxyz", nullopt, nullopt, {"bcaxyz"}, {0.9444444444444445}},
      {"ABCDEFGHIJKLMNOPQ", nullopt, true, {"abcdefghijklmnopr"}, {0.9764705882352941}},
      {"İ", nullopt, true, {"i"}, {0.8500000000000001}},
      {"heart", nullopt, nullopt, {"earth"}, {0.8666666666666667}},
      {"MARTHA", 0.0, nullopt, {"MARHTA"}, {0.9444444444444445}},
      {"abcdx", 0.25, nullopt, {"abcdy"}, {1.0}},
      {"日本語", nullopt, nullopt, {"日本人", "日本語"}, {0.8222222222222222, 1.0}},
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.query);
    const auto got = jaro_winkler_batch(c.query, views(c.candidates), c.p, c.ci);
    ASSERT_TRUE(got.ok());
    EXPECT_EQ(ref::exact(got.value()), ref::exact(c.want));
  }
  for (const double p : {0.3, -0.01, std::nan("")}) {
    const auto got = jaro_winkler_batch("abc", {}, p);
    ASSERT_FALSE(got.ok());
    ASSERT_NE(got.error().invalid_prefix_scale(), nullptr);
    const double value = got.error().invalid_prefix_scale()->value;
    EXPECT_EQ(std::memcmp(&value, &p, sizeof p), 0);
    EXPECT_FALSE(JaroWinklerBatch::create("abc", p, nullopt).ok());
  }
  EXPECT_EQ(jaro_winkler_batch("", {}, 0.3).error().debug_text(),
            "InvalidPrefixScale { value: 0.3 }");
  EXPECT_TRUE(JaroWinklerBatch::create("abc", -0.0, true).ok());
  EXPECT_TRUE(JaroWinklerBatch::create("abc", 0.25, true).ok());
}

// Random candidates of every kind: ASCII of both cases up to and beyond 64
// bytes, non-ASCII, empty, edited copies of the query.
std::vector<std::string> candidates_for(ref::Random& random, const ref::Text& query) {
  // U+212A lower-cases to ASCII 'k'; U+0130 to two code points.
  std::vector<std::string> out{"",
                               "İ",
                               "ABC" + std::string("İ"),
                               "\u212A",
                               "BA\u212Ab",
                               std::string(63, 'A') + "İ",
                               std::string(64, 'b') + "\u212A",
                               std::string("a\0b", 3),
                               "A\u03A3",
                               "\u03A3A\u03A3",
                               "\u00C9t\u00C9"};
  for (const std::size_t n : {1, 2, 5, 16, 17, 40, 63, 64, 65, 70, 130}) {
    out.push_back(random.string(n, ref::Alphabet::kAsciiCase));
    out.push_back(random.string(n, ref::Alphabet::kAscii));
  }
  for (const std::size_t n : {1, 3, 17, 63, 64, 65, 127, 128, 129}) {
    out.push_back(random.string(n, ref::Alphabet::kLatin1));
    out.push_back(random.string(n, ref::Alphabet::kMixed));
    out.push_back(random.string(n, ref::Alphabet::kFoldable));
    out.push_back(random.string(n, ref::Alphabet::kLatin1Case));
  }
  // Code points that end the Latin-1 form among Latin-1 neighbours.
  for (const char* other : {"\u0130", "\u212A", "\u1E9E", "\u0178", "\u03a3", "\U0001F600"}) {
    out.push_back("\u00c9t\u00e9" + std::string(other) + "\u00df");
  }
  for (const auto alphabet :
       {ref::Alphabet::kAsciiCase, ref::Alphabet::kMixed, ref::Alphabet::kLatin1Case}) {
    for (int k = 0; k < 4; ++k)
      out.push_back(ref::encode(random.edit(query, 1 + random.below(4), alphabet)));
  }
  // Longer than 64 bytes and close to the query: the query and an edited copy
  // end to end, so that long candidates scanned two at a time differ little.
  for (int k = 0; k < 3; ++k) {
    out.push_back(ref::encode(query) +
                  ref::encode(random.edit(query, 1 + random.below(4), ref::Alphabet::kAsciiCase)));
  }
  std::string upper = ref::encode(query);
  for (char& c : upper) c = c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c;
  out.push_back(upper);
  out.push_back(ref::encode(query));
  return out;
}

TEST(BatchTest, EveryResultEqualsThePairFunction) {
  ref::Random random(401);
  std::vector<ref::Text> queries;
  for (const std::size_t n : {0, 1, 2, 16, 17, 63, 64, 65, 127, 128, 129}) {
    for (const auto alphabet :
         {ref::Alphabet::kAscii, ref::Alphabet::kAsciiCase, ref::Alphabet::kMixed,
          ref::Alphabet::kFoldable, ref::Alphabet::kLatin1, ref::Alphabet::kLatin1Case}) {
      queries.push_back(random.text(n, alphabet));
    }
  }
  // Queries whose lower-cased form is longer (64 -> 65 code points) or ASCII.
  queries.push_back(ref::decode(std::string(63, 'a') + "İ"));
  queries.push_back(ref::decode(std::string(62, 'B') + "İ"));
  queries.push_back(ref::decode("\u212Aa\u212A"));
  queries.push_back(ref::decode("Jos\u00e9phine \u1E9E\u0178"));  // Latin-1 once lower-cased
  queries.push_back(ref::decode("\u03A3A\u03A3"));
  queries.push_back(ref::decode(std::string("ab\0c", 4)));
  queries.push_back(ref::decode("\u00C9t\u00E9"));
  for (const ref::Text& query_text : queries) {
    const std::size_t n = query_text.size();
    const std::string query = ref::encode(query_text);
    const std::vector<std::string> candidates = candidates_for(random, query_text);
    const auto candidate_views = views(candidates);
    for (const std::optional<bool> ci :
         {std::optional<bool>{}, std::optional<bool>{false}, std::optional<bool>{true}}) {
      SCOPED_TRACE(query + (ci.value_or(false) ? " (ci)" : ""));
      const Sizes lev = levenshtein_batch(query, candidate_views, ci);
      const Sizes dam = damerau_batch(query, candidate_views, ci);
      const LevenshteinBatch lev_matcher(query, ci);
      const DamerauBatch dam_matcher(query, ci);
      ASSERT_EQ(lev.size(), candidates.size());
      ASSERT_EQ(dam.size(), candidates.size());
      for (std::size_t i = 0; i < candidates.size(); ++i) {
        const std::string& c = candidates[i];
        SCOPED_TRACE(c);
        const std::size_t want_lev =
            n == 0 ? ref::decode(c).size() : levenshtein_bp(query, c, nullopt, ci).value();
        const std::size_t want_dam =
            n == 0 ? ref::decode(c).size() : damerau_bp(query, c, nullopt, ci).value();
        EXPECT_EQ(lev[i], want_lev);
        EXPECT_EQ(dam[i], want_dam);
        EXPECT_EQ(lev_matcher.distance(c), want_lev);
        EXPECT_EQ(dam_matcher.distance(c), want_dam);
        if (!ci.value_or(false)) {
          EXPECT_EQ(lev[i], ref::levenshtein(query, c));
          EXPECT_EQ(dam[i], ref::osa(query, c));
        }
      }
      for (const std::optional<double> p :
           {std::optional<double>{}, std::optional<double>{0.0}, std::optional<double>{0.25}}) {
        const auto jw = jaro_winkler_batch(query, candidate_views, p, ci);
        const auto matcher = JaroWinklerBatch::create(query, p, ci);
        ASSERT_TRUE(jw.ok());
        ASSERT_TRUE(matcher.ok());
        ASSERT_EQ(jw.value().size(), candidates.size());
        for (std::size_t i = 0; i < candidates.size(); ++i) {
          SCOPED_TRACE(candidates[i]);
          const double want = jaro_winkler(query, candidates[i], p, nullopt, ci).value();
          EXPECT_EQ(Exact{jw.value()[i]}, Exact{want});
          EXPECT_EQ(Exact{matcher.value().similarity(candidates[i])}, Exact{want});
        }
      }
    }
  }
}

}  // namespace
}  // namespace quillmatch_core
