// Lane-parallel distance scans for the batch matchers: a group of short
// candidates whose code points are all below 256 is scored at once, each
// candidate the pattern of its own lane of a group of two 32-byte vectors and
// the query the text shared by every lane. The distances
// are symmetric, so this gives exactly the values of the one-at-a-time scan
// with the query as pattern. Lanes are as wide as the longest candidate they
// may hold: 8 bits (64 lanes) up to 64 bits (8 lanes).
//
// The kernels use GCC vector extensions: one body, compiled once per
// instruction set (see `LaneKernels`); lane_schedule.h picks one at run time
// and deals the candidates into groups.
#ifndef QUILLMATCH_CORE_SRC_BATCH_LANES_H_
#define QUILLMATCH_CORE_SRC_BATCH_LANES_H_

#include <algorithm>  // std::min
#include <array>
#include <bit>  // std::countr_zero, std::endian, std::popcount
#include <cstddef>
#include <cstdint>
#include <cstring>  // std::memcpy, std::memset
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "quillmatch_core/batch_query.h"
#include "unicode_case.h"  // append_lowercase, kLatin1Lower
#include "utf8.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>  // the movemask that builds the lanes' masks
#endif

namespace quillmatch_core::detail {

inline constexpr std::size_t kVectorBytes = 32;
// A group of lanes spans two vectors: the scan of one query byte is a chain
// of dependent operations, and two independent chains keep the CPU busy.
inline constexpr std::size_t kGroupBytes = 2 * kVectorBytes;

template <typename T>
struct LaneVector;
template <>
struct LaneVector<std::uint8_t> {
  typedef std::uint8_t type __attribute__((vector_size(kVectorBytes)));
};
template <>
struct LaneVector<std::uint16_t> {
  typedef std::uint16_t type __attribute__((vector_size(kVectorBytes)));
};
template <>
struct LaneVector<std::uint32_t> {
  typedef std::uint32_t type __attribute__((vector_size(kVectorBytes)));
};
template <>
struct LaneVector<std::uint64_t> {
  typedef std::uint64_t type __attribute__((vector_size(kVectorBytes)));
};

// The lane width of a candidate of 1 to 64 bytes (or characters): 0 to 3
// for lanes of 8, 16, 32 and 64 bits, the narrowest that holds it. Lengths
// of English words straddle the first border at random, so the schedulers
// look it up rather than branch on it.
inline constexpr std::array<std::uint8_t, 65> kLaneWidthOf = [] {
  std::array<std::uint8_t, 65> width{};
  for (std::size_t n = 0; n <= 64; ++n) {
    width[n] = static_cast<std::uint8_t>(std::size_t{n > 8} + (n > 16) + (n > 32));
  }
  return width;
}();

// Word operations on the eight bytes of a 64-bit word, exact for every byte
// value (no carry crosses into the next byte); 32-bit targets take a word in
// two registers.
inline constexpr std::uint64_t kEachByte = 0x0101010101010101;

// Returns bit 7 of each byte of `x` that is zero, and no other bit.
inline std::uint64_t zero_bytes(std::uint64_t x) {
  constexpr std::uint64_t kLow7 = 0x7F7F7F7F7F7F7F7F;
  return ~(((x & kLow7) + kLow7) | x) & (kEachByte << 7);
}

// Returns bit i for each byte i of `x` that is 1 (every byte 0 or 1): a
// multiplication whose partial products do not overlap gathers them into
// the top byte.
inline std::uint64_t gather_byte_bits(std::uint64_t x) { return (x * 0x0102040810204080) >> 56; }

// The candidates of a block of up to 64 by what takes them, as bit masks
// (bit k for the block's candidate k): `lanes[w]` those of 1 to 64 bytes
// whose lane width is w, `others` the empty and the longer ones.
struct BlockWidths {
  std::uint64_t lanes[4];
  std::uint64_t others;
};

// Sorts the `count` (1 to 64) candidates at `block` by lane width. Their
// widths become one byte each, which word operations compare with each width
// eight at a time: no store or branch per candidate, where dealing them one
// by one into groups waits on each group's last store.
inline BlockWidths block_widths(const std::string_view* block, std::size_t count) {
  // 4 for the others; past `count`, a byte that matches nothing.
  std::uint8_t code[64];
  for (std::size_t k = 0; k < count; ++k) {
    // The lanes read the bytes when the group is full, some candidates later.
    __builtin_prefetch(block[k].data());
    const std::size_t size = block[k].size();
    code[k] = size - 1 < 64 ? kLaneWidthOf[size] : 4;
  }
  for (std::size_t k = count; k < 64; ++k) code[k] = 0xFF;
  BlockWidths widths{};
  for (std::size_t at = 0; at < 64; at += 8) {
    std::uint64_t word;
    std::memcpy(&word, code + at, 8);
    for (std::size_t w = 0; w <= 4; ++w) {
      // The bytes equal to w, whose difference from it is zero.
      const std::uint64_t bits = gather_byte_bits(zero_bytes(word ^ (kEachByte * w)) >> 7);
      (w < 4 ? widths.lanes[w] : widths.others) |= bits << at;
    }
  }
  return widths;
}

// Appends the block's candidates that lanes take, those of `widths.lanes`
// (bit k for candidate `start` + k), to the pending group of their width,
// where `next[w]` is the free slot of group w and `full[w]` its end; a group
// is scored by `flush(w)` once full, which empties it. `entry(index)` makes
// a group's entry.
template <typename Entry, typename MakeEntry, typename Flush>
[[gnu::always_inline]] inline void deal_to_groups(const BlockWidths& widths, std::size_t start,
                                                  Entry* (&next)[4], Entry* const (&full)[4],
                                                  MakeEntry entry, Flush flush) {
  for (std::size_t width = 0; width < 4; ++width) {
    // The free slot in a register while the width's candidates go in.
    Entry* slot = next[width];
    for (std::uint64_t lanes = widths.lanes[width]; lanes != 0; lanes &= lanes - 1) {
      *slot++ = entry(start + static_cast<std::size_t>(std::countr_zero(lanes)));
      if (slot == full[width]) {
        next[width] = slot;
        flush(width);
        slot = next[width];
      }
    }
    next[width] = slot;
  }
}

// Deals `candidates` to the pending groups of their lane width, a block of
// 64 at a time (see `deal_to_groups`), and hands each candidate that no lane
// takes (empty or longer than 64 bytes) to `other(index)`, after the lane
// candidates of its block. The groups still pending at the end are the
// caller's to flush.
template <typename Entry, typename MakeEntry, typename Flush, typename Other>
[[gnu::always_inline]] inline void deal_in_blocks(std::span<const std::string_view> candidates,
                                                  Entry* (&next)[4], Entry* const (&full)[4],
                                                  MakeEntry entry, Flush flush, Other other) {
  for (std::size_t start = 0; start < candidates.size(); start += 64) {
    const BlockWidths widths = block_widths(candidates.data() + start,
                                            std::min<std::size_t>(64, candidates.size() - start));
    deal_to_groups(widths, start, next, full, entry, flush);
    for (std::uint64_t rest = widths.others; rest != 0; rest &= rest - 1) {
      other(start + static_cast<std::size_t>(std::countr_zero(rest)));
    }
  }
}

// The query seen as a text of character classes: each distinct code point of
// the query (lower-cased under `case_insensitive`), all below 256, is one
// class, written as its Latin-1 byte.
struct LaneQuery {
  // Returns the lane text of `table`'s query: its 1 to 64 code points after
  // lower-casing (when folding), if all are below 256; else nothing, and
  // the lanes cannot take the query. An ASCII query of the fast table costs
  // no decoding; any other costs one decoding and lower-casing.
  static std::optional<LaneQuery> of(const BatchQuery& table) {
    const bool fold = table.case_insensitive;
    if (table.fast) {
      return LaneQuery(reinterpret_cast<const unsigned char*>(table.query_text.data()),
                       table.query_chars, fold);
    }
    // Lower-casing never shortens a text, so a longer query stays too long.
    if (table.query_chars == 0 || table.query_chars > 64) return std::nullopt;
    std::string lowered;
    std::string_view text = table.query_text;
    if (fold) {
      append_lowercase(text, lowered);
      text = lowered;
    }
    if (count_chars(text) > 64) return std::nullopt;  // U+0130 lower-cases to two
    char32_t chars[64];
    unsigned char latin1[64];
    const std::span<const char32_t> decoded = decode_short(text, chars);
    for (std::size_t i = 0; i < decoded.size(); ++i) {
      if (decoded[i] >= 256) return std::nullopt;
      latin1[i] = static_cast<unsigned char>(decoded[i]);
    }
    return LaneQuery(latin1, decoded.size(), fold);
  }

