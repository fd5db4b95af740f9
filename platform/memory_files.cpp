#include "platform/memory_files.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <map>
#include <mutex>
#include <vector>

namespace platform {
namespace memory_files {
namespace {

using Bytes = std::vector<unsigned char>;

// The buffers of files that are gone, kept for new ones: a program that makes and drops
// large files over and over (a fuzzer) then writes into memory it already has.
class BufferPool {
 public:
  std::shared_ptr<Bytes> Take() {
    Bytes* bytes = nullptr;
    {
      std::lock_guard<std::mutex> hold(lock_);
      if (!spare_.empty()) {
        bytes = spare_.back().release();
        spare_.pop_back();
      }
    }
    if (!bytes) bytes = new Bytes();
    return std::shared_ptr<Bytes>(bytes, [this](Bytes* gone) { Give(gone); });
  }

 private:
  static constexpr size_t kSpares = 8;
  void Give(Bytes* bytes) {
    std::unique_ptr<Bytes> owned(bytes);
    owned->clear();
    std::lock_guard<std::mutex> hold(lock_);
    if (spare_.size() < kSpares) spare_.push_back(std::move(owned));
  }
  std::mutex lock_;
  std::vector<std::unique_ptr<Bytes>> spare_;
};

BufferPool& Buffers() {
  static BufferPool* pool = new BufferPool();  // outlives every file, also at exit
  return *pool;
}

}  // namespace

// The content is shared between a file and its copies until one of them is written.
struct Node {
  std::mutex lock;
  std::shared_ptr<Bytes> bytes = Buffers().Take();
  uint64_t writeTime = 0;

