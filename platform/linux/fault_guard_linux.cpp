#include "platform/fault_guard.h"

#include <signal.h>
#include <ucontext.h>

#include <atomic>
#include <csetjmp>

namespace platform {
namespace {

// The innermost guard of this thread; null outside every guard. Thread-local
// storage of the executable is a plain segment access, safe in a handler.
thread_local sigjmp_buf* t_recovery = nullptr;
// Whether this thread has SIGILL unblocked. A blocked mask is inherited across
// exec and by new threads, and a fault that arrives blocked kills the process
// without reaching the handler.
thread_local bool t_unblocked = false;
struct sigaction g_previous;

void on_illegal_instruction(int signal, siginfo_t* info, void* context) {
  sigjmp_buf* recovery = t_recovery;
  // si_code > 0: the processor raised it. A signal someone sent (kill, raise:
  // si_code <= 0) says nothing about this thread's instructions.
  if (recovery != nullptr && info->si_code > 0) {
    // Leaving the handler by a jump skips the mask restore of a normal return:
    // put back the mask the thread had when the fault came (saved with the
    // signal), or SIGILL could stay blocked, and a blocked fault kills. The
    // kernel blocks only SIGILL here, but a sanitizer's wrapper blocks all.
    pthread_sigmask(SIG_SETMASK, &static_cast<const ucontext_t*>(context)->uc_sigmask, nullptr);
    siglongjmp(*recovery, 1);
  }
  // Not ours: hand the signal back to what was there before (normally the
  // default, which ends the process). A fault re-executes the instruction on
  // return; a signal sent by someone must be raised again.
  sigaction(SIGILL, &g_previous, nullptr);
  if (info->si_code <= 0) raise(signal);
}

bool install_handler() {
  struct sigaction action = {};
  action.sa_sigaction = on_illegal_instruction;
  action.sa_flags = SA_SIGINFO;
  sigemptyset(&action.sa_mask);
  return sigaction(SIGILL, &action, &g_previous) == 0;
}

struct RestoreOuter {
  sigjmp_buf* outer;
  ~RestoreOuter() {
    std::atomic_signal_fence(std::memory_order_seq_cst);
    t_recovery = outer;
  }
};

}  // namespace

bool run_catching_illegal_instruction(void (*body)(void*), void* context) {
  // Installed once for the process and kept: the handler passes faults outside
  // every guard on, so unguarded code behaves as without it.
  static const bool installed = install_handler();
  if (!installed) {
    body(context);
    return true;
  }
  if (!t_unblocked) {
    sigset_t ill;
    sigemptyset(&ill);
    sigaddset(&ill, SIGILL);
    t_unblocked = pthread_sigmask(SIG_UNBLOCK, &ill, nullptr) == 0;
  }
  RestoreOuter restore{t_recovery};
  sigjmp_buf recovery;
  // No mask saved (a system call per guard); the handler restores it instead.
  if (sigsetjmp(recovery, 0) != 0) return false;
  t_recovery = &recovery;
  std::atomic_signal_fence(std::memory_order_seq_cst);
  body(context);
  return true;
}

}  // namespace platform
