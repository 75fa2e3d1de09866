// The call frame's own machinery: the objects created once, the error value
// `PyErr`, the results and the fault boundary (`trampoline`). The parser and
// the conversions are in arguments.cpp, the module definition in module.cpp.
#include "frame.h"

#include <array>
#include <exception>  // std::exception
#include <iterator>   // std::size
#include <new>        // std::bad_alloc

#include "frame_internal.h"
#include "quillmatch_core/common.h"

namespace quillmatch_py {

// ---------------------------------------------------------------------------
// Objects created once, under the interpreter lock, and kept for the process.

namespace {

constexpr const char* kNameTexts[] = {"__name__", "__all__",  "__qualname__", "__module__",
                                      "add_note", "__bool__", "__get__",      "case_insensitive"};
static_assert(std::size(kNameTexts) == static_cast<std::size_t>(Name::kCount));

}  // namespace

PyObject* interned(Name name) {
  static PyObject* table[static_cast<std::size_t>(Name::kCount)] = {};
  PyObject*& entry = table[static_cast<std::size_t>(name)];
  if (entry == nullptr) {
    entry = PyUnicode_InternFromString(kNameTexts[static_cast<std::size_t>(name)]);
    if (entry == nullptr) constructor_failed("PyUnicode_InternFromString");
  }
  return entry;
}

namespace {

constexpr const char* kPanicExceptionDoc =
    "Raised when the native code of the quillmatch extension fails unexpectedly.\n"
    "\n"
    "Like SystemExit, it derives from BaseException rather than Exception, so that\n"
    "it usually propagates through the whole stack and ends the interpreter.";

// Returns the `PanicException` class, or null with the creation's exception
// pending. Borrowed; never released.
PyObject* panic_exception_type() {
  static PyObject* type = nullptr;
  if (type == nullptr) {
    PyObject* made = PyErr_NewExceptionWithDoc("tarnbind_runtime.PanicException",
                                               kPanicExceptionDoc, PyExc_BaseException, nullptr);
    if (made == nullptr) return nullptr;
    // Creating a class may run Python code and so let another thread finish
    // first: the first class stored is the one kept.
    if (type == nullptr) {
      type = made;
    } else {
      Py_DecRef(made);
    }
  }
  return type;
}

}  // namespace

// ---------------------------------------------------------------------------
// Small helpers.

[[noreturn]] void constructor_failed(const char* constructor) {
  if (PyErr_Occurred() != nullptr) PyErr_WriteUnraisable(nullptr);
  quillmatch_core::internal_fault(constructor);
}

std::optional<std::string> utf8_of(PyObject* text, const char* errors) {
  PyRef bytes(PyUnicode_AsEncodedString(text, "utf-8", errors));
  if (!bytes) {
    PyErr_Clear();
    return std::nullopt;
  }
  return std::string(bytes_view(bytes.get()));
}

namespace {

// Returns the `__qualname__` of the object's type, invalid code units replaced.
std::string type_qualname(PyObject* object) {
  PyRef qualname(PyObject_GetAttr(type_of(object), interned(Name::kQualname)));
  if (qualname && is_str(qualname.get())) {
    if (auto utf8 = utf8_of(qualname.get(), "replace")) return std::move(*utf8);
  }
  PyErr_Clear();
  return "<failed to extract type name>";
}

// Returns a message text as a new `str`.
PyRef message_str(const std::string& message) {
  return PyRef(PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()),
                                    "surrogatepass"));
}

}  // namespace

// ---------------------------------------------------------------------------
// PyErr

PyErr PyErr::new_message(PyObject* type, std::string message) {
  PyErr error;
  error.message_type_ = type;
  error.message_ = std::move(message);
  return error;
}

PyErr PyErr::cast_error(PyObject* object, const char* required_type) {
  PyErr error;
  error.cast_object_ = PyRef::from_borrowed(object);
  error.required_type_ = required_type;
  return error;
}

PyErr PyErr::fetch() {
  PyObject* type = nullptr;
  PyObject* value = nullptr;
  PyObject* traceback = nullptr;
  PyErr_Fetch(&type, &value, &traceback);
  if (type == nullptr) {
    return new_message(PyExc_SystemError, "error return without exception set");
  }
  PyErr error;
  error.type_ = PyRef(type);
  error.value_ = PyRef(value);
  error.traceback_ = PyRef(traceback);
  return error;
}

