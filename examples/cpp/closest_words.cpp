// Ranks candidate words by their restricted Damerau distance to a query, with
// the core library alone (no Python):
//   closest_words QUERY CANDIDATE...
// prints one line per candidate, nearest first (ties in the order given):
//   <candidate> osa=<distance> lev=<distance> jw=<similarity>
// then checks a length limit, whose error the core returns as a value.
#include <algorithm>  // std::stable_sort
#include <cstddef>
#include <cstdio>     // std::printf
#include <numeric>    // std::iota
#include <optional>   // std::nullopt
#include <string_view>
#include <vector>

#include "quillmatch_core/damerau_batch.h"
#include "quillmatch_core/jaro_winkler.h"
#include "quillmatch_core/jaro_winkler_batch.h"
#include "quillmatch_core/levenshtein_bp.h"

namespace qc = quillmatch_core;

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s QUERY CANDIDATE...\n", argv[0]);
    return 2;
  }
  const std::string_view query = argv[1];
  const std::vector<std::string_view> candidates(argv + 2, argv + argc);

  // The query's tables are built once per batch and reused for every candidate.
  const std::vector<std::size_t> osa = qc::damerau_batch(query, candidates);
  const qc::Result<std::vector<double>> jw = qc::jaro_winkler_batch(query, candidates);
  if (!jw) {  // only an invalid prefix scale fails, and the default is valid
    std::fprintf(stderr, "%s\n", jw.error().debug_text().c_str());
    return 1;
  }

  std::vector<std::size_t> order(candidates.size());
  std::iota(order.begin(), order.end(), std::size_t{0});
  std::stable_sort(order.begin(), order.end(),
                   [&](std::size_t a, std::size_t b) { return osa[a] < osa[b]; });
  for (const std::size_t i : order) {
    const qc::Result<std::size_t> lev = qc::levenshtein_bp(query, candidates[i]);
    std::printf("%.*s osa=%zu lev=%zu jw=%.6f\n", static_cast<int>(candidates[i].size()),
                candidates[i].data(), osa[i], lev.value(), jw.value()[i]);
  }

  // Failures are values, never exceptions: a limit of 2 characters on a longer query.
  const qc::Result<double> limited = qc::jaro_winkler(query, candidates.front(), std::nullopt, 2);
  std::printf("max_len=2: %s\n", limited ? "ok" : limited.error().debug_text().c_str());
  return 0;
}
