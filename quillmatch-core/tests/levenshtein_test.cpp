// levenshtein_bp: fixed cases, then every path against the full-matrix DP.
#include <cstddef>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "distance_checks.h"
#include "levenshtein_scan.h"
#include "quillmatch_core/levenshtein_bp.h"
#include "reference.h"

namespace quillmatch_core {
namespace {

using std::nullopt;

using distance_checks::Case;

const std::string k65 = std::string(65, 'q').replace(10, 3, "xyz");
const std::string k65_last = std::string(k65).replace(64, 1, "#");
const std::string k70_cjk = std::string(35, 'a') + "日" + std::string(34, 'b');
// Folding borders: 64 ASCII bytes fold in place, 65 and non-ASCII ones on the
// heap; the Kelvin signs fold to ASCII k.
const std::string k64_upper = std::string(63, 'Q') + "K";
const std::string k64_lower = std::string(63, 'q') + "k";
const std::string k65_upper = k64_upper + "Z";
const std::string k64_kelvin = std::string(63, 'q') + "\u212A";
const std::string k70_cjk_other = std::string(35, 'a') + "本" + std::string(34, 'b');

TEST(LevenshteinTest, Cases) {
  const Case cases[] = {
      {"", "", nullopt, nullopt, nullopt, 0},
      {"", "abc", nullopt, nullopt, nullopt, 3},
      {"abc", "", nullopt, nullopt, nullopt, 3},
      {"", "abc", nullopt, nullopt, 5, 3},
      {"abc", "", nullopt, nullopt, 5, 3},
      {"", "abc", nullopt, nullopt, 2, 3},
      {"abc", "", nullopt, nullopt, 2, 3},
      {"", "abc", nullopt, nullopt, 1, 2},
      {"sunday", "saturday", nullopt, nullopt, nullopt, 3},
      {"saturday", "sunday", nullopt, nullopt, nullopt, 3},
      {"flaw", "lawn", nullopt, nullopt, nullopt, 2},
      {"ab", "ba", nullopt, nullopt, nullopt, 2},
      {"kitten", "sitting", nullopt, nullopt, nullopt, 3},
      {"a", "abca", nullopt, nullopt, nullopt, 3},
      {"abca", "a", nullopt, nullopt, nullopt, 3},
      {"a", "abcabcaca", nullopt, nullopt, nullopt, 8},
      {"abcabcaca", "a", nullopt, nullopt, nullopt, 8},
      {"ab", "bbababc", nullopt, nullopt, nullopt, 5},
      {"bbababc", "ab", nullopt, nullopt, nullopt, 5},
      {"CA", "ABC", nullopt, nullopt, nullopt, 3},
      // Cut-off: the pre-check on lengths, the cap after a full scan.
      {"abc", "abc", nullopt, nullopt, 0, 0},
      {"a", "ab", nullopt, nullopt, 0, 1},
      {"ab", "ba", nullopt, nullopt, 0, 1},
      {"sunday", "saturday", nullopt, nullopt, 1, 2},
      {"sunday", "saturday", nullopt, nullopt, 2, 3},
      {"sunday", "saturday", nullopt, nullopt, 3, 3},
      {"sunday", "saturday", nullopt, nullopt, 100, 3},
      // Length limit, counted in code points after lower-casing, str_1 first.
      {"abcd", "ab", 3, nullopt, nullopt, 4, "str_1"},
      {"abc", "abcd", 3, nullopt, nullopt, 4, "str_2"},
      {"abcd", "abcde", 3, nullopt, nullopt, 4, "str_1"},
      {"abcd", "abcde", 3, nullopt, 0, 4, "str_1"},
      {"", "", 0, nullopt, nullopt, 0},
      {"a", "", 0, nullopt, nullopt, 1, "str_1"},
      {"", "a", 0, nullopt, nullopt, 1, "str_2"},
      {"abc", "abc", 3, nullopt, nullopt, 0},
      {"日本", "日本語", 2, nullopt, nullopt, 3, "str_2"},
      {"日本", "本日", 2, nullopt, nullopt, 2},
      {"İ", "i", 1, true, nullopt, 2, "str_1"},
      {"i", "İ", 1, true, nullopt, 2, "str_2"},
      {"İ", "i", 1, false, nullopt, 1},
      {"İ", "i", 2, true, nullopt, 1},
      {"ABCD", "abc", 3, true, nullopt, 4, "str_1"},
      // Case folding.
      {"ABC", "abc", nullopt, true, nullopt, 0},
      {"ABC", "abc", nullopt, false, nullopt, 3},
      {"ABC", "abc", nullopt, nullopt, nullopt, 3},
      {"[", "{", nullopt, true, nullopt, 1},
      {"İ", "i\xCC\x87", nullopt, true, nullopt, 0},
      {"ΣΑΣ", "σας", nullopt, true, nullopt, 0},
      {"ΣΑΣ", "σασ", nullopt, true, nullopt, 1},
      {"Σ", "σ", nullopt, true, nullopt, 0},
      {"\u212A", "k", nullopt, true, nullopt, 0},
      {"\u212A", "k", nullopt, false, nullopt, 1},
      {"ß", "ss", nullopt, true, nullopt, 2},
      {"ẞ", "ß", nullopt, true, nullopt, 0},
      {"ÀÉÎ", "àéî", nullopt, true, nullopt, 0},
      {"𐐀", "𐐨", nullopt, true, nullopt, 0},
      {"ЖЖ", "жж", nullopt, false, nullopt, 2},
      {k64_upper, k64_lower, nullopt, true, nullopt, 0},
      {k64_upper, k64_kelvin, nullopt, true, nullopt, 0},
      {k65_upper, k64_kelvin, 64, true, nullopt, 65, "str_1"},
      {k64_kelvin, k65_upper, nullopt, true, nullopt, 1},
      {k64_upper, k64_lower, nullopt, false, nullopt, 64},
      // Code points, not bytes.
      {"é", "e", nullopt, nullopt, nullopt, 1},
      {"e\xCC\x81", "é", nullopt, nullopt, nullopt, 2},
      {"日本", "本日", nullopt, nullopt, nullopt, 2},
      {"日本語", "日本", nullopt, nullopt, nullopt, 1},
      {"😀😁", "😁😀", nullopt, nullopt, nullopt, 2},
      {"ÿ", "Ā", nullopt, nullopt, nullopt, 1},
      {"abc", "abç", nullopt, nullopt, nullopt, 1},
      {"abç", "abc", nullopt, nullopt, nullopt, 1},
      // Block borders.
      {k65, k65_last, nullopt, nullopt, nullopt, 1},
      {k65_last, k65, nullopt, nullopt, 0, 1},
      {k70_cjk, "日本", nullopt, nullopt, nullopt, 69},
      {k70_cjk, k70_cjk_other, nullopt, nullopt, nullopt, 1},
  };
  distance_checks::check_cases(levenshtein_bp, cases);
}

void check_corpus(std::uint64_t seed, ref::Alphabet alphabet, const std::string& tail = "") {
  distance_checks::check_corpus(levenshtein_bp, ref::levenshtein, seed, alphabet, tail);
}

TEST(LevenshteinTest, MatchesReferenceOnBytePathAndMultiWordAscii) {
  check_corpus(101, ref::Alphabet::kAscii);
}
TEST(LevenshteinTest, MatchesReferenceWithAsciiPatternAndNonAsciiText) {
  check_corpus(102, ref::Alphabet::kAscii, "é");
  check_corpus(103, ref::Alphabet::kAscii, "日");
}
TEST(LevenshteinTest, EitherSideAsPattern) {
  distance_checks::check_either_side_as_pattern(levenshtein_bp, ref::levenshtein);
}
TEST(LevenshteinTest, MatchesReferenceBelow256) { check_corpus(104, ref::Alphabet::kLatin1); }
TEST(LevenshteinTest, MatchesReferenceFrom256) { check_corpus(105, ref::Alphabet::kBmp); }
TEST(LevenshteinTest, MatchesReferenceAboveFFFF) { check_corpus(106, ref::Alphabet::kAstral); }
TEST(LevenshteinTest, MatchesReferenceMixed) { check_corpus(107, ref::Alphabet::kMixed); }

TEST(LevenshteinTest, CaseInsensitiveMatchesReferenceOnLowerCased) {
  distance_checks::check_case_insensitive(levenshtein_bp, ref::levenshtein, 108);
}

TEST(LevenshteinTest, EveryWordScannerMatchesReference) {
  distance_checks::check_word_scanners<detail::LevenshteinScan::Word>(ref::levenshtein);
}
TEST(LevenshteinTest, TextsAtPageEnd) {
  distance_checks::check_texts_at_page_end(levenshtein_bp, ref::levenshtein);
}

}  // namespace
}  // namespace quillmatch_core
