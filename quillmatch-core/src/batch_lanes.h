// Lane-parallel distance scans for the batch matchers: a group of short ASCII
// candidates is scored at once, each candidate the pattern of its own lane of
// a 32-byte vector and the query the text shared by every lane. The distances
// are symmetric, so this gives exactly the values of the one-at-a-time scan
// with the query as pattern. Lanes are as wide as the longest candidate they
// may hold: 8 bits (32 lanes) up to 64 bits (4 lanes).
//
// The kernels use GCC vector extensions; the callers instantiate them once per
// instruction set (see `LaneKernels`) and pick one at run time.
#ifndef QUILLMATCH_CORE_SRC_BATCH_LANES_H_
#define QUILLMATCH_CORE_SRC_BATCH_LANES_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>  // std::memcpy, std::memset
#include <span>
#include <string_view>

#include "quillmatch_core/batch_query.h"
#include "utf8.h"

namespace quillmatch_core::detail {

inline constexpr std::size_t kVectorBytes = 32;

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

// The query seen as a text of character classes: each distinct query byte
// (after ASCII folding under `case_insensitive`) is one class, and every byte
// value maps to the class it matches, or to a sink class that no query
// position reads.
struct LaneQuery {
  explicit LaneQuery(const BatchQuery& table) : length(table.query_chars) {
    std::array<std::uint8_t, 256> class_of_folded;
    class_of_folded.fill(0xFF);
    const auto fold = [&](unsigned char b) {
      return table.case_insensitive && b >= 'A' && b <= 'Z' ? static_cast<unsigned char>(b + 32)
                                                            : b;
    };
    for (std::size_t j = 0; j < length; ++j) {
      const unsigned char b = fold(static_cast<unsigned char>(table.query_text[j]));
      if (class_of_folded[b] == 0xFF) class_of_folded[b] = static_cast<std::uint8_t>(classes++);
      text_class[j] = class_of_folded[b];
    }
    for (std::size_t b = 0; b < 256; ++b) {
      const std::uint8_t c = class_of_folded[fold(static_cast<unsigned char>(b))];
      byte_class[b] = c == 0xFF ? static_cast<std::uint8_t>(classes) : c;
    }
  }

