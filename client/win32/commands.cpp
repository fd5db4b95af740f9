#include "client/win32/commands.h"

#include "client/win32/image_digest.h"
#include "client/win32/text_convert.h"

#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <map>

namespace kestrelon::client {

namespace {

using AttachFunction = LONG_PTR(WINAPI*)(HWND);

std::vector<std::string> SplitWords(const std::string& line) {
  std::vector<std::string> words;
  size_t i = 0;
  while (i < line.size()) {
    if (line[i] == ' ') {
      ++i;
      continue;
    }
    size_t end;
    if (line[i] == '"') {
      end = line.find('"', i + 1);
      if (end == std::string::npos) end = line.size();
      words.push_back(line.substr(i + 1, end - i - 1));
      i = end + 1;
    } else {
      end = line.find(' ', i);
      if (end == std::string::npos) end = line.size();
      words.push_back(line.substr(i, end - i));
      i = end;
    }
  }
  return words;
}

// The text after the first `skip` words of a line.
std::string RestOfLine(const std::string& line, int skip) {
  size_t i = 0;
  for (int w = 0; w < skip; ++w) {
    while (i < line.size() && line[i] == ' ') ++i;
    while (i < line.size() && line[i] != ' ') ++i;
  }
  if (i < line.size() && line[i] == ' ') ++i;
  return line.substr(i);
}

bool ParseNumber(const std::string& text, long& value) {
  if (text.empty()) return false;
  char* end = nullptr;
  value = std::strtol(text.c_str(), &end, 10);
  return *end == '\0';
}

std::string ClassName(HWND window) {
  wchar_t cls[256] = L"";
  GetClassNameW(window, cls, 256);
  return Utf8(cls);
}

HWND FindByClass(HWND root, const std::string& cls) {
  if (ClassName(root) == cls) return root;
  for (HWND child = GetWindow(root, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    if (HWND found = FindByClass(child, cls)) return found;
  }
  return nullptr;
}

void DescribeTree(HWND window, int depth, std::vector<std::string>& lines) {
  lines.push_back(std::string(depth * 2, ' ') + ClassName(window) + "\t" + WindowTextOf(window));
  for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
    DescribeTree(child, depth + 1, lines);
}

const std::map<std::string, int> kMenuPositions = {{"file", 0}, {"edit", 1}, {"view", 2}, {"tools", 3}, {"help", 4}};
const std::map<std::string, int> kButtons = {{"ok", IDOK}, {"cancel", IDCANCEL}, {"yes", IDYES}, {"no", IDNO}};
const std::map<std::string, FolderItem> kFolders = {
    {"local", FolderItem::LocalFolders}, {"inbox", FolderItem::Inbox},        {"outbox", FolderItem::Outbox},
    {"sent", FolderItem::SentItems},     {"deleted", FolderItem::DeletedItems}, {"drafts", FolderItem::Drafts}};

std::string Hex(LONG_PTR value) {
  char text[32];
  snprintf(text, sizeof text, "%llx", static_cast<unsigned long long>(value));
  return text;
}

struct CommandError {
  std::string why;
};

int MenuPosition(const std::vector<std::string>& words) {
  if (words.size() != 2 || !kMenuPositions.count(words[1])) throw CommandError{"menu name: file edit view tools help"};
  return kMenuPositions.at(words[1]);
}

long NumberArgument(const std::vector<std::string>& words, size_t index) {
  long value = 0;
  if (words.size() <= index || !ParseNumber(words[index], value)) throw CommandError{"number expected"};
  return value;
}

}  // namespace

MainWindow& CommandInterpreter::Window() {
  if (!windows_[current_]->Handle()) {
    for (size_t i = 0; i < windows_.size(); ++i) {
      if (windows_[i]->Handle()) current_ = i;
      if (windows_[i]->Handle()) break;
    }
  }
  if (!windows_[current_]->Handle()) throw CommandError{"no main window open"};
  return *windows_[current_];
}

MainWindow& CommandInterpreter::Numbered(const std::vector<std::string>& words) {
  long n = NumberArgument(words, 1);
  if (n < 1 || static_cast<size_t>(n) > windows_.size() || !windows_[n - 1]->Handle())
    throw CommandError{"no main window " + words[1]};
  return *windows_[n - 1];
}

void CommandInterpreter::Execute(const std::string& line) {
  std::vector<std::string> words = SplitWords(line);
  if (words.empty()) return;
  try {
    if (words[0] != "quit") Window().RefreshList();
    Run(words, line);
    Out("ok");
  } catch (const CommandError& e) {
    Out("error\t" + e.why);
  } catch (const std::exception& e) {
    Out(std::string("error\t") + e.what());
  }
}

bool CommandInterpreter::Attach(const std::wstring& library, HWND target, LONG_PTR& result, std::string& error) {
  if (!plugin_) plugin_ = LoadLibraryW(library.c_str());
  if (!plugin_) {
    error = "cannot load " + Utf8(library) + " (" + std::to_string(GetLastError()) + ")";
    return false;
  }
  auto attach = reinterpret_cast<AttachFunction>(
      reinterpret_cast<void*>(GetProcAddress(plugin_, "AttachOutlookExpressPlugin")));
  if (!attach) {
    error = "no AttachOutlookExpressPlugin in " + Utf8(library);
    return false;
  }
  result = attach(target);
  // Like the client, the window goes on creating child windows once the plug-in is in.
  for (MainWindow* window : windows_) {
    if (target == window->Handle()) window->CreateLateChild();
  }
  return true;
}

void CommandInterpreter::OpenPopup(int position) {
  MainWindow& window = Window();
  HWND main = window.Handle();
  RECT item{};
  GetMenuItemRect(main, GetMenu(main), position, &item);
  TrackPopupMenu(window.Popup(position), TPM_LEFTALIGN | TPM_TOPALIGN, item.left, item.bottom, 0, main, nullptr);
}

void CommandInterpreter::OnDialog(HWND dialog) {
  if (!IsWindow(dialog) || dialogs_.OnActivated(dialog)) return;
  std::vector<std::string> lines = DialogWatch::Describe(dialog);
  std::string text;
  for (size_t i = 1; i < lines.size() && text.empty(); ++i) {
    // The first label: a message box's text, or a dialog's first caption.
    if (lines[i].rfind("control\t-1\tStatic\t", 0) == 0) {
      text = lines[i].substr(18);
      text = text.substr(0, text.find('\t'));
    }
  }
  Out("dialog\t" + lines.front() + "\t" + text);
}

void CommandInterpreter::Run(const std::vector<std::string>& words, const std::string& line) {
  const std::string& name = words[0];
  if (name == "quit") {
    for (MainWindow* window : windows_) {
      if (window->Handle()) DestroyWindow(window->Handle());
    }
    return;
  }
  MainWindow& current = Window();
  HWND main = current.Handle();
  HWND toolbar = current.MainToolbar();

  if (name == "attach") {
    if (words.size() < 2 || words.size() > 3) throw CommandError{"attach DLL [CLASS|second]"};
    HWND target = words.size() < 3 ? main : words[2] == "second" ? (windows_.size() > 1 ? windows_[1]->Handle() : nullptr)
                                                                 : FindByClass(main, words[2]);
    if (!target) throw CommandError{"no window " + words[2]};
    LONG_PTR result = 0;
    std::string error;
    if (!Attach(FromUtf8(words[1]), target, result, error)) throw CommandError{error};
    Out("attach\t" + Hex(result));
  } else if (name == "window") {
    if (words.size() != 2) throw CommandError{"window CLASS"};
    HWND target = FindByClass(main, words[1]);
    if (!target) throw CommandError{"no window of class " + words[1]};
    bool subclassed = static_cast<ULONG_PTR>(GetWindowLongPtrW(target, GWLP_WNDPROC)) !=
                      GetClassLongPtrW(target, GCLP_WNDPROC);
    Out("window\t" + WindowTextOf(target) + "\torigproc=" + (GetPropA(target, "OrigProc") ? "1" : "0") +
        "\tsubclassed=" + (subclassed ? "1" : "0"));
  } else if (name == "tree") {
    std::vector<std::string> lines;
    DescribeTree(main, 0, lines);
    for (const std::string& l : lines) Out(l);
  } else if (name == "menu") {
    int position = MenuPosition(words);
    HMENU popup = current.Popup(position);
    SendMessageW(main, WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(popup), MAKELPARAM(position, FALSE));
    int count = GetMenuItemCount(popup);
    for (int i = 0; i < count; ++i) {
      wchar_t text[256] = L"";
      MENUITEMINFOW info{};
      info.cbSize = sizeof info;
      info.fMask = MIIM_FTYPE | MIIM_ID | MIIM_STATE | MIIM_STRING;
      info.dwTypeData = text;
      info.cch = 256;
      GetMenuItemInfoW(popup, i, TRUE, &info);
      if (info.fType & MFT_SEPARATOR) {
        Out("separator");
        continue;
      }
      Out("item\t" + std::to_string(info.wID) + "\t" + ((info.fState & MFS_GRAYED) ? "grayed" : "enabled") + "\t" +
          EscapedText(text));
    }
  } else if (name == "popup") {
    PostMessageW(commandWindow_, kPopupMessage, MenuPosition(words), 0);
  } else if (name == "endmenu") {
    EndMenu();
  } else if (name == "menus") {
    current.RebuildMenus();
  } else if (name == "toolbar") {
    auto normal = reinterpret_cast<HIMAGELIST>(SendMessageW(toolbar, TB_GETIMAGELIST, 0, 0));
    auto hot = reinterpret_cast<HIMAGELIST>(SendMessageW(toolbar, TB_GETHOTIMAGELIST, 0, 0));
    int w = 0, h = 0;
    ImageList_GetIconSize(normal, &w, &h);
    Out("images\t" + std::to_string(ImageList_GetImageCount(normal)) + "\t" +
        std::to_string(hot ? ImageList_GetImageCount(hot) : -1) + "\t" + std::to_string(w) + "x" + std::to_string(h));
    int count = static_cast<int>(SendMessageW(toolbar, TB_BUTTONCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
      TBBUTTON button{};
      SendMessageW(toolbar, TB_GETBUTTON, i, reinterpret_cast<LPARAM>(&button));
      if (button.fsStyle & BTNS_SEP) continue;
      wchar_t text[256] = L"";
      SendMessageW(toolbar, TB_GETBUTTONTEXTW, button.idCommand, reinterpret_cast<LPARAM>(text));
      Out("button\t" + std::to_string(i) + "\t" + std::to_string(button.idCommand) + "\t" +
          std::to_string(button.iBitmap) + "\t" + std::to_string(button.fsState) + "\t" + EscapedText(text));
    }
  } else if (name == "image") {
    long id = NumberArgument(words, 1);
    TBBUTTONINFOW info{};
    info.cbSize = sizeof info;
    info.dwMask = TBIF_IMAGE;
    if (SendMessageW(toolbar, TB_GETBUTTONINFOW, id, reinterpret_cast<LPARAM>(&info)) < 0)
      throw CommandError{"no button " + words[1]};
    auto normal = reinterpret_cast<HIMAGELIST>(SendMessageW(toolbar, TB_GETIMAGELIST, 0, 0));
    auto hot = reinterpret_cast<HIMAGELIST>(SendMessageW(toolbar, TB_GETHOTIMAGELIST, 0, 0));
    Out("image\t" + ImageDigest(normal, info.iImage) + "\t" + ImageDigest(hot, info.iImage));
  } else if (name == "press") {
    long id = NumberArgument(words, 1);
    RECT rect{};
    if (!SendMessageW(toolbar, TB_GETRECT, id, reinterpret_cast<LPARAM>(&rect))) throw CommandError{"no button"};
    LPARAM point = MAKELPARAM((rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2);
    commandsSeen_.clear();
    SendMessageW(toolbar, WM_MOUSEMOVE, 0, point);
    SendMessageW(toolbar, WM_LBUTTONDOWN, MK_LBUTTON, point);
    SendMessageW(toolbar, WM_LBUTTONUP, 0, point);
    for (int seen : commandsSeen_) Out("command\t" + std::to_string(seen));
  } else if (name == "command") {
    SendMessageW(main, WM_COMMAND, MAKEWPARAM(NumberArgument(words, 1), 0), 0);
  } else if (name == "state") {
    SendMessageW(toolbar, TB_SETSTATE, NumberArgument(words, 1), MAKELPARAM(NumberArgument(words, 2), 0));
  } else if (name == "icons") {
    long size = NumberArgument(words, 1);
    if (size != 16 && size != 22 && size != 24) throw CommandError{"icons 16, 22 or 24"};
    current.SetIconSize(static_cast<int>(size));
  } else if (name == "combo-off") {
    current.DropToolbarCombo();
  } else if (name == "child") {
    current.CreateLateChild();
  } else if (name == "new-window") {
    WindowOptions options = current.Options();
    options.storeFolder = current.StoreFolder();
    auto window = std::make_unique<MainWindow>(options);
    if (!window->Create()) throw CommandError{"cannot create a main window"};
    windows_.push_back(window.get());
    opened_.push_back(std::move(window));
    Out("window\t" + std::to_string(windows_.size()));
  } else if (name == "use") {
    MainWindow& chosen = Numbered(words);
    current_ = std::find(windows_.begin(), windows_.end(), &chosen) - windows_.begin();
  } else if (name == "close") {
    DestroyWindow(Numbered(words).Handle());
  } else if (name == "folder") {
    if (words.size() != 2 || !kFolders.count(words[1])) throw CommandError{"folder inbox|outbox|sent|deleted|drafts|local"};
    current.SelectFolder(kFolders.at(words[1]));
  } else if (name == "rows") {
    int n = 0;
    for (const ListRow& row : current.Rows()) {
      Out("row\t" + std::to_string(n++) + "\t" + std::to_string(row.id) + "\t" + (row.selected ? "1" : "0") + "\t" +
          EscapedText(row.from) + "\t" + EscapedText(row.subject) + "\t" + EscapedText(row.received));
    }
  } else if (name == "select") {
    std::vector<int> rows;
    for (size_t i = 1; i < words.size(); ++i) rows.push_back(static_cast<int>(NumberArgument(words, i)));
    if (!current.SelectRows(rows)) throw CommandError{"no such row"};
  } else if (name == "deliver") {
    std::vector<std::string> files;
    for (size_t i = 1; i < words.size(); ++i) files.push_back(ToAnsi(FromUtf8(words[i])));
    if (files.empty()) throw CommandError{"deliver FILE..."};
    for (uint32_t id : current.Deliver(files)) Out("delivered\t" + std::to_string(id));
  } else if (name == "receiving") {
    if (words.size() != 2 || (words[1] != "on" && words[1] != "off")) throw CommandError{"receiving on|off"};
    current.SetReceiving(words[1] == "on");
    if (words[1] == "off") current.NotifyStoreChanged();
  } else if (name == "status") {
    HWND status = current.StatusBar();
    int parts = static_cast<int>(SendMessageW(status, SB_GETPARTS, 0, 0));
    for (int i = 0; i < parts; ++i) {
      wchar_t text[512] = L"";
      if (LOWORD(SendMessageW(status, SB_GETTEXTLENGTHW, i, 0)) < 512)
        SendMessageW(status, SB_GETTEXTW, i, reinterpret_cast<LPARAM>(text));
      Out("part\t" + std::to_string(i) + "\t" + EscapedText(text));
    }
  } else if (name == "answer") {
    if (words.size() != 2 || !kButtons.count(words[1])) throw CommandError{"answer yes|no|ok|cancel"};
    dialogs_.QueueAnswer(kButtons.at(words[1]));
  } else if (name == "dialog") {
    HWND dialog = dialogs_.Top();
    if (!dialog) throw CommandError{"no dialog open"};
    std::vector<std::string> lines = DialogWatch::Describe(dialog);
    Out("open\t" + lines.front());
    for (size_t i = 1; i < lines.size(); ++i) Out(lines[i]);
  } else if (name == "click" || name == "set") {
    HWND dialog = dialogs_.Top();
    if (!dialog) throw CommandError{"no dialog open"};
    long id = NumberArgument(words, 1);
    HWND control = GetDlgItem(dialog, static_cast<int>(id));
    if (!control) throw CommandError{"no control " + words[1]};
    if (name == "set") {
      SetWindowTextW(control, FromUtf8(RestOfLine(line, 2)).c_str());
    } else if (ClassName(control) == "Button") {
      SendMessageW(control, BM_CLICK, 0, 0);
    } else {
      SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(control));
    }
  } else if (name == "rect") {
    HWND target = dialogs_.Top() ? dialogs_.Top() : main;
    RECT rect{};
    GetWindowRect(target, &rect);
    Out("rect\t" + std::to_string(rect.left) + "\t" + std::to_string(rect.top) + "\t" + std::to_string(rect.right) +
        "\t" + std::to_string(rect.bottom));
  } else if (name == "closed") {
    for (const std::string& l : dialogs_.TakeClosed()) Out(l);
  } else {
    throw CommandError{"unknown command " + name};
  }
}

}  // namespace kestrelon::client