void PyErr::make_concrete() {
  if (cast_object_) {
    message_ = cast_object_.get() == Py_None ? std::string("'None' is not an instance of '")
                                             : std::string("'")
                                                   .append(type_qualname(cast_object_.get()))
                                                   .append("' object is not an instance of '");
    message_.append(required_type_).append("'");
    message_type_ = PyExc_TypeError;
    cast_object_ = PyRef();
  }
  if (message_type_ != nullptr) {
    PyRef text = message_str(message_);
    PyRef exception;
    if (text) {
      exception = PyRef(PyObject_CallFunctionObjArgs(message_type_, text.get(), nullptr));
    }
    if (!exception) {
      *this = fetch();
    } else {
      type_ = PyRef::from_borrowed(message_type_);
      value_ = std::move(exception);
      message_type_ = nullptr;
      message_.clear();
      return;
    }
  }
  PyObject* type = type_.release();
  PyObject* value = value_.release();
  PyObject* traceback = traceback_.release();
  PyErr_NormalizeException(&type, &value, &traceback);
  type_ = PyRef(type);
  value_ = PyRef(value);
  traceback_ = PyRef(traceback);
}

PyObject* PyErr::exception_object() {
  make_concrete();
  return value_.get();
}

void PyErr::restore() && {
  if (!type_) {
    // Raised straight from the message: no exception object is made first.
    if (cast_object_) make_concrete();
    if (message_type_ != nullptr) {
      PyRef text = message_str(message_);
      if (text) PyErr_SetObject(message_type_, text.get());
      return;
    }
  }
  PyErr_Restore(type_.release(), value_.release(), traceback_.release());
}

// ---------------------------------------------------------------------------
// Results and core errors

PyErr value_error_from_match_error(const quillmatch_core::MatchError& error) {
  return PyErr::new_message(PyExc_ValueError, error.debug_text());
}

PyRef new_int(unsigned long long value) {
  PyRef object(PyLong_FromUnsignedLongLong(value));
  if (!object) constructor_failed("PyLong_FromUnsignedLongLong");
  return object;
}

PyRef new_float(double value) {
  PyRef object(PyFloat_FromDouble(value));
  if (!object) constructor_failed("PyFloat_FromDouble");
  return object;
}

namespace {

// Returns a list of `size` items, each from `item(i)`: a new reference, or
// null when `constructor` failed. The loop is inlined into each builder, so
// an item costs its constructor and one `PyList_SetItem`.
template <typename Item>
PyRef new_list(std::size_t size, Item item, const char* constructor) {
  PyRef list(PyList_New(static_cast<Py_ssize_t>(size)));
  if (!list) constructor_failed("PyList_New");
  for (std::size_t i = 0; i < size; ++i) {
    PyObject* object = item(i);
    // PyList_SetItem takes over the item's reference, also when it fails.
    if (object == nullptr || PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), object) != 0) {
      constructor_failed(object == nullptr ? constructor : "PyList_SetItem");
    }
  }
  return list;
}

// Distances below this are made once per list and shared by its items: the
// interpreter hands out one object for each of them anyway (its small-int
// cache reaches 256), so sharing changes nothing that Python can see and
// saves a constructor call per item.
constexpr std::size_t kSharedInts = 257;

}  // namespace

PyRef new_int_list(std::span<const std::size_t> values) {
  std::array<PyRef, kSharedInts> shared;
  return new_list(
      values.size(),
      [&](std::size_t i) -> PyObject* {
        const std::size_t value = values[i];
        if (value >= kSharedInts) return PyLong_FromSize_t(value);
        PyRef& object = shared[value];
        if (!object) {
          object = PyRef(PyLong_FromSize_t(value));
          if (!object) return nullptr;
        }
        Py_INCREF(object.get());
        return object.get();
      },
      "PyLong_FromSize_t");
}

PyRef new_float_list(std::span<const double> values) {
  return new_list(
      values.size(), [&](std::size_t i) { return PyFloat_FromDouble(values[i]); },
      "PyFloat_FromDouble");
}

// ---------------------------------------------------------------------------
// Fault boundary

namespace {

constexpr const char* kFaultWithoutMessage =
    "the native code of quillmatch failed with an exception that carries no message";

// Sets `PanicException` with `message` (UTF-8, invalid bytes replaced) as the
// current exception; when the class cannot be made, that failure is pending
// instead.
void raise_panic(const char* message) {
  PyObject* type = panic_exception_type();
  if (type == nullptr) return;
  const std::string_view text(message);
  PyRef text_object(
      PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace"));
  if (text_object) PyErr_SetObject(type, text_object.get());
}

}  // namespace

void raise_fault() noexcept {
  try {
    try {
      throw;
    } catch (const std::bad_alloc&) {
      Py_FatalError("quillmatch: out of memory (std::bad_alloc)");
    } catch (const std::exception& fault) {
      raise_panic(fault.what());
    } catch (...) {
      raise_panic(kFaultWithoutMessage);
    }
  } catch (...) {
    Py_FatalError("quillmatch: uncaught panic at ffi boundary");
  }
}

PyObject* trampoline(Body body, PyObject* args, PyObject* kwargs) noexcept {
  try {
    PyResult<PyRef> result = body(args, kwargs);
    if (result.ok()) return result.value().release();
    std::move(result.error()).restore();
  } catch (...) {
    raise_fault();
  }
  return nullptr;
}

}  // namespace quillmatch_py
