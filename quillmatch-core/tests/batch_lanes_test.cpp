// The lane scans of the distance batches against the one-at-a-time scan, for
// every instruction set this CPU runs, every lane width and partial groups.
#include <gtest/gtest.h>

#include <cstring>  // std::memcpy
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <utility>  // std::pair
#include <vector>

#include "damerau_scan.h"
#include "jaro_winkler_lanes.h"
#include "lane_schedule.h"
#include "levenshtein_scan.h"
#include "quillmatch_core/damerau_batch.h"
#include "quillmatch_core/jaro_winkler.h"
#include "quillmatch_core/jaro_winkler_batch.h"
#include "quillmatch_core/levenshtein_batch.h"
#include "reference.h"
#include "unicode_case.h"

namespace quillmatch_core::detail {
namespace {

struct KernelSet {
  const char* name;
  const char* cpu_feature;
  LaneKernels levenshtein;
  LaneKernels damerau;
};

#if defined(__x86_64__) || defined(__i386__)
std::vector<KernelSet> kernel_sets() {
  return {{"avx2", "avx2", kLaneKernelsAvx2<LevenshteinScan>, kLaneKernelsAvx2<DamerauScan>},
          {"sse2", "sse2", kLaneKernelsSse2<LevenshteinScan>, kLaneKernelsSse2<DamerauScan>}};
}
#else
std::vector<KernelSet> kernel_sets() { return {}; }
#endif

bool cpu_has(const char* feature) {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_cpu_init();
  return std::string_view(feature) == "avx2" ? __builtin_cpu_supports("avx2")
                                             : __builtin_cpu_supports("sse2");
#else
  (void)feature;
  return false;
#endif
}

// A number below `n`, in the machine word on every target.
std::size_t below(std::mt19937_64& rng, std::size_t n) {
  return static_cast<std::size_t>(rng() % n);
}

// A text of `len` characters drawn from the characters of `alphabet` (UTF-8).
std::string random_text(std::mt19937_64& rng, std::size_t len, std::string_view alphabet) {
  const ref::Text chars = ref::decode(alphabet);
  ref::Text t(len);
  for (char32_t& c : t) c = chars[below(rng, chars.size())];
  return ref::encode(t);
}

// Candidate lengths on both sides of every lane width, plus the cases that
// leave the lanes: empty, over 64 bytes, code points from 256 (U+0130 and
// U+212A lower-case into ASCII, U+03A3 by its neighbours) and the high bytes
// of malformed UTF-8.
std::vector<std::string> random_candidates(std::mt19937_64& rng, std::string_view alphabet,
                                           std::size_t count) {
  static constexpr std::size_t kLengths[] = {0, 1, 2, 7, 8, 9, 15, 16, 17, 31, 32, 33, 63, 64, 65};
  static constexpr std::string_view kOthers[] = {
      "\xc3\xa9",     "\xc3\x89", "\xc3\xbf",         "\xc4\x80", "\xc4\xb0",
      "\xe2\x84\xaa", "\xce\xa3", "\xf0\x9f\x98\x80", "\xc3",     "\xa9"};
  std::vector<std::string> out;
  for (std::size_t i = 0; i < count; ++i) {
    std::string s = random_text(rng, kLengths[below(rng, std::size(kLengths))], alphabet);
    if (rng() % 11 == 0)
      s.insert(below(rng, s.size() + 1), kOthers[below(rng, std::size(kOthers))]);
    out.push_back(s);
  }
  return out;
}

// Scores `owned` through every kernel set against both one-at-a-time scans.
void expect_lanes_match(std::string_view query, const std::vector<std::string>& owned,
                        const char* what) {
  const std::vector<std::string_view> candidates(owned.begin(), owned.end());
  for (const KernelSet& set : kernel_sets()) {
    if (!cpu_has(set.cpu_feature)) continue;
    for (bool case_insensitive : {false, true}) {
      const LevenshteinBatch lev(query, case_insensitive);
      const DamerauBatch dam(query, case_insensitive);
      const std::optional<LaneQuery> lane_query = LaneQuery::of(lev.query());
      ASSERT_TRUE(lane_query.has_value()) << what;
      std::vector<std::size_t> got_lev(owned.size(), 999);
      std::vector<std::size_t> got_dam(owned.size(), 999);
      score_in_lanes(set.levenshtein, *lane_query, candidates, got_lev.data(),
                     [&](std::string_view c) { return lev.distance(c); });
      score_in_lanes(set.damerau, *lane_query, candidates, got_dam.data(),
                     [&](std::string_view c) { return dam.distance(c); });
      for (std::size_t i = 0; i < owned.size(); ++i) {
        ASSERT_EQ(got_lev[i], lev.distance(candidates[i]))
            << what << ", " << set.name << ", ci " << case_insensitive << ", query '" << query
            << "', candidate '" << owned[i] << "'";
        ASSERT_EQ(got_dam[i], dam.distance(candidates[i]))
            << what << ", " << set.name << ", ci " << case_insensitive << ", query '" << query
            << "', candidate '" << owned[i] << "'";
      }
    }
  }
}

TEST(BatchLanes, EveryKernelEqualsTheOneAtATimeScan) {
  std::mt19937_64 rng(20261208);
  constexpr std::string_view kAlphabets[] = {"ab",
                                             "abcAB",
                                             "abcdefghij[{",
                                             "xyzXYZ019 ",
                                             "ae\u00e9\u00c9\u00df\u00ff",
                                             "ab\u00b5\u00d7\u00f7\u00de\u00fe\u00c0\u00e0"};
  for (std::size_t query_len : {1, 2, 5, 8, 9, 16, 17, 33, 63, 64}) {
    for (std::string_view alphabet : kAlphabets) {
      const std::string query = random_text(rng, query_len, alphabet);
      // Counts that leave every lane width with a partial last group; every
      // other one fills even the 64 narrowest lanes several times.
      const std::size_t count = 1 + below(rng, 150) + (query_len % 2 == 0 ? 600 : 0);
      const std::vector<std::string> owned = random_candidates(rng, alphabet, count);
      expect_lanes_match(query, owned, "random");
    }
  }
}

// The in-place Latin-1 rewrite of a lane row against the scalar decoder
// `to_latin1`, for every row width a candidate fits: lead bytes at every
// place, across the words' borders and last in the row, lone continuation
// bytes, other bytes from 0xC0, NUL.
template <std::size_t kWords>
void expect_latin1_row(const std::string& bytes) {
  unsigned char expected[65] = {};
  const std::size_t chars = to_latin1(bytes, expected);
  using Rewrite = std::size_t (*)(unsigned char*, std::size_t);
  std::vector<std::pair<const char*, Rewrite>> rewrites = {{"words", latin1_row<kWords>}};
#if defined(__x86_64__) || defined(__i386__)
  rewrites.emplace_back("SSE2", Sse2Masks::latin1_row<kWords>);
  if (__builtin_cpu_supports("avx2")) rewrites.emplace_back("AVX2", Avx2Masks::latin1_row<kWords>);
#endif
  for (const auto& [name, rewrite] : rewrites) {
    unsigned char row[64] = {};
    std::memcpy(row, bytes.data(), bytes.size());
    const std::size_t got = rewrite(row, bytes.size());
    ASSERT_EQ(got, chars) << name << ", " << kWords << " words, '" << bytes << "'";
    if (chars > 64) continue;
    // The rewritten row, zero-padded.
    for (std::size_t i = 0; i < 8 * kWords; ++i) {
      ASSERT_EQ(row[i], i < chars ? expected[i] : 0)
          << name << ", " << kWords << " words, '" << bytes << "' at " << i;
    }
  }
}

TEST(BatchLanes, Latin1RowsEqualTheScalarDecoder) {
  std::mt19937_64 rng(20261211);
  const std::string bytes = std::string("aZ\0\xc2\xc3\x80\xa9\xbf\xc0\xc1\xc4\xe9\xf0\xff", 14);
  for (int i = 0; i < 20000; ++i) {
    const std::size_t n = 1 + below(rng, 64);
    std::string s;
    for (std::size_t k = 0; k < n; ++k) {
      // Mostly well-formed: ASCII, or a lead and a continuation.
      const std::size_t pick = below(rng, 10);
      if (pick < 4) {
        s += 'a';
      } else if (pick < 8 && k + 1 < n) {
        s += pick < 6 ? '\xc3' : '\xc2';
        s += static_cast<char>(0x80 + below(rng, 64));
        ++k;
      } else {
        s += bytes[below(rng, bytes.size())];
      }
    }
    if (n <= 8) expect_latin1_row<1>(s);
    if (n <= 16) expect_latin1_row<2>(s);
    if (n <= 32) expect_latin1_row<4>(s);
    expect_latin1_row<8>(s);
  }
}

// Which queries the lanes take: 1 to 64 code points below 256 once
// lower-cased when folding.
TEST(BatchLanes, QueriesOfTheLanes) {
  std::string e64;
  for (int i = 0; i < 64; ++i) e64 += "\u00e9";
  const struct {
    std::string query;
    bool ci;
    std::optional<std::string> lanes;  // the lane text, Latin-1
  } cases[] = {
      {"", false, std::nullopt},
      {"Jos\u00e9phine", false, "Jos\xe9phine"},
      {"Jos\u00e9phine", true, "jos\xe9phine"},
      {"\u00c0\u00d7\u00de\u00df\u00b5\u00ff", true, "\xe0\xd7\xfe\xdf\xb5\xff"},
      {"\u0130", false, std::nullopt},
      {"\u0130", true, std::nullopt},  // i and U+0307
      {"\u212A", false, std::nullopt},
      {"\u212Aa", true, "ka"},   // KELVIN SIGN
      {"\u1E9E", true, "\xdf"},  // capital sharp s
      {"\u0178", true, "\xff"},
      {"\u03a3", true, std::nullopt},
      {"a\U0001F600", false, std::nullopt},
      {e64, false, std::string(64, '\xe9')},
      {e64 + "a", false, std::nullopt},
      {std::string(63, 'a') + "\u0130", true, std::nullopt},  // 65 once lower-cased
  };
  for (const auto& c : cases) {
    const BatchQuery table(c.query, c.ci);
    const std::optional<LaneQuery> got = LaneQuery::of(table);
    ASSERT_EQ(got.has_value(), c.lanes.has_value()) << c.query << " ci " << c.ci;
    if (!got) continue;
    std::string text;
    for (std::size_t j = 0; j < got->length; ++j) {
      text += static_cast<char>(got->class_byte[got->text_class[j]]);
    }
    EXPECT_EQ(text, *c.lanes) << c.query << " ci " << c.ci;
  }
}

// The lanes find non-ASCII candidates themselves, zero-pad their rows (a
// query may hold NUL) and copy short candidates without branching on their
// length: each case against the one-at-a-time scan.
TEST(BatchLanes, BordersOfTheLaneLayout) {
  std::mt19937_64 rng(20261209);
  std::string control;  // 64 distinct bytes 0x00 to 0x3F: 64 classes, NUL among them
  for (int b = 0; b < 64; ++b) control += static_cast<char>(b);
  const std::string letters_and_neighbours = "@AZ[`az{aZ";
  std::string latin1_top;  // both cases, U+00D7 and U+00F7, U+00DF and U+00FF
  for (char32_t c = 0xC0; c <= 0xFF; ++c) latin1_top += ref::encode({c});
  struct Case {
    const char* what;
    std::string query;
    std::string alphabet;
    std::vector<std::size_t> lengths;
    std::size_t count;
    bool non_ascii;  // put one byte of U+00E9 at a random position of some candidates
  };
  // One case in one or two lines; clang-format would give each field a line.
  // clang-format off
  const std::vector<Case> cases = {
      {"copies of 1 to 8 bytes, several full groups", "kitten", "kitensg", {1, 2, 3, 4, 5, 7, 8}, 300,
       false},
      {"every width at its borders", "sitting", "sitngk", {8, 9, 16, 17, 32, 33, 64}, 200, false},
      {"query of 64 distinct control bytes", control, control + "xyz", {1, 8, 9, 33, 64}, 150, false},
      {"query holding NUL", std::string("a\0b", 3), std::string("ab\0c", 4), {1, 3, 8, 16}, 120, false},
      {"case neighbours of the letters", "A@z[`Z{", letters_and_neighbours, {1, 5, 8, 12, 20}, 150,
       false},
      {"non-ASCII anywhere in any lane", "definitely", "defintly", {2, 3, 8, 9, 16, 17, 40, 64}, 300,
       true},
      {"Latin-1 candidates of every byte length", "Jos\u00e9phine", "josephin\u00e9\u00c9\u00e8",
       {1, 4, 5, 8, 9, 16, 17, 32, 33, 64}, 300, false},
      {"Latin-1 and broken UTF-8 in any lane", "definitely", "defintly\u00e9\u00ff\u00b5",
       {2, 3, 8, 9, 16, 17, 40, 64}, 300, true},
      {"query of the 64 code points U+00C0 to U+00FF", latin1_top, latin1_top + "a",
       {1, 8, 9, 33, 64}, 150, false},
  };
  // clang-format on
  for (const Case& c : cases) {
    std::vector<std::string> owned;
    for (std::size_t i = 0; i < c.count; ++i) {
      std::string s = random_text(rng, c.lengths[below(rng, c.lengths.size())], c.alphabet);
      if (c.non_ascii && !s.empty() && rng() % 3 == 0) {
        // Either byte of the two-byte form, so that lanes see lone high bytes too.
        s[below(rng, s.size())] = rng() % 2 == 0 ? '\xc3' : '\xa9';
      }
      owned.push_back(s);
    }
    expect_lanes_match(c.query, owned, c.what);
  }
}

// The Jaro-Winkler lanes of every instruction set against the pair function,
// bit for bit: ASCII and Latin-1 queries and candidates at every lane border,
// those that leave the lanes, partial groups.
TEST(BatchLanes, JaroWinklerKernelsEqualThePairFunction) {
#if defined(__x86_64__) || defined(__i386__)
  const std::pair<const char*, const JaroWinklerLaneKernels*> sets[] = {
      {"avx2", &kJaroWinklerLanesAvx2}, {"sse2", &kJaroWinklerLanesSse2}};
  std::mt19937_64 rng(20261210);
  // Latin-1 letters of both cases and U+00D7, which has no lower case.
  const std::string accents = "\xc3\x89\xc3\xa9\xc3\x97\xc3\xb7";
  for (const auto& [name, kernels] : sets) {
    if (!cpu_has(name)) continue;
    for (std::size_t query_len : {1, 4, 8, 9, 17, 33, 64}) {
      for (bool ci : {false, true}) {
        const std::string query = random_text(rng, query_len, "abcAB");
        std::vector<std::string> owned = random_candidates(rng, "abcAB", 1 + below(rng, 150));
        for (std::size_t n : {1, 8, 9, 32, 33, 64, 65}) {
          std::string s = random_text(rng, n, "abcAB");
          for (std::size_t k = 0; k < n; k += 3)
            s.replace(k, 1, accents.substr(below(rng, 4) * 2, 2));
          owned.push_back(s.substr(0, s.size() - below(rng, 2) * 2));
        }
        // More than 64 bytes in at most 64 characters, queued in Latin-1: enough
        // to fill the widest group from that queue alone.
        for (std::size_t k = 0; k < 17; ++k) {
          owned.push_back(random_text(rng, 30, "abcAB") + random_text(rng, 20, accents));
        }
        // One accent past a lane's bytes but not its characters, at 8, 16 and
        // 64 bytes: 64, 65 and 66 bytes hold 63, 64 and 65 characters.
        for (std::size_t n : {7, 8, 15, 62, 63, 64}) {
          owned.push_back(random_text(rng, n, "abcAB") + accents.substr(below(rng, 4) * 2, 2));
        }
        const std::vector<std::string_view> candidates(owned.begin(), owned.end());
        for (const std::string& q : {query, owned.back()}) {
          const auto matcher = JaroWinklerBatch::create(q, 0.2, ci);
          std::vector<double> got(owned.size(), -1.0);
          std::string lowered, latin1(65, '\0');
          append_lowercase(q, lowered);
          latin1.resize(
              to_latin1(ci ? lowered : q, reinterpret_cast<unsigned char*>(latin1.data())));
          if (latin1.size() > 64) continue;
          score_in_jaro_winkler_lanes(
              *kernels, JaroWinklerLaneQuery(latin1, ci), 0.2, candidates, got.data(),
              [&](std::string_view c) { return matcher.value().similarity(c); });
          for (std::size_t i = 0; i < owned.size(); ++i) {
            ASSERT_EQ(ref::Exact{got[i]},
                      ref::Exact{jaro_winkler(q, owned[i], 0.2, std::nullopt, ci).value()})
                << name << " query '" << q << "' candidate '" << owned[i] << "' ci " << ci;
          }
        }
      }
    }
  }
#endif
}

TEST(BatchLanes, FreeFunctionsKeepCandidateOrder) {
  const std::vector<std::string_view> candidates = {"ba", "ab", "", "b", "CA", "abc\xc3\xa7", "Ab"};
  EXPECT_EQ(levenshtein_batch("ab", candidates), (std::vector<std::size_t>{2, 0, 2, 1, 2, 2, 1}));
  EXPECT_EQ(damerau_batch("ab", candidates), (std::vector<std::size_t>{1, 0, 2, 1, 2, 2, 1}));
  EXPECT_EQ(damerau_batch("ab", candidates, true), (std::vector<std::size_t>{1, 0, 2, 1, 2, 2, 0}));
}

}  // namespace
}  // namespace quillmatch_core::detail
