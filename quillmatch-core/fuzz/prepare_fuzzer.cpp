// Fuzzing of the input preparation on arbitrary bytes, valid UTF-8 or not:
// the word-at-a-time ASCII test and character count at every alignment
// against byte loops, decoding (one code point per counted character; the
// reference decoder on valid text), lower-casing (in bounds always; on valid
// text valid output, idempotent, plain ASCII folding for ASCII), the
// prepared pair with its limit, and the measures and batches, which on any
// input act on the code points that decoding yields. Every text is copied
// into a heap block of its exact size, so a read past it is caught.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_input.h"
#include "prepare.h"
#include "quillmatch_core/damerau_batch.h"
#include "quillmatch_core/damerau_bp.h"
#include "quillmatch_core/jaro_winkler.h"
#include "quillmatch_core/jaro_winkler_batch.h"
#include "quillmatch_core/levenshtein_batch.h"
#include "quillmatch_core/levenshtein_bp.h"
#include "utf8.h"

namespace {

namespace core = quillmatch_core;
namespace detail = quillmatch_core::detail;

// A text in a heap block of exactly its size.
class Exact {
 public:
  explicit Exact(std::string_view text) : size_(text.size()), bytes_(new char[text.size()]) {
    if (size_ != 0) std::memcpy(bytes_.get(), text.data(), size_);
  }
  std::string_view view() const { return {bytes_.get(), size_}; }