  // The query of `length` (1 to 64) Latin-1 code points `text`, each folded
  // by `kLatin1Lower` when `fold` (which leaves lower-cased text as it is).
  LaneQuery(const unsigned char* text, std::size_t length_in, bool fold_in)
      : length(length_in), fold(fold_in) {
    std::array<bool, 256> is_class{};
    std::array<std::uint8_t, 256> class_of{};
    for (std::size_t j = 0; j < length; ++j) {
      const std::uint8_t b = fold ? kLatin1Lower[text[j]] : text[j];
      if (!is_class[b]) {
        is_class[b] = true;
        class_of[b] = static_cast<std::uint8_t>(classes);
        class_byte[classes++] = b;
      }
      text_class[j] = class_of[b];
    }
  }

  std::array<std::uint8_t, 64> class_byte{};  // the folded byte of each class
  std::array<std::uint8_t, 64> text_class{};  // the class of each query position
  std::size_t length;                         // query code points, 1 to 64
  std::size_t classes = 0;                    // distinct (folded) code points of the query
  bool fold;
};

// One group of candidates laid out for the lane scans: 512 bytes of rows,
// `kGroupBytes / sizeof(T)` lanes of `8 * sizeof(T)` bytes each, candidate k
// in row k followed by zero bytes. The rows and the per-class masks have the
// layout of a group of lane vectors, so the 32-bit movemask of row bytes 32v
// to 32v + 31 is word v of a class's masks (16-bit, of 16 bytes, with SSE2).
inline constexpr std::size_t kRowBytes = 8 * kGroupBytes;

// Returns the row of a candidate of `n` bytes, 1 to 8 when `kWords` is 1 and
// 9 to 16 when it is 2, zero-padded, as little-endian words: two overlapping
// loads, the second shifted into place, so that the length picks no branch
// (but for the rare candidates of 1 to 3 bytes).
template <std::size_t kWords>
[[gnu::always_inline]] inline std::array<std::uint64_t, kWords> candidate_row(const char* from,
                                                                              std::size_t n) {
  static_assert(std::endian::native == std::endian::little);
  const auto byte = [&](std::size_t at) {
    return std::uint64_t{static_cast<unsigned char>(from[at])} << (8 * at);
  };
  if constexpr (kWords == 2) {
    std::uint64_t low, high;
    std::memcpy(&low, from, 8);
    std::memcpy(&high, from + n - 8, 8);
    return {low, high >> (8 * (16 - n))};  // bytes 8 to n - 1
  } else {
    // Words of fewer than 4 letters are rare enough for a branch.
    if (n < 4) [[unlikely]] {
      return {byte(0) | byte(n / 2) | byte(n - 1)};
    }
    std::uint32_t low, high;
    std::memcpy(&low, from, 4);
    std::memcpy(&high, from + n - 4, 4);
    return {low | (std::uint64_t{high} << (8 * (n - 4)))};
  }
}

// Copies the `n` bytes of a candidate that fills more than half of a lane of
// `kWidth` bytes (32 or 64) with two overlapping loads and stores.
template <std::size_t kWidth>
[[gnu::always_inline]] inline void copy_candidate(unsigned char* to, const char* from,
                                                  std::size_t n) {
  struct Chunk {
    unsigned char b[kWidth / 2];
  };
  Chunk chunk;
  std::memcpy(&chunk, from, sizeof chunk);
  std::memcpy(to, &chunk, sizeof chunk);
  std::memcpy(&chunk, from + n - sizeof chunk, sizeof chunk);
  std::memcpy(to + n - sizeof chunk, &chunk, sizeof chunk);
}

// Returns the lanes (bit k for lane k of `kWidth` bytes) of the gathered
// `rows` that hold a byte of 0x80 or above. `Masks::high_bytes` gives a bit
// per row byte, eight words of them; each lane's bits are then folded into
// one, a word at a time. Idle lanes are zero and never count.
template <std::size_t kWidth, typename Masks>
[[gnu::always_inline]] inline std::uint64_t high_bit_lanes(const unsigned char* rows) {
  std::uint64_t high[kRowBytes / 64];
  if (!Masks::high_bytes(rows, high)) return 0;
  std::uint64_t lanes = 0;
  for (std::size_t w = 0; w < kRowBytes / 64; ++w) {
    const std::uint64_t x = high[w];
    if constexpr (kWidth == 8) {
      // A byte of x for each lane: its bits gathered into bit 0 of the
      // byte, then the eight bits into one byte.
      std::uint64_t t = x | (x >> 4);
      t |= t >> 2;
      t |= t >> 1;
      lanes |= gather_byte_bits(t & kEachByte) << (8 * w);
    } else if constexpr (kWidth == 16) {
      // Two bytes of x for each lane: bits 0, 16, 32 and 48 gather them.
      std::uint64_t t = x | (x >> 8);
      t |= t >> 4;
      t |= t >> 2;
      t |= t >> 1;
      t &= 0x0001000100010001;
      t |= t >> 15;
      t |= t >> 30;
      lanes |= (t & 0xF) << (4 * w);
    } else if constexpr (kWidth == 32) {
      lanes |= std::uint64_t{(x & 0xFFFFFFFF) != 0} << (2 * w);
      lanes |= std::uint64_t{(x >> 32) != 0} << (2 * w + 1);
    } else {
      static_assert(kWidth == 64);
      lanes |= std::uint64_t{x != 0} << w;
    }
  }
  return lanes;
}

// Fills `rows` with the group's candidates (zero-padded) and `lengths` with each lane's bit mask of
// candidate positions (0 for idle lanes). Returns the lanes (bit k for lane k)
// whose candidate holds a byte of 0x80 or above: their scores are void.
template <typename T, typename Masks>
[[gnu::always_inline]] inline std::uint64_t gather_rows(const std::string_view* candidates,
                                                        const std::size_t* group, std::size_t count,
                                                        unsigned char* rows, T* lengths) {
  constexpr std::size_t kLanes = kGroupBytes / sizeof(T);
  constexpr std::size_t kWidth = kRowBytes / kLanes;
  // Whatever the padding matches lands above a lane's last position, where
  // neither the carries nor the shifts of the scan ever reach back down.
  if constexpr (kWidth <= 16) {
    constexpr std::size_t kWords = kWidth / 8;
    for (std::size_t k = 0; k < count; ++k) {
      const std::string_view candidate = candidates[group[k]];
      const auto row = candidate_row<kWords>(candidate.data(), candidate.size());
      std::memcpy(rows + k * kWidth, row.data(), kWidth);
      lengths[k] = static_cast<T>(~std::uint64_t{0} >> (64 - candidate.size()));
    }
    std::memset(rows + count * kWidth, 0, (kLanes - count) * kWidth);
  } else {
    std::memset(rows, 0, kRowBytes);
    for (std::size_t k = 0; k < count; ++k) {
      const std::string_view candidate = candidates[group[k]];
      copy_candidate<kWidth>(rows + k * kWidth, candidate.data(), candidate.size());
      lengths[k] = static_cast<T>(~std::uint64_t{0} >> (64 - candidate.size()));
    }
  }
  for (std::size_t k = count; k < kLanes; ++k) lengths[k] = 0;

  return high_bit_lanes<kWidth, Masks>(rows);
}

// Rewrites in place the lane row of `kWords` words at `row`, which holds the
// `n` bytes of a candidate followed by zero bytes, as Latin-1 bytes, one per
// code point, when the bytes are the UTF-8 of code points all below 256, and
// returns the number of code points; returns 65 otherwise. Such UTF-8 holds
// only ASCII bytes and the lead bytes 0xC2 and 0xC3, each followed by one
// continuation byte. The row is read a word at a time, eight bytes to a
// handful of word operations and no branch on a byte; then each lead byte is
// taken out, the bytes above it moving down one place, so the row stays
// zero-padded. Works on 32-bit targets too, where a word is two registers.
template <std::size_t kWords>
[[gnu::always_inline]] inline std::size_t latin1_row(unsigned char* row, std::size_t n) {
  static_assert(std::endian::native == std::endian::little);
  constexpr std::uint64_t kHigh = kEachByte << 7;
  constexpr std::uint64_t kLead = 0xC2C2C2C2C2C2C2C2;
  constexpr std::uint64_t kLeadMask = 0xFEFEFEFEFEFEFEFE;
  std::uint64_t w[kWords];
  std::memcpy(w, row, sizeof w);
  std::uint64_t lead[kWords];
  std::uint64_t bad = 0;
  std::uint64_t lead_carry = 0;  // bit 7 of byte 0: the last byte of the word before is a lead
  std::uint64_t c3_carry = 0;    // the same for 0xC3
  for (std::size_t t = 0; t < kWords; ++t) {
    // Bit 7 of each byte tells: 0xC2 or 0xC3 (an exact zero-byte test of
    // the byte's difference from 0xC2, bit 0 aside); from 0xC0; from 0x80
    // but below 0xC0.
    lead[t] = zero_bytes((w[t] ^ kLead) & kLeadMask);
    const std::uint64_t top = w[t] & (w[t] << 1) & kHigh;
    const std::uint64_t continuation = w[t] & kHigh & ~top;
    // No byte from 0xC0 but the leads, and a continuation byte right after
    // each lead byte and nowhere else.
    bad |= (top ^ lead[t]) | (continuation ^ ((lead[t] << 8) | lead_carry));
    // The continuation byte after 0xC3 gains 0x40, which becomes the code
    // point: 0x80 to 0xBF plus 0x40 carries into no other byte.
    const std::uint64_t c3 = lead[t] & (w[t] << 7);
    w[t] += ((c3 << 8) | c3_carry) >> 1;
    lead_carry = lead[t] >> 56;
    c3_carry = c3 >> 56;
  }
  // A lead byte last in the row has no continuation byte.
  if ((bad | lead_carry) != 0) return 65;
  std::size_t chars = n;
  // From the highest lead byte down, so that the places of the lower ones hold.
  for (std::size_t t = kWords; t-- > 0;) {
    for (std::uint64_t leads = lead[t]; leads != 0; --chars) {
      const int bit = 63 - std::countl_zero(leads);
      leads ^= std::uint64_t{1} << bit;
      // Bytes of word t below the lead stay; all above it move down one place.
      const std::uint64_t low = (std::uint64_t{1} << (bit & ~7)) - 1;
      for (std::size_t u = 0; u < kWords; ++u) {
        const std::uint64_t next = u + 1 < kWords ? w[u + 1] : 0;
        const std::uint64_t down = (w[u] >> 8) | (next << 56);
        const std::uint64_t keep = u < t ? ~std::uint64_t{0} : u == t ? low : 0;
        w[u] = (w[u] & keep) | (down & ~keep);
      }
    }
  }
  std::memcpy(row, w, sizeof w);
  return chars;
}

// Rewrites the row of each lane in `lanes` (bit k for lane k, a candidate
// holding a byte of 0x80 or above) with the candidate's Latin-1 form (see
// `latin1_row`) and sets its length mask. Returns the lanes whose candidate
// is not such a text (a code point from 256, or malformed UTF-8): their
// scores are void.
template <typename T, typename Masks>
[[gnu::always_inline]] inline std::uint64_t latin1_rows(const std::string_view* candidates,
                                                        const std::size_t* group,
                                                        std::uint64_t lanes, unsigned char* rows,
                                                        T* lengths) {
  constexpr std::size_t kWidth = kRowBytes / (kGroupBytes / sizeof(T));
  std::uint64_t not_latin1 = 0;
  for (; lanes != 0; lanes &= lanes - 1) {
    const auto k = static_cast<std::size_t>(std::countr_zero(lanes));
    const std::size_t j =
        Masks::template latin1_row<kWidth / 8>(rows + k * kWidth, candidates[group[k]].size());
    if (j > 64) {
      not_latin1 |= std::uint64_t{1} << k;
    } else {
      lengths[k] = static_cast<T>(~std::uint64_t{0} >> (64 - j));
    }
  }
  return not_latin1;
}

// Lower-cases the Latin-1 letters of `rows` as full Unicode lower-casing
// does (see `kLatin1Lower`): 'A' to 'Z', and U+00C0 to U+00DE but for U+00D7
// (the multiplication sign), gain 0x20.
[[gnu::always_inline]] inline void fold_rows(unsigned char* rows) {
  using Bytes = LaneVector<std::uint8_t>::type;
  for (std::size_t at = 0; at < kRowBytes; at += kVectorBytes) {
    Bytes r;
    std::memcpy(&r, rows + at, sizeof r);
    const Bytes upper = ((Bytes)(r - 'A' < 26) | (Bytes)(r - 0xC0 < 31)) & (Bytes)(r != 0xD7);
    r |= upper & 0x20;
    std::memcpy(rows + at, &r, sizeof r);
  }
}

// Runs the bit-parallel scan of the query over the lanes whose pattern masks
// `masks` (one group of vectors per class) holds, and writes each candidate's
// distance: the query length plus the vertical deltas of the last column, VP
// minus VN over the candidate's positions. A `Scan` whose `kDamerau` is set
// adds Hyyrö's transposition term. The vectors of a group are independent chains, written
// out one by one so that each stays in a register.
template <typename T, typename Scan>
[[gnu::always_inline]] inline void scan_rows(const LaneQuery& query, const T* masks,
                                             const T* lengths, const std::size_t* group,
                                             std::size_t count, std::size_t* out) {
  using V = typename LaneVector<T>::type;
  constexpr std::size_t kLanes = kGroupBytes / sizeof(T);
  constexpr std::size_t kPerVector = kVectorBytes / sizeof(T);
  constexpr std::size_t kVectors = kGroupBytes / kVectorBytes;
  const V zero = {};
  V VP[kVectors], VN[kVectors], D0_prev[kVectors], PM_prev[kVectors];
  for (std::size_t h = 0; h < kVectors; ++h) {
    VP[h] = ~zero;
    VN[h] = D0_prev[h] = PM_prev[h] = zero;
  }
  for (std::size_t j = 0; j < query.length; ++j) {
    const T* row = masks + query.text_class[j] * kLanes;
    for (std::size_t h = 0; h < kVectors; ++h) {
      V PM;
      std::memcpy(&PM, row + h * kPerVector, sizeof(V));
      V D0 = (((PM & VP[h]) + VP[h]) ^ VP[h]) | PM | VN[h];
      if constexpr (Scan::kDamerau) {
        D0 |= ((~D0_prev[h] & PM) << 1) & PM_prev[h];
        D0_prev[h] = D0;
        PM_prev[h] = PM;
      }
      const V HP = VN[h] | ~(D0 | VP[h]);
      const V HN = VP[h] & D0;
      const V HPs = (HP << 1) | 1;
      const V HNs = HN << 1;
      VP[h] = HNs | ~(D0 | HPs);
      VN[h] = HPs & D0;
    }
  }
  alignas(kVectorBytes) T distance[kLanes];
  for (std::size_t h = 0; h < kVectors; ++h) {
    V mask;
    std::memcpy(&mask, lengths + h * kPerVector, sizeof(V));
    // Population counts lane by lane, in the vectors; the distance, at most
    // 64 + 64, fits every lane width.
    V counts[2] = {VP[h] & mask, VN[h] & mask};
    for (V& x : counts) {
      x = x - ((x >> 1) & static_cast<T>(0x5555555555555555));
      x = (x & static_cast<T>(0x3333333333333333)) +
          ((x >> 2) & static_cast<T>(0x3333333333333333));
      x = (x + (x >> 4)) & static_cast<T>(0x0F0F0F0F0F0F0F0F);
      if constexpr (sizeof(T) >= 2) x += x >> 8;
      if constexpr (sizeof(T) >= 4) x += x >> 16;
      if constexpr (sizeof(T) >= 8) x += x >> 32;
      x &= static_cast<T>(0x7F);
    }
    const V d = static_cast<T>(query.length) + counts[0] - counts[1];
    std::memcpy(distance + h * kPerVector, &d, sizeof(V));
  }
  for (std::size_t k = 0; k < count; ++k) out[group[k]] = static_cast<std::size_t>(distance[k]);
}

#if defined(__x86_64__) || defined(__i386__)
// The byte shuffles that pack chosen bytes of eight to the front, zeroing
// the rest.
inline constexpr auto kPackedBytes = packing_permutations<std::uint8_t>(0x80);

// The per-class masks of one group with AVX2: the 32-bit movemask of each 32
// bytes of rows compared with the class byte.
struct Avx2Masks {
  using Word = std::uint32_t;
  static constexpr std::size_t kBytes = 32;

