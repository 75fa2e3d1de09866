// The pair functions: levenshtein_bp, damerau_bp, jaro_winkler_similarity.
// Each parses, converts in parameter order, calls its core function once with
// the interpreter lock held, and builds an int or a float. The common calls,
// two `str` by position and at most the flag by keyword, take
// `plain_pair_call` and skip the parser: with no limit and no prefix scale,
// the core cannot fail.
#include <array>

#include "frame.h"
#include "functions.h"
#include "quillmatch_core/damerau_bp.h"
#include "quillmatch_core/jaro_winkler.h"
#include "quillmatch_core/levenshtein_bp.h"

namespace quillmatch_py {
namespace {

constexpr std::array<const char*, 5> kDistanceParameters = {"str_1", "str_2", "max_len",
                                                            "case_insensitive", "score_cutoff"};
constexpr std::array<const char*, 6> kSimilarityParameters = {
    "str_1", "str_2", "p", "max_len", "case_insensitive", "score_cutoff"};

constexpr FunctionDescription kLevenshteinBp{"levenshtein_bp", kDistanceParameters, 2};
constexpr FunctionDescription kDamerauBp{"damerau_bp", kDistanceParameters, 2};
constexpr FunctionDescription kJaroWinklerSimilarity{"jaro_winkler_similarity",
                                                     kSimilarityParameters, 2};

using DistanceCore = decltype(&quillmatch_core::levenshtein_bp);

// The body shared by the two distances, which have the same parameters.
PyResult<PyRef> distance_pair(const FunctionDescription& description, DistanceCore core,
                              PyObject* args, PyObject* kwargs) {
  OwnedText str_1, str_2;
  if (std::optional<bool> flag; plain_pair_call(args, kwargs, str_1, str_2, flag)) {
    return new_int(core(str_1, str_2, std::nullopt, flag, std::nullopt).value());
  }
  Arguments in(description, args, kwargs);
  in.required_text(0, str_1);
  in.required_text(1, str_2);
  const auto max_len = in.optional(2, extract_uint);
  const auto case_insensitive = in.optional(3, extract_flag);
  const auto score_cutoff = in.optional(4, extract_uint);
  if (in.failed()) return in.take_error();

  const auto distance = core(str_1, str_2, max_len, case_insensitive, score_cutoff);
  if (!distance.ok()) return value_error_from_match_error(distance.error());
  return new_int(distance.value());
}

}  // namespace

PyResult<PyRef> levenshtein_bp(PyObject* args, PyObject* kwargs) {
  return distance_pair(kLevenshteinBp, quillmatch_core::levenshtein_bp, args, kwargs);
}

PyResult<PyRef> damerau_bp(PyObject* args, PyObject* kwargs) {
  return distance_pair(kDamerauBp, quillmatch_core::damerau_bp, args, kwargs);
}

PyResult<PyRef> jaro_winkler_similarity(PyObject* args, PyObject* kwargs) {
  OwnedText str_1, str_2;
  if (std::optional<bool> flag; plain_pair_call(args, kwargs, str_1, str_2, flag)) {
    return new_float(
        quillmatch_core::jaro_winkler(str_1, str_2, std::nullopt, std::nullopt, flag, std::nullopt)
            .value());
  }
  Arguments in(kJaroWinklerSimilarity, args, kwargs);
  in.required_text(0, str_1);
  in.required_text(1, str_2);
  const auto p = in.optional(2, extract_real);
  const auto max_len = in.optional(3, extract_uint);
  const auto case_insensitive = in.optional(4, extract_flag);
  const auto score_cutoff = in.optional(5, extract_real);
  if (in.failed()) return in.take_error();

  const auto similarity =
      quillmatch_core::jaro_winkler(str_1, str_2, p, max_len, case_insensitive, score_cutoff);
  if (!similarity.ok()) return value_error_from_match_error(similarity.error());
  return new_float(similarity.value());
}

}  // namespace quillmatch_py
