// Code-point scoring for the distance batches: the candidates that the one-word
// byte scan cannot take (non-ASCII candidates, every candidate of a non-ASCII
// query or of one longer than 64 bytes). The query is decoded, lower-cased
// and turned into masks once per batch; each candidate is scored against them
// with no allocation of its own, the same distance the pair function gives.
#ifndef QUILLMATCH_CORE_SRC_CODE_POINT_BATCH_H_
#define QUILLMATCH_CORE_SRC_CODE_POINT_BATCH_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "bit_parallel.h"  // scan_code_points
#include "fault_injection.h"
#include "pattern_masks.h"
#include "quillmatch_core/batch_query.h"
#include "unicode_case.h"
#include "utf8.h"

namespace quillmatch_core::detail {

// The query of a non-empty `BatchQuery` prepared for code-point scoring, and
// the buffer that lower-cased candidates reuse. One per batch call and thread:
// `distance` writes the buffer.
template <typename Scan>
class CodePointScorer {
 public:
  // Decodes the query (lower-cased with the pair function's lower-caser when
  // the table folds case) and builds its masks: one word per character up to
  // 64 characters, blocks beyond; the lower-cased length decides.
  explicit CodePointScorer(const BatchQuery& table) : fold_(table.case_insensitive) {
    std::string_view query = table.query_text;
    inject_fault(query);
    std::string lowered;
    if (fold_) {
      append_lowercase(query, lowered);
      query = lowered;
    }
    decode_all(query, count_chars(query), chars_);
    if (chars_.size() <= 64) {
      word_.emplace(std::span<const char32_t>(chars_));
    } else {
      blocks_.emplace(chars_, BlockMasks::block_count(chars_.size()));
    }
  }

  // Returns the pair function's distance from the query to `candidate` (no
  // limit, no cut-off). A pattern of at most 64 characters costs one word
  // step per candidate character: the query's masks, or the candidate's when
  // the query needs blocks and the candidate does not (the distance is
  // symmetric).
  std::size_t distance(std::string_view candidate) {
    inject_fault(candidate);
    const bool ascii = is_ascii(candidate);
    std::string_view text = candidate;
    if (fold_ && !ascii) {
      // Lower-casing may change the length and may leave only ASCII (U+212A).
      lowered_.clear();
      append_lowercase(candidate, lowered_);
      text = lowered_;
    }
    // ASCII candidates are folded byte by byte as they are read.
    const bool fold_bytes = fold_ && ascii;
    const std::size_t m = chars_.size();
    if (word_) {
      typename Scan::Word state(m);
      scan(state, *word_, text, ascii, fold_bytes);
      return state.score();
    }
    const std::size_t n = ascii ? text.size() : count_chars(text);
    if (n == 0) return m;
    if (n > 64) {
      typename Scan::Blocks state(m, blocks_->blocks());
      scan(state, *blocks_, text, ascii, fold_bytes);
      return state.score();
    }
    char32_t pattern[64];
    std::span<const char32_t> chars;
    if (ascii) {
      for (std::size_t i = 0; i < n; ++i) {
        pattern[i] = fold_byte(static_cast<unsigned char>(text[i]), fold_bytes);
      }
      chars = {pattern, n};
    } else {
      chars = decode_short(text, pattern);
    }
    const CodePointMasks masks(chars);
    typename Scan::Word state(n);
    for (char32_t c : chars_) state.step(masks.get(c));
    return state.score();
  }

 private:
  static char32_t fold_byte(unsigned char byte, bool fold) {
    return fold ? lowercase_ascii_byte(byte) : byte;
  }

  // Steps `state` over the characters of `text`: its bytes, ASCII-folded
  // when `fold_bytes`, when it is ASCII.
  template <typename State, typename Masks>
  static void scan(State& state, const Masks& masks, std::string_view text, bool ascii,
                   bool fold_bytes) {
    if (!ascii) {
      scan_code_points(state, masks, text);
    } else if (fold_bytes) {
      for (unsigned char byte : text) state.step(masks.get(fold_byte(byte, true)));
    } else {
      for (unsigned char byte : text) state.step(masks.get(byte));
    }
  }

  bool fold_;
  std::vector<char32_t> chars_;         // the query's code points, lower-cased when folding
  std::optional<CodePointMasks> word_;  // up to 64 characters
  std::optional<BlockMasks> blocks_;    // 65 and more
  std::string lowered_;                 // the current candidate, lower-cased
};

}  // namespace quillmatch_core::detail

#endif  // QUILLMATCH_CORE_SRC_CODE_POINT_BATCH_H_
