// Full Unicode lower-casing over the generated case tables.
#include "unicode_case.h"

#include <algorithm>  // std::max
#include <cstddef>
#include <cstdint>
#include <cstring>  // std::memcpy
#include <string>
#include <string_view>

#include "unicode_lookup.h"
#include "utf8.h"

namespace quillmatch_core::detail {
namespace {

constexpr char32_t kCapitalSigma = 0x03A3;
constexpr char32_t kSmallSigma = 0x03C3;
constexpr char32_t kFinalSigma = 0x03C2;
// U+3000 to U+A63F: CJK symbols, kana, Hangul compatibility letters, CJK
// ideographs and Yi, none of which has a lower case of its own (the core
// tests check every code point against the tables).
constexpr char32_t kFirstCaselessBlock = 0x3000;
constexpr char32_t kCaselessBlocks = 0xA640 - 0x3000;

// Writes UTF-8 through a pointer into room that `Room` gives: a character
// costs one test of the room left, not one per byte. `Room::get(bytes)`
// returns where the next `bytes` bytes go, or null when they do not fit.
template <typename Room>
class Writer {
 public:
  explicit Writer(Room& room) : room_(room) {}

  // Returns where to write the next `bytes` bytes, or null when they do not
  // fit; `advance` then counts them.
  char* room(std::size_t bytes) { return room_.get(at_, bytes); }
  void advance(std::size_t bytes) { at_ += bytes; }
  std::size_t size() const { return at_; }

  // Writes the UTF-8 form of `cp`; returns false when it does not fit.
  bool put(char32_t cp) {
    const std::size_t bytes = cp < 0x80 ? 1 : cp < 0x800 ? 2 : cp < 0x10000 ? 3 : 4;
    auto* p = reinterpret_cast<unsigned char*>(room(bytes));
    if (p == nullptr) return false;
    switch (bytes) {
      case 1: p[0] = static_cast<unsigned char>(cp); break;
      case 2:
        p[0] = static_cast<unsigned char>(0xC0 | (cp >> 6));
        p[1] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
        break;
      case 3:
        p[0] = static_cast<unsigned char>(0xE0 | (cp >> 12));
        p[1] = static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3F));
        p[2] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
        break;
      default:
        p[0] = static_cast<unsigned char>(0xF0 | ((cp >> 18) & 0x07));
        p[1] = static_cast<unsigned char>(0x80 | ((cp >> 12) & 0x3F));
        p[2] = static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3F));
        p[3] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
    }
    at_ += bytes;
    return true;
  }

 private:
  Room& room_;
  std::size_t at_ = 0;  // bytes written
};

// Room after what a string holds, made in steps; the string is cut to what
// `finish` says was written when the room goes (to what it held before, if
// it is never said).
class StringRoom {
 public:
  StringRoom(std::string& out, std::size_t expected) : out_(out), start_(out.size()) {
    out_.resize(start_ + expected);
  }
  StringRoom(const StringRoom&) = delete;
  StringRoom& operator=(const StringRoom&) = delete;
  ~StringRoom() { out_.resize(start_ + written_); }

  char* get(std::size_t at, std::size_t bytes) {
    if (out_.size() - start_ - at < bytes) {
      out_.resize(std::max(2 * out_.size(), start_ + at + bytes));
    }
    return out_.data() + start_ + at;
  }
  void finish(std::size_t written) { written_ = written; }

 private:
  std::string& out_;
  std::size_t start_;
  std::size_t written_ = 0;
};

// The fixed room of a caller's buffer.
struct BufferRoom {
  char* buffer;
  std::size_t capacity;
  char* get(std::size_t at, std::size_t bytes) const {
    return capacity - at >= bytes ? buffer + at : nullptr;
  }
};

// Tells whether the first character that is not case-ignorable, walking
// backwards from byte offset `end` (exclusive), exists and is cased.
bool cased_before(std::string_view text, std::size_t end) {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  while (end > 0) {
    std::size_t start = end - 1;
    while (start > 0 && is_continuation(p[start])) --start;
    std::size_t pos = start;
    const CaseRecord record = case_record(decode_next(text, pos));
    if (!record.case_ignorable()) return record.cased();
    end = start;
  }
  return false;
}

// Tells whether the first character that is not case-ignorable, walking
// forwards from byte offset `pos`, exists and is cased.
bool cased_after(std::string_view text, std::size_t pos) {
  while (pos < text.size()) {
    const CaseRecord record = case_record(decode_next(text, pos));
    if (!record.case_ignorable()) return record.cased();
  }
  return false;
}

