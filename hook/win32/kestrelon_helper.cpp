#include "hook/win32/kestrelon_helper.h"

#include <cstring>

#include "hook/win32/session_hook_slot.h"

namespace {

// The current hook handle, one for all processes of the user's session that have this
// library loaded: the starter sets it, the mail client's process replaces it by a hook on
// its own thread, and whoever calls DeleteHook removes what it names. A handle shared by
// the whole machine would let the starters of two logged-on users overwrite each other's.
hook::SessionHookSlot sessionHook;

HMODULE thisModule = nullptr;

// Kestrelon.dll's entry point, as last looked up in this process.
using AttachFunction = LONG_PTR(WINAPI*)(HWND);
AttachFunction attachPlugin = nullptr;

constexpr char kClientMainWindowClass[] = "Outlook Express Browser Class";
constexpr size_t kClientClassLength = sizeof kClientMainWindowClass - 1;

// The class name is read into a 30-byte buffer, so a longer name that starts with the
// client's class name qualifies too; the plug-in makes the exact test itself.
bool IsClientMainWindow(HWND window) {
  char name[kClientClassLength + 1] = {};
  GetClassNameA(window, name, sizeof name);
  return std::strlen(name) == kClientClassLength && std::memcmp(name, kClientMainWindowClass, kClientClassLength) == 0;
}

// Where Windows cannot load this library into a window's process (one of the other
// bitness on 64-bit Windows), it runs the hook in the process that set it, the starter.
// The plug-in belongs only in the window's own process.
bool OwnedByThisProcess(HWND window) {
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  return process == GetCurrentProcessId();
}

bool RunningOnWindows9x() {
  OSVERSIONINFOA version{};
  version.dwOSVersionInfoSize = sizeof version;
  GetVersionExA(&version);
  return version.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS;
}

// Once the plug-in lives in the client's process, only that thread's windows matter: the
// system-wide hook gives way to a hook on the client's user-interface thread, so the
// library is no longer loaded into every other program.
void NarrowToCurrentThread() {
  DeleteHook();
  sessionHook.Store(SetWindowsHookExA(WH_CBT, CBTHookProc, thisModule, GetCurrentThreadId()));
}

void OfferToPlugin(HWND window) {
  if (!OwnedByThisProcess(window) || !IsClientMainWindow(window) || GetPropA(window, "OrigProc")) return;
  // Bare file name: the client process's own library search finds the installed plug-in.
  // When it is missing nothing is marked, so a later activation tries again.
  HMODULE plugin = LoadLibraryA("Kestrelon.dll");
  if (!plugin) return;
  attachPlugin = reinterpret_cast<AttachFunction>(
      reinterpret_cast<void*>(GetProcAddress(plugin, "AttachOutlookExpressPlugin")));
  if (attachPlugin) attachPlugin(window);
  if (!RunningOnWindows9x()) NarrowToCurrentThread();
}

}  // namespace

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    thisModule = instance;
    DisableThreadLibraryCalls(instance);
  }
  return TRUE;
}

LRESULT CALLBACK CBTHookProc(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HCBT_ACTIVATE) OfferToPlugin(reinterpret_cast<HWND>(wParam));
  return CallNextHookEx(sessionHook.Load(), code, wParam, lParam);
}

BOOL WINAPI DeleteHook() {
  HHOOK current = sessionHook.Load();
  if (!current) return 0;
  BOOL result = UnhookWindowsHookEx(current);
  sessionHook.Store(nullptr);
  return result;
}

HHOOK WINAPI SetHook() {
  HHOOK hook = SetWindowsHookExA(WH_CBT, CBTHookProc, thisModule, 0);
  sessionHook.Store(hook);
  return hook;
}

}  // extern "C"