  // The content to write to, with its first `keep` bytes (all by default) as they were.
  Bytes& Own(size_t keep = SIZE_MAX) {
    if (bytes.use_count() > 1) {
      std::shared_ptr<Bytes> own = Buffers().Take();
      own->assign(bytes->begin(), bytes->begin() + static_cast<std::ptrdiff_t>(std::min(keep, bytes->size())));
      bytes = std::move(own);
    }
    return *bytes;
  }
};

namespace {

struct Registry {
  std::mutex lock;
  std::vector<std::string> folders;
  std::map<std::string, std::shared_ptr<Node>> files;
};

Registry& Files() {
  static Registry registry;
  return registry;
}

std::atomic<bool>& AnyFolder() {
  static std::atomic<bool> any{false};
  return any;
}

// Now as a Windows file time.
uint64_t Now() {
  constexpr uint64_t kUnixEpochAsFileTime = 116444736000000000ull;
  auto since = std::chrono::system_clock::now().time_since_epoch();
  return kUnixEpochAsFileTime + static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(since).count()) * 10;
}

}  // namespace

Handle::Handle(std::shared_ptr<Node> node, bool writable) : node_(std::move(node)), writable_(writable) {}
Handle::~Handle() = default;

bool Handle::Read(uint64_t offset, void* buffer, size_t size, size_t& got) {
  std::lock_guard<std::mutex> hold(node_->lock);
  const std::vector<unsigned char>& bytes = *node_->bytes;
  got = offset < bytes.size() ? static_cast<size_t>(std::min<uint64_t>(size, bytes.size() - offset)) : 0;
  if (got) std::memcpy(buffer, bytes.data() + offset, got);
  return true;
}

bool Handle::Write(uint64_t offset, const void* buffer, size_t size) {
  if (!writable_) return false;
  std::lock_guard<std::mutex> hold(node_->lock);
  std::vector<unsigned char>& bytes = node_->Own();
  if (offset + size > bytes.size()) {
    // Room to grow into, so that appends do not move the whole file each time.
    if (offset + size > bytes.capacity()) bytes.reserve(static_cast<size_t>(offset + size) + bytes.size() / 2);
    bytes.resize(static_cast<size_t>(offset + size));
  }
  if (size) std::memcpy(bytes.data() + offset, buffer, size);
  node_->writeTime = Now();
  return true;
}

uint64_t Handle::Size() {
  std::lock_guard<std::mutex> hold(node_->lock);
  return node_->bytes->size();
}

bool Handle::Truncate(uint64_t size) {
  if (!writable_) return false;
  std::lock_guard<std::mutex> hold(node_->lock);
  node_->Own(static_cast<size_t>(size)).resize(static_cast<size_t>(size));
  node_->writeTime = Now();
  return true;
}

bool Holds(const std::string& path) {
  if (!AnyFolder().load(std::memory_order_acquire)) return false;
  Registry& r = Files();
  std::lock_guard<std::mutex> hold(r.lock);
  for (const std::string& folder : r.folders)
    if (path.compare(0, folder.size(), folder) == 0 &&
        (path.size() == folder.size() || path[folder.size()] == '/' || path[folder.size()] == '\\'))
      return true;
  return false;
}

std::unique_ptr<Handle> Open(const std::string& path, bool writable, Disposition disposition, OpenError& error) {
  Registry& r = Files();
  std::lock_guard<std::mutex> hold(r.lock);
  auto it = r.files.find(path);
  error = OpenError::None;
  if (it == r.files.end()) {
    if (disposition == Disposition::OpenExisting) {
      error = OpenError::NotFound;
      return nullptr;
    }
    it = r.files.emplace(path, std::make_shared<Node>()).first;
    it->second->writeTime = Now();
  } else if (disposition == Disposition::CreateNew) {
    error = OpenError::Exists;
    return nullptr;
  } else if (disposition == Disposition::CreateAlways) {
    std::lock_guard<std::mutex> node(it->second->lock);
    it->second->Own(0).clear();
    it->second->writeTime = Now();
  }
  return std::make_unique<Handle>(it->second, writable);
}

bool Exists(const std::string& path) {
  Registry& r = Files();
  std::lock_guard<std::mutex> hold(r.lock);
  return r.files.count(path) != 0;
}

bool Copy(const std::string& from, const std::string& to) {
  Registry& r = Files();
  std::lock_guard<std::mutex> hold(r.lock);
  auto it = r.files.find(from);
  if (it == r.files.end()) return false;
  auto copy = std::make_shared<Node>();
  {
    std::lock_guard<std::mutex> node(it->second->lock);
    copy->bytes = it->second->bytes;  // shared until written
    copy->writeTime = it->second->writeTime;
  }
  r.files[to] = std::move(copy);  // handles still open on the old file keep it
  return true;
}

bool Rename(const std::string& from, const std::string& to) {
  Registry& r = Files();
  std::lock_guard<std::mutex> hold(r.lock);
  auto it = r.files.find(from);
  if (it == r.files.end() || r.files.count(to)) return false;
  r.files[to] = std::move(it->second);
  r.files.erase(from);
  return true;
}

bool Remove(const std::string& path) {
  Registry& r = Files();
  std::lock_guard<std::mutex> hold(r.lock);
  return r.files.erase(path) != 0;
}

bool LastWriteTime(const std::string& path, uint64_t& fileTime) {
  Registry& r = Files();
  std::lock_guard<std::mutex> hold(r.lock);
  auto it = r.files.find(path);
  if (it == r.files.end()) return false;
  std::lock_guard<std::mutex> node(it->second->lock);
  fileTime = it->second->writeTime;
  return true;
}

}  // namespace memory_files

void KeepFolderInMemory(const std::string& folder) {
  memory_files::Registry& r = memory_files::Files();
  std::lock_guard<std::mutex> hold(r.lock);
  std::string trimmed = folder;
  while (trimmed.size() > 1 && (trimmed.back() == '/' || trimmed.back() == '\\')) trimmed.pop_back();
  r.folders.push_back(trimmed);
  memory_files::AnyFolder().store(true, std::memory_order_release);
}

}  // namespace platform
