// The driver shared by the bit-parallel Levenshtein and Damerau distances:
// preparation, the cut-off pre-check and cap, empty inputs, path choice and
// mask building. Only the scan differs between the two measures; each
// supplies it as a `Scan` type with two kernels:
//
//   Scan::Word   — state of the one-word scan: `Word(m)`, `step(PM)`,
//                  `score()`; PM is the text character's 64-bit mask.
//   Scan::Blocks — state of the multi-word scan: `Blocks(m, blocks)`,
//                  `step(row)`, `score()`; row is the character's B words.
//   Scan::kDamerau — whether the scan has the transposition term; the
//                  diagonal vector kernels (diagonal_blocks.h), keyed on the
//                  `Scan` type, take the multi-word scan instead of `Blocks`
//                  where the CPU has them.
#ifndef QUILLMATCH_CORE_SRC_BIT_PARALLEL_H_
#define QUILLMATCH_CORE_SRC_BIT_PARALLEL_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "affixes.h"
#include "diagonal_blocks.h"
#include "pattern_masks.h"
#include "prepare.h"
#include "quillmatch_core/common.h"
#include "utf8.h"
#include "vector_masks.h"

namespace quillmatch_core::detail {

// Runs `state.step(masks.get(c))` for each code point c of `text`.
template <typename State, typename Masks>
void scan_code_points(State& state, const Masks& masks, std::string_view text) {
  std::size_t pos = 0;
  skip_stray(text, pos);
  while (pos < text.size()) state.step(masks.get(decode_next(text, pos)));
}

// Runs the one-word scan of `text`'s bytes against `masks`.
template <typename Word, typename Masks>
std::size_t scan_bytes(std::size_t m, const Masks& masks, std::string_view text) {
  Word state(m);
  for (unsigned char byte : text) state.step(masks.get(byte));
  return state.score();
}

// The steps every path shares, in this order: the cut-off's pre-check on the
// lengths, the empty texts, `scan()` for two texts that are not empty, and
// the cut-off on its result.
template <typename ScanBoth>
std::size_t checked_distance(std::size_t m, std::size_t n, std::optional<std::size_t> score_cutoff,
                             ScanBoth scan) {
  if (score_cutoff && (m > n ? m - n : n - m) > *score_cutoff) return *score_cutoff + 1;
  const std::size_t distance = m == 0 || n == 0 ? m + n : scan();
  if (score_cutoff && distance > *score_cutoff) return *score_cutoff + 1;
  return distance;
}

// Runs the one-word scan of the ASCII `text` against the ASCII `pattern` (1 to
// 64 bytes, no shorter than `text`), both lower-cased first when `fold`, on
// what their common prefix and suffix leave. Patterns of up to 16 bytes index
// a table of 16-bit masks, whose 256 bytes are cleared whole faster than the
// wider table's entries one by one.
template <typename Word>
std::size_t scan_ascii(std::string_view pattern, std::string_view text, bool fold) {
  char folded_pattern[ShortAsciiPair::kMaxBytes];
  char folded_text[ShortAsciiPair::kMaxBytes];
  if (fold) {
    lowercase_ascii(pattern, folded_pattern);
    lowercase_ascii(text, folded_text);
    pattern = {folded_pattern, pattern.size()};
    text = {folded_text, text.size()};
  }
  const Affixes cut = common_affixes(std::span(pattern), std::span(text));
  pattern = pattern.substr(cut.prefix, cut.rest(pattern.size()));
  text = text.substr(cut.prefix, cut.rest(text.size()));
  if (pattern.empty() || text.empty()) return pattern.size() + text.size();
  if (pattern.size() <= 16) {
    return scan_bytes<Word>(pattern.size(), NarrowAsciiMasks(pattern), text);
  }
  return scan_bytes<Word>(pattern.size(), ByteMasks(pattern, text), text);
}

#if defined(__x86_64__) || defined(__i386__)
// `scan_ascii` for processors with AVX2, POPCNT and BMI: the masks come from
// vector compares, with no table to clear and fill (and no loop over the
// pattern, whose exit is hard to predict), and so do the common prefix and
// suffix; the final column's bit counts are one instruction each. Bit i of a
// text byte's mask is pattern position i of the whole pattern, shifted down
// by the prefix to what is left.
template <typename Word>
[[gnu::target("avx2,popcnt,bmi"), gnu::flatten]] std::size_t scan_ascii_avx2(
    std::string_view pattern, std::string_view text, bool fold) {
  const std::size_t m = pattern.size();
  const std::size_t n = text.size();
  if (m <= 16) {
    const __m256i p = short_ascii_bytes(pattern, fold, true);
    const __m256i t = short_ascii_bytes(text, fold, false);
    const Affixes cut = short_affixes(p, m, t, n);
    if (cut.rest(n) == 0) return cut.rest(m);
    std::uint16_t masks[16];
    short_position_masks(p, t, masks);
    Word state(cut.rest(m));
    for (std::size_t i = cut.prefix; i < n - cut.suffix; ++i) state.step(masks[i] >> cut.prefix);
    return state.score();
  }
  const AsciiBytes p(pattern, fold);
  const AsciiBytes t(text, fold);
  const Affixes cut = ascii_affixes(p, m, t, n);
  if (cut.rest(n) == 0) return cut.rest(m);
  const VectorAsciiMasks masks(p, m);
  alignas(32) char folded[64];
  if (fold) {
    _mm256_store_si256(reinterpret_cast<__m256i*>(folded), t.low);
    _mm256_store_si256(reinterpret_cast<__m256i*>(folded + 32), t.high);
    text = {folded, n};
  }
  Word state(cut.rest(m));
  for (std::size_t i = cut.prefix; i < n - cut.suffix; ++i) {
    state.step(masks.get(static_cast<unsigned char>(text[i])) >> cut.prefix);
  }
  return state.score();
}
#endif

// Returns the fastest `scan_ascii` this processor runs, for a text no longer
// than its pattern; decided once, on first use.
template <typename Word>
auto ascii_scanner() {
#if defined(__x86_64__) || defined(__i386__)
  static const auto chosen = has_vector_scans() ? scan_ascii_avx2<Word> : scan_ascii<Word>;
#else
  static const auto chosen = scan_ascii<Word>;
#endif
  return chosen;
}

// The distance of two ASCII texts of at most 64 bytes each, with the longer
// text as the pattern (fewer steps). The same checks, in the same order, as
// the general path below; lower-casing ASCII keeps every length, so the
// limit is checked on the texts as given, and the scan folds them.
template <typename Scan>
Result<std::size_t> short_ascii_distance(std::string_view str_1, std::string_view str_2,
                                         std::optional<std::size_t> max_len, bool case_insensitive,
                                         std::optional<std::size_t> score_cutoff) {
  const std::size_t m = str_1.size();
  const std::size_t n = str_2.size();
  if (max_len) {
    if (m > *max_len) return InputTooLong{"str_1", m, *max_len};
    if (n > *max_len) return InputTooLong{"str_2", n, *max_len};
  }
  return checked_distance(m, n, score_cutoff, [&] {
    // Selected, not branched on: which text is longer is a coin toss.
    const bool swap = n > m;
    return ascii_scanner<typename Scan::Word>()(swap ? str_2 : str_1, swap ? str_1 : str_2,
                                                case_insensitive);
  });
}

// Runs the one-word scan of `text` against the `m` code points (1 to 64) of
// `pattern`, not both ASCII. Shortest-form UTF-8 is scanned by character
// keys, never decoded, with `Masks` of the pattern's keys; otherwise both
// texts are decoded afresh, malformed sequences as `decode_next` takes them.
template <typename Word, typename Masks>
std::size_t scan_code_point_word(std::string_view pattern, std::size_t m, std::string_view text) {
  std::uint32_t keys[64];
  if (short_keys(pattern, keys) == m) {
    const Masks masks({keys, m});
    Word state(m);
    if (for_each_key(text, [&](std::uint32_t key) { state.step(masks.get(key)); })) {
      return state.score();
    }
  }
  const CodePointMasks masks(pattern, m);
  Word state(m);
  scan_code_points(state, masks, text);
  return state.score();
}

#if defined(__x86_64__) || defined(__i386__)
// `scan_code_point_word` with key masks from vector compares, for processors
// with AVX2, POPCNT and BMI.
template <typename Word>
[[gnu::target("avx2,popcnt,bmi"), gnu::flatten]] std::size_t scan_code_point_word_avx2(
    std::string_view pattern, std::size_t m, std::string_view text) {
  return scan_code_point_word<Word, VectorKeyMasks>(pattern, m, text);
}
#endif

// Returns the fastest `scan_code_point_word` this processor runs; decided
// once, on first use.
template <typename Word>
auto code_point_word_scanner() {
#if defined(__x86_64__) || defined(__i386__)
  static const auto chosen =
      has_vector_scans() ? scan_code_point_word_avx2<Word> : scan_code_point_word<Word, KeyMasks>;
#else
  static const auto chosen = scan_code_point_word<Word, KeyMasks>;
#endif
  return chosen;
}

// Runs the one-word scan of the UTF-8 keys `text` against the 1 to 64 keys
// of `pattern` (no fewer than `text`), on what their common prefix and suffix
// leave.
template <typename Word, typename Masks>
std::size_t scan_keys(std::span<const std::uint32_t> pattern, std::span<const std::uint32_t> text) {
  const Affixes cut = common_affixes(pattern, text);
  pattern = pattern.subspan(cut.prefix, cut.rest(pattern.size()));
  text = text.subspan(cut.prefix, cut.rest(text.size()));
  if (text.empty()) return pattern.size();
  const Masks masks(pattern);
  Word state(pattern.size());
  for (const std::uint32_t key : text) state.step(masks.get(key));
  return state.score();
}

#if defined(__x86_64__) || defined(__i386__)
// `scan_keys` with masks from vector compares, for processors with AVX2,
// POPCNT and BMI.
template <typename Word>
[[gnu::target("avx2,popcnt,bmi"), gnu::flatten]] std::size_t scan_keys_avx2(
    std::span<const std::uint32_t> pattern, std::span<const std::uint32_t> text) {
  return scan_keys<Word, VectorKeyMasks>(pattern, text);
}
#endif

// Returns the fastest `scan_keys` this processor runs; decided once, on first
// use.
template <typename Word>
auto key_scanner() {
#if defined(__x86_64__) || defined(__i386__)
  static const auto chosen = has_vector_scans() ? scan_keys_avx2<Word> : scan_keys<Word, KeyMasks>;
#else
  static const auto chosen = scan_keys<Word, KeyMasks>;
#endif
  return chosen;
}

// The distance of two texts that `ShortKeyPair` read, with the longer text
// as the pattern. The same checks, in the same order, as the general path.
template <typename Scan>
Result<std::size_t> short_key_distance(const ShortKeyPair& pair, std::optional<std::size_t> max_len,
                                       std::optional<std::size_t> score_cutoff) {
  if (auto error = pair.check_limit(max_len)) return *error;
  const std::size_t m = pair.keys_1().size();
  const std::size_t n = pair.keys_2().size();
  return checked_distance(m, n, score_cutoff, [&] {
    const auto pattern = n > m ? pair.keys_2() : pair.keys_1();
    const auto text = n > m ? pair.keys_1() : pair.keys_2();
    return key_scanner<typename Scan::Word>()(pattern, text);
  });
}

// Every pair that the short ASCII path does not take. Kept out of line: its
// kilobytes of key and fold buffers would otherwise make the frame of every
// short call, which needs none of them.
template <typename Scan>
[[gnu::noinline]] Result<std::size_t> general_distance(std::string_view str_1,
                                                       std::string_view str_2,
                                                       std::optional<std::size_t> max_len,
                                                       std::optional<bool> case_insensitive,
                                                       std::optional<std::size_t> score_cutoff) {
  if (!case_insensitive.value_or(false)) {
    ShortKeyPair keys;
    if (keys.read(str_1, str_2)) return short_key_distance<Scan>(keys, max_len, score_cutoff);
  }
  PreparedPair pair;
  if (auto error = pair.prepare(str_1, str_2, case_insensitive.value_or(false), max_len)) {
    return *error;
  }
  return checked_distance(pair.len_1, pair.len_2, score_cutoff, [&] {
    // What the common prefix and suffix leave, and its length in characters.
    const Affixes cut = common_char_affixes(pair.text_1, pair.text_2);
    const std::string_view text_1 = pair.text_1.substr(cut.prefix, cut.rest(pair.text_1.size()));
    const std::string_view text_2 = pair.text_2.substr(cut.prefix, cut.rest(pair.text_2.size()));
    const auto chars = [&](std::string_view text) {
      return pair.ascii ? text.size() : count_chars(text);
    };
    const std::size_t cut_chars = chars(pair.text_1.substr(0, cut.prefix)) +
                                  chars(pair.text_1.substr(pair.text_1.size() - cut.suffix));
    const std::size_t m = pair.len_1 - cut_chars;
    const std::size_t n = pair.len_2 - cut_chars;
    if (m == 0 || n == 0) return m + n;
    // Both distances are symmetric, so where one text fits a word it may be
    // the pattern: the longer one when both fit (fewer steps), else the
    // shorter. The limit, the pre-check and the empty inputs keep parameter
    // order.
    const bool swap = n <= 64 && (m > 64 || n > m);
    const std::string_view word_pattern = swap ? text_2 : text_1;
    const std::string_view word_text = swap ? text_1 : text_2;
    const std::size_t word_m = swap ? n : m;
    if (pair.ascii && word_m <= 64) {
      return scan_bytes<typename Scan::Word>(word_m, ByteMasks(word_pattern, word_text), word_text);
    }
    if (word_m <= 64) {
      return code_point_word_scanner<typename Scan::Word>()(word_pattern, word_m, word_text);
    }
    const std::size_t blocks = BlockMasks::block_count(m);
    std::vector<char32_t> pattern;
    decode_all(text_1, m, pattern);
    const BlockMasks masks(pattern, blocks);
    if (const DiagonalKernel kernel = diagonal_kernel<Scan>(blocks)) {
      return kernel(masks, m, text_2, pair.ascii);
    }
    typename Scan::Blocks state(m, blocks);
    scan_code_points(state, masks, text_2);
    return state.score();
  });
}

template <typename Scan>
Result<std::size_t> bit_parallel_distance(std::string_view str_1, std::string_view str_2,
                                          std::optional<std::size_t> max_len,
                                          std::optional<bool> case_insensitive,
                                          std::optional<std::size_t> score_cutoff) {
  if (ShortAsciiPair::fits(str_1, str_2)) {
    return short_ascii_distance<Scan>(str_1, str_2, max_len, case_insensitive.value_or(false),
                                      score_cutoff);
  }
  return general_distance<Scan>(str_1, str_2, max_len, case_insensitive, score_cutoff);
}

}  // namespace quillmatch_core::detail

#endif  // QUILLMATCH_CORE_SRC_BIT_PARALLEL_H_
