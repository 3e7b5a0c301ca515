#pragma once

// Calls into the per-instruction-set units under the illegal-instruction guard.
// Baseline units only: the kernel is reached through its table's pointer, so
// no code of its instruction set is inlined here.

#include <tuple>
#include <type_traits>

#include "platform/fault_guard.h"

namespace solver {

/// Calls `kernel(args...)` under the illegal-instruction guard and stores its
/// answer in `result`. False when the processor refused one of the kernel's
/// instructions; `result` is then unchanged and what the kernel was writing is
/// half-written. The guarded frames hold only the kernel's plain arguments.
template <class R, class... Args>
[[nodiscard]] bool call_guarded(R& result, R (*kernel)(Args...), std::type_identity_t<Args>... args) {
  static_assert(std::is_trivially_destructible_v<R> && (std::is_trivially_destructible_v<Args> && ...),
                "a guarded call may only pass plain values: the guard's jump runs no destructor");
  struct Call {
    R (*kernel)(Args...);
    std::tuple<Args...> args;
    R answer;
  };
  Call call{kernel, std::tuple<Args...>(args...), R{}};
  const bool ran = platform::run_catching_illegal_instruction(
      [](void* c) {
        Call& call = *static_cast<Call*>(c);
        call.answer = std::apply(call.kernel, call.args);
      },
      &call);
  if (ran) result = call.answer;
  return ran;
}

}  // namespace solver
