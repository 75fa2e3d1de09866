// Pattern-mask storage shared by the two bit-parallel distances.
//
// The mask of a character c has bit i set where the pattern holds c at
// position i. Code points below 256 index a table; code points from 256 are
// kept only for the pattern's own code points (a small hash table for one
// word, a sorted array searched by bisection for blocks), so absent
// characters cost no storage.
#ifndef QUILLMATCH_CORE_SRC_PATTERN_MASKS_H_
#define QUILLMATCH_CORE_SRC_PATTERN_MASKS_H_

#include <algorithm>  // std::lower_bound, std::max, std::sort, std::unique
#include <array>
#include <bit>  // std::bit_width
#include <cstddef>
#include <cstdint>
#include <cstring>  // std::memset
#include <limits>
#include <span>
#include <string_view>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>  // the vector stores that clear NarrowAsciiMasks
#endif

#include "quillmatch_core/common.h"
#include "utf8.h"

namespace quillmatch_core::detail {

// Sets bit i of `table[b]` for each byte b at position i of `pattern` (1 to
// 64 bytes; `table` is indexed by every byte the pattern holds).
inline void set_position_bits(std::uint64_t* table, std::string_view pattern) {
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    table[static_cast<unsigned char>(pattern[i])] |= std::uint64_t{1} << i;
  }
}

// Masks of an ASCII pattern of 1 to 64 bytes, indexed by byte.
struct ByteMasks {
  explicit ByteMasks(std::string_view pattern) {
    std::memset(table, 0, sizeof table);
    set_position_bits(table, pattern);
  }

  // Masks for scanning the ASCII `text` only: just the entries that the
  // pattern and the text index are cleared (a short pair touches a few words
  // instead of the whole 2 KiB table); the other entries stay unset and must
  // not be read. Long pairs clear the ASCII half in one go.
  ByteMasks(std::string_view pattern, std::string_view text) {
    if (pattern.size() + text.size() <= kClearEachLimit) {
      for (unsigned char byte : text) table[byte] = 0;
      for (unsigned char byte : pattern) table[byte] = 0;
    } else {
      std::memset(table, 0, 128 * sizeof table[0]);
    }
    set_position_bits(table, pattern);
  }
  std::uint64_t get(unsigned char byte) const { return table[byte]; }

  std::uint64_t table[256];

 private:
  static constexpr std::size_t kClearEachLimit = 96;
};

// Masks of an ASCII pattern of 1 to 16 bytes, for scanning ASCII text only:
// 128 entries of 16 bits, cleared whole.
struct NarrowAsciiMasks {
  explicit NarrowAsciiMasks(std::string_view pattern) {
#if defined(__SSE2__)
    // Sixteen vector stores, unrolled: a fixed-size memset of this size (and
    // a loop the compiler turns into one) becomes a `rep stos`, whose
    // start-up costs more than the stores themselves.
    auto* chunks = reinterpret_cast<__m128i*>(table);
#pragma GCC unroll 16
    for (std::size_t k = 0; k < sizeof table / (sizeof(__m128i)); ++k) {
      _mm_store_si128(chunks + k, _mm_setzero_si128());
    }
#else
    std::memset(table, 0, sizeof table);
#endif
    for (std::size_t i = 0; i < pattern.size(); ++i) {
      table[static_cast<unsigned char>(pattern[i])] |= static_cast<std::uint16_t>(1u << i);
    }
  }
  std::uint64_t get(unsigned char byte) const { return table[byte]; }

  alignas(16) std::uint16_t table[128];
};

// Masks of a pattern of 1 to 64 code points: a Latin-1 table plus a map of
// the code points from 256, an open-addressing hash table with linear probing
// sized to at least twice their number, so a lookup seldom probes more than
// once. Everything sits in the object itself, so the path allocates nothing.
// Only the table entries of the pattern's own code points are written; a
// 256-bit set tells which, so a call clears 32 bytes instead of 2 KiB, and
// only the hash slots in use are cleared.
class CodePointMasks {
 public:
  explicit CodePointMasks(std::span<const char32_t> pattern) {
    std::size_t wide = 0;
    for (char32_t c : pattern) wide += c >= 256;
    size_map(wide);
    for (std::size_t i = 0; i < pattern.size(); ++i) add(pattern[i], std::uint64_t{1} << i);
  }

