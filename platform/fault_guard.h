#pragma once

#include <type_traits>

namespace platform {

/// Runs `body(context)` on the calling thread. Returns true when it ran to its
/// end, false when the processor refused one of its instructions (an illegal
/// instruction); `body` is then abandoned where it stood: objects it had
/// created are not destroyed and what it was writing stays half-written, so
/// the caller should give up on whatever `body` worked on. Guards nest. An
/// illegal instruction outside every guard ends the process as it always has.
/// Cheap enough to wrap one call per loop iteration: no system call per use.
[[nodiscard]] bool run_catching_illegal_instruction(void (*body)(void*), void* context);

/// The same for any callable.
template <class F>
[[nodiscard]] bool run_catching_illegal_instruction(F&& body) {
  using Body = std::remove_reference_t<F>;
  return run_catching_illegal_instruction([](void* f) { (*static_cast<Body*>(f))(); },
                                          const_cast<void*>(static_cast<const void*>(&body)));
}

}  // namespace platform
