// The Jaro-Winkler batch's fast path against the pair function, bit for bit:
// random ASCII queries and candidates of 1 to 64 bytes, shuffled among
// candidates that leave the fast path, in lists that span several chunks, so
// that candidates are paired with others of the same and of other lengths.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "quillmatch_core/jaro_winkler.h"
#include "quillmatch_core/jaro_winkler_batch.h"
#include "reference.h"

namespace quillmatch_core {
namespace {

using ref::Exact;
using std::nullopt;

// Every candidate length from 1 to 64, a few times over; candidates of 65
// to 200 bytes, random and with a near copy of the query at either end,
// across the lengths where the match distance reaches 63 and 64; and
// candidates the fast paths leave to the pair function (empty, not ASCII).
std::vector<std::string> mixed_candidates(ref::Random& random, const std::string& query,
                                          ref::Alphabet alphabet) {
  std::vector<std::string> out;
  for (int round = 0; round < 36; ++round) {
    for (std::size_t n = 1; n <= 64; ++n) out.push_back(random.string(n, alphabet));
  }
  // Near copies of the query give high scores, prefixes and transpositions.
  for (int k = 0; k < 64; ++k) {
    out.push_back(ref::encode(random.edit(ref::decode(query), 1 + random.below(3), alphabet)));
  }
  for (const std::size_t n : {65, 100, 127, 128, 129, 130, 200}) {
    const std::string near =
        ref::encode(random.edit(ref::decode(query), random.below(3), alphabet));
    out.push_back(random.string(n, alphabet));
    out.push_back(near + random.string(n, alphabet));
    out.push_back(random.string(n, alphabet) + near);
  }
  for (const std::string& slow :
       {std::string(), std::string(65, 'a'), std::string("ab\xc3\xa9"), random.string(70, alphabet),
        std::string("\xf0\x9f\x98\x80"), query + "\xc4\xb0"}) {
    out.push_back(slow);
  }
  for (std::size_t i = out.size(); i > 1; --i) std::swap(out[i - 1], out[random.below(i)]);
  return out;
}

TEST(JaroWinklerBatchFastTest, EqualsThePairFunction) {
  struct Shape {
    std::size_t query_length;
    ref::Alphabet alphabet;
  };
  const Shape shapes[] = {
      {1, ref::Alphabet::kAscii},      {2, ref::Alphabet::kAscii},
      {3, ref::Alphabet::kAsciiCase},  {4, ref::Alphabet::kAscii},
      {5, ref::Alphabet::kAsciiCase},  {15, ref::Alphabet::kAscii},
      {16, ref::Alphabet::kAsciiCase}, {17, ref::Alphabet::kAscii},
      {31, ref::Alphabet::kAsciiCase}, {32, ref::Alphabet::kAscii},
      {33, ref::Alphabet::kAsciiCase}, {63, ref::Alphabet::kAscii},
      {63, ref::Alphabet::kAsciiCase}, {64, ref::Alphabet::kAscii},
      {64, ref::Alphabet::kAsciiCase}, {1, ref::Alphabet::kLatin1},
      {9, ref::Alphabet::kLatin1},     {33, ref::Alphabet::kLatin1},
      {64, ref::Alphabet::kLatin1},    {65, ref::Alphabet::kLatin1},
      {8, ref::Alphabet::kFoldable},   {3, ref::Alphabet::kBmp},
      {33, ref::Alphabet::kMixed},     {64, ref::Alphabet::kAstral},
  };
  ref::Random random(9001);
  for (const Shape& shape : shapes) {
    const std::string query = random.string(shape.query_length, shape.alphabet);
    const std::vector<std::string> candidates = mixed_candidates(random, query, shape.alphabet);
    const std::vector<std::string_view> views(candidates.begin(), candidates.end());
    for (const bool ci : {false, true}) {
      for (const std::optional<double> p : {std::optional<double>{}, std::optional<double>{0.25}}) {
        SCOPED_TRACE(query + (ci ? " (ci)" : ""));
        const auto batch = jaro_winkler_batch(query, views, p, ci);
        const auto matcher = JaroWinklerBatch::create(query, p, ci);
        ASSERT_TRUE(batch.ok());
        ASSERT_TRUE(matcher.ok());
        ASSERT_EQ(batch.value().size(), candidates.size());
        for (std::size_t i = 0; i < candidates.size(); ++i) {
          SCOPED_TRACE(candidates[i]);
          const double want = jaro_winkler(query, candidates[i], p, nullopt, ci).value();
          ASSERT_EQ(Exact{batch.value()[i]}, Exact{want});
          ASSERT_EQ(Exact{matcher.value().similarity(candidates[i])}, Exact{want});
          if (!ci) {
            ASSERT_EQ(Exact{want}, Exact{ref::jaro_winkler(query, candidates[i], p.value_or(0.1))});
          }
        }
      }
    }
  }
}

// Every pair of characters below 256, each after a shared letter, folded or
// not: the lanes' Latin-1 lower-casing against the pair function's.
TEST(JaroWinklerBatchFastTest, EveryLatin1Pair) {
  std::vector<std::string> candidates;
  for (char32_t c = 1; c < 256; ++c) candidates.push_back(ref::encode({'a', c}));
  const std::vector<std::string_view> views(candidates.begin(), candidates.end());
  for (const std::string& query : candidates) {
    for (const bool ci : {false, true}) {
      const auto batch = jaro_winkler_batch(query, views, nullopt, ci);
      ASSERT_TRUE(batch.ok());
      for (std::size_t i = 0; i < candidates.size(); ++i) {
        ASSERT_EQ(Exact{batch.value()[i]},
                  Exact{jaro_winkler(query, candidates[i], nullopt, nullopt, ci).value()})
            << query << " " << candidates[i] << (ci ? " (ci)" : "");
      }
    }
  }
}

// Lists of every size around a pair and around a chunk of 2048, so that the
// last fast candidate may be left without a partner, and slow candidates at
// either end of a chunk.
TEST(JaroWinklerBatchFastTest, ListSizesAndOddCandidates) {
  ref::Random random(77);
  const std::string query = "MartHa";
  for (const std::size_t size : {0, 1, 2, 3, 2047, 2048, 2049, 4097}) {
    std::vector<std::string> candidates;
    for (std::size_t i = 0; i < size; ++i) {
      candidates.push_back(i % 97 == 5
                               ? std::string("Mart\xc3\xa9ha")
                               : random.string(1 + random.below(20), ref::Alphabet::kAsciiCase));
    }
    if (size > 0) candidates.back() = "";
    const std::vector<std::string_view> views(candidates.begin(), candidates.end());
    for (const bool ci : {false, true}) {
      SCOPED_TRACE(std::to_string(size) + (ci ? " (ci)" : ""));
      const auto batch = jaro_winkler_batch(query, views, nullopt, ci);
      ASSERT_TRUE(batch.ok());
      ASSERT_EQ(batch.value().size(), size);
      for (std::size_t i = 0; i < size; ++i) {
        ASSERT_EQ(Exact{batch.value()[i]},
                  Exact{jaro_winkler(query, candidates[i], nullopt, nullopt, ci).value()})
            << candidates[i];
      }
    }
  }
}

// Values worked out by hand. The transpositions are counted match by match
// when a pair of candidates has few matches against its length, and position
// by position otherwise; both ways appear here.
TEST(JaroWinklerBatchFastTest, Cases) {
  struct Case {
    std::string query;
    std::vector<std::string> candidates;
    std::vector<double> want;
  };
  const Case cases[] = {
      {"listen", {"silent", "abcxyz"}, {0.8888888888888888, 0.0}},
      {"abcxyz", {"bcaxyz", "xabcde"}, {0.9444444444444445, 0.6666666666666666}},
      {"xabcde", {"xbcade", "MARTHA"}, {0.9500000000000001, 0.0}},
      {"MARTHA",
       {"MARHTA", "martha", "MARTHA", "AHTRAM"},
       {0.9611111111111111, 0.0, 1.0, 0.6944444444444443}},
      {"b", {"xxxxbxxxxxxxxxxx", "bxxxxxxxxxxxxxxx"}, {0.6875, 0.6875}},
      {"ba", {"abxxxxxxxxxxxxxxxx", "baxxxxxxxxxxxxxxxx"}, {0.5370370370370371, 0.762962962962963}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.query);
    const std::vector<std::string_view> views(c.candidates.begin(), c.candidates.end());
    const auto got = jaro_winkler_batch(c.query, views);
    ASSERT_TRUE(got.ok());
    EXPECT_EQ(ref::exact(got.value()), ref::exact(c.want));
  }
}

}  // namespace
}  // namespace quillmatch_core
