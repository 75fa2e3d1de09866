// Jaro-Winkler similarity on three paths that give the same double: short
// ASCII strings with flag bits, ASCII strings of up to 64 bytes with a table
// of position masks, and everything else on decoded code points.
#include "quillmatch_core/jaro_winkler.h"

#include <algorithm>  // std::min
#include <bit>        // std::countr_zero
#include <cstdint>
#include <cstring>  // std::memset
#include <vector>

#include "jaro_winkler_score.h"
#include "prepare.h"
#include "utf8.h"

namespace quillmatch_core {
namespace {

// Matched positions and mismatched pairs of two strings.
struct Matching {
  std::size_t matches = 0;
  std::size_t mismatched = 0;
};

std::size_t match_distance(std::size_t n1, std::size_t n2) {
  const std::size_t half = std::max(n1, n2) / 2;
  return half > 0 ? half - 1 : 0;
}

// Counts the mismatched pairs between the k-th set bits of f1 and f2, which
// hold equally many bits.
std::size_t count_mismatched(std::string_view s1, std::string_view s2, std::uint64_t f1,
                             std::uint64_t f2) {
  std::size_t mismatched = 0;
  while (f1 != 0) {
    const int i = std::countr_zero(f1);
    const int j = std::countr_zero(f2);
    mismatched += s1[static_cast<std::size_t>(i)] != s2[static_cast<std::size_t>(j)];
    f1 &= f1 - 1;
    f2 &= f2 - 1;
  }
  return mismatched;
}

// Both ASCII, the longer at most 16 bytes: the greedy window search as
// defined, with flags as bits.
Matching match_short_bytes(std::string_view s1, std::string_view s2) {
  const std::size_t n2 = s2.size();
  const std::size_t d = match_distance(s1.size(), n2);
  std::uint64_t f1 = 0;
  std::uint64_t f2 = 0;
  std::size_t matches = 0;
  for (std::size_t i = 0; i < s1.size(); ++i) {
    const std::size_t last = std::min(n2 - 1, i + d);
    for (std::size_t j = i > d ? i - d : 0; j <= last; ++j) {
      if (!((f2 >> j) & 1) && s2[j] == s1[i]) {
        f1 |= std::uint64_t{1} << i;
        f2 |= std::uint64_t{1} << j;
        ++matches;
        break;
      }
    }
  }
  return {matches, count_mismatched(s1, s2, f1, f2)};
}

// Both ASCII of up to 64 bytes: position masks of s2 and a sliding window,
// taking the lowest free match in the window for each byte of s1.
Matching match_mask_bytes(std::string_view s1, std::string_view s2) {
  std::uint64_t masks[128];
  std::memset(masks, 0, sizeof masks);
  for (std::size_t j = 0; j < s2.size(); ++j) {
    masks[static_cast<unsigned char>(s2[j])] |= std::uint64_t{1} << j;
  }
  const std::size_t d = match_distance(s1.size(), s2.size());
  std::uint64_t window = (std::uint64_t{1} << (d + 1)) - 1;
  std::uint64_t f1 = 0;
  std::uint64_t f2 = 0;
  std::size_t matches = 0;  // the population count of f1, kept as it grows
  for (std::size_t i = 0; i < s1.size(); ++i) {
    const std::uint64_t free = masks[static_cast<unsigned char>(s1[i])] & ~f2 & window;
    if (free != 0) {
      f2 |= free & (~free + 1);
      f1 |= std::uint64_t{1} << i;
      ++matches;
    }
    window = (window << 1) | (i < d);
  }
  return {matches, count_mismatched(s1, s2, f1, f2)};
}

// Any other pair: the greedy window search on code points with byte flags.
Matching match_code_points(const std::vector<char32_t>& s1, const std::vector<char32_t>& s2) {
  const std::size_t n2 = s2.size();
  const std::size_t d = match_distance(s1.size(), n2);
  std::vector<unsigned char> flags_1(s1.size(), 0);
  std::vector<unsigned char> flags_2(n2, 0);
  Matching result;
  for (std::size_t i = 0; i < s1.size(); ++i) {
    const std::size_t last = std::min(n2 - 1, i + d);
    for (std::size_t j = i > d ? i - d : 0; j <= last; ++j) {
      if (!flags_2[j] && s2[j] == s1[i]) {
        flags_1[i] = 1;
        flags_2[j] = 1;
        ++result.matches;
        break;
      }
    }
  }
  std::size_t j = 0;
  for (std::size_t i = 0; i < s1.size(); ++i) {
    if (!flags_1[i]) continue;
    while (!flags_2[j]) ++j;
    result.mismatched += s1[i] != s2[j];
    ++j;
  }
  return result;
}

template <typename Text>
std::size_t common_prefix(const Text& s1, const Text& s2) {
  const std::size_t limit = std::min({s1.size(), s2.size(), std::size_t{4}});
  std::size_t prefix = 0;
  while (prefix < limit && s1[prefix] == s2[prefix]) ++prefix;
  return prefix;
}

}  // namespace

Result<double> jaro_winkler(std::string_view str_1, std::string_view str_2,
                            std::optional<double> p, std::optional<std::size_t> max_len,
                            std::optional<bool> case_insensitive,
                            std::optional<double> score_cutoff) {
  double scale;
  if (auto error = detail::check_prefix_scale(p, scale)) return *error;
  detail::PreparedPair pair;
  if (auto error = pair.prepare(str_1, str_2, case_insensitive.value_or(false), max_len)) {
    return *error;
  }
  const std::size_t n1 = pair.len_1;
  const std::size_t n2 = pair.len_2;
  if (n1 == 0 || n2 == 0) return n1 == n2 ? 1.0 : 0.0;

  Matching matching;
  std::size_t prefix;
  if (pair.ascii && n1 <= 64 && n2 <= 64) {
    matching = std::max(n1, n2) <= 16 ? match_short_bytes(pair.text_1, pair.text_2)
                                      : match_mask_bytes(pair.text_1, pair.text_2);
    prefix = common_prefix(pair.text_1, pair.text_2);
  } else {
    std::vector<char32_t> s1;
    std::vector<char32_t> s2;
    detail::decode_all(pair.text_1, n1, s1);
    detail::decode_all(pair.text_2, n2, s2);
    matching = match_code_points(s1, s2);
    prefix = common_prefix(s1, s2);
  }
  double similarity = 0.0;
  if (matching.matches != 0) {
    similarity = detail::winkler_score(matching.matches, matching.mismatched, n1, n2, prefix, scale);
  }
  if (score_cutoff && *score_cutoff > similarity) return 0.0;
  return similarity;
}

}  // namespace quillmatch_core
