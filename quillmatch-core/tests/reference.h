// Plain, deliberately slow references for the measures, and a seeded random
// text generator. Nothing here shares code with the library.
#ifndef QUILLMATCH_CORE_TESTS_REFERENCE_H_
#define QUILLMATCH_CORE_TESTS_REFERENCE_H_

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ostream>
#include <random>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <sys/mman.h>
#include <unistd.h>

namespace ref {

using Text = std::vector<char32_t>;

// Decodes UTF-8 (assumed valid) into code points.
inline Text decode(std::string_view s) {
  Text out;
  for (std::size_t i = 0; i < s.size();) {
    const auto b = static_cast<unsigned char>(s[i]);
    const int len = b < 0x80 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
    char32_t cp = len == 1 ? b : len == 2 ? (b & 0x1Fu) : len == 3 ? (b & 0x0Fu) : (b & 0x07u);
    for (int k = 1; k < len; ++k) cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3Fu);
    out.push_back(cp);
    i += len;
  }
  return out;
}

inline std::string encode(const Text& text) {
  std::string out;
  for (const char32_t cp : text) {
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += static_cast<char>(0xE0 | (cp >> 12));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (cp >> 18));
      out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }
  return out;
}

// Lower-cases the letters whose mapping is one code point at a fixed offset:
// ASCII, Latin-1, Greek (sigma excluded), Cyrillic and Deseret. The random
// case-insensitive tests draw only from these.
inline char32_t simple_lower(char32_t c) {
  if ((c >= 'A' && c <= 'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7) ||
      (c >= 0x391 && c <= 0x3A9 && c != 0x3A2 && c != 0x3A3) || (c >= 0x410 && c <= 0x42F)) {
    return c + 0x20;
  }
  if (c >= 0x10400 && c <= 0x10427) return c + 0x28;
  return c;
}

inline std::string simple_lower(std::string_view s) {
  Text t = decode(s);
  for (char32_t& c : t) c = simple_lower(c);
  return encode(t);
}

// Full-matrix Levenshtein distance.
inline std::size_t levenshtein(const Text& a, const Text& b) {
  std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
  for (std::size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
  for (std::size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    for (std::size_t j = 1; j <= b.size(); ++j) {
      d[i][j] =
          std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + (a[i - 1] != b[j - 1])});
    }
  }
  return d[a.size()][b.size()];
}

// Optimal string alignment distance (restricted Damerau), full matrix.
inline std::size_t osa(const Text& a, const Text& b) {
  std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
  for (std::size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
  for (std::size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    for (std::size_t j = 1; j <= b.size(); ++j) {
      d[i][j] =
          std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + (a[i - 1] != b[j - 1])});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) {
        d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
      }
    }
  }
  return d[a.size()][b.size()];
}

// Jaro-Winkler by the definition: greedy window matching, t mismatched pairs,
// floor(t / 2) transpositions, the fixed order of double operations.
inline double jaro_winkler(const Text& s1, const Text& s2, double p) {
  const std::size_t n1 = s1.size(), n2 = s2.size();
  if (n1 == 0 && n2 == 0) return 1.0;
  if (n1 == 0 || n2 == 0) return 0.0;
  const std::size_t half = std::max(n1, n2) / 2;
  const std::size_t d = half > 0 ? half - 1 : 0;
  std::vector<bool> f1(n1), f2(n2);
  std::size_t m = 0;
  for (std::size_t i = 0; i < n1; ++i) {
    const std::size_t lo = i >= d ? i - d : 0;
    const std::size_t hi = std::min(n2 - 1, i + d);
    for (std::size_t j = lo; j <= hi && j < n2; ++j) {
      if (!f2[j] && s1[i] == s2[j]) {
        f1[i] = f2[j] = true;
        ++m;
        break;
      }
    }
  }
  if (m == 0) return 0.0;
  std::size_t t = 0;
  for (std::size_t i = 0, j = 0; i < n1; ++i) {
    if (!f1[i]) continue;
    while (!f2[j]) ++j;
    t += s1[i] != s2[j];
    ++j;
  }
  std::size_t l = 0;
  while (l < std::min({n1, n2, std::size_t{4}}) && s1[l] == s2[l]) ++l;
  const double a = static_cast<double>(m) / static_cast<double>(n1);
  const double b = static_cast<double>(m) / static_cast<double>(n2);
  // NOLINTNEXTLINE(bugprone-integer-division): half the half-transpositions, rounded down
  const double tt = static_cast<double>(m - t / 2) / static_cast<double>(m);
  const double jaro = (tt + (b + a)) / 3.0;
  if (jaro > 0.7) return jaro + (1.0 - jaro) * (p * static_cast<double>(l));
  return jaro;
}