// Returns `word` with its ASCII capitals lower-cased; every byte must be
// below 0x80. Adding 0x3F sets bit 7 of the bytes from 'A' up, adding 0x25
// that of the bytes above 'Z'; no sum carries into the next byte.
template <typename Word>
Word lowercase_ascii_word(Word word) {
  constexpr Word low = ~Word{0} / 0xFF;
  const Word from_a = word + 0x3F * low;
  const Word above_z = word + 0x25 * low;
  return word | ((from_a & ~above_z & (0x80 * low)) >> 2);
}

// Writes the lower-cased form of the `sizeof(Word)` ASCII bytes at `p + pos`
// to `out + pos`.
template <typename Word>
void lowercase_ascii_at(const unsigned char* p, char* out, std::size_t pos) {
  Word word;
  std::memcpy(&word, p + pos, sizeof word);
  word = lowercase_ascii_word(word);
  std::memcpy(out + pos, &word, sizeof word);
}

// Writes the lower-cased ASCII run that starts at `p[pos]` and returns the
// offset of the first byte after it (a word at a time, then byte by byte),
// or 0 when it does not fit.
template <typename Room>
std::size_t write_ascii_run(const unsigned char* p, std::size_t pos, std::size_t n,
                            Writer<Room>& out) {
  constexpr std::size_t w = sizeof(std::size_t);
  std::size_t end = pos;
  while (end + w <= n && (load_word(p + end) & kHighBits) == 0) end += w;
  while (end < n && p[end] < 0x80) ++end;
  char* to = out.room(end - pos);
  if (to == nullptr) return 0;
  lowercase_ascii(std::string_view(reinterpret_cast<const char*>(p) + pos, end - pos), to);
  out.advance(end - pos);
  return end;
}

// Writes the lower-case form of `text` (see `append_lowercase`) to `out`;
// returns false when it does not fit.
template <typename Room>
bool write_lowercase(std::string_view text, Writer<Room>& out) {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t n = text.size();
  std::size_t pos = 0;
  skip_stray(text, pos);
  while (pos < n) {
    if (p[pos] < 0x80) {
      pos = write_ascii_run(p, pos, n, out);
      if (pos == 0) return false;
      continue;
    }
    const std::size_t start = pos;
    const char32_t cp = decode_next(text, pos);
    // Two common cases skip the four dependent reads of the case tables:
    // Latin-1 letters, and the CJK, kana and Yi blocks, which have no case.
    if (cp < 0x100) {
      if (!out.put(kLatin1Lower[cp])) return false;
      continue;
    }
    if (cp - kFirstCaselessBlock < kCaselessBlocks) {
      if (!out.put(cp)) return false;
      continue;
    }
    if (cp == kCapitalSigma) {
      // Final_Sigma: a cased character before (case-ignorables skipped) and
      // none after.
      const bool final = cased_before(text, start) && !cased_after(text, pos);
      if (!out.put(final ? kFinalSigma : kSmallSigma)) return false;
      continue;
    }
    const CaseRecord record = case_record(cp);
    if (record.expands()) {
      const char32_t* mapping = kLowerExpansions + record.expansion_offset();
      for (char32_t i = 0; i < mapping[0]; ++i) {
        if (!out.put(mapping[1 + i])) return false;
      }
    } else if (!out.put(static_cast<char32_t>(static_cast<std::int32_t>(cp) + record.delta()))) {
      return false;
    }
  }
  return true;
}

}  // namespace

void lowercase_ascii(std::string_view text, char* out) {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t n = text.size();
  if (n > 16) {
    // Eight bytes at a time, the last eight overlapping the loop's last
    // word (lower-casing them again changes nothing).
    for (std::size_t pos = 0; pos + 8 < n; pos += 8) lowercase_ascii_at<std::uint64_t>(p, out, pos);
    lowercase_ascii_at<std::uint64_t>(p, out, n - 8);
  } else if (n >= 4) {
    for (const std::size_t at : short_word_offsets(n))
      lowercase_ascii_at<std::uint32_t>(p, out, at);
  } else {
    for (std::size_t pos = 0; pos < n; ++pos) {
      out[pos] = static_cast<char>(lowercase_ascii_byte(p[pos]));
    }
  }
}

void append_lowercase(std::string_view text, std::string& out) {
  // Well-formed UTF-8 grows by half at most (U+0130 and two other letters of
  // two bytes have lower cases of three); malformed bytes may take more
  // room, which the string makes as it goes.
  StringRoom room(out, text.size() + text.size() / 2);
  Writer writer(room);
  write_lowercase(text, writer);
  room.finish(writer.size());
}

std::size_t lowercase_into(std::string_view text, char* out, std::size_t capacity) {
  BufferRoom room{out, capacity};
  Writer writer(room);
  return write_lowercase(text, writer) ? writer.size() : capacity + 1;
}

}  // namespace quillmatch_core::detail
