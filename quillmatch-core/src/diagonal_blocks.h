// The multi-word scans of the two distances, run block-diagonally in vector
// lanes.
//
// Block k of text position t reads only block k of position t-1 (its own VP
// and VN, and for the transposition term its D0 and pattern mask) and what
// block k-1 of position t hands up: the carry out of the addition and the top
// bits of HP, HN and ~D0_prev & PM, which the shifts move into bit 0. So the
// blocks of one stripe of L run in the L lanes of a vector along the
// anti-diagonal: in step s, lane l runs block gL+l at text position s-l, and
// reads what lane l-1 made one step before. A stripe keeps its blocks' state
// in registers over the whole text and hands its top block's carries for
// every text position to the next stripe through memory. Every cell gets the
// same inputs as in the column-by-column scan, so the distance is the same,
// bit for bit; only the order of the work differs.
#ifndef QUILLMATCH_CORE_SRC_DIAGONAL_BLOCKS_H_
#define QUILLMATCH_CORE_SRC_DIAGONAL_BLOCKS_H_

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

#include "pattern_masks.h"
#include "utf8.h"

namespace quillmatch_core::detail {

// Row pointers that the lanes may read beyond either end of the text.
constexpr std::size_t kDiagonalPad = 7;
// Carry entries beyond the text's, for the widest lanes.
constexpr std::size_t kDiagonalCarryPad = 2 * (kDiagonalPad + 1);

// What one block hands the block above it for one text position: the carry
// out of the addition (0 or 1), and HP, HN and ~D0_prev & PM, whose top bits
// the shifts move up.
struct BlockCarry {
  std::uint64_t add, HP, HN, fresh;
};

// Lane state of one stripe: the blocks' own vectors, what each lane made in
// the last step for the lane above, and the score changes seen in the lane
// of the last block.
template <typename V>
struct DiagonalState {
  V VP, VN, D0_prev, PM_prev;
  V add, HP, HN, fresh;
  V score;
};

// Moves every lane of `x` one lane up, stores the top lane in `top` and puts
// `low` into lane 0.
template <typename V>
[[gnu::always_inline]] inline void lanes_up(V& x, std::uint64_t& top, std::uint64_t low) {
  constexpr std::size_t kLanes = sizeof(V) / sizeof(std::uint64_t);
  top = x[kLanes - 1];
  // One shuffle of x and a broadcast of `low`: a permute and a blend.
  const V b = V{} + low;
  if constexpr (kLanes == 2) {
    x = __builtin_shufflevector(x, b, 2, 0);
  } else if constexpr (kLanes == 4) {
    x = __builtin_shufflevector(x, b, 4, 0, 1, 2);
  } else {
    static_assert(kLanes == 8);
    x = __builtin_shufflevector(x, b, 8, 0, 1, 2, 3, 4, 5, 6);
  }
}

// One step s of a stripe. `rows` is indexed by text position (valid from
// -kDiagonalPad to n - 1 + kDiagonalPad), `block` holds each lane's word of
// the row; the carries for lane 0 come from `in`, and the top lane's carries
// of step s-1 go to `out`. `Scan` (`LevenshteinScan` or `DamerauScan`) says
// by its `kDamerau` whether the transposition term runs. `kEdge` steps (the
// first L-1 and the last L-1) leave the lanes that lie outside the text
// unchanged.
template <typename V, typename Scan, bool kScore, bool kEdge>
[[gnu::always_inline]] inline void diagonal_step(DiagonalState<V>& st,
                                                 const std::uint64_t* const* rows,
                                                 const std::size_t* block, std::ptrdiff_t s,
                                                 std::size_t n, const BlockCarry& in,
                                                 BlockCarry& out, const V& last_lane,
                                                 unsigned last_shift) {
  constexpr std::size_t kLanes = sizeof(V) / sizeof(std::uint64_t);
  V PM;
  for (std::size_t l = 0; l < kLanes; ++l) {
    PM[l] = rows[s - static_cast<std::ptrdiff_t>(l)][block[l]];
  }
  V add_in = st.add, HP_in = st.HP, HN_in = st.HN, fresh_in = st.fresh;
  lanes_up(add_in, out.add, in.add);
  lanes_up(HP_in, out.HP, in.HP);
  lanes_up(HN_in, out.HN, in.HN);
  if constexpr (Scan::kDamerau) lanes_up(fresh_in, out.fresh, in.fresh);

  const V VP = st.VP;
  const V VN = st.VN;
  const V X = PM & VP;
  const V sum = X + VP + add_in;
  // The carry out of bit 63 of X + VP + carry, with X a subset of VP.
  st.add = (X | (VP & ~sum)) >> 63;
  V D0 = (sum ^ VP) | PM | VN;
  if constexpr (Scan::kDamerau) {
    const V fresh = ~st.D0_prev & PM;
    D0 |= ((fresh << 1) | (fresh_in >> 63)) & st.PM_prev;
    st.fresh = fresh;
  }
  const V HP = VN | ~(D0 | VP);
  const V HN = VP & D0;
  const V HPs = (HP << 1) | (HP_in >> 63);
  const V HNs = (HN << 1) | (HN_in >> 63);
  st.HP = HP;
  st.HN = HN;
  V new_VP = HNs | ~(D0 | HPs);
  V new_VN = HPs & D0;
  V delta{};
  if constexpr (kScore) delta = ((HP >> last_shift) & last_lane) - ((HN >> last_shift) & last_lane);
  if constexpr (kEdge) {
    V lane;
    for (std::size_t l = 0; l < kLanes; ++l) lane[l] = l;
    const V pos = static_cast<V>(V{} + static_cast<std::uint64_t>(s)) - lane;
    const V active = static_cast<V>(pos < static_cast<std::uint64_t>(n));  // wraps below 0
    new_VP = (new_VP & active) | (VP & ~active);
    new_VN = (new_VN & active) | (VN & ~active);
    if constexpr (Scan::kDamerau) {
      D0 = (D0 & active) | (st.D0_prev & ~active);
      PM = (PM & active) | (st.PM_prev & ~active);
    }
    delta &= active;
  }
  st.VP = new_VP;
  st.VN = new_VN;
  if constexpr (Scan::kDamerau) {
    st.D0_prev = D0;
    st.PM_prev = PM;
  }
  if constexpr (kScore) st.score += delta;
}

// Runs one stripe over the `n` text positions of one chunk, from and into
// its lane state `st`. Its score changes count only when `kScore` (the
// stripe holds the last block).
template <typename V, typename Scan, bool kScore>
[[gnu::always_inline]] inline void diagonal_stripe(DiagonalState<V>& st,
                                                   const std::uint64_t* const* rows, std::size_t n,
                                                   const std::size_t* block, const BlockCarry* in,
                                                   std::size_t in_stride, BlockCarry* out,
                                                   const V& last_lane, unsigned last_shift) {
  constexpr std::size_t kLanes = sizeof(V) / sizeof(std::uint64_t);
  const auto steps = static_cast<std::ptrdiff_t>(n + kLanes - 1);
  const auto lead = static_cast<std::ptrdiff_t>(kLanes - 1);
  const auto body_end = std::max(lead, static_cast<std::ptrdiff_t>(n));
  // Step s stores what the top lane made in step s-1, for text position
  // s-L, in out[s]: `out` is offset by L entries, and the stores of the first
  // steps land in that padding. Each store goes below the entry that the
  // same step reads (in[s] is entry s+L of the array), so `in` and `out` may
  // be the same array. The edge steps leave the lanes outside the chunk
  // as they were, and what those lanes hand up reaches only lanes outside it
  // too, so a chunk continues where the last one stopped.
  std::ptrdiff_t s = 0;
  for (; s < lead; ++s) {
    diagonal_step<V, Scan, kScore, true>(st, rows, block, s, n, in[s * in_stride], out[s],
                                         last_lane, last_shift);
  }
  for (; s < body_end; ++s) {
    diagonal_step<V, Scan, kScore, false>(st, rows, block, s, n, in[s * in_stride], out[s],
                                          last_lane, last_shift);
  }
  for (; s < steps; ++s) {
    diagonal_step<V, Scan, kScore, true>(st, rows, block, s, n, in[s * in_stride], out[s],
                                         last_lane, last_shift);
  }
  // The last step's top lane, for position n-1.
  out[s] = {st.add[kLanes - 1], st.HP[kLanes - 1], st.HN[kLanes - 1], st.fresh[kLanes - 1]};
}

// Text positions per chunk: the stripes run over one chunk after another,
// so the scratch stays small whatever the text's length.
constexpr std::size_t kDiagonalChunk = 2048;

// Returns the distance of the pattern whose rows `masks` holds (`m`
// characters) to `text` (bytes when `ascii`, else UTF-8).
template <typename V, typename Scan>
[[gnu::always_inline]] inline std::size_t diagonal_scan(const BlockMasks& masks, std::size_t m,
                                                        std::string_view text, bool ascii) {
  constexpr std::size_t kLanes = sizeof(V) / sizeof(std::uint64_t);
  // Block 0 receives no carry, and 1 into bit 0 of HPs.
  static constexpr BlockCarry kFirst = {0, std::uint64_t{1} << 63, 0, 0};
  const std::size_t blocks = masks.blocks();
  const std::size_t stripes = (blocks + kLanes - 1) / kLanes;
  const auto last_shift = static_cast<unsigned>((m - 1) % 64);
  const V zero{};
  // Each stripe's lane state between chunks, as bytes: a vector of
  // over-aligned vector types would depend on the allocator honouring it.
  const DiagonalState<V> initial = {~zero, zero, zero, zero, zero, zero, zero, zero, zero};
  std::vector<unsigned char> states(stripes * sizeof initial);
  for (std::size_t g = 0; g < stripes; ++g) {
    std::memcpy(states.data() + g * sizeof initial, &initial, sizeof initial);
  }
  // Rows outside the chunk are only read by lanes whose results are dropped.
  const std::size_t chunk = std::min(kDiagonalChunk, text.size());  // bytes bound characters
  std::vector<const std::uint64_t*> rows(chunk + 2 * kDiagonalPad,
                                         masks.row_at(masks.row_count() - 1));
  std::vector<BlockCarry> carries(chunk + kDiagonalCarryPad);
  const std::uint64_t** const at = rows.data() + kDiagonalPad;
  std::size_t pos = 0;
  if (!ascii) skip_stray(text, pos);
  while (pos < text.size()) {
    std::size_t n = 0;
    if (ascii) {
      for (; n < chunk && pos < text.size(); ++n) {
        at[n] = masks.get(static_cast<unsigned char>(text[pos++]));
      }
    } else {
      for (; n < chunk && pos < text.size(); ++n) at[n] = masks.get(decode_next(text, pos));
    }
    for (std::size_t g = 0; g < stripes; ++g) {
      // Lanes above the last block repeat it; nothing reads what they make.
      std::size_t block[kLanes];
      V last_lane{};
      for (std::size_t l = 0; l < kLanes; ++l) {
        block[l] = std::min(g * kLanes + l, blocks - 1);
        last_lane[l] = g * kLanes + l == blocks - 1;
      }
      const BlockCarry* in = g == 0 ? &kFirst : carries.data() + kLanes;
      const std::size_t in_stride = g == 0 ? 0 : 1;
      DiagonalState<V> st;
      std::memcpy(&st, states.data() + g * sizeof st, sizeof st);
      if (g + 1 == stripes) {
        diagonal_stripe<V, Scan, true>(st, at, n, block, in, in_stride, carries.data(), last_lane,
                                       last_shift);
      } else {
        diagonal_stripe<V, Scan, false>(st, at, n, block, in, in_stride, carries.data(), last_lane,
                                        last_shift);
      }
      std::memcpy(states.data() + g * sizeof st, &st, sizeof st);
    }
  }
  DiagonalState<V> last;
  std::memcpy(&last, states.data() + (stripes - 1) * sizeof last, sizeof last);
  std::uint64_t score = m;
  for (std::size_t l = 0; l < kLanes; ++l) score += last.score[l];
  return static_cast<std::size_t>(score);
}

// A `diagonal_scan` compiled for one lane width and instruction set.
using DiagonalKernel = std::size_t (*)(const BlockMasks& masks, std::size_t m,
                                       std::string_view text, bool ascii);

#if defined(__x86_64__) || defined(__i386__)
typedef std::uint64_t DiagonalV2 __attribute__((vector_size(16)));
typedef std::uint64_t DiagonalV4 __attribute__((vector_size(32)));
typedef std::uint64_t DiagonalV8 __attribute__((vector_size(64)));

template <typename Scan>
__attribute__((target("sse2"))) std::size_t diagonal_scan_sse2(const BlockMasks& masks,
                                                               std::size_t m, std::string_view text,
                                                               bool ascii) {
  return diagonal_scan<DiagonalV2, Scan>(masks, m, text, ascii);
}

template <typename Scan>
__attribute__((target("avx2"))) std::size_t diagonal_scan_avx2(const BlockMasks& masks,
                                                               std::size_t m, std::string_view text,
                                                               bool ascii) {
  return diagonal_scan<DiagonalV4, Scan>(masks, m, text, ascii);
}

template <typename Scan>
__attribute__((target("avx512f"))) std::size_t diagonal_scan_avx512(const BlockMasks& masks,
                                                                    std::size_t m,
                                                                    std::string_view text,
                                                                    bool ascii) {
  return diagonal_scan<DiagonalV8, Scan>(masks, m, text, ascii);
}

// Returns the diagonal kernel of `lanes` lanes (2, 4 or 8) when this CPU
// runs it, or null.
template <typename Scan>
DiagonalKernel diagonal_kernel_of(std::size_t lanes) {
  struct Kernels {
    DiagonalKernel sse2, avx2, avx512;
  };
  static const Kernels kernels = [] {
    __builtin_cpu_init();
    return Kernels{__builtin_cpu_supports("sse2") ? diagonal_scan_sse2<Scan> : nullptr,
                   __builtin_cpu_supports("avx2") ? diagonal_scan_avx2<Scan> : nullptr,
                   __builtin_cpu_supports("avx512f") ? diagonal_scan_avx512<Scan> : nullptr};
  }();
  return lanes == 2   ? kernels.sse2
         : lanes == 4 ? kernels.avx2
         : lanes == 8 ? kernels.avx512
                      : nullptr;
}

// Returns the diagonal kernel that runs `blocks` words fastest on this CPU,
// or null where the column-by-column scan is the better choice. A stripe
// step costs about as much as a column step of one block per lane, so the
// lanes must be filled, and two lanes do no better than the add-with-carry
// loop. On 32-bit x86 the kernels measured slower than the column scan or
// level with it (128 to 1000 characters; AVX2 ahead only at 1000), so the
// column scan stays there.
template <typename Scan>
DiagonalKernel diagonal_kernel(std::size_t blocks) {
#if defined(__i386__)
  (void)blocks;
  return nullptr;
#else
  constexpr std::size_t kNarrowest = 4;
  DiagonalKernel kernel = nullptr;
  for (std::size_t lanes = kNarrowest; lanes <= 8; lanes *= 2) {
    if (blocks < lanes) break;
    if (DiagonalKernel wider = diagonal_kernel_of<Scan>(lanes)) kernel = wider;
  }
  return kernel;
#endif
}
#else
template <typename Scan>
DiagonalKernel diagonal_kernel_of(std::size_t) {
  return nullptr;
}

template <typename Scan>
DiagonalKernel diagonal_kernel(std::size_t) {
  return nullptr;
}
#endif

}  // namespace quillmatch_core::detail

#endif  // QUILLMATCH_CORE_SRC_DIAGONAL_BLOCKS_H_
