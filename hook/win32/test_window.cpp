// A window program for the hook's tests: runs the steps on its command line in order and
// logs what happened to each window (see hook_test_log.h).
//   hook_test_window NAME STEP...
//   open CLASS          create a top-level window of CLASS, show and activate it
//   open-marked CLASS   the same, with the "OrigProc" property set before it is shown
//   activate N          activate the N-th window opened (from 1) again
//   offer CLASS         call the driver's hook library's CBTHookProc with the activation of
//                       the first window of CLASS, as Windows does in the process that set
//                       the hook when it cannot load the library into the window's process
//   signal EVENT        set the named event "KestrelonHookTest.EVENT"
//   wait EVENT          wait (at most a minute) until the driver sets that event
// Logs "opened N active=A helper=H", "activated N active=A" and "offered": A is 1 when the
// window became the active one, H is 1 when KestrelonHelper.dll is loaded in this process.
#include <windows.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "hook/win32/hook_test_log.h"

namespace {

std::vector<HWND> windows;

void PumpMessages() {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
}

std::string Flag(bool on) { return on ? "1" : "0"; }

HWND Open(const std::string& className, bool marked) {
  WNDCLASSA wc{};
  wc.lpfnWndProc = DefWindowProcA;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.lpszClassName = className.c_str();
  RegisterClassA(&wc);  // a second window of a class reuses it
  HWND window = CreateWindowExA(0, className.c_str(), "hook test", WS_OVERLAPPEDWINDOW, 10, 10, 300, 200, nullptr,
                                nullptr, wc.hInstance, nullptr);
  if (!window) return nullptr;
  if (marked) SetPropA(window, "OrigProc", reinterpret_cast<HANDLE>(GetWindowLongPtrA(window, GWLP_WNDPROC)));
  ShowWindow(window, SW_SHOWNORMAL);
  SetForegroundWindow(window);
  PumpMessages();
  // The end of another program may hand the activation back to an older window of ours
  // meanwhile; a hook that refused activations would keep this one inactive either way.
  if (GetActiveWindow() != window) {
    SetForegroundWindow(window);
    PumpMessages();
  }
  return window;
}

// Handles stay open to the end, so that a signal outlives the step that gave it.
HANDLE Event(const std::string& name) { return CreateEventA(nullptr, TRUE, FALSE, ("KestrelonHookTest." + name).c_str()); }

bool RunStep(const std::string& step, const std::string& arg) {
  if (step == "open" || step == "open-marked") {
    HWND window = Open(arg, step == "open-marked");
    if (!window) return false;
    windows.push_back(window);
    hook_test::AppendLogLine("opened " + std::to_string(windows.size()) + " active=" +
                             Flag(GetActiveWindow() == window) +
                             " helper=" + Flag(GetModuleHandleA("KestrelonHelper.dll") != nullptr));
    return true;
  }
  if (step == "activate") {
    size_t n = std::strtoul(arg.c_str(), nullptr, 10);
    if (n < 1 || n > windows.size()) return false;
    SetForegroundWindow(windows[n - 1]);
    SetActiveWindow(windows[n - 1]);
    PumpMessages();
    hook_test::AppendLogLine("activated " + arg + " active=" + Flag(GetActiveWindow() == windows[n - 1]));
    return true;
  }
  if (step == "offer") {
    HWND window = FindWindowA(arg.c_str(), nullptr);
    char helper[MAX_PATH * 2] = {};
    GetEnvironmentVariableA(hook_test::kHelperVariable, helper, sizeof helper);
    HMODULE library = LoadLibraryA(helper);
    auto hookProc = library ? reinterpret_cast<HOOKPROC>(reinterpret_cast<void*>(GetProcAddress(library, "CBTHookProc")))
                            : nullptr;
    if (!window || !hookProc) return false;
    hookProc(HCBT_ACTIVATE, reinterpret_cast<WPARAM>(window), 0);
    hook_test::AppendLogLine("offered");
    return true;
  }
  HANDLE event = Event(arg);
  if (!event) return false;
  bool done = false;
  if (step == "signal") {
    done = SetEvent(event);
  } else if (step == "wait") {
    done = WaitForSingleObject(event, 60000) == WAIT_OBJECT_0;
    if (!done) hook_test::AppendLogLine("timed out waiting for " + arg);
  }
  return done;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argc % 2 != 0) return 64;
  SetEnvironmentVariableA(hook_test::kProgramVariable, argv[1]);
  for (int i = 2; i + 1 < argc; i += 2) {
    if (!RunStep(argv[i], argv[i + 1])) {
      hook_test::AppendLogLine(std::string("failed ") + argv[i] + " " + argv[i + 1]);
      return 1;
    }
  }
  for (HWND window : windows) DestroyWindow(window);
  return 0;
}
