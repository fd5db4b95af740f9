// Files with Windows meaning on every system: an open states its access, what it lets
// other openers do (share mode) and whether the file must exist; byte-range locks are
// exclusive, wait for their holder, and make other handles' reads and writes of the
// locked bytes fail, as they do on Windows.
//
// On POSIX systems share modes and locks are kept with open-file-description locks, so
// they hold between processes and between two handles of one process alike.
#pragma once

#include "platform/prefetch.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace platform {

namespace memory_files {
class Handle;
}

enum class Access { Read, ReadWrite };

// Share-mode bits: what other openers of the same file may do while this handle is open.
enum ShareMode : unsigned {
  kShareNone = 0,
  kShareRead = 1,
  kShareWrite = 2,
  kShareDelete = 4,
};

enum class OpenError {
  None,
  NotFound,  // the file (or its folder) does not exist
  InUse,     // another handle's share mode, or this open's, forbids it
  Exists,    // CreateNew: something already has the name
  Other,
};

enum class LockResult {
  Locked,
  Busy,    // another handle holds an overlapping lock
  Failed,  // the request itself failed
};

enum class Disposition {
  OpenExisting,  // fails when the file is absent
  OpenAlways,    // opens, or creates an empty file
  CreateAlways,  // creates, or truncates an existing file to length 0
  CreateNew,     // creates; fails when anything has the name, a link included, which is
                 // never followed, so the file made is always a new one at that name
};

class File {
 public:
  File() = default;
  ~File();
  File(File&& other) noexcept;
  File& operator=(File&& other) noexcept;
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  // Opens `path`; false when it cannot be opened or the share modes of other open
  // handles forbid it. `randomAccess` is a caching hint only.
  bool Open(const std::string& path, Access access, unsigned share, Disposition disposition,
            bool randomAccess = false);
  // As Open, but while other handles' share modes forbid the open (OpenError::InUse) it
  // tries again, for at most `waitMs` milliseconds.
  bool OpenWaiting(const std::string& path, Access access, unsigned share, Disposition disposition,
                   bool randomAccess, uint32_t waitMs);
  bool IsOpen() const;
  void Close();
  // Why the last Open failed.
  OpenError LastOpenError() const { return openError_; }

  // Reads up to `size` bytes at `offset`; `got` receives the count (short at the end of
  // the file). False when the read fails, also when another handle locks any byte of the
  // range.
  bool ReadAt(uint64_t offset, void* buffer, size_t size, size_t& got);
  // Writes all `size` bytes at `offset`, growing the file as needed. False on failure or
  // when another handle locks any byte of the range.
  bool WriteAt(uint64_t offset, const void* buffer, size_t size);

  bool Size(uint64_t& size);
  bool Truncate(uint64_t size);
  bool Flush();

  // Reads and writes check that no other handle locks their bytes, as Windows does. A
  // handle whose file nobody else may write or lock while it is open (it denies writing
  // to others, or holds the lock itself around every access) may skip that check. Only
  // the POSIX side has a check to skip; Windows always checks.
  void SkipLockChecks() { checkLocks_ = false; }

  // From now until Close, reads and in-place writes of what the file holds go through a
  // shared mapping of it (memory copies instead of system calls); writes that grow the
  // file still use write calls, and the mapping follows the file's growth at the next
  // access beyond it. A fault of the mapped memory (a failing disk, a vanished share, the
  // file cut by another handle) fails the read or write as a failed call would. Only
  // for a handle that skips lock checks. False when the file cannot be mapped (a file in
  // memory, no address space): it is then read and written with calls as before.
  bool MapWrittenPart();
  bool Mapped() const { return mapWanted_; }
  // Asks the processor to fetch the mapped byte at `offset` ahead of a read; nothing
  // when the file is not mapped there.
  void Prefetch(uint64_t offset) const {
    if (map_ && offset < mapSize_) platform::Prefetch(map_ + offset);
  }
  // Ends the mapping: reads and writes use calls again.
  void UnmapWrittenPart() {
    Unmap();
    mapWanted_ = false;
  }

  // Exclusive lock of [offset, offset + length); waits while another handle holds an
  // overlapping lock. Only handles opened with write access can lock.
  bool Lock(uint64_t offset, uint64_t length);
  // The same without waiting: Busy when another handle holds an overlapping lock.
  LockResult TryLock(uint64_t offset, uint64_t length);
  // Waits at most `waitMs` milliseconds for the lock.
  LockResult LockWithin(uint64_t offset, uint64_t length, uint32_t waitMs);
  bool Unlock(uint64_t offset, uint64_t length);

 private:
#ifdef _WIN32
  void* handle_ = nullptr;
#else
  int fd_ = -1;
  // The file's size, kept while it can change only through this handle (it denies
  // writing to others): sizes and reads at the end then need no system call.
  bool soleWriter_ = false;
  bool sizeKnown_ = false;
  uint64_t knownSize_ = 0;
  // Address space mapped for the file beyond its end, so that the mapping follows its
  // growth without a new mapping each time.
  uint64_t mapReserved_ = 0;
#endif
  bool checkLocks_ = true;
  // The mapping (MapWrittenPart): the file's first mapSize_ bytes at map_.
  bool mapWanted_ = false;
  unsigned char* map_ = nullptr;
  uint64_t mapSize_ = 0;
  bool writable_ = false;
  // Maps the file as long as it is now; false (and no mapping wanted any more) on failure.
  bool Remap();
  void Unmap();
  // A read or write of [offset, offset + size) that the mapping can take, mapping the
  // file's growth first when it reaches beyond.
  bool InMapping(uint64_t offset, size_t size);
  // After an access to the mapping faulted: the file is mapped afresh at the next access,
  // as long as it is then. Returns false.
  bool MappingFailed();
  OpenError openError_ = OpenError::None;
  // Opened while the test-only fault layer (file_fault.h) was attached: its writes,
  // flushes and truncations are counted, under this path.
  bool watched_ = false;
  std::string path_;
  // A file of a folder kept in memory (memory_files.h) instead of a system handle.
  std::shared_ptr<memory_files::Handle> memory_;
};

// Copies `from` to `to`, replacing `to` if it exists. The copy appears at `to` whole or
// not at all. Fails when `to` is open by anyone.
bool CopyFileReplace(const std::string& from, const std::string& to);
// Renames; fails when `to` exists or `from` is open by a handle that does not share delete.
bool RenameFile(const std::string& from, const std::string& to);
// Deletes; fails when the file is open by a handle that does not share delete.
bool RemoveFile(const std::string& path);
// True for an existing file or folder.
bool FileExists(const std::string& path);
// True for an existing regular file that the caller may read.
bool FileIsReadable(const std::string& path);
// True for an existing regular file that the caller may read and write.
bool FileIsReadWritable(const std::string& path);
// Creates one folder; true when it exists afterwards.
bool CreateFolder(const std::string& path);
// The last write of a file as a Windows file time: 100-nanosecond intervals since
// 1601-01-01 UTC.
bool LastWriteTime(const std::string& path, uint64_t& fileTime);

}  // namespace platform
