// Lane-parallel Jaro-Winkler matching for the batch: a group of candidates of
// 1 to 64 characters, every one below 256 (Latin-1 bytes), is matched at once,
// each candidate in its own lane and the query positions stepped in order,
// shared by every lane. Lanes are as wide as the longest candidate they may
// hold: 8 bits (64 lanes) up to 64 bits (8 lanes), laid out as the distance
// lanes lay theirs out (batch_lanes.h).
//
// Each lane runs the greedy matching with the query in the outer loop, as the
// pair measure does: query position j takes the lowest free candidate
// position of its character within the lane's window [j - d, j + d], d from
// the lane's own lengths. A second pass over the query pairs the k-th matched
// positions of both sides and counts the pairs that differ. The lanes hand
// back their counts; the score is formed outside the vector code, with the
// pair measure's own arithmetic, so doubles stay bit for bit the same.
#ifndef QUILLMATCH_CORE_SRC_JARO_WINKLER_LANES_H_
#define QUILLMATCH_CORE_SRC_JARO_WINKLER_LANES_H_

#include <algorithm>  // std::min
#include <array>
#include <bit>  // std::countr_one, std::countr_zero
#include <cstddef>
#include <cstdint>
#include <cstring>  // std::memcpy, std::memset
#include <span>
#include <string_view>
#include <type_traits>  // std::make_signed_t

#include "batch_lanes.h"  // the group layout, the row builders, Avx2Masks, Sse2Masks
#include "jaro_winkler_score.h"
#include "utf8.h"

namespace quillmatch_core::detail {

// Writes the code points of `text` to `out` as bytes when every one is below
// 256 and there are at most 64 of them, and returns their number; returns 65
// otherwise, and for any malformed UTF-8, which is left to the pair measure.
inline std::size_t to_latin1(std::string_view text, unsigned char* out) {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t size = text.size();
  std::size_t n = 0;
  for (std::size_t i = 0; i < size; ++n) {
    if (n == 64) return 65;
    if (p[i] < 0x80) {
      out[n] = p[i++];
    } else if ((p[i] & 0xFE) == 0xC2 && i + 1 < size && is_continuation(p[i + 1])) {
      out[n] = static_cast<unsigned char>((p[i] << 6) | (p[i + 1] & 0x3F));
      i += 2;
    } else {
      return 65;
    }
  }
  return n;
}

// The query seen as a text of character classes: each distinct query byte
// (its lower-cased Latin-1 code point when folding) is one class.
struct JaroWinklerLaneQuery {
  // `latin1`: the query's 1 to 64 code points as bytes, none of them 0,
  // lower-cased already when folding; `fold_candidates` lower-cases the
  // candidates' letters in the lanes.
  JaroWinklerLaneQuery(std::string_view latin1, bool fold_candidates)
      : length(latin1.size()), fold(fold_candidates) {
    std::array<std::uint8_t, 256> class_of;
    class_of.fill(64);
    for (std::size_t j = 0; j < length; ++j) {
      const auto b = static_cast<unsigned char>(latin1[j]);
      if (class_of[b] == 64) {
        class_of[b] = static_cast<std::uint8_t>(classes);
        class_byte[classes++] = b;
      }
      text_class[j] = class_of[b];
    }
    for (std::size_t size = 1; size <= 64; ++size) {
      const std::size_t d = match_distance(length, size);
      window_of[size] = (std::uint64_t{2} << d) - 1;
      reach_of[size] = static_cast<std::uint8_t>(d);
    }
  }

