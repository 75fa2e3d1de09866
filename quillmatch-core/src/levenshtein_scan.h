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

namespace quillmatch_core::detail {

struct LevenshteinScan {
  // One word: patterns of 1 to 64 characters.
  class Word {
   public:
    explicit Word(std::size_t m) : last_(std::uint64_t{1} << (m - 1)), score_(m) {}
    Word(std::uint64_t last_bit, std::size_t m) : last_(last_bit), score_(m) {}

    void step(std::uint64_t PM) {
      const std::uint64_t D0 = (((PM & VP_) + VP_) ^ VP_) | PM | VN_;
      const std::uint64_t HP = VN_ | ~(D0 | VP_);
      const std::uint64_t HN = VP_ & D0;
      score_ += (HP & last_) != 0;
      score_ -= (HN & last_) != 0;
      const std::uint64_t HPs = (HP << 1) | 1;
      const std::uint64_t HNs = HN << 1;
      VP_ = HNs | ~(D0 | HPs);
      VN_ = HPs & D0;
    }
    std::size_t score() const { return score_; }

   private:
    std::uint64_t VP_ = ~std::uint64_t{0};
    std::uint64_t VN_ = 0;
    std::uint64_t last_;
    std::size_t score_;
  };

  // Blocks of 64 positions, carries passed from word k to word k+1. The
  // phases of one step (sum with its carry chain; D0, HP, HN; shifted HP and
  // HN; new VP and VN) only ever read word k and the carries out of word
  // k-1, so they run fused in one pass over the words.
  class Blocks {
   public:
    Blocks(std::size_t m, std::size_t blocks)
        : VP_(blocks, ~std::uint64_t{0}), VN_(blocks, 0),
          last_(std::uint64_t{1} << ((m - 1) % 64)), score_(m) {}

    void step(const std::uint64_t* PM) {
      const std::size_t blocks = VP_.size();
      std::uint64_t add_carry = 0;
      std::uint64_t hp_carry = 1;  // HPs receives 1 at position 0
      std::uint64_t hn_carry = 0;
      std::uint64_t HP = 0;
      std::uint64_t HN = 0;
      for (std::size_t k = 0; k < blocks; ++k) {
        const std::uint64_t VP = VP_[k];
        const std::uint64_t VN = VN_[k];
        const std::uint64_t X = PM[k] & VP;
        const std::uint64_t partial = X + VP;
        const std::uint64_t sum = partial + add_carry;
        add_carry = (partial < X) | (sum < partial);
        const std::uint64_t D0 = (sum ^ VP) | PM[k] | VN;
        HP = VN | ~(D0 | VP);
        HN = VP & D0;
        const std::uint64_t HPs = (HP << 1) | hp_carry;
        const std::uint64_t HNs = (HN << 1) | hn_carry;
        hp_carry = HP >> 63;
        hn_carry = HN >> 63;
        VP_[k] = HNs | ~(D0 | HPs);
        VN_[k] = HPs & D0;
      }
      // HP and HN of the last word carry the last pattern position.
      score_ += (HP & last_) != 0;
      score_ -= (HN & last_) != 0;
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
