// Windows file semantics on POSIX with open-file-description (OFD) locks.
//
// Share modes: every handle holds read locks on sentinel bytes far beyond any data, one
// byte per fact ("has read access", "denies write", ...). An open first takes its own
// sentinels, then asks the kernel whether another handle holds a sentinel that conflicts
// with it; OFD locks belong to the open file description, so two handles of one process
// see each other as two processes do. Two conflicting opens racing each other may both
// fail, never both succeed.
//
// Byte-range locks are OFD write locks on the bytes themselves. Reads and writes first
// ask whether another handle locks any byte of their range and fail if so, which is
// what a Windows reader sees.
#include "platform/file.h"

#include "platform/file_fault.h"
#include "platform/guarded_copy.h"
#include "platform/memory_files.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

namespace platform {
namespace {

// A mapping reserves address space beyond the file's end in steps of this size.
constexpr uint64_t kMapReserveStep = 1 << 20;

constexpr off_t kSentinelBase = static_cast<off_t>(0x7FFFFFFF00000000LL);
// In an order that makes what the usual opens hold, and what conflicts with them, one
// run of bytes each: a reader or writer that shares reading only takes its sentinels with
// one call and asks for conflicts with one more.
enum Sentinel : off_t {
  kHasRead = 0,
  kIsOpen = 1,
  kDeniesDelete = 2,
  kDeniesWrite = 3,
  kHasWrite = 4,
  kDeniesRead = 5,
  kSentinelCount = 6,
};

bool LockCall(int fd, int cmd, short type, off_t start, off_t length) {
  struct flock fl {};
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  fl.l_start = start;
  fl.l_len = length;
  fl.l_pid = 0;
  for (;;) {
    if (fcntl(fd, cmd, &fl) == 0) return true;
    if (errno != EINTR) return false;
  }
}

constexpr unsigned Bit(Sentinel s) { return 1u << s; }

// Calls `lock(start, length)` for each run of adjacent sentinels in `set`: one lock call
// covers a run as well as one call per byte would.
template <typename Fn>
bool ForEachRun(unsigned set, Fn&& lock) {
  for (off_t s = 0; s < kSentinelCount; ++s) {
    if (!(set >> s & 1)) continue;
    off_t end = s;
    while (end + 1 < kSentinelCount && (set >> (end + 1) & 1)) ++end;
    if (!lock(kSentinelBase + s, end - s + 1)) return false;
    s = end;
  }
  return true;
}

bool HoldSentinels(int fd, unsigned set) {
  return ForEachRun(set, [&](off_t start, off_t length) { return LockCall(fd, F_OFD_SETLK, F_RDLCK, start, length); });
}

// True when a handle other than `fd`'s holds a lock on [start, start + length) that
// conflicts with a lock of `type`.
bool OthersLock(int fd, short type, off_t start, off_t length) {
  struct flock fl {};
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  fl.l_start = start;
  fl.l_len = length;
  fl.l_pid = 0;
  if (fcntl(fd, F_OFD_GETLK, &fl) != 0) return false;
  return fl.l_type != F_UNLCK;
}

bool OthersHoldSentinel(int fd, Sentinel s) { return OthersLock(fd, F_WRLCK, kSentinelBase + s, 1); }

bool OthersHoldAnySentinel(int fd, unsigned set) {
  return !ForEachRun(set, [&](off_t start, off_t length) { return !OthersLock(fd, F_WRLCK, start, length); });
}

bool RangeLockedByOthers(int fd, uint64_t offset, size_t size) {
  if (size == 0) return false;
  return OthersLock(fd, F_RDLCK, static_cast<off_t>(offset), static_cast<off_t>(size));
}

// True when some handle keeps `path` open in a way that forbids `sentinel`'s use.
bool PathHeld(const std::string& path, Sentinel sentinel) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  bool held = OthersHoldSentinel(fd, sentinel);
  close(fd);
  return held;
}

bool WriteAll(int fd, uint64_t offset, const void* buffer, size_t size) {
  const char* in = static_cast<const char*>(buffer);
  size_t done = 0;
  while (done < size) {
    ssize_t n = pwrite(fd, in + done, size - done, static_cast<off_t>(offset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

enum class KernelCopy { Done, Unsupported, Failed };

// Copies the file `from` (read from its start) to `out` (written from its start) inside
// the kernel, without passing the bytes through this process. Unsupported, with nothing
// written, where the kernel cannot copy between the two files.
KernelCopy CopyInKernel(const std::string& from, int out) {
  int in = open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return KernelCopy::Failed;
  struct stat st {};
  // A reader of a range that another handle locks fails, as every read here does.
  KernelCopy result = fstat(in, &st) != 0 || RangeLockedByOthers(in, 0, static_cast<size_t>(st.st_size))
                          ? KernelCopy::Failed
                          : KernelCopy::Done;
  for (uint64_t copied = 0; result == KernelCopy::Done;) {
    ssize_t n = copy_file_range(in, nullptr, out, nullptr, size_t{1} << 30, 0);
    if (n > 0) {
      copied += static_cast<uint64_t>(n);
    } else if (n == 0) {
      break;
    } else if (errno != EINTR) {
      const bool refused = errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP || errno == EBADF;
      result = copied == 0 && refused ? KernelCopy::Unsupported : KernelCopy::Failed;
    }
  }
  close(in);
  return result;
}

// An operation that the fault layer fails.
bool Fails(file_fault::Error error) {
  errno = error == file_fault::Error::Io ? EIO : error == file_fault::Error::Quota ? EDQUOT : ENOSPC;
  return false;
}

}  // namespace

File::~File() { Close(); }

File::File(File&& other) noexcept
    : fd_(other.fd_),
      soleWriter_(other.soleWriter_),
      sizeKnown_(other.sizeKnown_),
      knownSize_(other.knownSize_),
      mapReserved_(other.mapReserved_),
      checkLocks_(other.checkLocks_),
      mapWanted_(other.mapWanted_),
      map_(other.map_),
      mapSize_(other.mapSize_),
      writable_(other.writable_),
      openError_(other.openError_),
      watched_(other.watched_),
      path_(std::move(other.path_)),
      memory_(std::move(other.memory_)) {
  other.fd_ = -1;
  other.sizeKnown_ = false;
  other.mapWanted_ = false;
  other.map_ = nullptr;
  other.mapSize_ = 0;
  other.mapReserved_ = 0;
}

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = other.fd_;
    soleWriter_ = other.soleWriter_;
    sizeKnown_ = other.sizeKnown_;
    knownSize_ = other.knownSize_;
    mapReserved_ = other.mapReserved_;
    checkLocks_ = other.checkLocks_;
    mapWanted_ = other.mapWanted_;
    map_ = other.map_;
    mapSize_ = other.mapSize_;
    writable_ = other.writable_;
    watched_ = other.watched_;
    path_ = std::move(other.path_);
    memory_ = std::move(other.memory_);
    other.fd_ = -1;
    other.sizeKnown_ = false;
    other.mapWanted_ = false;
    other.map_ = nullptr;
    other.mapSize_ = 0;
    other.mapReserved_ = 0;
  }
  return *this;
}

bool File::Open(const std::string& path, Access access, unsigned share, Disposition disposition,
                bool randomAccess) {
  Close();
  checkLocks_ = true;
  watched_ = file_fault::Attached();
  path_ = watched_ ? path : std::string();
  bool write = access == Access::ReadWrite;
  writable_ = write;
  if (memory_files::Holds(path)) {
    memory_ = memory_files::Open(path, write, disposition, openError_);
    return memory_ != nullptr;
  }
  int flags = (write ? O_RDWR : O_RDONLY) | O_CLOEXEC;
  if (disposition != Disposition::OpenExisting) flags |= O_CREAT;
  // O_EXCL fails on any existing name, a symbolic link included, without following it.
  if (disposition == Disposition::CreateNew) flags |= O_EXCL;
  int fd = open(path.c_str(), flags, 0666);
  if (fd < 0) {
    openError_ = errno == ENOENT || errno == ENOTDIR ? OpenError::NotFound
                 : errno == EEXIST                   ? OpenError::Exists
                                                     : OpenError::Other;
    return false;
  }
  openError_ = OpenError::Other;
  struct stat st {};
  if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    close(fd);
    errno = EISDIR;
    return false;
  }
  const unsigned held = Bit(kIsOpen) | Bit(kHasRead) | (write ? Bit(kHasWrite) : 0) |
                        ((share & kShareRead) ? 0 : Bit(kDeniesRead)) | ((share & kShareWrite) ? 0 : Bit(kDeniesWrite)) |
                        ((share & kShareDelete) ? 0 : Bit(kDeniesDelete));
  const unsigned conflicting = Bit(kDeniesRead) | (write ? Bit(kDeniesWrite) : 0) |
                               ((share & kShareRead) ? 0 : Bit(kHasRead)) | ((share & kShareWrite) ? 0 : Bit(kHasWrite));
  bool ok = HoldSentinels(fd, held) && !OthersHoldAnySentinel(fd, conflicting);
  if (!ok) {
    close(fd);
    errno = EBUSY;
    openError_ = OpenError::InUse;
    return false;
  }
  if (disposition == Disposition::CreateAlways && ftruncate(fd, 0) != 0) {
    close(fd);
    return false;
  }
  if (randomAccess) posix_fadvise(fd, 0, 0, POSIX_FADV_RANDOM);
  fd_ = fd;
  // Others may not write while this handle is open: the size changes only through it.
  soleWriter_ = !(share & kShareWrite);
  sizeKnown_ = soleWriter_;
  knownSize_ = disposition == Disposition::CreateAlways ? 0 : static_cast<uint64_t>(st.st_size);
  openError_ = OpenError::None;
  return true;
}

bool File::IsOpen() const { return fd_ >= 0 || memory_; }

void File::Close() {
  Unmap();
  mapWanted_ = false;
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
  soleWriter_ = sizeKnown_ = false;
  memory_.reset();
}

bool File::ReadAt(uint64_t offset, void* buffer, size_t size, size_t& got) {
  got = 0;
  if (memory_) return memory_->Read(offset, buffer, size, got);
  if (fd_ < 0) return false;
  if (mapWanted_) InMapping(offset, size);  // maps the file's growth; may give up mapping
  if (mapWanted_) {
    // The mapping holds the whole file now: a range beyond it is beyond the end.
    size_t n = offset < mapSize_ ? static_cast<size_t>(std::min<uint64_t>(size, mapSize_ - offset)) : 0;
    if (n != 0 && !GuardedCopy(buffer, map_ + offset, n)) {
      sizeKnown_ = false;  // the file may have been cut by a handle outside the share modes
      return MappingFailed();
    }
    got = n;
    return true;
  }
  if (checkLocks_ && RangeLockedByOthers(fd_, offset, size)) return false;
  // A read that reaches the known end stops there, without a call that finds nothing.
  if (sizeKnown_) size = offset < knownSize_ ? static_cast<size_t>(std::min<uint64_t>(size, knownSize_ - offset)) : 0;
  char* out = static_cast<char*>(buffer);
  while (got < size) {
    ssize_t n = pread(fd_, out + got, size - got, static_cast<off_t>(offset + got));
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) break;
    got += static_cast<size_t>(n);
  }
  return true;
}

