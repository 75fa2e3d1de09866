// One query against many candidates, Jaro-Winkler similarity. An ASCII query
// of 1 to 64 bytes keeps a table of its position masks, and ASCII candidates
// of any length are matched against it: each candidate byte takes the lowest
// free query position in its window. Greedy matching gives the same matched
// positions from either side, so this equals the pair measure.
//
// The free-position update is a chain of dependent word operations per byte,
// so the batch scores two candidates at once: their chains are independent
// and overlap in the processor. It takes the fast candidates of a chunk in
// order of length, so that the loops' exits, which depend on the length, are
// predicted well and the two scans of a pair mostly end together. Where this
// CPU has vector lanes, whole batches first match their short Latin-1
// candidates in lanes (jaro_winkler_lanes.h). The candidates left over, with
// code points from 256 or of a query that is neither ASCII nor Latin-1, are
// read as UTF-8 keys and matched against the query's key table (`KeyQuery`).
#include "quillmatch_core/jaro_winkler_batch.h"

#include <algorithm>  // std::max, std::min
#include <array>      // std::array
#include <bit>        // std::countr_one, std::countr_zero
#include <cstdint>    // std::uint8_t, std::uint16_t, std::uint32_t, std::uint64_t
#include <optional>
#include <span>
#include <string>

#include "fault_injection.h"
#include "jaro_winkler_lanes.h"
#include "jaro_winkler_score.h"
#include "pattern_masks.h"  // set_position_bits
#include "quillmatch_core/jaro_winkler.h"
#include "unicode_case.h"
#include "utf8.h"

namespace quillmatch_core {
namespace {

// ASCII bytes with 'A' to 'Z' lower-cased: one load instead of a compare and a select.
constexpr auto kFoldedAscii = [] {
  std::array<unsigned char, 128> table{};
  for (unsigned b = 0; b < 128; ++b) {
    table[b] = detail::lowercase_ascii_byte(static_cast<unsigned char>(b));
  }
  return table;
}();

// Returns an ASCII byte, lower-cased when `kFold` and it is 'A' to 'Z'.
template <bool kFold>
unsigned fold_byte(char byte) {
  const auto b = static_cast<unsigned char>(byte);
  if constexpr (kFold) return kFoldedAscii[b];
  return b;
}

}  // namespace

namespace detail {

// The greedy matching of one ASCII candidate of 1 to 64 bytes against the
// query's position masks, advanced one candidate byte at a time, then the walk
// that pairs its matched positions. Every step is branch-free, so two scans
// advance in one loop whose only branch is its exit.
template <bool kFold>
class JaroWinklerScan {
 public:
  JaroWinklerScan(const std::uint64_t* masks, std::string_view candidate, std::size_t query_chars)
      : masks_(masks), text_(candidate.data()), size_(candidate.size()) {
    d_ = match_distance(query_chars, size_);
    window_ = (std::uint64_t{1} << (d_ + 1)) - 1;
  }

  // Takes the lowest free query position in the window that holds byte `i`.
  void step(std::size_t i) {
    const std::uint64_t free = masks_[fold_byte<kFold>(text_[i])] & window_ & ~taken_;
    // Branch-free: whether a byte matches is close to a coin toss.
    const std::uint64_t lowest = free & (~free + 1);
    taken_ |= lowest;
    const bool found = lowest != 0;
    matched_ |= static_cast<std::uint64_t>(found) << i;
    matches_ += static_cast<std::size_t>(found);
    window_ = (window_ << 1) | static_cast<std::uint64_t>(i < d_);
  }

  // Pairs candidate position `i`, when it is matched, with the lowest unpaired
  // matched query position, and counts the pair when their bytes differ: they
  // are equal when the byte's mask holds that query position. Visiting every
  // position in order pairs the k-th matched positions of both sides; it costs
  // the same few operations whether `i` is matched or not, so the loop's exit
  // is the candidate's length, not the number of matches.
  void pair_at(std::size_t i) {
    const std::uint64_t hit = std::uint64_t{0} - ((matched_ >> i) & 1);
    const std::uint64_t j = taken_ & (~taken_ + 1) & hit;
    mismatched_ += static_cast<std::size_t>((j & ~masks_[fold_byte<kFold>(text_[i])]) != 0);
    taken_ ^= j;
  }

