// What the module's function bodies use from the call frame: owned
// references, the lazy error value `PyErr`, the arguments of a call and their
// conversions, the result builders and the lock release.
//
// Everything here uses the stable (limited) C API only. Every function runs
// with the interpreter lock held unless its comment says otherwise.
#ifndef QUILLMATCH_PY_FRAME_H_
#define QUILLMATCH_PY_FRAME_H_

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstddef>
#include <cstring>  // std::memcpy
#include <memory>
#include <new>  // placement new
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace quillmatch_core {
class MatchError;
}

namespace quillmatch_py {

// One owned reference; the destructor gives it back with `Py_DecRef`.
class PyRef {
 public:
  PyRef() noexcept = default;
  explicit PyRef(PyObject* owned) noexcept : object_(owned) {}
  PyRef(PyRef&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
  PyRef& operator=(PyRef&& other) noexcept {
    std::swap(object_, other.object_);
    return *this;
  }
  PyRef(const PyRef&) = delete;
  PyRef& operator=(const PyRef&) = delete;
  ~PyRef() {
    if (object_ != nullptr) Py_DecRef(object_);
  }

  // Returns a new owned reference to `borrowed`.
  static PyRef from_borrowed(PyObject* borrowed) noexcept {
    Py_IncRef(borrowed);
    return PyRef(borrowed);
  }

  PyObject* get() const noexcept { return object_; }
  // Hands the reference to the caller, who becomes responsible for it.
  PyObject* release() noexcept { return std::exchange(object_, nullptr); }
  explicit operator bool() const noexcept { return object_ != nullptr; }

 private:
  PyObject* object_ = nullptr;
};

// An exception not yet raised. It is built cheaply on the failure path and
// becomes the interpreter's current exception only in `trampoline` (or in the
// module's execution slot), through `restore`.
class PyErr {
 public:
  // `type` must live for the process (a built-in exception class or
  // `PanicException`); the message is UTF-8 and becomes a `str` only when raised.
  static PyErr new_message(PyObject* type, std::string message);
  // `TypeError` "'{}' object is not an instance of '{}'" for `object`, or
  // "'None' is not an instance of '{}'"; composed when raised.
  static PyErr cast_error(PyObject* object, const char* required_type);
  // Takes the interpreter's pending exception (a `SystemError` if none is).
  static PyErr fetch();

  // Returns the exception object, creating it first if the error is still a
  // type and a message. Borrowed: it belongs to this `PyErr`.
  PyObject* exception_object();
  // Makes the error the interpreter's current exception.
  void restore() &&;

 private:
  PyErr() = default;
  void make_concrete();

  // Exactly one form is in use: a type plus `message_`, a cast error
  // (`cast_object_` plus `required_type_`), or a fetched exception
  // (`type_`, `value_`, `traceback_`).
  PyObject* message_type_ = nullptr;  // borrowed, lives for the process
  std::string message_;
  PyRef cast_object_;
  const char* required_type_ = nullptr;
  PyRef type_, value_, traceback_;
};

// A value of type T or the `PyErr` that prevented it.
template <typename T>
class PyResult {
 public:
  // Implicit, so that a body gives either with a plain `return`.
  // NOLINTBEGIN(google-explicit-constructor): implicit on purpose, as said above
  PyResult(T value) : state_(std::in_place_index<0>, std::move(value)) {}
  PyResult(PyErr error) : state_(std::in_place_index<1>, std::move(error)) {}
  // NOLINTEND(google-explicit-constructor)

  bool ok() const { return state_.index() == 0; }
  T& value() { return std::get<0>(state_); }
  PyErr& error() { return std::get<1>(state_); }

 private:
  std::variant<T, PyErr> state_;
};

// The static parameter list of one module function. Every parameter may be
// passed by position or by keyword; the first `required` ones must be given.
struct FunctionDescription {
  const char* name;  // "levenshtein_bp"; messages say "levenshtein_bp()"
  std::span<const char* const> parameters;
  std::size_t required;
};

inline constexpr std::size_t kMaxParameters = 6;

// One borrowed reference (or null) per parameter, filled by the parser; the
// caller's tuple and dict keep the objects alive for the call.
using ArgumentSlots = PyObject* [kMaxParameters];

// A `str` seen through its UTF-8 `bytes` object, which it keeps alive: the
// view may be read without the interpreter lock while this object lives. It
// must be destroyed with the lock held.
class PyBackedStr {
 public:
  PyBackedStr() = default;
  explicit PyBackedStr(PyRef bytes);
  std::string_view view() const { return view_; }

