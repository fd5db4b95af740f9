#include "client/win32/main_window.h"

#include "client/store/store_location.h"
#include "client/win32/text_convert.h"
#include "client/win32/toolbar_images.h"

#include <commctrl.h>
#include <shlobj.h>

#include <algorithm>
#include <cwchar>
#include <fstream>
#include <set>
#include <sstream>

namespace kestrelon::client {

namespace {

constexpr wchar_t kMainClass[] = L"Outlook Express Browser Class";
constexpr wchar_t kSizableRebarClass[] = L"SizableRebar";
constexpr wchar_t kNavigationClass[] = L"Outlook Express Navigation Pane";
constexpr wchar_t kPaneFrameClass[] = L"Outlook Express Pane Frame";
constexpr wchar_t kTreeHostClass[] = L"ThorTreeViewWndClass";
constexpr wchar_t kMessageViewClass[] = L"Outlook Express Message View";
constexpr wchar_t kMessageListClass[] = L"Outlook Express Message List";
constexpr wchar_t kListClass[] = L"ATL:SysListView32";
constexpr wchar_t kHelperClass[] = L"Outlook Express Hidden Window";

constexpr int kNavigationWidth = 200;
constexpr int kContactsHeight = 120;
constexpr int kSplitter = 4;
constexpr int kPaneTitleHeight = 22;
constexpr int kViewsBarHeight = 28;

// Client command ids: menu items and toolbar buttons the client handles itself.
enum Command : int {
  kCmdSaveAs = 40001, kCmdPrint, kCmdExit, kCmdCopy, kCmdSelectAll, kCmdDelete, kCmdMarkRead, kCmdMarkUnread,
  kCmdMarkAllRead, kCmdStatusBar, kCmdToolbar, kCmdRefresh, kCmdSendReceive, kCmdAddressBook, kCmdOptions,
  kCmdHelpContents, kCmdAbout, kCmdCreateMail, kCmdReply, kCmdReplyAll, kCmdForward, kCmdFind,
};

constexpr int kButtonCommands[kToolbarButtonCount] = {kCmdCreateMail, kCmdReply, kCmdReplyAll, kCmdForward,
                                                      kCmdPrint, kCmdDelete, kCmdSendReceive, kCmdAddressBook,
                                                      kCmdFind};
constexpr TextId kButtonTexts[kToolbarButtonCount] = {
    TextId::ButtonCreateMail, TextId::ButtonReply, TextId::ButtonReplyAll, TextId::ButtonForward, TextId::ButtonPrint,
    TextId::ButtonDelete, TextId::ButtonSendReceive, TextId::ButtonAddresses, TextId::ButtonFind};

// Every main window of the process, open or closed.
std::vector<MainWindow*> instances;
MainWindowHook mainHook = nullptr;

bool IsClientCommand(int id) { return id >= kCmdSaveAs && id <= kCmdFind; }

LRESULT CALLBACK MainProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  LRESULT result = 0;
  if (mainHook && mainHook(message, wParam, lParam, result)) return result;
  for (MainWindow* instance : instances) {
    if (instance->Handle() == window) return instance->Handle(message, wParam, lParam);
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

// Container windows fill themselves with their first child (below the title strip for a
// pane frame) and pass commands and notifications up to the main window.
LRESULT CALLBACK ContainerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  wchar_t cls[64];
  GetClassNameW(window, cls, 64);
  bool frame = wcscmp(cls, kPaneFrameClass) == 0;
  switch (message) {
    case WM_COMMAND:
    case WM_NOTIFY:
      return SendMessageW(GetParent(window), message, wParam, lParam);
    case WM_SIZE: {
      HWND child = GetWindow(window, GW_CHILD);
      int top = frame ? kPaneTitleHeight : 0;
      if (child) MoveWindow(child, 0, top, LOWORD(lParam), std::max(0, HIWORD(lParam) - top), TRUE);
      return 0;
    }
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(window, &ps);
      if (frame) {
        RECT strip;
        GetClientRect(window, &strip);
        strip.bottom = kPaneTitleHeight;
        FillRect(dc, &strip, GetSysColorBrush(COLOR_BTNFACE));
        DrawEdge(dc, &strip, BDR_RAISEDINNER, BF_RECT);
        wchar_t title[128];
        GetWindowTextW(window, title, 128);
        HGDIOBJ old = SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
        SetBkMode(dc, TRANSPARENT);
        RECT text = strip;
        text.left += 6;
        DrawTextW(dc, title, -1, &text, DT_SINGLELINE | DT_VCENTER | DT_LEFT);
        SelectObject(dc, old);
      }
      EndPaint(window, &ps);
      return 0;
    }
    case WM_CTLCOLORSTATIC:
      // Labels on a pane show on the pane's white.
      SetBkColor(reinterpret_cast<HDC>(wParam), GetSysColor(COLOR_WINDOW));
      return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_WINDOW));
    case WM_ERASEBKGND: {
      RECT area;
      GetClientRect(window, &area);
      FillRect(reinterpret_cast<HDC>(wParam), &area, GetSysColorBrush(COLOR_WINDOW));
      return 1;
    }
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

bool RegisterClasses(HINSTANCE module) {
  static bool done = false;
  if (done) return true;
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.hInstance = module;
  wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
  wc.lpfnWndProc = MainProc;
  wc.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
  wc.hIcon = LoadIcon(nullptr, IDI_APPLICATION);
  wc.lpszClassName = kMainClass;
  if (!RegisterClassExW(&wc)) return false;
  wc.lpfnWndProc = ContainerProc;
  wc.hIcon = nullptr;
  for (const wchar_t* name : {kSizableRebarClass, kNavigationClass, kPaneFrameClass, kTreeHostClass,
                              kMessageViewClass, kMessageListClass, kHelperClass}) {
    wc.lpszClassName = name;
    if (!RegisterClassExW(&wc)) return false;
  }
  // The message list is the system's list view under the name the client's library gives it.
  WNDCLASSEXW list{};
  list.cbSize = sizeof list;
  if (!GetClassInfoExW(nullptr, WC_LISTVIEWW, &list)) return false;
  list.hInstance = module;
  list.lpszClassName = kListClass;
  list.style &= ~CS_GLOBALCLASS;
  if (!RegisterClassExW(&list)) return false;
  done = true;
  return true;
}

HWND Child(HWND parent, const wchar_t* cls, const wchar_t* text, DWORD style, int id = 0) {
  return CreateWindowExW(0, cls, text, WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN | WS_CLIPSIBLINGS | style, 0, 0, 0, 0,
                         parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
}

}  // namespace

void SetMainWindowHook(MainWindowHook hook) { mainHook = hook; }

MainWindow::MainWindow(const WindowOptions& options) : options_(options) { instances.push_back(this); }

MainWindow::~MainWindow() {
  if (main_) DestroyWindow(main_);
  instances.erase(std::remove(instances.begin(), instances.end(), this), instances.end());
}

bool MainWindow::Create() {
  HINSTANCE module = GetModuleHandleW(nullptr);
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_BAR_CLASSES | ICC_COOL_CLASSES | ICC_LISTVIEW_CLASSES |
                                                     ICC_TREEVIEW_CLASSES | ICC_WIN95_CLASSES};
  InitCommonControlsEx(&controls);
  if (!RegisterClasses(module)) return false;
  storeFolder_ = options_.storeFolder;
  if (storeFolder_.empty()) StoreFolderOfCurrentIdentity(storeFolder_);
  font_ = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));

  main_ = CreateWindowExW(0, kMainClass, L"", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, 0, 0, 900, 600, nullptr,
                          nullptr, module, nullptr);
  if (!main_) return false;
  CreateMenus();
  CreateRebar();
  CreatePanes();
  status_ = CreateWindowExW(0, STATUSCLASSNAMEW, L"", WS_CHILD | WS_VISIBLE | SBARS_SIZEGRIP, 0, 0, 0, 0, main_,
                            nullptr, module, nullptr);
  if (!toolbar_ || !viewsBar_ || !tree_ || !list_ || !status_) return false;
  // Showing activates the window: the hook loader attaches the plug-in here, and the
  // panes created from now on let it find the toolbar.
  ShowWindow(main_, SW_SHOW);
  CreateLateChild();
  SetReceiving(false);
  SelectFolder(FolderItem::Inbox);
  UpdateWindow(main_);
  return true;
}

