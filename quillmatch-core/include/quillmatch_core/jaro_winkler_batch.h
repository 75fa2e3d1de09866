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
#include <utility>
#include <vector>

#include "quillmatch_core/common.h"

namespace quillmatch_core {

// What a Jaro-Winkler batch computes once per query: for an ASCII query of 1
// to 64 bytes, its ASCII-folded bytes and a 128-entry table of their position
// masks. Immutable once built.
struct JaroWinklerQuery {
  // The table of `query` with the checked prefix scale `p`.
  JaroWinklerQuery(std::string_view query, double p, bool case_insensitive);

  // A fast query's bytes, 'A' to 'Z' lower-cased when `case_insensitive`,
  // else empty: the Latin-1 text of the lane query, which the one-candidate
  // scan does without (it reads only `masks`).
  std::string query_folded;
  std::string query_text;                  // the query as given
  std::array<std::uint64_t, 128> masks{};  // all zero unless `fast`
  std::size_t query_chars = 0;             // code points of the query
  double p = 0.1;
  bool fast = false;  // ASCII query of 1 to 64 bytes
  bool case_insensitive = false;
};

// Scores candidates against one query with the similarity of `jaro_winkler`
// (no limit, no cut-off). The prefix scale is checked once, when built.
class JaroWinklerBatch {
 public:
  // Returns the matcher, or `InvalidPrefixScale` for a `p` outside [0, 0.25].
  static Result<JaroWinklerBatch> create(std::string_view query, std::optional<double> p,
                                         std::optional<bool> case_insensitive);

  // Returns `jaro_winkler(query, candidate, p, none, case_insensitive, none)`
  // bit for bit. ASCII candidates against an ASCII query of 1 to 64 bytes
  // cost a fixed number of word operations per byte and no heap use. Read-only:
  // may be shared by threads.
  double similarity(std::string_view candidate) const;

  // The query table built by `create`.
  const JaroWinklerQuery& query() const { return query_; }

 private:
  explicit JaroWinklerBatch(JaroWinklerQuery query) : query_(std::move(query)) {}

  JaroWinklerQuery query_;
};

// Returns the similarity of `query` and each candidate, in order, or
// `InvalidPrefixScale` (even for an empty candidate list).
Result<std::vector<double>> jaro_winkler_batch(std::string_view query,
                                               std::span<const std::string_view> candidates,
                                               std::optional<double> p = std::nullopt,
                                               std::optional<bool> case_insensitive = std::nullopt);

}  // namespace quillmatch_core

#endif  // QUILLMATCH_CORE_JARO_WINKLER_BATCH_H_
