// Scheduling for the lane scans of the distance batches: the choice of the
// kernels this CPU runs, and the dealing of candidates into groups by byte
// length, one group per lane width, each scored when full.
#ifndef QUILLMATCH_CORE_SRC_LANE_SCHEDULE_H_
#define QUILLMATCH_CORE_SRC_LANE_SCHEDULE_H_

#include <bit>  // std::countr_zero
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "batch_lanes.h"

namespace quillmatch_core::detail {

#if defined(__x86_64__) || defined(__i386__)
// Returns the widest lane scans of `Scan` that this CPU runs (AVX2 with
// POPCNT, else SSE2), or null when it runs neither or is not x86. Decided
// once, on first use.
template <typename Scan>
const LaneKernels* lane_kernels() {
  static const LaneKernels* const chosen = [] {
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("popcnt")) {
      return &kLaneKernelsAvx2<Scan>;
    }
    if (__builtin_cpu_supports("sse2")) return &kLaneKernelsSse2<Scan>;
    return static_cast<const LaneKernels*>(nullptr);
  }();
  return chosen;
}
#else
template <typename Scan>
const LaneKernels* lane_kernels() {
  return nullptr;
}
#endif

// Pairs no candidate longer than 64 bytes: `score_in_lanes` without pairs.
struct NoLongPairs {
  bool takes(std::string_view /*candidate*/) const { return false; }
  void score(std::string_view /*a*/, std::string_view /*b*/, std::size_t& /*out_a*/,
             std::size_t& /*out_b*/) const {}
};

// Scores every candidate against `query` into `out` (sized to match):
// candidates of 1 to 64 bytes whose code points are all below 256 in groups
// of lanes by byte length, all others through `one`, the matcher's
// one-at-a-time distance, but for the longer candidates that `long_pairs`
// takes, which it scores two at a time (in the order they come; an odd one
// out goes to `one`). The lanes themselves find the candidates that are not
// ASCII, which skips a separate test of each.
template <typename One, typename LongPairs = NoLongPairs>
void score_in_lanes(const LaneKernels& kernels, const LaneQuery& query,
                    std::span<const std::string_view> candidates, std::size_t* out, One one,
                    LongPairs long_pairs = {}) {
  constexpr std::size_t kCapacity[4] = {kGroupBytes, kGroupBytes / 2, kGroupBytes / 4,
                                        kGroupBytes / 8};
  std::size_t pending[4][kGroupBytes];
  // The free slot of each group and its end: one pointer to bump and compare
  // per candidate.
  std::size_t* next[4] = {pending[0], pending[1], pending[2], pending[3]};
  std::size_t* const full[4] = {pending[0] + kCapacity[0], pending[1] + kCapacity[1],
                                pending[2] + kCapacity[2], pending[3] + kCapacity[3]};
  const auto flush = [&](std::size_t width) {
    const auto filled = static_cast<std::size_t>(next[width] - pending[width]);
    std::uint64_t void_lanes =
        kernels.by_width[width](query, candidates.data(), pending[width], filled, out);
    for (; void_lanes != 0; void_lanes &= void_lanes - 1) {
      const std::size_t index = pending[width][std::countr_zero(void_lanes)];
      out[index] = one(candidates[index]);
    }
    next[width] = pending[width];
  };
  constexpr std::size_t kNone = ~std::size_t{0};
  std::size_t held = kNone;  // a long candidate that waits for a partner
  deal_in_blocks(
      candidates, next, full, [](std::size_t index) { return index; }, flush,
      [&](std::size_t index) {
        if (candidates[index].empty() || !long_pairs.takes(candidates[index])) {
          out[index] = one(candidates[index]);
        } else if (held == kNone) {
          held = index;
        } else {
          long_pairs.score(candidates[held], candidates[index], out[held], out[index]);
          held = kNone;
        }
      });
  for (std::size_t width = 0; width < 4; ++width) {
    if (next[width] != pending[width]) flush(width);
  }
  if (held != kNone) out[held] = one(candidates[held]);
}

}  // namespace quillmatch_core::detail

#endif  // QUILLMATCH_CORE_SRC_LANE_SCHEDULE_H_
