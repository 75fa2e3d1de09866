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

namespace quillmatch_core::detail {

struct DamerauScan {
  // One word: patterns of 1 to 64 characters.
  class Word {
   public:
    explicit Word(std::size_t m) : last_(std::uint64_t{1} << (m - 1)), score_(m) {}
    Word(std::uint64_t last_bit, std::size_t m) : last_(last_bit), score_(m) {}

    void step(std::uint64_t PM) {
      const std::uint64_t TR = ((~D0_prev_ & PM) << 1) & PM_prev_;
      const std::uint64_t D0 = (((PM & VP_) + VP_) ^ VP_) | PM | VN_ | TR;
      const std::uint64_t HP = VN_ | ~(D0 | VP_);
      const std::uint64_t HN = VP_ & D0;
      score_ += (HP & last_) != 0;
      score_ -= (HN & last_) != 0;
      const std::uint64_t HPs = (HP << 1) | 1;
      const std::uint64_t HNs = HN << 1;
      VP_ = HNs | ~(HPs | D0);
      VN_ = HPs & D0;
      D0_prev_ = D0;
      PM_prev_ = PM;
    }
    std::size_t score() const { return score_; }

   private:
    std::uint64_t VP_ = ~std::uint64_t{0};
    std::uint64_t VN_ = 0;
    std::uint64_t D0_prev_ = 0;
    std::uint64_t PM_prev_ = 0;
    std::uint64_t last_;
    std::size_t score_;
  };

  // Blocks of 64 positions. As in the Levenshtein block scan, every phase
  // reads only word k and carries out of word k-1, so one fused pass serves.
  // D0_prev is overwritten word by word once read; the previous character's
  // row is immutable table storage, so a pointer to it stands for a copy.
  class Blocks {
   public:
    Blocks(std::size_t m, std::size_t blocks)
        : VP_(blocks, ~std::uint64_t{0}), VN_(blocks, 0), D0_prev_(blocks, 0),
          zero_(blocks, 0), PM_prev_(zero_.data()),
          last_(std::uint64_t{1} << ((m - 1) % 64)), score_(m) {}

    void step(const std::uint64_t* PM) {
      const std::size_t blocks = VP_.size();
      std::uint64_t add_carry = 0;
      std::uint64_t tr_carry = 0;
      std::uint64_t hp_carry = 1;  // HPs receives 1 at position 0
      std::uint64_t hn_carry = 0;
      std::uint64_t HP = 0;
      std::uint64_t HN = 0;
      for (std::size_t k = 0; k < blocks; ++k) {
        const std::uint64_t VP = VP_[k];
        const std::uint64_t VN = VN_[k];
        const std::uint64_t fresh = ~D0_prev_[k] & PM[k];
        const std::uint64_t TR = ((fresh << 1) | tr_carry) & PM_prev_[k];
        tr_carry = fresh >> 63;
        const std::uint64_t X = PM[k] & VP;
        const std::uint64_t partial = X + VP;
        const std::uint64_t sum = partial + add_carry;
        add_carry = (partial < X) | (sum < partial);
        const std::uint64_t D0 = (sum ^ VP) | PM[k] | VN | TR;
        HP = VN | ~(D0 | VP);
        HN = VP & D0;
        const std::uint64_t HPs = (HP << 1) | hp_carry;
        const std::uint64_t HNs = (HN << 1) | hn_carry;
        hp_carry = HP >> 63;
        hn_carry = HN >> 63;
        VP_[k] = HNs | ~(HPs | D0);
        VN_[k] = HPs & D0;
        D0_prev_[k] = D0;
      }
      score_ += (HP & last_) != 0;
      score_ -= (HN & last_) != 0;
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
