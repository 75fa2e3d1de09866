// One query against many candidates, Jaro-Winkler similarity. An ASCII query
// of 1 to 64 bytes keeps a table of its position masks, and ASCII candidates
// of up to 64 bytes are matched against it: each candidate byte takes the
// lowest free query position in its window. Greedy matching gives the same
// matched positions from either side, so this equals the pair measure.
#include "quillmatch_core/jaro_winkler_batch.h"

#include <algorithm>  // std::max, std::min
#include <bit>        // std::countr_zero

#include "jaro_winkler_score.h"
#include "quillmatch_core/jaro_winkler.h"
#include "utf8.h"

namespace quillmatch_core {
namespace {

unsigned char fold_ascii(unsigned char byte, bool case_insensitive) {
  return case_insensitive && byte >= 'A' && byte <= 'Z' ? static_cast<unsigned char>(byte + 0x20)
                                                        : byte;
}

}  // namespace

Result<JaroWinklerBatch> JaroWinklerBatch::create(std::string_view query, std::optional<double> p,
                                                  std::optional<bool> case_insensitive) {
  JaroWinklerBatch matcher;
  if (auto error = detail::check_prefix_scale(p, matcher.p_)) return *error;
  matcher.case_insensitive_ = case_insensitive.value_or(false);
  if (!detail::is_ascii(query)) {
    matcher.query_chars_ = detail::count_chars(query);
  } else {
    matcher.query_chars_ = query.size();
    if (!query.empty() && query.size() <= 64) {
      matcher.query_folded_.resize(query.size());
      for (std::size_t j = 0; j < query.size(); ++j) {
        const unsigned char byte =
            fold_ascii(static_cast<unsigned char>(query[j]), matcher.case_insensitive_);
        matcher.query_folded_[j] = static_cast<char>(byte);
        matcher.masks_[byte] |= std::uint64_t{1} << j;
      }
      matcher.fast_ = true;
    }
  }
  matcher.query_text_ = query;
  return matcher;
}

double JaroWinklerBatch::similarity(std::string_view candidate) const {
  if (query_chars_ == 0) return candidate.empty() ? 1.0 : 0.0;
  if (candidate.empty()) return 0.0;
  if (!fast_ || candidate.size() > 64 || !detail::is_ascii(candidate)) {
    auto result = jaro_winkler(query_text_, candidate, p_, std::nullopt, case_insensitive_,
                               std::nullopt);
    return result ? result.value() : 0.0;
  }
  return case_insensitive_ ? score_fast<true>(candidate) : score_fast<false>(candidate);
}

template <bool kFold>
double JaroWinklerBatch::score_fast(std::string_view candidate) const {
  const auto fold = [](char byte) {
    const auto b = static_cast<unsigned char>(byte);
    return kFold ? fold_ascii(b, true) : b;
  };
  const std::size_t nq = query_chars_;
  const std::size_t nc = candidate.size();
  const std::size_t half = std::max(nq, nc) / 2;
  const std::size_t d = half > 0 ? half - 1 : 0;
  std::uint64_t window = (std::uint64_t{1} << (d + 1)) - 1;
  std::uint64_t fq = 0;
  std::uint64_t fc = 0;
  std::size_t matches = 0;  // the population count of fc, kept as it grows
  for (std::size_t i = 0; i < nc; ++i) {
    const std::uint64_t free = masks_[fold(candidate[i])] & ~fq & window;
    // Branch-free: whether a byte matches is close to a coin toss.
    const std::uint64_t lowest = free & (~free + 1);
    const std::uint64_t matched = lowest != 0;
    fq |= lowest;
    fc |= matched << i;
    matches += static_cast<std::size_t>(matched);
    window = (window << 1) | (i < d);
  }
  if (matches == 0) return 0.0;

  std::size_t mismatched = 0;
  while (fc != 0) {
    const auto i = static_cast<std::size_t>(std::countr_zero(fc));
    const auto j = static_cast<std::size_t>(std::countr_zero(fq));
    mismatched += fold(candidate[i]) != static_cast<unsigned char>(query_folded_[j]);
    fc &= fc - 1;
    fq &= fq - 1;
  }
  const std::size_t limit = std::min({nq, nc, std::size_t{4}});
  std::size_t prefix = 0;
  while (prefix < limit && fold(candidate[prefix]) == static_cast<unsigned char>(query_folded_[prefix])) {
    ++prefix;
  }
  // Every count is at most 64, so the quotients come from the table.
  const detail::SmallRatios& ratios = detail::SmallRatios::instance();
  return detail::winkler_from_ratios(ratios.get(matches, nq), ratios.get(matches, nc),
                                     ratios.get(matches - mismatched / 2, matches), prefix, p_);
}

Result<std::vector<double>> jaro_winkler_batch(std::string_view query,
                                               std::span<const std::string_view> candidates,
                                               std::optional<double> p,
                                               std::optional<bool> case_insensitive) {
  auto matcher = JaroWinklerBatch::create(query, p, case_insensitive);
  if (!matcher) return matcher.error();
  std::vector<double> similarities;
  similarities.reserve(candidates.size());
  for (std::string_view candidate : candidates) {
    similarities.push_back(matcher.value().similarity(candidate));
  }
  return similarities;
}

}  // namespace quillmatch_core
