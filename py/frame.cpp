// The module definition, its execution slot and the call frame shared by the
// nine module functions (see frame.h).
#include "frame.h"

#include <climits>    // ULLONG_MAX
#include <cstring>    // std::memcpy
#include <cstdint>    // SIZE_MAX
#include <exception>  // std::exception
#include <initializer_list>
#include <iterator>   // std::size
#include <new>        // std::bad_alloc
#include <stdexcept>  // std::length_error
#include <type_traits>

#include "quillmatch_core/common.h"

namespace quillmatch_py {
namespace {

// ---------------------------------------------------------------------------
// Objects created once, under the interpreter lock, and kept for the process.

enum class Name { kName, kAll, kQualname, kModule, kAddNote, kBool, kGet, kCount };

constexpr const char* kNameTexts[] = {"__name__", "__all__", "__qualname__", "__module__",
                                       "add_note", "__bool__", "__get__"};
static_assert(std::size(kNameTexts) == static_cast<std::size_t>(Name::kCount));

[[noreturn]] void constructor_failed(const char* constructor);

// Returns the interned `str` for `name`. Borrowed; never released.
PyObject* interned(Name name) {
  static PyObject* table[static_cast<std::size_t>(Name::kCount)] = {};
  PyObject*& entry = table[static_cast<std::size_t>(name)];
  if (entry == nullptr) {
    entry = PyUnicode_InternFromString(kNameTexts[static_cast<std::size_t>(name)]);
    if (entry == nullptr) constructor_failed("PyUnicode_InternFromString");
  }
  return entry;
}

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

// ---------------------------------------------------------------------------
// Small helpers.

PyObject* type_of(PyObject* object) { return reinterpret_cast<PyObject*>(Py_TYPE(object)); }

bool has_type_flag(PyObject* object, unsigned long flag) {
  return (PyType_GetFlags(Py_TYPE(object)) & flag) != 0;
}

// The exact type is tested first: it is the common case and costs no call.
bool is_str(PyObject* object) {
  return Py_TYPE(object) == &PyUnicode_Type || has_type_flag(object, Py_TPFLAGS_UNICODE_SUBCLASS);
}

// Returns the contents of a `bytes` object, read with one call.
std::string_view bytes_view(PyObject* bytes) {
  char* data = nullptr;
  Py_ssize_t size = 0;
  if (PyBytes_AsStringAndSize(bytes, &data, &size) != 0) {
    constructor_failed("PyBytes_AsStringAndSize");
  }
  return {data, static_cast<std::size_t>(size)};
}

// Reports a null from an interpreter constructor as an internal fault, after
// printing the exception it left pending, if any.
[[noreturn]] void constructor_failed(const char* constructor) {
  if (PyErr_Occurred() != nullptr) PyErr_WriteUnraisable(nullptr);
  quillmatch_core::internal_fault(constructor);
}

// Returns the UTF-8 form of the `str` `text` with the encoder error handler
// `errors`, or nothing (pending exception cleared) when it cannot be made.
std::optional<std::string> utf8_of(PyObject* text, const char* errors) {
  PyRef bytes(PyUnicode_AsEncodedString(text, "utf-8", errors));
  if (!bytes) {
    PyErr_Clear();
    return std::nullopt;
  }
  return std::string(bytes_view(bytes.get()));
}

// Returns str(object) as UTF-8 (lone surrogates kept, for the message text to
// round-trip), or the exception str() raised.
PyResult<std::string> str_of(PyObject* object) {
  PyRef text(PyObject_Str(object));
  if (!text) return PyErr::fetch();
  auto utf8 = utf8_of(text.get(), "surrogatepass");
  if (!utf8) return PyErr::new_message(PyExc_TypeError, "<unprintable object>");
  return std::move(*utf8);
}

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
    message_ = cast_object_.get() == Py_None
                   ? std::string("'None' is not an instance of '")
                   : std::string("'").append(type_qualname(cast_object_.get()))
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
// Argument parsing

namespace {

std::string full_name(const FunctionDescription& description) {
  return std::string(description.name) + "()";
}

PyErr too_many_positional_arguments(const FunctionDescription& description, std::size_t given) {
  const std::size_t count = description.parameters.size();
  const std::string takes =
      description.required == count
          ? std::to_string(count)
          : "from " + std::to_string(description.required) + " to " + std::to_string(count);
  return PyErr::new_message(PyExc_TypeError, full_name(description) + " takes " + takes +
                                                 " positional arguments but " +
                                                 std::to_string(given) + " were given");
}

PyErr unexpected_keyword_argument(const FunctionDescription& description, PyObject* key) {
  auto key_text = str_of(key);
  if (!key_text.ok()) return std::move(key_text.error());
  return PyErr::new_message(PyExc_TypeError, full_name(description) +
                                                 " got an unexpected keyword argument '" +
                                                 key_text.value() + "'");
}

PyErr multiple_values_for_argument(const FunctionDescription& description, const char* name) {
  return PyErr::new_message(PyExc_TypeError, full_name(description) +
                                                 " got multiple values for argument '" + name +
                                                 "'");
}

// Appends the quoted names: 'a', 'a' and 'b', 'a', 'b' and 'c'.
void push_parameter_list(std::string& message, const std::vector<const char*>& names) {
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i > 0) message += i + 1 == names.size() ? " and " : ", ";
    message += '\'';
    message += names[i];
    message += '\'';
  }
}

PyErr missing_required_positional_arguments(const FunctionDescription& description,
                                            const ArgumentSlots& borrowed_slots) {
  std::vector<const char*> missing;
  for (std::size_t i = 0; i < description.required; ++i) {
    if (borrowed_slots[i] == nullptr) missing.push_back(description.parameters[i]);
  }
  std::string message = full_name(description) + " missing " + std::to_string(missing.size()) +
                        " required positional " +
                        (missing.size() == 1 ? "argument" : "arguments") + ": ";
  push_parameter_list(message, missing);
  return PyErr::new_message(PyExc_TypeError, std::move(message));
}

// Interned `str` objects of one description's parameter names, made on the
// first call with keywords. Keywords written in a call are interned by the
// compiler, so most keys are these very objects.
struct InternedParameters {
  const FunctionDescription* description = nullptr;
  PyObject* names[kMaxParameters] = {};
};

// Returns the interned names of `description`. Borrowed; never released.
// There is one description per module function, so the table stays small.
const InternedParameters& interned_parameters(const FunctionDescription& description) {
  static InternedParameters table[16];
  static std::size_t used = 0;
  for (std::size_t i = 0; i < used; ++i) {
    if (table[i].description == &description) return table[i];
  }
  if (used == std::size(table)) quillmatch_core::internal_fault("too many function descriptions");
  InternedParameters& entry = table[used];
  for (std::size_t i = 0; i < description.parameters.size(); ++i) {
    entry.names[i] = PyUnicode_InternFromString(description.parameters[i]);
    if (entry.names[i] == nullptr) constructor_failed("PyUnicode_InternFromString");
  }
  entry.description = &description;
  ++used;
  return entry;
}

// Returns the index of the parameter that `key` names, or the parameter count
// when it names none (a non-`str` key or one without a UTF-8 form included).
// A key that is one of the interned names matches by identity; any other key
// is compared by its UTF-8 bytes, which gives the same answer for an equal
// `str` and keeps every odd key (subclass, surrogates) as it was.
std::size_t parameter_index(const FunctionDescription& description,
                            const InternedParameters& names, PyObject* key) {
  const std::size_t count = description.parameters.size();
  for (std::size_t i = 0; i < count; ++i) {
    if (key == names.names[i]) return i;
  }
  if (!is_str(key)) return count;
  PyRef bytes(PyUnicode_AsUTF8String(key));
  if (!bytes) {
    PyErr_Clear();
    return count;
  }
  const std::string_view text = bytes_view(bytes.get());
  for (std::size_t i = 0; i < count; ++i) {
    if (text == description.parameters[i]) return i;
  }
  return count;
}

}  // namespace