  std::array<std::uint8_t, 64> class_byte{};  // the byte of each class
  std::array<std::uint8_t, 64> text_class{};  // the class of each query position
  std::size_t length;                         // query characters, 1 to 64
  std::size_t classes = 0;                    // distinct query bytes
  bool fold;
  // By candidate length (0 for an idle lane): the window at the first query
  // position, low d + 1 bits (d at most 31), and the match distance d.
  std::array<std::uint64_t, 65> window_of{};
  std::array<std::uint8_t, 65> reach_of{};
};

// One candidate of a group: its 1 to 64 bytes (UTF-8, or Latin-1 code
// points for the lanes the caller marks so) and where its similarity goes.
struct LaneCandidate {
  const char* text;
  std::size_t size;
  std::size_t index;
};

// Returns the Jaro score of a query of `query_chars` characters and a
// candidate of `chars` (both 1 to 64) with `matches` matched characters and
// `transpositions` transpositions: the pair measure's ratios, from `ratios`,
// and order of operations; 0 when nothing matches.
inline double jaro_of_counts(const SmallRatios& ratios, std::size_t query_chars, std::size_t chars,
                             std::size_t matches, std::size_t transpositions) {
  if (matches == 0) return 0.0;
  return jaro_from_ratios(ratios.get(matches, query_chars), ratios.get(matches, chars),
                          ratios.get(matches - transpositions, matches));
}

// The Jaro scores of the query against candidates of 1 to 16 characters
// (those of the two narrowest lane widths, which take most words), by the
// candidate's length, matches and transpositions. Each length's row is
// worked out on first need with the pair measure's arithmetic, so a lookup
// gives the very double that the three ratios and the division would.
class ShortJaroScores {
 public:
  static constexpr std::size_t kMaxChars = 16;

  explicit ShortJaroScores(std::size_t query_chars) : query_chars_(query_chars) {}

  // Returns the Jaro score of a candidate of `chars` (1 to 16) characters of
  // which `matches` (at most `chars` and the query's length) are matched,
  // with `transpositions` (at most half the matches); 0 for no match.
  // `prepare` must have seen the length.
  double get(std::size_t chars, std::size_t matches, std::size_t transpositions) const {
    return jaro_[(chars * (kMaxChars + 1) + matches) * kTranspositions + transpositions];
  }

  // Works out the rows of the `count` lengths `chars` (1 to `most`, at most
  // 16) not seen yet; once every length up to `most` is, it costs a test.
  void prepare(const std::uint8_t* chars, std::size_t count, std::size_t most) {
    const std::uint32_t all = (std::uint32_t{2} << most) - 2;
    if ((filled_ & all) == all) return;
    std::uint32_t seen = 0;
    for (std::size_t k = 0; k < count; ++k) seen |= std::uint32_t{1} << chars[k];
    for (std::uint32_t rows = seen & ~filled_; rows != 0; rows &= rows - 1) {
      fill(static_cast<std::size_t>(std::countr_zero(rows)));
    }
  }

 private:
  static constexpr std::size_t kTranspositions = kMaxChars / 2 + 1;

  void fill(std::size_t chars) {
    const SmallRatios& ratios = SmallRatios::instance();
    double* row = jaro_ + chars * (kMaxChars + 1) * kTranspositions;
    for (std::size_t m = 0; m <= std::min(chars, query_chars_); ++m) {
      for (std::size_t t = 0; t <= m / 2; ++t) {
        row[m * kTranspositions + t] = jaro_of_counts(ratios, query_chars_, chars, m, t);
      }
    }
    filled_ |= std::uint32_t{1} << chars;
  }

  std::size_t query_chars_;
  std::uint32_t filled_ = 0;  // bit n: the row of length n is worked out
  double jaro_[(kMaxChars + 1) * (kMaxChars + 1) * kTranspositions];
};

// How the lanes turn what they find into similarities, with the pair
// measure's arithmetic: the query's Jaro scores for short candidates and the
// Winkler boost by the length of the common prefix.
struct LaneScoring {
  LaneScoring(std::size_t query_chars_in, double p)
      : query_chars(query_chars_in), short_scores(query_chars_in), ratios(SmallRatios::instance()) {
    for (std::size_t k = 0; k < 5; ++k) boost[k] = p * static_cast<double>(k);
  }

