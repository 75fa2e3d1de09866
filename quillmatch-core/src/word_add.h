// The 64-bit addition with carry in and carry out that the multi-word scans
// chain from word to word.
#ifndef QUILLMATCH_CORE_SRC_WORD_ADD_H_
#define QUILLMATCH_CORE_SRC_WORD_ADD_H_

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

}  // namespace quillmatch_core::detail

#endif  // QUILLMATCH_CORE_SRC_WORD_ADD_H_
