#include "plugin/host/win32/toolbar_button.h"

#include "plugin/host/plugin_data.h"
#include "plugin/host/win32/attached_window.h"
#include "plugin/host/win32/box_texts.h"
#include "plugin/host/win32/plugin_module.h"
#include "plugin/res/resource.h"

#include <commctrl.h>

namespace kestrelon {

namespace {

constexpr char kOrigProc[] = "OrigProc";
constexpr COLORREF kTransparent = RGB(255, 0, 255);

bool HasButton(HWND toolbar) { return SendMessageA(toolbar, TB_COMMANDTOINDEX, kDeleteSpamCommand, 0) != -1; }

int AddMasked(HIMAGELIST list, int bitmapId) {
  HBITMAP bitmap = LoadBitmapA(PluginModule(), MAKEINTRESOURCEA(bitmapId));
  int index = ImageList_AddMasked(list, bitmap, kTransparent);
  if (bitmap) DeleteObject(bitmap);
  return index;
}

// Keeps the button enabled while the Inbox is shown, and adds it again when the client
// changes the toolbar's picture size; everything is passed on.
LRESULT CALLBACK ToolbarProc(HWND toolbar, UINT message, WPARAM wParam, LPARAM lParam) {
  auto original = reinterpret_cast<WNDPROC>(GetPropA(toolbar, kOrigProc));
  try {
    // Only the toolbar of the attached window: an earlier attached window's toolbar may
    // outlive it for a moment.
    Win32ClientWindow* client = AttachedClientWindow();
    if (client && client->mainToolbar == toolbar && CurrentPluginData()) {
      if (message == TB_SETSTATE && wParam == kDeleteSpamCommand && client->IsInboxSelected()) {
        lParam = MAKELPARAM(TBSTATE_ENABLED, 0);
      } else if (message == TB_SETBITMAPSIZE && HasButton(toolbar)) {
        AddDeleteSpamButton(*client);
      }
    }
  } catch (...) {
    // The client's toolbar goes on working without the plug-in's part.
  }
  if (!original) return DefWindowProcA(toolbar, message, wParam, lParam);
  return CallWindowProcA(original, toolbar, message, wParam, lParam);
}

}  // namespace

void AddDeleteSpamButton(Win32ClientWindow& client) {
  HWND toolbar = client.mainToolbar;
  auto images = reinterpret_cast<HIMAGELIST>(SendMessageA(toolbar, TB_GETIMAGELIST, 0, 0));
  auto hotImages = reinterpret_cast<HIMAGELIST>(SendMessageA(toolbar, TB_GETHOTIMAGELIST, 0, 0));
  int width = 0, height = 0;
  ImageList_GetIconSize(images, &width, &height);
  client.smallIcons = width < 20;
  client.normalImageIndex =
      AddMasked(images, client.smallIcons ? IDB_DELETE_SPAM_16 : width == 22 ? IDB_DELETE_SPAM_22 : IDB_DELETE_SPAM_24);
  int hotBitmap = client.smallIcons ? IDB_DELETE_SPAM_16_HOT : width == 22 ? IDB_DELETE_SPAM_22_HOT : IDB_DELETE_SPAM_24_HOT;
  int hotIndex = AddMasked(hotImages, hotBitmap);
  if (hotIndex < client.normalImageIndex) {
    // The hot list is shorter than the normal one: pad it so the button's picture has the
    // same index in both.
    if (client.smallIcons) {
      AddMasked(hotImages, IDB_HOT_PADDING_16);
      AddMasked(hotImages, IDB_DELETE_SPAM_16_HOT);
    } else {
      MessageBoxA(nullptr, LocalizedBoxText("Problem with 24x24 bitmaps").c_str(), LocalizedBoxText("Error").c_str(), MB_OK);
    }
  }
  // TB_ADDSTRING takes a list of strings ended by an empty one.
  std::string text = client.LoadText(5, 256);
  text.push_back('\0');
  client.buttonStringIndex =
      static_cast<int>(SendMessageA(toolbar, TB_ADDSTRINGA, 0, reinterpret_cast<LPARAM>(text.c_str())));
  LRESULT existing = SendMessageA(toolbar, TB_COMMANDTOINDEX, kDeleteSpamCommand, 0);
  if (existing != -1) SendMessageA(toolbar, TB_DELETEBUTTON, existing, 0);
  TBBUTTON button{};
  button.iBitmap = client.normalImageIndex;
  button.idCommand = kDeleteSpamCommand;
  button.fsState = TBSTATE_ENABLED;
  button.fsStyle = BTNS_BUTTON;
  button.iString = client.buttonStringIndex;
  SendMessageA(toolbar, TB_ADDBUTTONSA, 1, reinterpret_cast<LPARAM>(&button));
  client.buttonIndex = static_cast<int>(SendMessageA(toolbar, TB_BUTTONCOUNT, 0, 0)) - 1;
}

void SetUpToolbar(Win32ClientWindow& client) {
  HWND main = client.MainWindow();
  HWND rebar = FindChildWindow(FindChildWindow(main, "SizableRebar"), "ReBarWindow32");
  HWND toolbar = FindChildWindow(rebar, "ToolbarWindow32");
  client.mainToolbar = toolbar;
  if (!toolbar) return;
  // While the first toolbar holds a combo box it is not the button toolbar yet.
  if (FindChildWindow(toolbar, "ComboBox")) return;
  client.secondToolbar = FindWindowExA(rebar, toolbar, "ToolbarWindow32", nullptr);
  if (!client.secondToolbar) return;
  client.statusBar = FindChildWindow(main, "msctls_statusbar32");
  SendMessageA(toolbar, TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
  if (!HasButton(toolbar)) AddDeleteSpamButton(client);
  if (!GetPropA(toolbar, kOrigProc)) {
    SetPropA(toolbar, kOrigProc, reinterpret_cast<HANDLE>(GetWindowLongPtrA(toolbar, GWLP_WNDPROC)));
    SetWindowLongPtrA(toolbar, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(ToolbarProc));
  }
}

}  // namespace kestrelon
