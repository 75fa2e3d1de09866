// Pattern masks from AVX2 compares, for the pair measures' one-word scans on
// processors that have AVX2: the mask of a text byte, or of a character's
// UTF-8 key, is the pattern, held in vectors, compared with it, so no table
// is cleared, filled or read. ASCII texts are read whole as vectors, but
// never from a page that holds none of their bytes.
#ifndef QUILLMATCH_CORE_SRC_VECTOR_MASKS_H_
#define QUILLMATCH_CORE_SRC_VECTOR_MASKS_H_

#if defined(__x86_64__) || defined(__i386__)

#include <immintrin.h>

#include <algorithm>  // std::min
#include <bit>        // std::countl_one, std::countr_one
#include <cstddef>
#include <cstdint>
#include <cstring>  // std::memcpy
#include <span>
#include <string_view>

#include "affixes.h"
#include "utf8.h"  // within_page, has_vector_scans

namespace quillmatch_core::detail {

// Returns a vector whose bytes k with first + k < n (n at most 64) are all
// ones, the others zero.
__attribute__((target("avx2"))) inline __m256i first_bytes(std::size_t n, int first = 0) {
  const __m256i positions =
      _mm256_add_epi8(_mm256_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17,
                                       18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31),
                      _mm256_set1_epi8(static_cast<char>(first)));
  return _mm256_cmpgt_epi8(_mm256_set1_epi8(static_cast<char>(n)), positions);
}

// Returns `v` with 'A' to 'Z' lower-cased.
__attribute__((target("avx2"))) inline __m256i lowercase_ascii_bytes(__m256i v) {
  const __m256i upper = _mm256_and_si256(_mm256_cmpgt_epi8(v, _mm256_set1_epi8('A' - 1)),
                                         _mm256_cmpgt_epi8(_mm256_set1_epi8('Z' + 1), v));
  return _mm256_or_si256(v, _mm256_and_si256(upper, _mm256_set1_epi8(0x20)));
}

// Returns the 1 to 16 bytes of `text` in the low half of a vector, lower-cased
// when `fold`, past the end zero or, when `pad`, 0x80 (which no ASCII byte
// equals), the high half a copy of the low. Reads the 16 bytes from the
// text's start where they lie within its page, else the 16 that end with the
// text, which lie within the pages of its start and end (a text of 16 bytes
// or fewer is copied out first where `kReadsPastEnd` is false).
__attribute__((target("avx2"))) inline __m256i short_ascii_bytes(std::string_view text, bool fold,
                                                                 bool pad) {
  const std::size_t n = text.size();
  const __m128i keep =
      _mm_cmpgt_epi8(_mm_set1_epi8(static_cast<char>(n)),
                     _mm_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15));
  __m128i bytes;
  if (within_page(text.data(), 16)) {
    bytes = _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data())), keep);
  } else if (kReadsPastEnd) {
    // Byte k moves from k + 16 - n of the read, for k below n: indices
    // 16 - n to 15, then indices with the top bit set, which give zero.
    const __m128i index = _mm_or_si128(
        _mm_add_epi8(_mm_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15),
                     _mm_set1_epi8(static_cast<char>(16 - n))),
        _mm_andnot_si128(keep, _mm_set1_epi8(static_cast<char>(0x80))));
    const auto* end = text.data() + n;
    bytes = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(end - 16)), index);
  } else {
    alignas(16) char copy[16] = {};
    std::memcpy(copy, text.data(), n);
    bytes = _mm_load_si128(reinterpret_cast<const __m128i*>(copy));
  }
  if (pad)
    bytes = _mm_or_si128(bytes, _mm_andnot_si128(keep, _mm_set1_epi8(static_cast<char>(0x80))));
  __m256i both = _mm256_broadcastsi128_si256(bytes);
  if (fold) both = lowercase_ascii_bytes(both);
  return both;
}

// Makes the bytes of `v` from position `n` 0x80, which no ASCII byte equals.
__attribute__((target("avx2"))) inline __m256i pad_after(__m256i v, std::size_t n, int first = 0) {
  return _mm256_or_si256(
      v, _mm256_andnot_si256(first_bytes(n, first), _mm256_set1_epi8(static_cast<char>(0x80))));
}

