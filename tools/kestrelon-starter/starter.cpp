#include "tools/kestrelon-starter/starter.h"

#include "hook/win32/helper_library.h"
#include "hook/win32/session_hook_slot.h"

namespace starter {
namespace {

constexpr char kInstanceMutex[] = "KestrelonStarter";
constexpr char kClientMainWindowClass[] = "Outlook Express Browser Class";
constexpr UINT_PTR kRearmTimer = 1;
constexpr UINT kRearmInterval = 1000;
constexpr DWORD kStopWait = 15000;

// The hook loader, loaded from the starter's own folder for the starter's whole life.
const hook::HelperLibrary* helper = nullptr;
// The hook the loader holds for this session.
const hook::SessionHookSlot* sessionHook = nullptr;
// The system-wide hook this starter set last.
HHOOK armedHook = nullptr;

bool Arm() {
  armedHook = helper->SetHook();
  return armedHook != nullptr;
}

// The mail client's first attach replaces the system-wide hook by a hook on its own
// thread, which ends with the client. Once no client main window is left, the
// system-wide hook is set again, so that the next start of the client gets the plug-in.
void RearmWhenClientGone() {
  if (sessionHook->Load() == armedHook) return;
  if (FindWindowA(kClientMainWindowClass, nullptr)) return;
  helper->DeleteHook();
  Arm();
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_TIMER:
      if (wParam == kRearmTimer) RearmWhenClientGone();
      return 0;
    case WM_QUERYENDSESSION:
      return TRUE;
    case WM_ENDSESSION:
      // The session ends: the process may be ended as soon as this returns.
      if (wParam) {
        helper->DeleteHook();
        DestroyWindow(window);
      }
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcA(window, message, wParam, lParam);
  }
}

}  // namespace

int RunStarter(HINSTANCE instance) {
  HANDLE oneInstance = CreateMutexA(nullptr, FALSE, kInstanceMutex);
  if (oneInstance && GetLastError() == ERROR_ALREADY_EXISTS) {
    CloseHandle(oneInstance);
    return kDone;
  }
  hook::HelperLibrary library(hook::ProgramFolder());
  helper = &library;
  hook::SessionHookSlot slot;
  sessionHook = &slot;
  WNDCLASSA wc{};
  wc.lpfnWndProc = WindowProc;
  wc.hInstance = instance;
  wc.lpszClassName = kWindowClass;
  // A top-level window that is never shown: unlike a message-only window it is told
  // when the session ends.
  HWND window = RegisterClassA(&wc)
                    ? CreateWindowExA(WS_EX_TOOLWINDOW, kWindowClass, "Kestrelon", WS_POPUP, 0, 0, 0, 0, nullptr,
                                      nullptr, instance, nullptr)
                    : nullptr;
  if (!window || !library.Loaded() || !Arm()) {
    if (window) DestroyWindow(window);
    if (oneInstance) CloseHandle(oneInstance);
    return kHookFailed;
  }
  SetTimer(window, kRearmTimer, kRearmInterval, nullptr);
  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  library.DeleteHook();
  if (oneInstance) CloseHandle(oneInstance);
  return kDone;
}

int StopRunningStarter() {
  HWND window = FindWindowA(kWindowClass, nullptr);
  if (!window) return kDone;
  DWORD processId = 0;
  GetWindowThreadProcessId(window, &processId);
  HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, processId);
  PostMessageA(window, WM_CLOSE, 0, 0);
  bool ended;
  if (process) {
    ended = WaitForSingleObject(process, kStopWait) == WAIT_OBJECT_0;
    CloseHandle(process);
  } else {
    // Without the right to wait for the process, wait for its window to go.
    DWORD waited = 0;
    while (IsWindow(window) && waited < kStopWait) {
      Sleep(100);
      waited += 100;
    }
    ended = !IsWindow(window);
  }
  return ended ? kDone : kStillRunning;
}

}  // namespace starter
