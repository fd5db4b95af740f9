// Attaching to the client's main window and the window procedure that replaces the
// client's: new-mail detection, the menus, the toolbar set-up, the commands and the
// tear-down. Every message is passed on to the client's own procedure.
#include "plugin/host/delete_spam.h"
#include "plugin/host/new_mail.h"
#include "plugin/host/plugin_data.h"
#include "plugin/host/plugin_settings.h"
#include "plugin/host/win32/attached_window.h"
#include "plugin/host/win32/options_dialog.h"
#include "plugin/host/win32/token_dialog.h"
#include "plugin/host/win32/toolbar_button.h"
#include "platform/registry.h"
#include "plugin/res/plugin_strings.h"

#include <atomic>
#include <memory>
#include <string>

namespace kestrelon {

namespace {

constexpr char kOrigProc[] = "OrigProc";
constexpr char kMainWindowClass[] = "Outlook Express Browser Class";
constexpr UINT kOptionsCommand = 30100;
constexpr UINT kProbabilitiesCommand = 30102;
constexpr UINT kShellNotifyMessage = WM_USER + 5;
constexpr int kMenuTextBuffer = 256;

// The attached window's state lives on the thread of that window; the handle is read by
// the procedure of every main window the plug-in subclassed, which may run on other
// threads of the client.
std::unique_ptr<Win32ClientWindow> attached;
std::atomic<HWND> attachedWindow{nullptr};

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

bool IsClientMainWindow(HWND window) {
  char cls[1024] = {};
  GetClassNameA(window, cls, sizeof cls);
  return std::string(cls) == kMainWindowClass;
}

bool OwnedByThisProcess(HWND window) {
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  return process == GetCurrentProcessId();
}

// Posted to a waiting main window: the plug-in starts in it, on the window's own thread.
UINT TakeOverMessage() {
  static const UINT message = RegisterWindowMessageA("Kestrelon.TakeOver");
  return message;
}

// Marks a main window and gives it the plug-in's procedure without attaching: it waits
// until the attached window closes.
void Subclass(HWND window) {
  if (!GetPropA(window, kOrigProc))
    SetPropA(window, kOrigProc, reinterpret_cast<HANDLE>(GetWindowLongPtrA(window, GWLP_WNDPROC)));
  SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(MainWindowProc));
}

// The client opens further main windows in the same process (File > New > Window); when
// the attached one closes, the plug-in moves to another, so that the session stays
// filtered. A window whose start-up failed (marked, not subclassed) is not tried again.
struct HandOverSearch {
  HWND closing;
  HWND next;
};

BOOL CALLBACK FindNextMainWindow(HWND window, LPARAM lParam) {
  auto* search = reinterpret_cast<HandOverSearch*>(lParam);
  if (window == search->closing || !OwnedByThisProcess(window) || !IsClientMainWindow(window)) return TRUE;
  bool waiting = GetWindowLongPtrA(window, GWLP_WNDPROC) == reinterpret_cast<LONG_PTR>(MainWindowProc);
  if (!waiting && GetPropA(window, kOrigProc)) return TRUE;
  search->next = window;
  return FALSE;
}

void HandOver(HWND closing) {
  HandOverSearch search{closing, nullptr};
  EnumWindows(FindNextMainWindow, reinterpret_cast<LPARAM>(&search));
  if (!search.next) return;
  Subclass(search.next);
  PostMessageA(search.next, TakeOverMessage(), 0, 0);
}

bool Attach(HWND window) {
  attached = std::make_unique<Win32ClientWindow>(window);
  if (!StartPlugin(*attached)) {
    attached.reset();
    return false;
  }
  attachedWindow = window;
  return true;
}

bool DebugMenuWanted() {
  platform::RegistryKey key;
  uint32_t level = 0;
  if (!key.Open(platform::Hive::CurrentUser, kSettingsKey) || !key.ReadDword("DebugLevel", level)) level = 0;
  return level > 2;
}

std::string LastItemText(HMENU popup) {
  int count = GetMenuItemCount(popup);
  if (count <= 0) return {};
  char text[kMenuTextBuffer] = {};
  GetMenuStringA(popup, static_cast<UINT>(count - 1), text, sizeof text, MF_BYPOSITION);
  return text;
}

// The client's Tools and Edit menus are known by their last items; each gets the
// plug-in's commands the first time it opens (and again whenever the client builds it anew).
LRESULT OnInitMenuPopup(Win32ClientWindow& client, WNDPROC original, HWND window, WPARAM wParam, LPARAM lParam) {
  auto popup = reinterpret_cast<HMENU>(wParam);
  auto passOn = [&] { return CallWindowProcA(original, window, WM_INITMENUPOPUP, wParam, lParam); };
  if (popup == client.toolsMenu) {
    LRESULT result = passOn();
    EnableMenuItem(popup, kOptionsCommand, MF_BYCOMMAND | MF_ENABLED);
    return result;
  }
  if (popup == client.editMenu) {
    LRESULT result = passOn();
    if (client.IsInboxSelected()) {
      EnableMenuItem(popup, kDeleteSpamCommand, MF_BYCOMMAND | MF_ENABLED);
      EnableMenuItem(popup, kProbabilitiesCommand, MF_BYCOMMAND | MF_ENABLED);
    }
    return result;
  }
  std::string last = LastItemText(popup);
  if (last == client.LoadText(1, kMenuTextBuffer)) {
    LRESULT result = passOn();
    client.toolsMenu = popup;
    AppendMenuA(popup, MF_SEPARATOR, 0, nullptr);
    AppendMenuA(popup, MF_STRING, kOptionsCommand, client.LoadText(3, kMenuTextBuffer).c_str());
    return result;
  }
  if (last == client.LoadText(2, kMenuTextBuffer)) {
    LRESULT result = passOn();
    client.editMenu = popup;
    AppendMenuA(popup, MF_SEPARATOR, 0, nullptr);
    AppendMenuA(popup, MF_STRING, kDeleteSpamCommand, client.LoadText(4, kMenuTextBuffer).c_str());
    if (DebugMenuWanted())
      AppendMenuA(popup, MF_STRING, kProbabilitiesCommand, client.LoadText(kSpamProbabilitiesText, kMenuTextBuffer).c_str());
    return result;
  }
  return passOn();
}

// Handles what concerns the plug-in; true when the message is answered (result set).
bool Handle(Win32ClientWindow& client, WNDPROC original, HWND window, UINT message, WPARAM wParam, LPARAM lParam,
            LRESULT& result) {
  PluginData* data = CurrentPluginData();
  if (!data) return false;
  switch (message) {
    case WM_TIMER:
      if (wParam == kNewMailTimerId) OnNewMailTimer(*data);
      return false;
    case WM_INITMENUPOPUP:
      result = OnInitMenuPopup(client, original, window, wParam, lParam);
      return true;
    case WM_PARENTNOTIFY:
      if (LOWORD(wParam) == WM_CREATE) SetUpToolbar(client);
      return false;
    case WM_DESTROY:
      DestroyPluginData();
      return false;
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case kOptionsCommand: ShowOptionsDialog(window, *data); break;
        case kDeleteSpamCommand: DeleteSpam(*data); break;
        case kProbabilitiesCommand: ShowTokenDialog(window, *data); break;
      }
      return false;
    case kShellNotifyMessage:
      if (static_cast<uint32_t>(lParam) == kUpdateDirectoryEvent) OnChangeNotification(*data, kUpdateDirectoryEvent);
      return false;
  }
  return false;
}

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto original = reinterpret_cast<WNDPROC>(GetPropA(window, kOrigProc));
  if (!original) return DefWindowProcA(window, message, wParam, lParam);
  bool mine = attachedWindow == window;
  if (!mine && message == TakeOverMessage() && !attachedWindow && !CurrentPluginData()) {
    try {
      // The window is complete: its toolbar is there to take the button at once.
      if (Attach(window)) SetUpToolbar(*attached);
    } catch (...) {
      attached.reset();
    }
    return 0;
  }
  if (mine) {
    try {
      LRESULT result = 0;
      if (Handle(*attached, original, window, message, wParam, lParam, result)) return result;
    } catch (...) {
      // Nothing of the plug-in may reach the client's message loop.
    }
  }
  LRESULT result = CallWindowProcA(original, window, message, wParam, lParam);
  // The state went with WM_DESTROY; another main window of the client takes it over, and
  // one the client opens later may attach anew.
  if (mine && message == WM_DESTROY) {
    attachedWindow = nullptr;
    attached.reset();
    HandOver(window);
  }
  return result;
}

}  // namespace

Win32ClientWindow* AttachedClientWindow() { return attached.get(); }

}  // namespace kestrelon

extern "C" LONG_PTR WINAPI AttachOutlookExpressPlugin(HWND window) {
  using namespace kestrelon;
  try {
    // The plug-in works only inside the client's process; a window of another process is
    // left exactly as it is.
    if (!OwnedByThisProcess(window)) return 1;
    // A window offered again keeps the procedure stored the first time: storing the
    // plug-in's own procedure there would make it call itself for ever.
    if (GetPropA(window, kOrigProc)) return 1;
    LONG_PTR previous = GetWindowLongPtrA(window, GWLP_WNDPROC);
    SetPropA(window, kOrigProc, reinterpret_cast<HANDLE>(previous));
    if (!IsClientMainWindow(window)) return 1;
    // One plug-in state per process: a second main window waits, subclassed, until the
    // attached one closes and the plug-in moves over to it.
    if (attachedWindow || CurrentPluginData()) {
      Subclass(window);
      return 1;
    }
    if (!Attach(window)) return 0;
    return SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(MainWindowProc));
  } catch (...) {
    attached.reset();
    return 0;
  }
}
