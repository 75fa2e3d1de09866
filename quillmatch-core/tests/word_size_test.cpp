// What depends on the machine word: the size checks of the block tables,
// which fault with "capacity overflow" far sooner on a 32-bit target, and the
// largest option values. Results themselves never depend on it: the other
// suites run unchanged on 32-bit and 64-bit builds.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "damerau_scan.h"
#include "diagonal_blocks.h"
#include "levenshtein_scan.h"
#include "pattern_masks.h"
#include "quillmatch_core/damerau_batch.h"
#include "quillmatch_core/damerau_bp.h"
#include "quillmatch_core/jaro_winkler.h"
#include "quillmatch_core/levenshtein_batch.h"
#include "quillmatch_core/levenshtein_bp.h"
#include "reference.h"

namespace quillmatch_core {
namespace {

using detail::BlockMasks;
using std::nullopt;

constexpr bool k32Bit = sizeof(std::size_t) == 4;
constexpr std::size_t kMax = SIZE_MAX;

template <typename Call>
void expect_capacity_overflow(Call call, const std::string& what) {
  try {
    call();
    ADD_FAILURE() << what << ": no fault";
  } catch (const InternalFault& fault) {
    EXPECT_STREQ(fault.what(), "capacity overflow") << what;
  }
}

TEST(WordSizeTest, BlockCountAndItsLimit) {
  struct Case {
    std::size_t m;
    std::size_t blocks;
    bool faults_on_32_bit;
  };
  const Case cases[] = {
      {64, 1, false},
      {65, 2, false},
      {127, 2, false},
      {128, 2, false},
      {129, 3, false},
      // 2048 * B bytes of table: 2^31 - 2048 still fits a 32-bit allocation,
      // 2^31 does not.
      {67108800, 1048575, false},
      {67108801, 1048576, true},
      {67108864, 1048576, true},
  };
  for (const Case& c : cases) {
    const std::string what = "m=" + std::to_string(c.m);
    if (k32Bit && c.faults_on_32_bit) {
      expect_capacity_overflow([&] { (void)BlockMasks::block_count(c.m); }, what);
    } else {
      EXPECT_EQ(BlockMasks::block_count(c.m), c.blocks) << what;
    }
  }
  expect_capacity_overflow([] { (void)BlockMasks::block_count(kMax); }, "m=SIZE_MAX");
}

TEST(WordSizeTest, RowWordsFaultInsteadOfWrapping) {
  struct Case {
    std::size_t rows;
    std::size_t blocks;
    std::uint64_t words;  // the exact product, when it fits
    bool faults_on_32_bit;
  };
  // 32-bit targets allow 2^28 - 1 words (one allocation of at most 2^31 - 1
  // bytes); 64-bit targets 2^60 - 1.
  const Case cases[] = {
      {0, 3, 0, false},
      {256, 2, 512, false},
      {256, 1048575, 268435200, false},
      {256, 1048576, 268435456, true},
      {131071, 2048, 268433408, false},
      {131072, 2048, 268435456, true},
      {524288, 8192, std::uint64_t{1} << 32, true},  // wraps to 0 in 32 bits
      {65536, 65537, 4295032832, true},              // wraps to 65536 in 32 bits
  };
  for (const Case& c : cases) {
    const std::string what = std::to_string(c.rows) + " x " + std::to_string(c.blocks);
    if (k32Bit && c.faults_on_32_bit) {
      expect_capacity_overflow([&] { (void)BlockMasks::row_words(c.rows, c.blocks); }, what);
    } else {
      EXPECT_EQ(BlockMasks::row_words(c.rows, c.blocks), c.words) << what;
    }
  }
  expect_capacity_overflow([] { (void)BlockMasks::row_words(kMax, 2); }, "SIZE_MAX x 2");
  expect_capacity_overflow([] { (void)BlockMasks::row_words(2, kMax / 2 + 1); },
                           "2 x SIZE_MAX/2+1");
}

// Returns `count` distinct code points from U+0100 upwards, surrogates skipped.
std::string distinct_code_points(std::size_t count) {
  ref::Text text;
  for (char32_t c = 0x100; text.size() < count; ++c) {
    if (c < 0xD800 || c > 0xDFFF) text.push_back(c);
  }
  return ref::encode(text);
}

// A pattern of 2^17 distinct code points from U+0100 needs 2^17 map rows of
// 2^11 words (2 GiB); one of 2^19 needs 2^32 words, a count that wraps to 0
// in a 32-bit word: the row count must be checked before the mask building
// could write past its rows.
TEST(WordSizeTest, MapRowsBeyondOneAllocationFault) {
  if (!k32Bit) GTEST_SKIP() << "64-bit targets allocate these rows (2 GiB and 32 GiB)";
  for (const std::size_t count : {std::size_t{1} << 17, std::size_t{1} << 19}) {
    const std::string pattern = distinct_code_points(count);
    // Longer than one word, so that the text cannot serve as the pattern.
    const std::string text(65, 'x');
    const std::vector<std::string_view> candidates = {text};
    const std::string what = std::to_string(count) + " code points";
    expect_capacity_overflow([&] { (void)levenshtein_bp(pattern, text); },
                             "levenshtein_bp " + what);
    expect_capacity_overflow([&] { (void)damerau_bp(pattern, text); }, "damerau_bp " + what);
    expect_capacity_overflow([&] { (void)levenshtein_batch(pattern, candidates); },
                             "levenshtein_batch " + what);
    expect_capacity_overflow([&] { (void)damerau_batch(pattern, candidates); },
                             "damerau_batch " + what);
  }
}

TEST(WordSizeTest, LargestOptionValues) {
  struct Case {
    const char* a;
    const char* b;
    std::optional<std::size_t> max_len;
    std::optional<std::size_t> cutoff;
    std::size_t levenshtein;
    std::size_t damerau;
  };
  const Case cases[] = {
      {"", "abc", kMax, kMax, 3, 3},
      {"abc", "", kMax, kMax - 1, 3, 3},
      {"ab", "ba", kMax, kMax, 2, 1},
      {"sunday", "saturday", nullopt, kMax, 3, 3},
      {"sunday", "saturday", kMax, nullopt, 3, 3},
      {"sunday", "saturday", kMax, 2, 3, 3},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(levenshtein_bp(c.a, c.b, c.max_len, nullopt, c.cutoff).value(), c.levenshtein)
        << c.a << " / " << c.b;
    EXPECT_EQ(damerau_bp(c.a, c.b, c.max_len, nullopt, c.cutoff).value(), c.damerau)
        << c.a << " / " << c.b;
  }
  EXPECT_EQ(jaro_winkler("abc", "abd", nullopt, kMax).value(), jaro_winkler("abc", "abd").value());
  EXPECT_EQ(levenshtein_bp("abcd", "ab", kMax - 1).value(), 2U);
}

// Every diagonal kernel this CPU runs, whatever the dispatch picks, against
// the plain reference: the last block in each lane of a stripe, one stripe or
// several, texts shorter than a stripe has lanes or longer than a chunk,
// code points below and above 256 and above U+FFFF.
template <typename Scan>
void check_diagonal_kernels(std::size_t (*reference)(const ref::Text&, const ref::Text&)) {
  ref::Random random(Scan::kDamerau ? 32 : 31);
  for (const std::size_t lanes : {2, 4, 8}) {
    const detail::DiagonalKernel kernel = detail::diagonal_kernel_of<Scan>(lanes);
    if (kernel == nullptr) continue;
    for (const std::size_t m : {65, 127, 128, 129, 192, 257, 320, 448, 511, 512, 513, 1000}) {
      for (const auto alphabet : {ref::Alphabet::kAscii, ref::Alphabet::kMixed}) {
        const ref::Text pattern = random.text(m, alphabet);
        const BlockMasks masks(pattern, BlockMasks::block_count(m));
        for (const ref::Text& text :
             {random.text(1, alphabet), random.text(6, alphabet),
              random.edit(pattern, m / 8, alphabet), random.text(m + 70, alphabet),
              random.text(detail::kDiagonalChunk + 5, alphabet)}) {
          const std::string bytes = ref::encode(text);
          SCOPED_TRACE("lanes " + std::to_string(lanes) + ", " + ref::encode(pattern) + " / " +
                       bytes);
          EXPECT_EQ(kernel(masks, m, bytes, alphabet == ref::Alphabet::kAscii),
                    reference(pattern, text));
        }
      }
    }
  }
}

TEST(WordSizeTest, DiagonalKernelsMatchReference) {
  check_diagonal_kernels<detail::LevenshteinScan>(ref::levenshtein);
  check_diagonal_kernels<detail::DamerauScan>(ref::osa);
}

}  // namespace
}  // namespace quillmatch_core
