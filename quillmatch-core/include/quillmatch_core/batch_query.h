// The query table shared by the Levenshtein and Damerau batch matchers.
#ifndef QUILLMATCH_CORE_BATCH_QUERY_H_
#define QUILLMATCH_CORE_BATCH_QUERY_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quillmatch_core {

// What a distance batch computes once per query: for an ASCII query of 1 to
// 64 bytes, a 256-entry table of position masks (both ASCII case forms of a
// letter share its bits when `case_insensitive`). Immutable once built.
struct BatchQuery {
  BatchQuery(std::string_view query, std::optional<bool> case_insensitive);

  std::string query_text;                  // the query, never lower-cased
  std::array<std::uint64_t, 256> masks{};  // all zero unless `fast`
  std::size_t query_chars = 0;             // code points of the query
  bool fast = false;                       // ASCII query of 1 to 64 bytes
  bool case_insensitive = false;
};

}  // namespace quillmatch_core

#endif  // QUILLMATCH_CORE_BATCH_QUERY_H_
