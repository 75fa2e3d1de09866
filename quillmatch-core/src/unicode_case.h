// Full Unicode lower-casing (default toLowercase, with the Final_Sigma rule
// and no language tailoring), from the generated tables in unicode_tables.cpp.
#ifndef QUILLMATCH_CORE_SRC_UNICODE_CASE_H_
#define QUILLMATCH_CORE_SRC_UNICODE_CASE_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace quillmatch_core::detail {

// Appends the full lower-case form of `text` (UTF-8) to `out`. A character may
// lower-case to several (U+0130 gives U+0069 U+0307); U+03A3 becomes final
// sigma U+03C2 when preceded by a cased character and not followed by one,
// case-ignorable characters skipped both ways, and U+03C3 otherwise.
// ASCII runs are lower-cased a machine word at a time, with no table lookups.
void append_lowercase(std::string_view text, std::string& out);

// Writes the lower-case form of `text`, as `append_lowercase` makes it, to
// `out`, which has room for `capacity` bytes, and returns its length; returns
// `capacity + 1` when it does not fit (what `out` then holds means nothing).
std::size_t lowercase_into(std::string_view text, char* out, std::size_t capacity);

// Returns the ASCII byte `byte` lower-cased: 'A' to 'Z' gain 0x20, every
// other byte is left as it is. One comparison and a select.
constexpr unsigned char lowercase_ascii_byte(unsigned char byte) {
  return static_cast<unsigned char>(static_cast<unsigned>(byte - 'A') < 26u ? byte + 0x20 : byte);
}

// Latin-1 lower-casing of one code point below 256, as full Unicode
// lower-casing does it (the core tests check it against the tables): 'A' to 'Z' and U+00C0 to
// U+00DE except U+00D7 gain 0x20; every other code point below 256 is its own lower-case form.
inline constexpr std::array<std::uint8_t, 256> kLatin1Lower = [] {
  std::array<std::uint8_t, 256> lower{};
  for (unsigned c = 0; c < 256; ++c) {
    const bool upper = c >= 0xC0 && c <= 0xDE && c != 0xD7;
    lower[c] = c < 0x80 ? lowercase_ascii_byte(static_cast<unsigned char>(c))
                        : static_cast<std::uint8_t>(upper ? c + 0x20 : c);
  }
  return lower;
}();

// Writes the lower-cased form of the ASCII `text` (every byte below 0x80) to
// `out`, which has room for `text.size()` bytes: eight bytes at a time,
// no table lookups. The same bytes as `append_lowercase` gives.
void lowercase_ascii(std::string_view text, char* out);

}  // namespace quillmatch_core::detail

#endif  // QUILLMATCH_CORE_SRC_UNICODE_CASE_H_