 private:
  std::size_t size_;
  std::unique_ptr<char[]> bytes_;
};

bool ascii_ref(std::string_view text) {
  for (const char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

std::size_t count_ref(std::string_view text) {
  std::size_t count = 0;
  for (const char c : text) count += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  return count;
}

// Strict UTF-8: shortest forms, no surrogates, nothing above U+10FFFF.
bool valid_utf8(std::string_view text) {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t n = text.size();
  for (std::size_t i = 0; i < n;) {
    const unsigned char b = p[i];
    std::size_t len;
    char32_t min;
    char32_t cp;
    if (b < 0x80) {
      ++i;
      continue;
    } else if (b >= 0xC2 && b <= 0xDF) {
      len = 2, min = 0x80, cp = b & 0x1F;
    } else if (b >= 0xE0 && b <= 0xEF) {
      len = 3, min = 0x800, cp = b & 0x0F;
    } else if (b >= 0xF0 && b <= 0xF4) {
      len = 4, min = 0x10000, cp = b & 0x07;
    } else {
      return false;
    }
    if (i + len > n) return false;
    for (std::size_t k = 1; k < len; ++k) {
      if ((p[i + k] & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (p[i + k] & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    i += len;
  }
  return true;
}

// The code points the core reads from `text`.
fuzz::Text decoded(std::string_view text) {
  std::vector<char32_t> out;
  detail::decode_all(text, detail::count_chars(text), out);
  return out;
}

bool same_bits(double x, double y) { return std::memcmp(&x, &y, sizeof x) == 0; }

void check_helpers(fuzz::Report& report, std::string_view text) {
  // Every alignment of the start, and every short length.
  for (std::size_t offset = 0; offset < 8 && offset <= text.size(); ++offset) {
    for (std::size_t len = 0; len <= 20 && offset + len <= text.size(); ++len) {
      const Exact piece(text.substr(offset, len));
      FUZZ_CHECK(report, detail::is_ascii(piece.view()) == ascii_ref(piece.view()));
      FUZZ_CHECK(report, detail::count_chars(piece.view()) == count_ref(piece.view()));
    }
    const Exact tail(text.substr(offset));
    FUZZ_CHECK(report, detail::is_ascii(tail.view()) == ascii_ref(tail.view()));
    FUZZ_CHECK(report, detail::count_chars(tail.view()) == count_ref(tail.view()));
  }

  // The keys of texts of up to 64 bytes, read from their lead bytes, against
  // the walk from character to character.
  if (text.size() <= 64) {
    const Exact piece(text);
    std::uint32_t got[64], want[64];
    std::size_t count = 0;
    const bool ok =
        detail::for_each_key(piece.view(), [&](std::uint32_t key) { want[count++ % 64] = key; });
    const std::size_t want_count = ok && count <= 64 ? count : 65;
    FUZZ_CHECK(report, detail::short_keys(piece.view(), got) == want_count);
    FUZZ_CHECK(report, want_count > 64 || std::equal(want, want + want_count, got));
#if defined(__SSE2__)
    // The keys one character at a time, as processors without AVX2 take them.
    FUZZ_CHECK(report, detail::short_keys_from_leads(piece.view(), got, false) == want_count);
    FUZZ_CHECK(report, want_count > 64 || std::equal(want, want + want_count, got));
#endif
  }

  const Exact exact(text);
  const fuzz::Text code_points = decoded(exact.view());
  FUZZ_CHECK(report, code_points.size() == count_ref(text));
  const bool valid = valid_utf8(text);
  if (valid) FUZZ_CHECK(report, code_points == ref::decode(text));

  const std::string lowered = fuzz::lower(exact.view());
  if (valid) {
    FUZZ_CHECK(report, valid_utf8(lowered));
    FUZZ_CHECK(report, fuzz::lower(lowered) == lowered);
  }
  if (ascii_ref(text)) {
    std::string folded(text);
    for (char& c : folded) c = c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
    FUZZ_CHECK(report, lowered == folded);
  }
}

void check_prepared(fuzz::Report& report, std::string_view s1, std::string_view s2, bool fold,
                    std::optional<std::size_t> max_len) {
  const std::string t1 = fold ? fuzz::lower(s1) : std::string(s1);
  const std::string t2 = fold ? fuzz::lower(s2) : std::string(s2);
  const bool ascii = ascii_ref(t1) && ascii_ref(t2);
  const std::size_t len_1 = ascii ? t1.size() : count_ref(t1);
  const std::size_t len_2 = ascii ? t2.size() : count_ref(t2);
  detail::PreparedPair pair;
  const auto error = pair.prepare(s1, s2, fold, max_len);
  FUZZ_CHECK(report, pair.text_1 == t1 && pair.text_2 == t2 && pair.ascii == ascii);
  FUZZ_CHECK(report, pair.len_1 == len_1 && pair.len_2 == len_2);
  if (max_len && (len_1 > *max_len || len_2 > *max_len)) {
    const bool first = len_1 > *max_len;
    FUZZ_CHECK(report, error && std::strcmp(error->which, first ? "str_1" : "str_2") == 0);
    FUZZ_CHECK(report, error->len == (first ? len_1 : len_2) && error->limit == *max_len);
  } else {
    FUZZ_CHECK(report, !error);
  }
}

void check_measures(fuzz::Report& report, std::string_view s1, std::string_view s2, bool fold) {
  const fuzz::Text a = decoded(fold ? fuzz::lower(s1) : std::string(s1));
  const fuzz::Text b = decoded(fold ? fuzz::lower(s2) : std::string(s2));
  const auto lev = core::levenshtein_bp(s1, s2, std::nullopt, fold);
  const auto osa = core::damerau_bp(s1, s2, std::nullopt, fold);
  const auto jw = core::jaro_winkler(s1, s2, std::nullopt, std::nullopt, fold);
  FUZZ_CHECK(report, lev.ok() && lev.value() == ref::levenshtein(a, b));
  FUZZ_CHECK(report, osa.ok() && osa.value() == ref::osa(a, b));
  FUZZ_CHECK(report, jw.ok() && same_bits(jw.value(), ref::jaro_winkler(a, b, 0.1)));

  // The batches on the same bytes, the second text among the candidates.
  // On malformed text they only have to stay in bounds: a text of stray
  // continuation bytes counts no characters yet is not empty, and the
  // batches test emptiness by bytes where the pair functions count.
  const std::vector<std::string_view> candidates = {s2, s1, s2.substr(0, s2.size() / 2), {}};
  const auto lev_batch = core::levenshtein_batch(s1, candidates, fold);
  const auto osa_batch = core::damerau_batch(s1, candidates, fold);
  const auto jw_batch = core::jaro_winkler_batch(s1, candidates, std::nullopt, fold);
  FUZZ_CHECK(report, jw_batch.ok());
  if (!valid_utf8(s1) || !valid_utf8(s2)) return;
  for (std::size_t i = 0; i < candidates.size(); ++i) {
    const std::string_view candidate = candidates[i];
    if (s1.empty()) {
      FUZZ_CHECK(report,
                 lev_batch[i] == count_ref(candidate) && osa_batch[i] == count_ref(candidate));
    } else {
      FUZZ_CHECK(report,
                 lev_batch[i] == core::levenshtein_bp(s1, candidate, std::nullopt, fold).value());
      FUZZ_CHECK(report,
                 osa_batch[i] == core::damerau_bp(s1, candidate, std::nullopt, fold).value());
    }
    const auto pair = core::jaro_winkler(s1, candidate, std::nullopt, std::nullopt, fold);
    FUZZ_CHECK(report, same_bits(jw_batch.value()[i], pair.value()));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::Input in(data, size);
  const bool fold = in.flag();
  const std::size_t limit = in.below(200);
  const std::optional<std::size_t> max_len =
      in.flag() ? std::optional<std::size_t>(limit) : std::nullopt;
  std::string s1;
  std::string s2;
  if (in.flag()) {
    // Valid text of every width with a few bytes overwritten.
    s1 = ref::encode(in.text(in.length(150), in.alphabet()));
    for (std::size_t k = in.below(4); k > 0 && !s1.empty(); --k) {
      s1[in.below(s1.size())] = static_cast<char>(in.below(256));
    }
    s2 = in.rest();
  } else {
    s1 = in.bytes(300);
    s2 = in.rest();
  }
  const Exact e1(s1);
  const Exact e2(s2);

  fuzz::Report report;
  report.text("str_1", s1);
  report.text("str_2", s2);
  report.number("case_insensitive", fold);
  report.option("max_len", max_len);
  check_helpers(report, s1);
  check_helpers(report, s2);
  check_prepared(report, e1.view(), e2.view(), fold, max_len);
  if (s1.size() <= 400 && s2.size() <= 400) check_measures(report, e1.view(), e2.view(), fold);
  return 0;
}
