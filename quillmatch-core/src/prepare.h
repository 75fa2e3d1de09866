// Input preparation shared by the pair measures: optional lower-casing, the
// ASCII test, counting and the length limit, always in that order.
#ifndef QUILLMATCH_CORE_SRC_PREPARE_H_
#define QUILLMATCH_CORE_SRC_PREPARE_H_

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "quillmatch_core/common.h"

namespace quillmatch_core::detail {

// Two texts ready to be measured. Holds the lower-cased copies when folding
// was asked for, so it is neither copied nor moved: the views point into it.
class PreparedPair {
 public:
  PreparedPair() = default;
  PreparedPair(const PreparedPair&) = delete;
  PreparedPair& operator=(const PreparedPair&) = delete;

  // Prepares `str_1` and `str_2`. Returns `InputTooLong` when `max_len` is
  // given and a prepared text has more characters (`str_1` tested first).
  std::optional<InputTooLong> prepare(std::string_view str_1, std::string_view str_2,
                                      bool case_insensitive, std::optional<std::size_t> max_len);

  std::string_view text_1;
  std::string_view text_2;
  std::size_t len_1 = 0;  // characters of text_1 (bytes when `ascii`)
  std::size_t len_2 = 0;
  bool ascii = false;  // both texts are all bytes below 0x80

 private:
  // Lower-casing an ASCII text of up to this many bytes writes to the
  // pair's own buffers, not to the heap.
  static constexpr std::size_t kShortFold = 64;

  std::string_view fold(std::string_view text, std::string& folded, char (&short_form)[kShortFold]);

  std::string folded_1_;
  std::string folded_2_;
  char short_1_[kShortFold];
  char short_2_[kShortFold];
};

}  // namespace quillmatch_core::detail

#endif  // QUILLMATCH_CORE_SRC_PREPARE_H_
