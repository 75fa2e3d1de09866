// Pieces of the Jaro-Winkler similarity that the pair measure and the batch
// matcher share, so both give the same double bit for bit.
#ifndef QUILLMATCH_CORE_SRC_JARO_WINKLER_SCORE_H_
#define QUILLMATCH_CORE_SRC_JARO_WINKLER_SCORE_H_

#include <cstddef>
#include <optional>

#include "quillmatch_core/common.h"
#include "quillmatch_core/jaro_winkler.h"

namespace quillmatch_core::detail {

// Sets `scale` to the prefix scale to use (`p`, else the default) and returns
// nothing, or returns `InvalidPrefixScale` for a negative or NaN scale or one
// above 0.25 (-0.0 passes, as it equals 0).
inline std::optional<InvalidPrefixScale> check_prefix_scale(std::optional<double> p,
                                                            double& scale) {
  scale = p.value_or(kDefaultPrefixScale);
  if (!(scale >= 0.0) || scale > 0.25) return InvalidPrefixScale{scale};
  return std::nullopt;
}

// Returns the match distance of two strings of `n1` and `n2` characters:
// max(n1, n2) / 2 - 1, at least 0. Positions i and j may match when they
// differ by at most this.
inline std::size_t match_distance(std::size_t n1, std::size_t n2) {
  const std::size_t half = (n1 > n2 ? n1 : n2) / 2;
  return half > 0 ? half - 1 : 0;
}

// Returns the Jaro score from its three ratios (see `winkler_from_ratios`).
inline double jaro_from_ratios(double a, double b, double t) { return (t + (b + a)) / 3.0; }

// Returns the Jaro score `jaro` raised by Winkler's rule, `boost` being the
// prefix scale times the number of equal leading characters.
inline double winkler_raise(double jaro, double boost) {
  if (jaro > 0.7) return jaro + (1.0 - jaro) * boost;
  return jaro;
}

// Returns the Winkler-raised Jaro score from its three ratios: `a` = m / n1,
// `b` = m / n2 and `t` = (m - floor(mismatched / 2)) / m, with `prefix` (0 to
// 4) equal leading characters. The order of the operations is fixed.
inline double winkler_from_ratios(double a, double b, double t, std::size_t prefix, double p) {
  return winkler_raise(jaro_from_ratios(a, b, t), p * static_cast<double>(prefix));
}

// Returns the Winkler-raised Jaro score for `matches` (at least 1) shared
// characters of which `mismatched` pairs stand in a different order, lengths
// `n1` and `n2`, and `prefix` equal leading characters.
inline double winkler_score(std::size_t matches, std::size_t mismatched, std::size_t n1,
                            std::size_t n2, std::size_t prefix, double p) {
  const auto m = static_cast<double>(matches);
  // Half the half-transpositions, rounded down.
  const std::size_t transpositions = mismatched / 2;
  return winkler_from_ratios(m / static_cast<double>(n1), m / static_cast<double>(n2),
                             static_cast<double>(matches - transpositions) / m, prefix, p);
}

// The quotients n / d for 1 <= d <= 64 and 0 <= n <= d, each the correctly
// rounded double that the division gives, so a lookup stands for it exactly.
class SmallRatios {
 public:
  SmallRatios() {
    for (std::size_t d = 1; d <= 64; ++d) {
      for (std::size_t n = 0; n <= d; ++n) {
        quotients_[index(n, d)] = static_cast<double>(n) / static_cast<double>(d);
      }
    }
  }
  double get(std::size_t n, std::size_t d) const { return quotients_[index(n, d)]; }
  // Returns the quotients n / `d` for n from 0 to `d`, in order.
  const double* row(std::size_t d) const { return quotients_ + index(0, d); }

  // Returns the table, built on first use.
  static const SmallRatios& instance() {
    static const SmallRatios table;
    return table;
  }

 private:
  static std::size_t index(std::size_t n, std::size_t d) { return d * (d + 1) / 2 + n; }

  double quotients_[65 * 66 / 2];
};

}  // namespace quillmatch_core::detail

#endif  // QUILLMATCH_CORE_SRC_JARO_WINKLER_SCORE_H_
