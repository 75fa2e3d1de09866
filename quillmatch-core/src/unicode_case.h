// Full Unicode lower-casing (default toLowercase, with the Final_Sigma rule
// and no language tailoring), from the generated tables in unicode_tables.cpp.
#ifndef QUILLMATCH_CORE_SRC_UNICODE_CASE_H_
#define QUILLMATCH_CORE_SRC_UNICODE_CASE_H_

#include <string>
#include <string_view>

namespace quillmatch_core::detail {

// Appends the full lower-case form of `text` (UTF-8) to `out`. A character may
// lower-case to several (U+0130 gives U+0069 U+0307); U+03A3 becomes final
// sigma U+03C2 when preceded by a cased character and not followed by one,
// case-ignorable characters skipped both ways, and U+03C3 otherwise.
// ASCII runs are lower-cased a machine word at a time, with no table lookups.
void append_lowercase(std::string_view text, std::string& out);

// Returns the ASCII byte `byte` lower-cased: 'A' to 'Z' gain 0x20, every
// other byte is left as it is. One comparison and a select.
constexpr unsigned char lowercase_ascii_byte(unsigned char byte) {
  return static_cast<unsigned char>(static_cast<unsigned>(byte - 'A') < 26u ? byte + 0x20 : byte);
}

// Writes the lower-cased form of the ASCII `text` (every byte below 0x80) to
// `out`, which has room for `text.size()` bytes: eight bytes at a time,
// no table lookups. The same bytes as `append_lowercase` gives.
void lowercase_ascii(std::string_view text, char* out);

}  // namespace quillmatch_core::detail

#endif  // QUILLMATCH_CORE_SRC_UNICODE_CASE_H_
