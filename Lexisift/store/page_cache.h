// A bounded, write-through cache of a map file's pages for the one handle that may write
// it. A store's file can only change through its own handle while the handle is open
// (others are kept out by the share mode, or wait for the shared store's lock), so pages
// read once stay valid as long as this handle's own writes are applied to them too.
// Every write goes to the file before Write returns; the cache only saves reads. A file
// that its handle maps (File::MapWrittenPart) is read through the mapping instead.
#pragma once

#include "platform/file.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace kestrelon {

class PageCache {
 public:
  static constexpr size_t kPageSize = 4096;
  static constexpr size_t kSlots = 2048;  // at most 8 MB per open store

  explicit PageCache(platform::File& file) : file_(file) {}

  // As File::ReadAt.
  bool Read(uint64_t offset, void* buffer, size_t size, size_t& got);
  // As File::WriteAt; cached pages take the written bytes.
  bool Write(uint64_t offset, const void* buffer, size_t size);
  void Clear() {
    slots_.clear();
    endKnown_ = false;
    ++generation_;
  }
  // Moves on with every write and clearing: what was read at one generation holds while
  // it lasts.
  uint64_t Generation() const { return generation_; }

 private:
  struct Slot {
    uint64_t page = UINT64_MAX;
    size_t valid = 0;  // bytes of the page that the file holds
    std::unique_ptr<unsigned char[]> data;
  };
  Slot* Find(uint64_t page);
  Slot* Load(uint64_t page);

  platform::File& file_;
  std::vector<Slot> slots_;
  bool endKnown_ = false;
  uint64_t end_ = 0;  // the file's size, once known
  uint64_t generation_ = 0;
};

}  // namespace kestrelon
