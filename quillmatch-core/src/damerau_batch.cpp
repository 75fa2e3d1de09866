// One query against many candidates, restricted Damerau distance, on the
// query table shared with the Levenshtein batch.
#include "quillmatch_core/damerau_batch.h"

#include "damerau_scan.h"
#include "distance_batch.h"
#include "quillmatch_core/damerau_bp.h"

namespace quillmatch_core {

DamerauBatch::DamerauBatch(std::string_view query, std::optional<bool> case_insensitive)
    : query_(query, case_insensitive) {}

std::size_t DamerauBatch::distance(std::string_view candidate) const {
  return detail::batch_distance<detail::DamerauScan>(query_, candidate, damerau_bp);
}

std::vector<std::size_t> damerau_batch(std::string_view query,
                                       std::span<const std::string_view> candidates,
                                       std::optional<bool> case_insensitive) {
  const DamerauBatch matcher(query, case_insensitive);
  return detail::score_all<detail::DamerauScan>(matcher.query(), candidates);
}

}  // namespace quillmatch_core