std::optional<PyErr> extract_arguments_tuple_dict(const FunctionDescription& description,
                                                  PyObject* args, PyObject* kwargs,
                                                  ArgumentSlots& borrowed_slots) {
  const std::size_t count = description.parameters.size();
  const auto given = static_cast<std::size_t>(PyTuple_Size(args));
  for (std::size_t i = 0; i < given && i < count; ++i) {
    borrowed_slots[i] = PyTuple_GetItem(args, static_cast<Py_ssize_t>(i));
  }
  if (given > count) return too_many_positional_arguments(description, given);

  if (kwargs != nullptr) {
    const InternedParameters& names = interned_parameters(description);
    Py_ssize_t position = 0;
    PyObject* borrowed_key = nullptr;
    PyObject* borrowed_value = nullptr;
    while (PyDict_Next(kwargs, &position, &borrowed_key, &borrowed_value) != 0) {
      const std::size_t index = parameter_index(description, names, borrowed_key);
      if (index == count) return unexpected_keyword_argument(description, borrowed_key);
      if (borrowed_slots[index] != nullptr) {
        return multiple_values_for_argument(description, description.parameters[index]);
      }
      borrowed_slots[index] = borrowed_value;
    }
  }

  for (std::size_t i = given; i < description.required; ++i) {
    if (borrowed_slots[i] == nullptr) {
      return missing_required_positional_arguments(description, borrowed_slots);
    }
  }
  return std::nullopt;
}