  // Writes word `c * (kRowBytes / 32) + v` of `masks` for each class c of
  // `query` (a `LaneQuery` or the Jaro-Winkler lanes' query: its `classes`
  // and their `class_byte`) and each vector v of `rows`. One comparison and
  // one movemask per class and vector.
  template <typename Query>
  __attribute__((target("avx2"))) static void build(const Query& query, const unsigned char* rows,
                                                    Word* masks) {
    for (std::size_t c = 0; c < query.classes; ++c) {
      const __m256i b = _mm256_set1_epi8(static_cast<char>(query.class_byte[c]));
      for (std::size_t v = 0; v < kRowBytes / kBytes; ++v) {
        const __m256i r = _mm256_load_si256(reinterpret_cast<const __m256i*>(rows + kBytes * v));
        masks[c * (kRowBytes / kBytes) + v] =
            static_cast<Word>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(r, b)));
      }
    }
  }

  // Returns whether any byte of `rows` is 0x80 or above, and then writes
  // bit b of `high[w]`: whether byte 64w + b is. One vector pass tells; then
  // one movemask per vector.
  __attribute__((target("avx2"))) static bool high_bytes(const unsigned char* rows,
                                                         std::uint64_t* high) {
    const auto* vectors = reinterpret_cast<const __m256i*>(rows);
    __m256i any = _mm256_load_si256(vectors);
    for (std::size_t v = 1; v < kRowBytes / 32; ++v) {
      any = _mm256_or_si256(any, _mm256_load_si256(vectors + v));
    }
    if (_mm256_movemask_epi8(any) == 0) return false;
    for (std::size_t w = 0; w < kRowBytes / 64; ++w) {
      const auto* at = reinterpret_cast<const __m256i*>(rows + 64 * w);
      const auto low = static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_load_si256(at)));
      const auto up = static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_load_si256(at + 1)));
      high[w] = low | (std::uint64_t{up} << 32);
    }
    return true;
  }

  // `latin1_row` for rows of up to 16 bytes with byte shuffles: the checks
  // are vector compares of the whole row, and the lead bytes drop out by
  // one shuffle per eight bytes, with no loop over them.
  template <std::size_t kWords>
  __attribute__((target("avx2,popcnt"))) static std::size_t latin1_row(unsigned char* row,
                                                                       std::size_t n) {
    if constexpr (kWords > 2) {
      return detail::latin1_row<kWords>(row, n);
    } else {
      const auto* at = reinterpret_cast<const __m128i*>(row);
      // Zero above a row of 8 bytes.
      const __m128i v = kWords == 2 ? _mm_loadu_si128(at) : _mm_loadl_epi64(at);
      const auto bytes = [](int b) { return _mm_set1_epi8(static_cast<char>(b)); };
      const __m128i lead = _mm_cmpeq_epi8(_mm_and_si128(v, bytes(0xFE)), bytes(0xC2));
      // From 0xC0: the unsigned maximum with 0xC0 is the byte itself.
      const __m128i top = _mm_cmpeq_epi8(_mm_max_epu8(v, bytes(0xC0)), v);
      const __m128i continuation = _mm_cmpeq_epi8(_mm_and_si128(v, bytes(0xC0)), bytes(0x80));
      // No byte from 0xC0 but the leads, and a continuation byte right after
      // each lead byte and nowhere else.
      const __m128i bad = _mm_or_si128(_mm_xor_si128(top, lead),
                                       _mm_xor_si128(continuation, _mm_slli_si128(lead, 1)));
      const auto leads = static_cast<unsigned>(_mm_movemask_epi8(lead));
      // A lead byte last in a row of 16 has no continuation byte (the shift
      // drops it; in a row of 8 the zero above it is no continuation byte).
      if (_mm_movemask_epi8(bad) != 0 || (leads >> 15) != 0) return 65;
      // The continuation byte after 0xC3 gains 0x40, which makes it the code
      // point; after 0xC2 it is already.
      const __m128i c3 = _mm_cmpeq_epi8(v, bytes(0xC3));
      const __m128i latin1 = _mm_add_epi8(v, _mm_and_si128(_mm_slli_si128(c3, 1), bytes(0x40)));
      // Keeps the bytes of eight that are not leads.
      const auto shuffle = [](unsigned leads_of_eight) {
        const auto& kept = kPackedBytes[~leads_of_eight & 0xFF];
        return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(kept.data()));
      };
      const __m128i low = _mm_shuffle_epi8(latin1, shuffle(leads & 0xFF));
      if constexpr (kWords == 2) {
        // The high eight bytes go after the low ones that stay, over the
        // zeros the low shuffle ends with; the row is cleared first, so that
        // it stays zero-padded.
        const __m128i high = _mm_shuffle_epi8(latin1, _mm_add_epi8(shuffle(leads >> 8), bytes(8)));
        const std::size_t kept = 8 - static_cast<std::size_t>(std::popcount(leads & 0xFF));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(row), _mm_setzero_si128());
        _mm_storel_epi64(reinterpret_cast<__m128i*>(row), low);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(row + kept), high);
      } else {
        _mm_storel_epi64(reinterpret_cast<__m128i*>(row), low);
      }
      return n - static_cast<std::size_t>(std::popcount(leads));
    }
  }
};