inline std::size_t levenshtein(std::string_view a, std::string_view b) {
  return levenshtein(decode(a), decode(b));
}
inline std::size_t osa(std::string_view a, std::string_view b) { return osa(decode(a), decode(b)); }
inline double jaro_winkler(std::string_view a, std::string_view b, double p) {
  return jaro_winkler(decode(a), decode(b), p);
}

// A double compared bit for bit and printed with every digit.
struct Exact {
  double value;
  bool operator==(const Exact& other) const {
    return std::memcmp(&value, &other.value, sizeof value) == 0;
  }
  friend std::ostream& operator<<(std::ostream& os, const Exact& e) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.17g", e.value);
    return os << buf;
  }
};

// Element by element: building an aggregate from a double in place needs
// parenthesized aggregate initialization, which clang 14 (the fuzz build) lacks.
inline std::vector<Exact> exact(const std::vector<double>& values) {
  std::vector<Exact> out;
  out.reserve(values.size());
  for (const double value : values) out.push_back(Exact{value});
  return out;
}

// Small alphabets, so that random strings share characters.
enum class Alphabet {
  kAscii,       // a-d
  kAsciiCase,   // a-c and A-C
  kLatin1,      // a few ASCII letters and code points 0x80 to 0xFF
  kLatin1Case,  // Latin-1 letters of both cases and the signs between them
  kBmp,         // Greek, CJK and others from 0x100 to 0xFFFF
  kAstral,      // above U+FFFF
  kMixed,       // all of the above
  kFoldable,    // letters of both cases that `simple_lower` knows, every width
};

inline const std::vector<char32_t>& symbols(Alphabet alphabet) {
  static const std::vector<char32_t> ascii{'a', 'b', 'c', 'd'};
  static const std::vector<char32_t> ascii_case{'a', 'b', 'c', 'A', 'B', 'C'};
  static const std::vector<char32_t> latin1{'a', 'b', 0x80, 0xC0, 0xE9, 0xDF, 0xFF};
  static const std::vector<char32_t> latin1_case{'a',  'B',  0xB5, 0xC9, 0xE9, 0xD7,
                                                 0xF7, 0xDE, 0xFE, 0xDF, 0xFF};
  static const std::vector<char32_t> bmp{'a', 0x100, 0x3B1, 0x3B2, 0x65E5, 0x672C, 0xFFFD};
  static const std::vector<char32_t> astral{'a', 0x10000, 0x1F600, 0x1F601, 0x10FFFF};
  static const std::vector<char32_t> mixed{'a',   'b',    'C',     0xE9,   0xFF,
                                           0x3B1, 0x65E5, 0x1F600, 0x1F601};
  static const std::vector<char32_t> foldable{'a',   'B',   0xC0,    0xE0,    0x391, 0x3B1,
                                              0x416, 0x436, 0x10400, 0x10428, 0x65E5};
  switch (alphabet) {
    case Alphabet::kAscii: return ascii;
    case Alphabet::kAsciiCase: return ascii_case;
    case Alphabet::kLatin1: return latin1;
    case Alphabet::kLatin1Case: return latin1_case;
    case Alphabet::kBmp: return bmp;
    case Alphabet::kAstral: return astral;
    case Alphabet::kMixed: return mixed;
    case Alphabet::kFoldable: return foldable;
  }
  return ascii;
}

// Seeded generator of random texts and of edited copies of them.
// A readable page followed by one that cannot be read, for texts that must
// not be read past their pages: `place` copies a text to end where the
// readable page ends.
class PageEnd {
 public:
  PageEnd() : size_(static_cast<std::size_t>(sysconf(_SC_PAGESIZE))) {
    void* pages =
        mmap(nullptr, 2 * size_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (pages == MAP_FAILED) throw std::runtime_error("mmap failed");
    pages_ = static_cast<char*>(pages);
    if (mprotect(pages_ + size_, size_, PROT_NONE) != 0) {
      munmap(pages_, 2 * size_);
      throw std::runtime_error("mprotect failed");
    }
  }
  PageEnd(const PageEnd&) = delete;
  PageEnd& operator=(const PageEnd&) = delete;
  ~PageEnd() { munmap(pages_, 2 * size_); }

  std::string_view place(std::string_view text) {
    char* start = pages_ + size_ - text.size();
    std::copy(text.begin(), text.end(), start);
    return {start, text.size()};
  }

 private:
  std::size_t size_;
  char* pages_;
};

class Random {
 public:
  explicit Random(std::uint64_t seed) : rng_(seed) {}

