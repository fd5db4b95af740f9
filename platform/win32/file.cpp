#include "platform/file.h"

#include "platform/file_fault.h"
#include "platform/guarded_copy.h"
#include "platform/memory_files.h"

#include <windows.h>

#include <algorithm>

namespace platform {
namespace {

HANDLE AsHandle(void* h) { return static_cast<HANDLE>(h); }

// How far a mapped file grows past its view before reads take a new view.
constexpr uint64_t kRemapStep = 1 << 20;

OVERLAPPED At(uint64_t offset) {
  OVERLAPPED ov{};
  ov.Offset = static_cast<DWORD>(offset & 0xFFFFFFFFu);
  ov.OffsetHigh = static_cast<DWORD>(offset >> 32);
  return ov;
}

bool WriteAll(HANDLE handle, uint64_t offset, const void* buffer, size_t size) {
  const char* in = static_cast<const char*>(buffer);
  size_t done = 0;
  while (done < size) {
    DWORD chunk = static_cast<DWORD>(size - done > 0x40000000u ? 0x40000000u : size - done);
    OVERLAPPED ov = At(offset + done);
    DWORD n = 0;
    if (!WriteFile(handle, in + done, chunk, &n, &ov) || n == 0) return false;
    done += n;
  }
  return true;
}

// An operation that the fault layer fails.
bool Fails(file_fault::Error error) {
  SetLastError(error == file_fault::Error::Io      ? ERROR_IO_DEVICE
               : error == file_fault::Error::Quota ? ERROR_HANDLE_DISK_FULL
                                                   : ERROR_DISK_FULL);
  return false;
}

}  // namespace

File::~File() { Close(); }

File::File(File&& other) noexcept
    : handle_(other.handle_),
      checkLocks_(other.checkLocks_),
      mapWanted_(other.mapWanted_),
      map_(other.map_),
      mapSize_(other.mapSize_),
      writable_(other.writable_),
      openError_(other.openError_),
      watched_(other.watched_),
      path_(std::move(other.path_)),
      memory_(std::move(other.memory_)) {
  other.handle_ = nullptr;
  other.mapWanted_ = false;
  other.map_ = nullptr;
  other.mapSize_ = 0;
}

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = other.handle_;
    checkLocks_ = other.checkLocks_;
    mapWanted_ = other.mapWanted_;
    map_ = other.map_;
    mapSize_ = other.mapSize_;
    writable_ = other.writable_;
    watched_ = other.watched_;
    path_ = std::move(other.path_);
    memory_ = std::move(other.memory_);
    other.handle_ = nullptr;
    other.mapWanted_ = false;
    other.map_ = nullptr;
    other.mapSize_ = 0;
  }
  return *this;
}

