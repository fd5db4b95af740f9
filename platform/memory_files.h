// Files kept in this process's memory instead of on disk, for fuzzers and tests whose
// time would otherwise go to the file system. After KeepFolderInMemory(folder), every
// path inside that folder names a file in memory: File opens, reads, writes, sizes,
// truncates and flushes it, and CopyFileReplace, RenameFile, RemoveFile, FileExists,
// FileIsReadWritable and LastWriteTime work on it, under the same interface as on disk.
// The folder need not exist on disk; ListFolder does not list it, and copies and renames
// stay inside memory. Share modes and locks are not enforced between memory handles (a
// memory folder has one user at a time); the fault layer (file_fault.h) counts their
// operations as it counts those on disk. Nothing is kept in memory unless a program asks,
// and then only what it asked for.
#pragma once

#include "platform/file.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace platform {

// From now on files inside `folder` ("folder/name" or "folder\name") live in memory.
void KeepFolderInMemory(const std::string& folder);

namespace memory_files {

struct Node;

// An open memory file, as a File holds it.
class Handle {
 public:
  Handle(std::shared_ptr<Node> node, bool writable);
  ~Handle();
  bool Read(uint64_t offset, void* buffer, size_t size, size_t& got);
  bool Write(uint64_t offset, const void* buffer, size_t size);
  uint64_t Size();
  bool Truncate(uint64_t size);

 private:
  std::shared_ptr<Node> node_;
  bool writable_;
};

// True when `path` is a folder kept in memory or lies in one. Costs one flag test while
// there is none.
bool Holds(const std::string& path);
// Opens the memory file at `path` as File::Open would; nothing (and `error` says why)
// when the disposition refuses.
std::unique_ptr<Handle> Open(const std::string& path, bool writable, Disposition disposition, OpenError& error);
bool Exists(const std::string& path);
bool Copy(const std::string& from, const std::string& to);
bool Rename(const std::string& from, const std::string& to);
bool Remove(const std::string& path);
bool LastWriteTime(const std::string& path, uint64_t& fileTime);

}  // namespace memory_files
}  // namespace platform
