#include "plugin/host/win32/win32_client_window.h"

#include "plugin/host/win32/box_texts.h"
#include "plugin/host/win32/plugin_module.h"
#include "plugin/res/resource.h"

#include <commctrl.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace kestrelon {

namespace {

// Status bar texts are read into 256 bytes, as the client's own code does; a longer text
// is read whole and cut, rather than written past the buffer.
constexpr size_t kStatusTextBuffer = 256;
constexpr size_t kHeaderTextBuffer = 256;
constexpr size_t kCellTextBuffer = 512;
constexpr size_t kTreeTextBuffer = 256;

INT_PTR CALLBACK ProgressProc(HWND, UINT message, WPARAM, LPARAM) { return message == WM_INITDIALOG; }

}  // namespace

HWND FindChildWindow(HWND parent, const char* cls, const char* title) {
  return parent ? FindWindowExA(parent, nullptr, cls, title) : nullptr;
}

Win32ClientWindow::~Win32ClientWindow() { CloseProgress(); }

std::string Win32ClientWindow::LoadText(unsigned id, size_t bufferChars) {
  return LoadPluginResourceText(id, bufferChars);
}

BoxAnswer Win32ClientWindow::ShowBox(BoxOwner owner, const std::string& caption, const std::string& text,
                                     BoxButtons buttons, BoxIcon icon) {
  UINT type = (buttons == BoxButtons::kYesNo ? MB_YESNO : MB_OK) | (icon == BoxIcon::kExclamation ? MB_ICONEXCLAMATION : 0);
  int answer = MessageBoxA(owner == BoxOwner::kMainWindow ? main_ : nullptr, LocalizedBoxText(text).c_str(),
                           LocalizedBoxText(caption).c_str(), type);
  if (answer == IDYES) return BoxAnswer::kYes;
  if (answer == IDNO) return BoxAnswer::kNo;
  return BoxAnswer::kOk;
}

std::string Win32ClientWindow::StatusText(int part) {
  if (!statusBar) return {};
  size_t length = LOWORD(SendMessageA(statusBar, SB_GETTEXTLENGTHA, part, 0));
  std::vector<char> buffer(std::max(length + 1, kStatusTextBuffer), '\0');
  SendMessageA(statusBar, SB_GETTEXTA, part, reinterpret_cast<LPARAM>(buffer.data()));
  buffer[kStatusTextBuffer - 1] = '\0';
  return buffer.data();
}

void Win32ClientWindow::SetStatusText(int part, const std::string& text) {
  if (statusBar) SendMessageA(statusBar, SB_SETTEXTA, part, reinterpret_cast<LPARAM>(text.c_str()));
}

void Win32ClientWindow::OpenProgress() {
  CloseProgress();
  progress_ = CreateDialogParamA(PluginModule(), MAKEINTRESOURCEA(IDD_PROGRESS), main_, ProgressProc, 0);
  if (!progress_) return;
  ShowWindow(progress_, SW_SHOW);
  UpdateWindow(progress_);
}

void Win32ClientWindow::SetProgressText(const std::string& text) {
  if (!progress_) return;
  SetDlgItemTextA(progress_, IDC_PROGRESS_TEXT, text.c_str());
  UpdateWindow(progress_);
}

void Win32ClientWindow::SetProgressRange(uint16_t maximum, int step) {
  if (!progress_) return;
  SendDlgItemMessageA(progress_, IDC_PROGRESS_BAR, PBM_SETRANGE, 0, MAKELPARAM(0, maximum));
  SendDlgItemMessageA(progress_, IDC_PROGRESS_BAR, PBM_SETSTEP, step, 0);
}

void Win32ClientWindow::StepProgress() {
  if (!progress_) return;
  SendDlgItemMessageA(progress_, IDC_PROGRESS_BAR, PBM_STEPIT, 0, 0);
  UpdateWindow(progress_);
}

void Win32ClientWindow::CloseProgress() {
  if (progress_) DestroyWindow(progress_);
  progress_ = nullptr;
}

