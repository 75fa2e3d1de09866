// The batch functions: levenshtein_batch, damerau_batch, jaro_winkler_batch.
// Each takes the query in as a view of the interpreter's UTF-8 bytes and the
// candidates as copies of theirs, runs one core batch call (without the
// interpreter lock from kLockReleaseThreshold candidates on) and builds a
// list.
#include <array>

#include "frame.h"
#include "functions.h"
#include "quillmatch_core/damerau_batch.h"
#include "quillmatch_core/jaro_winkler_batch.h"
#include "quillmatch_core/levenshtein_batch.h"

namespace quillmatch_py {
namespace {

// From this many candidates the core runs with the lock released; below it
// the cost of giving up and retaking the lock is not worth paying.
constexpr std::size_t kLockReleaseThreshold = 10000;

constexpr std::array<const char*, 3> kDistanceParameters = {"query", "candidates",
                                                            "case_insensitive"};
constexpr std::array<const char*, 4> kSimilarityParameters = {"query", "candidates", "p",
                                                              "case_insensitive"};

constexpr FunctionDescription kLevenshteinBatch{"levenshtein_batch", kDistanceParameters, 2};
constexpr FunctionDescription kDamerauBatch{"damerau_batch", kDistanceParameters, 2};
constexpr FunctionDescription kJaroWinklerBatch{"jaro_winkler_batch", kSimilarityParameters, 2};

using DistanceBatchCore = decltype(&quillmatch_core::levenshtein_batch);

// The body shared by the two distances, which have the same parameters.
PyResult<PyRef> distance_batch(const FunctionDescription& description, DistanceBatchCore core,
                               PyObject* args, PyObject* kwargs) {
  Arguments in(description, args, kwargs);
  PyBackedStr query = in.required(0, extract_text_view);
  CandidateTexts candidates = in.sequence<CandidateTexts>(1);
  const auto case_insensitive = in.optional(2, extract_flag);
  if (in.failed()) return in.take_error();

  std::vector<std::size_t> distances;
  {
    // The query's bytes object stays referenced until the lock is back; the
    // candidates' texts are this call's own.
    const UnlockedScope unlocked(candidates.size() >= kLockReleaseThreshold);
    distances = core(query.view(), candidates.views(), case_insensitive);
  }
  return new_int_list(distances);
}

}  // namespace

PyResult<PyRef> levenshtein_batch(PyObject* args, PyObject* kwargs) {
  return distance_batch(kLevenshteinBatch, quillmatch_core::levenshtein_batch, args, kwargs);
}

PyResult<PyRef> damerau_batch(PyObject* args, PyObject* kwargs) {
  return distance_batch(kDamerauBatch, quillmatch_core::damerau_batch, args, kwargs);
}

PyResult<PyRef> jaro_winkler_batch(PyObject* args, PyObject* kwargs) {
  Arguments in(kJaroWinklerBatch, args, kwargs);
  PyBackedStr query = in.required(0, extract_text_view);
  CandidateTexts candidates = in.sequence<CandidateTexts>(1);
  const auto p = in.optional(2, extract_real);
  const auto case_insensitive = in.optional(3, extract_flag);
  if (in.failed()) return in.take_error();

  std::optional<quillmatch_core::Result<std::vector<double>>> similarities;
  {
    // As in distance_batch: the texts outlive the unlocked stretch.
    const UnlockedScope unlocked(candidates.size() >= kLockReleaseThreshold);
    similarities.emplace(
        quillmatch_core::jaro_winkler_batch(query.view(), candidates.views(), p, case_insensitive));
  }
  if (!similarities->ok()) return value_error_from_match_error(similarities->error());
  return new_float_list(similarities->value());
}

}  // namespace quillmatch_py
