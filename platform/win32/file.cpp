#include "platform/file.h"

#include <windows.h>

namespace platform {
namespace {

HANDLE AsHandle(void* h) { return static_cast<HANDLE>(h); }

OVERLAPPED At(uint64_t offset) {
  OVERLAPPED ov{};
  ov.Offset = static_cast<DWORD>(offset & 0xFFFFFFFFu);
  ov.OffsetHigh = static_cast<DWORD>(offset >> 32);
  return ov;
}

}  // namespace

File::~File() { Close(); }

File::File(File&& other) noexcept
    : handle_(other.handle_), checkLocks_(other.checkLocks_), openError_(other.openError_) {
  other.handle_ = nullptr;
}

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = other.handle_;
    checkLocks_ = other.checkLocks_;
    other.handle_ = nullptr;
  }
  return *this;
}

bool File::Open(const std::string& path, Access access, unsigned share, Disposition disposition,
                bool randomAccess) {
  Close();
  DWORD desired = GENERIC_READ | (access == Access::ReadWrite ? GENERIC_WRITE : 0);
  DWORD shareFlags = ((share & kShareRead) ? FILE_SHARE_READ : 0) | ((share & kShareWrite) ? FILE_SHARE_WRITE : 0) |
                     ((share & kShareDelete) ? FILE_SHARE_DELETE : 0);
  DWORD creation = disposition == Disposition::OpenExisting ? OPEN_EXISTING
                   : disposition == Disposition::OpenAlways ? OPEN_ALWAYS
                   : disposition == Disposition::CreateNew  ? CREATE_NEW
                                                            : CREATE_ALWAYS;
  DWORD flags = FILE_ATTRIBUTE_NORMAL | (randomAccess ? FILE_FLAG_RANDOM_ACCESS : 0);
  // A reparse point (a symbolic link, a junction) at the name is the name taken, never a
  // way to somewhere else.
  if (disposition == Disposition::CreateNew) flags |= FILE_FLAG_OPEN_REPARSE_POINT;
  HANDLE h = CreateFileA(path.c_str(), desired, shareFlags, nullptr, creation, flags, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    DWORD error = GetLastError();
    openError_ = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND         ? OpenError::NotFound
                 : error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ? OpenError::InUse
                 : error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS        ? OpenError::Exists
                                                                                      : OpenError::Other;
    return false;
  }
  openError_ = OpenError::None;
  handle_ = h;
  return true;
}

bool File::IsOpen() const { return handle_ != nullptr; }

void File::Close() {
  if (handle_) CloseHandle(AsHandle(handle_));
  handle_ = nullptr;
}

bool File::ReadAt(uint64_t offset, void* buffer, size_t size, size_t& got) {
  got = 0;
  if (!handle_) return false;
  char* out = static_cast<char*>(buffer);
  while (got < size) {
    DWORD chunk = static_cast<DWORD>(size - got > 0x40000000u ? 0x40000000u : size - got);
    OVERLAPPED ov = At(offset + got);
    DWORD n = 0;
    if (!ReadFile(AsHandle(handle_), out + got, chunk, &n, &ov)) {
      if (GetLastError() == ERROR_HANDLE_EOF) break;
      return false;
    }
    if (n == 0) break;
    got += n;
  }
  return true;
}

bool File::WriteAt(uint64_t offset, const void* buffer, size_t size) {
  if (!handle_) return false;
  const char* in = static_cast<const char*>(buffer);
  size_t done = 0;
  while (done < size) {
    DWORD chunk = static_cast<DWORD>(size - done > 0x40000000u ? 0x40000000u : size - done);
    OVERLAPPED ov = At(offset + done);
    DWORD n = 0;
    if (!WriteFile(AsHandle(handle_), in + done, chunk, &n, &ov) || n == 0) return false;
    done += n;
  }
  return true;
}

bool File::Size(uint64_t& size) {
  LARGE_INTEGER li{};
  if (!handle_ || !GetFileSizeEx(AsHandle(handle_), &li)) return false;
  size = static_cast<uint64_t>(li.QuadPart);
  return true;
}

bool File::Truncate(uint64_t size) {
  if (!handle_) return false;
  LARGE_INTEGER li{};
  li.QuadPart = static_cast<LONGLONG>(size);
  return SetFilePointerEx(AsHandle(handle_), li, nullptr, FILE_BEGIN) && SetEndOfFile(AsHandle(handle_));
}

bool File::Flush() { return handle_ && FlushFileBuffers(AsHandle(handle_)); }

bool File::Lock(uint64_t offset, uint64_t length) {
  if (!handle_) return false;
  OVERLAPPED ov = At(offset);
  return LockFileEx(AsHandle(handle_), LOCKFILE_EXCLUSIVE_LOCK, 0, static_cast<DWORD>(length & 0xFFFFFFFFu),
                    static_cast<DWORD>(length >> 32), &ov) != 0;
}

bool File::Unlock(uint64_t offset, uint64_t length) {
  if (!handle_) return false;
  OVERLAPPED ov = At(offset);
  return UnlockFileEx(AsHandle(handle_), 0, static_cast<DWORD>(length & 0xFFFFFFFFu), static_cast<DWORD>(length >> 32),
                      &ov) != 0;
}

bool CopyFileReplace(const std::string& from, const std::string& to) {
  // Copied beside the target and moved over it, so a copy cut short leaves the old
  // target in place.
  std::string temp = to + ".copy-" + std::to_string(GetCurrentProcessId());
  if (!CopyFileA(from.c_str(), temp.c_str(), FALSE)) return false;
  if (MoveFileExA(temp.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
  DeleteFileA(temp.c_str());
  return false;
}

bool RenameFile(const std::string& from, const std::string& to) { return MoveFileA(from.c_str(), to.c_str()) != 0; }

bool RemoveFile(const std::string& path) { return DeleteFileA(path.c_str()) != 0; }

bool FileExists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool FileIsReadWritable(const std::string& path) {
  DWORD attrs = GetFileAttributesA(path.c_str());
  return attrs != INVALID_FILE_ATTRIBUTES && !(attrs & FILE_ATTRIBUTE_DIRECTORY) && !(attrs & FILE_ATTRIBUTE_READONLY);
}

bool CreateFolder(const std::string& path) {
  if (CreateDirectoryA(path.c_str(), nullptr)) return true;
  DWORD attrs = GetFileAttributesA(path.c_str());
  return attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_DIRECTORY);
}

bool LastWriteTime(const std::string& path, uint64_t& fileTime) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return false;
  fileTime = (static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime;
  return true;
}

}  // namespace platform
