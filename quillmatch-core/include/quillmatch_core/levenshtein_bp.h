// Bit-parallel Levenshtein distance between two UTF-8 strings.
#ifndef QUILLMATCH_CORE_LEVENSHTEIN_BP_H_
#define QUILLMATCH_CORE_LEVENSHTEIN_BP_H_

#include <cstddef>
#include <optional>
#include <string_view>

#include "quillmatch_core/common.h"

namespace quillmatch_core {

// Returns the Levenshtein distance (insertions, deletions, substitutions of
// code points) from `str_1` to `str_2`, both valid UTF-8.
//
// With `case_insensitive`, both strings are fully lower-cased first. With
// `max_len`, a string of more characters (after lower-casing) gives
// `InputTooLong`, `str_1` tested first. With `score_cutoff`, a distance above
// it comes back as `score_cutoff + 1`; the scan is never shortened except when
// the lengths alone differ by more than the cut-off.
//
// Where either text has at most 64 characters it is the pattern, and the scan
// costs a few word operations per character of the other, with no heap use
// unless `case_insensitive` lower-cases a non-ASCII text or one of more than
// 64 bytes. Otherwise O(ceil(m / 64) * n) time for m = |str_1|, n = |str_2|.
Result<std::size_t> levenshtein_bp(std::string_view str_1, std::string_view str_2,
                                   std::optional<std::size_t> max_len = std::nullopt,
                                   std::optional<bool> case_insensitive = std::nullopt,
                                   std::optional<std::size_t> score_cutoff = std::nullopt);

}  // namespace quillmatch_core

#endif  // QUILLMATCH_CORE_LEVENSHTEIN_BP_H_
