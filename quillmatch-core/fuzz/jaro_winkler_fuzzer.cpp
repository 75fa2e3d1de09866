// Differential fuzzing of jaro_winkler against the definition, bit for bit:
// the prefix-scale check first, the length limit, the results for empty
// inputs, the cut-off. Each pair is re-coded into other character widths,
// which takes it through the short byte path (up to 16 bytes), the mask byte
// path (17 to 64) and the code-point path: every one must give the same
// double. The batch matcher built on the first string must agree as well.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>

#include "fuzz_input.h"
#include "quillmatch_core/jaro_winkler.h"
#include "quillmatch_core/jaro_winkler_batch.h"

namespace {

bool same_bits(double x, double y) { return std::memcmp(&x, &y, sizeof x) == 0; }

// The cut-off of the definition: never for an empty input, and a NaN never
// replaces the value.
std::optional<double> cutoff_option(fuzz::Input& in, double near) {
  switch (in.below(5)) {
    case 0: return std::nullopt;
    case 1: return near;
    case 2: return std::nextafter(near, 2.0);
    case 3: return static_cast<double>(in.below(1001)) / 1000.0;
    default: return in.real();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::Input in(data, size);
  const auto [a_in, b_in] = in.pair(140);
  const std::string s1 = ref::encode(a_in);
  const std::string s2 = ref::encode(b_in);
  const auto p = in.prefix_scale();
  const auto case_insensitive = in.case_option();
  const auto max_len = in.option_near(std::max(a_in.size(), b_in.size()));
  const bool fold = case_insensitive.value_or(false);
  const fuzz::Text a = ref::decode(fold ? fuzz::lower(s1) : s1);
  const fuzz::Text b = ref::decode(fold ? fuzz::lower(s2) : s2);
  const double scale = p.value_or(0.1);
  const bool scale_ok = scale >= 0.0 && scale <= 0.25;
  const double expected = scale_ok ? ref::jaro_winkler(a, b, scale) : 0.0;
  const auto score_cutoff = cutoff_option(in, expected);

  fuzz::Report report;
  report.text("str_1", s1);
  report.text("str_2", s2);
  report.option("p", p);
  report.option("max_len", max_len);
  report.option("case_insensitive", case_insensitive);
  report.option("score_cutoff", score_cutoff);

  const auto got =
      quillmatch_core::jaro_winkler(s1, s2, p, max_len, case_insensitive, score_cutoff);
  if (!scale_ok) {
    FUZZ_CHECK(report, !got.ok() && got.error().invalid_prefix_scale() != nullptr);
    FUZZ_CHECK(report, same_bits(got.error().invalid_prefix_scale()->value, scale));
    const auto batch = quillmatch_core::JaroWinklerBatch::create(s1, p, case_insensitive);
    FUZZ_CHECK(report,
               !batch.ok() && same_bits(batch.error().invalid_prefix_scale()->value, scale));
    return 0;
  }
  if (max_len && (a.size() > *max_len || b.size() > *max_len)) {
    const bool first = a.size() > *max_len;
    FUZZ_CHECK(report, !got.ok() && got.error().input_too_long() != nullptr);
    const auto* error = got.error().input_too_long();
    FUZZ_CHECK(report, std::strcmp(error->which, first ? "str_1" : "str_2") == 0);
    FUZZ_CHECK(report, error->len == (first ? a.size() : b.size()) && error->limit == *max_len);
  } else {
    FUZZ_CHECK(report, got.ok());
    const bool empty = a.empty() || b.empty();
    const bool cut = !empty && score_cutoff && *score_cutoff > expected;
    FUZZ_CHECK(report, same_bits(got.value(), cut ? 0.0 : expected));
  }

  // The other paths: the pair re-coded, no options beyond the scale.
  for (const fuzz::Width width : fuzz::kWidths) {
    const auto recoded = fuzz::recode(a, b, width);
    if (!recoded) continue;
    report.text("recoded str_1", recoded->first);
    report.text("recoded str_2", recoded->second);
    const auto again = quillmatch_core::jaro_winkler(recoded->first, recoded->second, p);
    FUZZ_CHECK(report, again.ok() && same_bits(again.value(), expected));
  }

  // The batch matcher scores the pair as the pair function does.
  const auto batch = quillmatch_core::JaroWinklerBatch::create(s1, p, case_insensitive);
  FUZZ_CHECK(report, batch.ok());
  const auto pair = quillmatch_core::jaro_winkler(s1, s2, p, std::nullopt, case_insensitive);
  FUZZ_CHECK(report, pair.ok() && same_bits(batch.value().similarity(s2), pair.value()));
  return 0;
}
