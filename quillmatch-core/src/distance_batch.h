// The scoring rule that the Levenshtein and Damerau batch matchers share:
// an empty query, the one-word fast path over ASCII candidates, and, for
// everything else, the pair function (one candidate at a time) or, for whole
// batches, the lane scans and then the code-point scorer, which prepares the
// query once.
#ifndef QUILLMATCH_CORE_SRC_DISTANCE_BATCH_H_
#define QUILLMATCH_CORE_SRC_DISTANCE_BATCH_H_

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
    score_in_lanes(*kernels, *lane_query, candidates, distances.data(), one);
  } else {
    for (std::size_t i = 0; i < candidates.size(); ++i) distances[i] = one(candidates[i]);
  }
  return distances;
}

}  // namespace quillmatch_core::detail

#endif  // QUILLMATCH_CORE_SRC_DISTANCE_BATCH_H_
