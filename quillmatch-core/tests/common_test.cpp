// MatchError texts, shortest double formatting and the UTF-8 helpers.
#include <algorithm>
#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "quillmatch_core/common.h"
#include "reference.h"
#include "unicode_case.h"
#include "utf8.h"

namespace quillmatch_core {
namespace {

TEST(MatchErrorTest, DebugTexts) {
  EXPECT_EQ(MatchError(InputTooLong{"str_1", 12, 10}).debug_text(),
            "InputTooLong { which: \"str_1\", len: 12, limit: 10 }");
  EXPECT_EQ(MatchError(InputTooLong{"str_2", 5, 0}).debug_text(),
            "InputTooLong { which: \"str_2\", len: 5, limit: 0 }");
  const double inf = std::numeric_limits<double>::infinity();
  const struct {
    double value;
    const char* text;
  } cases[] = {
      {0.3, "0.3"},
      {1, "1.0"},
      {-0.5, "-0.5"},
      {1e20, "1e20"},
      {-0.00001, "-1e-5"},
      {12345678.5, "12345678.5"},
      {std::nan(""), "NaN"},
      {-std::nan(""), "NaN"},
      {inf, "inf"},
      {-inf, "-inf"},
      {0.0, "0.0"},
      {-0.0, "-0.0"},
      {1e16, "1e16"},
      {9999999999999998.0, "9999999999999998.0"},
      {0.0001, "0.0001"},
      {0.00009999, "9.999e-5"},
      {5e-324, "5e-324"},
      {1.7976931348623157e308, "1.7976931348623157e308"},
      {0.1 + 0.2, "0.30000000000000004"},
      {0.26, "0.26"},
      {-0.01, "-0.01"},
      {123.0, "123.0"},
      {1.5e300, "1.5e300"},
      {-2.5e-10, "-2.5e-10"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(MatchError(InvalidPrefixScale{c.value}).debug_text(),
              std::string("InvalidPrefixScale { value: ") + c.text + " }")
        << c.text;
  }
}

TEST(MatchErrorTest, Accessors) {
  const MatchError too_long(InputTooLong{"str_2", 7, 3});
  ASSERT_NE(too_long.input_too_long(), nullptr);
  EXPECT_EQ(too_long.invalid_prefix_scale(), nullptr);
  EXPECT_STREQ(too_long.input_too_long()->which, "str_2");
  EXPECT_EQ(too_long.input_too_long()->len, 7u);
  EXPECT_EQ(too_long.input_too_long()->limit, 3u);
  const MatchError scale(InvalidPrefixScale{0.3});
  ASSERT_NE(scale.invalid_prefix_scale(), nullptr);
  EXPECT_EQ(scale.input_too_long(), nullptr);
  EXPECT_EQ(scale.invalid_prefix_scale()->value, 0.3);
}

// Builds the expected text from the shortest digits of std::to_chars.
std::string expected_shortest(double v) {
  if (std::isnan(v)) return "NaN";
  std::string sign = std::signbit(v) ? "-" : "";
  v = std::fabs(v);
  if (std::isinf(v)) return sign + "inf";
  if (v == 0) return sign + "0.0";
  char buf[64];
  const auto res = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific);
  const std::string sci(buf, res.ptr);
  const std::size_t e = sci.find('e');
  std::string digits = sci.substr(0, e);
  digits.erase(std::remove(digits.begin(), digits.end(), '.'), digits.end());
  const int exp = std::stoi(sci.substr(e + 1));
  if (v >= 1e16 || v < 1e-4) {
    std::string s = digits.substr(0, 1);
    if (digits.size() > 1) s += "." + digits.substr(1);
    return sign + s + "e" + std::to_string(exp);
  }
  const int point = exp + 1;  // digits before the decimal point
  std::string s;
  if (point <= 0) {
    s = "0." + std::string(static_cast<std::size_t>(-point), '0') + digits;
  } else if (static_cast<std::size_t>(point) >= digits.size()) {
    s = digits + std::string(static_cast<std::size_t>(point) - digits.size(), '0') + ".0";
  } else {
    s = digits.substr(0, static_cast<std::size_t>(point)) + "." +
        digits.substr(static_cast<std::size_t>(point));
  }
  return sign + s;
}

TEST(FormatShortestTest, RandomDoublesRoundTrip) {
  std::mt19937_64 rng(0x5eed0001);
  for (int i = 0; i < 20000; ++i) {
    double v;
    if (i % 2 == 0) {
      const std::uint64_t bits = rng();
      std::memcpy(&v, &bits, sizeof v);
    } else {
      // Magnitudes near the plain/exponent borders and small integers.
      const double mags[] = {1e-5, 1e-4, 1e-3, 1.0, 1e15, 1e16, 1e17, 100.0};
      v = mags[rng() % 8] * std::uniform_real_distribution<double>(0.5, 2.0)(rng);
      if (rng() % 4 == 0) v = std::round(v);
      if (rng() % 2) v = -v;
    }
    const std::string text = format_shortest(v);
    ASSERT_EQ(text, expected_shortest(v)) << "bits of " << v;
    if (std::isnan(v)) continue;
    if (std::isinf(v)) continue;
    const double back = std::strtod(text.c_str(), nullptr);
    ASSERT_EQ(std::memcmp(&back, &v, sizeof v), 0) << text;
  }
}

// Just below a power of two the doubles lie twice as close as above it,
// where the nearest digits of a length can miss and the next ones up hit.
TEST(FormatShortestTest, PowersOfTwoAndTheirNeighbours) {
  for (int e = -1074; e <= 1023; ++e) {
    const double p = std::ldexp(1.0, e);
    for (const double v : {p, std::nextafter(p, 0.0), std::nextafter(p, 2 * p), -p}) {
      ASSERT_EQ(format_shortest(v), expected_shortest(v)) << "2^" << e;
    }
  }
}

// A decimal comma in the process's locale changes neither the text nor the
// check that it reads back.
TEST(FormatShortestTest, DecimalCommaLocale) {
  const char* found = nullptr;
  for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "nl_NL.UTF-8"}) {
    if ((found = std::setlocale(LC_ALL, name)) != nullptr) break;
  }
  if (found == nullptr) GTEST_SKIP() << "no locale with a decimal comma installed";
  const std::string texts[] = {format_shortest(0.3), format_shortest(-1e-5),
                               format_shortest(0.1 + 0.2), format_shortest(std::ldexp(1.0, -1017))};
  std::setlocale(LC_ALL, "C");
  EXPECT_EQ(texts[0], "0.3");
  EXPECT_EQ(texts[1], "-1e-5");
  EXPECT_EQ(texts[2], "0.30000000000000004");
  EXPECT_EQ(texts[3], expected_shortest(std::ldexp(1.0, -1017)));
}

