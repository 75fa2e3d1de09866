// Timings of every path of each measure, with Google Benchmark.
//
// Counters: `ns/byte` is the time per byte of the scanned text (the
// candidates, for a batch), `ns/cand` the time per candidate, `cells/s` the
// dynamic-programming cells that the scan stands for (m * n) per second.
// Google Benchmark prints the times in seconds with an SI prefix: "5.2n" is
// 5.2 ns. Compare the CPU column when the machine is shared.
//
//   quillmatch_core_bench --benchmark_filter=Batch
#include <benchmark/benchmark.h>

#include <cstddef>
#include <random>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "damerau_scan.h"
#include "diagonal_blocks.h"
#include "lane_schedule.h"
#include "levenshtein_scan.h"
#include "quillmatch_core/damerau_batch.h"
#include "quillmatch_core/damerau_bp.h"
#include "quillmatch_core/jaro_winkler.h"
#include "quillmatch_core/jaro_winkler_batch.h"
#include "quillmatch_core/levenshtein_batch.h"
#include "quillmatch_core/levenshtein_bp.h"

namespace {

using quillmatch_core::DamerauBatch;
using quillmatch_core::JaroWinklerBatch;
using quillmatch_core::LevenshteinBatch;

constexpr std::string_view kLower = "abcdefghijklmnopqrstuvwxyz";
// Latin-1 (two bytes each) and CJK (three bytes each) mixed with ASCII.
const std::vector<std::string> kMixed = {
    "a",           "e", "n", "\xc3\xa9", "\xc3\xbc", "\xc3\x9f", "\xe6\x97\xa5", "\xe6\x9c\xac",
    "\xe8\xaa\x9e"};

std::string random_text(std::mt19937_64& rng, std::size_t chars, bool mixed) {
  std::string s;
  for (std::size_t i = 0; i < chars; ++i) {
    if (mixed) {
      s += kMixed[rng() % kMixed.size()];
    } else {
      s += kLower[rng() % kLower.size()];
    }
  }
  return s;
}

// `text` with about one character in eight replaced, so that pairs are alike
// without being equal.
std::string mutated(std::mt19937_64& rng, std::string text) {
  for (char& c : text) {
    if (rng() % 8 == 0 && static_cast<unsigned char>(c) < 0x80) c = kLower[rng() % kLower.size()];
  }
  return text;
}

void set_pair_counters(benchmark::State& state, std::size_t m, std::size_t n, std::size_t bytes) {
  const auto iterations = static_cast<double>(state.iterations());
  state.counters["cells/s"] = benchmark::Counter(
      static_cast<double>(m) * static_cast<double>(n) * iterations, benchmark::Counter::kIsRate);
  state.counters["ns/byte"] =
      benchmark::Counter(static_cast<double>(bytes) * iterations,
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// ---------------------------------------------------------------------------
// Pair measures. Arguments: characters per string, and 1 for non-ASCII text.
// The byte path takes ASCII patterns of up to 64 characters, the single-word
// code-point path non-ASCII ones, the multi-word path 65 and more.

template <auto kMeasure>
void BM_Distance(benchmark::State& state) {
  std::mt19937_64 rng(42);
  const auto chars = static_cast<std::size_t>(state.range(0));
  const bool mixed = state.range(1) != 0;
  const std::string a = random_text(rng, chars, mixed);
  const std::string b = mutated(rng, random_text(rng, chars, mixed));
  for (auto _ : state) {
    auto result = kMeasure(a, b, std::nullopt, std::nullopt, std::nullopt);
    benchmark::DoNotOptimize(result);
  }
  set_pair_counters(state, chars, chars, b.size());
}

void BM_JaroWinkler(benchmark::State& state) {
  std::mt19937_64 rng(42);
  const auto chars = static_cast<std::size_t>(state.range(0));
  const bool mixed = state.range(1) != 0;
  const std::string a = random_text(rng, chars, mixed);
  const std::string b = mutated(rng, a);
  for (auto _ : state) {
    auto result = quillmatch_core::jaro_winkler(a, b);
    benchmark::DoNotOptimize(result);
  }
  set_pair_counters(state, chars, chars, b.size());
}

void distance_paths(benchmark::internal::Benchmark* b) {
  b->ArgNames({"chars", "non_ascii"});
  for (int chars : {8, 16, 32, 64}) b->Args({chars, 0});              // byte path
  for (int chars : {8, 64}) b->Args({chars, 1});                      // code-point path
  for (int chars : {65, 128, 500, 1000, 10000}) b->Args({chars, 0});  // multi-word path
  b->Args({1000, 1});
}

void jaro_winkler_paths(benchmark::internal::Benchmark* b) {
  b->ArgNames({"chars", "non_ascii"});
  for (int chars : {8, 16}) b->Args({chars, 0});       // short byte path
  for (int chars : {17, 32, 64}) b->Args({chars, 0});  // mask byte path
  for (int chars : {8, 64}) b->Args({chars, 1});       // code-point path
  for (int chars : {65, 500, 1000, 10000}) b->Args({chars, 0});
}

BENCHMARK(BM_Distance<quillmatch_core::levenshtein_bp>)->Name("Levenshtein")->Apply(distance_paths);
BENCHMARK(BM_Distance<quillmatch_core::damerau_bp>)->Name("Damerau")->Apply(distance_paths);
BENCHMARK(BM_JaroWinkler)->Name("JaroWinkler")->Apply(jaro_winkler_paths);

// ---------------------------------------------------------------------------
// The multi-word scans of one instruction set, whatever the dispatch would
// pick: the column-by-column scan (`Scan::Blocks`) and the diagonal kernels of
// 2, 4 and 8 lanes. Arguments: characters per string (ASCII).

enum class BlockKernel { kColumns, kSse2, kAvx2, kAvx512 };

template <typename Scan, BlockKernel kKernel>
void BM_Blocks(benchmark::State& state) {
  using namespace quillmatch_core::detail;
  std::mt19937_64 rng(42);
  const auto chars = static_cast<std::size_t>(state.range(0));
  const std::string a = random_text(rng, chars, false);
  const std::string b = mutated(rng, random_text(rng, chars, false));
  std::vector<char32_t> pattern(a.begin(), a.end());
  const BlockMasks masks(pattern, BlockMasks::block_count(chars));
  constexpr std::size_t kLanes[] = {0, 2, 4, 8};
  const std::size_t lanes = kLanes[static_cast<int>(kKernel)];
  const DiagonalKernel kernel = lanes == 0 ? nullptr : diagonal_kernel_of<Scan>(lanes);
  if (lanes != 0 && kernel == nullptr) {
    state.SkipWithError("instruction set not supported by this CPU");
    return;
  }
  for (auto _ : state) {
    std::size_t result;
    if (kernel != nullptr) {
      result = kernel(masks, chars, b, true);
    } else {
      typename Scan::Blocks columns(chars, masks.blocks());
      for (unsigned char byte : b) columns.step(masks.get(byte));
      result = columns.score();
    }
    benchmark::DoNotOptimize(result);
  }
  set_pair_counters(state, chars, chars, b.size());
}

void block_sizes(benchmark::internal::Benchmark* b) {
  b->ArgNames({"chars"});
  for (int chars : {65, 128, 192, 256, 500, 1000, 10000}) b->Args({chars});
}

using quillmatch_core::detail::DamerauScan;
using quillmatch_core::detail::LevenshteinScan;
BENCHMARK(BM_Blocks<LevenshteinScan, BlockKernel::kColumns>)
    ->Name("LevenshteinBlocks/columns")
    ->Apply(block_sizes);
BENCHMARK(BM_Blocks<LevenshteinScan, BlockKernel::kSse2>)
    ->Name("LevenshteinBlocks/diagonal_sse2")
    ->Apply(block_sizes);
BENCHMARK(BM_Blocks<LevenshteinScan, BlockKernel::kAvx2>)
    ->Name("LevenshteinBlocks/diagonal_avx2")
    ->Apply(block_sizes);
BENCHMARK(BM_Blocks<LevenshteinScan, BlockKernel::kAvx512>)
    ->Name("LevenshteinBlocks/diagonal_avx512")
    ->Apply(block_sizes);
BENCHMARK(BM_Blocks<DamerauScan, BlockKernel::kColumns>)
    ->Name("DamerauBlocks/columns")
    ->Apply(block_sizes);
BENCHMARK(BM_Blocks<DamerauScan, BlockKernel::kSse2>)
    ->Name("DamerauBlocks/diagonal_sse2")
    ->Apply(block_sizes);
BENCHMARK(BM_Blocks<DamerauScan, BlockKernel::kAvx2>)
    ->Name("DamerauBlocks/diagonal_avx2")
    ->Apply(block_sizes);
BENCHMARK(BM_Blocks<DamerauScan, BlockKernel::kAvx512>)
    ->Name("DamerauBlocks/diagonal_avx512")
    ->Apply(block_sizes);

// ---------------------------------------------------------------------------
// Batches: one query against word-like candidates of `range(0)` to `range(1)`
// bytes; `range(2)` 1 makes one candidate in two non-ASCII, which sends it to
// the pair function (the fallback).

constexpr std::size_t kBatchSize = 100000;
constexpr std::string_view kQuery = "accomodation";

struct Candidates {
  std::vector<std::string> owned;
  std::vector<std::string_view> views;
  std::size_t bytes = 0;
};

Candidates make_candidates(const benchmark::State& state) {
  std::mt19937_64 rng(7);
  const auto low = static_cast<std::size_t>(state.range(0));
  const auto high = static_cast<std::size_t>(state.range(1));
  const bool fallback = state.range(2) != 0;
  Candidates c;
  c.owned.reserve(kBatchSize);
  for (std::size_t i = 0; i < kBatchSize; ++i) {
    std::string s = random_text(rng, low + rng() % (high - low + 1), false);
    if (fallback && i % 2 == 0) s += "\xc3\xa9";
    c.bytes += s.size();
    c.owned.push_back(std::move(s));
  }
  c.views.assign(c.owned.begin(), c.owned.end());
  return c;
}

void set_batch_counters(benchmark::State& state, const Candidates& c) {
  const auto iterations = static_cast<double>(state.iterations());
  const auto kInverse = benchmark::Counter::kIsRate | benchmark::Counter::kInvert;
  state.counters["ns/cand"] =
      benchmark::Counter(static_cast<double>(c.views.size()) * iterations, kInverse);
  state.counters["ns/byte"] =
      benchmark::Counter(static_cast<double>(c.bytes) * iterations, kInverse);
}

void batch_shapes(benchmark::internal::Benchmark* b) {
  b->ArgNames({"min", "max", "fallback"});
  b->Args({5, 12, 0});  // English words
  b->Args({1, 8, 0});   // the narrowest lanes
  b->Args({9, 16, 0});
  b->Args({17, 64, 0});  // the widest lanes
  b->Args({5, 12, 1});
}

// The free function: lane scans where this CPU has them.
template <auto kBatch>
void BM_Batch(benchmark::State& state) {
  const Candidates c = make_candidates(state);
  for (auto _ : state) {
    auto result = kBatch(kQuery, c.views, std::nullopt);
    benchmark::DoNotOptimize(result.data());
  }
  set_batch_counters(state, c);
}

// One candidate at a time: the one-word scan for ASCII, the pair function for
// the rest.
template <typename Matcher>
void BM_BatchOneAtATime(benchmark::State& state) {
  const Candidates c = make_candidates(state);
  const Matcher matcher(kQuery, std::nullopt);
  std::vector<std::size_t> out(c.views.size());
  for (auto _ : state) {
    for (std::size_t i = 0; i < c.views.size(); ++i) out[i] = matcher.distance(c.views[i]);
    benchmark::DoNotOptimize(out.data());
  }
  set_batch_counters(state, c);
}

#if defined(__x86_64__) || defined(__i386__)
// The lane scans of one instruction set, whatever the CPU dispatch would pick.
template <typename Matcher, typename Scan, bool kAvx2>
void BM_BatchLanes(benchmark::State& state) {
  using namespace quillmatch_core::detail;
  __builtin_cpu_init();
  if (kAvx2 ? !__builtin_cpu_supports("avx2") : !__builtin_cpu_supports("sse2")) {
    state.SkipWithError("instruction set not supported by this CPU");
    return;
  }
  const LaneKernels& kernels = kAvx2 ? kLaneKernelsAvx2<Scan> : kLaneKernelsSse2<Scan>;
  const Candidates c = make_candidates(state);
  const Matcher matcher(kQuery, std::nullopt);
  std::vector<std::size_t> out(c.views.size());
  for (auto _ : state) {
    score_in_lanes(kernels, *LaneQuery::of(matcher.query()), c.views, out.data(),
                   [&](std::string_view s) { return matcher.distance(s); });
    benchmark::DoNotOptimize(out.data());
  }
  set_batch_counters(state, c);
}

BENCHMARK(BM_BatchLanes<LevenshteinBatch, LevenshteinScan, true>)
    ->Name("LevenshteinBatch/lanes_avx2")
    ->Apply(batch_shapes);
BENCHMARK(BM_BatchLanes<LevenshteinBatch, LevenshteinScan, false>)
    ->Name("LevenshteinBatch/lanes_sse2")
    ->Apply(batch_shapes);
BENCHMARK(BM_BatchLanes<DamerauBatch, DamerauScan, true>)
    ->Name("DamerauBatch/lanes_avx2")
    ->Apply(batch_shapes);
BENCHMARK(BM_BatchLanes<DamerauBatch, DamerauScan, false>)
    ->Name("DamerauBatch/lanes_sse2")
    ->Apply(batch_shapes);
#endif

BENCHMARK(BM_Batch<quillmatch_core::levenshtein_batch>)
    ->Name("LevenshteinBatch/dispatched")
    ->Apply(batch_shapes);
BENCHMARK(BM_BatchOneAtATime<LevenshteinBatch>)
    ->Name("LevenshteinBatch/one_at_a_time")
    ->Apply(batch_shapes);
BENCHMARK(BM_Batch<quillmatch_core::damerau_batch>)
    ->Name("DamerauBatch/dispatched")
    ->Apply(batch_shapes);
BENCHMARK(BM_BatchOneAtATime<DamerauBatch>)
    ->Name("DamerauBatch/one_at_a_time")
    ->Apply(batch_shapes);

// Code-point scoring: English-like words of 5 to 12 letters, 30% of them
// holding one Latin-1 letter, against `range(0)`: 0 an ASCII query, 1 an
// accented one, 2 an ASCII query of 70 letters; `range(1)` 1 folds case.
template <auto kBatch>
void BM_BatchCodePoints(benchmark::State& state) {
  std::mt19937_64 rng(11);
  Candidates c;
  for (std::size_t i = 0; i < kBatchSize; ++i) {
    std::string s = random_text(rng, 5 + rng() % 8, false);
    if (rng() % 10 < 3) s.replace(rng() % s.size(), 1, "\xc3\xa9");
    c.bytes += s.size();
    c.owned.push_back(std::move(s));
  }
  c.views.assign(c.owned.begin(), c.owned.end());
  std::string query[] = {"josephine", "jos\xc3\xa9phine", random_text(rng, 70, false)};
  const bool ci = state.range(1) != 0;
  for (auto _ : state) {
    auto result = kBatch(query[state.range(0)], c.views, ci);
    benchmark::DoNotOptimize(result.data());
  }
  set_batch_counters(state, c);
}
void code_point_shapes(benchmark::internal::Benchmark* b) {
  b->ArgNames({"query", "ci"});
  for (int query : {0, 1, 2}) {
    for (int ci : {0, 1}) b->Args({query, ci});
  }
}
BENCHMARK(BM_BatchCodePoints<quillmatch_core::levenshtein_batch>)
    ->Name("LevenshteinBatch/code_points")
    ->Apply(code_point_shapes);
BENCHMARK(BM_BatchCodePoints<quillmatch_core::damerau_batch>)
    ->Name("DamerauBatch/code_points")
    ->Apply(code_point_shapes);

void BM_JaroWinklerBatch(benchmark::State& state) {
  const Candidates c = make_candidates(state);
  for (auto _ : state) {
    auto result = quillmatch_core::jaro_winkler_batch(kQuery, c.views);
    benchmark::DoNotOptimize(result.value().data());
  }
  set_batch_counters(state, c);
}
BENCHMARK(BM_JaroWinklerBatch)->Name("JaroWinklerBatch")->Apply(batch_shapes);

// Sentences of 55 to 65 characters (words and spaces) against one of 60: the
// widest lanes, and the candidates just beyond them.
void BM_JaroWinklerBatchSentences(benchmark::State& state) {
  std::mt19937_64 rng(5);
  const auto sentence = [&](std::size_t chars) {
    std::string s;
    while (s.size() < chars) s += random_text(rng, 2 + rng() % 8, false) + " ";
    s.resize(chars);
    return s;
  };
  const std::string query = sentence(60);
  Candidates c;
  for (std::size_t i = 0; i < kBatchSize; ++i) {
    std::string s = sentence(55 + rng() % 11);
    c.bytes += s.size();
    c.owned.push_back(std::move(s));
  }
  c.views.assign(c.owned.begin(), c.owned.end());
  for (auto _ : state) {
    auto result = quillmatch_core::jaro_winkler_batch(query, c.views);
    benchmark::DoNotOptimize(result.value().data());
  }
  set_batch_counters(state, c);
}
BENCHMARK(BM_JaroWinklerBatchSentences)->Name("JaroWinklerBatch/sentences");

std::vector<double> jaro_winkler_batch_folded(std::string_view query,
                                              std::span<const std::string_view> candidates,
                                              bool ci) {
  return quillmatch_core::jaro_winkler_batch(query, candidates, std::nullopt, ci).value();
}
BENCHMARK(BM_BatchCodePoints<jaro_winkler_batch_folded>)
    ->Name("JaroWinklerBatch/code_points")
    ->Apply(code_point_shapes);

}  // namespace

BENCHMARK_MAIN();