// Writes to `out[i]` the mask of text byte i against the pattern, for an
// ASCII pattern and text of 1 to 16 bytes each, read by `short_ascii_bytes`
// (the pattern padded): two positions per compare. The bytes are repeated in
// both halves, and step k broadcasts text byte 2k to the low half and byte
// 2k + 1 to the high.
__attribute__((target("avx2"))) inline void short_position_masks(__m256i p, __m256i t,
                                                                 std::uint16_t out[16]) {
  __m256i index = _mm256_setr_epi64x(0, 0, 0x0101010101010101, 0x0101010101010101);
  const __m256i two = _mm256_set1_epi8(2);
#pragma GCC unroll 8
  for (std::size_t k = 0; k < 8; ++k) {
    const auto both = static_cast<std::uint32_t>(
        _mm256_movemask_epi8(_mm256_cmpeq_epi8(p, _mm256_shuffle_epi8(t, index))));
    std::memcpy(out + 2 * k, &both, sizeof both);
    index = _mm256_add_epi8(index, two);
  }
}

// Returns the common prefix and suffix of an ASCII pattern and text of 1 to
// 16 bytes each, `p` and `t` as `short_position_masks` reads them.
__attribute__((target("avx2"))) inline Affixes short_affixes(__m256i p, std::size_t m, __m256i t,
                                                             std::size_t n) {
  const __m128i pattern = _mm256_castsi256_si128(p);
  const __m128i text = _mm256_castsi256_si128(t);
  const std::size_t shorter = std::min(m, n);
  Affixes affixes;
  const auto same = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(pattern, text)));
  affixes.prefix = std::min<std::size_t>(std::countr_one(same), shorter);
  // Both reversed, byte k from byte size - 1 - k: the indices past the start
  // are negative, which gives zero bytes.
  const __m128i down = _mm_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
  const __m128i pattern_back =
      _mm_shuffle_epi8(pattern, _mm_sub_epi8(_mm_set1_epi8(static_cast<char>(m - 1)), down));
  const __m128i text_back =
      _mm_shuffle_epi8(text, _mm_sub_epi8(_mm_set1_epi8(static_cast<char>(n - 1)), down));
  const auto same_back =
      static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(pattern_back, text_back)));
  affixes.suffix = std::min<std::size_t>(std::countr_one(same_back), shorter - affixes.prefix);
  return affixes;
}

// The 1 to 64 bytes of an ASCII text in two vectors, lower-cased when
// `fold`, zero past the end.
struct AsciiBytes {
  // Reads 64 bytes from the text's start where they lie within its page,
  // else copies the text out first.
  __attribute__((target("avx2"))) AsciiBytes(std::string_view text, bool fold) {
    const std::size_t n = text.size();
    const char* p = text.data();
    alignas(32) char copy[64];
    if (!within_page(p, 64)) {
      std::memcpy(copy, p, n);
      p = copy;
    }
    low = _mm256_and_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)), first_bytes(n));
    high = _mm256_and_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32)),
                            first_bytes(n, 32));
    if (fold) {
      low = lowercase_ascii_bytes(low);
      high = lowercase_ascii_bytes(high);
    }
  }

  __m256i low;   // bytes 0 to 31
  __m256i high;  // bytes 32 to 63
};

// Returns a bit per byte of `x` and `y`, set where they are equal.
__attribute__((target("avx2"))) inline std::uint32_t equal_bytes(__m256i x, __m256i y) {
  return static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(x, y)));
}