bool File::WriteAt(uint64_t offset, const void* buffer, size_t size) {
  if (!IsOpen()) return false;
  if (fd_ >= 0 && checkLocks_ && RangeLockedByOthers(fd_, offset, size)) return false;
  std::optional<file_fault::Error> fault;
  if (watched_) fault = file_fault::Hit(file_fault::kWrite, path_);
  size_t part = fault ? file_fault::BytesWrittenBeforeFailing(*fault, offset, size) : size;
  bool ok = memory_                                        ? memory_->Write(offset, buffer, part)
            : mapWanted_ && offset <= mapSize_ && part <= mapSize_ - offset ? GuardedCopy(map_ + offset, buffer, part) || MappingFailed()
                                                                      : WriteAll(fd_, offset, buffer, part);
  // A write that failed may have written part of its bytes.
  if (ok && !fault) knownSize_ = std::max(knownSize_, offset + size);
  else sizeKnown_ = false;
  return fault ? Fails(*fault) : ok;
}

bool File::Size(uint64_t& size) {
  if (memory_) {
    size = memory_->Size();
    return true;
  }
  if (sizeKnown_) {
    size = knownSize_;
    return true;
  }
  struct stat st {};
  if (fd_ < 0 || fstat(fd_, &st) != 0) return false;
  size = static_cast<uint64_t>(st.st_size);
  knownSize_ = size;
  sizeKnown_ = soleWriter_;
  return true;
}