 private:
  PyRef bytes_;
  std::string_view view_;
};

// The candidates of a batch: the UTF-8 bytes of each, copied out of the
// `bytes` object the interpreter encodes it to, which is released at once,
// and a plain view (pointer, byte length) of every copy, in candidate order.
//
// Copies, not views of the `bytes` objects: a batch that kept every
// candidate's object until the core was done held tens of thousands of small
// objects at once, and freeing them all emptied the interpreter's allocator
// arenas, which it hands back to the system; the next batch then faulted
// megabytes of pages in afresh, about 10 ns per candidate of a 100,000-word
// list. Released one by one, the objects reuse the same few blocks, and the
// copies cost less than the faults.
//
// The views and, after them, the copies share one heap block. glibc gives
// the free top of its heap back to the system once it exceeds twice the
// largest block recently freed; the block is most of what a batch allocates
// (with the result vector and the list), so repeated batches reuse the same
// pages. Holds no Python object: it may be read and freed without the lock.
class CandidateTexts {
 public:
  CandidateTexts() = default;
  CandidateTexts(CandidateTexts&& other) noexcept { *this = std::move(other); }
  CandidateTexts& operator=(CandidateTexts&& other) noexcept {
    block_ = std::move(other.block_);
    count_ = std::exchange(other.count_, 0);
    view_capacity_ = std::exchange(other.view_capacity_, 0);
    text_size_ = std::exchange(other.text_size_, 0);
    text_capacity_ = std::exchange(other.text_capacity_, 0);
    return *this;
  }

  // Makes room for `count` candidates, guessing their length; throws as
  // `std::vector::reserve`.
  void reserve(std::size_t count);
  // Appends a copy of the candidate whose UTF-8 form is `utf8`.
  void append(std::string_view utf8) {
    if (count_ == view_capacity_ || text_capacity_ - text_size_ < utf8.size()) grow(utf8.size());
    char* copy = text_slots() + text_size_;
    // An empty text copies nothing.
    if (!utf8.empty()) std::memcpy(copy, utf8.data(), utf8.size());
    new (view_slots() + count_) std::string_view(copy, utf8.size());
    ++count_;
    text_size_ += utf8.size();
  }
  std::size_t size() const { return count_; }
  // The views of the copies, valid while this object lives unchanged.
  std::span<const std::string_view> views() const { return {view_slots(), count_}; }

 private:
  // The text bytes reserved per candidate before any is seen: a little more
  // than a word.
  static constexpr std::size_t kGuessedBytes = 16;

  std::string_view* view_slots() const { return reinterpret_cast<std::string_view*>(block_.get()); }
  char* text_slots() const { return block_.get() + view_capacity_ * sizeof(std::string_view); }
  // Moves everything to a block with room for one more candidate of `bytes`.
  void grow(std::size_t bytes);
  // Moves everything to a block of the given capacities, which must hold it.
  void reallocate(std::size_t view_capacity, std::size_t text_capacity);

  std::unique_ptr<char[]> block_;  // the views, then the texts
  std::size_t count_ = 0;
  std::size_t view_capacity_ = 0;
  std::size_t text_size_ = 0;
  std::size_t text_capacity_ = 0;
};

// An owned UTF-8 copy of a text argument. Texts of up to `kInlineBytes`
// bytes live in the object itself, longer ones in one heap block, so a pair
// call on short strings allocates nothing for its copies. Neither copied nor
// moved: it is written in place.
class OwnedText {
 public:
  static constexpr std::size_t kInlineBytes = 1024;

  OwnedText() = default;
  OwnedText(const OwnedText&) = delete;
  OwnedText& operator=(const OwnedText&) = delete;

  // Replaces the contents with a copy of `bytes`.
  void assign(std::string_view bytes);
  std::string_view view() const { return {data_, size_}; }
  // Implicit so that the copy goes straight to the core's string_view
  // parameters, like the strings it replaces.
  // NOLINTNEXTLINE(google-explicit-constructor): implicit on purpose, as said above
  operator std::string_view() const { return view(); }

