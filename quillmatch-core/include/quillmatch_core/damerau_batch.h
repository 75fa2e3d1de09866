// One query against many candidates, restricted Damerau distance.
#ifndef QUILLMATCH_CORE_DAMERAU_BATCH_H_
#define QUILLMATCH_CORE_DAMERAU_BATCH_H_

#include <cstddef>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "quillmatch_core/batch_query.h"

namespace quillmatch_core {

// Scores candidates against one query with the distance of `damerau_bp`
// (no limit, no cut-off), building the query's mask table once.
class DamerauBatch {
 public:
  DamerauBatch(std::string_view query, std::optional<bool> case_insensitive);

  // Returns `damerau_bp(query, candidate, none, case_insensitive, none)`,
  // except that an empty query gives the code-point count of the unchanged
  // candidate. ASCII candidates of a fast query cost one word scan per byte
  // and no heap use. Read-only: may be shared by threads.
  std::size_t distance(std::string_view candidate) const;

  // The query table built by the constructor.
  const BatchQuery& query() const { return query_; }

 private:
  BatchQuery query_;
};

// Returns the distance from `query` to each candidate, in order. Never fails.
std::vector<std::size_t> damerau_batch(std::string_view query,
                                       std::span<const std::string_view> candidates,
                                       std::optional<bool> case_insensitive = std::nullopt);

}  // namespace quillmatch_core

#endif  // QUILLMATCH_CORE_DAMERAU_BATCH_H_
