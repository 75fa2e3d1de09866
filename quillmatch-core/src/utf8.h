// UTF-8 helpers shared by every measure: the word-at-a-time ASCII test,
// character counting and code-point decoding.
//
// Inputs are meant to be valid UTF-8. On malformed input these helpers stay
// in bounds and keep one invariant the measures rely on: `decode_next` yields
// exactly one code point per byte that is not a continuation byte, so the
// number of decoded code points always equals `count_chars`.
#ifndef QUILLMATCH_CORE_SRC_UTF8_H_
#define QUILLMATCH_CORE_SRC_UTF8_H_

#include <array>
#include <bit>  // std::endian, std::countr_zero
#include <cstddef>
#include <cstdint>
#include <cstring>  // std::memcpy
#include <span>
#include <string_view>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>  // the whole-text checks of short_keys
#endif
#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>  // the keys of short texts in vector lanes
#endif

namespace quillmatch_core::detail {

// A machine word of 0x80 bytes, the high bit of every byte.
inline constexpr std::size_t kHighBits = ~std::size_t{0} / 0xFF * 0x80;
inline constexpr std::size_t kLowBits = ~std::size_t{0} / 0xFF;

inline std::size_t load_word(const unsigned char* p) {
  std::size_t word;
  std::memcpy(&word, p, sizeof word);
  return word;
}

// The offsets of four 32-bit words that cover a text of 4 to 16 bytes, [0, 8)
// and [n - 8, n) (the whole text when shorter), worked out with no branch on
// the length: a short text's word pass costs no misprediction.
inline std::array<std::size_t, 4> short_word_offsets(std::size_t n) {
  const std::size_t step = n - 4 < 4 ? n - 4 : 4;
  return {0, step, n - 4 - step, n - 4};
}

// Returns true when every byte of `text` is below 0x80. Texts of up to three
// bytes are tested byte by byte from the end, texts of up to 16 bytes by four
// overlapping reads; longer ones read the first word, the aligned words after
// it and the last word.
inline bool is_ascii(std::string_view text) {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  std::size_t n = text.size();
  constexpr std::size_t w = sizeof(std::size_t);
  if (n <= 3) {
    while (n > 0) {
      if (p[--n] & 0x80) return false;
    }
    return true;
  }
  if (n <= 16) {
    std::uint32_t acc = 0;
    for (const std::size_t at : short_word_offsets(n)) {
      std::uint32_t word;
      std::memcpy(&word, p + at, 4);
      acc |= word;
    }
    return (acc & 0x80808080u) == 0;
  }
  std::size_t acc = load_word(p);
  const auto start = reinterpret_cast<std::uintptr_t>(p);
  std::size_t i = ((start + w) & ~std::uintptr_t{w - 1}) - start;  // first aligned offset
  for (; i + w <= n; i += w) acc |= load_word(p + i);
  acc |= load_word(p + n - w);
  return (acc & kHighBits) == 0;
}

inline bool is_continuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// Returns the number of code points of `text`: the bytes that are not
// continuation bytes (0x80 to 0xBF). Byte by byte below one word, a word at a
// time above, the last word overlapping the one before.
inline std::size_t count_chars(std::string_view text) {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t n = text.size();
  std::size_t continuation = 0;
  std::size_t i = 0;
  constexpr std::size_t w = sizeof(std::size_t);
  if (n >= w) {
    // A continuation byte has bit 7 set and bit 6 clear.
    const auto marks = [](std::size_t word) { return (word >> 7) & (~word >> 6) & kLowBits; };
    for (; i + w <= n; i += w) {
      continuation += (marks(load_word(p + i)) * kLowBits) >> ((w - 1) * 8);
    }
    if (std::endian::native == std::endian::little && i < n) {
      // The last word, less the bytes that the loop counted (its low ones).
      const std::size_t last = marks(load_word(p + n - w)) >> ((w - (n - i)) * 8);
      continuation += (last * kLowBits) >> ((w - 1) * 8);
      i = n;
    }
  }
  for (; i < n; ++i) continuation += is_continuation(p[i]);
  return n - continuation;
}

// Decodes the code point starting at `text[pos]` and advances `pos` past it
// and past any stray continuation bytes that follow. `pos` must point at a
// byte that is not a continuation byte (true at 0 after `skip_stray`).
// A complete sequence is assembled at once; a truncated one takes the
// continuation bytes that are there.
inline char32_t decode_next(std::string_view text, std::size_t& pos) {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t n = text.size();
  const unsigned char lead = p[pos];
  char32_t cp;
  if (lead < 0x80) {
    cp = lead;
    ++pos;
  } else if (lead < 0xE0 && pos + 1 < n && is_continuation(p[pos + 1])) {
    cp = (char32_t{lead & 0x1Fu} << 6) | (p[pos + 1] & 0x3Fu);
    pos += 2;
  } else if (lead >= 0xE0 && lead < 0xF0 && pos + 2 < n && is_continuation(p[pos + 1]) &&
             is_continuation(p[pos + 2])) {
    cp =
        (char32_t{lead & 0x0Fu} << 12) | (char32_t{p[pos + 1] & 0x3Fu} << 6) | (p[pos + 2] & 0x3Fu);
    pos += 3;
  } else {
    int extra;
    if (lead >= 0xF0) {
      cp = lead & 0x07;
      extra = 3;
    } else if (lead >= 0xE0) {
      cp = lead & 0x0F;
      extra = 2;
    } else {
      cp = lead & 0x1F;
      extra = 1;
    }
    ++pos;
    for (; extra > 0 && pos < n && is_continuation(p[pos]); --extra) {
      cp = (cp << 6) | (p[pos++] & 0x3F);
    }
  }
  while (pos < n && is_continuation(p[pos])) ++pos;  // malformed input only
  return cp;
}

// Moves `pos` past continuation bytes at the start of a malformed text.
inline void skip_stray(std::string_view text, std::size_t& pos) {
  while (pos < text.size() && is_continuation(static_cast<unsigned char>(text[pos]))) ++pos;
}

// Decodes a text of at most 64 code points into `out`; returns them.
inline std::span<const char32_t> decode_short(std::string_view text, char32_t (&out)[64]) {
  std::size_t pos = 0;
  std::size_t count = 0;
  skip_stray(text, pos);
  while (pos < text.size() && count < 64) out[count++] = decode_next(text, pos);
  return {out, count};
}

// Decodes `text` into `out` (cleared first); `count` is its code-point count.
inline void decode_all(std::string_view text, std::size_t count, std::vector<char32_t>& out) {
  out.clear();
  if (is_ascii(text)) {
    // Each byte is its code point: a widening copy, which the compiler
    // vectorises, instead of a decoding step per character.
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    out.assign(p, p + text.size());
    return;
  }
  out.reserve(count);
  std::size_t pos = 0;
  skip_stray(text, pos);
  while (pos < text.size()) out.push_back(decode_next(text, pos));
}

// Keys of UTF-8 characters: the bytes of one character read as a
// little-endian integer and cut to its length. For shortest-form UTF-8 two
// characters have equal keys exactly when they are the same code point, so
// the distance and similarity scans can compare and look up keys without
// decoding. Each character costs one load, one table read and a few
// operations on the key, with no branch on its length.
//
// What the lead byte (by its top five bits) says about its character's key.
struct KeyShape {
  std::uint32_t keep;       // the character's bytes within a 4-byte load
  std::uint32_t tail_mask;  // the top two bits of each continuation byte
  std::uint32_t tail_bits;  // their value in shortest form; 1 where no key is valid
  // Payload bits of which a shortest form sets one (a longer form of a
  // smaller code point clears them all). A one-byte character's bit lies
  // outside `keep`, where the test below reads ones.
  std::uint32_t wide;
};

// Returns the shape of the characters whose lead byte has `top` as its top
// five bits.
constexpr KeyShape key_shape(unsigned top) {
  if (top < 0x10) return {0xFF, 0, 0, 0x100};  // 0x00 to 0x7F: one byte
  if (top < 0x18 || top == 0x1F) {
    return {0xFF, 0, 1, 0};  // a continuation byte, or 0xF8 to 0xFF: no character
  }
  if (top < 0x1C) return {0xFFFF, 0xC000, 0x8000, 0x1E};          // U+0080 and up: lead 0xC2 and up
  if (top < 0x1E) return {0xFFFFFF, 0xC0C000, 0x808000, 0x200F};  // U+0800 and up
  return {0xFFFFFFFF, 0xC0C0C000, 0x80808000, 0x3007};            // U+10000 and up
}

inline constexpr std::array<KeyShape, 32> kKeyShapes = [] {
  std::array<KeyShape, 32> shapes{};
  for (unsigned top = 0; top < 32; ++top) shapes[top] = key_shape(top);
  return shapes;
}();

// The constant that holds, as two bits at twice each value of a lead byte's
// top four bits, its character's length less one (0 to 0xB: one byte, 0xC
// and 0xD: two, 0xE: three, 0xF: four).
inline constexpr std::uint32_t kTailsByLeadNibble = 0xE5000000u;

// Returns the length less one of the character whose lead byte is the low
// byte of `word`, by its top four bits. Where the key table accepts the
// lead byte the two agree.
inline unsigned lead_tail(std::uint32_t word) {
  return (kTailsByLeadNibble >> ((word & 0xF0) >> 3)) & 3;
}

// Returns the key of the character at `p` (four readable bytes) and adds
// its length to `pos`; sets bits of `bad` unless the character is in
// shortest form with all its continuation bytes.
inline std::uint32_t next_key(const unsigned char* p, std::size_t& pos, std::uint32_t& bad) {
  std::uint32_t word;
  std::memcpy(&word, p, sizeof word);
  if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap32(word);
  const KeyShape& shape = kKeyShapes[(word & 0xFF) >> 3];
  bad |= (word & shape.tail_mask) ^ shape.tail_bits;
  bad |= static_cast<std::uint32_t>(((word | ~shape.keep) & shape.wide) == 0);
  // The length from `lead_tail`, not from the table: the next character's
  // position then waits for one load, not two, and no branch.
  pos += 1 + lead_tail(word);
  return word & shape.keep;
}

// Calls `visit(key)` for the key of each character of `text`, in order.
// Returns false when `text` is not shortest-form UTF-8 (a stray or missing
// continuation byte, an overlong form, a byte that starts nothing): the keys
// visited then mean nothing, and the caller decodes the text instead.
template <typename Visit>
bool for_each_key(std::string_view text, Visit&& visit) {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t n = text.size();
  std::uint32_t bad = 0;
  std::size_t pos = 0;
  while (pos + 4 <= n) visit(next_key(p + pos, pos, bad));
  if (pos < n) {
    // The last one to three bytes, read from a zero-padded copy (the last
    // four bytes shifted down, when there are four): a sequence cut short
    // meets zero bytes where its continuation bytes should be.
    const std::size_t rest = n - pos;
    unsigned char tail[8] = {};
    if (n >= 4) {
      std::uint32_t last;
      std::memcpy(&last, p + n - 4, sizeof last);
      if constexpr (std::endian::native == std::endian::big) last = __builtin_bswap32(last);
      last >>= 8 * (4 - rest);
      if constexpr (std::endian::native == std::endian::big) last = __builtin_bswap32(last);
      std::memcpy(tail, &last, sizeof last);
    } else {
      std::memcpy(tail, p + pos, rest);
    }
    for (std::size_t at = 0; at < rest;) visit(next_key(tail + at, at, bad));
  }
  return bad == 0;
}

// Whether short texts may be read as whole vectors, past their ends within
// their pages. Under AddressSanitizer they are copied out first instead, so
// that every read stays within the text and the sanitizer checks them all.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kReadsPastEnd = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr bool kReadsPastEnd = false;
#else
inline constexpr bool kReadsPastEnd = true;
#endif
#else
inline constexpr bool kReadsPastEnd = true;
#endif

// Returns true when the `span` bytes from `p` lie within p's page: reading
// them cannot touch a page that a text of at least one byte at `p` does not.
// (An empty text may point anywhere, even at a page that cannot be read.)
inline bool within_page(const char* p, std::size_t span) {
  return kReadsPastEnd && (reinterpret_cast<std::uintptr_t>(p) & 4095) <= 4096 - span;
}

// For each set of eight positions (bit i: position i), the positions in the
// set in order, then `fill`: the permutation that packs the chosen elements
// of eight to the front.
template <typename T>
constexpr std::array<std::array<T, 8>, 256> packing_permutations(T fill) {
  std::array<std::array<T, 8>, 256> table{};
  for (unsigned set = 0; set < 256; ++set) {
    unsigned to = 0;
    for (unsigned i = 0; i < 8; ++i) {
      if ((set >> i) & 1) table[set][to++] = static_cast<T>(i);
    }
    while (to < 8) table[set][to++] = fill;
  }
  return table;
}

#if defined(__x86_64__) || defined(__i386__)
// The lane permutations that pack the lanes of a vector that hold a key;
// each 32 bytes, aligned for a vector load.
alignas(32) inline constexpr auto kPackedLanes = packing_permutations<std::uint32_t>(0);

// Writes the keys of the characters that start at the bits of `leads` (below
// `n`, at most 64) of a text `p` that may be read to byte 80, checked
// already, and returns their number: eight positions at a time, each
// position's four bytes cut to its lead's length in a vector lane, the lanes
// of leads packed to the front.
__attribute__((target("avx2,popcnt"))) inline std::size_t keys_at_leads_avx2(
    const unsigned char* p, std::size_t n, std::uint64_t leads, std::uint32_t (&out)[64]) {
  // Lane k of a step takes bytes k to k + 3 of the 16 read.
  const __m256i window = _mm256_setr_epi8(0, 1, 2, 3, 1, 2, 3, 4, 2, 3, 4, 5, 3, 4, 5, 6, 4, 5, 6,
                                          7, 5, 6, 7, 8, 6, 7, 8, 9, 7, 8, 9, 10);
  alignas(32) std::uint32_t keys[64 + 8];
  std::size_t count = 0;
  for (std::size_t at = 0; at < n; at += 8) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + at));
    const __m256i words = _mm256_shuffle_epi8(_mm256_broadcastsi128_si256(bytes), window);
    // `lead_tail` of every lane.
    const __m256i shift = _mm256_srli_epi32(_mm256_and_si256(words, _mm256_set1_epi32(0xF0)), 3);
    const __m256i tail = _mm256_and_si256(
        _mm256_srlv_epi32(_mm256_set1_epi32(static_cast<int>(kTailsByLeadNibble)), shift),
        _mm256_set1_epi32(3));
    const __m256i keep = _mm256_srlv_epi32(
        _mm256_set1_epi32(-1), _mm256_sub_epi32(_mm256_set1_epi32(24), _mm256_slli_epi32(tail, 3)));
    const auto set = static_cast<unsigned>((leads >> at) & 0xFF);
    const __m256i order =
        _mm256_load_si256(reinterpret_cast<const __m256i*>(kPackedLanes[set].data()));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(keys + count),
                        _mm256_permutevar8x32_epi32(_mm256_and_si256(words, keep), order));
    count += static_cast<std::size_t>(std::popcount(set));
  }
  std::memcpy(out, keys, count * sizeof keys[0]);
  return count;
}
#endif