  std::array<std::uint8_t, 256> byte_class{};
  std::array<std::uint8_t, 64> text_class{};
  std::size_t length;       // query bytes, 1 to 64
  std::size_t classes = 0;  // distinct query bytes; also the sink class
};

// Scores up to 32 / sizeof(T) candidates, each 1 to 8 * sizeof(T) ASCII
// bytes: `group[k]` indexes `candidates`, and the distance of candidate
// `group[k]` goes to `out[group[k]]`. `kDamerau` adds Hyyrö's transposition
// term. Costs one vector step per query byte for the whole group.
template <typename T, bool kDamerau>
[[gnu::always_inline]] inline void scan_lanes(const LaneQuery& query, const std::string_view* candidates,
                                              const std::size_t* group, std::size_t count,
                                              std::size_t* out) {
  using V = typename LaneVector<T>::type;
  constexpr std::size_t kLanes = kVectorBytes / sizeof(T);
  alignas(kVectorBytes) T masks[65 * kLanes];
  alignas(kVectorBytes) T last[kLanes];
  alignas(kVectorBytes) T start[kLanes];
  for (std::size_t k = 0; k < kLanes; ++k) {
    // Cleared lane by lane with stores of the lane's width: the bit-setting
    // below then reads values it can take straight from the store buffer,
    // which a wide clearing store would not allow.
    for (std::size_t c = 0; c <= query.classes; ++c) masks[c * kLanes + k] = 0;
    // Idle lanes hold a one-character pattern that matches nothing.
    std::size_t len = 1;
    if (k < count) {
      const std::string_view candidate = candidates[group[k]];
      len = candidate.size();
      for (std::size_t i = 0; i < len; ++i) {
        masks[query.byte_class[static_cast<unsigned char>(candidate[i])] * kLanes + k] |=
            static_cast<T>(T{1} << i);
      }
    }
    last[k] = static_cast<T>(T{1} << (len - 1));
    start[k] = static_cast<T>(len);
  }

  V last_bit;
  V score;
  std::memcpy(&last_bit, last, sizeof(V));
  std::memcpy(&score, start, sizeof(V));
  const V zero = {};
  V VP = ~zero;
  V VN = zero;
  V D0_prev = zero;
  V PM_prev = zero;
  for (std::size_t j = 0; j < query.length; ++j) {
    V PM;
    std::memcpy(&PM, masks + query.text_class[j] * kLanes, sizeof(V));
    V D0 = (((PM & VP) + VP) ^ VP) | PM | VN;
    if constexpr (kDamerau) {
      D0 |= ((~D0_prev & PM) << 1) & PM_prev;
      D0_prev = D0;
      PM_prev = PM;
    }
    const V HP = VN | ~(D0 | VP);
    const V HN = VP & D0;
    // A comparison gives all ones (-1) in the lanes where it holds.
    score -= (V)((HP & last_bit) != zero);
    score += (V)((HN & last_bit) != zero);
    const V HPs = (HP << 1) | 1;
    const V HNs = HN << 1;
    VP = HNs | ~(D0 | HPs);
    VN = HPs & D0;
  }
  std::memcpy(start, &score, sizeof(V));
  for (std::size_t k = 0; k < count; ++k) out[group[k]] = static_cast<std::size_t>(start[k]);
}

// The lane scans of one measure for each lane width, compiled for one
// instruction set.
struct LaneKernels {
  using Kernel = void (*)(const LaneQuery&, const std::string_view*, const std::size_t*,
                          std::size_t, std::size_t*);
  Kernel by_width[4];  // lanes of 8, 16, 32 and 64 bits
};

#if defined(__x86_64__) || defined(__i386__)
template <typename T, bool kDamerau>
__attribute__((target("avx2"))) void scan_lanes_avx2(const LaneQuery& query,
                                                      const std::string_view* candidates,
                                                      const std::size_t* group, std::size_t count,
                                                      std::size_t* out) {
  scan_lanes<T, kDamerau>(query, candidates, group, count, out);
}

// SSE2 is the x86-64 baseline; on 32-bit x86 it is asked for at run time.
template <typename T, bool kDamerau>
__attribute__((target("sse2"))) void scan_lanes_sse2(const LaneQuery& query,
                                                      const std::string_view* candidates,
                                                      const std::size_t* group, std::size_t count,
                                                      std::size_t* out) {
  scan_lanes<T, kDamerau>(query, candidates, group, count, out);
}

// Returns the widest lane scans this CPU runs, or null where the plain scan
// is the better choice.
template <bool kDamerau>
const LaneKernels* lane_kernels() {
  static const LaneKernels avx2 = {{scan_lanes_avx2<std::uint8_t, kDamerau>,
                                    scan_lanes_avx2<std::uint16_t, kDamerau>,
                                    scan_lanes_avx2<std::uint32_t, kDamerau>,
                                    scan_lanes_avx2<std::uint64_t, kDamerau>}};
  static const LaneKernels sse2 = {{scan_lanes_sse2<std::uint8_t, kDamerau>,
                                    scan_lanes_sse2<std::uint16_t, kDamerau>,
                                    scan_lanes_sse2<std::uint32_t, kDamerau>,
                                    scan_lanes_sse2<std::uint64_t, kDamerau>}};
  static const LaneKernels* const chosen = [] {
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx2")) return &avx2;
    if (__builtin_cpu_supports("sse2")) return &sse2;
    return static_cast<const LaneKernels*>(nullptr);
  }();
  return chosen;
}
#else
template <bool kDamerau>
const LaneKernels* lane_kernels() {
  return nullptr;
}
#endif

// Scores every candidate against a fast query into `out` (sized to match):
// ASCII candidates of 1 to 64 bytes in groups of lanes by length, all others
// through `one`, the matcher's one-at-a-time distance.
template <typename One>
void score_in_lanes(const LaneKernels& kernels, const BatchQuery& table,
                    std::span<const std::string_view> candidates, std::size_t* out, One one) {
  const LaneQuery query(table);
  constexpr std::size_t kCapacity[4] = {32, 16, 8, 4};
  std::size_t pending[4][32];
  std::size_t filled[4] = {0, 0, 0, 0};
  for (std::size_t index = 0; index < candidates.size(); ++index) {
    const std::string_view candidate = candidates[index];
    const std::size_t len = candidate.size();
    if (len == 0 || len > 64 || !is_ascii(candidate)) {
      out[index] = one(candidate);
      continue;
    }
    const std::size_t width = len <= 8 ? 0 : len <= 16 ? 1 : len <= 32 ? 2 : 3;
    pending[width][filled[width]++] = index;
    if (filled[width] == kCapacity[width]) {
      kernels.by_width[width](query, candidates.data(), pending[width], filled[width], out);
      filled[width] = 0;
    }
  }
  for (std::size_t width = 0; width < 4; ++width) {
    if (filled[width] != 0) {
      kernels.by_width[width](query, candidates.data(), pending[width], filled[width], out);
    }
  }
}

}  // namespace quillmatch_core::detail

#endif  // QUILLMATCH_CORE_SRC_BATCH_LANES_H_