  std::size_t query_chars;
  ShortJaroScores short_scores;
  const SmallRatios& ratios;
  double boost[5];  // the prefix scale times 0 to 4
};

// Fills `rows` with the group's candidates (zero-padded: the query holds no
// zero byte, so the padding matches nothing) as Latin-1 bytes, their letters
// lower-cased when the query folds, `chars` with their lengths, and each
// lane's window at the first query position and match distance (window 0
// for idle lanes). The lanes in `latin1` hold Latin-1 bytes already; the
// others are UTF-8, rewritten in place (`latin1_row`) when they hold a
// byte of 0x80 or above. Returns the lanes whose candidate holds a code
// point from 256 or malformed UTF-8: their counts are void.
template <typename T, typename Masks>
[[gnu::always_inline]] inline std::uint64_t gather_jaro_winkler_rows(
    const JaroWinklerLaneQuery& query, const LaneCandidate* group, std::size_t count,
    std::uint64_t latin1, unsigned char* rows, T* window, T* reach, std::uint8_t* chars) {
  constexpr std::size_t kLanes = kGroupBytes / sizeof(T);
  constexpr std::size_t kWidth = kRowBytes / kLanes;
  // Each lane's length, window and match distance, set for its byte length
  // here and again below for a UTF-8 candidate that is shorter in Latin-1.
  const auto set_lane = [&](std::size_t k, std::size_t n) {
    chars[k] = static_cast<std::uint8_t>(n);
    // A window wider than the lane is cut to the lane's bits.
    window[k] = static_cast<T>(query.window_of[n]);
    reach[k] = static_cast<T>(query.reach_of[n]);
  };
  if constexpr (kWidth <= 16) {
    for (std::size_t k = 0; k < count; ++k) {
      const auto row = candidate_row<kWidth / 8>(group[k].text, group[k].size);
      std::memcpy(rows + k * kWidth, row.data(), kWidth);
      set_lane(k, group[k].size);
    }
    std::memset(rows + count * kWidth, 0, (kLanes - count) * kWidth);
  } else {
    std::memset(rows, 0, kRowBytes);
    for (std::size_t k = 0; k < count; ++k) {
      copy_candidate<kWidth>(rows + k * kWidth, group[k].text, group[k].size);
      set_lane(k, group[k].size);
    }
  }
  // Idle lanes match nothing.
  std::memset(window + count, 0, (kLanes - count) * sizeof(T));
  std::memset(reach + count, 0, (kLanes - count) * sizeof(T));

  const std::uint64_t wide = high_bit_lanes<kWidth, Masks>(rows);
  std::uint64_t not_latin1 = 0;
  for (std::uint64_t utf8 = wide & ~latin1; utf8 != 0; utf8 &= utf8 - 1) {
    const auto k = static_cast<std::size_t>(std::countr_zero(utf8));
    const std::size_t n = Masks::template latin1_row<kWidth / 8>(rows + k * kWidth, group[k].size);
    if (n > 64) {
      not_latin1 |= std::uint64_t{1} << k;
    } else {
      set_lane(k, n);
    }
  }
  if (query.fold) fold_rows(rows);
  return not_latin1;
}

// Matches every lane of a group against the query, whose per-class position
// masks `masks` holds (one group of lane vectors per class), and writes the
// similarity of each of the first `count` lanes, whose candidates have
// `chars` characters, to `out` at its candidate's index. Two passes of a few
// vector operations per query position, for the whole group.
template <typename T>
[[gnu::always_inline]] inline void match_jaro_winkler_rows(
    const JaroWinklerLaneQuery& query, const T* masks, const T* window0, const T* reach,
    const std::uint8_t* chars, const LaneCandidate* group, std::size_t count, LaneScoring& scoring,
    double* out) {
  using V = typename LaneVector<T>::type;
  using S = std::make_signed_t<T>;
  typedef S SV __attribute__((vector_size(kVectorBytes)));
  constexpr std::size_t kLanes = kGroupBytes / sizeof(T);
  constexpr std::size_t kPerVector = kVectorBytes / sizeof(T);
  constexpr std::size_t kVectors = kGroupBytes / kVectorBytes;
  const V zero = {};
  V taken[kVectors], window[kVectors];
  SV d[kVectors];
  for (std::size_t h = 0; h < kVectors; ++h) {
    taken[h] = zero;
    std::memcpy(&window[h], window0 + h * kPerVector, sizeof(V));
    std::memcpy(&d[h], reach + h * kPerVector, sizeof(V));
  }
  // The candidate position each query position took, 0 when none.
  V took[64][kVectors];
  const std::size_t n = query.length;
  for (std::size_t j = 0; j < n; ++j) {
    const T* row = masks + query.text_class[j] * kLanes;
    const SV at = SV{} + static_cast<S>(j);
    for (std::size_t h = 0; h < kVectors; ++h) {
      V PM;
      std::memcpy(&PM, row + h * kPerVector, sizeof(V));
      const V X = PM & window[h] & ~taken[h];
      const V lowest = X & (zero - X);
      taken[h] |= lowest;
      took[j][h] = lowest;
      // The window moves right; its left end stays at 0 while j < d.
      window[h] = (window[h] << 1) | ((V)(at < d[h]) & 1);
    }
  }
  // Pairs the k-th matched query position with the lowest candidate position
  // not paired yet; both counters run down from n, one step per query position
  // that matched nothing, resp. per pair that agrees.
  V unpaired[kVectors], unmatched[kVectors], agreeing[kVectors];
  for (std::size_t h = 0; h < kVectors; ++h) {
    unpaired[h] = taken[h];
    unmatched[h] = agreeing[h] = zero;
  }
  for (std::size_t j = 0; j < n; ++j) {
    const T* row = masks + query.text_class[j] * kLanes;
    for (std::size_t h = 0; h < kVectors; ++h) {
      V PM;
      std::memcpy(&PM, row + h * kPerVector, sizeof(V));
      const V none = (V)(took[j][h] == zero);
      const V low = unpaired[h] & (zero - unpaired[h]) & ~none;
      unpaired[h] ^= low;
      unmatched[h] += none;
      agreeing[h] += (V)((low & ~PM) == zero);
    }
  }
  V prefix[kVectors];
  for (std::size_t h = 0; h < kVectors; ++h) prefix[h] = zero;
  for (std::size_t k = 0; k < std::min<std::size_t>(n, 4); ++k) {
    const T* row = masks + query.text_class[k] * kLanes;
    // The bit in every lane, made by shifts of all ones: a scalar operand would
    // be promoted to int, which some builds refuse to narrow into the lanes,
    // and setting it lane by lane costs a step per lane.
    const V bit = (~zero >> (8 * sizeof(T) - 1)) << static_cast<T>(k);
    for (std::size_t h = 0; h < kVectors; ++h) {
      V PM;
      std::memcpy(&PM, row + h * kPerVector, sizeof(V));
      prefix[h] |= PM & bit;
    }
  }
  alignas(kVectorBytes) T lanes[3][kLanes];
  for (std::size_t h = 0; h < kVectors; ++h) {
    const V matches = static_cast<T>(n) + unmatched[h];
    const V mismatched = static_cast<T>(n) + agreeing[h];
    std::memcpy(lanes[0] + h * kPerVector, &matches, sizeof(V));
    std::memcpy(lanes[1] + h * kPerVector, &mismatched, sizeof(V));
    std::memcpy(lanes[2] + h * kPerVector, &prefix[h], sizeof(V));
  }
  // Prefix bits beyond the candidate are clear: the prefix stops there.
  const auto boost = [&](std::size_t k) {
    return scoring.boost[std::countr_one(static_cast<unsigned>(lanes[2][k]) & 0xFu)];
  };
  if constexpr (8 * sizeof(T) <= ShortJaroScores::kMaxChars) {
    scoring.short_scores.prepare(chars, count, 8 * sizeof(T));
    for (std::size_t k = 0; k < count; ++k) {
      const double jaro = scoring.short_scores.get(chars[k], static_cast<std::size_t>(lanes[0][k]),
                                                   static_cast<std::size_t>(lanes[1][k] / 2));
      out[group[k].index] = winkler_raise(jaro, boost(k));
    }
  } else {
    for (std::size_t k = 0; k < count; ++k) {
      // Counts of at most 64 fit any word.
      const double jaro = jaro_of_counts(scoring.ratios, scoring.query_chars, chars[k],
                                         static_cast<std::size_t>(lanes[0][k]),
                                         static_cast<std::size_t>(lanes[1][k] / 2));
      out[group[k].index] = winkler_raise(jaro, boost(k));
    }
  }
}

// Matches up to 64 / sizeof(T) candidates of more than 4 * sizeof(T)
// bytes (1 to 8 for the narrowest lanes) and at most 8 * sizeof(T) against
// the query, writing their similarities to `out` at their indexes; the lanes
// in `latin1` hold Latin-1 bytes, the others UTF-8. Returns the lanes whose
// candidate holds a code point from 256 or malformed UTF-8: what they wrote
// is void. Costs one comparison per class and vector of row bytes for the
// masks (`Masks::build`, batch_lanes.h), then two passes of vector steps per
// query position, for the whole group. Inlined into the per-target kernels
// below, which compile it for their instruction set.
template <typename T, typename Masks>
[[gnu::always_inline]] inline std::uint64_t match_lanes(const JaroWinklerLaneQuery& query,
                                                        const LaneCandidate* group,
                                                        std::size_t count, std::uint64_t latin1,
                                                        LaneScoring& scoring, double* out) {
  constexpr std::size_t kLanes = kGroupBytes / sizeof(T);
  alignas(kVectorBytes) unsigned char rows[kRowBytes];
  alignas(kVectorBytes) T window[kLanes], reach[kLanes];
  std::uint8_t chars[kLanes];
  alignas(kVectorBytes) typename Masks::Word masks[64 * kRowBytes / Masks::kBytes];
  const std::uint64_t void_lanes =
      gather_jaro_winkler_rows<T, Masks>(query, group, count, latin1, rows, window, reach, chars);
  Masks::build(query, rows, masks);
  match_jaro_winkler_rows(query, reinterpret_cast<const T*>(masks), window, reach, chars, group,
                          count, scoring, out);
  return void_lanes;
}

#if defined(__x86_64__) || defined(__i386__)
// `match_lanes` for AVX2 (every such processor counts bits in one
// instruction). `flatten` inlines the mask building, whose target the shared
// body lacks.
template <typename T>
__attribute__((target("avx2,popcnt"), flatten)) std::uint64_t match_lanes_avx2(
    const JaroWinklerLaneQuery& query, const LaneCandidate* group, std::size_t count,
    std::uint64_t latin1, LaneScoring& scoring, double* out) {
  return match_lanes<T, Avx2Masks>(query, group, count, latin1, scoring, out);
}

// `match_lanes` for SSE2, the x86-64 baseline; on 32-bit x86 it is asked for
// at run time.
template <typename T>
__attribute__((target("sse2"), flatten)) std::uint64_t match_lanes_sse2(
    const JaroWinklerLaneQuery& query, const LaneCandidate* group, std::size_t count,
    std::uint64_t latin1, LaneScoring& scoring, double* out) {
  return match_lanes<T, Sse2Masks>(query, group, count, latin1, scoring, out);
}
#endif

// The lane matchers for each lane width, compiled for one instruction set.
struct JaroWinklerLaneKernels {
  using Kernel = std::uint64_t (*)(const JaroWinklerLaneQuery&, const LaneCandidate*, std::size_t,
                                   std::uint64_t, LaneScoring&, double*);
  Kernel by_width[4];  // lanes of 8, 16, 32 and 64 bits
};

#if defined(__x86_64__) || defined(__i386__)
inline constexpr JaroWinklerLaneKernels kJaroWinklerLanesAvx2 = {
    {match_lanes_avx2<std::uint8_t>, match_lanes_avx2<std::uint16_t>,
     match_lanes_avx2<std::uint32_t>, match_lanes_avx2<std::uint64_t>}};
inline constexpr JaroWinklerLaneKernels kJaroWinklerLanesSse2 = {
    {match_lanes_sse2<std::uint8_t>, match_lanes_sse2<std::uint16_t>,
     match_lanes_sse2<std::uint32_t>, match_lanes_sse2<std::uint64_t>}};

// Returns the widest lane matchers this CPU runs, or null when it has none.
inline const JaroWinklerLaneKernels* jaro_winkler_lane_kernels() {
  static const JaroWinklerLaneKernels* const chosen = [] {
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx2")) return &kJaroWinklerLanesAvx2;
    if (__builtin_cpu_supports("sse2")) return &kJaroWinklerLanesSse2;
    return static_cast<const JaroWinklerLaneKernels*>(nullptr);
  }();
  return chosen;
}
#else
inline const JaroWinklerLaneKernels* jaro_winkler_lane_kernels() { return nullptr; }
#endif

// Scores every candidate against a query that has lanes into `out` (sized to
// match): candidates of 1 to 64 characters below 256 in groups of lanes by
// length, the others through `one`. Candidates of up to 64 bytes go to the
// lanes as they are, which read the UTF-8 of those that are not ASCII; longer
// ones are queued in their Latin-1 form when they have one. `p` is the
// checked prefix scale.
template <typename One>
void score_in_jaro_winkler_lanes(const JaroWinklerLaneKernels& kernels,
                                 const JaroWinklerLaneQuery& query, double p,
                                 std::span<const std::string_view> candidates, double* out,
                                 One one) {
  constexpr std::size_t kCapacity[4] = {kGroupBytes, kGroupBytes / 2, kGroupBytes / 4,
                                        kGroupBytes / 8};
  LaneCandidate pending[4][kGroupBytes];
  // The free slot of each group and its end: one pointer to bump and compare
  // per candidate.
  LaneCandidate* next[4] = {pending[0], pending[1], pending[2], pending[3]};
  LaneCandidate* const full[4] = {pending[0] + kCapacity[0], pending[1] + kCapacity[1],
                                  pending[2] + kCapacity[2], pending[3] + kCapacity[3]};
  std::uint64_t recoded[4] = {0, 0, 0, 0};  // lanes that hold Latin-1 bytes already
  unsigned char latin1[4][kGroupBytes][64];

  LaneScoring scoring(query.length, p);
  const auto flush = [&](std::size_t width) {
    const LaneCandidate* group = pending[width];
    const auto count = static_cast<std::size_t>(next[width] - group);
    const std::uint64_t void_lanes =
        kernels.by_width[width](query, group, count, recoded[width], scoring, out);
    // The void lanes wrote a similarity too, from their UTF-8 bytes: it is
    // replaced here.
    for (std::uint64_t lanes = void_lanes; lanes != 0; lanes &= lanes - 1) {
      const std::size_t index = group[std::countr_zero(lanes)].index;
      out[index] = one(candidates[index]);
    }
    next[width] = pending[width];
    recoded[width] = 0;
  };

  // Candidates of 1 to 64 bytes go to the lanes as they are; the others
  // (empty or longer) here.
  const auto other = [&](std::size_t index) {
    const std::string_view candidate = candidates[index];
    if (candidate.empty()) {
      out[index] = 0.0;  // the query is not empty
      return;
    }
    unsigned char bytes[64];
    // Counting first spares the byte-by-byte recoding of the many long
    // texts that hold more than 64 characters.
    const std::size_t chars = count_chars(candidate) > 64 ? 65 : to_latin1(candidate, bytes);
    if (chars > 64) {
      out[index] = one(candidate);
      return;
    }
    const std::size_t width = kLaneWidthOf[chars];
    const auto slot = static_cast<std::size_t>(next[width] - pending[width]);
    std::memcpy(latin1[width][slot], bytes, chars);
    *next[width]++ = {reinterpret_cast<const char*>(latin1[width][slot]), chars, index};
    recoded[width] |= std::uint64_t{1} << slot;
    if (slot + 1 == kCapacity[width]) flush(width);
  };
  deal_in_blocks(
      candidates, next, full,
      [&](std::size_t index) {
        return LaneCandidate{candidates[index].data(), candidates[index].size(), index};
      },
      flush, other);
  for (std::size_t width = 0; width < 4; ++width) {
    if (next[width] != pending[width]) flush(width);
  }
}

}  // namespace quillmatch_core::detail

#endif  // QUILLMATCH_CORE_SRC_JARO_WINKLER_LANES_H_
