// Stands in for Kestrelon.dll in the hook's tests. Like the plug-in it marks every window
// it is given with "OrigProc"; it appends "<program> attach <class>" to the file named by
// KESTRELON_HOOK_TEST_LOG, where <program> is the test window program's name.
#include <windows.h>

#include <string>

#include "hook/win32/hook_test_log.h"

extern "C" LONG_PTR WINAPI AttachOutlookExpressPlugin(HWND window) {
  char name[1024] = {};
  GetClassNameA(window, name, sizeof name);
  SetPropA(window, "OrigProc", reinterpret_cast<HANDLE>(GetWindowLongPtrA(window, GWLP_WNDPROC)));
  hook_test::AppendLogLine(std::string("attach ") + name);
  return 1;
}