  // Masks of the UTF-8 `pattern` of `m` code points (1 to 64), decoded as
  // they are set. A code point from 256 holds at least one continuation
  // byte, so the bytes beyond one per character bound their number.
  CodePointMasks(std::string_view pattern, std::size_t m) {
    size_map(std::min(m, pattern.size() - m));
    std::size_t pos = 0;
    skip_stray(pattern, pos);
    for (std::uint64_t bit = 1; pos < pattern.size() && bit != 0; bit <<= 1) {
      add(decode_next(pattern, pos), bit);
    }
  }

  std::uint64_t get(char32_t c) const {
    if (c < 256) return (written_[c / 64] >> (c % 64)) & 1 ? table_[c] : 0;
    if (shift_ == 32) return 0;
    for (std::size_t at = slot(c);; at = next(at)) {
      if (keys_[at] == c) return masks_[at];
      if (keys_[at] == 0) return 0;
    }
  }

 private:
  // Sizes the map for up to `wide` code points from 256, all slots free.
  void size_map(std::size_t wide) {
    if (wide == 0) return;
    shift_ = 31;
    while ((std::size_t{1} << (32 - shift_)) < 2 * wide) --shift_;
    std::memset(keys_, 0, (std::size_t{1} << (32 - shift_)) * sizeof keys_[0]);
  }

  // Adds `bit` to the mask of `c`.
  void add(char32_t c, std::uint64_t bit) {
    if (c < 256) {
      const std::uint64_t flag = std::uint64_t{1} << (c % 64);
      if ((written_[c / 64] & flag) == 0) {
        written_[c / 64] |= flag;
        table_[c] = 0;
      }
      table_[c] |= bit;
      return;
    }
    std::size_t at = slot(c);
    while (keys_[at] != 0 && keys_[at] != c) at = next(at);
    if (keys_[at] == 0) {
      keys_[at] = c;
      masks_[at] = 0;
    }
    masks_[at] |= bit;
  }

  // Fibonacci hashing: the top bits of the product pick the slot.
  std::size_t slot(char32_t c) const {
    return static_cast<std::uint32_t>(static_cast<std::uint32_t>(c) * 0x9E3779B1u) >> shift_;
  }
  std::size_t next(std::size_t at) const {
    return (at + 1) & ((std::size_t{1} << (32 - shift_)) - 1);
  }

  std::uint64_t written_[4] = {};  // bit c: table_[c] holds c's mask
  unsigned shift_ = 32;            // 32 - log2(slots); 32 while no code point is from 256
  std::uint64_t table_[256];       // entries not in `written_` are unset
  char32_t keys_[128];             // 0 marks a free slot (keys are from 256)
  std::uint64_t masks_[128];
};

// Masks of a pattern of 1 to 64 characters given as UTF-8 keys (utf8.h), in
// one open-addressing hash table with linear probing for every character,
// ASCII included, with at least four slots per character. Inserting or
// looking up a key reads its first slot and goes on only when another key
// holds it (probes run on past the last slot instead of wrapping), so whether
// a character is new, repeated or absent costs no branch. Everything sits in
// the object itself; only the slots that the pattern's size uses are cleared.
class KeyMasks {
 public:
  explicit KeyMasks(std::span<const std::uint32_t> pattern)
      : shift_(32 - std::max(3, static_cast<int>(std::bit_width(4 * pattern.size() - 1)))) {
    const std::size_t used = (std::size_t{1} << (32 - shift_)) + pattern.size();
    std::memset(keys_, 0, used * sizeof keys_[0]);
    std::memset(masks_, 0, used * sizeof masks_[0]);
    std::uint64_t bit = 1;
    for (const std::uint32_t key : pattern) {
      const std::size_t at = find(key);
      keys_[at] = key | kTaken;
      masks_[at] |= bit;
      bit <<= 1;
    }
  }

  // A free slot's mask is zero, as is an absent character's.
  std::uint64_t get(std::uint32_t key) const { return masks_[find(key)]; }

 private:
  // Marks a slot in use. Only four-byte characters have the top bit in their
  // keys, and those differ from shorter ones in their lead byte, so keys
  // stay distinct with it set.
  static constexpr std::uint32_t kTaken = 0x80000000;

  // Returns the slot that holds `key`, else the free slot where it would go.
  std::size_t find(std::uint32_t key) const {
    const std::uint32_t taken = key | kTaken;
    // Fibonacci hashing: the top bits of the product pick the first slot.
    std::size_t at = static_cast<std::uint32_t>(key * 0x9E3779B1u) >> shift_;
    // The product is zero exactly when the slot is free or holds `key`: one
    // test, where two would each branch on how the text runs.
    while (std::uint64_t{keys_[at]} * (keys_[at] ^ taken) != 0) ++at;
    return at;
  }