// Tells whether this processor runs the vector scans (here and in
// vector_masks.h): AVX2, POPCNT and BMI.
inline bool has_vector_scans() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("popcnt") &&
         __builtin_cpu_supports("bmi");
#else
  return false;
#endif
}

// `has_vector_scans`, asked once: `short_keys` asks on every call.
inline bool has_lane_keys() {
  static const bool yes = has_vector_scans();
  return yes;
}

#if defined(__SSE2__)
// `short_keys` of a text of at most 64 bytes, checked for the whole text at
// once rather than character by character. The walk accepts exactly the
// texts in which every byte from 0xC0 starts a character of 2 (0xC2 to 0xDF),
// 3 (from 0xE0) or 4 (from 0xF0) bytes whose other bytes are continuation
// bytes, every continuation byte belongs to such a character, no byte is
// 0xC0, 0xC1 or from 0xF8, and no character is a longer form (0xE0 before
// 0x80 to 0x9F, 0xF0 before 0x80 to 0x8F). Bit masks of the text say that in
// a few vector compares: the positions that the leads from 0xC0, 0xE0 and
// 0xF0 need to be continuation bytes (one, two and three places on) must be
// just the continuation bytes. Then each character's key is the four bytes at
// its lead, cut to the length that the lead says.
inline std::size_t short_keys_from_leads(std::string_view text, std::uint32_t (&out)[64],
                                         bool lanes = has_lane_keys()) {
  const std::size_t n = text.size();
  if (n == 0) return 0;
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  alignas(16) unsigned char copy[64 + 16];
  if (!within_page(text.data(), 64 + 16)) {
    std::memset(copy, 0, sizeof copy);
    std::memcpy(copy, p, n);
    p = copy;
  }
  // As signed bytes: continuation bytes are -128 to -65, 0xC0 is -64, 0xE0
  // -32, 0xF0 -16 and 0xF8 -8.
  const auto signed_at_least = [](__m128i v, int byte) {
    return _mm_cmpgt_epi8(v, _mm_set1_epi8(static_cast<char>(byte - 1)));
  };
  const auto bits = [](__m128i v) {
    return std::uint64_t{static_cast<std::uint16_t>(_mm_movemask_epi8(v))};
  };
  // Masks of the bytes from 0x80, and of the signed bytes from -64, -32, -16
  // and -8, which take in the ASCII bytes too until masked with the first.
  std::uint64_t high = 0, continuation = 0, two = 0, three = 0, four = 0, eight = 0, invalid = 0;
  for (std::size_t k = 0; k < (n + 15) / 16; ++k) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * k));
    const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * k + 1));
    const __m128i longer_form =
        _mm_or_si128(_mm_and_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8(static_cast<char>(0xE0))),
                                   _mm_cmplt_epi8(next, _mm_set1_epi8(static_cast<char>(0xA0)))),
                     _mm_and_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8(static_cast<char>(0xF0))),
                                   _mm_cmplt_epi8(next, _mm_set1_epi8(static_cast<char>(0x90)))));
    const __m128i c0_c1 = _mm_cmpeq_epi8(_mm_and_si128(v, _mm_set1_epi8(static_cast<char>(0xFE))),
                                         _mm_set1_epi8(static_cast<char>(0xC0)));
    const int shift = static_cast<int>(16 * k);
    high |= bits(v) << shift;
    continuation |= bits(_mm_cmplt_epi8(v, _mm_set1_epi8(static_cast<char>(0xC0)))) << shift;
    two |= bits(signed_at_least(v, -64)) << shift;
    three |= bits(signed_at_least(v, -32)) << shift;
    four |= bits(signed_at_least(v, -16)) << shift;
    eight |= bits(signed_at_least(v, -8)) << shift;
    invalid |= bits(_mm_or_si128(c0_c1, longer_form)) << shift;
  }
  const std::uint64_t in_text = n < 64 ? (std::uint64_t{1} << n) - 1 : ~std::uint64_t{0};
  high &= in_text;
  continuation &= in_text;
  two &= high;
  three &= high;
  four &= high;
  invalid = (invalid & in_text) | (eight & high);
  // Needed continuation bytes past byte 63 are past the end too.
  const std::uint64_t needed = (two << 1) | (three << 2) | (four << 3);
  const std::uint64_t past_63 = (two >> 63) | (three >> 62) | (four >> 61);
  if ((invalid | past_63 | (needed ^ continuation)) != 0) return 65;
