#pragma once

namespace platform {

/// Runs `body(context)` on the calling thread. Returns true when it ran to its
/// end, false when the processor refused one of its instructions (an illegal
/// instruction); `body` is then abandoned where it stood, by a jump back into
/// this call that runs no destructor and no cleanup of the frames in between.
///
/// What a guarded call may hold: only the frames of plain functions over plain
/// data (numbers, pointers, records without destructors), such as a kernel
/// entry called through its function pointer. No object with a destructor may
/// live in `body` or in anything it calls (no std::vector, std::string,
/// OptError, lock, unique_ptr, no C++ method that may create one), and no lock
/// may be held: the jump would skip its release. Objects owned by the caller,
/// outside the guard, are untouched and are destroyed as usual. What `body` was
/// writing stays half-written, so the caller should give up on it.
///
/// Only a fault the processor raised is caught: an illegal-instruction signal
/// sent from outside (kill, raise) keeps its default action. Guards nest. An
/// illegal instruction outside every guard ends the process as it always has.
/// Cheap enough to wrap one kernel call: no system call per use.
[[nodiscard]] bool run_catching_illegal_instruction(void (*body)(void*), void* context);

}  // namespace platform
