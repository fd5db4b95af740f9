#include "platform/online.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "platform/time.h"

namespace platform {
namespace {

constexpr uint32_t kReuseMs = 10000;

using GetConnectedStateFn = BOOL(WINAPI*)(DWORD*, DWORD);

CRITICAL_SECTION* Lock() {
  static CRITICAL_SECTION* lock = [] {
    auto* cs = new CRITICAL_SECTION;
    InitializeCriticalSection(cs);
    return cs;
  }();
  return lock;
}

bool g_asked = false;
bool g_connected = false;
uint32_t g_askedAt = 0;

int Override() {
  const char* value = std::getenv("KESTRELON_ONLINE");
  if (value == nullptr) return -1;
  if (std::strcmp(value, "0") == 0) return 0;
  if (std::strcmp(value, "1") == 0) return 1;
  return -1;
}

// InternetGetConnectedState of WinINet, loaded once by name and kept for the process.
GetConnectedStateFn ConnectedStateEntry() {
  static GetConnectedStateFn entry = [] {
    HMODULE module = LoadLibraryA("wininet");
    if (module == nullptr) return GetConnectedStateFn(nullptr);
    return reinterpret_cast<GetConnectedStateFn>(
        reinterpret_cast<void*>(GetProcAddress(module, "InternetGetConnectedState")));
  }();
  return entry;
}

}  // namespace

bool IsConnected() {
  int forced = Override();
  if (forced >= 0) return forced == 1;
  GetConnectedStateFn entry = ConnectedStateEntry();
  if (entry == nullptr) return false;
  DWORD flags = 0;
  return entry(&flags, 0) == TRUE;
}

bool IsConnectedCached() {
  int forced = Override();
  if (forced >= 0) return forced == 1;
  EnterCriticalSection(Lock());
  uint32_t now = TickCount();
  if (!g_asked || TicksBetween(g_askedAt, now) > kReuseMs) {
    g_connected = IsConnected();
    g_askedAt = now;
    g_asked = true;
  }
  bool connected = g_connected;
  LeaveCriticalSection(Lock());
  return connected;
}

void ResetConnectedCache() {
  EnterCriticalSection(Lock());
  g_asked = false;
  LeaveCriticalSection(Lock());
}

}  // namespace platform
