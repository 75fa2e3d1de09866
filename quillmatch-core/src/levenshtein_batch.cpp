// One query against many candidates, Levenshtein distance. Also builds the
// query table that the Damerau batch shares.
#include "quillmatch_core/levenshtein_batch.h"

#include "distance_batch.h"
#include "levenshtein_scan.h"
#include "pattern_masks.h"  // set_position_bits
#include "quillmatch_core/levenshtein_bp.h"
#include "utf8.h"

namespace quillmatch_core {

BatchQuery::BatchQuery(std::string_view query, std::optional<bool> case_insensitive_flag)
    : query_text(query), case_insensitive(case_insensitive_flag.value_or(false)) {
  if (!detail::is_ascii(query)) {
    query_chars = detail::count_chars(query);
    return;
  }
  query_chars = query.size();
  if (query_chars == 0 || query_chars > 64) return;
  detail::set_position_bits(masks.data(), query);
  if (case_insensitive) {
    // A letter also sets its bit under its other case form; other bytes keep one.
    for (std::size_t i = 0; i < query.size(); ++i) {
      const auto byte = static_cast<unsigned char>(query[i]);
      if (static_cast<unsigned>((byte | 0x20) - 'a') < 26u) {
        masks[byte ^ 0x20] |= std::uint64_t{1} << i;
      }
    }
  }
  fast = true;
}

LevenshteinBatch::LevenshteinBatch(std::string_view query, std::optional<bool> case_insensitive)
    : query_(query, case_insensitive) {}

std::size_t LevenshteinBatch::distance(std::string_view candidate) const {
  return detail::batch_distance<detail::LevenshteinScan>(query_, candidate, levenshtein_bp);
}

std::vector<std::size_t> levenshtein_batch(std::string_view query,
                                           std::span<const std::string_view> candidates,
                                           std::optional<bool> case_insensitive) {
  const LevenshteinBatch matcher(query, case_insensitive);
  return detail::score_all<detail::LevenshteinScan>(matcher.query(), candidates);
}

}  // namespace quillmatch_core