  // Pairs the lowest unpaired matched positions of both sides, as `pair_at`
  // does, when any are left; costs the same either way.
  void pair_next() {
    // Position 0 when none is left: a byte that does not count.
    const auto i = static_cast<std::size_t>(std::countr_zero(matched_)) & 63;
    const std::uint64_t j = taken_ & (~taken_ + 1);
    mismatched_ += static_cast<std::size_t>((j & ~masks_[fold_byte<kFold>(text_[i])]) != 0);
    matched_ &= matched_ - 1;
    taken_ ^= j;
  }

  std::size_t matches() const { return matches_; }

  // Returns the similarity once every byte is stepped over and every match paired.
  double score(std::size_t query_chars, double p, const SmallRatios& ratios) const {
    const std::size_t matches = matches_;
    if (matches == 0) return 0.0;
    // Bit k of `equal` tells whether candidate byte k equals query byte k,
    // for k below the prefix limit; the prefix is its run of low ones.
    const std::size_t limit = std::min({query_chars, size_, std::size_t{4}});
    unsigned equal = 0;
    for (std::size_t k = 0; k < 4; ++k) {
      const unsigned byte = fold_byte<kFold>(text_[k < size_ ? k : 0]);
      equal |= static_cast<unsigned>(k < limit && ((masks_[byte] >> k) & 1) != 0) << k;
    }
    const auto prefix = static_cast<std::size_t>(std::countr_one(equal));
    return winkler_from_ratios(ratios.get(matches, query_chars), ratios.get(matches, size_),
                               ratios.get(matches - mismatched_ / 2, matches), prefix, p);
  }

 private:
  const std::uint64_t* masks_;
  const char* text_;
  std::size_t size_;
  std::size_t d_;
  std::uint64_t window_;
  std::uint64_t taken_ = 0;    // matched query positions, unpaired ones once pairing starts
  std::uint64_t matched_ = 0;  // matched candidate positions
  std::size_t matches_ = 0;
  std::size_t mismatched_ = 0;
};

// Returns the pair measure's similarity of the query and `candidate`.
double score_by_pair(const JaroWinklerQuery& query, std::string_view candidate) {
  auto result = jaro_winkler(query.query_text, candidate, query.p, std::nullopt,
                             query.case_insensitive, std::nullopt);
  return result ? result.value() : 0.0;
}

// Returns the similarity of a candidate of `size` characters to a query of
// 1 to 64 characters by the greedy matching driven by the candidate, as the
// short ASCII scans do: character `i` of the candidate is `char_at(i)`, the
// query positions that hold character c are the bits of `mask_of(c)`, and
// query position j holds `query_at(j)`. The candidate's matched characters
// are kept in order rather than as bits of positions, so the candidate may
// be of any length; the scan stops where the window leaves the query behind.
template <typename CharAt, typename MaskOf, typename QueryAt>
double greedy_similarity(std::size_t query_chars, std::size_t size, double p, CharAt char_at,
                         MaskOf mask_of, QueryAt query_at) {
  const std::size_t d = match_distance(query_chars, size);
  // The window at candidate position 0: query positions 0 to d.
  std::uint64_t window = d >= 63 ? ~std::uint64_t{0} : (std::uint64_t{2} << d) - 1;
  std::uint64_t taken = 0;
  decltype(char_at(0)) matched[65];  // one spare: the step writes before it counts
  std::size_t matches = 0;
  const std::size_t end = std::min(size, query_chars + d);
  for (std::size_t i = 0; i < end; ++i) {
    const auto c = char_at(i);
    const std::uint64_t free = mask_of(c) & window & ~taken;
    const std::uint64_t lowest = free & (~free + 1);
    taken |= lowest;
    matched[matches] = c;
    matches += static_cast<std::size_t>(lowest != 0);
    window = (window << 1) | static_cast<std::uint64_t>(i < d);
  }
  if (matches == 0) return 0.0;
  // The k-th matched characters of both sides, in order.
  std::size_t mismatched = 0;
  for (std::size_t k = 0; k < matches; ++k) {
    const auto j = static_cast<std::size_t>(std::countr_zero(taken));
    mismatched += static_cast<std::size_t>(query_at(j) != matched[k]);
    taken &= taken - 1;
  }
  const std::size_t limit = std::min({query_chars, size, std::size_t{4}});
  std::size_t prefix = 0;
  while (prefix < limit && query_at(prefix) == char_at(prefix)) ++prefix;
  return winkler_score(matches, mismatched, query_chars, size, prefix, p);
}

// Returns the similarity of an ASCII candidate of more than 64 bytes to a
// fast query.
template <bool kFold>
double score_long(const JaroWinklerQuery& query, std::string_view candidate) {
  const std::uint64_t* masks = query.masks.data();
  return greedy_similarity(
      query.query_chars, candidate.size(), query.p,
      [&](std::size_t i) { return static_cast<unsigned char>(fold_byte<kFold>(candidate[i])); },
      [&](unsigned char byte) { return masks[byte]; },
      [&](std::size_t j) { return static_cast<unsigned char>(query.query_folded[j]); });
}

// The query read once as UTF-8 keys (utf8.h), lower-cased first when
// folding, for the candidates that the ASCII scans and the lanes leave: those
// with a code point from 256, and every candidate of a query that is neither
// ASCII nor Latin-1. A candidate of up to 64 characters is then read as keys
// once and matched against the query's key table, where the pair measure
// would read both texts and build a table of the candidate each time.
class KeyQuery {
 public:
  explicit KeyQuery(const JaroWinklerQuery& query) : p_(query.p), fold_(query.case_insensitive) {
    // The texts meet the fault hook as they would in the pair measure.
    inject_fault(query.query_text);
    std::string lowered;
    std::string_view text = query.query_text;
    if (fold_) {
      append_lowercase(text, lowered);
      text = lowered;
    }
    length_ = short_keys(text, keys_);
    if (length_ >= 1 && length_ <= 64) {
      masks_.emplace(std::span<const std::uint32_t>(keys_, length_));
    }
  }

