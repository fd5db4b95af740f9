// The Win32 side of the client-window seam: the mail client's real windows, found inside
// its main window by their window classes. It also keeps what the window integration
// remembers of the client (menus, toolbars, folder tree, status bar, the toolbar
// button's indexes).
#pragma once

#include "plugin/host/client_window.h"
#include "plugin/host/win32/shell_notification.h"

#include <windows.h>

#include <string>

namespace kestrelon {

// The first child of `parent` of window class `cls` (and title `title` when given); null
// when `parent` is null or has none.
HWND FindChildWindow(HWND parent, const char* cls, const char* title = nullptr);

class Win32ClientWindow : public IClientWindow {
 public:
  explicit Win32ClientWindow(HWND mainWindow) : main_(mainWindow) {}
  ~Win32ClientWindow() override;

  HWND MainWindow() const { return main_; }

  std::string LoadText(unsigned id, size_t bufferChars) override;
  BoxAnswer ShowBox(BoxOwner owner, const std::string& caption, const std::string& text, BoxButtons buttons,
                    BoxIcon icon) override;
  bool HasStatusBar() override { return statusBar != nullptr; }
  std::string StatusText(int part) override;
  void SetStatusText(int part, const std::string& text) override;
  void OpenProgress() override;
  void SetProgressText(const std::string& text) override;
  void SetProgressRange(uint16_t maximum, int step) override;
  void StepProgress() override;
  void CloseProgress() override;
  void ShowWaitCursor() override;
  void RestoreCursor() override;
  bool HasMessageList() override { return MessageList() != nullptr; }
  std::vector<std::string> HeaderTexts() override;
  int NextSelectedRow(int row) override;
  std::string CellText(int row, int column) override;
  bool IsInboxSelected() override;
  uintptr_t ArmTimer(unsigned id, unsigned intervalMs) override;
  void DisarmTimer(uintptr_t timerId) override;
  unsigned long ArmChangeNotification(const std::string& storeFolder) override;
  void DisarmChangeNotification(unsigned long registrationId) override;

  // The client's message list view; null when a window on the way is missing.
  HWND MessageList() const;

  // What the window integration remembers of the client.
  HMENU toolsMenu = nullptr;
  HMENU editMenu = nullptr;
  HWND mainToolbar = nullptr;
  HWND secondToolbar = nullptr;
  HWND folderTree = nullptr;
  HWND statusBar = nullptr;
  bool smallIcons = false;
  int buttonIndex = -1;
  int normalImageIndex = -1;
  int buttonStringIndex = -1;

 private:
  HWND main_;
  HWND progress_ = nullptr;
  HCURSOR savedCursor_ = nullptr;
  ShellChangeNotification notification_;
};

}  // namespace kestrelon
