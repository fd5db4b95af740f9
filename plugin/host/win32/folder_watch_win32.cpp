// A change notification handle on the folder (FindFirstChangeNotification).
#include "plugin/host/folder_watch.h"

#include <windows.h>

namespace kestrelon {

FolderWatch::~FolderWatch() { Stop(); }

bool FolderWatch::Start(const std::string& folder) {
  Stop();
  HANDLE handle = FindFirstChangeNotificationA(
      folder.c_str(), FALSE, FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_SIZE | FILE_NOTIFY_CHANGE_LAST_WRITE);
  if (handle == INVALID_HANDLE_VALUE) return false;
  handle_ = handle;
  return true;
}

void FolderWatch::Stop() {
  if (handle_) FindCloseChangeNotification(static_cast<HANDLE>(handle_));
  handle_ = nullptr;
}

bool FolderWatch::Active() const { return handle_ != nullptr; }

bool FolderWatch::Wait(uint32_t timeoutMs) {
  if (!handle_) {
    Sleep(timeoutMs);
    return false;
  }
  if (WaitForSingleObject(static_cast<HANDLE>(handle_), timeoutMs) != WAIT_OBJECT_0) return false;
  FindNextChangeNotification(static_cast<HANDLE>(handle_));
  return true;
}

}  // namespace kestrelon
