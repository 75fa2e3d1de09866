// Hyyrö's bit-vector scan for the restricted Damerau (optimal string
// alignment) distance: Myers' Levenshtein scan with a transposition term TR
// that looks back on the previous text character's D0 and pattern mask.
//   H. Hyyrö, "A bit-vector algorithm for computing Levenshtein and Damerau
//   edit distances", Nordic J. Computing 10, 2003.
#ifndef QUILLMATCH_CORE_SRC_DAMERAU_SCAN_H_
#define QUILLMATCH_CORE_SRC_DAMERAU_SCAN_H_

#include <cstddef>
#include <cstdint>
#include <vector>

#include "word_add.h"

namespace quillmatch_core::detail {

struct DamerauScan {
  static constexpr bool kDamerau = true;

  // One word: patterns of 1 to 64 characters.
  class Word {
   public:
    // The score is read off the last column once the text is scanned (see
    // `final_column_score`), so a step keeps no running score.
    explicit Word(std::size_t m) : pattern_bits_(~std::uint64_t{0} >> (64 - m)) {}

    // The Levenshtein word scan's shortened chain (X = PM | VN in the sum, HP
    // from the sum, the new VP from ~HP), with TR joining D0 and ~HP.
    void step(std::uint64_t PM) {
      const std::uint64_t TR = ((~D0_prev_ & PM) << 1) & PM_prev_;
      const std::uint64_t X = PM | VN_;
      const std::uint64_t sum = (X & VP_) + VP_;
      const std::uint64_t D0 = (sum ^ VP_) | X | TR;
      const std::uint64_t not_HP = (sum | VP_ | X | TR) & ~VN_;
      const std::uint64_t HN = VP_ & D0;
      const std::uint64_t HPs = ~(not_HP << 1);
      const std::uint64_t HNs = HN << 1;
      VP_ = HNs | (~D0 & (not_HP << 1));
      VN_ = HPs & D0;
      ++steps_;
      D0_prev_ = D0;
      PM_prev_ = PM;
    }
    std::size_t score() const { return final_column_score(VP_, VN_, pattern_bits_, steps_); }

   private:
    std::uint64_t VP_ = ~std::uint64_t{0};
    std::uint64_t VN_ = 0;
    std::uint64_t D0_prev_ = 0;
    std::uint64_t PM_prev_ = 0;
    std::uint64_t pattern_bits_;  // the low m bits
    std::size_t steps_ = 0;
  };

  // Blocks of 64 positions. As in the Levenshtein block scan, every phase
  // reads only word k and carries out of word k-1, so one fused pass serves.
  // D0_prev is overwritten word by word once read; the previous character's
  // row is immutable table storage, so a pointer to it stands for a copy.
  class Blocks {
   public:
    Blocks(std::size_t m, std::size_t blocks)
        : VP_(blocks, ~std::uint64_t{0}),
          VN_(blocks, 0),
          D0_prev_(blocks, 0),
          zero_(blocks, 0),
          PM_prev_(zero_.data()),
          last_(std::uint64_t{1} << ((m - 1) % 64)),
          score_(m) {}

    void step(const std::uint64_t* __restrict PM) {
      std::uint64_t* __restrict VP = VP_.data();
      std::uint64_t* __restrict VN = VN_.data();
      std::uint64_t* __restrict D0_prev = D0_prev_.data();
      const std::uint64_t* __restrict PM_prev = PM_prev_;
      const std::size_t blocks = VP_.size();
      unsigned char add_carry_bit = 0;
      // The shifted vectors take their low bit from the previous word's top
      // bit, a double-word shift; HPs receives 1 at position 0.
      std::uint64_t fresh_prev = 0;
      std::uint64_t HP_prev = std::uint64_t{1} << 63;
      std::uint64_t HN_prev = 0;
      for (std::size_t k = 0; k < blocks; ++k) {
        const std::uint64_t pm = PM[k];
        const std::uint64_t vp = VP[k];
        const std::uint64_t vn = VN[k];
        const std::uint64_t fresh = ~D0_prev[k] & pm;
        const std::uint64_t TR = ((fresh << 1) | (fresh_prev >> 63)) & PM_prev[k];
        fresh_prev = fresh;
        std::uint64_t sum;
        add_carry_bit = add_carry(pm & vp, vp, add_carry_bit, sum);
        const std::uint64_t D0 = (sum ^ vp) | pm | vn | TR;
        const std::uint64_t HP = vn | ~(D0 | vp);
        const std::uint64_t HN = vp & D0;
        const std::uint64_t HPs = (HP << 1) | (HP_prev >> 63);
        const std::uint64_t HNs = (HN << 1) | (HN_prev >> 63);
        HP_prev = HP;
        HN_prev = HN;
        VP[k] = HNs | ~(HPs | D0);
        VN[k] = HPs & D0;
        D0_prev[k] = D0;
      }
      score_ += (HP_prev & last_) != 0;
      score_ -= (HN_prev & last_) != 0;
      PM_prev_ = PM;
    }
    std::size_t score() const { return score_; }

   private:
    std::vector<std::uint64_t> VP_;
    std::vector<std::uint64_t> VN_;
    std::vector<std::uint64_t> D0_prev_;
    std::vector<std::uint64_t> zero_;
    const std::uint64_t* PM_prev_;
    std::uint64_t last_;
    std::size_t score_;
  };
};

}  // namespace quillmatch_core::detail

#endif  // QUILLMATCH_CORE_SRC_DAMERAU_SCAN_H_