void Win32ClientWindow::ShowWaitCursor() { savedCursor_ = SetCursor(LoadCursor(nullptr, IDC_WAIT)); }

void Win32ClientWindow::RestoreCursor() { SetCursor(savedCursor_); }

HWND Win32ClientWindow::MessageList() const {
  HWND view = FindChildWindow(main_, "Outlook Express Message View");
  HWND list = FindChildWindow(view, "Outlook Express Message List");
  return FindChildWindow(list, "ATL:SysListView32");
}

std::vector<std::string> Win32ClientWindow::HeaderTexts() {
  std::vector<std::string> texts;
  HWND list = MessageList();
  HWND header = list ? reinterpret_cast<HWND>(SendMessageA(list, LVM_GETHEADER, 0, 0)) : nullptr;
  if (!header) return texts;
  int count = static_cast<int>(SendMessageA(header, HDM_GETITEMCOUNT, 0, 0));
  for (int i = 0; i < count; ++i) {
    char text[kHeaderTextBuffer] = {};
    HDITEMA item{};
    item.mask = HDI_TEXT;
    item.pszText = text;
    item.cchTextMax = sizeof text;
    SendMessageA(header, HDM_GETITEMA, i, reinterpret_cast<LPARAM>(&item));
    // The control may hand back a pointer to its own copy instead of filling ours.
    texts.emplace_back(item.pszText ? item.pszText : "", item.pszText ? strnlen(item.pszText, sizeof text - 1) : 0);
  }
  return texts;
}

int Win32ClientWindow::NextSelectedRow(int row) {
  HWND list = MessageList();
  if (!list) return -1;
  return static_cast<int>(SendMessageA(list, LVM_GETNEXTITEM, static_cast<WPARAM>(row), MAKELPARAM(LVNI_SELECTED, 0)));
}

std::string Win32ClientWindow::CellText(int row, int column) {
  HWND list = MessageList();
  if (!list) return {};
  char text[kCellTextBuffer] = {};
  LVITEMA item{};
  item.iSubItem = column;
  item.pszText = text;
  item.cchTextMax = sizeof text;
  SendMessageA(list, LVM_GETITEMTEXTA, row, reinterpret_cast<LPARAM>(&item));
  return std::string(text, strnlen(text, sizeof text - 1));
}

bool Win32ClientWindow::IsInboxSelected() {
  if (!folderTree) {
    std::string folders = LoadText(6, 256);
    HWND pane = FindChildWindow(main_, "Outlook Express Navigation Pane");
    HWND frame = FindChildWindow(pane, "Outlook Express Pane Frame", folders.c_str());
    HWND host = FindChildWindow(frame, "ThorTreeViewWndClass");
    folderTree = FindChildWindow(host, "SysTreeView32");
  }
  if (!folderTree) return false;
  auto selected = reinterpret_cast<HTREEITEM>(SendMessageA(folderTree, TVM_GETNEXTITEM, TVGN_CARET, 0));
  if (!selected) return false;
  char text[kTreeTextBuffer] = {};
  TVITEMA item{};
  item.mask = TVIF_TEXT;
  item.hItem = selected;
  item.pszText = text;
  item.cchTextMax = sizeof text;
  if (!SendMessageA(folderTree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item))) return false;
  return LoadText(7, 256) == std::string(text, strnlen(text, sizeof text - 1));
}

uintptr_t Win32ClientWindow::ArmTimer(unsigned id, unsigned intervalMs) { return SetTimer(main_, id, intervalMs, nullptr); }

void Win32ClientWindow::DisarmTimer(uintptr_t timerId) { KillTimer(main_, timerId); }

unsigned long Win32ClientWindow::ArmChangeNotification(const std::string& storeFolder) {
  return notification_.Register(main_, storeFolder);
}

void Win32ClientWindow::DisarmChangeNotification(unsigned long) { notification_.Deregister(); }

}  // namespace kestrelon
