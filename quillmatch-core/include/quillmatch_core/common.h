// Shared vocabulary of the matching core: the one error type, results that
// carry either a value or that error, and the fault raised for broken
// invariants.
//
// The core reports every expected failure as a value. The only thing it ever
// throws is `InternalFault` (an invariant that cannot fail for any input did
// fail, or a table would exceed the address space) and `std::bad_alloc`.
#ifndef QUILLMATCH_CORE_COMMON_H_
#define QUILLMATCH_CORE_COMMON_H_

#include <cstddef>
#include <stdexcept>
#include <string>
#include <utility>
#include <variant>

namespace quillmatch_core {

// An input longer than the caller's `max_len`, in characters after any
// lower-casing. `which` is "str_1" or "str_2".
struct InputTooLong {
  const char* which;
  std::size_t len;
  std::size_t limit;
};

// A Jaro-Winkler prefix scale outside [0, 0.25] (NaN included), as given.
struct InvalidPrefixScale {
  double value;
};

// The core's one error type. Owns no memory.
class MatchError {
 public:
  // NOLINTBEGIN(google-explicit-constructor): each error converts to the variant that holds it
  MatchError(InputTooLong error) : error_(error) {}
  MatchError(InvalidPrefixScale error) : error_(error) {}
  // NOLINTEND(google-explicit-constructor)

  const InputTooLong* input_too_long() const { return std::get_if<InputTooLong>(&error_); }
  const InvalidPrefixScale* invalid_prefix_scale() const {
    return std::get_if<InvalidPrefixScale>(&error_);
  }

  // Returns the debug text, for example
  // `InputTooLong { which: "str_1", len: 12, limit: 10 }` or
  // `InvalidPrefixScale { value: 0.3 }`.
  std::string debug_text() const;

 private:
  std::variant<InputTooLong, InvalidPrefixScale> error_;
};

// Either a value or a `MatchError`.
template <typename T>
class Result {
 public:
  // NOLINTBEGIN(google-explicit-constructor): a function returns its value or its error as is
  Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}
  Result(MatchError error) : state_(std::in_place_index<1>, error) {}
  Result(InputTooLong error) : state_(std::in_place_index<1>, error) {}
  Result(InvalidPrefixScale error) : state_(std::in_place_index<1>, error) {}
  // NOLINTEND(google-explicit-constructor)

  bool ok() const { return state_.index() == 0; }
  explicit operator bool() const { return ok(); }

  const T& value() const& { return std::get<0>(state_); }
  T& value() & { return std::get<0>(state_); }
  T&& value() && { return std::get<0>(std::move(state_)); }
  const MatchError& error() const { return std::get<1>(state_); }

 private:
  std::variant<T, MatchError> state_;
};

// An internal fault: a check that no input can fail has failed, or a
// requested table is larger than the largest single allocation ("capacity
// overflow"). Callers turn it into their own fault report; it is never an
// expected outcome.
class InternalFault : public std::logic_error {
 public:
  using std::logic_error::logic_error;
};

// Throws `InternalFault` with `message`. Out of line so that hot paths keep
// only the call.
[[noreturn]] void internal_fault(const char* message);

// Returns `value` in the shortest form that reads back as the same double:
// "NaN", "inf", "-inf", "0.1", "1.0", "-0.0", "12345678.5", "1e20", "-1e-5".
// Exponent form is used from 1e16 upwards and below 1e-4 (zero excepted).
std::string format_shortest(double value);

}  // namespace quillmatch_core

#endif  // QUILLMATCH_CORE_COMMON_H_
