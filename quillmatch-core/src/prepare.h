// Input preparation shared by the pair measures: optional lower-casing, the
// ASCII test, counting and the length limit, always in that order; and the
// same for short pairs, ASCII or not, which need no counting and no heap.
#ifndef QUILLMATCH_CORE_SRC_PREPARE_H_
#define QUILLMATCH_CORE_SRC_PREPARE_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "fault_injection.h"
#include "quillmatch_core/common.h"
#include "unicode_case.h"  // lowercase_ascii
#include "utf8.h"          // is_ascii, count_chars, short_keys

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
  // Lower-casing a text whose lower case takes up to this many bytes (64
  // characters of three bytes) writes to the pair's own buffers, not to the
  // heap.
  static constexpr std::size_t kShortFold = 192;

  std::string_view fold(std::string_view text, std::string& folded, char (&short_form)[kShortFold]);

  std::string folded_1_;
  std::string folded_2_;
  char short_1_[kShortFold];
  char short_2_[kShortFold];
};

// Two ASCII texts of at most 64 bytes each, the pair measures' short path: a
// character is a byte, and lower-casing keeps the length and writes to the
// pair's own buffers. Neither copied nor moved: the views may point into it.
class ShortAsciiPair {
 public:
  static constexpr std::size_t kMaxBytes = 64;

  // Tells whether `str_1` and `str_2` take this path.
  static bool fits(std::string_view str_1, std::string_view str_2) {
    return str_1.size() <= kMaxBytes && str_2.size() <= kMaxBytes && is_ascii(str_1) &&
           is_ascii(str_2);
  }

  ShortAsciiPair() = default;
  ShortAsciiPair(const ShortAsciiPair&) = delete;
  ShortAsciiPair& operator=(const ShortAsciiPair&) = delete;

  // Prepares two texts that `fits` accepts, as `PreparedPair::prepare` does.
  std::optional<InputTooLong> prepare(std::string_view str_1, std::string_view str_2,
                                      bool case_insensitive, std::optional<std::size_t> max_len) {
    text_1 = str_1;
    text_2 = str_2;
    if (case_insensitive) {
      lowercase_ascii(str_1, folded_1_);
      lowercase_ascii(str_2, folded_2_);
      text_1 = {folded_1_, str_1.size()};
      text_2 = {folded_2_, str_2.size()};
    }
    if (max_len) {
      if (text_1.size() > *max_len) return InputTooLong{"str_1", text_1.size(), *max_len};
      if (text_2.size() > *max_len) return InputTooLong{"str_2", text_2.size(), *max_len};
    }
    return std::nullopt;
  }

  std::string_view text_1;
  std::string_view text_2;

 private:
  char folded_1_[kMaxBytes];
  char folded_2_[kMaxBytes];
};

// Two texts of at most 64 characters each in shortest-form UTF-8, compared
// as they are (no lower-casing): each character as its UTF-8 key, counted as
// the keys are read, so the pair needs no ASCII test and no count of its own.
class ShortKeyPair {
 public:
  ShortKeyPair() = default;
  ShortKeyPair(const ShortKeyPair&) = delete;
  ShortKeyPair& operator=(const ShortKeyPair&) = delete;

  // Reads the keys of both texts. Returns false when either is not
  // shortest-form UTF-8 of at most 64 characters: the general path takes
  // such texts, and the keys read mean nothing.
  bool read(std::string_view str_1, std::string_view str_2) {
    inject_fault(str_1);
    inject_fault(str_2);
    if (!short_enough(str_1) || !short_enough(str_2)) return false;
    len_1_ = short_keys(str_1, keys_1_);
    if (len_1_ > 64) return false;
    len_2_ = short_keys(str_2, keys_2_);
    return len_2_ <= 64;
  }

  // Returns `InputTooLong` when `max_len` is given and a text has more
  // characters, `str_1` tested first, as `PreparedPair::prepare` does.
  std::optional<InputTooLong> check_limit(std::optional<std::size_t> max_len) const {
    if (max_len) {
      if (len_1_ > *max_len) return InputTooLong{"str_1", len_1_, *max_len};
      if (len_2_ > *max_len) return InputTooLong{"str_2", len_2_, *max_len};
    }
    return std::nullopt;
  }

  std::span<const std::uint32_t> keys_1() const { return {keys_1_, len_1_}; }
  std::span<const std::uint32_t> keys_2() const { return {keys_2_, len_2_}; }

 private:
  // Tells whether `text` may have at most 64 characters: up to 64 bytes
  // always, up to 256 when a count says so (counting a word at a time costs
  // far less than reading keys that are then thrown away).
  static bool short_enough(std::string_view text) {
    return text.size() <= 64 || (text.size() <= 256 && count_chars(text) <= 64);
  }

  std::size_t len_1_ = 0;
  std::size_t len_2_ = 0;
  std::uint32_t keys_1_[64];
  std::uint32_t keys_2_[64];
};

}  // namespace quillmatch_core::detail

#endif  // QUILLMATCH_CORE_SRC_PREPARE_H_
