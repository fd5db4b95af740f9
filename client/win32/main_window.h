// The stand-in client's main window: the window classes and nesting the plug-in finds in
// the mail client, over the stand-in store of the current identity. Like the client, a
// process may show several main windows at once (File > New > Window); it ends when the
// last one closes.
//
//   "Outlook Express Browser Class" (menu: File Edit View Tools Help)
//     "SizableRebar" > "ReBarWindow32" > "ToolbarWindow32" (buttons), "ToolbarWindow32" (views)
//     "Outlook Express Navigation Pane" > "Outlook Express Pane Frame" ("Folders")
//         > "ThorTreeViewWndClass" > "SysTreeView32"
//     "Outlook Express Message View" > "Outlook Express Message List" > "ATL:SysListView32"
//     "msctls_statusbar32" (three parts; part 2 shows the receiving text)
//     "Outlook Express Pane Frame" ("Contacts"), created once the window is shown
#pragma once

#include "client/store/mail_store.h"
#include "client/win32/client_texts.h"

#include <windows.h>
#include <commctrl.h>

#include <cstdint>
#include <string>
#include <vector>

namespace kestrelon::client {

struct WindowOptions {
  Language language = Language::English;
  int iconSize = 24;        // 16, 22 or 24
  bool hotImages = true;    // without, the toolbar has no hot image list
  bool comboInToolbar = false;  // the button toolbar starts with a combo box in it
  std::string storeFolder;  // empty: the current identity's store folder
};

enum class FolderItem { LocalFolders, Inbox, Outbox, SentItems, DeletedItems, Drafts };

struct ListRow {
  uint32_t id = 0;
  bool selected = false;
  std::wstring from, subject, received;
};

// Messages posted to the program's command window by the command channel and the dialog
// watch.
constexpr UINT kCommandMessage = WM_APP + 1;  // lParam: a heap std::string, owned by the receiver
constexpr UINT kInputEndedMessage = WM_APP + 2;
constexpr UINT kDialogMessage = WM_APP + 3;   // lParam: the activated dialog
constexpr UINT kPopupMessage = WM_APP + 4;    // wParam: top-level menu position to open for real

class MainWindow {
 public:
  explicit MainWindow(const WindowOptions& options);
  MainWindow(const MainWindow&) = delete;
  MainWindow& operator=(const MainWindow&) = delete;

  ~MainWindow();

  // Creates and shows the window tree; false when a window cannot be created.
  bool Create();

  // Null once the window is closed.
  HWND Handle() const { return main_; }
  HWND MainToolbar() const { return toolbar_; }
  HWND StatusBar() const { return status_; }
  HWND List() const { return list_; }
  Language TextLanguage() const { return options_.language; }
  const WindowOptions& Options() const { return options_; }
  const std::string& StoreFolder() const { return storeFolder_; }
  bool HasStore() const { return !storeFolder_.empty(); }

  // A child window of the main window, as the client creates once its main window is shown
  // (and so activated); the first call makes the contacts pane, later ones a hidden helper.
  void CreateLateChild();
  // Removes the combo box from the button toolbar and creates a child window.
  void DropToolbarCombo();
  // Replaces both image lists with pictures of `size` pixels and tells the toolbar.
  void SetIconSize(int size);
  // Replaces the menu bar with a new one, as the client does when its view changes.
  void RebuildMenus();
  HMENU Popup(int position) const { return GetSubMenu(GetMenu(main_), position); }

  bool SelectFolder(FolderItem folder);
  FolderItem SelectedFolder() const { return folder_; }
  // Shows the current folder's messages as the store holds them now; keeps the selection
  // of rows that are still there.
  void RefreshList();
  std::vector<ListRow> Rows() const;
  // Selects exactly the given rows; false when one is out of range.
  bool SelectRows(const std::vector<int>& rows);

  // Receives mail files into the Inbox: status part 2 shows the receiving text while the
  // files are written, and the shell is told about the store folder after each write and
  // once more when receiving has ended. Returns the new ids; raises StoreError.
  std::vector<uint32_t> Deliver(const std::vector<std::string>& files);
  void SetReceiving(bool receiving);
  bool Receiving() const { return receiving_; }
  void NotifyStoreChanged() const;

  // Greys every toolbar button the client has no command for, as it does on a folder change.
  void GreyForeignButtons() const;

  LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);

 private:
  void CreateMenus();
  void CreateRebar();
  void CreatePanes();
  void AddToolbarButtons();
  void Layout();
  void UpdateTitle();
  void UpdateMessageCount();
  HWND AddPaneFrame(HWND parent, TextId title);

  WindowOptions options_;
  std::string storeFolder_;
  HWND main_ = nullptr, sizableRebar_ = nullptr, rebar_ = nullptr, toolbar_ = nullptr, viewsBar_ = nullptr;
  HWND toolbarCombo_ = nullptr, status_ = nullptr, navigation_ = nullptr, tree_ = nullptr;
  HWND messageView_ = nullptr, list_ = nullptr, contacts_ = nullptr;
  HIMAGELIST images_ = nullptr, hotImages_ = nullptr;
  HFONT font_ = nullptr;
  FolderItem folder_ = FolderItem::Inbox;
  std::vector<StoredMessage> shown_;
  bool receiving_ = false;
  int lateChildren_ = 0;
};

// The window procedure of every main window forwards to this hook first, so the program
// sees the commands the window gets (set by the program).
using MainWindowHook = bool (*)(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);
void SetMainWindowHook(MainWindowHook hook);

}  // namespace kestrelon::client