void MainWindow::CreateMenus() {
  Language l = options_.language;
  auto item = [l](HMENU menu, int id, TextId text) { AppendMenuW(menu, MF_STRING, id, Text(l, text)); };
  HMENU bar = CreateMenu();
  HMENU file = CreatePopupMenu();
  item(file, kCmdSaveAs, TextId::FileSaveAs);
  AppendMenuW(file, MF_SEPARATOR, 0, nullptr);
  item(file, kCmdPrint, TextId::FilePrint);
  AppendMenuW(file, MF_SEPARATOR, 0, nullptr);
  item(file, kCmdExit, TextId::FileExit);
  HMENU edit = CreatePopupMenu();
  item(edit, kCmdCopy, TextId::EditCopy);
  item(edit, kCmdSelectAll, TextId::EditSelectAll);
  AppendMenuW(edit, MF_SEPARATOR, 0, nullptr);
  item(edit, kCmdDelete, TextId::EditDelete);
  AppendMenuW(edit, MF_SEPARATOR, 0, nullptr);
  item(edit, kCmdMarkRead, TextId::EditMarkRead);
  item(edit, kCmdMarkUnread, TextId::EditMarkUnread);
  item(edit, kCmdMarkAllRead, TextId::EditMarkAllRead);
  HMENU view = CreatePopupMenu();
  item(view, kCmdStatusBar, TextId::ViewStatusBar);
  item(view, kCmdToolbar, TextId::ViewToolbar);
  CheckMenuItem(view, kCmdStatusBar, MF_CHECKED);
  CheckMenuItem(view, kCmdToolbar, MF_CHECKED);
  AppendMenuW(view, MF_SEPARATOR, 0, nullptr);
  item(view, kCmdRefresh, TextId::ViewRefresh);
  HMENU tools = CreatePopupMenu();
  item(tools, kCmdSendReceive, TextId::ToolsSendReceive);
  item(tools, kCmdAddressBook, TextId::ToolsAddressBook);
  AppendMenuW(tools, MF_SEPARATOR, 0, nullptr);
  item(tools, kCmdOptions, TextId::ToolsOptions);
  HMENU help = CreatePopupMenu();
  item(help, kCmdHelpContents, TextId::HelpContents);
  AppendMenuW(help, MF_SEPARATOR, 0, nullptr);
  item(help, kCmdAbout, TextId::HelpAbout);
  AppendMenuW(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(file), Text(l, TextId::MenuFile));
  AppendMenuW(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(edit), Text(l, TextId::MenuEdit));
  AppendMenuW(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(view), Text(l, TextId::MenuView));
  AppendMenuW(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(tools), Text(l, TextId::MenuTools));
  AppendMenuW(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(help), Text(l, TextId::MenuHelp));
  SetMenu(main_, bar);
}

