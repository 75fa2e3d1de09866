// UTF-8 helpers shared by every measure: the word-at-a-time ASCII test,
// character counting and code-point decoding.
//
// Inputs are meant to be valid UTF-8. On malformed input these helpers stay
// in bounds and keep one invariant the measures rely on: `decode_next` yields
// exactly one code point per byte that is not a continuation byte, so the
// number of decoded code points always equals `count_chars`.
#ifndef QUILLMATCH_CORE_SRC_UTF8_H_
#define QUILLMATCH_CORE_SRC_UTF8_H_

#include <cstddef>
#include <cstdint>
#include <cstring>  // std::memcpy
#include <span>
#include <string_view>
#include <vector>

namespace quillmatch_core::detail {

// A machine word of 0x80 bytes, the high bit of every byte.
inline constexpr std::size_t kHighBits = ~std::size_t{0} / 0xFF * 0x80;
inline constexpr std::size_t kLowBits = ~std::size_t{0} / 0xFF;

inline std::size_t load_word(const unsigned char* p) {
  std::size_t word;
  std::memcpy(&word, p, sizeof word);
  return word;
}

// Returns true when every byte of `text` is below 0x80. Reads the first word,
// the aligned words after it and the last word; texts of up to three bytes
// are tested byte by byte from the end.
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
  if (n < w) {
    // Two overlapping 32-bit reads cover 4 to 7 bytes.
    std::uint32_t a, b;
    std::memcpy(&a, p, 4);
    std::memcpy(&b, p + n - 4, 4);
    return ((a | b) & 0x80808080u) == 0;
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
// continuation bytes (0x80 to 0xBF). Byte by byte below 16 bytes, a word at a
// time above.
inline std::size_t count_chars(std::string_view text) {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t n = text.size();
  std::size_t continuation = 0;
  std::size_t i = 0;
  if (n >= 16) {
    constexpr std::size_t w = sizeof(std::size_t);
    for (; i + w <= n; i += w) {
      const std::size_t word = load_word(p + i);
      // A continuation byte has bit 7 set and bit 6 clear.
      const std::size_t marks = (word >> 7) & (~word >> 6) & kLowBits;
      continuation += (marks * kLowBits) >> ((w - 1) * 8);
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
  out.reserve(count);
  std::size_t pos = 0;
  skip_stray(text, pos);
  while (pos < text.size()) out.push_back(decode_next(text, pos));
}

}  // namespace quillmatch_core::detail

#endif  // QUILLMATCH_CORE_SRC_UTF8_H_