#if defined(__x86_64__) || defined(__i386__)
  if (lanes) return keys_at_leads_avx2(p, n, ~continuation & in_text, out);
#endif
  std::size_t count = 0;
  for (std::uint64_t leads = ~continuation & in_text; leads != 0; leads &= leads - 1) {
    std::uint32_t word;
    std::memcpy(&word, p + std::countr_zero(leads), sizeof word);
    out[count++] = word & (~std::uint32_t{0} >> (24 - 8 * lead_tail(word)));
  }
  return count;
}
#endif

// Stores the keys of the characters of `text` in `out` and returns their
// number, or returns 65 when `text` is not shortest-form UTF-8 of at most 64
// characters.
inline std::size_t short_keys(std::string_view text, std::uint32_t (&out)[64]) {
#if defined(__SSE2__)
  if (text.size() <= 64) return short_keys_from_leads(text, out);
#endif
  std::size_t count = 0;
  // The index wraps rather than test the bound each time: more than 64
  // characters fail below whatever was stored.
  const bool ok = for_each_key(text, [&](std::uint32_t key) { out[count++ % 64] = key; });
  return ok && count <= 64 ? count : 65;
}

}  // namespace quillmatch_core::detail

#endif  // QUILLMATCH_CORE_SRC_UTF8_H_