void MainWindow::RebuildMenus() {
  HMENU old = GetMenu(main_);
  CreateMenus();
  DestroyMenu(old);
  DrawMenuBar(main_);
}

void MainWindow::CreateRebar() {
  HINSTANCE module = GetModuleHandleW(nullptr);
  sizableRebar_ = Child(main_, kSizableRebarClass, L"", 0);
  rebar_ = CreateWindowExW(WS_EX_TOOLWINDOW, REBARCLASSNAMEW, nullptr,
                           WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN | WS_CLIPSIBLINGS | RBS_VARHEIGHT |
                               RBS_BANDBORDERS | CCS_NODIVIDER | CCS_NOPARENTALIGN,
                           0, 0, 0, 0, sizableRebar_, nullptr, module, nullptr);
  const DWORD barStyle = WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN | TBSTYLE_FLAT | TBSTYLE_TOOLTIPS | CCS_NODIVIDER |
                         CCS_NORESIZE | CCS_NOPARENTALIGN;
  toolbar_ = CreateWindowExW(0, TOOLBARCLASSNAMEW, nullptr, barStyle, 0, 0, 0, 0, rebar_, nullptr, module, nullptr);
  viewsBar_ = CreateWindowExW(0, TOOLBARCLASSNAMEW, nullptr, barStyle, 0, 0, 0, 0, rebar_, nullptr, module, nullptr);
  if (!toolbar_ || !viewsBar_) return;
  AddToolbarButtons();
  if (options_.comboInToolbar) {
    toolbarCombo_ = CreateWindowExW(0, WC_COMBOBOXW, nullptr, WS_CHILD | CBS_DROPDOWNLIST, 0, 0, 10, 100, toolbar_,
                                    nullptr, module, nullptr);
  }

  // The views bar: a label and the view chooser.
  HWND label = CreateWindowExW(0, WC_STATICW, Text(options_.language, TextId::ViewsLabel),
                               WS_CHILD | WS_VISIBLE | SS_CENTERIMAGE, 6, 2, 80, 22, viewsBar_, nullptr, module, nullptr);
  HWND views = CreateWindowExW(0, WC_COMBOBOXW, nullptr, WS_CHILD | WS_VISIBLE | CBS_DROPDOWNLIST | WS_VSCROLL, 88, 3,
                               220, 120, viewsBar_, nullptr, module, nullptr);
  for (HWND w : {label, views}) SendMessageW(w, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
  SendMessageW(views, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Text(options_.language, TextId::ViewsAllMessages)));
  SendMessageW(views, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Text(options_.language, TextId::ViewsHideRead)));
  SendMessageW(views, CB_SETCURSEL, 0, 0);

  SIZE size{};
  SendMessageW(toolbar_, TB_GETMAXSIZE, 0, reinterpret_cast<LPARAM>(&size));
  REBARBANDINFOW band{};
  band.cbSize = REBARBANDINFOW_V6_SIZE;
  band.fMask = RBBIM_CHILD | RBBIM_CHILDSIZE | RBBIM_STYLE | RBBIM_SIZE;
  band.fStyle = RBBS_CHILDEDGE | RBBS_GRIPPERALWAYS;
  band.hwndChild = toolbar_;
  band.cxMinChild = 0;
  band.cyMinChild = size.cy;
  band.cx = 800;
  SendMessageW(rebar_, RB_INSERTBANDW, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&band));
  band.fStyle = RBBS_CHILDEDGE | RBBS_GRIPPERALWAYS | RBBS_BREAK;
  band.hwndChild = viewsBar_;
  band.cyMinChild = kViewsBarHeight;
  SendMessageW(rebar_, RB_INSERTBANDW, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&band));
  // The button toolbar is the rebar's first toolbar child: first in the z-order.
  SetWindowPos(toolbar_, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

void MainWindow::AddToolbarButtons() {
  SendMessageW(toolbar_, TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
  images_ = CreateToolbarImages(options_.iconSize, false);
  hotImages_ = options_.hotImages ? CreateToolbarImages(options_.iconSize, true) : nullptr;
  SendMessageW(toolbar_, TB_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(images_));
  SendMessageW(toolbar_, TB_SETHOTIMAGELIST, 0, reinterpret_cast<LPARAM>(hotImages_));
  SendMessageW(toolbar_, TB_SETBITMAPSIZE, 0, MAKELPARAM(options_.iconSize, options_.iconSize));
  SendMessageW(toolbar_, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
  // The button texts go into the toolbar's string pool, one after another.
  std::wstring pool;
  for (TextId text : kButtonTexts) pool.append(Text(options_.language, text)).push_back(L'\0');
  pool.push_back(L'\0');
  INT_PTR first = SendMessageW(toolbar_, TB_ADDSTRINGW, 0, reinterpret_cast<LPARAM>(pool.c_str()));
  TBBUTTON buttons[kToolbarButtonCount + 2]{};
  int n = 0;
  for (int i = 0; i < kToolbarButtonCount; ++i) {
    if (i == kImagePrint || i == kImageSendReceive) buttons[n++] = {0, 0, TBSTATE_ENABLED, BTNS_SEP, {}, 0, 0};
    buttons[n++] = {i, kButtonCommands[i], TBSTATE_ENABLED, BTNS_BUTTON | BTNS_AUTOSIZE, {}, 0, first + i};
  }
  SendMessageW(toolbar_, TB_ADDBUTTONSW, n, reinterpret_cast<LPARAM>(buttons));
  SendMessageW(toolbar_, TB_AUTOSIZE, 0, 0);
}

void MainWindow::SetIconSize(int size) {
  options_.iconSize = size;
  HIMAGELIST oldImages = images_, oldHot = hotImages_;
  images_ = CreateToolbarImages(size, false);
  hotImages_ = options_.hotImages ? CreateToolbarImages(size, true) : nullptr;
  SendMessageW(toolbar_, TB_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(images_));
  SendMessageW(toolbar_, TB_SETHOTIMAGELIST, 0, reinterpret_cast<LPARAM>(hotImages_));
  SendMessageW(toolbar_, TB_SETBITMAPSIZE, 0, MAKELPARAM(size, size));
  SendMessageW(toolbar_, TB_AUTOSIZE, 0, 0);
  if (oldImages) ImageList_Destroy(oldImages);
  if (oldHot) ImageList_Destroy(oldHot);
  SIZE extent{};
  SendMessageW(toolbar_, TB_GETMAXSIZE, 0, reinterpret_cast<LPARAM>(&extent));
  REBARBANDINFOW band{};
  band.cbSize = REBARBANDINFOW_V6_SIZE;
  band.fMask = RBBIM_CHILDSIZE;
  band.cyMinChild = extent.cy;
  SendMessageW(rebar_, RB_SETBANDINFOW, 0, reinterpret_cast<LPARAM>(&band));
  Layout();
}

HWND MainWindow::AddPaneFrame(HWND parent, TextId title) {
  return Child(parent, kPaneFrameClass, Text(options_.language, title), 0);
}

void MainWindow::CreatePanes() {
  navigation_ = Child(main_, kNavigationClass, L"", 0);
  HWND frame = AddPaneFrame(navigation_, TextId::FoldersTitle);
  HWND treeHost = Child(frame, kTreeHostClass, L"", 0);
  tree_ = CreateWindowExW(WS_EX_CLIENTEDGE, WC_TREEVIEWW, nullptr,
                          WS_CHILD | WS_VISIBLE | TVS_HASLINES | TVS_HASBUTTONS | TVS_LINESATROOT | TVS_SHOWSELALWAYS,
                          0, 0, 0, 0, treeHost, nullptr, GetModuleHandleW(nullptr), nullptr);
  SendMessageW(tree_, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
  Language l = options_.language;
  auto add = [this, l](HTREEITEM parent, TextId text, FolderItem folder) {
    TVINSERTSTRUCTW insert{};
    insert.hParent = parent;
    insert.hInsertAfter = TVI_LAST;
    insert.item.mask = TVIF_TEXT | TVIF_PARAM;
    insert.item.pszText = const_cast<wchar_t*>(Text(l, text));
    insert.item.lParam = static_cast<LPARAM>(folder);
    return reinterpret_cast<HTREEITEM>(SendMessageW(tree_, TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&insert)));
  };
  HTREEITEM root = add(TVI_ROOT, TextId::LocalFolders, FolderItem::LocalFolders);
  add(root, TextId::Inbox, FolderItem::Inbox);
  add(root, TextId::Outbox, FolderItem::Outbox);
  add(root, TextId::SentItems, FolderItem::SentItems);
  add(root, TextId::DeletedItems, FolderItem::DeletedItems);
  add(root, TextId::Drafts, FolderItem::Drafts);
  SendMessageW(tree_, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(root));

  messageView_ = Child(main_, kMessageViewClass, L"", 0);
  HWND messageList = Child(messageView_, kMessageListClass, L"", 0);
  list_ = CreateWindowExW(WS_EX_CLIENTEDGE, kListClass, nullptr,
                          WS_CHILD | WS_VISIBLE | LVS_REPORT | LVS_SHOWSELALWAYS, 0, 0, 0, 0, messageList, nullptr,
                          GetModuleHandleW(nullptr), nullptr);
  SendMessageW(list_, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
  SendMessageW(list_, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT, LVS_EX_FULLROWSELECT);
  const std::pair<TextId, int> columns[] = {
      {TextId::ColumnFrom, 180}, {TextId::ColumnSubject, 330}, {TextId::ColumnReceived, 130}};
  int index = 0;
  for (const auto& [text, width] : columns) {
    LVCOLUMNW column{};
    column.mask = LVCF_TEXT | LVCF_WIDTH;
    column.pszText = const_cast<wchar_t*>(Text(l, text));
    column.cx = width;
    SendMessageW(list_, LVM_INSERTCOLUMNW, index++, reinterpret_cast<LPARAM>(&column));
  }
}

void MainWindow::CreateLateChild() {
  if (lateChildren_++ == 0) {
    contacts_ = AddPaneFrame(main_, TextId::ContactsTitle);
    HWND note = CreateWindowExW(0, WC_STATICW, Text(options_.language, TextId::NoContacts),
                                WS_CHILD | WS_VISIBLE | SS_CENTER, 0, 0, 0, 0, contacts_, nullptr,
                                GetModuleHandleW(nullptr), nullptr);
    SendMessageW(note, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
    Layout();
  } else {
    CreateWindowExW(0, kHelperClass, L"", WS_CHILD, 0, 0, 0, 0, main_, nullptr, GetModuleHandleW(nullptr), nullptr);
  }
}

void MainWindow::DropToolbarCombo() {
  if (toolbarCombo_) DestroyWindow(toolbarCombo_);
  toolbarCombo_ = nullptr;
  CreateLateChild();
}

void MainWindow::Layout() {
  if (!main_ || !status_) return;
  RECT area;
  GetClientRect(main_, &area);
  int width = area.right, height = area.bottom;
  SendMessageW(status_, WM_SIZE, 0, 0);
  RECT statusRect;
  GetWindowRect(status_, &statusRect);
  int statusHeight = statusRect.bottom - statusRect.top;
  int parts[3] = {std::max(100, width - 300), std::max(150, width - 150), -1};
  SendMessageW(status_, SB_SETPARTS, 3, reinterpret_cast<LPARAM>(parts));

  int rebarHeight = static_cast<int>(SendMessageW(rebar_, RB_GETBARHEIGHT, 0, 0));
  MoveWindow(sizableRebar_, 0, 0, width, rebarHeight, TRUE);
  MoveWindow(rebar_, 0, 0, width, rebarHeight, TRUE);
  int top = rebarHeight + 2;
  int available = std::max(0, height - statusHeight - top);
  int contacts = contacts_ ? std::min(kContactsHeight, available / 2) : 0;
  MoveWindow(navigation_, 0, top, kNavigationWidth, available - contacts, TRUE);
  if (contacts_) {
    MoveWindow(contacts_, 0, top + available - contacts + kSplitter, kNavigationWidth, contacts - kSplitter, TRUE);
    RECT inner;
    GetClientRect(contacts_, &inner);
    MoveWindow(GetWindow(contacts_, GW_CHILD), 4, kPaneTitleHeight + 8, inner.right - 8, 40, TRUE);
  }
  MoveWindow(messageView_, kNavigationWidth + kSplitter, top, std::max(0, width - kNavigationWidth - kSplitter),
             available, TRUE);
}

bool MainWindow::SelectFolder(FolderItem folder) {
  HTREEITEM root = TreeView_GetRoot(tree_);
  for (HTREEITEM item = root; item;) {
    TVITEMW tv{};
    tv.mask = TVIF_PARAM;
    tv.hItem = item;
    SendMessageW(tree_, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&tv));
    if (static_cast<FolderItem>(tv.lParam) == folder) {
      // The selection change notification refills the list.
      TreeView_SelectItem(tree_, item);
      return true;
    }
    HTREEITEM next = TreeView_GetChild(tree_, item);
    item = next ? next : TreeView_GetNextSibling(tree_, item);
  }
  return false;
}

void MainWindow::RefreshList() {
  std::vector<StoredMessage> messages;
  if (HasStore() && (folder_ == FolderItem::Inbox || folder_ == FolderItem::DeletedItems)) {
    try {
      messages = MailStore(storeFolder_).List(folder_ == FolderItem::Inbox ? Folder::Inbox : Folder::Deleted);
    } catch (const StoreError&) {
      messages.clear();
    }
  }
  auto sameIds = [](const std::vector<StoredMessage>& a, const std::vector<StoredMessage>& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](const StoredMessage& x, const StoredMessage& y) { return x.id == y.id; });
  };
  int count = static_cast<int>(SendMessageW(list_, LVM_GETITEMCOUNT, 0, 0));
  if (count == static_cast<int>(messages.size()) && sameIds(messages, shown_)) {
    shown_ = std::move(messages);
    UpdateMessageCount();
    return;
  }
  std::set<uint32_t> selected;
  for (const ListRow& row : Rows()) {
    if (row.selected) selected.insert(row.id);
  }
  SendMessageW(list_, WM_SETREDRAW, FALSE, 0);
  SendMessageW(list_, LVM_DELETEALLITEMS, 0, 0);
  shown_ = std::move(messages);
  for (size_t i = 0; i < shown_.size(); ++i) {
    const DbxEnvelope& e = shown_[i].envelope;
    std::wstring from = FromAnsi(e.senderName.empty() ? e.senderAddress : e.senderName);
    std::wstring subject = FromAnsi(e.subject);
    std::wstring received = FromAnsi(DateReceivedText(e.receivedTime));
    LVITEMW item{};
    item.mask = LVIF_TEXT | LVIF_PARAM | LVIF_STATE;
    item.iItem = static_cast<int>(i);
    item.pszText = from.data();
    item.lParam = static_cast<LPARAM>(shown_[i].id);
    item.stateMask = LVIS_SELECTED;
    item.state = selected.count(shown_[i].id) ? LVIS_SELECTED : 0;
    SendMessageW(list_, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
    LVITEMW cell{};
    cell.iSubItem = 1;
    cell.pszText = subject.data();
    SendMessageW(list_, LVM_SETITEMTEXTW, i, reinterpret_cast<LPARAM>(&cell));
    cell.iSubItem = 2;
    cell.pszText = received.data();
    SendMessageW(list_, LVM_SETITEMTEXTW, i, reinterpret_cast<LPARAM>(&cell));
  }
  SendMessageW(list_, WM_SETREDRAW, TRUE, 0);
  UpdateMessageCount();
}

std::vector<ListRow> MainWindow::Rows() const {
  std::vector<ListRow> rows;
  int count = static_cast<int>(SendMessageW(list_, LVM_GETITEMCOUNT, 0, 0));
  for (int i = 0; i < count; ++i) {
    ListRow row;
    LVITEMW item{};
    item.mask = LVIF_PARAM | LVIF_STATE;
    item.iItem = i;
    item.stateMask = LVIS_SELECTED;
    SendMessageW(list_, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
    row.id = static_cast<uint32_t>(item.lParam);
    row.selected = (item.state & LVIS_SELECTED) != 0;
    std::wstring* cells[] = {&row.from, &row.subject, &row.received};
    for (int c = 0; c < 3; ++c) {
      wchar_t text[1024] = L"";
      LVITEMW cell{};
      cell.iSubItem = c;
      cell.pszText = text;
      cell.cchTextMax = 1024;
      SendMessageW(list_, LVM_GETITEMTEXTW, i, reinterpret_cast<LPARAM>(&cell));
      *cells[c] = text;
    }
    rows.push_back(std::move(row));
  }
  return rows;
}

bool MainWindow::SelectRows(const std::vector<int>& rows) {
  int count = static_cast<int>(SendMessageW(list_, LVM_GETITEMCOUNT, 0, 0));
  for (int row : rows) {
    if (row < 0 || row >= count) return false;
  }
  LVITEMW clear{};
  clear.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
  SendMessageW(list_, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&clear));
  for (int row : rows) {
    LVITEMW set{};
    set.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    set.state = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageW(list_, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&set));
  }
  SetFocus(list_);
  return true;
}

void MainWindow::SetReceiving(bool receiving) {
  receiving_ = receiving;
  SendMessageW(status_, SB_SETTEXTW, 2,
               reinterpret_cast<LPARAM>(Text(options_.language, receiving ? TextId::StatusReceiving
                                                                          : TextId::StatusOnline)));
}

void MainWindow::NotifyStoreChanged() const {
  if (HasStore()) SHChangeNotify(SHCNE_UPDATEDIR, SHCNF_PATHW, FromAnsi(storeFolder_).c_str(), nullptr);
}

std::vector<uint32_t> MainWindow::Deliver(const std::vector<std::string>& files) {
  if (!HasStore()) throw StoreError("no store folder");
  std::vector<std::string> mails;
  for (const std::string& file : files) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream mail;
    if (!in || !(mail << in.rdbuf())) throw StoreError("cannot read " + file);
    mails.push_back(mail.str());
  }
  bool wasReceiving = receiving_;
  SetReceiving(true);
  std::vector<uint32_t> ids;
  MailStore store(storeFolder_);
  for (const std::string& mail : mails) {
    ids.push_back(store.Deliver(mail));
    NotifyStoreChanged();
  }
  if (!wasReceiving) {
    SetReceiving(false);
    NotifyStoreChanged();
  }
  RefreshList();
  return ids;
}

void MainWindow::GreyForeignButtons() const {
  int count = static_cast<int>(SendMessageW(toolbar_, TB_BUTTONCOUNT, 0, 0));
  for (int i = 0; i < count; ++i) {
    TBBUTTON button{};
    SendMessageW(toolbar_, TB_GETBUTTON, i, reinterpret_cast<LPARAM>(&button));
    if (button.fsStyle & BTNS_SEP) continue;
    if (!IsClientCommand(button.idCommand)) SendMessageW(toolbar_, TB_SETSTATE, button.idCommand, 0);
  }
}

void MainWindow::UpdateTitle() {
  static const TextId names[] = {TextId::LocalFolders, TextId::Inbox,        TextId::Outbox,
                                 TextId::SentItems,    TextId::DeletedItems, TextId::Drafts};
  wchar_t title[256];
  swprintf(title, 256, Text(options_.language, TextId::Title),
           Text(options_.language, names[static_cast<int>(folder_)]));
  SetWindowTextW(main_, title);
}

void MainWindow::UpdateMessageCount() {
  int unread = 0;
  for (const StoredMessage& m : shown_) unread += m.Unread() ? 1 : 0;
  wchar_t text[128];
  swprintf(text, 128, Text(options_.language, TextId::StatusMessages), static_cast<int>(shown_.size()), unread);
  SendMessageW(status_, SB_SETTEXTW, 0, reinterpret_cast<LPARAM>(text));
}

LRESULT MainWindow::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_SIZE:
      Layout();
      return 0;
    case WM_NOTIFY: {
      auto* header = reinterpret_cast<NMHDR*>(lParam);
      if (header->hwndFrom == tree_ && header->code == TVN_SELCHANGEDW) {
        auto* change = reinterpret_cast<NMTREEVIEWW*>(lParam);
        folder_ = static_cast<FolderItem>(change->itemNew.lParam);
        UpdateTitle();
        RefreshList();
        GreyForeignButtons();
      } else if (header->hwndFrom == rebar_ && header->code == RBN_HEIGHTCHANGE) {
        Layout();
      }
      return 0;
    }
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case kCmdExit:
          DestroyWindow(main_);
          return 0;
        case kCmdRefresh:
          RefreshList();
          return 0;
        case kCmdSelectAll: {
          LVITEMW all{};
          all.stateMask = LVIS_SELECTED;
          all.state = LVIS_SELECTED;
          SendMessageW(list_, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&all));
          return 0;
        }
      }
      return 0;
    case WM_INITMENUPOPUP: {
      // Like the client, grey the items of commands it does not know.
      auto popup = reinterpret_cast<HMENU>(wParam);
      int count = GetMenuItemCount(popup);
      for (int i = 0; i < count; ++i) {
        MENUITEMINFOW info{};
        info.cbSize = sizeof info;
        info.fMask = MIIM_FTYPE | MIIM_ID | MIIM_SUBMENU;
        GetMenuItemInfoW(popup, i, TRUE, &info);
        if (!(info.fType & MFT_SEPARATOR) && !info.hSubMenu && !IsClientCommand(static_cast<int>(info.wID)))
          EnableMenuItem(popup, i, MF_BYPOSITION | MF_GRAYED);
      }
      return 0;
    }
    case WM_DESTROY:
      // The program ends with its last main window.
      if (std::none_of(instances.begin(), instances.end(),
                       [this](MainWindow* other) { return other != this && other->Handle(); }))
        PostQuitMessage(0);
      return 0;
    case WM_NCDESTROY: {
      HWND closed = main_;
      main_ = nullptr;
      return DefWindowProcW(closed, message, wParam, lParam);
    }
  }
  return DefWindowProcW(main_, message, wParam, lParam);
}

}  // namespace kestrelon::client
