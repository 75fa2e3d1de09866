// Lookup of the case data of one code point in the generated tables of
// unicode_tables.cpp (layout in unicode_tables.h, from
// tools/gen_unicode_tables.py, whose Tables.lookup() mirrors this decoding).
#ifndef QUILLMATCH_CORE_SRC_UNICODE_LOOKUP_H_
#define QUILLMATCH_CORE_SRC_UNICODE_LOOKUP_H_

#include <cstddef>
#include <cstdint>

#include "unicode_tables.h"

namespace quillmatch_core::detail {

// The case data of one code point. A mapping of one code point is stored as
// a delta; a longer one as an offset into kLowerExpansions, where its length
// is followed by its code points.
class CaseRecord {
 public:
  explicit constexpr CaseRecord(std::int32_t bits) : bits_(bits) {}

  constexpr bool cased() const { return (bits_ & kCaseCasedBit) != 0; }
  constexpr bool case_ignorable() const { return (bits_ & kCaseIgnorableBit) != 0; }
  constexpr bool expands() const { return (bits_ & kCaseExpandsBit) != 0; }
  // Lower case minus the code point; only when !expands().
  constexpr std::int32_t delta() const { return bits_ >> kCasePayloadShift; }
  // Index of the mapping's length in kLowerExpansions; only when expands().
  constexpr std::size_t expansion_offset() const {
    return static_cast<std::size_t>(bits_ >> kCasePayloadShift);
  }

 private:
  std::int32_t bits_;
};

// Returns the case data of `cp` with four dependent table reads. Values above
// U+10FFFF (only decoded from malformed input) get the data of an uncased
// character that maps to itself.
inline CaseRecord case_record(char32_t cp) {
  if (cp > kCaseMaxCodePoint) return CaseRecord(kCaseRecords[0]);
  constexpr char32_t kMidMask = (char32_t{1} << kCaseMidShift) - 1;
  constexpr char32_t kLowMask = (char32_t{1} << kCaseLowShift) - 1;
  const std::size_t block2 = kCaseStage1[cp >> (kCaseLowShift + kCaseMidShift)];
  const std::size_t block3 =
      kCaseStage2[(block2 << kCaseMidShift) | ((cp >> kCaseLowShift) & kMidMask)];
  return CaseRecord(kCaseRecords[kCaseStage3[(block3 << kCaseLowShift) | (cp & kLowMask)]]);
}

}  // namespace quillmatch_core::detail

#endif  // QUILLMATCH_CORE_SRC_UNICODE_LOOKUP_H_
