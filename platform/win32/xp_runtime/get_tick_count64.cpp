// Lets binaries built with the toolchain's static thread library load on Windows XP.
//
// That library (behind std::thread, std::mutex and std::condition_variable) calls
// GetTickCount64, which kernel32 has only since Vista; an import of it keeps a DLL from
// loading on XP at all. This file defines the import slot itself, so the linker takes it
// instead of kernel32's, and points it at a function that uses the system's
// GetTickCount64 where there is one and otherwise extends the 32-bit tick count across
// its wrap-arounds. It is linked as an object file into every Windows binary: from an
// archive it would come too late to win over kernel32's import library.
#include <windows.h>

#include <cstdint>

#include "platform/win32/xp_runtime/extended_tick_count.h"

namespace {

using TickCount64Function = ULONGLONG(WINAPI*)();

// Updated as one 64-bit word, so concurrent callers never see a torn pair.
uint64_t extended_count_state = 0;

ULONGLONG ExtendedTickCount() {
  uint64_t seen = __atomic_load_n(&extended_count_state, __ATOMIC_ACQUIRE);
  for (;;) {
    // Read after the state, so never older than the count it holds.
    uint64_t next = platform::NextExtendedTickCount(seen, GetTickCount());
    if (__atomic_compare_exchange_n(&extended_count_state, &seen, next, false, __ATOMIC_ACQ_REL,
                                    __ATOMIC_ACQUIRE))
      return next;
  }
}

// The system's function once looked up: null before the lookup, this fallback when there is
// none. No function-local static: its initialisation guard runs on the thread library.
ULONGLONG WINAPI FallbackTickCount64() { return ExtendedTickCount(); }
TickCount64Function resolved_function = nullptr;

ULONGLONG WINAPI TickCount64() {
  TickCount64Function f = __atomic_load_n(&resolved_function, __ATOMIC_ACQUIRE);
  if (!f) {
    HMODULE kernel32 = GetModuleHandleA("kernel32.dll");
    FARPROC found = kernel32 ? GetProcAddress(kernel32, "GetTickCount64") : nullptr;
    f = found ? reinterpret_cast<TickCount64Function>(reinterpret_cast<void*>(found)) : FallbackTickCount64;
    __atomic_store_n(&resolved_function, f, __ATOMIC_RELEASE);
  }
  return f();
}

}  // namespace

// The import slot under the name the compiler gives it on each architecture.
#ifdef _WIN64
extern "C" TickCount64Function tick_count64_slot __asm__("__imp_GetTickCount64");
#else
extern "C" TickCount64Function tick_count64_slot __asm__("__imp__GetTickCount64@0");
#endif
TickCount64Function tick_count64_slot = TickCount64;
