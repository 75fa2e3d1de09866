// Jaro-Winkler similarity on three paths that give the same double: ASCII
// strings of up to 64 bytes with a table of position masks, code points of
// two strings of at most 64 characters in stack arrays with flags as bits,
// and longer strings, which find each match in per-code-point rows of
// position words, a few word operations per character instead of a scan of
// its window.
#include "quillmatch_core/jaro_winkler.h"

#include <algorithm>  // std::min
#include <bit>        // std::countr_zero
#include <cstdint>
#include <span>
#include <vector>

#include "jaro_winkler_score.h"
#include "pattern_masks.h"
#include "prepare.h"
#include "utf8.h"
#include "vector_masks.h"
#include "word_add.h"  // bit_count

namespace quillmatch_core {
namespace {

// Matched positions and mismatched pairs of two strings.
struct Matching {
  std::size_t matches = 0;
  std::size_t mismatched = 0;
};

// Counts the mismatched pairs between the k-th set bits of f1 and f2, which
// hold equally many bits.
template <typename Text>
std::size_t count_mismatched(const Text& s1, const Text& s2, std::uint64_t f1, std::uint64_t f2) {
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

// Both of at most 64 code points: the greedy window search as defined, with
// flags as bits.
template <typename Text>
Matching match_short(const Text& s1, const Text& s2) {
  const std::size_t n2 = s2.size();
  const std::size_t d = detail::match_distance(s1.size(), n2);
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

// The lookup key of a text element: a byte of an ASCII text, or the UTF-8
// key of a character.
unsigned char key_of(char byte) { return static_cast<unsigned char>(byte); }
std::uint32_t key_of(std::uint32_t key) { return key; }

// Both of at most 64 characters: position masks of s2 and a sliding window,
// taking the lowest free match in the window for each character of s1. The
// step has no branch: whether a character matches is as random as the text,
// and a mispredicted branch per unmatched character would cost more than the
// step.
template <typename Masks, typename Text>
Matching match_window(const Masks& masks, const Text& s1, const Text& s2) {
  const std::size_t d = detail::match_distance(s1.size(), s2.size());
  std::uint64_t window = (std::uint64_t{1} << (d + 1)) - 1;
  std::uint64_t f1 = 0;
  // The positions of s2 still free, so that the chain from one character to
  // the next is an and, the lowest bit and its removal.
  std::uint64_t unmatched = ~std::uint64_t{0};
  for (std::size_t i = 0; i < s1.size(); ++i) {
    const std::uint64_t free = masks.get(key_of(s1[i])) & window & unmatched;
    unmatched ^= free & (~free + 1);
    f1 |= std::uint64_t{free != 0} << i;
    window = (window << 1) | (i < d);
  }
  return {detail::bit_count(f1), count_mismatched(s1, s2, f1, ~unmatched)};
}

// Both ASCII of up to 64 bytes. Only the masks of s1's bytes are read, so a
// short pair clears just the entries of its own bytes, or a 16-bit table
// whole when s2 has at most 16 bytes.
Matching match_ascii(std::string_view s1, std::string_view s2) {
  if (s2.size() <= 16) return match_window(detail::NarrowAsciiMasks(s2), s1, s2);
  return match_window(detail::ByteMasks(s2, s1), s1, s2);
}

// Both of at most 64 characters given as UTF-8 keys, not both ASCII: the
// masks in a hash table keyed by character.
Matching match_keys_hashed(std::span<const std::uint32_t> s1, std::span<const std::uint32_t> s2) {
  return match_window(detail::KeyMasks(s2), s1, s2);
}

#if defined(__x86_64__) || defined(__i386__)
// `match_keys_hashed` with the masks from vector compares of s2's keys, for
// processors with AVX2, POPCNT and BMI: no table to clear and fill.
[[gnu::target("avx2,popcnt,bmi"), gnu::flatten]] Matching match_keys_avx2(
    std::span<const std::uint32_t> s1, std::span<const std::uint32_t> s2) {
  return match_window(detail::VectorKeyMasks(s2), s1, s2);
}
#endif

// The fastest of the two above that this processor runs; decided once.
Matching match_keys(std::span<const std::uint32_t> s1, std::span<const std::uint32_t> s2) {
#if defined(__x86_64__) || defined(__i386__)
  static const auto chosen = detail::has_vector_scans() ? match_keys_avx2 : match_keys_hashed;
  return chosen(s1, s2);
#else
  return match_keys_hashed(s1, s2);
#endif
}

// Any pair with more than 64 characters on a side: for each character of s1,
// the lowest free position of s2 in its window comes from the row of s2's
// positions of that character, word by word, and the flags are bits. Windows
// only move right and flags are only ever set, so a word that holds no free
// position of a character at or after its window's start never will again:
// each character's search resumes after such words.
Matching match_long(const std::vector<char32_t>& s1, const std::vector<char32_t>& s2) {
  const std::size_t n2 = s2.size();
  const std::size_t d = detail::match_distance(s1.size(), n2);
  const detail::BlockMasks positions(s2, detail::BlockMasks::block_count(n2));
  const std::size_t absent = positions.row_count() - 1;
  std::vector<std::size_t> resume(positions.row_count(), 0);
  std::vector<std::uint64_t> f1(s1.size() / 64 + 1, 0);
  std::vector<std::uint64_t> f2(positions.blocks(), 0);
  Matching result;
  for (std::size_t i = 0; i < s1.size(); ++i) {
    const std::size_t first = i > d ? i - d : 0;
    const std::size_t last = std::min(n2 - 1, i + d);
    if (first > last) break;  // every later window starts beyond s2 as well
    const std::size_t index = positions.row_index(s1[i]);
    if (index == absent) continue;
    const std::uint64_t* row = positions.row_at(index);
    bool dead_so_far = true;
    for (std::size_t w = std::max(resume[index], first / 64); w <= last / 64; ++w) {
      std::uint64_t live = row[w] & ~f2[w];
      if (w == first / 64) live &= ~std::uint64_t{0} << (first % 64);
      std::uint64_t free = live;
      if (w == last / 64) free &= ~std::uint64_t{0} >> (63 - last % 64);
      if (free != 0) {
        f2[w] |= free & (~free + 1);
        f1[i / 64] |= std::uint64_t{1} << (i % 64);
        ++result.matches;
        break;
      }
      dead_so_far = dead_so_far && live == 0;
      if (dead_so_far) resume[index] = w + 1;
    }
  }
  std::size_t w2 = 0;
  std::uint64_t bits2 = f2[0];
  for (std::size_t w1 = 0; w1 < f1.size(); ++w1) {
    for (std::uint64_t bits1 = f1[w1]; bits1 != 0; bits1 &= bits1 - 1) {
      while (bits2 == 0) bits2 = f2[++w2];
      const std::size_t i = w1 * 64 + static_cast<std::size_t>(std::countr_zero(bits1));
      const std::size_t j = w2 * 64 + static_cast<std::size_t>(std::countr_zero(bits2));
      result.mismatched += s1[i] != s2[j];
      bits2 &= bits2 - 1;
    }
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

// The similarity from a matching, then the cut-off: below it gives 0.0.
double finish(const Matching& matching, std::size_t n1, std::size_t n2, std::size_t prefix,
              double scale, std::optional<double> score_cutoff) {
  double similarity = 0.0;
  if (matching.matches != 0) {
    similarity =
        detail::winkler_score(matching.matches, matching.mismatched, n1, n2, prefix, scale);
  }
  if (score_cutoff && *score_cutoff > similarity) return 0.0;
  return similarity;
}

// Two texts that `ShortAsciiPair` takes. The same checks, in the same order,
// as the general path.
Result<double> short_ascii_similarity(std::string_view str_1, std::string_view str_2, double scale,
                                      std::optional<std::size_t> max_len, bool case_insensitive,
                                      std::optional<double> score_cutoff) {
  detail::ShortAsciiPair pair;
  if (auto error = pair.prepare(str_1, str_2, case_insensitive, max_len)) return *error;
  const std::size_t n1 = pair.text_1.size();
  const std::size_t n2 = pair.text_2.size();
  if (n1 == 0 || n2 == 0) return n1 == n2 ? 1.0 : 0.0;
  return finish(match_ascii(pair.text_1, pair.text_2), n1, n2,
                common_prefix(pair.text_1, pair.text_2), scale, score_cutoff);
}

// Two texts that `ShortKeyPair` read. The same checks, in the same order, as
// the general path.
Result<double> short_key_similarity(const detail::ShortKeyPair& pair, double scale,
                                    std::optional<std::size_t> max_len,
                                    std::optional<double> score_cutoff) {
  if (auto error = pair.check_limit(max_len)) return *error;
  const auto s1 = pair.keys_1();
  const auto s2 = pair.keys_2();
  if (s1.empty() || s2.empty()) return s1.size() == s2.size() ? 1.0 : 0.0;
  return finish(match_keys(s1, s2), s1.size(), s2.size(), common_prefix(s1, s2), scale,
                score_cutoff);
}

// Every pair that the short ASCII path does not take. Kept out of line, as
// the distances' general path is: its key and decoding buffers would
// otherwise make the frame of every short call.
[[gnu::noinline]] Result<double> general_similarity(std::string_view str_1, std::string_view str_2,
                                                    double scale,
                                                    std::optional<std::size_t> max_len,
                                                    std::optional<bool> case_insensitive,
                                                    std::optional<double> score_cutoff) {
  if (!case_insensitive.value_or(false)) {
    detail::ShortKeyPair keys;
    if (keys.read(str_1, str_2)) return short_key_similarity(keys, scale, max_len, score_cutoff);
  }
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
    matching = match_ascii(pair.text_1, pair.text_2);
    prefix = common_prefix(pair.text_1, pair.text_2);
  } else if (n1 <= 64 && n2 <= 64) {
    // Lower-cased texts; those compared as they are took the keys above
    // unless their UTF-8 is malformed.
    detail::ShortKeyPair keys;
    if (keys.read(pair.text_1, pair.text_2)) {
      matching = match_keys(keys.keys_1(), keys.keys_2());
      prefix = common_prefix(keys.keys_1(), keys.keys_2());
    } else {
      // Malformed UTF-8: the code points that the decoder gives.
      char32_t storage_1[64];
      char32_t storage_2[64];
      const auto s1 = detail::decode_short(pair.text_1, storage_1);
      const auto s2 = detail::decode_short(pair.text_2, storage_2);
      matching = match_short(s1, s2);
      prefix = common_prefix(s1, s2);
    }
  } else {
    std::vector<char32_t> s1;
    std::vector<char32_t> s2;
    detail::decode_all(pair.text_1, n1, s1);
    detail::decode_all(pair.text_2, n2, s2);
    matching = match_long(s1, s2);
    prefix = common_prefix(s1, s2);
  }
  return finish(matching, n1, n2, prefix, scale, score_cutoff);
}

}  // namespace

Result<double> jaro_winkler(std::string_view str_1, std::string_view str_2, std::optional<double> p,
                            std::optional<std::size_t> max_len,
                            std::optional<bool> case_insensitive,
                            std::optional<double> score_cutoff) {
  double scale;
  if (auto error = detail::check_prefix_scale(p, scale)) return *error;
  if (detail::ShortAsciiPair::fits(str_1, str_2)) {
    return short_ascii_similarity(str_1, str_2, scale, max_len, case_insensitive.value_or(false),
                                  score_cutoff);
  }
  return general_similarity(str_1, str_2, scale, max_len, case_insensitive, score_cutoff);
}

}  // namespace quillmatch_core