// The same masks with SSE2, 16 bytes of rows to a 16-bit word.
struct Sse2Masks {
  using Word = std::uint16_t;
  static constexpr std::size_t kBytes = 16;

  template <typename Query>
  __attribute__((target("sse2"))) static void build(const Query& query, const unsigned char* rows,
                                                    Word* masks) {
    for (std::size_t c = 0; c < query.classes; ++c) {
      const __m128i b = _mm_set1_epi8(static_cast<char>(query.class_byte[c]));
      for (std::size_t v = 0; v < kRowBytes / kBytes; ++v) {
        const __m128i r = _mm_load_si128(reinterpret_cast<const __m128i*>(rows + kBytes * v));
        masks[c * (kRowBytes / kBytes) + v] =
            static_cast<Word>(_mm_movemask_epi8(_mm_cmpeq_epi8(r, b)));
      }
    }
  }

  // `Avx2Masks::high_bytes` with SSE2.
  __attribute__((target("sse2"))) static bool high_bytes(const unsigned char* rows,
                                                         std::uint64_t* high) {
    const auto* vectors = reinterpret_cast<const __m128i*>(rows);
    __m128i any = _mm_load_si128(vectors);
    for (std::size_t v = 1; v < kRowBytes / 16; ++v) {
      any = _mm_or_si128(any, _mm_load_si128(vectors + v));
    }
    if (_mm_movemask_epi8(any) == 0) return false;
    for (std::size_t w = 0; w < kRowBytes / 64; ++w) {
      std::uint64_t word = 0;
      for (std::size_t q = 0; q < 4; ++q) {
        const __m128i r = _mm_load_si128(reinterpret_cast<const __m128i*>(rows + 64 * w + 16 * q));
        word |= std::uint64_t{static_cast<std::uint16_t>(_mm_movemask_epi8(r))} << (16 * q);
      }
      high[w] = word;
    }
    return true;
  }

