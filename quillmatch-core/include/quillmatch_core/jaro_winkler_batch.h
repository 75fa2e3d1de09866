// One query against many candidates, Jaro-Winkler similarity.
#ifndef QUILLMATCH_CORE_JARO_WINKLER_BATCH_H_
#define QUILLMATCH_CORE_JARO_WINKLER_BATCH_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "quillmatch_core/common.h"

namespace quillmatch_core {

namespace detail {
struct JaroWinklerBatchScorer;
}  // namespace detail

// Scores candidates against one query with the similarity of `jaro_winkler`
// (no limit, no cut-off). The prefix scale is checked once, when built.
class JaroWinklerBatch {
 public:
  // Returns the matcher, or `InvalidPrefixScale` for a `p` outside [0, 0.25].
  static Result<JaroWinklerBatch> create(std::string_view query, std::optional<double> p,
                                         std::optional<bool> case_insensitive);

  // Returns `jaro_winkler(query, candidate, p, none, case_insensitive, none)`
  // bit for bit. ASCII candidates of up to 64 bytes against an ASCII query of
  // 1 to 64 bytes cost a fixed number of word operations per byte and no heap
  // use. Read-only: may be shared by threads.
  double similarity(std::string_view candidate) const;

 private:
  friend struct detail::JaroWinklerBatchScorer;  // the fast path, one or two at a time

  JaroWinklerBatch() = default;

  // Returns the pair measure's similarity of the query and `candidate`.
  double score_by_pair(std::string_view candidate) const;

  std::string query_folded_;  // ASCII-lower-cased query bytes when fast
  std::string query_text_;    // the query as given
  std::array<std::uint64_t, 128> masks_{};
  std::size_t query_chars_ = 0;
  double p_ = 0.1;
  bool fast_ = false;
  bool case_insensitive_ = false;
};

// Returns the similarity of `query` and each candidate, in order, or
// `InvalidPrefixScale` (even for an empty candidate list).
Result<std::vector<double>> jaro_winkler_batch(std::string_view query,
                                               std::span<const std::string_view> candidates,
                                               std::optional<double> p = std::nullopt,
                                               std::optional<bool> case_insensitive = std::nullopt);

}  // namespace quillmatch_core

#endif  // QUILLMATCH_CORE_JARO_WINKLER_BATCH_H_