 private:
  const char* data_ = inline_;
  std::size_t size_ = 0;
  std::unique_ptr<char[]> heap_;
  char inline_[kInlineBytes];
};

// Conversions of one argument, handed to `Arguments`. Each takes a borrowed
// object other than `None` and gives the value or the `PyErr`, without the
// argument note.

// A `str` (or subclass) as a `PyBackedStr`, without copying the UTF-8 bytes;
// a lone surrogate gives the interpreter's `UnicodeEncodeError`.
PyResult<PyBackedStr> extract_text_view(PyObject* object);
// An `int`, `bool` or object with `__index__` as a machine word; negative or
// wider values give `OverflowError`.
PyResult<std::size_t> extract_uint(PyObject* object);
// Exactly `bool`, or numpy's boolean scalar through its `__bool__`.
PyResult<bool> extract_flag(PyObject* object);
// A `float`, `int` or object with `__float__` or `__index__`, as
// `PyFloat_AsDouble` takes it; NaN and infinities pass unchanged.
PyResult<double> extract_real(PyObject* object);

// `ValueError` whose only argument is the debug text of `error`.
PyErr value_error_from_match_error(const quillmatch_core::MatchError& error);

// The arguments of one call: parsed against `description` on construction,
// then converted strictly in parameter order by the accessors. After the
// first failure (which carries the argument note) no later parameter is
// examined and the accessors give empty values; `failed` tells, and
// `take_error` hands the failure on.
class Arguments {
 public:
  Arguments(const FunctionDescription& description, PyObject* args, PyObject* kwargs);

  // A required parameter, converted by `extract`.
  template <typename T>
  T required(std::size_t index, PyResult<T> (*extract)(PyObject*)) {
    if (error_) return T();
    return take(index, extract(borrowed_slots_[index]));
  }

  // A required `str` parameter as an owned UTF-8 copy written into `out`.
  void required_text(std::size_t index, OwnedText& out);

  // An optional parameter, converted by `extract`; empty or `None` is absent
  // and is not converted.
  template <typename T>
  std::optional<T> optional(std::size_t index, PyResult<T> (*extract)(PyObject*)) {
    PyObject* borrowed = borrowed_slots_[index];
    if (error_ || borrowed == nullptr || borrowed == Py_None) return std::nullopt;
    return take(index, extract(borrowed));
  }

  // A required sequence of `str` (never a `str` itself), taken in element by
  // element as `CandidateTexts`, as a vector of `PyBackedStr` or as a vector
  // of owned `std::string` copies; the sequence's length is only a
  // reservation hint. Defined in arguments.cpp for those three.
  template <typename Texts>
  Texts sequence(std::size_t index);

  bool failed() const { return error_.has_value(); }
  PyErr take_error() { return std::move(*error_); }

 private:
  template <typename T>
  T take(std::size_t index, PyResult<T> result) {
    if (result.ok()) return std::move(result.value());
    fail(index, std::move(result.error()));
    return T();
  }

  // Keeps `error` for parameter `index`, with its argument note.
  void fail(std::size_t index, PyErr error);

  const FunctionDescription& description_;
  ArgumentSlots borrowed_slots_ = {};
  std::optional<PyErr> error_;
};

// The common pair calls: two exact `str` by position, with no keyword or
// with just `case_insensitive` as a `bool`. Writes the texts' owned UTF-8
// copies to `str_1` and `str_2` and the flag, when given, to
// `case_insensitive`, and returns true. Returns false for any other call,
// and for texts the encoder refuses, with no exception pending: `Arguments`
// then takes the call from the start and raises what it raises. Spares such
// calls the parser's slots, notes and option checks, about a hundred
// instructions of a short pair's call, and more with the keyword.
bool plain_pair_call(PyObject* args, PyObject* kwargs, OwnedText& str_1, OwnedText& str_2,
                     std::optional<bool>& case_insensitive);

// Results. A null from the interpreter's constructor is an internal fault.
PyRef new_int(unsigned long long value);
PyRef new_float(double value);
PyRef new_int_list(std::span<const std::size_t> values);
PyRef new_float_list(std::span<const double> values);

// Gives up the interpreter lock for the scope's lifetime when `release` is
// true, and takes it back on every exit path, exceptions included. No Python
// object may be touched inside the scope.
class UnlockedScope {
 public:
  explicit UnlockedScope(bool release) : saved_(release ? PyEval_SaveThread() : nullptr) {}
  ~UnlockedScope() {
    if (saved_ != nullptr) PyEval_RestoreThread(saved_);
  }
  UnlockedScope(const UnlockedScope&) = delete;
  UnlockedScope& operator=(const UnlockedScope&) = delete;

 private:
  PyThreadState* saved_;
};

}  // namespace quillmatch_py

#endif  // QUILLMATCH_PY_FRAME_H_