// Returns the common prefix and suffix of two ASCII texts of `m` and `n`
// bytes (1 to 64), zero past their ends. The suffix compares the texts
// placed so that both end at byte 63 of a read, after 64 zero bytes.
__attribute__((target("avx2"))) inline Affixes ascii_affixes(const AsciiBytes& a, std::size_t m,
                                                             const AsciiBytes& b, std::size_t n) {
  const std::size_t shorter = std::min(m, n);
  Affixes affixes;
  const std::uint64_t same_start =
      (std::uint64_t{equal_bytes(a.high, b.high)} << 32) | equal_bytes(a.low, b.low);
  affixes.prefix = std::min<std::size_t>(std::countr_one(same_start), shorter);
  alignas(32) char placed_a[128];
  alignas(32) char placed_b[128];
  const __m256i zero = _mm256_setzero_si256();
  auto* at_a = reinterpret_cast<__m256i*>(placed_a);
  auto* at_b = reinterpret_cast<__m256i*>(placed_b);
  _mm256_store_si256(at_a, zero);
  _mm256_store_si256(at_a + 1, zero);
  _mm256_store_si256(at_a + 2, a.low);
  _mm256_store_si256(at_a + 3, a.high);
  _mm256_store_si256(at_b, zero);
  _mm256_store_si256(at_b + 1, zero);
  _mm256_store_si256(at_b + 2, b.low);
  _mm256_store_si256(at_b + 3, b.high);
  const auto* end_a = reinterpret_cast<const __m256i*>(placed_a + m);
  const auto* end_b = reinterpret_cast<const __m256i*>(placed_b + n);
  const std::uint64_t same_end =
      (std::uint64_t{equal_bytes(_mm256_loadu_si256(end_a + 1), _mm256_loadu_si256(end_b + 1))}
       << 32) |
      equal_bytes(_mm256_loadu_si256(end_a), _mm256_loadu_si256(end_b));
  affixes.suffix = std::min<std::size_t>(std::countl_one(same_end), shorter - affixes.prefix);
  return affixes;
}

// Masks of an ASCII pattern of 1 to 64 bytes, each found by comparing the
// pattern with the byte asked for.
class VectorAsciiMasks {
 public:
  // Masks of the `m` bytes of `pattern`.
  __attribute__((target("avx2"))) VectorAsciiMasks(const AsciiBytes& pattern, std::size_t m)
      : pattern_(pattern) {
    pattern_.low = pad_after(pattern_.low, m);
    pattern_.high = pad_after(pattern_.high, m, 32);
  }

  __attribute__((target("avx2"))) std::uint64_t get(unsigned char byte) const {
    const __m256i b = _mm256_set1_epi8(static_cast<char>(byte));
    const auto low =
        static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(pattern_.low, b)));
    const auto high =
        static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(pattern_.high, b)));
    return (std::uint64_t{high} << 32) | low;
  }

 private:
  AsciiBytes pattern_;
};

// Masks of a pattern of 1 to 64 UTF-8 character keys (see `for_each_key`),
// each found by comparing the pattern's keys, eight to a vector, with the key
// asked for: no hash table to clear and fill, and no probing.
class VectorKeyMasks {
 public:
  __attribute__((target("avx2"))) explicit VectorKeyMasks(std::span<const std::uint32_t> pattern)
      : vectors_((pattern.size() + 7) / 8) {
    // Past the pattern, keys that no character has (0xFF is never a UTF-8 byte).
    alignas(32) std::uint32_t keys[64];
    for (std::size_t k = 0; k < vectors_; ++k) {
      _mm256_store_si256(reinterpret_cast<__m256i*>(keys + 8 * k), _mm256_set1_epi32(-1));
    }
    std::memcpy(keys, pattern.data(), pattern.size() * sizeof keys[0]);
    for (std::size_t k = 0; k < vectors_; ++k) {
      keys_[k] = _mm256_load_si256(reinterpret_cast<const __m256i*>(keys + 8 * k));
    }
  }

  __attribute__((target("avx2"))) std::uint64_t get(std::uint32_t key) const {
    const __m256i wanted = _mm256_set1_epi32(static_cast<int>(key));
    std::uint64_t mask = 0;
    for (std::size_t k = 0; k < vectors_; ++k) {
      const auto equal = _mm256_castsi256_ps(_mm256_cmpeq_epi32(keys_[k], wanted));
      mask |= std::uint64_t{static_cast<unsigned>(_mm256_movemask_ps(equal))} << (8 * k);
    }
    return mask;
  }

 private:
  std::size_t vectors_;
  __m256i keys_[8];
};

}  // namespace quillmatch_core::detail

#else

#include "utf8.h"  // has_vector_scans, false here

#endif  // defined(__x86_64__) || defined(__i386__)

#endif  // QUILLMATCH_CORE_SRC_VECTOR_MASKS_H_