namespace detail_test {

using detail::count_chars;
using detail::decode_all;
using detail::is_ascii;

// High bytes surround the view so that a read outside it would show.
TEST(Utf8Test, IsAsciiEveryLengthPositionAndAlignment) {
  for (std::size_t offset = 0; offset < 8; ++offset) {
    for (std::size_t len = 0; len <= 40; ++len) {
      for (std::size_t bad = 0; bad <= len; ++bad) {  // bad == len: no high byte
        for (const int high : {0x80, 0xC3, 0xFF}) {
          std::vector<char> buf(64, static_cast<char>(0x80));
          for (std::size_t k = 0; k < len; ++k)
            buf[offset + 8 + k] = static_cast<char>('a' + k % 26);
          if (bad < len) buf[offset + 8 + bad] = static_cast<char>(high);
          ASSERT_EQ(is_ascii(std::string_view(buf.data() + offset + 8, len)), bad == len)
              << "offset " << offset << " len " << len << " bad " << bad;
        }
      }
    }
  }
}

TEST(Utf8Test, CountCharsMatchesByteLoop) {
  std::mt19937_64 rng(0x5eed0002);
  for (std::size_t offset = 0; offset < 8; ++offset) {
    for (std::size_t len = 0; len <= 40; ++len) {
      for (int rep = 0; rep < 20; ++rep) {
        std::vector<char> buf(offset + len + 8, static_cast<char>(0x80));
        std::size_t expected = 0;
        for (std::size_t k = 0; k < len; ++k) {
          // Biased towards continuation bytes and ASCII.
          const std::uint64_t r = rng();
          const unsigned char b = r % 3 == 0   ? static_cast<unsigned char>(0x80 | (r >> 8) % 64)
                                  : r % 3 == 1 ? static_cast<unsigned char>((r >> 8) % 128)
                                               : static_cast<unsigned char>(r >> 8);
          buf[offset + k] = static_cast<char>(b);
          expected += (b & 0xC0) != 0x80;
        }
        ASSERT_EQ(count_chars(std::string_view(buf.data() + offset, len)), expected)
            << "offset " << offset << " len " << len;
      }
    }
  }
}

TEST(Utf8Test, DecodesAroundEveryLengthBorder) {
  const ref::Text borders{0x0,     0x1,     0x7F,     0x80,     0x81,    0xFF,   0x100,
                          0x7FF,   0x800,   0xD7FF,   0xE000,   0xFFFD,  0xFFFF, 0x10000,
                          0x1F600, 0xFFFFF, 0x100000, 0x10FFFE, 0x10FFFF};
  std::vector<char32_t> out;
  for (const char32_t cp : borders) {
    const std::string s = ref::encode({cp, 'x', cp});
    decode_all(s, count_chars(s), out);
    EXPECT_EQ(out, (std::vector<char32_t>{cp, 'x', cp}))
        << std::hex << static_cast<std::uint32_t>(cp);
  }
  const std::string all = ref::encode(borders);
  EXPECT_EQ(count_chars(all), borders.size());
  decode_all(all, count_chars(all), out);
  EXPECT_EQ(out, borders);
  ref::Random random(0x5eed0003);
  for (int rep = 0; rep < 200; ++rep) {
    // ASCII texts (every third, up to 130 characters) take a widening copy;
    // the buffer still holds the previous text, often a longer one.
    const ref::Text t = rep % 3 == 0 ? random.text(random.below(131), ref::Alphabet::kAsciiCase)
                                     : random.text(random.below(60), ref::Alphabet::kMixed);
    const std::string s = ref::encode(t);
    ASSERT_EQ(count_chars(s), t.size());
    decode_all(s, count_chars(s), out);
    ASSERT_EQ(out, t);
  }
}

// The keys of short texts, read from their lead bytes, against the walk from
// character to character: texts of 0 to 64 bytes of characters of every
// width, then with one byte replaced by a continuation, lead, ASCII or
// invalid byte (stray and missing continuation bytes, overlong and cut-short
// forms) at each position; each text also ends where a readable page ends
// and the next cannot be read.
TEST(Utf8Test, ShortKeysMatchCharacterWalk) {
  const auto walk = [](std::string_view text, std::uint32_t(&out)[64]) {
    std::size_t count = 0;
    const bool ok = detail::for_each_key(text, [&](std::uint32_t key) { out[count++ % 64] = key; });
    return ok && count <= 64 ? count : 65;
  };
  ref::PageEnd page;
  ref::Random random(0x5eed0005);
  const unsigned char replacements[] = {0x80, 0xBF, 0xC0, 0xC1, 0xC3, 0xE0, 0xED,
                                        0xF0, 0xF4, 0xF8, 0xFF, 0x00, 'a'};
  for (std::size_t rep = 0; rep < 400; ++rep) {
    std::string text = ref::encode(random.text(random.below(40), ref::Alphabet::kMixed));
    if (text.size() > 64) text.resize(64);  // may cut a character short
    for (std::size_t at = 0; at <= text.size(); ++at) {
      std::string t = text;
      if (at < t.size()) t[at] = static_cast<char>(replacements[random.below(13)]);
      SCOPED_TRACE(testing::PrintToString(t));
      std::uint32_t want[64], got[64];
      const std::size_t want_count = walk(t, want);
      for (const std::string_view view : {std::string_view(t), page.place(t)}) {
        ASSERT_EQ(detail::short_keys(view, got), want_count);
        if (want_count <= 64) {
          ASSERT_TRUE(std::equal(want, want + want_count, got));
        }
#if defined(__SSE2__)
        // The keys one character at a time, where the processor would take
        // them in vector lanes.
        ASSERT_EQ(detail::short_keys_from_leads(view, got, false), want_count);
        if (want_count <= 64) {
          ASSERT_TRUE(std::equal(want, want + want_count, got));
        }
#endif
      }
    }
  }
}

TEST(Utf8Test, MalformedInputDecodesOnePointPerCount) {
  std::mt19937_64 rng(0x5eed0004);
  std::vector<char32_t> out;
  // One input per literal: "\x80\x80" "a" is split only to end the escape, and
  // clang-format would put each piece on a line of its own.
  // clang-format off
  for (const std::string_view s : {"a\x80", "\x80\x80" "a", "\xE6\x06\x8B", "\xFF\xFF", "\xF0\x9F", "ab\xBF\xBF"}) {
    // clang-format on
    decode_all(s, count_chars(s), out);
    EXPECT_EQ(out.size(), count_chars(s)) << s;
  }
  for (int rep = 0; rep < 5000; ++rep) {
    std::string s(static_cast<std::size_t>(rng() % 40), '\0');
    for (char& c : s) c = static_cast<char>(rng() % 2 ? 0x80 | rng() % 0x80 : rng() % 256);
    decode_all(s, count_chars(s), out);
    ASSERT_EQ(out.size(), count_chars(s));
  }
}

}  // namespace detail_test
TEST(LowercaseTest, AsciiRunsMatchTheByteRule) {
  // Every ASCII byte at every offset in a word, in runs of each length
  // around the word size, alone and between non-ASCII characters.
  std::string all;
  for (int c = 0; c < 128; ++c) all += static_cast<char>(c);
  for (std::size_t shift = 0; shift < 8; ++shift) {
    for (std::size_t len : {1, 7, 8, 9, 15, 16, 17, 128}) {
      const std::string run = (all.substr(shift) + all.substr(0, shift)).substr(0, len);
      std::string want;
      for (char c : run) want += c >= 'A' && c <= 'Z' ? static_cast<char>(c + 0x20) : c;
      for (const auto& [before, after] :
           {std::pair<std::string, std::string>{"", ""}, {"\u00C9", "\u65E5"}}) {
        std::string out;
        detail::append_lowercase(before + run + after, out);
        const std::string lower_before = before.empty() ? "" : "\u00E9";
        ASSERT_EQ(out, lower_before + want + after) << shift << " " << len;
      }
    }
  }
}

}  // namespace
}  // namespace quillmatch_core
