// Restricted Damerau distance: the shared bit-parallel driver with Hyyrö's
// transposition scan.
#include "quillmatch_core/damerau_bp.h"

#include "bit_parallel.h"
#include "damerau_scan.h"

namespace quillmatch_core {

Result<std::size_t> damerau_bp(std::string_view str_1, std::string_view str_2,
                               std::optional<std::size_t> max_len,
                               std::optional<bool> case_insensitive,
                               std::optional<std::size_t> score_cutoff) {
  return detail::bit_parallel_distance<detail::DamerauScan>(str_1, str_2, max_len, case_insensitive,
                                                            score_cutoff);
}

}  // namespace quillmatch_core
