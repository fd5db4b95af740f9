// A SIGBUS handler, installed at the first guarded copy, jumps back out of a copy that
// faulted. A SIGBUS outside a guarded copy goes to the handler that was there before, or
// ends the process as it would have.
#include "platform/guarded_copy.h"

#include <atomic>
#include <csetjmp>
#include <csignal>
#include <cstring>
#include <mutex>

namespace platform {
namespace {

// The copy under way on this thread; read by the handler.
thread_local sigjmp_buf* volatile tlsCopy = nullptr;
struct sigaction previous {};

void OnBus(int signal, siginfo_t* info, void* context) {
  if (sigjmp_buf* copy = tlsCopy) siglongjmp(*copy, 1);
  if (previous.sa_flags & SA_SIGINFO) {
    if (previous.sa_sigaction) previous.sa_sigaction(signal, info, context);
    return;
  }
  if (previous.sa_handler == SIG_IGN) return;
  if (previous.sa_handler != SIG_DFL) {
    previous.sa_handler(signal);
    return;
  }
  // The default action: once the handler returns, the faulting access runs again and
  // ends the process.
  std::signal(signal, SIG_DFL);
}

void Install() {
  static std::once_flag once;
  std::call_once(once, [] {
    struct sigaction action {};
    action.sa_sigaction = OnBus;
    action.sa_flags = SA_SIGINFO | SA_NODEFER;
    sigemptyset(&action.sa_mask);
    sigaction(SIGBUS, &action, &previous);
  });
}

// Apart so that nothing of the caller lives in registers across the jump.
__attribute__((noinline)) bool Copy(void* to, const void* from, size_t size) {
  sigjmp_buf jump;
  // The signal mask is not saved (that would cost a system call per copy): SA_NODEFER
  // keeps SIGBUS unblocked while the handler runs, so the jump leaves the mask as it was.
  if (sigsetjmp(jump, 0) != 0) {
    tlsCopy = nullptr;
    return false;
  }
  tlsCopy = &jump;
  // The copy stays between the two stores, which the compiler would otherwise be free to
  // move or merge.
  std::atomic_signal_fence(std::memory_order_seq_cst);
  std::memcpy(to, from, size);
  std::atomic_signal_fence(std::memory_order_seq_cst);
  tlsCopy = nullptr;
  return true;
}

}  // namespace

bool GuardedCopy(void* to, const void* from, size_t size) {
  if (size == 0) return true;
  static const bool installed = (Install(), true);
  (void)installed;
  return Copy(to, from, size);
}

}  // namespace platform
