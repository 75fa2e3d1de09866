// The arguments of a call: the parser that fills the slots from the
// positional tuple and the keyword dict, the conversion of each kind of
// argument, and the intake of a sequence of candidate texts.
#include <algorithm>  // std::max
#include <climits>    // ULLONG_MAX
#include <cstdint>    // SIZE_MAX
#include <cstring>    // std::memcpy
#include <initializer_list>
#include <iterator>   // std::size
#include <memory>     // std::make_unique_for_overwrite
#include <new>        // std::bad_alloc
#include <stdexcept>  // std::length_error
#include <type_traits>
#include <utility>  // std::pair

#include "frame.h"
#include "frame_internal.h"
#include "quillmatch_core/common.h"

namespace quillmatch_py {
namespace {

// Adds the note "while processing '{name}'" to the exception (silently absent
// where exceptions have no `add_note`) and returns the same error.
PyErr argument_extraction_error(const char* name, PyErr error) {
  PyRef note(PyUnicode_FromFormat("while processing '%s'", name));
  if (!note) constructor_failed("PyUnicode_FromFormat");
  PyObject* exception = error.exception_object();
  // Exceptions have `add_note` from Python 3.11 on; before, the note is absent.
  PyRef added(PyObject_CallMethodObjArgs(exception, interned(Name::kAddNote), note.get(), nullptr));
  if (!added) PyErr_Clear();
  return error;
}

// Stores in `bytes` the UTF-8 `bytes` object of the `str` (or subclass)
// `object`. Gives the cast error for any other object, and the encoder's
// exception (`UnicodeEncodeError` for a lone surrogate) when it fails.
// Always inlined: the intake runs it once per candidate, and a reference
// handed back through a result value instead of the caller's holder costs a
// store-forwarding stall.
[[gnu::always_inline]] inline std::optional<PyErr> utf8_bytes(PyObject* object, PyRef& bytes) {
  if (!is_str(object)) return PyErr::cast_error(object, "str");
  bytes = PyRef(PyUnicode_AsUTF8String(object));
  if (!bytes) return PyErr::fetch();
  return std::nullopt;
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

// ---------------------------------------------------------------------------
// Argument parsing

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
  return PyErr::new_message(
      PyExc_TypeError,
      full_name(description) + " got an unexpected keyword argument '" + key_text.value() + "'");
}

PyErr multiple_values_for_argument(const FunctionDescription& description, const char* name) {
  return PyErr::new_message(
      PyExc_TypeError, full_name(description) + " got multiple values for argument '" + name + "'");
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
                        " required positional " + (missing.size() == 1 ? "argument" : "arguments") +
                        ": ";
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

// Returns the interned names of `description`, made on first use. Borrowed;
// never released. Each module function has one description, so the table
// has one entry per function.
const InternedParameters& interned_parameters(const FunctionDescription& description) {
  static InternedParameters table[kFunctionCount];
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
std::size_t parameter_index(const FunctionDescription& description, const InternedParameters& names,
                            PyObject* key) {
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

// Fills `borrowed_slots` from the positional tuple and the keyword dict (or
// null) with the interpreter's rules and messages. Returns the parser's
// `TypeError`, or nothing on success; no allocation of its own.
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

// ---------------------------------------------------------------------------
// Conversions

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
    method = PyRef(
        PyObject_CallFunctionObjArgs(getter.get(), method.get(), object, borrowed_type, nullptr));
    if (!method) return PyErr::fetch();
  } else {
    PyErr_Clear();
  }
  PyRef result(PyObject_CallObject(method.get(), nullptr));
  if (!result) return PyErr::fetch();
  if (Py_TYPE(result.get()) != &PyBool_Type) return PyErr::cast_error(result.get(), "bool");
  return result.get() == Py_True;
}

// A `str` (or subclass) as an owned UTF-8 copy written into `out`; a lone
// surrogate gives the interpreter's `UnicodeEncodeError`.
std::optional<PyErr> extract_owned_text(PyObject* object, OwnedText& out) {
  PyRef bytes;
  if (auto error = utf8_bytes(object, bytes)) return error;
  out.assign(bytes_view(bytes.get()));
  return std::nullopt;
}

}  // namespace

void OwnedText::assign(std::string_view bytes) {
  char* target = inline_;
  const std::size_t n = bytes.size();
  if (n - 4 <= 12) {
    // 4 to 16 bytes: four overlapping 4-byte copies cover every length with
    // no branch on it. A memcpy branches on its size, and a pair call, whose
    // two sizes vary from call to call, would pay for two of those guesses.
    const std::size_t step = n - 4 < 4 ? n - 4 : 4;
    for (const std::size_t at : {std::size_t{0}, step, n - 4 - step, n - 4}) {
      std::uint32_t word;
      std::memcpy(&word, bytes.data() + at, sizeof word);
      std::memcpy(target + at, &word, sizeof word);
    }
    data_ = target;
    size_ = n;
    return;
  }
  if (bytes.size() > kInlineBytes) {
    heap_.reset(new char[bytes.size()]);
    target = heap_.get();
  }
  if (!bytes.empty()) std::memcpy(target, bytes.data(), bytes.size());
  data_ = target;
  size_ = bytes.size();
}

PyResult<PyBackedStr> extract_text_view(PyObject* object) {
  PyRef bytes;
  if (auto error = utf8_bytes(object, bytes)) return std::move(*error);
  return PyBackedStr(std::move(bytes));
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

// ---------------------------------------------------------------------------
// Sequence intake

PyBackedStr::PyBackedStr(PyRef bytes) : bytes_(std::move(bytes)), view_(bytes_view(bytes_.get())) {}

void CandidateTexts::reserve(std::size_t count) {
  if (count <= view_capacity_) return;
  constexpr std::size_t kSlotBytes = sizeof(std::string_view) + kGuessedBytes;
  if (count > PTRDIFF_MAX / kSlotBytes) throw std::length_error("CandidateTexts::reserve");
  reallocate(count, std::max(text_capacity_, count * kGuessedBytes));
}

void CandidateTexts::grow(std::size_t bytes) {
  const std::size_t view_capacity =
      count_ < view_capacity_ ? view_capacity_ : std::max<std::size_t>(16, 2 * view_capacity_);
  if (view_capacity > PTRDIFF_MAX / sizeof(std::string_view)) {
    throw std::length_error("CandidateTexts::grow");
  }
  // The most text a block can hold next to the views.
  const std::size_t limit = PTRDIFF_MAX - view_capacity * sizeof(std::string_view);
  std::size_t text_capacity = text_capacity_;
  if (text_capacity - text_size_ < bytes) {
    const std::size_t needed = text_size_ + bytes;
    if (needed < bytes || needed > limit) throw std::length_error("CandidateTexts::grow");
    text_capacity = std::max(std::min(2 * text_capacity, limit), needed);
    // Once a few hundred texts are in, room for as many as the views can
    // take at their average length, and a quarter more, so that a batch of
    // long texts moves once; at most eight times the doubled room.
    if (count_ >= 256) {
      const std::size_t average = needed / count_ + 1;
      const std::size_t most = text_capacity > limit / 8 ? limit : 8 * text_capacity;
      if (average <= most / view_capacity) {
        const std::size_t projected = average * view_capacity;
        text_capacity = std::max(text_capacity, std::min(most, projected + projected / 4));
      }
    }
  }
  reallocate(view_capacity, text_capacity);
}

void CandidateTexts::reallocate(std::size_t view_capacity, std::size_t text_capacity) {
  if (view_capacity > (PTRDIFF_MAX - text_capacity) / sizeof(std::string_view)) {
    throw std::length_error("CandidateTexts::reallocate");
  }
  auto block = std::make_unique_for_overwrite<char[]>(view_capacity * sizeof(std::string_view) +
                                                      text_capacity);
  auto* views = reinterpret_cast<std::string_view*>(block.get());
  char* text = block.get() + view_capacity * sizeof(std::string_view);
  if (text_size_ != 0) std::memcpy(text, text_slots(), text_size_);
  const char* old_text = text_slots();
  const std::string_view* old_views = view_slots();
  for (std::size_t k = 0; k < count_; ++k) {
    new (views + k) std::string_view(text + (old_views[k].data() - old_text), old_views[k].size());
  }
  block_ = std::move(block);
  view_capacity_ = view_capacity;
  text_capacity_ = text_capacity;
}

namespace {

// Reserves room for `hint` texts when the hint is usable. A reported length
// is not trusted: one too large to reserve is ignored.
template <typename Texts>
void reserve_hint(Texts& texts, Py_ssize_t hint) {
  if (hint < 0) {
    PyErr_Clear();
    return;
  }
  try {
    texts.reserve(static_cast<std::size_t>(hint));
  } catch (const std::length_error&) {
  } catch (const std::bad_alloc&) {
  }
}

// Appends the UTF-8 form of `item` to `texts`, or gives the error that
// prevented it: a copy to `CandidateTexts` (its bytes object is released
// here), a view of its bytes object to a vector of `PyBackedStr`, an owned
// copy to a vector of strings.
template <typename Texts>
[[gnu::always_inline]] inline std::optional<PyErr> append_text(PyObject* item, Texts& texts) {
  PyRef bytes;
  if (auto error = utf8_bytes(item, bytes)) return error;
  if constexpr (std::is_same_v<Texts, CandidateTexts>) {
    texts.append(bytes_view(bytes.get()));
  } else if constexpr (std::is_same_v<Texts, std::vector<PyBackedStr>>) {
    texts.emplace_back(std::move(bytes));
  } else {
    texts.emplace_back(bytes_view(bytes.get()));
  }
  return std::nullopt;
}

template <typename Texts>
PyResult<Texts> extract_sequence(PyObject* object) {
  if (is_str(object)) return PyErr::new_message(PyExc_TypeError, "Can't extract `str` to `Vec`");
  if (PySequence_Check(object) == 0) return PyErr::cast_error(object, "Sequence");
  Texts texts;
  const bool list = Py_TYPE(object) == &PyList_Type;
  if (list || Py_TYPE(object) == &PyTuple_Type) {
    // An exact list or tuple is read by index, the elements its iterator
    // would give, without an iterator call and a reference per element. The
    // items stay in place: nothing below runs Python code (encoding a `str`
    // allocates only its bytes object) until a failure ends the loop.
    const Py_ssize_t size = list ? PyList_Size(object) : PyTuple_Size(object);
    reserve_hint(texts, size);
    for (Py_ssize_t i = 0; i < size; ++i) {
      PyObject* borrowed = list ? PyList_GetItem(object, i) : PyTuple_GetItem(object, i);
      if (auto error = append_text(borrowed, texts)) return std::move(*error);
    }
    return texts;
  }
  reserve_hint(texts, PyObject_Size(object));
  PyRef iterator(PyObject_GetIter(object));
  if (!iterator) return PyErr::fetch();
  while (PyRef item = PyRef(PyIter_Next(iterator.get()))) {
    if (auto error = append_text(item.get(), texts)) return std::move(*error);
  }
  if (PyErr_Occurred() != nullptr) return PyErr::fetch();
  return texts;
}
// `extract_sequence` with the argument note for `name` on failure.
template <typename Texts>
PyResult<Texts> extract_argument(PyObject* object, const char* name) {
  auto texts = extract_sequence<Texts>(object);
  if (!texts.ok()) return argument_extraction_error(name, std::move(texts.error()));
  return texts;
}

}  // namespace

// ---------------------------------------------------------------------------
// Arguments

Arguments::Arguments(const FunctionDescription& description, PyObject* args, PyObject* kwargs)
    : description_(description),
      error_(extract_arguments_tuple_dict(description, args, kwargs, borrowed_slots_)) {}

void Arguments::required_text(std::size_t index, OwnedText& out) {
  if (error_) return;
  if (auto error = extract_owned_text(borrowed_slots_[index], out)) fail(index, std::move(*error));
}

bool plain_pair_call(PyObject* args, PyObject* kwargs, OwnedText& str_1, OwnedText& str_2,
                     std::optional<bool>& case_insensitive) {
  if (PyTuple_Size(args) != 2) return false;
  if (kwargs != nullptr) {
    // The compiler interns the keywords written in a call, so the key is the
    // very object that `interned` holds.
    Py_ssize_t position = 0;
    PyObject* borrowed_key = nullptr;
    PyObject* borrowed_value = nullptr;
    if (PyDict_Size(kwargs) != 1 ||
        PyDict_Next(kwargs, &position, &borrowed_key, &borrowed_value) == 0 ||
        borrowed_key != interned(Name::kCaseInsensitive) ||
        Py_TYPE(borrowed_value) != &PyBool_Type) {
      return false;
    }
    case_insensitive = borrowed_value == Py_True;
  }
  PyObject* borrowed_1 = PyTuple_GetItem(args, 0);
  PyObject* borrowed_2 = PyTuple_GetItem(args, 1);
  if (Py_TYPE(borrowed_1) != &PyUnicode_Type || Py_TYPE(borrowed_2) != &PyUnicode_Type) {
    return false;
  }
  for (auto [borrowed, out] : {std::pair{borrowed_1, &str_1}, std::pair{borrowed_2, &str_2}}) {
    PyRef bytes(PyUnicode_AsUTF8String(borrowed));
    if (!bytes) {
      PyErr_Clear();
      return false;
    }
    out->assign(bytes_view(bytes.get()));
  }
  return true;
}

template <typename Texts>
Texts Arguments::sequence(std::size_t index) {
  if (error_) return {};
  auto result = extract_argument<Texts>(borrowed_slots_[index], description_.parameters[index]);
  if (result.ok()) return std::move(result.value());
  error_.emplace(std::move(result.error()));
  return {};
}
template CandidateTexts Arguments::sequence(std::size_t);
template std::vector<PyBackedStr> Arguments::sequence(std::size_t);
template std::vector<std::string> Arguments::sequence(std::size_t);

void Arguments::fail(std::size_t index, PyErr error) {
  error_.emplace(argument_extraction_error(description_.parameters[index], std::move(error)));
}

}  // namespace quillmatch_py