  template <std::size_t kWords>
  static std::size_t latin1_row(unsigned char* row, std::size_t n) {
    return detail::latin1_row<kWords>(row, n);
  }
};

// Scores up to 64 / sizeof(T) candidates of more than 4 * sizeof(T) bytes
// (1 to 8 for the narrowest lanes) and at most 8 * sizeof(T): `group[k]`
// indexes `candidates`, and the distance of candidate `group[k]` goes to
// `out[group[k]]`. Candidates with bytes from 0x80 are scored on their
// Latin-1 form (see `latin1_rows`). Returns the lanes (bit k for `group[k]`)
// whose candidate has a code point from 256 or is malformed, whose `out`
// entry is void. Costs one comparison per class and vector of row bytes to
// build the masks (`Masks::build`), then one vector step per query
// character, for the whole group. Inlined into the per-target kernels below,
// which compile it for their instruction set.
template <typename T, typename Scan, typename Masks>
[[gnu::always_inline]] inline std::uint64_t scan_lanes(const LaneQuery& query,
                                                       const std::string_view* candidates,
                                                       const std::size_t* group, std::size_t count,
                                                       std::size_t* out) {
  constexpr std::size_t kLanes = kGroupBytes / sizeof(T);
  alignas(kVectorBytes) unsigned char rows[kRowBytes];
  alignas(kVectorBytes) T lengths[kLanes];
  alignas(kVectorBytes) typename Masks::Word masks[64 * kRowBytes / Masks::kBytes];
  std::uint64_t not_ascii = gather_rows<T, Masks>(candidates, group, count, rows, lengths);
  if (not_ascii != 0) {
    not_ascii = latin1_rows<T, Masks>(candidates, group, not_ascii, rows, lengths);
  }
  if (query.fold) fold_rows(rows);
  Masks::build(query, rows, masks);
  scan_rows<T, Scan>(query, reinterpret_cast<const T*>(masks), lengths, group, count, out);
  return not_ascii;
}