Arguments::Arguments(const FunctionDescription& description, PyObject* args, PyObject* kwargs)
    : description_(description),
      error_(extract_arguments_tuple_dict(description, args, kwargs, borrowed_slots_)) {}

// ---------------------------------------------------------------------------
// Conversions

namespace {

// Returns the UTF-8 `bytes` object of a `str`.
PyResult<PyRef> utf8_bytes(PyObject* object) {
  if (!is_str(object)) return PyErr::cast_error(object, "str");
  PyRef bytes(PyUnicode_AsUTF8String(object));
  if (!bytes) return PyErr::fetch();
  return bytes;
}

// Tells whether `type` is numpy's boolean scalar type, by its module and name.
bool is_numpy_bool_type(PyObject* type) {
  auto attribute_is = [type](Name name, std::initializer_list<std::string_view> accepted) {
    PyRef value(PyObject_GetAttr(type, interned(name)));
    if (!value || !is_str(value.get())) {
      PyErr_Clear();
      return false;
    }
    const auto text = utf8_of(value.get(), "strict");
    if (!text) return false;
    for (std::string_view candidate : accepted) {
      if (*text == candidate) return true;
    }
    return false;
  };
  return attribute_is(Name::kModule, {"numpy"}) && attribute_is(Name::kName, {"bool_", "bool"});
}

// Returns bool(object) through the `__bool__` special method of its type.
PyResult<bool> special_bool(PyObject* object) {
  PyObject* borrowed_type = type_of(object);
  PyRef method(PyObject_GetAttr(borrowed_type, interned(Name::kBool)));
  if (!method) {
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return PyErr::fetch();
    PyErr_Clear();
    auto type_text = str_of(borrowed_type);
    if (!type_text.ok()) return std::move(type_text.error());
    return PyErr::new_message(PyExc_TypeError, "object of type '" + type_text.value() +
                                                   "' does not define a '__bool__' conversion");
  }
  // A special method is bound the way the interpreter binds it: through the
  // `__get__` of the descriptor's type, when it has one.
  PyRef getter(PyObject_GetAttr(type_of(method.get()), interned(Name::kGet)));
  if (getter) {
    method = PyRef(PyObject_CallFunctionObjArgs(getter.get(), method.get(), object,
                                                borrowed_type, nullptr));
    if (!method) return PyErr::fetch();
  } else {
    PyErr_Clear();
  }
  PyRef result(PyObject_CallObject(method.get(), nullptr));
  if (!result) return PyErr::fetch();
  if (Py_TYPE(result.get()) != &PyBool_Type) return PyErr::cast_error(result.get(), "bool");
  return result.get() == Py_True;
}

// Reserves room for `hint` elements when the hint is usable. A reported
// length is not trusted: one too large to reserve is ignored.
template <typename Element>
void reserve_hint(std::vector<Element>& elements, Py_ssize_t hint) {
  if (hint < 0) {
    PyErr_Clear();
    return;
  }
  try {
    elements.reserve(static_cast<std::size_t>(hint));
  } catch (const std::length_error&) {
  } catch (const std::bad_alloc&) {
  }
}

// Appends the UTF-8 form of `item` to `elements`, or gives the error that
// prevented it. Each element is built in place from its bytes object, as
// `utf8_bytes` does for one argument: this runs once per candidate, and a
// view moved through a temporary result costs a store-forwarding stall.
template <typename Element>
[[gnu::always_inline]] inline std::optional<PyErr> append_text(PyObject* item,
                                                               std::vector<Element>& elements) {
  if (!is_str(item)) return PyErr::cast_error(item, "str");
  PyRef bytes(PyUnicode_AsUTF8String(item));
  if (!bytes) return PyErr::fetch();
  if constexpr (std::is_same_v<Element, PyBackedStr>) {
    elements.emplace_back(std::move(bytes));
  } else {
    elements.emplace_back(bytes_view(bytes.get()));
  }
  return std::nullopt;
}

template <typename Element>
PyResult<std::vector<Element>> extract_sequence(PyObject* object) {
  if (is_str(object)) return PyErr::new_message(PyExc_TypeError, "Can't extract `str` to `Vec`");
  if (PySequence_Check(object) == 0) return PyErr::cast_error(object, "Sequence");
  std::vector<Element> elements;
  const bool list = Py_TYPE(object) == &PyList_Type;
  if (list || Py_TYPE(object) == &PyTuple_Type) {
    // An exact list or tuple is read by index, the elements its iterator
    // would give, without an iterator call and a reference per element. The
    // items stay in place: nothing below runs Python code (encoding a `str`
    // allocates only its bytes object) until a failure ends the loop.
    const Py_ssize_t size = list ? PyList_Size(object) : PyTuple_Size(object);
    reserve_hint(elements, size);
    for (Py_ssize_t i = 0; i < size; ++i) {
      PyObject* borrowed = list ? PyList_GetItem(object, i) : PyTuple_GetItem(object, i);
      if (auto error = append_text(borrowed, elements)) return std::move(*error);
    }
    return elements;
  }
  reserve_hint(elements, PyObject_Size(object));
  PyRef iterator(PyObject_GetIter(object));
  if (!iterator) return PyErr::fetch();
  while (PyRef item = PyRef(PyIter_Next(iterator.get()))) {
    if (auto error = append_text(item.get(), elements)) return std::move(*error);
  }
  if (PyErr_Occurred() != nullptr) return PyErr::fetch();
  return elements;
}

}  // namespace