bool File::Truncate(uint64_t size) {
  if (!IsOpen()) return false;
  if (watched_)
    if (auto fault = file_fault::Hit(file_fault::kTruncate, path_)) return Fails(*fault);
  if (memory_) return memory_->Truncate(size);
  Unmap();  // mapped again at the next access
  if (ftruncate(fd_, static_cast<off_t>(size)) != 0) {
    sizeKnown_ = false;
    return false;
  }
  knownSize_ = size;
  return true;
}

bool File::Remap() {
  uint64_t size = 0;
  if (fd_ < 0 || !Size(size) || size > SIZE_MAX) {
    Unmap();
    mapWanted_ = false;
    return false;
  }
  if (size == 0) {
    Unmap();
    return true;
  }
  // Only the part the file holds is ever touched; the pages reserved beyond its end
  // come to hold what it grows by.
  if (map_ && size <= mapReserved_) {
    mapSize_ = size;
    return true;
  }
  uint64_t reserve = size + std::max<uint64_t>(size / 2, kMapReserveStep);
  reserve = std::min<uint64_t>(reserve - reserve % kMapReserveStep, SIZE_MAX - kMapReserveStep);
  void* view = map_ ? mremap(map_, static_cast<size_t>(mapReserved_), static_cast<size_t>(reserve), MREMAP_MAYMOVE)
                    : mmap(nullptr, static_cast<size_t>(reserve), PROT_READ | (writable_ ? PROT_WRITE : 0),
                           MAP_SHARED, fd_, 0);
  if (view == MAP_FAILED) {
    Unmap();
    mapWanted_ = false;  // read and written with calls from now on
    return false;
  }
  map_ = static_cast<unsigned char*>(view);
  mapSize_ = size;
  mapReserved_ = reserve;
  return true;
}

