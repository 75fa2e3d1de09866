// The scoring rule that the Levenshtein and Damerau batch matchers share:
// an empty query, the one-word fast path over ASCII candidates, and, for
// everything else, the pair function (one candidate at a time) or, for whole
// batches, the lane scans and then the code-point scorer, which prepares the
// query once.
#ifndef QUILLMATCH_CORE_SRC_DISTANCE_BATCH_H_
#define QUILLMATCH_CORE_SRC_DISTANCE_BATCH_H_

#include <algorithm>  // std::min
#include <cstddef>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "code_point_batch.h"
#include "lane_schedule.h"
#include "quillmatch_core/batch_query.h"
#include "quillmatch_core/common.h"
#include "utf8.h"

namespace quillmatch_core::detail {

// Returns the distance of `candidate` to the query of `table` when the empty
// query or the one-word byte scan of `Scan` decides it, else nothing.
template <typename Scan>
std::optional<std::size_t> quick_distance(const BatchQuery& table, std::string_view candidate) {
  if (table.query_chars == 0) return count_chars(candidate);
  if (table.fast && is_ascii(candidate)) {
    typename Scan::Word state(table.query_chars);
    for (unsigned char byte : candidate) state.step(table.masks[byte]);
    return state.score();
  }
  return std::nullopt;
}

// Scores the ASCII candidates of more than 64 bytes of a fast query two at a
// time, for `score_in_lanes`: the two one-word scans, each the one of
// `quick_distance`, step in one loop, where their independent chains of word
// operations overlap.
template <typename Scan>
struct LongAsciiPairs {
  const BatchQuery& table;

  bool takes(std::string_view candidate) const { return table.fast && is_ascii(candidate); }

  void score(std::string_view a, std::string_view b, std::size_t& out_a, std::size_t& out_b) const {
    typename Scan::Word scan_a(table.query_chars), scan_b(table.query_chars);
    const auto mask = [&](char byte) { return table.masks[static_cast<unsigned char>(byte)]; };
    const std::size_t shared = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < shared; ++i) {
      scan_a.step(mask(a[i]));
      scan_b.step(mask(b[i]));
    }
    for (std::size_t i = shared; i < a.size(); ++i) scan_a.step(mask(a[i]));
    for (std::size_t i = shared; i < b.size(); ++i) scan_b.step(mask(b[i]));
    out_a = scan_a.score();
    out_b = scan_b.score();
  }
};

// Returns the distance of `candidate` to the query of `table`: `Scan` is the
// measure's scan, `pair` its pair function (called with no limit and no
// cut-off, so it cannot fail).
template <typename Scan, typename Pair>
std::size_t batch_distance(const BatchQuery& table, std::string_view candidate, Pair pair) {
  if (auto quick = quick_distance<Scan>(table, candidate)) return *quick;
  auto result =
      pair(table.query_text, candidate, std::nullopt, table.case_insensitive, std::nullopt);
  if (!result) internal_fault("pair distance failed without a length limit");
  return result.value();
}

// Returns the distance of each candidate, in order, in a vector sized once.
// With a query of 1 to 64 code points below 256 (after lower-casing, when
// folding), short candidates of such code points go through the lane scans
// of `lane_kernels<Scan>()` where this CPU has them; the candidates
// that neither the lanes nor the byte scan take share one `CodePointScorer`,
// built on first need.
template <typename Scan>
std::vector<std::size_t> score_all(const BatchQuery& table,
                                   std::span<const std::string_view> candidates) {
  std::vector<std::size_t> distances(candidates.size());
  if (table.query_chars == 0) {
    // Each distance is the candidate's length. Counted here rather than
    // through `one`, whose optional went through the stack (a byte stored,
    // a word loaded back) and stalled on every candidate.
    for (std::size_t i = 0; i < candidates.size(); ++i) distances[i] = count_chars(candidates[i]);
    return distances;
  }
  std::optional<CodePointScorer<Scan>> scorer;
  const auto one = [&](std::string_view candidate) {
    if (auto quick = quick_distance<Scan>(table, candidate)) return *quick;
    if (!scorer) scorer.emplace(table);
    return scorer->distance(candidate);
  };
  const LaneKernels* kernels = lane_kernels<Scan>();
  const std::optional<LaneQuery> lane_query =
      kernels != nullptr ? LaneQuery::of(table) : std::nullopt;
  if (lane_query) {
    score_in_lanes(*kernels, *lane_query, candidates, distances.data(), one,
                   LongAsciiPairs<Scan>{table});
  } else {
    for (std::size_t i = 0; i < candidates.size(); ++i) distances[i] = one(candidates[i]);
  }
  return distances;
}

}  // namespace quillmatch_core::detail

#endif  // QUILLMATCH_CORE_SRC_DISTANCE_BATCH_H_
