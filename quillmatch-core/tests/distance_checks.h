// Checks that the two bit-parallel distances share: a table of fixed cases
// and random corpora on every path against a plain DP reference, with every
// length-limit and cut-off rule.
#ifndef QUILLMATCH_CORE_TESTS_DISTANCE_CHECKS_H_
#define QUILLMATCH_CORE_TESTS_DISTANCE_CHECKS_H_

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "bit_parallel.h"
#include "quillmatch_core/common.h"
#include "reference.h"

namespace distance_checks {

using quillmatch_core::InputTooLong;
using quillmatch_core::Result;
using std::nullopt;

using Distance = Result<std::size_t> (*)(std::string_view, std::string_view,
                                         std::optional<std::size_t>, std::optional<bool>,
                                         std::optional<std::size_t>);
using Reference = std::size_t (*)(std::string_view, std::string_view);

struct Case {
  std::string a;
  std::string b;
  std::optional<std::size_t> max_len;
  std::optional<bool> ci;
  std::optional<std::size_t> cutoff;
  std::size_t want;             // distance, or the error's `len`
  const char* which = nullptr;  // set: InputTooLong naming this input, limit = max_len
};

inline void check_cases(Distance distance, std::span<const Case> cases) {
  for (const Case& c : cases) {
    SCOPED_TRACE(c.a + " / " + c.b);
    const auto got = distance(c.a, c.b, c.max_len, c.ci, c.cutoff);
    if (c.which != nullptr) {
      ASSERT_FALSE(got.ok());
      const InputTooLong* e = got.error().input_too_long();
      ASSERT_NE(e, nullptr);
      EXPECT_STREQ(e->which, c.which);
      EXPECT_EQ(e->len, c.want);
      EXPECT_EQ(e->limit, *c.max_len);
    } else {
      ASSERT_TRUE(got.ok()) << got.error().debug_text();
      EXPECT_EQ(got.value(), c.want);
    }
  }
}

// Checks `distance` against `reference` on the random corpus of `seed`, each
// text followed by `tail`: plain, at the length limit, one below it on either
// side, and under cut-offs around the distance.
inline void check_corpus(Distance distance, Reference reference, std::uint64_t seed,
                         ref::Alphabet alphabet, const std::string& tail = "") {
  ref::Random random(seed);
  for (const auto& [a0, b0] : ref::distance_corpus(seed, alphabet)) {
    const std::string a = a0, b = b0 + tail;
    SCOPED_TRACE(a + " / " + b);
    const std::size_t want = reference(a, b);
    ASSERT_EQ(distance(a, b, nullopt, nullopt, nullopt).value(), want);
    const std::size_t n1 = ref::decode(a).size(), n2 = ref::decode(b).size();
    ASSERT_EQ(distance(a, b, std::max(n1, n2), nullopt, nullopt).value(), want);
    if (n1 > 0) {
      const auto err = distance(a, b, n1 - 1, nullopt, nullopt);
      ASSERT_FALSE(err.ok());
      EXPECT_STREQ(err.error().input_too_long()->which, "str_1");
      EXPECT_EQ(err.error().input_too_long()->len, n1);
    }
    if (n2 > 0 && n1 < n2) {
      const auto err = distance(a, b, n2 - 1, nullopt, nullopt);
      ASSERT_FALSE(err.ok());
      EXPECT_STREQ(err.error().input_too_long()->which, "str_2");
      EXPECT_EQ(err.error().input_too_long()->len, n2);
    }
    for (const std::size_t k : {std::size_t{0}, std::size_t{1}, want / 2, want - (want > 0), want,
                                want + 1, random.below(want + 3)}) {
      ASSERT_EQ(distance(a, b, nullopt, nullopt, k).value(), std::min(want, k + 1))
          << "cutoff " << k;
    }
  }
}

// Checks pairs where only one side fits a word, or both do, in both orders:
// whichever text the scan takes as its pattern, the distance is the same.
inline void check_either_side_as_pattern(Distance distance, Reference reference) {
  ref::Random random(17);
  for (const auto alphabet : {ref::Alphabet::kAscii, ref::Alphabet::kLatin1, ref::Alphabet::kBmp,
                              ref::Alphabet::kAstral}) {
    for (const std::size_t m : {63, 64, 65, 128, 129}) {
      for (const std::size_t n : {1, 63, 64, 65}) {
        const std::string a = ref::encode(random.text(m, alphabet));
        const std::string b = ref::encode(random.edit(random.text(n, alphabet), 2, alphabet));
        SCOPED_TRACE(a + " / " + b);
        const std::size_t want = reference(a, b);
        ASSERT_EQ(distance(a, b, nullopt, nullopt, nullopt).value(), want);
        ASSERT_EQ(distance(b, a, nullopt, nullopt, nullopt).value(), want);
      }
    }
  }
}

// Checks `case_insensitive` against the reference on lower-cased texts, and
// its absence against the reference on the texts as they are.
inline void check_case_insensitive(Distance distance, Reference reference, std::uint64_t seed) {
  for (const auto alphabet : {ref::Alphabet::kAsciiCase, ref::Alphabet::kFoldable}) {
    for (const auto& [a, b] : ref::distance_corpus(seed, alphabet)) {
      SCOPED_TRACE(a + " / " + b);
      ASSERT_EQ(distance(a, b, nullopt, true, nullopt).value(),
                reference(ref::simple_lower(a), ref::simple_lower(b)));
      ASSERT_EQ(distance(a, b, nullopt, false, nullopt).value(), reference(a, b));
    }
  }
}

#if defined(__x86_64__) || defined(__i386__)
// Checks the key masks from vector compares against the hashed ones, key by
// key: the pair measures take either, by processor, and so must agree on
// every key, whether the pattern holds it or not.
[[gnu::target("avx2")]] inline void check_vector_key_masks(std::span<const std::uint32_t> pattern,
                                                           std::span<const std::uint32_t> keys) {
  using namespace quillmatch_core::detail;
  const KeyMasks hashed(pattern);
  const VectorKeyMasks vector(pattern);
  for (const std::uint32_t key : keys) ASSERT_EQ(vector.get(key), hashed.get(key)) << key;
}
#endif

// Checks every one-word scanner this processor runs on its own (the vector
// ones only where the CPU has them): ASCII patterns of each length 1 to 64
// against texts of 1 byte to the pattern's length, as given and lower-cased,
// and the same lengths in characters of every width as UTF-8 keys.
template <typename Word>
void check_word_scanners(Reference reference) {
  using namespace quillmatch_core::detail;
  ref::Random random(23);
  std::vector<decltype(&scan_ascii<Word>)> ascii_scanners = {scan_ascii<Word>};
  std::vector<decltype(&scan_keys<Word, KeyMasks>)> key_scanners = {scan_keys<Word, KeyMasks>};
#if defined(__x86_64__) || defined(__i386__)
  if (has_vector_scans()) {
    ascii_scanners.push_back(scan_ascii_avx2<Word>);
    key_scanners.push_back(scan_keys_avx2<Word>);
  }
#endif
  for (std::size_t m = 1; m <= 64; ++m) {
    for (std::size_t n = 1; n <= m; ++n) {
      for (const auto alphabet : {ref::Alphabet::kAsciiCase, ref::Alphabet::kMixed}) {
        const ref::Text pattern = random.text(m, alphabet);
        ref::Text text =
            random.edit(ref::Text(pattern.begin(), pattern.begin() + n), n / 4 + 1, alphabet, 0, n);
        if (text.empty() || text.size() > m) continue;
        const std::string a = ref::encode(pattern), b = ref::encode(text);
        SCOPED_TRACE(a + " / " + b);
        const std::size_t want = reference(a, b);
        if (alphabet == ref::Alphabet::kAsciiCase) {
          const std::size_t want_folded = reference(ref::simple_lower(a), ref::simple_lower(b));
          for (const auto scan : ascii_scanners) {
            ASSERT_EQ(scan(a, b, false), want);
            ASSERT_EQ(scan(a, b, true), want_folded);
          }
        }
        std::uint32_t keys_a[64], keys_b[64];
        ASSERT_EQ(short_keys(a, keys_a), m);
        ASSERT_EQ(short_keys(b, keys_b), text.size());
        for (const auto scan : key_scanners) {
          ASSERT_EQ(scan({keys_a, m}, {keys_b, text.size()}), want);
        }
#if defined(__x86_64__) || defined(__i386__)
        if (has_vector_scans()) check_vector_key_masks({keys_a, m}, {keys_b, text.size()});
#endif
      }
    }
  }
}

// Checks texts of 1 to 64 bytes that end where a readable page ends and the
// next cannot be read, as either argument: the short paths read texts as
// whole vectors, which must stay within the pages that hold the text.
inline void check_texts_at_page_end(Distance distance, Reference reference) {
  ref::PageEnd page;
  ref::Random random(29);
  for (std::size_t n = 1; n <= 64; ++n) {
    const std::string a = random.string(n, ref::Alphabet::kAsciiCase);
    const std::string b = random.string(random.below(n) + 1, ref::Alphabet::kAsciiCase);
    const std::string_view guarded = page.place(a);
    SCOPED_TRACE(a + " / " + b);
    for (const std::optional<bool> ci : {std::optional<bool>(), std::optional<bool>(true)}) {
      const std::size_t want =
          ci ? reference(ref::simple_lower(a), ref::simple_lower(b)) : reference(a, b);
      EXPECT_EQ(distance(guarded, b, nullopt, ci, nullopt).value(), want);
      EXPECT_EQ(distance(b, guarded, nullopt, ci, nullopt).value(), want);
      EXPECT_EQ(distance(guarded, guarded, nullopt, ci, nullopt).value(), 0u);
    }
  }
}

}  // namespace distance_checks

#endif  // QUILLMATCH_CORE_TESTS_DISTANCE_CHECKS_H_
