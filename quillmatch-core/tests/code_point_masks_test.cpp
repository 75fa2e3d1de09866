// The single-word code-point path of both distances keeps its map of code
// points from 256 in a hash table inside the masks object: patterns with up
// to 64 distinct code points met in any order, against the plain references.
// Malformed UTF-8, which the key scans of the distances and of Jaro-Winkler
// hand back to the decoder, reads as the code points that the decoder gives.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "quillmatch_core/damerau_bp.h"
#include "quillmatch_core/jaro_winkler.h"
#include "quillmatch_core/levenshtein_bp.h"
#include "reference.h"
#include "utf8.h"

namespace quillmatch_core {
namespace {

// `count` distinct code points drawn from `pool`, in random order.
ref::Text distinct(std::mt19937_64& rng, std::vector<char32_t> pool, std::size_t count) {
  std::shuffle(pool.begin(), pool.end(), rng);
  pool.resize(count);
  return pool;
}

std::vector<char32_t> range(char32_t first, char32_t last) {
  std::vector<char32_t> out;
  for (char32_t c = first; c <= last; ++c) out.push_back(c);
  return out;
}

TEST(CodePointMasksTest, ManyDistinctCodePointsInAnyOrder) {
  std::mt19937_64 rng(20261210);
  struct Case {
    const char* what;
    std::vector<char32_t> pool;
    std::size_t pattern_length;
  };
  std::vector<char32_t> borders = {0xFE, 0xFF, 0x100, 0x101, 0xFFFE, 0xFFFF, 0x10000, 0x10001};
  std::vector<char32_t> mixed = range(0x370, 0x3FF);
  for (char32_t c : range(0x1F600, 0x1F640)) mixed.push_back(c);
  for (char32_t c : range('a', 'z')) mixed.push_back(c);
  const std::vector<Case> cases = {
      {"64 distinct from 256 up: the map full", range(0x4E00, 0x4EFF), 64},
      {"63 distinct", range(0x4E00, 0x4EFF), 63},
      {"64 distinct of two bytes from 256: the fewest bytes for a full map", range(0x100, 0x7FF),
       64},
      {"one map entry", {0x65E5}, 1},
      {"both sides of 256 and of U+FFFF", borders, 8},
      {"table, map and astral mixed", mixed, 64},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    for (int round = 0; round < 20; ++round) {
      ref::Text pattern = distinct(rng, c.pool, c.pattern_length);
      // Repeats make one map entry carry several bits.
      if (round % 2 == 1) {
        for (std::size_t i = 0; i + 1 < pattern.size(); i += 3) pattern[i + 1] = pattern[i];
      }
      ref::Text text = pattern;
      std::shuffle(text.begin(), text.end(), rng);
      text.resize(1 + static_cast<std::size_t>(rng() % text.size()));
      text.push_back(0x10FFFF);  // in no pattern: the zero mask
      const std::string a = ref::encode(pattern);
      const std::string b = ref::encode(text);
      EXPECT_EQ(levenshtein_bp(a, b).value(), ref::levenshtein(a, b));
      EXPECT_EQ(damerau_bp(a, b).value(), ref::osa(a, b));
      EXPECT_EQ(levenshtein_bp(a, a).value(), 0u);
    }
  }
}

TEST(CodePointMasksTest, MalformedUtf8ReadsAsTheDecoderDoes) {
  // Longer forms of NUL, U+007F, U+07FF and U+FFFF beside their shortest
  // forms, a lead byte 0xF8 that the decoder reads as NUL, stray and missing
  // continuation bytes, a byte that starts nothing, and a surrogate.
  const std::vector<std::string> pieces = {std::string(1, '\0'),
                                           "\x7F",
                                           "a",
                                           "\xDF\xBF",
                                           "\xEF\xBF\xBF",
                                           "\xF0\x9F\x98\x80",
                                           std::string("\xC0\x80", 2),
                                           "\xC1\xBF",
                                           "\xE0\x9F\xBF",
                                           "\xF0\x8F\xBF\xBF",
                                           std::string("\xE0\x80\x80", 3),
                                           std::string("\xF8\x80\x80\x80", 4),
                                           "\x80",
                                           "\xBF\xBF",
                                           "\xC3",
                                           "\xE6\x97",
                                           "\xF0\x9F\x98",
                                           "\xFF",
                                           "\xED\xA0\x80"};
  ref::Random random(20261211);
  std::vector<char32_t> a_points;
  std::vector<char32_t> b_points;
  for (int round = 0; round < 300; ++round) {
    std::string a;
    std::string b;
    const std::size_t pieces_a = 1 + random.below(round % 3 == 0 ? 70 : 20);
    for (std::size_t k = 0; k < pieces_a; ++k) a += pieces[random.below(pieces.size())];
    for (std::size_t k = 0; k < 1 + random.below(20); ++k) {
      b += pieces[random.below(pieces.size())];
    }
    // Shared starts and ends, which may cut a sequence anywhere.
    if (round % 2 == 1) b = a.substr(0, a.size() / 2) + b;
    if (round % 3 == 1) b += a.substr(a.size() - a.size() / 3);
    SCOPED_TRACE(::testing::PrintToString(a) + " / " + ::testing::PrintToString(b));
    detail::decode_all(a, detail::count_chars(a), a_points);
    detail::decode_all(b, detail::count_chars(b), b_points);
    EXPECT_EQ(levenshtein_bp(a, b).value(), ref::levenshtein(a_points, b_points));
    EXPECT_EQ(damerau_bp(a, b).value(), ref::osa(a_points, b_points));
    EXPECT_EQ(ref::Exact{jaro_winkler(a, b).value()},
              ref::Exact{ref::jaro_winkler(a_points, b_points, 0.1)});
  }
}

}  // namespace
}  // namespace quillmatch_core
