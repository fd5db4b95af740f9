#include "plugin/host/win32/shell_notification.h"

#include "plugin/host/client_window.h"

#include <shlobj.h>

namespace kestrelon {

namespace {

struct NotifyEntry {
  LPCITEMIDLIST pidl;
  BOOL recursive;
};

using RegisterFunction = ULONG(WINAPI*)(HWND, int, LONG, UINT, int, const NotifyEntry*);
using DeregisterFunction = BOOL(WINAPI*)(ULONG);

constexpr int kSources = 0x0001 | 0x0002;  // SHCNRF_InterruptLevel | SHCNRF_ShellLevel
constexpr LONG kEvents = 0x3000;           // SHCNE_UPDATEDIR | SHCNE_UPDATEITEM
constexpr int kMaxPath = 260;

// The folder's item identifier list, or null when it cannot be parsed.
LPITEMIDLIST ParseFolder(HWND window, const std::string& folder) {
  WCHAR wide[kMaxPath] = {};
  if (!MultiByteToWideChar(CP_OEMCP, 0, folder.c_str(), -1, wide, kMaxPath)) return nullptr;
  IShellFolder* desktop = nullptr;
  if (FAILED(SHGetDesktopFolder(&desktop)) || !desktop) return nullptr;
  LPITEMIDLIST pidl = nullptr;
  ULONG eaten = 0;
  if (FAILED(desktop->ParseDisplayName(window, nullptr, wide, &eaten, &pidl, nullptr))) pidl = nullptr;
  desktop->Release();
  return pidl;
}

void FreeIdList(LPITEMIDLIST pidl) {
  IMalloc* allocator = nullptr;
  if (pidl && SUCCEEDED(SHGetMalloc(&allocator)) && allocator) {
    allocator->Free(pidl);
    allocator->Release();
  }
}

}  // namespace

unsigned long ShellChangeNotification::Register(HWND window, const std::string& storeFolder) {
  Deregister();
  shell_ = LoadLibraryA("SHELL32.DLL");
  if (!shell_) return 0;
  auto registerNotify = reinterpret_cast<RegisterFunction>(
      reinterpret_cast<void*>(GetProcAddress(shell_, MAKEINTRESOURCEA(2))));
  if (!registerNotify) return 0;
  LPITEMIDLIST pidl = ParseFolder(window, storeFolder);
  // Without a parsed folder the desktop (the empty list) is watched.
  static const USHORT kEmptyList = 0;
  NotifyEntry entry{pidl ? pidl : reinterpret_cast<LPCITEMIDLIST>(&kEmptyList), TRUE};
  id_ = registerNotify(window, kSources, kEvents, kNewMailTimerId, 1, &entry);
  FreeIdList(pidl);
  return id_;
}

void ShellChangeNotification::Deregister() {
  if (shell_) {
    auto deregister = reinterpret_cast<DeregisterFunction>(
        reinterpret_cast<void*>(GetProcAddress(shell_, MAKEINTRESOURCEA(4))));
    if (deregister && id_) deregister(id_);
    FreeLibrary(shell_);
  }
  shell_ = nullptr;
  id_ = 0;
}

}  // namespace kestrelon
