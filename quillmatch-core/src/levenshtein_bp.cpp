// Levenshtein distance: the shared bit-parallel driver with Myers' scan.
#include "quillmatch_core/levenshtein_bp.h"

#include "bit_parallel.h"
#include "levenshtein_scan.h"

namespace quillmatch_core {

Result<std::size_t> levenshtein_bp(std::string_view str_1, std::string_view str_2,
                                   std::optional<std::size_t> max_len,
                                   std::optional<bool> case_insensitive,
                                   std::optional<std::size_t> score_cutoff) {
  return detail::bit_parallel_distance<detail::LevenshteinScan>(str_1, str_2, max_len,
                                                                case_insensitive, score_cutoff);
}

}  // namespace quillmatch_core