  // Returns the pair measure's similarity of the query and `candidate` (not
  // empty), or nothing when either is not shortest-form UTF-8 of at most 64
  // characters (lower-cased, when folding).
  std::optional<double> similarity(std::string_view candidate) {
    if (!masks_) return std::nullopt;
    inject_fault(candidate);
    if (fold_) {
      lowered_.clear();
      append_lowercase(candidate, lowered_);
      candidate = lowered_;
    }
    std::uint32_t keys[64];
    const std::size_t size = short_keys(candidate, keys);
    if (size > 64) return std::nullopt;
    return greedy_similarity(
        length_, size, p_, [&](std::size_t i) { return keys[i]; },
        [&](std::uint32_t key) { return masks_->get(key); },
        [&](std::size_t j) { return keys_[j]; });
  }

 private:
  std::uint32_t keys_[64];
  std::size_t length_;
  std::optional<KeyMasks> masks_;  // when the keys could be read
  double p_;
  bool fold_;
  std::string lowered_;  // the current candidate, lower-cased
};

// Returns the similarity of one ASCII candidate of 1 to 64 bytes to a fast query.
template <bool kFold>
double score_fast(const JaroWinklerQuery& query, std::string_view candidate,
                  const SmallRatios& ratios) {
  JaroWinklerScan<kFold> scan(query.masks.data(), candidate, query.query_chars);
  for (std::size_t i = 0; i < candidate.size(); ++i) scan.step(i);
  for (std::size_t i = 0; i < candidate.size(); ++i) scan.pair_at(i);
  return scan.score(query.query_chars, query.p, ratios);
}

// Returns the similarity of `candidate` to the query: the ASCII scans where
// they apply, else `keyed(candidate)` where that gives one (the query's key
// table, or nothing), else the pair measure's.
template <typename Keyed>
double score_one(const JaroWinklerQuery& query, std::string_view candidate, Keyed keyed) {
  if (query.query_chars == 0) return candidate.empty() ? 1.0 : 0.0;
  if (candidate.empty()) return 0.0;
  if (query.fast && is_ascii(candidate)) {
    if (candidate.size() > 64) {
      return query.case_insensitive ? score_long<true>(query, candidate)
                                    : score_long<false>(query, candidate);
    }
    const SmallRatios& ratios = SmallRatios::instance();
    return query.case_insensitive ? score_fast<true>(query, candidate, ratios)
                                  : score_fast<false>(query, candidate, ratios);
  }
  if (const std::optional<double> similarity = keyed(candidate)) return *similarity;
  return score_by_pair(query, candidate);
}

// Writes the similarities of two ASCII candidates of 1 to 64 bytes each to a
// fast query into `score_a` and `score_b`, their scans interleaved.
template <bool kFold>
void score_fast_two(const JaroWinklerQuery& query, std::string_view a, std::string_view b,
                    double& score_a, double& score_b, const SmallRatios& ratios) {
  JaroWinklerScan<kFold> scan_a(query.masks.data(), a, query.query_chars);
  JaroWinklerScan<kFold> scan_b(query.masks.data(), b, query.query_chars);
  const std::size_t shared = std::min(a.size(), b.size());
  std::size_t i = 0;
  for (; i < shared; ++i) {
    scan_a.step(i);
    scan_b.step(i);
  }
  for (std::size_t k = i; k < a.size(); ++k) scan_a.step(k);
  for (std::size_t k = i; k < b.size(); ++k) scan_b.step(k);
  // Few matches against long candidates are paired match by match, else
  // position by position.
  const std::size_t walks = std::max(scan_a.matches(), scan_b.matches());
  if (walks * 4 <= shared) {
    for (std::size_t k = 0; k < walks; ++k) {
      scan_a.pair_next();
      scan_b.pair_next();
    }
  } else {
    for (i = 0; i < shared; ++i) {
      scan_a.pair_at(i);
      scan_b.pair_at(i);
    }
    for (std::size_t k = i; k < a.size(); ++k) scan_a.pair_at(k);
    for (std::size_t k = i; k < b.size(); ++k) scan_b.pair_at(k);
  }
  score_a = scan_a.score(query.query_chars, query.p, ratios);
  score_b = scan_b.score(query.query_chars, query.p, ratios);
}

// Fills `out` with the similarity of each candidate against a fast query.
// Candidates are taken in chunks, and the fast ones of a chunk in order of
// length, two at a time: runs of one length make the loops' exits
// predictable and pair candidates whose scans end together; `one` scores the
// others.
template <bool kFold, typename One>
void score_fast_sorted(const JaroWinklerQuery& query, std::span<const std::string_view> candidates,
                       double* out, One one) {
  const SmallRatios& ratios = SmallRatios::instance();
  constexpr std::size_t kChunk = 2048;
  std::array<std::uint8_t, kChunk> length;  // 0 for a candidate off the fast path
  std::array<std::uint16_t, kChunk> order;
  for (std::size_t start = 0; start < candidates.size(); start += kChunk) {
    const std::size_t count = std::min(kChunk, candidates.size() - start);
    const std::string_view* chunk = candidates.data() + start;
    double* chunk_out = out + start;
    std::array<std::uint16_t, 66> first{};  // where each length's run starts in `order`
    for (std::size_t k = 0; k < count; ++k) {
      const std::string_view candidate = chunk[k];
      const bool fast = !candidate.empty() && candidate.size() <= 64 && is_ascii(candidate);
      length[k] = static_cast<std::uint8_t>(fast ? candidate.size() : 0);
      if (!fast) chunk_out[k] = one(candidate);
      ++first[length[k] + 1];
    }
    for (std::size_t n = 1; n < first.size(); ++n) {
      first[n] = static_cast<std::uint16_t>(first[n] + first[n - 1]);
    }
    for (std::size_t k = 0; k < count; ++k) {
      order[first[length[k]]++] = static_cast<std::uint16_t>(k);
    }
    // `first[0]` now ends the run of candidates off the fast path, scored above.
    std::size_t k = first[0];
    for (; k + 1 < count; k += 2) {
      score_fast_two<kFold>(query, chunk[order[k]], chunk[order[k + 1]], chunk_out[order[k]],
                            chunk_out[order[k + 1]], ratios);
    }
    if (k < count) chunk_out[order[k]] = score_fast<kFold>(query, chunk[order[k]], ratios);
  }
}

// Fills `out` with the similarity of each candidate, in order: in the lanes
// where this CPU has them and the query is 1 to 64 Latin-1 code points (after
// lower-casing, when folding) with no zero byte, else one or two at a time.
void score_all(const JaroWinklerQuery& query, std::span<const std::string_view> candidates,
               double* out) {
  // Candidates that the ASCII scans cannot take go to the query's keys,
  // read on first need, and where those fail to the pair measure.
  std::optional<KeyQuery> keys;
  const auto one = [&](std::string_view candidate) {
    return score_one(query, candidate, [&](std::string_view other) {
      if (!keys) keys.emplace(query);
      return keys->similarity(other);
    });
  };
  const JaroWinklerLaneKernels* kernels = jaro_winkler_lane_kernels();
  if (kernels != nullptr && query.query_chars != 0) {
    // The query's code points as Latin-1 bytes, lower-cased when folding.
    std::string_view latin1 = query.query_folded;
    unsigned char bytes[64];
    if (!query.fast) {
      std::string lowered;
      if (query.case_insensitive) append_lowercase(query.query_text, lowered);
      const std::size_t size =
          to_latin1(query.case_insensitive ? lowered : query.query_text, bytes);
      latin1 = size <= 64 ? std::string_view(reinterpret_cast<const char*>(bytes), size)
                          : std::string_view();
    }
    // A zero byte would match the lanes' padding.
    if (!latin1.empty() && latin1.find('\0') == std::string_view::npos) {
      const JaroWinklerLaneQuery lanes(latin1, query.case_insensitive);
      score_in_jaro_winkler_lanes(*kernels, lanes, query.p, candidates, out, one);
      return;
    }
  }
  if (!query.fast) {
    for (std::size_t k = 0; k < candidates.size(); ++k) out[k] = one(candidates[k]);
  } else if (query.case_insensitive) {
    score_fast_sorted<true>(query, candidates, out, one);
  } else {
    score_fast_sorted<false>(query, candidates, out, one);
  }
}

}  // namespace detail

JaroWinklerQuery::JaroWinklerQuery(std::string_view query, double p_in, bool case_insensitive_in)
    : query_text(query), p(p_in), case_insensitive(case_insensitive_in) {
  if (!detail::is_ascii(query)) {
    query_chars = detail::count_chars(query);
    return;
  }
  query_chars = query.size();
  if (query.empty() || query.size() > 64) return;
  query_folded = query;
  if (case_insensitive) detail::lowercase_ascii(query, query_folded.data());
  detail::set_position_bits(masks.data(), query_folded);
  fast = true;
}

Result<JaroWinklerBatch> JaroWinklerBatch::create(std::string_view query, std::optional<double> p,
                                                  std::optional<bool> case_insensitive) {
  double checked = 0.1;
  if (auto error = detail::check_prefix_scale(p, checked)) return *error;
  return JaroWinklerBatch(JaroWinklerQuery(query, checked, case_insensitive.value_or(false)));
}

double JaroWinklerBatch::similarity(std::string_view candidate) const {
  return detail::score_one(query_, candidate,
                           [](std::string_view) { return std::optional<double>(); });
}

Result<std::vector<double>> jaro_winkler_batch(std::string_view query,
                                               std::span<const std::string_view> candidates,
                                               std::optional<double> p,
                                               std::optional<bool> case_insensitive) {
  auto matcher = JaroWinklerBatch::create(query, p, case_insensitive);
  if (!matcher) return matcher.error();
  std::vector<double> similarities(candidates.size());
  detail::score_all(matcher.value().query(), candidates, similarities.data());
  return similarities;
}

}  // namespace quillmatch_core
