#include <windows.h>

#include "platform/fault_guard.h"

namespace platform {
namespace {

// The compiler's own setjmp: frame, resume address and stack pointer. Its
// longjmp only reloads them and jumps, with no unwinding through frames that
// the fault left without a proper return address. A function that holds a
// receiver saves every callee-saved register (xmm6 to xmm15 included) in its
// prologue, so the caller finds them intact after a jump.
struct Recovery {
  void* jump[5];
  void* outer;  // the enclosing guard; in memory, which the jump leaves intact
};

// The innermost guard of each thread, in a system slot: TlsGetValue is safe in
// an exception handler, where the compiler's emulated thread_local could
// allocate on first touch.
DWORD g_slot = TLS_OUT_OF_INDEXES;

[[noreturn]] __attribute__((noinline)) void resume_at_guard(Recovery* recovery) {
  __builtin_longjmp(recovery->jump, 1);
}

LONG CALLBACK on_exception(EXCEPTION_POINTERS* e) {
  if (e->ExceptionRecord->ExceptionCode != EXCEPTION_ILLEGAL_INSTRUCTION) return EXCEPTION_CONTINUE_SEARCH;
  auto* recovery = static_cast<Recovery*>(TlsGetValue(g_slot));
  if (recovery == nullptr) return EXCEPTION_CONTINUE_SEARCH;
  // Let the dispatcher finish normally and continue in resume_at_guard as if
  // the faulting code had called it: below the fault's stack with room to
  // spare, aligned as at a function entry.
  CONTEXT* c = e->ContextRecord;
  c->Rsp = ((c->Rsp - 256) & ~DWORD64{15}) - 8;
  c->Rcx = reinterpret_cast<DWORD64>(recovery);
  c->Rip = reinterpret_cast<DWORD64>(&resume_at_guard);
  return EXCEPTION_CONTINUE_EXECUTION;
}

bool install_handler() {
  g_slot = TlsAlloc();
  if (g_slot == TLS_OUT_OF_INDEXES) return false;
  // Called before any frame-based handler, so a guarded fault never reaches the
  // unhandled-exception path and its error report dialog.
  return AddVectoredExceptionHandler(1, on_exception) != nullptr;
}

}  // namespace

bool run_catching_illegal_instruction(void (*body)(void*), void* context) {
  // Installed once for the process and kept: faults outside every guard pass
  // on to the usual handling.
  static const bool installed = install_handler();
  if (!installed) {
    body(context);
    return true;
  }
  Recovery recovery;
  recovery.outer = TlsGetValue(g_slot);
  if (__builtin_setjmp(recovery.jump) != 0) {
    TlsSetValue(g_slot, recovery.outer);
    return false;
  }
  TlsSetValue(g_slot, &recovery);
  body(context);
  TlsSetValue(g_slot, recovery.outer);
  return true;
}

}  // namespace platform
