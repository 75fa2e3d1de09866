// Myers' bit-vector scan for the Levenshtein distance, in Hyyrö's
// formulation for the global distance:
//   G. Myers, "A fast bit-vector algorithm for approximate string matching
//   based on dynamic programming", J. ACM 46(3), 1999;
//   H. Hyyrö, "A bit-vector algorithm for computing Levenshtein and Damerau
//   edit distances", Nordic J. Computing 10, 2003.
// Bit i of the vertical deltas VP/VN describes pattern position i; each text
// character costs a handful of word operations per 64 pattern positions.
#ifndef QUILLMATCH_CORE_SRC_LEVENSHTEIN_SCAN_H_
#define QUILLMATCH_CORE_SRC_LEVENSHTEIN_SCAN_H_

#include <cstddef>
#include <cstdint>
#include <vector>

#include "word_add.h"

namespace quillmatch_core::detail {

struct LevenshteinScan {
  static constexpr bool kDamerau = false;

  // One word: patterns of 1 to 64 characters.
  class Word {
   public:
    // The score is read off the last column once the text is scanned (see
    // `final_column_score`), so a step keeps no running score.
    explicit Word(std::size_t m) : pattern_bits_(~std::uint64_t{0} >> (64 - m)) {}

    // VP and VN never share a bit, so PM & VP = X & VP for X = PM | VN, and
    // D0 | VP = sum | VP | X since (s ^ v) | v = s | v: HP waits for the sum,
    // not for D0. The new VP takes ~(D0 | HPs) as ~D0 & (~HP << 1), whose
    // low bit is clear as the 1 shifted into HPs asks.
    void step(std::uint64_t PM) {
      const std::uint64_t X = PM | VN_;
      const std::uint64_t sum = (X & VP_) + VP_;
      const std::uint64_t D0 = (sum ^ VP_) | X;
      const std::uint64_t not_HP = (sum | VP_ | X) & ~VN_;
      const std::uint64_t HN = VP_ & D0;
      const std::uint64_t HPs = ~(not_HP << 1);
      const std::uint64_t HNs = HN << 1;
      VP_ = HNs | (~D0 & (not_HP << 1));
      VN_ = HPs & D0;
      ++steps_;
    }
    std::size_t score() const { return final_column_score(VP_, VN_, pattern_bits_, steps_); }

   private:
    std::uint64_t VP_ = ~std::uint64_t{0};
    std::uint64_t VN_ = 0;
    std::uint64_t pattern_bits_;  // the low m bits
    std::size_t steps_ = 0;
  };

  // Blocks of 64 positions, carries passed from word k to word k+1. The
  // phases of one step (sum with its carry chain; D0, HP, HN; shifted HP and
  // HN; new VP and VN) only ever read word k and the carries out of word
  // k-1, so they run fused in one pass over the words. The shifted HP and HN
  // take their low bit from the previous word's top bit, a double-word shift.
  class Blocks {
   public:
    Blocks(std::size_t m, std::size_t blocks)
        : VP_(blocks, ~std::uint64_t{0}),
          VN_(blocks, 0),
          last_(std::uint64_t{1} << ((m - 1) % 64)),
          score_(m) {}

    void step(const std::uint64_t* __restrict PM) {
      std::uint64_t* __restrict VP = VP_.data();
      std::uint64_t* __restrict VN = VN_.data();
      const std::size_t blocks = VP_.size();
      unsigned char add_carry_bit = 0;
      std::uint64_t HP_prev = std::uint64_t{1} << 63;  // HPs receives 1 at position 0
      std::uint64_t HN_prev = 0;
      for (std::size_t k = 0; k < blocks; ++k) {
        const std::uint64_t pm = PM[k];
        const std::uint64_t vp = VP[k];
        const std::uint64_t vn = VN[k];
        std::uint64_t sum;
        add_carry_bit = add_carry(pm & vp, vp, add_carry_bit, sum);
        const std::uint64_t D0 = (sum ^ vp) | pm | vn;
        const std::uint64_t HP = vn | ~(D0 | vp);
        const std::uint64_t HN = vp & D0;
        const std::uint64_t HPs = (HP << 1) | (HP_prev >> 63);
        const std::uint64_t HNs = (HN << 1) | (HN_prev >> 63);
        HP_prev = HP;
        HN_prev = HN;
        VP[k] = HNs | ~(D0 | HPs);
        VN[k] = HPs & D0;
      }
      // HP and HN of the last word carry the last pattern position.
      score_ += (HP_prev & last_) != 0;
      score_ -= (HN_prev & last_) != 0;
    }
    std::size_t score() const { return score_; }

   private:
    std::vector<std::uint64_t> VP_;
    std::vector<std::uint64_t> VN_;
    std::uint64_t last_;
    std::size_t score_;
  };
};

}  // namespace quillmatch_core::detail

#endif  // QUILLMATCH_CORE_SRC_LEVENSHTEIN_SCAN_H_
