// Bit-parallel restricted Damerau (optimal string alignment) distance.
#ifndef QUILLMATCH_CORE_DAMERAU_BP_H_
#define QUILLMATCH_CORE_DAMERAU_BP_H_

#include <cstddef>
#include <optional>
#include <string_view>

#include "quillmatch_core/common.h"

namespace quillmatch_core {

// Returns the optimal-string-alignment distance from `str_1` to `str_2`: the
// Levenshtein edits plus transpositions of two adjacent code points, no
// substring edited twice ("CA" to "ABC" is 3). Options, errors and cost are
// those of `levenshtein_bp`.
Result<std::size_t> damerau_bp(std::string_view str_1, std::string_view str_2,
                               std::optional<std::size_t> max_len = std::nullopt,
                               std::optional<bool> case_insensitive = std::nullopt,
                               std::optional<std::size_t> score_cutoff = std::nullopt);

}  // namespace quillmatch_core

#endif  // QUILLMATCH_CORE_DAMERAU_BP_H_
