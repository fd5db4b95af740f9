#include "platform/file_fault_control.h"

#include <windows.h>

#include <cstring>

namespace platform::file_fault {

std::string ReadVariable() {
  char buffer[1024];
  DWORD n = GetEnvironmentVariableA(kVariable, buffer, sizeof buffer);
  return n > 0 && n < sizeof buffer ? std::string(buffer, n) : std::string();
}

void WriteVariable(const std::string& value) {
  SetEnvironmentVariableA(kVariable, value.empty() ? nullptr : value.c_str());
}

void* MapControlFile(const std::string& path, const void* initial, size_t size) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return nullptr;
  void* view = nullptr;
  // The lock, on a byte past the mapped words, keeps a second module from mapping the
  // file while the first fills it.
  OVERLAPPED lock{};
  lock.Offset = static_cast<DWORD>(size);
  LARGE_INTEGER length{};
  if (LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &lock) && GetFileSizeEx(file, &length)) {
    bool fresh = static_cast<size_t>(length.QuadPart) < size;
    if (HANDLE mapping = CreateFileMappingA(file, nullptr, PAGE_READWRITE, 0, static_cast<DWORD>(size), nullptr)) {
      view = MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, size);
      if (view && fresh) std::memcpy(view, initial, size);
      CloseHandle(mapping);
    }
    UnlockFileEx(file, 0, 1, 0, &lock);
  }
  CloseHandle(file);
  return view;
}

void UnmapControlFile(void* view, size_t) {
  if (view) UnmapViewOfFile(view);
}

}  // namespace platform::file_fault
