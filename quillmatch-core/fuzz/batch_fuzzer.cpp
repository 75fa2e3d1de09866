// Differential fuzzing of the three batch matchers against their pair
// functions: one query (fast ASCII of 1 to 64 bytes, empty, longer, or not
// ASCII) against a list of candidates mixing edited copies of the query (one,
// or two end to end), short ASCII and Latin-1 texts of every lane width, long
// and non-ASCII texts, empty ones and repeats. The list is long enough to fill
// several lane groups, and each candidate is also scored alone, so the lane
// scans meet the one-word scan and the batch's code-point scoring meets the
// pair function. The batch runs the widest lanes this CPU has; the SSE2
// lanes are then run on the same list and must give the same results.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "damerau_scan.h"
#include "fuzz_input.h"
#include "jaro_winkler_lanes.h"
#include "lane_schedule.h"
#include "levenshtein_scan.h"
#include "quillmatch_core/damerau_batch.h"
#include "quillmatch_core/damerau_bp.h"
#include "quillmatch_core/jaro_winkler.h"
#include "quillmatch_core/jaro_winkler_batch.h"
#include "quillmatch_core/levenshtein_batch.h"
#include "quillmatch_core/levenshtein_bp.h"
#include "utf8.h"

namespace {

std::vector<std::string> make_candidates(fuzz::Input& in, const fuzz::Text& query,
                                         std::size_t query_alphabet) {
  // Now and then enough candidates to fill the 64 narrowest lanes mid-list.
  std::vector<std::string> candidates(in.below(72) + (in.below(4) == 0 ? 160 : 0));
  for (std::size_t i = 0; i < candidates.size(); ++i) {
    switch (in.below(6)) {
      case 0: candidates[i] = ref::encode(in.edited(query, query_alphabet, 6)); break;
      // Two edited copies: long candidates with many matches and transpositions
      case 1:
        candidates[i] = ref::encode(in.edited(query, query_alphabet, 6)) +
                        ref::encode(in.edited(query, query_alphabet, 6));
        break;
      // ASCII (alphabets 0 and 1) or Latin-1 (alphabet 2), for the lanes, half
      // of them for the narrowest
      case 2:
        candidates[i] = ref::encode(in.text(1 + in.below(in.flag() ? 8 : 64), in.below(3)));
        break;
      case 3: candidates[i] = ref::encode(in.text(in.length(100), in.alphabet())); break;
      case 4: candidates[i].clear(); break;
      default: candidates[i] = i > 0 ? candidates[in.below(i)] : std::string(); break;
    }
  }
  return candidates;
}

bool same_bits(double x, double y) { return std::memcmp(&x, &y, sizeof x) == 0; }

#if defined(__x86_64__) || defined(__i386__)
// Checks the SSE2 lanes of all three measures against the batch results
// `levenshtein`, `damerau` and `similarities` (when the prefix scale is
// valid) of the same query and candidates, where the query takes lanes.
void check_sse2_lanes(fuzz::Report& report, const std::string& query,
                      const std::vector<std::string_view>& candidates,
                      std::optional<bool> case_insensitive, std::optional<double> p,
                      const std::vector<std::size_t>& levenshtein,
                      const std::vector<std::size_t>& damerau, const double* similarities) {
  using namespace quillmatch_core::detail;
  __builtin_cpu_init();
  if (!__builtin_cpu_supports("sse2")) return;
  const quillmatch_core::LevenshteinBatch lev(query, case_insensitive);
  const quillmatch_core::DamerauBatch dam(query, case_insensitive);
  if (const std::optional<LaneQuery> lane_query = LaneQuery::of(lev.query())) {
    std::vector<std::size_t> got(candidates.size());
    score_in_lanes(kLaneKernelsSse2<LevenshteinScan>, *lane_query, candidates, got.data(),
                   [&](std::string_view c) { return lev.distance(c); });
    FUZZ_CHECK(report, got == levenshtein);
    score_in_lanes(kLaneKernelsSse2<DamerauScan>, *lane_query, candidates, got.data(),
                   [&](std::string_view c) { return dam.distance(c); });
    FUZZ_CHECK(report, got == damerau);
  }
  if (similarities == nullptr) return;
  // The query's Latin-1 form, lower-cased when folding, as the batch makes it.
  const bool fold = case_insensitive.value_or(false);
  std::string lowered;
  if (fold) append_lowercase(query, lowered);
  unsigned char latin1[65];
  const std::size_t size = to_latin1(fold ? lowered : query, latin1);
  const std::string_view text(reinterpret_cast<const char*>(latin1), size <= 64 ? size : 0);
  if (text.empty() || text.find('\0') != std::string_view::npos) return;
  const auto matcher = quillmatch_core::JaroWinklerBatch::create(query, p, case_insensitive);
  std::vector<double> got(candidates.size());
  score_in_jaro_winkler_lanes(kJaroWinklerLanesSse2, JaroWinklerLaneQuery(text, fold),
                              matcher.value().query().p, candidates, got.data(),
                              [&](std::string_view c) { return matcher.value().similarity(c); });
  for (std::size_t i = 0; i < candidates.size(); ++i) {
    FUZZ_CHECK(report, same_bits(got[i], similarities[i]));
  }
}
#endif

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::Input in(data, size);
  const std::size_t query_alphabet = in.alphabet();
  const fuzz::Text query_text = in.text(in.length(80), query_alphabet);
  const std::string query = ref::encode(query_text);
  const auto case_insensitive = in.case_option();
  const auto p = in.prefix_scale();
  const std::vector<std::string> owned = make_candidates(in, query_text, query_alphabet);
  const std::vector<std::string_view> candidates(owned.begin(), owned.end());

