// The ingest probes: _ingest_owned, _ingest_borrow, _ingest_borrow_and_deref.
// They measure nothing; each takes a candidate sequence in one of the ways the
// module can, with the lock held throughout, and reports a count or a total.
#include <array>

#include "frame.h"
#include "functions.h"

namespace quillmatch_py {
namespace {

constexpr std::array<const char*, 1> kParameters = {"candidates"};

constexpr FunctionDescription kIngestOwned{"_ingest_owned", kParameters, 1};
constexpr FunctionDescription kIngestBorrow{"_ingest_borrow", kParameters, 1};
constexpr FunctionDescription kIngestBorrowAndDeref{"_ingest_borrow_and_deref", kParameters, 1};

}  // namespace

PyResult<PyRef> ingest_owned(PyObject* args, PyObject* kwargs) {
  Arguments in(kIngestOwned, args, kwargs);
  const std::vector<std::string> candidates = in.sequence<std::vector<std::string>>(0);
  if (in.failed()) return in.take_error();
  return new_int(candidates.size());
}

PyResult<PyRef> ingest_borrow(PyObject* args, PyObject* kwargs) {
  Arguments in(kIngestBorrow, args, kwargs);
  const std::vector<PyBackedStr> candidates = in.sequence<std::vector<PyBackedStr>>(0);
  if (in.failed()) return in.take_error();
  return new_int(candidates.size());
}

PyResult<PyRef> ingest_borrow_and_deref(PyObject* args, PyObject* kwargs) {
  Arguments in(kIngestBorrowAndDeref, args, kwargs);
  CandidateTexts candidates = in.sequence<CandidateTexts>(0);
  if (in.failed()) return in.take_error();

  // The texts and plain views a batch call hands to the core; the sum wraps
  // like the machine word it is.
  std::size_t total = 0;
  for (std::string_view view : candidates.views()) total += view.size();
  return new_int(total);
}

}  // namespace quillmatch_py
