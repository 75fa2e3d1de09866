// Word arithmetic of the bit-parallel scans: the 64-bit addition with carry
// in and carry out that the multi-word scans chain from word to word, and the
// distance read off a one-word scan's last column.
#ifndef QUILLMATCH_CORE_SRC_WORD_ADD_H_
#define QUILLMATCH_CORE_SRC_WORD_ADD_H_

#include <bit>  // std::popcount
#include <cstddef>
#include <cstdint>

#if defined(__x86_64__)
#include <immintrin.h>  // _addcarry_u64
#endif

namespace quillmatch_core::detail {

// Returns a + b + carry_in (carry_in 0 or 1) in `sum` and the carry out.
// On x86-64 this is one add-with-carry; elsewhere (32-bit x86 included) two
// checked additions.
[[gnu::always_inline]] inline unsigned char add_carry(std::uint64_t a, std::uint64_t b,
                                                      unsigned char carry_in, std::uint64_t& sum) {
#if defined(__x86_64__)
  unsigned long long out;
  const unsigned char carry_out = _addcarry_u64(carry_in, a, b, &out);
  sum = out;
  return carry_out;
#else
  std::uint64_t partial;
  const bool first = __builtin_add_overflow(a, b, &partial);
  const bool second = __builtin_add_overflow(partial, std::uint64_t{carry_in}, &sum);
  return static_cast<unsigned char>(first | second);
#endif
}

// Returns the number of set bits of `x`. Without the POPCNT instruction
// (the baseline x86 targets) `std::popcount` becomes a library call; this
// is the same sum of bit fields, inline.
inline std::size_t bit_count(std::uint64_t x) {
#if defined(__POPCNT__)
  return static_cast<std::size_t>(std::popcount(x));
#else
  x -= (x >> 1) & 0x5555555555555555u;
  x = (x & 0x3333333333333333u) + ((x >> 2) & 0x3333333333333333u);
  x = (x + (x >> 4)) & 0x0F0F0F0F0F0F0F0Fu;
  return static_cast<std::size_t>((x * 0x0101010101010101u) >> 56);
#endif
}

// Returns the distance of a pattern to a text of `steps` characters from the
// vertical deltas of the last column: D[0][n] is n, and each pattern
// position (a bit of `pattern_bits`) adds +1 where VP is set and -1 where VN
// is. Bits above the pattern carry nothing the pattern positions read, so
// they are masked off.
inline std::size_t final_column_score(std::uint64_t VP, std::uint64_t VN,
                                      std::uint64_t pattern_bits, std::size_t steps) {
  return steps + bit_count(VP & pattern_bits) - bit_count(VN & pattern_bits);
}

}  // namespace quillmatch_core::detail

#endif  // QUILLMATCH_CORE_SRC_WORD_ADD_H_