  std::size_t below(std::size_t n) {
    return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng_);
  }

  Text text(std::size_t len, Alphabet alphabet) {
    const auto& sym = symbols(alphabet);
    Text t(len);
    for (char32_t& c : t) c = sym[below(sym.size())];
    return t;
  }

  std::string string(std::size_t len, Alphabet alphabet) { return encode(text(len, alphabet)); }

  // Applies `edits` random edits (substitute, insert, delete, swap) at
  // positions in [lo, hi) of a copy of `t`.
  Text edit(Text t, std::size_t edits, Alphabet alphabet, std::size_t lo = 0,
            std::size_t hi = SIZE_MAX) {
    const auto& sym = symbols(alphabet);
    for (std::size_t e = 0; e < edits; ++e) {
      const std::size_t top = std::min(hi, t.size());
      const std::size_t pos = top > lo ? lo + below(top - lo) : std::min(lo, t.size());
      switch (below(4)) {
        case 0:
          if (pos < t.size()) t[pos] = sym[below(sym.size())];
          break;
        case 1:
          t.insert(t.begin() + static_cast<std::ptrdiff_t>(pos), sym[below(sym.size())]);
          break;
        case 2:
          if (pos < t.size()) t.erase(t.begin() + static_cast<std::ptrdiff_t>(pos));
          break;
        default:
          if (pos + 1 < t.size()) std::swap(t[pos], t[pos + 1]);
          break;
      }
    }
    return t;
  }

  std::mt19937_64& engine() { return rng_; }

 private:
  std::mt19937_64 rng_;
};

// Pairs (pattern, text) that reach every path of the distance scans: pattern
// lengths on both sides of each 64-position block border, texts unrelated,
// edited in the first block, the last block or across a border, and much
// shorter or much longer than the pattern.
inline std::vector<std::pair<std::string, std::string>> distance_corpus(std::uint64_t seed,
                                                                        Alphabet alphabet) {
  Random random(seed);
  std::vector<std::pair<std::string, std::string>> pairs;
  const std::size_t lengths[] = {0,  1,  2,  3,   5,   15,  16,  17,  31,  32,  33,
                                 63, 64, 65, 100, 127, 128, 129, 191, 192, 193, 300};
  for (const std::size_t m : lengths) {
    const Text pattern = random.text(m, alphabet);
    const std::size_t last_block = m > 64 ? (m - 1) / 64 * 64 : 0;
    std::vector<Text> texts{
        random.text(random.below(6), alphabet),  // much shorter
        random.text(m, alphabet),                // unrelated, same length
        random.text(3 * m + 7, alphabet),        // much longer
        pattern,                                 // equal
        random.edit(pattern, 1, alphabet),
        random.edit(pattern, 1 + random.below(8), alphabet),
        random.edit(pattern, 3, alphabet, 0, 64),        // first block
        random.edit(pattern, 3, alphabet, last_block),   // last block
        random.edit(pattern, 4, alphabet, 60, 68),       // across 64
        random.edit(pattern, 4, alphabet, 124, 132),     // across 128
        random.edit(pattern, m / 2 + 1, alphabet),       // far apart
        Text(pattern.begin(), pattern.begin() + m / 2),  // its start
        Text(pattern.end() - m / 3, pattern.end()),      // its end
    };
    Text longer = pattern;
    for (int k = 0; k < 3; ++k) longer = random.edit(longer, m + 2, alphabet);
    texts.push_back(longer);
    for (const Text& text : texts) {
      pairs.emplace_back(encode(pattern), encode(text));
      pairs.emplace_back(encode(text), encode(pattern));
    }
  }
  return pairs;
}

}  // namespace ref

#endif  // QUILLMATCH_CORE_TESTS_REFERENCE_H_
