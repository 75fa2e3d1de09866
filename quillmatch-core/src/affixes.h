// The prefix and suffix that two texts share. Both distances of two texts
// equal the distances of what is left once their common prefix and their
// common suffix are cut off: an optimal alignment may match the shared
// characters one to one, and a transposition across the cut has an equal
// character on each side of it, which matching serves as well. So the
// scans step only over what is left, often a small part of two texts that
// differ by a few edits.
#ifndef QUILLMATCH_CORE_SRC_AFFIXES_H_
#define QUILLMATCH_CORE_SRC_AFFIXES_H_

#include <algorithm>  // std::min
#include <cstddef>
#include <span>
#include <string_view>

#include "utf8.h"  // is_continuation, count_chars

namespace quillmatch_core::detail {

// Lengths of a common prefix and a common suffix that do not overlap: the
// suffix is sought only in what the prefix leaves of the shorter text.
struct Affixes {
  std::size_t prefix = 0;
  std::size_t suffix = 0;

  // Returns the length of a text of `size` elements once both are cut off.
  std::size_t rest(std::size_t size) const { return size - prefix - suffix; }
};

// Returns the longest common prefix of `a` and `b`, and then the longest
// common suffix of what it leaves, element by element.
template <typename T>
Affixes common_affixes(std::span<const T> a, std::span<const T> b) {
  const std::size_t shorter = std::min(a.size(), b.size());
  Affixes affixes;
  while (affixes.prefix < shorter && a[affixes.prefix] == b[affixes.prefix]) ++affixes.prefix;
  const std::size_t left = shorter - affixes.prefix;
  while (affixes.suffix < left &&
         a[a.size() - 1 - affixes.suffix] == b[b.size() - 1 - affixes.suffix]) {
    ++affixes.suffix;
  }
  return affixes;
}

// The common prefix and suffix of two UTF-8 texts, in bytes, cut where a
// character of both texts starts (or at a text's end), so that what is left
// of each decodes to the characters it held within the whole text, even when
// it is malformed: decoding never takes a byte that is not a continuation
// byte into the character before it.
inline Affixes common_char_affixes(std::string_view a, std::string_view b) {
  const auto* p = reinterpret_cast<const unsigned char*>(a.data());
  const auto* q = reinterpret_cast<const unsigned char*>(b.data());
  Affixes affixes = common_affixes(std::span(p, a.size()), std::span(q, b.size()));
  const auto starts = [](const unsigned char* text, std::size_t size, std::size_t at) {
    return at == size || !is_continuation(text[at]);
  };
  // The prefix ends where the texts' bytes differ, so both must start a
  // character there; the suffix's bytes are the same in both.
  while (affixes.prefix > 0 &&
         !(starts(p, a.size(), affixes.prefix) && starts(q, b.size(), affixes.prefix))) {
    --affixes.prefix;
  }
  while (affixes.suffix > 0 && !starts(p, a.size(), a.size() - affixes.suffix)) --affixes.suffix;
  return affixes;
}

}  // namespace quillmatch_core::detail

#endif  // QUILLMATCH_CORE_SRC_AFFIXES_H_
