// Pieces of the Jaro-Winkler similarity that the pair measure and the batch
// matcher share, so both give the same double bit for bit.
#ifndef QUILLMATCH_CORE_SRC_JARO_WINKLER_SCORE_H_
#define QUILLMATCH_CORE_SRC_JARO_WINKLER_SCORE_H_

#include <cstddef>
#include <optional>

#include "quillmatch_core/common.h"
#include "quillmatch_core/jaro_winkler.h"

namespace quillmatch_core::detail {

// Returns the prefix scale to use, or `InvalidPrefixScale` for a negative or
// NaN scale or one above 0.25 (-0.0 passes, as it equals 0).
inline std::optional<InvalidPrefixScale> check_prefix_scale(std::optional<double> p,
                                                            double& scale) {
  scale = p.value_or(kDefaultPrefixScale);
  if (!(scale >= 0.0) || scale > 0.25) return InvalidPrefixScale{scale};
  return std::nullopt;
}

// Returns the Winkler-raised Jaro score for `matches` (at least 1) shared
// characters of which `mismatched` pairs stand in a different order, lengths
// `n1` and `n2`, and `prefix` (0 to 4) equal leading characters. The order of
// the floating-point operations is fixed.
inline double winkler_score(std::size_t matches, std::size_t mismatched, std::size_t n1,
                            std::size_t n2, std::size_t prefix, double p) {
  const auto m = static_cast<double>(matches);
  const double a = m / static_cast<double>(n1);
  const double b = m / static_cast<double>(n2);
  const double t = static_cast<double>(matches - mismatched / 2) / m;
  const double jaro = (t + (b + a)) / 3.0;
  if (jaro > 0.7) return jaro + (1.0 - jaro) * (p * static_cast<double>(prefix));
  return jaro;
}

}  // namespace quillmatch_core::detail

#endif  // QUILLMATCH_CORE_SRC_JARO_WINKLER_SCORE_H_
