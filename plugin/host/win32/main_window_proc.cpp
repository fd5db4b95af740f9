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

std::unique_ptr<Win32ClientWindow> attached;

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
    if (DebugMenuWanted()) AppendMenuA(popup, MF_STRING, kProbabilitiesCommand, "Spam Probabilities");
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
  bool mine = attached && attached->MainWindow() == window;
  if (mine) {
    try {
      LRESULT result = 0;
      if (Handle(*attached, original, window, message, wParam, lParam, result)) return result;
    } catch (...) {
      // Nothing of the plug-in may reach the client's message loop.
    }
  }
  LRESULT result = CallWindowProcA(original, window, message, wParam, lParam);
  // The state went with WM_DESTROY; a main window the client opens later may attach anew.
  if (mine && message == WM_DESTROY) attached.reset();
  return result;
}

}  // namespace

Win32ClientWindow* AttachedClientWindow() { return attached.get(); }

}  // namespace kestrelon

extern "C" LONG_PTR WINAPI AttachOutlookExpressPlugin(HWND window) {
  using namespace kestrelon;
  try {
    char cls[1024] = {};
    GetClassNameA(window, cls, sizeof cls);
    // A window offered again keeps the procedure stored the first time: storing the
    // plug-in's own procedure there would make it call itself for ever.
    if (GetPropA(window, kOrigProc)) return 1;
    LONG_PTR previous = GetWindowLongPtrA(window, GWLP_WNDPROC);
    SetPropA(window, kOrigProc, reinterpret_cast<HANDLE>(previous));
    if (std::string(cls) != kMainWindowClass) return 1;
    // One plug-in state per process: a second main window keeps the client's own procedure,
    // so closing either window never frees the other's state.
    if (attached || CurrentPluginData()) return 1;
    attached = std::make_unique<Win32ClientWindow>(window);
    if (!StartPlugin(*attached)) {
      attached.reset();
      return 0;
    }
    return SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(MainWindowProc));
  } catch (...) {
    attached.reset();
    return 0;
  }
}