PyBackedStr::PyBackedStr(PyRef bytes) : bytes_(std::move(bytes)), view_(bytes_view(bytes_.get())) {}

std::vector<std::string_view> plain_views(const std::vector<PyBackedStr>& candidates) {
  std::vector<std::string_view> views;
  views.reserve(candidates.size());
  for (const PyBackedStr& candidate : candidates) views.push_back(candidate.view());
  return views;
}

void OwnedText::assign(std::string_view bytes) {
  char* target = inline_;
  if (bytes.size() > kInlineBytes) {
    heap_.reset(new char[bytes.size()]);
    target = heap_.get();
  }
  if (!bytes.empty()) std::memcpy(target, bytes.data(), bytes.size());
  data_ = target;
  size_ = bytes.size();
}

std::optional<PyErr> extract_owned_text(PyObject* object, OwnedText& out) {
  if (!is_str(object)) return PyErr::cast_error(object, "str");
  PyRef bytes(PyUnicode_AsUTF8String(object));
  if (!bytes) return PyErr::fetch();
  out.assign(bytes_view(bytes.get()));
  return std::nullopt;
}

void Arguments::required_text(std::size_t index, OwnedText& out) {
  if (error_) return;
  if (auto error = extract_owned_text(borrowed_slots_[index], out)) {
    error_.emplace(argument_extraction_error(description_.parameters[index], std::move(*error)));
  }
}

PyResult<PyBackedStr> extract_text_view(PyObject* object) {
  auto bytes = utf8_bytes(object);
  if (!bytes.ok()) return std::move(bytes.error());
  return PyBackedStr(std::move(bytes.value()));
}

PyResult<std::size_t> extract_uint(PyObject* object) {
  unsigned long long value = 0;
  if (has_type_flag(object, Py_TPFLAGS_LONG_SUBCLASS)) {
    value = PyLong_AsUnsignedLongLong(object);
  } else {
    PyRef index(PyNumber_Index(object));
    if (!index) return PyErr::fetch();
    if (!has_type_flag(index.get(), Py_TPFLAGS_LONG_SUBCLASS)) {
      return PyErr::cast_error(index.get(), "int");
    }
    value = PyLong_AsUnsignedLongLong(index.get());
  }
  if (value == ULLONG_MAX && PyErr_Occurred() != nullptr) return PyErr::fetch();
  if constexpr (sizeof(std::size_t) < sizeof(unsigned long long)) {
    if (value > SIZE_MAX) {
      return PyErr::new_message(PyExc_OverflowError,
                                "out of range integral type conversion attempted");
    }
  }
  return static_cast<std::size_t>(value);
}

