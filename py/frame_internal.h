// What the frame's own files (frame.cpp, arguments.cpp, module.cpp) share and
// the function bodies do not see: the interned names, the type tests and the
// fault boundary.
//
// Every function here runs with the interpreter lock held.
#ifndef QUILLMATCH_PY_FRAME_INTERNAL_H_
#define QUILLMATCH_PY_FRAME_INTERNAL_H_

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "frame.h"
#include "functions.h"  // Body

namespace quillmatch_py {

// Attribute names interned once and kept for the process.
enum class Name {
  kName,
  kAll,
  kQualname,
  kModule,
  kAddNote,
  kBool,
  kGet,
  kCaseInsensitive,
  kCount
};

// Returns the interned `str` for `name`, made on first use. Borrowed; never
// released.
PyObject* interned(Name name);

// Reports a null from an interpreter constructor as an internal fault, after
// printing the exception it left pending, if any.
[[noreturn]] void constructor_failed(const char* constructor);

inline PyObject* type_of(PyObject* object) { return reinterpret_cast<PyObject*>(Py_TYPE(object)); }

inline bool has_type_flag(PyObject* object, unsigned long flag) {
  return (PyType_GetFlags(Py_TYPE(object)) & flag) != 0;
}

// Tells whether `object` is a `str` or a subclass. The exact type is tested
// first: it is the common case and costs no call.
inline bool is_str(PyObject* object) {
  return Py_TYPE(object) == &PyUnicode_Type || has_type_flag(object, Py_TPFLAGS_UNICODE_SUBCLASS);
}

// Returns the contents of a `bytes` object, read with one call.
inline std::string_view bytes_view(PyObject* bytes) {
  char* data = nullptr;
  Py_ssize_t size = 0;
  if (PyBytes_AsStringAndSize(bytes, &data, &size) != 0) {
    constructor_failed("PyBytes_AsStringAndSize");
  }
  return {data, static_cast<std::size_t>(size)};
}

// Returns the UTF-8 form of the `str` `text` with the encoder error handler
// `errors`, or nothing (pending exception cleared) when it cannot be made.
std::optional<std::string> utf8_of(PyObject* text, const char* errors);

// Runs `body` and returns its object, or null with the exception set. Every
// C++ exception stops here: faults become `PanicException`, `std::bad_alloc`
// ends the process.
PyObject* trampoline(Body body, PyObject* args, PyObject* kwargs) noexcept;

// Raises the C++ exception being handled (called only inside a `catch`) as
// `PanicException`. Memory exhaustion, and a fault while raising, end the
// process instead.
void raise_fault() noexcept;

}  // namespace quillmatch_py

#endif  // QUILLMATCH_PY_FRAME_INTERNAL_H_