bool File::Open(const std::string& path, Access access, unsigned share, Disposition disposition,
                bool randomAccess) {
  Close();
  watched_ = file_fault::Attached();
  path_ = watched_ ? path : std::string();
  checkLocks_ = true;
  writable_ = access == Access::ReadWrite;
  if (memory_files::Holds(path)) {
    memory_ = memory_files::Open(path, access == Access::ReadWrite, disposition, openError_);
    return memory_ != nullptr;
  }
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

bool File::IsOpen() const { return handle_ != nullptr || memory_; }

void File::Close() {
  Unmap();
  mapWanted_ = false;
  if (handle_) CloseHandle(AsHandle(handle_));
  handle_ = nullptr;
  memory_.reset();
}

bool File::ReadAt(uint64_t offset, void* buffer, size_t size, size_t& got) {
  got = 0;
  if (memory_) return memory_->Read(offset, buffer, size, got);
  if (!handle_) return false;
  if (mapWanted_) {
    // A view cannot grow: the part of the file written since it was made is read with
    // calls until that part is large enough to be worth a new view, which must touch
    // every page again.
    uint64_t fileSize = 0;
    if (!(offset <= mapSize_ && size <= mapSize_ - offset) && Size(fileSize) &&
        (!map_ || fileSize < mapSize_ || fileSize - mapSize_ >= kRemapStep))
      Remap();
    if (mapWanted_ && offset <= mapSize_ && size <= mapSize_ - offset) {
      if (!GuardedCopy(buffer, map_ + offset, size)) return MappingFailed();
      got = size;
      return true;
    }
  }
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
  if (!IsOpen()) return false;
  std::optional<file_fault::Error> fault;
  if (watched_) fault = file_fault::Hit(file_fault::kWrite, path_);
  size_t part = fault ? file_fault::BytesWrittenBeforeFailing(*fault, offset, size) : size;
  bool ok = memory_ ? memory_->Write(offset, buffer, part)
            : mapWanted_ && offset <= mapSize_ && part <= mapSize_ - offset
                ? GuardedCopy(map_ + offset, buffer, part) || MappingFailed()
                : WriteAll(AsHandle(handle_), offset, buffer, part);
  return fault ? Fails(*fault) : ok;
}

bool File::Size(uint64_t& size) {
  if (memory_) {
    size = memory_->Size();
    return true;
  }
  LARGE_INTEGER li{};
  if (!handle_ || !GetFileSizeEx(AsHandle(handle_), &li)) return false;
  size = static_cast<uint64_t>(li.QuadPart);
  return true;
}

bool File::Truncate(uint64_t size) {
  if (!IsOpen()) return false;
  if (watched_)
    if (auto fault = file_fault::Hit(file_fault::kTruncate, path_)) return Fails(*fault);
  if (memory_) return memory_->Truncate(size);
  Unmap();  // a mapped file cannot be cut; mapped again at the next access
  LARGE_INTEGER li{};
  li.QuadPart = static_cast<LONGLONG>(size);
  return SetFilePointerEx(AsHandle(handle_), li, nullptr, FILE_BEGIN) && SetEndOfFile(AsHandle(handle_));
}

// A view cannot grow: a file that grew gets a new one.
bool File::Remap() {
  uint64_t size = 0;
  if (!handle_ || !Size(size) || size > SIZE_MAX) {
    Unmap();
    mapWanted_ = false;
    return false;
  }
  if (map_ && size == mapSize_) return true;
  Unmap();
  if (size == 0) return true;
  HANDLE section = CreateFileMappingA(AsHandle(handle_), nullptr, writable_ ? PAGE_READWRITE : PAGE_READONLY, 0, 0,
                                     nullptr);
  void* view = section ? MapViewOfFile(section, writable_ ? FILE_MAP_WRITE : FILE_MAP_READ, 0, 0, 0) : nullptr;
  if (section) CloseHandle(section);  // the view keeps it
  if (!view) {
    mapWanted_ = false;  // read and written with calls from now on
    return false;
  }
  map_ = static_cast<unsigned char*>(view);
  mapSize_ = size;
  return true;
}

void File::Unmap() {
  if (map_) UnmapViewOfFile(map_);
  map_ = nullptr;
  mapSize_ = 0;
}

bool File::Flush() {
  if (!IsOpen()) return false;
  if (watched_)
    if (auto fault = file_fault::Hit(file_fault::kFlush, path_)) return Fails(*fault);
  return memory_ || FlushFileBuffers(AsHandle(handle_)) != 0;
}

// A memory file has one user at a time: its locks always succeed.
bool File::Lock(uint64_t offset, uint64_t length) {
  if (memory_) return true;
  if (!handle_) return false;
  OVERLAPPED ov = At(offset);
  return LockFileEx(AsHandle(handle_), LOCKFILE_EXCLUSIVE_LOCK, 0, static_cast<DWORD>(length & 0xFFFFFFFFu),
                    static_cast<DWORD>(length >> 32), &ov) != 0;
}

LockResult File::TryLock(uint64_t offset, uint64_t length) {
  if (memory_) return LockResult::Locked;
  if (!handle_) return LockResult::Failed;
  OVERLAPPED ov = At(offset);
  if (LockFileEx(AsHandle(handle_), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0,
                 static_cast<DWORD>(length & 0xFFFFFFFFu), static_cast<DWORD>(length >> 32), &ov))
    return LockResult::Locked;
  DWORD error = GetLastError();
  return error == ERROR_LOCK_VIOLATION || error == ERROR_IO_PENDING ? LockResult::Busy : LockResult::Failed;
}

bool File::Unlock(uint64_t offset, uint64_t length) {
  if (memory_) return true;
  if (!handle_) return false;
  OVERLAPPED ov = At(offset);
  return UnlockFileEx(AsHandle(handle_), 0, static_cast<DWORD>(length & 0xFFFFFFFFu), static_cast<DWORD>(length >> 32),
                      &ov) != 0;
}

bool CopyFileReplace(const std::string& from, const std::string& to) {
  if (memory_files::Holds(from) || memory_files::Holds(to)) {
    if (auto fault = file_fault::Hit(file_fault::kWrite, to)) return Fails(*fault);
    if (auto fault = file_fault::Hit(file_fault::kRename, to)) return Fails(*fault);
    return memory_files::Holds(from) && memory_files::Holds(to) && memory_files::Copy(from, to);
  }
  // Copied beside the target and moved over it, so a copy cut short leaves the old
  // target in place.
  std::string temp = to + ".copy-" + std::to_string(GetCurrentProcessId());
  if (auto fault = file_fault::Hit(file_fault::kWrite, to)) return Fails(*fault);
  if (!CopyFileA(from.c_str(), temp.c_str(), FALSE)) return false;
  std::optional<file_fault::Error> fault = file_fault::Hit(file_fault::kRename, to);
  if (!fault && MoveFileExA(temp.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
  DeleteFileA(temp.c_str());
  return fault ? Fails(*fault) : false;
}

bool RenameFile(const std::string& from, const std::string& to) {
  if (auto fault = file_fault::Hit(file_fault::kRename, from)) return Fails(*fault);
  if (memory_files::Holds(from) || memory_files::Holds(to))
    return memory_files::Holds(from) && memory_files::Holds(to) && memory_files::Rename(from, to);
  return MoveFileA(from.c_str(), to.c_str()) != 0;
}

bool RemoveFile(const std::string& path) {
  if (auto fault = file_fault::Hit(file_fault::kRemove, path)) return Fails(*fault);
  if (memory_files::Holds(path)) return memory_files::Remove(path);
  return DeleteFileA(path.c_str()) != 0;
}

bool FileExists(const std::string& path) {
  if (memory_files::Holds(path)) return memory_files::Exists(path);
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool FileIsReadable(const std::string& path) {
  if (memory_files::Holds(path)) return memory_files::Exists(path);
  DWORD attrs = GetFileAttributesA(path.c_str());
  return attrs != INVALID_FILE_ATTRIBUTES && !(attrs & FILE_ATTRIBUTE_DIRECTORY);
}

bool FileIsReadWritable(const std::string& path) {
  if (memory_files::Holds(path)) return memory_files::Exists(path);
  DWORD attrs = GetFileAttributesA(path.c_str());
  return attrs != INVALID_FILE_ATTRIBUTES && !(attrs & FILE_ATTRIBUTE_DIRECTORY) && !(attrs & FILE_ATTRIBUTE_READONLY);
}

bool CreateFolder(const std::string& path) {
  if (memory_files::Holds(path)) return true;
  if (CreateDirectoryA(path.c_str(), nullptr)) return true;
  DWORD attrs = GetFileAttributesA(path.c_str());
  return attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_DIRECTORY);
}

bool LastWriteTime(const std::string& path, uint64_t& fileTime) {
  if (memory_files::Holds(path)) return memory_files::LastWriteTime(path, fileTime);
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return false;
  fileTime = (static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime;
  return true;
}

}  // namespace platform