PyResult<bool> extract_flag(PyObject* object) {
  if (Py_TYPE(object) == &PyBool_Type) return object == Py_True;
  if (is_numpy_bool_type(type_of(object))) return special_bool(object);
  return PyErr::cast_error(object, "bool");
}

PyResult<double> extract_real(PyObject* object) {
  const double value = PyFloat_AsDouble(object);
  if (value == -1.0 && PyErr_Occurred() != nullptr) return PyErr::fetch();
  return value;
}

template <typename Element>
PyResult<std::vector<Element>> extract_argument(PyObject* object, const char* name) {
  auto elements = extract_sequence<Element>(object);
  if (!elements.ok()) return argument_extraction_error(name, std::move(elements.error()));
  return elements;
}
template PyResult<std::vector<PyBackedStr>> extract_argument(PyObject*, const char*);
template PyResult<std::vector<std::string>> extract_argument(PyObject*, const char*);

PyErr argument_extraction_error(const char* name, PyErr error) {
  PyRef note(PyUnicode_FromFormat("while processing '%s'", name));
  if (!note) constructor_failed("PyUnicode_FromFormat");
  PyObject* exception = error.exception_object();
  // Exceptions have `add_note` from Python 3.11 on; before, the note is absent.
  PyRef added(PyObject_CallMethodObjArgs(exception, interned(Name::kAddNote), note.get(), nullptr));
  if (!added) PyErr_Clear();
  return error;
}

PyErr value_error_from_match_error(const quillmatch_core::MatchError& error) {
  return PyErr::new_message(PyExc_ValueError, error.debug_text());
}

// ---------------------------------------------------------------------------
// Results

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

template <typename T>
PyRef new_list(std::span<const T> values, PyRef (*new_item)(T)) {
  PyRef list(PyList_New(static_cast<Py_ssize_t>(values.size())));
  if (!list) constructor_failed("PyList_New");
  for (std::size_t i = 0; i < values.size(); ++i) {
    // PyList_SetItem takes over the item's reference, also when it fails.
    if (PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), new_item(values[i]).release()) != 0) {
      constructor_failed("PyList_SetItem");
    }
  }
  return list;
}

PyRef int_item(std::size_t value) { return new_int(value); }

}  // namespace

PyRef new_int_list(std::span<const std::size_t> values) { return new_list(values, int_item); }

PyRef new_float_list(std::span<const double> values) { return new_list(values, new_float); }

// ---------------------------------------------------------------------------
// Fault boundary