  int shift_;                      // 32 - log2(slots), 8 slots and up
  std::uint32_t keys_[256 + 64];   // with `kTaken` set; 0 where free. Up to
                                   // 256 slots, then room to probe on
  std::uint64_t masks_[256 + 64];  // zero where free
};

// Masks of a pattern of 65 or more code points: rows of `blocks` words, word k
// holding positions 64k to 64k+63. Rows of code points below 256 sit in one
// character-major table; one shared zero row stands for absent characters.
class BlockMasks {
 public:
  // Number of words per row for a pattern of `m` characters; raises the
  // "capacity overflow" fault when the table of 256 rows could not be one
  // allocation on this platform.
  static std::size_t block_count(std::size_t m) {
    const std::size_t blocks = m / 64 + (m % 64 != 0);
    row_words(256, blocks);
    return blocks;
  }

  // Returns `rows` * `blocks`, the words of that many rows; raises the
  // "capacity overflow" fault when they could not be one allocation on this
  // platform. On a 32-bit target the product of the pattern's distinct code
  // points and its blocks wraps from about 2^19 characters, so it is checked.
  static std::size_t row_words(std::size_t rows, std::size_t blocks) {
    constexpr auto largest = static_cast<std::size_t>(std::numeric_limits<std::ptrdiff_t>::max()) /
                             sizeof(std::uint64_t);
    if (blocks != 0 && rows > largest / blocks) internal_fault("capacity overflow");
    return rows * blocks;
  }

  BlockMasks(const std::vector<char32_t>& pattern, std::size_t blocks)
      : blocks_(blocks), table_(row_words(256, blocks)), zero_(blocks) {
    // The largest code point first, in a loop the compiler vectorises: most
    // patterns have none from 256, and then need no map.
    char32_t largest = 0;
    for (char32_t c : pattern) largest = std::max(largest, c);
    if (largest < 256) {
      for (std::size_t i = 0; i < pattern.size(); ++i) {
        table_[pattern[i] * blocks + i / 64] |= std::uint64_t{1} << (i % 64);
      }
      return;
    }
    for (char32_t c : pattern) {
      if (c >= 256) keys_.push_back(c);
    }
    std::sort(keys_.begin(), keys_.end());
    keys_.erase(std::unique(keys_.begin(), keys_.end()), keys_.end());
    rows_.assign(row_words(keys_.size(), blocks), 0);
    for (std::size_t i = 0; i < pattern.size(); ++i) {
      row_for_write(pattern[i])[i / 64] |= std::uint64_t{1} << (i % 64);
    }
  }

  std::size_t blocks() const { return blocks_; }

  // Returns the row of `c`: `blocks()` words, the zero row when absent.
  const std::uint64_t* get(char32_t c) const { return row_at(row_index(c)); }

  // Returns the number of rows: 256 for the table, one per map entry, and
  // the zero row last.
  std::size_t row_count() const { return 256 + keys_.size() + 1; }

  // Returns the row number of `c` from 0 to `row_count() - 1`: `c` itself
  // below 256, then the map's rows, and the zero row when `c` is absent.
  std::size_t row_index(char32_t c) const {
    if (c < 256) return c;
    auto at = std::lower_bound(keys_.begin(), keys_.end(), c);
    if (at == keys_.end() || *at != c) return row_count() - 1;
    return 256 + static_cast<std::size_t>(at - keys_.begin());
  }

  // Returns the row numbered `index` (see `row_index`).
  const std::uint64_t* row_at(std::size_t index) const {
    if (index < 256) return table_.data() + index * blocks_;
    if (index - 256 < keys_.size()) return rows_.data() + (index - 256) * blocks_;
    return zero_.data();
  }

 private:
  std::uint64_t* row_for_write(char32_t c) { return const_cast<std::uint64_t*>(get(c)); }

  std::size_t blocks_;
  std::vector<std::uint64_t> table_;
  std::vector<std::uint64_t> zero_;
  std::vector<char32_t> keys_;  // sorted code points >= 256 of the pattern
  std::vector<std::uint64_t> rows_;
};

}  // namespace quillmatch_core::detail

#endif  // QUILLMATCH_CORE_SRC_PATTERN_MASKS_H_
