// A test-only hook: in a build configured with QUILLMATCH_FAULT_INJECTION, an
// input that starts with a trigger text makes the core throw, so that tests
// can watch an internal fault cross the module's boundary (from a pair call,
// and from the lock-free stretch of a batch). In every other build the hook
// is an empty inline function and no trigger text exists in the binary.
#ifndef QUILLMATCH_CORE_SRC_FAULT_INJECTION_H_
#define QUILLMATCH_CORE_SRC_FAULT_INJECTION_H_

#include <string_view>

#ifdef QUILLMATCH_FAULT_INJECTION
#include <string>

#include "quillmatch_core/common.h"
#endif

namespace quillmatch_core::detail {

#ifdef QUILLMATCH_FAULT_INJECTION
// U+2407 SYMBOL FOR BELL, then a keyword. Non-ASCII on purpose: a batch hands
// such a candidate to its pair function, which prepares it.
// Each trigger on one line: the literal is split only to end the escape, and
// clang-format would put each piece on a line of its own.
// clang-format off
inline constexpr std::string_view kFaultTrigger = "\xE2\x90\x87" "fault:";
inline constexpr std::string_view kOpaqueFaultTrigger = "\xE2\x90\x87" "opaque-fault";
// clang-format on

// Throws `InternalFault` carrying the rest of `text` after "fault:", or an
// exception that carries no message at all after "opaque-fault".
inline void inject_fault(std::string_view text) {
  if (text.starts_with(kFaultTrigger)) {
    const std::string message(text.substr(kFaultTrigger.size()));
    internal_fault(message.c_str());
  }
  // NOLINTNEXTLINE(hicpp-exception-baseclass): an int on purpose, so it carries no message
  if (text.starts_with(kOpaqueFaultTrigger)) throw 42;
}
#else
inline void inject_fault(std::string_view /*text*/) {}
#endif

}  // namespace quillmatch_core::detail

#endif  // QUILLMATCH_CORE_SRC_FAULT_INJECTION_H_