namespace {

constexpr const char* kFaultWithoutMessage =
    "the native code of quillmatch failed with an exception that carries no message";

void raise_panic(const char* message) {
  PyObject* type = panic_exception_type();
  if (type == nullptr) return;  // the failure to create the class is raised instead
  const std::string_view text(message);
  PyRef text_object(
      PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace"));
  if (text_object) PyErr_SetObject(type, text_object.get());
}

// Raises the C++ exception being handled as a Python exception. Memory
// exhaustion ends the process, as everywhere in the library.
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

}  // namespace

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

// ---------------------------------------------------------------------------
// Module definition and execution

namespace {

template <Body body>
constexpr PyCFunction as_cfunction() {
  // The interpreter calls METH_VARARGS | METH_KEYWORDS entries with three
  // arguments; the record's field has the two-argument type.
  return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(entry<body>));
}

// METH_STATIC is ignored by PyCFunction_NewEx (the records are never used as
// a module method table, which would refuse it).
constexpr int kMethodFlags = METH_VARARGS | METH_KEYWORDS | METH_STATIC;
static_assert(kMethodFlags == 0x23);

PyMethodDef function_records[] = {
    {"levenshtein_bp", as_cfunction<levenshtein_bp>(), kMethodFlags,
     "levenshtein_bp(str_1, str_2, max_len=None, case_insensitive=None, score_cutoff=None)\n--\n\n"},
    {"damerau_bp", as_cfunction<damerau_bp>(), kMethodFlags,
     "damerau_bp(str_1, str_2, max_len=None, case_insensitive=None, score_cutoff=None)\n--\n\n"},
    {"jaro_winkler_similarity", as_cfunction<jaro_winkler_similarity>(), kMethodFlags,
     "jaro_winkler_similarity(str_1, str_2, p=None, max_len=None, case_insensitive=None, "
     "score_cutoff=None)\n--\n\n"},
    {"levenshtein_batch", as_cfunction<levenshtein_batch>(), kMethodFlags,
     "levenshtein_batch(query, candidates, case_insensitive=None)\n--\n\n"},
    {"damerau_batch", as_cfunction<damerau_batch>(), kMethodFlags,
     "damerau_batch(query, candidates, case_insensitive=None)\n--\n\n"},
    {"jaro_winkler_batch", as_cfunction<jaro_winkler_batch>(), kMethodFlags,
     "jaro_winkler_batch(query, candidates, p=None, case_insensitive=None)\n--\n\n"},
    {"_ingest_owned", as_cfunction<ingest_owned>(), kMethodFlags, "_ingest_owned(candidates)\n--\n\n"},
    {"_ingest_borrow", as_cfunction<ingest_borrow>(), kMethodFlags,
     "_ingest_borrow(candidates)\n--\n\n"},
    {"_ingest_borrow_and_deref", as_cfunction<ingest_borrow_and_deref>(), kMethodFlags,
     "_ingest_borrow_and_deref(candidates)\n--\n\n"},
};

// Returns the module's `__all__`, created as an empty list when missing.
PyResult<PyRef> module_all(PyObject* module) {
  PyRef all(PyObject_GetAttr(module, interned(Name::kAll)));
  if (!all) {
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return PyErr::fetch();
    PyErr_Clear();
    all = PyRef(PyList_New(0));
    if (!all) constructor_failed("PyList_New");
    if (PyObject_SetAttr(module, interned(Name::kAll), all.get()) != 0) return PyErr::fetch();
    return all;
  }
  if (!has_type_flag(all.get(), Py_TPFLAGS_LIST_SUBCLASS)) return PyErr::cast_error(all.get(), "list");
  return all;
}

// Adds the nine functions to `module` in table order and lists them in `__all__`.
std::optional<PyErr> add_functions(PyObject* module) {
  if (PyType_IsSubtype(Py_TYPE(module), &PyModule_Type) == 0) {
    return PyErr::cast_error(module, "module");
  }
  for (PyMethodDef& record : function_records) {
    PyRef function;
    {
      PyRef module_name(PyModule_GetNameObject(module));
      if (!module_name) return PyErr::fetch();
      function = PyRef(PyCFunction_NewEx(&record, module, module_name.get()));
    }
    if (!function) return PyErr::fetch();
    PyRef name(PyObject_GetAttr(function.get(), interned(Name::kName)));
    if (!name) return PyErr::fetch();
    if (!is_str(name.get())) return PyErr::cast_error(name.get(), "str");
    auto all = module_all(module);
    if (!all.ok()) return std::move(all.error());
    if (PyList_Append(all.value().get(), name.get()) != 0) {
      quillmatch_core::internal_fault("could not append __name__ to __all__");
    }
    if (PyObject_SetAttr(module, name.get(), function.get()) != 0) return PyErr::fetch();
  }
  return std::nullopt;
}

int module_exec(PyObject* module) noexcept {
  try {
    auto error = add_functions(module);
    if (!error) return 0;
    std::move(*error).restore();
  } catch (...) {
    raise_fault();
  }
  return -1;
}

PyModuleDef_Slot module_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(module_exec)},
    {0, nullptr},
};

PyModuleDef module_definition = {
    .m_base = PyModuleDef_HEAD_INIT,
    .m_name = "quillmatch",
    .m_doc = "",
    .m_size = 0,
    .m_methods = nullptr,
    .m_slots = module_slots,
    .m_traverse = nullptr,
    .m_clear = nullptr,
    .m_free = nullptr,
};

}  // namespace
}  // namespace quillmatch_py

PyMODINIT_FUNC PyInit_quillmatch(void) {
  return PyModuleDef_Init(&quillmatch_py::module_definition);
}