void File::Unmap() {
  if (map_) munmap(map_, static_cast<size_t>(mapReserved_));
  map_ = nullptr;
  mapSize_ = 0;
  mapReserved_ = 0;
}

bool File::Flush() {
  if (!IsOpen()) return false;
  if (watched_)
    if (auto fault = file_fault::Hit(file_fault::kFlush, path_)) return Fails(*fault);
  return memory_ || fdatasync(fd_) == 0;
}

// A memory file has one user at a time: its locks always succeed.
bool File::Lock(uint64_t offset, uint64_t length) {
  if (memory_) return true;
  return fd_ >= 0 && LockCall(fd_, F_OFD_SETLKW, F_WRLCK, static_cast<off_t>(offset), static_cast<off_t>(length));
}

LockResult File::TryLock(uint64_t offset, uint64_t length) {
  if (memory_) return LockResult::Locked;
  if (fd_ < 0) return LockResult::Failed;
  if (LockCall(fd_, F_OFD_SETLK, F_WRLCK, static_cast<off_t>(offset), static_cast<off_t>(length)))
    return LockResult::Locked;
  return errno == EAGAIN || errno == EACCES ? LockResult::Busy : LockResult::Failed;
}

bool File::Unlock(uint64_t offset, uint64_t length) {
  if (memory_) return true;
  return fd_ >= 0 && LockCall(fd_, F_OFD_SETLK, F_UNLCK, static_cast<off_t>(offset), static_cast<off_t>(length));
}

