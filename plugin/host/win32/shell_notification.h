// New-mail detection on Windows: the shell's change notification for the store folder,
// delivered to the client's main window as WM_USER+5 (kNewMailTimerId) with the event
// code in lParam. SHChangeNotifyRegister and SHChangeNotifyDeregister are taken from
// SHELL32 by their ordinals 2 and 4, which every shell version exports.
#pragma once

#include <windows.h>

#include <string>

namespace kestrelon {

class ShellChangeNotification {
 public:
  ShellChangeNotification() = default;
  ~ShellChangeNotification() { Deregister(); }
  ShellChangeNotification(const ShellChangeNotification&) = delete;
  ShellChangeNotification& operator=(const ShellChangeNotification&) = delete;

  // Registers `window` for update-directory and update-item events anywhere below
  // `storeFolder` (interrupt and shell level, recursive). Returns the registration id,
  // 0 when SHELL32 or its export is missing or the shell refused.
  unsigned long Register(HWND window, const std::string& storeFolder);
  // Removes the registration and frees SHELL32; does nothing when not registered.
  void Deregister();

 private:
  HMODULE shell_ = nullptr;
  unsigned long id_ = 0;
};

}  // namespace kestrelon
