// Jaro-Winkler similarity of two UTF-8 strings.
#ifndef QUILLMATCH_CORE_JARO_WINKLER_H_
#define QUILLMATCH_CORE_JARO_WINKLER_H_

#include <cstddef>
#include <optional>
#include <string_view>

#include "quillmatch_core/common.h"

namespace quillmatch_core {

// The prefix scale used when none is given.
inline constexpr double kDefaultPrefixScale = 0.1;

// Returns the Jaro-Winkler similarity of `str_1` and `str_2`, from 0.0 to 1.0,
// compared as code points. `p` (default 0.1) must lie in [0, 0.25], else
// `InvalidPrefixScale`, checked before anything else. `case_insensitive` and
// `max_len` act as in `levenshtein_bp`. A similarity below `score_cutoff`
// comes back as 0.0 (never for an empty input).
//
// Every path gives the same double bit for bit. Pairs of at most 64
// characters on each side use no heap, unless `case_insensitive` lower-cases
// a non-ASCII text or one of more than 64 bytes; longer pairs are decoded and
// each match costs a few word operations, O(N1 * window / 64) at worst.
Result<double> jaro_winkler(std::string_view str_1, std::string_view str_2,
                            std::optional<double> p = std::nullopt,
                            std::optional<std::size_t> max_len = std::nullopt,
                            std::optional<bool> case_insensitive = std::nullopt,
                            std::optional<double> score_cutoff = std::nullopt);

}  // namespace quillmatch_core

#endif  // QUILLMATCH_CORE_JARO_WINKLER_H_
