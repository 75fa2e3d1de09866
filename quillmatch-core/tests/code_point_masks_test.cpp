// The single-word code-point path of both distances keeps its map of code
// points from 256 in a hash table inside the masks object: patterns with up
// to 64 distinct code points met in any order, against the plain references.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "quillmatch_core/damerau_bp.h"
#include "quillmatch_core/levenshtein_bp.h"
#include "reference.h"

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

}  // namespace
}  // namespace quillmatch_core
