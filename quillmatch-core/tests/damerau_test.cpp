// damerau_bp: fixed cases, then every path against the optimal string
// alignment DP.
#include <cstddef>
#include <optional>
#include <string>
#include <utility>

#include <gtest/gtest.h>

#include "damerau_scan.h"
#include "distance_checks.h"
#include "quillmatch_core/damerau_bp.h"
#include "reference.h"

namespace quillmatch_core {
namespace {

using std::nullopt;

using distance_checks::Case;

std::string swapped(std::string s, std::size_t i) {
  std::swap(s[i], s[i + 1]);
  return s;
}

TEST(DamerauTest, Cases) {
  std::string p65;
  for (int i = 0; i < 65; ++i) p65 += static_cast<char>('a' + i % 26);
  std::string p130;
  for (int i = 0; i < 130; ++i) p130 += static_cast<char>('A' + i * 7 % 26);
  const std::string p70_cjk = std::string(35, 'a') + "日" + std::string(34, 'b');
  const Case cases[] = {
      {"", "", nullopt, nullopt, nullopt, 0},
      {"", "abc", nullopt, nullopt, nullopt, 3},
      {"abc", "", nullopt, nullopt, nullopt, 3},
      {"", "abc", nullopt, nullopt, 1, 2},
      {"abc", "", nullopt, nullopt, 1, 2},
      {"ab", "ba", nullopt, nullopt, nullopt, 1},
      {"abc", "acb", nullopt, nullopt, nullopt, 1},
      {"abcd", "badc", nullopt, nullopt, nullopt, 2},
      {"teh", "the", nullopt, nullopt, nullopt, 1},
      {"flaw", "lawn", nullopt, nullopt, nullopt, 2},
      {"CA", "ABC", nullopt, nullopt, nullopt, 3},
      {"ABC", "CA", nullopt, nullopt, nullopt, 3},
      {"abcdef", "badcfe", nullopt, nullopt, nullopt, 3},
      {"sunday", "saturday", nullopt, nullopt, nullopt, 3},
      {"a", "abcabcaca", nullopt, nullopt, nullopt, 8},
      // Cut-off.
      {"a", "ab", nullopt, nullopt, 0, 1},
      {"ab", "ba", nullopt, nullopt, 0, 1},
      {"abc", "abc", nullopt, nullopt, 0, 0},
      {"abcdef", "badcfe", nullopt, nullopt, 1, 2},
      {"abcdef", "badcfe", nullopt, nullopt, 2, 3},
      {"abcdef", "badcfe", nullopt, nullopt, 3, 3},
      // Length limit.
      {"abcd", "ab", 3, nullopt, nullopt, 4, "str_1"},
      {"abc", "abcd", 3, nullopt, nullopt, 4, "str_2"},
      {"abcd", "abcde", 3, nullopt, nullopt, 4, "str_1"},
      {"", "", 0, nullopt, nullopt, 0},
      {"a", "", 0, nullopt, 0, 1, "str_1"},
      {"ab", "ba", 2, nullopt, nullopt, 1},
      {"日本", "本日", 2, nullopt, nullopt, 1},
      {"İ", "i", 1, true, nullopt, 2, "str_1"},
      {"i", "İ", 1, true, nullopt, 2, "str_2"},
      {"İ", "i", 1, nullopt, nullopt, 1},
      // Case folding.
      {"ABC", "abc", nullopt, true, nullopt, 0},
      {"ABC", "abc", nullopt, false, nullopt, 3},
      {"Ab", "BA", nullopt, true, nullopt, 1},
      {"Ab", "BA", nullopt, false, nullopt, 2},
      {"[", "{", nullopt, true, nullopt, 1},
      {"ΣΑ", "ασ", nullopt, true, nullopt, 1},
      {"ÀÉ", "éà", nullopt, true, nullopt, 1},
      {"İx", "xi", nullopt, true, nullopt, 3},
      {"İx", "xi\xCC\x87", nullopt, true, nullopt, 2},
      // Code points, not bytes.
      {"é", "e", nullopt, nullopt, nullopt, 1},
      {"日本", "本日", nullopt, nullopt, nullopt, 1},
      {"日本語", "日語本", nullopt, nullopt, nullopt, 1},
      {"éÿ", "ÿé", nullopt, nullopt, nullopt, 1},
      {"😀😁", "😁😀", nullopt, nullopt, nullopt, 1},
      {"a😀", "😀a", nullopt, nullopt, nullopt, 1},
      // Block borders: swaps in the first block, the last block, across 64 and 128.
      {p65, swapped(p65, 0), nullopt, nullopt, nullopt, 1},
      {p65, swapped(p65, 63), nullopt, nullopt, nullopt, 1},
      {p65, swapped(p65, 62), nullopt, nullopt, nullopt, 1},
      {p65.substr(0, 64), swapped(p65.substr(0, 64), 62), nullopt, nullopt, nullopt, 1},
      {p130, swapped(p130, 63), nullopt, nullopt, nullopt, 1},
      {p130, swapped(p130, 127), nullopt, nullopt, nullopt, 1},
      {p130, swapped(swapped(p130, 127), 63), nullopt, nullopt, nullopt, 2},
      {p130, swapped(p130, 128), nullopt, nullopt, 0, 1},
      {p70_cjk, "日本", nullopt, nullopt, nullopt, 69},
      {p70_cjk, "a日本b", nullopt, nullopt, nullopt, 67},
      {std::string(70, 'x'), "日本", nullopt, nullopt, nullopt, 70},
  };
  distance_checks::check_cases(damerau_bp, cases);
}

void check_corpus(std::uint64_t seed, ref::Alphabet alphabet, const std::string& tail = "") {
  distance_checks::check_corpus(damerau_bp, ref::osa, seed, alphabet, tail);
}

TEST(DamerauTest, MatchesReferenceOnBytePathAndMultiWordAscii) {
  check_corpus(201, ref::Alphabet::kAscii);
}
TEST(DamerauTest, MatchesReferenceWithAsciiPatternAndNonAsciiText) {
  check_corpus(202, ref::Alphabet::kAscii, "é");
  check_corpus(203, ref::Alphabet::kAscii, "日");
}
TEST(DamerauTest, EitherSideAsPattern) {
  distance_checks::check_either_side_as_pattern(damerau_bp, ref::osa);
}
TEST(DamerauTest, MatchesReferenceBelow256) { check_corpus(204, ref::Alphabet::kLatin1); }
TEST(DamerauTest, MatchesReferenceFrom256) { check_corpus(205, ref::Alphabet::kBmp); }
TEST(DamerauTest, MatchesReferenceAboveFFFF) { check_corpus(206, ref::Alphabet::kAstral); }
TEST(DamerauTest, MatchesReferenceMixed) { check_corpus(207, ref::Alphabet::kMixed); }

TEST(DamerauTest, CaseInsensitiveMatchesReferenceOnLowerCased) {
  distance_checks::check_case_insensitive(damerau_bp, ref::osa, 208);
}

TEST(DamerauTest, EveryWordScannerMatchesReference) {
  distance_checks::check_word_scanners<detail::DamerauScan::Word>(ref::osa);
}
TEST(DamerauTest, TextsAtPageEnd) {
  distance_checks::check_texts_at_page_end(damerau_bp, ref::osa);
}

}  // namespace
}  // namespace quillmatch_core