  fuzz::Report report;
  report.text("query", query);
  report.option("case_insensitive", case_insensitive);
  report.option("p", p);

  const auto levenshtein = quillmatch_core::levenshtein_batch(query, candidates, case_insensitive);
  const auto damerau = quillmatch_core::damerau_batch(query, candidates, case_insensitive);
  const quillmatch_core::LevenshteinBatch levenshtein_one(query, case_insensitive);
  const quillmatch_core::DamerauBatch damerau_one(query, case_insensitive);
  const auto similarities =
      quillmatch_core::jaro_winkler_batch(query, candidates, p, case_insensitive);
  FUZZ_CHECK(report,
             levenshtein.size() == candidates.size() && damerau.size() == candidates.size());

  const double scale = p.value_or(0.1);
  if (!(scale >= 0.0 && scale <= 0.25)) {
    FUZZ_CHECK(report, !similarities.ok());
    const auto* error = similarities.error().invalid_prefix_scale();
    FUZZ_CHECK(report, error != nullptr && same_bits(error->value, scale));
  } else {
    FUZZ_CHECK(report, similarities.ok() && similarities.value().size() == candidates.size());
  }

  for (std::size_t i = 0; i < candidates.size(); ++i) {
    const std::string_view candidate = candidates[i];
    report.text("candidate", candidate);
    report.number("index", static_cast<double>(i));
    if (query.empty()) {
      // An empty query counts the unchanged candidate, folding or not.
      const std::size_t count = quillmatch_core::detail::count_chars(candidate);
      FUZZ_CHECK(report, levenshtein[i] == count && damerau[i] == count);
    } else {
      const auto lev =
          quillmatch_core::levenshtein_bp(query, candidate, std::nullopt, case_insensitive);
      const auto osa =
          quillmatch_core::damerau_bp(query, candidate, std::nullopt, case_insensitive);
      FUZZ_CHECK(report, lev.ok() && levenshtein[i] == lev.value());
      FUZZ_CHECK(report, osa.ok() && damerau[i] == osa.value());
    }
    FUZZ_CHECK(report, levenshtein_one.distance(candidate) == levenshtein[i]);
    FUZZ_CHECK(report, damerau_one.distance(candidate) == damerau[i]);
    if (similarities.ok()) {
      const auto pair =
          quillmatch_core::jaro_winkler(query, candidate, p, std::nullopt, case_insensitive);
      FUZZ_CHECK(report, pair.ok() && same_bits(similarities.value()[i], pair.value()));
    }
  }
#if defined(__x86_64__) || defined(__i386__)
  report.text("candidate", "(the SSE2 lanes, every candidate)");
  check_sse2_lanes(report, query, candidates, case_insensitive, p, levenshtein, damerau,
                   similarities.ok() ? similarities.value().data() : nullptr);
#endif
  return 0;
}
