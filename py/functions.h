// The bodies of the nine module functions, which module.cpp puts in the
// function table. Each takes the positional tuple and the keyword dict (or
// null) of one call, with the interpreter lock held, and gives a new
// reference or the error to raise.
#ifndef QUILLMATCH_PY_FUNCTIONS_H_
#define QUILLMATCH_PY_FUNCTIONS_H_

#include <cstddef>

#include "frame.h"

namespace quillmatch_py {

// A module function body.
using Body = PyResult<PyRef> (*)(PyObject* args, PyObject* kwargs);

// The module functions, in the order they are added to the module.
PyResult<PyRef> levenshtein_bp(PyObject* args, PyObject* kwargs);           // pair_functions.cpp
PyResult<PyRef> damerau_bp(PyObject* args, PyObject* kwargs);               // pair_functions.cpp
PyResult<PyRef> jaro_winkler_similarity(PyObject* args, PyObject* kwargs);  // pair_functions.cpp
PyResult<PyRef> levenshtein_batch(PyObject* args, PyObject* kwargs);        // batch_functions.cpp
PyResult<PyRef> damerau_batch(PyObject* args, PyObject* kwargs);            // batch_functions.cpp
PyResult<PyRef> jaro_winkler_batch(PyObject* args, PyObject* kwargs);       // batch_functions.cpp
PyResult<PyRef> ingest_owned(PyObject* args, PyObject* kwargs);             // ingest_probes.cpp
PyResult<PyRef> ingest_borrow(PyObject* args, PyObject* kwargs);            // ingest_probes.cpp
PyResult<PyRef> ingest_borrow_and_deref(PyObject* args, PyObject* kwargs);  // ingest_probes.cpp

// How many functions the module has; each has one `FunctionDescription`.
inline constexpr std::size_t kFunctionCount = 9;

}  // namespace quillmatch_py

#endif  // QUILLMATCH_PY_FUNCTIONS_H_