// `scan_lanes` for AVX2. `flatten` inlines the mask building, whose target
// the shared body lacks.
template <typename T, typename Scan>
__attribute__((target("avx2,popcnt"), flatten)) std::uint64_t scan_lanes_avx2(
    const LaneQuery& query, const std::string_view* candidates, const std::size_t* group,
    std::size_t count, std::size_t* out) {
  return scan_lanes<T, Scan, Avx2Masks>(query, candidates, group, count, out);
}

// `scan_lanes` for SSE2, the x86-64 baseline; on 32-bit x86 it is asked for
// at run time.
template <typename T, typename Scan>
__attribute__((target("sse2"), flatten)) std::uint64_t scan_lanes_sse2(
    const LaneQuery& query, const std::string_view* candidates, const std::size_t* group,
    std::size_t count, std::size_t* out) {
  return scan_lanes<T, Scan, Sse2Masks>(query, candidates, group, count, out);
}
#endif

// The lane scans of one measure for each lane width, compiled for one
// instruction set.
struct LaneKernels {
  // Scores one group of candidates (see `scan_lanes`) and returns its void lanes.
  using Kernel = std::uint64_t (*)(const LaneQuery&, const std::string_view*, const std::size_t*,
                                   std::size_t, std::size_t*);
  Kernel by_width[4];  // lanes of 8, 16, 32 and 64 bits
};

#if defined(__x86_64__) || defined(__i386__)
template <typename Scan>
inline constexpr LaneKernels kLaneKernelsAvx2 = {
    {scan_lanes_avx2<std::uint8_t, Scan>, scan_lanes_avx2<std::uint16_t, Scan>,
     scan_lanes_avx2<std::uint32_t, Scan>, scan_lanes_avx2<std::uint64_t, Scan>}};
template <typename Scan>
inline constexpr LaneKernels kLaneKernelsSse2 = {
    {scan_lanes_sse2<std::uint8_t, Scan>, scan_lanes_sse2<std::uint16_t, Scan>,
     scan_lanes_sse2<std::uint32_t, Scan>, scan_lanes_sse2<std::uint64_t, Scan>}};
#endif

}  // namespace quillmatch_core::detail

#endif  // QUILLMATCH_CORE_SRC_BATCH_LANES_H_
