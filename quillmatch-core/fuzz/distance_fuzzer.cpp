// Differential fuzzing of levenshtein_bp and damerau_bp against the
// full-matrix references, with every option: the length limit (which string
// is reported, with which count), the cut-off (min(distance, cut-off + 1)),
// and case folding. Each pair is also re-coded into other character widths,
// which drives it through the byte path, the single-word code-point path
// (table and map) and the multi-word path: all must give the same distance.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>

#include "bit_parallel.h"
#include "damerau_scan.h"
#include "diagonal_blocks.h"
#include "fuzz_input.h"
#include "levenshtein_scan.h"
#include "quillmatch_core/damerau_bp.h"
#include "quillmatch_core/levenshtein_bp.h"

namespace {

using Core = quillmatch_core::Result<std::size_t> (*)(std::string_view, std::string_view,
                                                      std::optional<std::size_t>,
                                                      std::optional<bool>,
                                                      std::optional<std::size_t>);
using Reference = std::size_t (*)(const fuzz::Text&, const fuzz::Text&);

// Pairs that take the one-word scans: every scanner this CPU runs, the
// plain ones that the dispatch skips where it has AVX2 among them, each with
// the longer text as the pattern, must give the reference distance. ASCII
// pairs of up to 64 bytes take the byte scanners, other pairs of up to 64
// characters compared as they are the UTF-8 key scanners.
template <typename Scan>
void check_word_scanners(fuzz::Report report, const std::string& s1, const std::string& s2,
                         bool fold, std::size_t distance) {
  using namespace quillmatch_core::detail;
  using Word = typename Scan::Word;
  [[maybe_unused]] const bool avx2 = has_vector_scans();
  const bool swap = s2.size() > s1.size();
  if (ShortAsciiPair::fits(s1, s2) && !s1.empty() && !s2.empty()) {
    const std::string& pattern = swap ? s2 : s1;
    const std::string& text = swap ? s1 : s2;
    FUZZ_CHECK(report, scan_ascii<Word>(pattern, text, fold) == distance);
#if defined(__x86_64__) || defined(__i386__)
    if (avx2) FUZZ_CHECK(report, scan_ascii_avx2<Word>(pattern, text, fold) == distance);
#endif
    return;
  }
  ShortKeyPair keys;
  if (fold || !keys.read(s1, s2) || keys.keys_1().empty() || keys.keys_2().empty()) return;
  const bool key_swap = keys.keys_2().size() > keys.keys_1().size();
  const auto pattern = key_swap ? keys.keys_2() : keys.keys_1();
  const auto text = key_swap ? keys.keys_1() : keys.keys_2();
  FUZZ_CHECK(report, (scan_keys<Word, KeyMasks>(pattern, text)) == distance);
#if defined(__x86_64__) || defined(__i386__)
  if (avx2) FUZZ_CHECK(report, scan_keys_avx2<Word>(pattern, text) == distance);
#endif
}

template <typename Scan>
void check(fuzz::Report report, const char* measure, Core core, Reference reference,
           const std::string& s1, const std::string& s2, std::optional<std::size_t> max_len,
           std::optional<bool> case_insensitive, std::optional<std::size_t> score_cutoff) {
  report.text("measure", measure);
  const bool fold = case_insensitive.value_or(false);
  const fuzz::Text a = ref::decode(fold ? fuzz::lower(s1) : s1);
  const fuzz::Text b = ref::decode(fold ? fuzz::lower(s2) : s2);
  const auto got = core(s1, s2, max_len, case_insensitive, score_cutoff);

  if (max_len && (a.size() > *max_len || b.size() > *max_len)) {
    FUZZ_CHECK(report, !got.ok());
    const auto* error = got.error().input_too_long();
    FUZZ_CHECK(report, error != nullptr);
    const bool first = a.size() > *max_len;
    FUZZ_CHECK(report, std::strcmp(error->which, first ? "str_1" : "str_2") == 0);
    FUZZ_CHECK(report, error->len == (first ? a.size() : b.size()));
    FUZZ_CHECK(report, error->limit == *max_len);
    return;
  }
  FUZZ_CHECK(report, got.ok());
  const std::size_t distance = reference(a, b);
  check_word_scanners<Scan>(report, s1, s2, fold, distance);
  const std::size_t expected = score_cutoff ? std::min(distance, *score_cutoff + 1) : distance;
  FUZZ_CHECK(report, got.value() == expected);

  // The same pair in other widths, without options: the other paths.
  for (const fuzz::Width width : fuzz::kWidths) {
    const auto recoded = fuzz::recode(a, b, width);
    if (!recoded) continue;
    report.text("recoded str_1", recoded->first);
    report.text("recoded str_2", recoded->second);
    const auto again =
        core(recoded->first, recoded->second, std::nullopt, std::nullopt, std::nullopt);
    FUZZ_CHECK(report, again.ok() && again.value() == distance);
    // Reversed: where only one side fits a word, that side is the pattern.
    const auto reversed =
        core(recoded->second, recoded->first, std::nullopt, std::nullopt, std::nullopt);
    FUZZ_CHECK(report, reversed.ok() && reversed.value() == distance);
  }
}

// Long inputs: the pair repeated to 65 to 1000 characters, which the
// multi-word path and its diagonal vector kernels take. The pair function and
// each kernel this CPU runs, whatever the dispatch picks, must give the
// reference distance.
template <typename Scan>
void check_long(fuzz::Report report, const char* measure, Core core, Reference reference,
                const fuzz::Text& a, const fuzz::Text& b, std::size_t len_1, std::size_t len_2) {
  using namespace quillmatch_core::detail;
  report.text("long measure", measure);
  fuzz::Text p(len_1), t(b.empty() ? 0 : len_2);
  for (std::size_t i = 0; i < p.size(); ++i) p[i] = a[i % a.size()];
  for (std::size_t i = 0; i < t.size(); ++i) t[i] = b[i % b.size()];
  const std::string s1 = ref::encode(p), s2 = ref::encode(t);
  report.text("long str_1", s1);
  report.text("long str_2", s2);
  const std::size_t distance = reference(p, t);
  const auto got = core(s1, s2, std::nullopt, std::nullopt, std::nullopt);
  FUZZ_CHECK(report, got.ok() && got.value() == distance);
  if (t.empty()) return;
  const BlockMasks masks(p, BlockMasks::block_count(p.size()));
  const bool ascii = std::all_of(s2.begin(), s2.end(), [](char c) { return (c & 0x80) == 0; });
  for (const std::size_t lanes : {2, 4, 8}) {
    if (const DiagonalKernel kernel = diagonal_kernel_of<Scan>(lanes)) {
      FUZZ_CHECK(report, kernel(masks, p.size(), s2, ascii) == distance);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::Input in(data, size);
  const auto [a, b] = in.pair(150);
  const std::string s1 = ref::encode(a);
  const std::string s2 = ref::encode(b);
  const auto case_insensitive = in.case_option();
  const auto max_len = in.option_near(std::max(a.size(), b.size()));
  const auto score_cutoff =
      in.option_near(a.size() > b.size() ? a.size() - b.size() : b.size() - a.size());

  fuzz::Report report;
  report.text("str_1", s1);
  report.text("str_2", s2);
  report.option("max_len", max_len);
  report.option("case_insensitive", case_insensitive);
  report.option("score_cutoff", score_cutoff);
  check<quillmatch_core::detail::LevenshteinScan>(report, "levenshtein_bp",
                                                  quillmatch_core::levenshtein_bp, ref::levenshtein,
                                                  s1, s2, max_len, case_insensitive, score_cutoff);
  check<quillmatch_core::detail::DamerauScan>(report, "damerau_bp", quillmatch_core::damerau_bp,
                                              ref::osa, s1, s2, max_len, case_insensitive,
                                              score_cutoff);
  if (!a.empty() && in.flag()) {
    const std::size_t len_1 = 65 + in.below(936);
    const std::size_t len_2 = len_1 + in.below(129) - 64;
    check_long<quillmatch_core::detail::LevenshteinScan>(report, "levenshtein_bp",
                                                         quillmatch_core::levenshtein_bp,
                                                         ref::levenshtein, a, b, len_1, len_2);
    check_long<quillmatch_core::detail::DamerauScan>(
        report, "damerau_bp", quillmatch_core::damerau_bp, ref::osa, a, b, len_1, len_2);
  }
  return 0;
}