namespace {
// Copies `source` from its start to `out` from its start, through this process.
bool CopyThroughBuffer(File& source, int out) {
  std::vector<char> buffer(1 << 20);
  for (uint64_t offset = 0;;) {
    size_t got = 0;
    if (!source.ReadAt(offset, buffer.data(), buffer.size(), got)) return false;
    if (got == 0) return true;
    for (size_t done = 0; done < got;) {
      ssize_t n = write(out, buffer.data() + done, got - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      done += static_cast<size_t>(n);
    }
    offset += got;
  }
}
}  // namespace

bool CopyFileReplace(const std::string& from, const std::string& to) {
  if (memory_files::Holds(from) || memory_files::Holds(to)) {
    if (auto fault = file_fault::Hit(file_fault::kWrite, to)) return Fails(*fault);
    if (auto fault = file_fault::Hit(file_fault::kRename, to)) return Fails(*fault);
    return memory_files::Holds(from) && memory_files::Holds(to) && memory_files::Copy(from, to);
  }
  File source;
  if (!source.Open(from, Access::Read, kShareRead | kShareWrite, Disposition::OpenExisting)) return false;
  if (PathHeld(to, kIsOpen)) return false;
  if (auto fault = file_fault::Hit(file_fault::kWrite, to)) return Fails(*fault);
  // Written beside the target and renamed over it, so a copy cut short leaves the old
  // target in place.
  std::string temp = to + ".copy-XXXXXX";
  std::vector<char> name(temp.begin(), temp.end());
  name.push_back('\0');
  int out = mkstemp(name.data());
  if (out < 0) return false;
  const KernelCopy kernel = CopyInKernel(from, out);
  bool ok = kernel == KernelCopy::Done || (kernel == KernelCopy::Unsupported && CopyThroughBuffer(source, out));
  fchmod(out, 0644);
  if (close(out) != 0) ok = false;
  std::optional<file_fault::Error> fault;
  if (ok) fault = file_fault::Hit(file_fault::kRename, to);
  if (ok && !fault && rename(name.data(), to.c_str()) != 0) ok = false;
  if (!ok || fault) unlink(name.data());
  return fault ? Fails(*fault) : ok;
}

bool RenameFile(const std::string& from, const std::string& to) {
  bool memory = memory_files::Holds(from) || memory_files::Holds(to);
  if (!memory && PathHeld(from, kDeniesDelete)) return false;
  if (auto fault = file_fault::Hit(file_fault::kRename, from)) return Fails(*fault);
  if (memory) return memory_files::Holds(from) && memory_files::Holds(to) && memory_files::Rename(from, to);
  return renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0;
}

bool RemoveFile(const std::string& path) {
  bool memory = memory_files::Holds(path);
  if (!memory && PathHeld(path, kDeniesDelete)) return false;
  if (auto fault = file_fault::Hit(file_fault::kRemove, path)) return Fails(*fault);
  if (memory) return memory_files::Remove(path);
  return unlink(path.c_str()) == 0;
}

bool FileExists(const std::string& path) {
  if (memory_files::Holds(path)) return memory_files::Exists(path);
  struct stat st {};
  return stat(path.c_str(), &st) == 0;
}

namespace {
bool RegularFileAllows(const std::string& path, int mode) {
  if (memory_files::Holds(path)) return memory_files::Exists(path);
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), mode) == 0;
}
}  // namespace

bool FileIsReadable(const std::string& path) { return RegularFileAllows(path, R_OK); }

bool FileIsReadWritable(const std::string& path) { return RegularFileAllows(path, R_OK | W_OK); }

bool CreateFolder(const std::string& path) {
  if (memory_files::Holds(path)) return true;
  if (mkdir(path.c_str(), 0777) == 0) return true;
  struct stat st {};
  return errno == EEXIST && stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool LastWriteTime(const std::string& path, uint64_t& fileTime) {
  if (memory_files::Holds(path)) return memory_files::LastWriteTime(path, fileTime);
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return false;
  constexpr uint64_t kUnixEpochAsFileTime = 116444736000000000ull;
  fileTime = kUnixEpochAsFileTime + static_cast<uint64_t>(st.st_mtim.tv_sec) * 10000000ull +
             static_cast<uint64_t>(st.st_mtim.tv_nsec) / 100;
  return true;
}

}  // namespace platform
