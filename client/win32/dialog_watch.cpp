#include "client/win32/dialog_watch.h"

#include "client/win32/main_window.h"
#include "client/win32/text_convert.h"

#include <commctrl.h>

#include <algorithm>
#include <cwchar>

namespace kestrelon::client {

namespace {

DialogWatch* watch = nullptr;

bool IsDialog(HWND window) {
  wchar_t cls[16];
  return GetClassNameW(window, cls, 16) && wcscmp(cls, L"#32770") == 0;
}

std::string ClassOf(HWND window) {
  wchar_t cls[128] = L"";
  GetClassNameW(window, cls, 128);
  return Utf8(cls);
}

void DescribeList(HWND list, std::vector<std::string>& lines) {
  HWND header = reinterpret_cast<HWND>(SendMessageW(list, LVM_GETHEADER, 0, 0));
  int columns = header ? static_cast<int>(SendMessageW(header, HDM_GETITEMCOUNT, 0, 0)) : 0;
  for (int c = 0; c < columns; ++c) {
    wchar_t text[256] = L"";
    LVCOLUMNW column{};
    column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT;
    column.pszText = text;
    column.cchTextMax = 256;
    SendMessageW(list, LVM_GETCOLUMNW, c, reinterpret_cast<LPARAM>(&column));
    const char* align = (column.fmt & LVCFMT_JUSTIFYMASK) == LVCFMT_RIGHT    ? "right"
                        : (column.fmt & LVCFMT_JUSTIFYMASK) == LVCFMT_CENTER ? "center"
                                                                             : "left";
    lines.push_back("column\t" + std::to_string(c) + "\t" + EscapedText(text) + "\t" + std::to_string(column.cx) +
                    "\t" + align);
  }
  int rows = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
  for (int r = 0; r < rows; ++r) {
    std::string line = "row\t" + std::to_string(r);
    for (int c = 0; c < std::max(columns, 1); ++c) {
      wchar_t text[1024] = L"";
      LVITEMW cell{};
      cell.iSubItem = c;
      cell.pszText = text;
      cell.cchTextMax = 1024;
      SendMessageW(list, LVM_GETITEMTEXTW, r, reinterpret_cast<LPARAM>(&cell));
      line += "\t" + EscapedText(text);
    }
    lines.push_back(line);
  }
}

}  // namespace

std::string EscapedText(const std::wstring& text) {
  std::string raw = Utf8(text), out;
  for (char c : raw) {
    switch (c) {
      case '\t': out += "\\t"; break;
      case '\r': out += "\\r"; break;
      case '\n': out += "\\n"; break;
      case '\\': out += "\\\\"; break;
      default: out += c;
    }
  }
  return out;
}

std::string WindowTextOf(HWND window) {
  int n = GetWindowTextLengthW(window);
  std::wstring text(n + 1, L'\0');
  text.resize(GetWindowTextW(window, text.data(), n + 1));
  return EscapedText(text);
}

bool DialogWatch::Install(HWND notify) {
  notify_ = notify;
  watch = this;
  hook_ = SetWindowsHookExW(WH_CBT, Hook, nullptr, GetCurrentThreadId());
  return hook_ != nullptr;
}

void DialogWatch::Uninstall() {
  if (hook_) UnhookWindowsHookEx(hook_);
  hook_ = nullptr;
  watch = nullptr;
}

LRESULT CALLBACK DialogWatch::Hook(int code, WPARAM wParam, LPARAM lParam) {
  if (watch && code >= 0) {
    HWND window = reinterpret_cast<HWND>(wParam);
    if (code == HCBT_ACTIVATE && IsDialog(window)) {
      if (std::find(watch->open_.begin(), watch->open_.end(), window) == watch->open_.end())
        watch->open_.push_back(window);
      PostMessageW(watch->notify_, kDialogMessage, 0, reinterpret_cast<LPARAM>(window));
    } else if (code == HCBT_DESTROYWND && IsDialog(window)) {
      watch->OnDestroy(window);
    }
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

bool DialogWatch::OnActivated(HWND dialog) {
  if (!IsWindow(dialog) || answers_.empty()) return false;
  HWND button = GetDlgItem(dialog, answers_.front());
  if (!button) return false;
  int id = answers_.front();
  answers_.pop_front();
  answered_.emplace_back(dialog, id);
  PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(button));
  return true;
}

HWND DialogWatch::Top() const {
  for (auto it = open_.rbegin(); it != open_.rend(); ++it) {
    if (IsWindow(*it) && IsWindowEnabled(*it)) return *it;
  }
  return nullptr;
}

void DialogWatch::OnDestroy(HWND dialog) {
  std::vector<std::string> lines = Describe(dialog);
  closed_.push_back("closed\t" + lines.front());
  closed_.insert(closed_.end(), lines.begin() + 1, lines.end());
  for (auto it = answered_.begin(); it != answered_.end();) {
    if (it->first == dialog) {
      closed_.push_back("answered\t" + std::to_string(it->second));
      it = answered_.erase(it);
    } else {
      ++it;
    }
  }
  open_.erase(std::remove(open_.begin(), open_.end(), dialog), open_.end());
}

std::vector<std::string> DialogWatch::TakeClosed() {
  std::vector<std::string> lines;
  lines.swap(closed_);
  return lines;
}

std::vector<std::string> DialogWatch::Describe(HWND dialog) {
  std::vector<std::string> lines{WindowTextOf(dialog)};
  for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    std::string cls = ClassOf(child);
    std::string flags;
    auto flag = [&flags](const std::string& f) { flags += (flags.empty() ? "" : " ") + f; };
    if (cls == "Button" && SendMessageW(child, BM_GETCHECK, 0, 0) == BST_CHECKED) flag("checked");
    if (!IsWindowEnabled(child)) flag("disabled");
    if (!(GetWindowLongW(child, GWL_STYLE) & WS_VISIBLE)) flag("hidden");
    if (cls == "msctls_progress32") {
      PBRANGE range{};
      SendMessageW(child, PBM_GETRANGE, FALSE, reinterpret_cast<LPARAM>(&range));
      flag("range=" + std::to_string(range.iLow) + "-" + std::to_string(range.iHigh));
      flag("pos=" + std::to_string(SendMessageW(child, PBM_GETPOS, 0, 0)));
    }
    int id = GetDlgCtrlID(child);
    lines.push_back("control\t" + std::to_string(static_cast<int>(static_cast<short>(id))) + "\t" + cls + "\t" +
                    WindowTextOf(child) + "\t" + flags);
    if (cls == "SysListView32") DescribeList(child, lines);
  }
  return lines;
}

}  // namespace kestrelon::client
