#include "Lexisift/store/page_cache.h"

#include <cstring>

namespace kestrelon {

PageCache::Slot* PageCache::Find(uint64_t page) {
  if (slots_.empty()) return nullptr;
  Slot& slot = slots_[page % kSlots];
  return slot.page == page ? &slot : nullptr;
}

PageCache::Slot* PageCache::Load(uint64_t page) {
  if (Slot* hit = Find(page)) return hit;
  if (slots_.empty()) slots_.resize(kSlots);
  Slot& slot = slots_[page % kSlots];
  if (!slot.data) slot.data = std::make_unique_for_overwrite<unsigned char[]>(kPageSize);
  slot.page = UINT64_MAX;
  size_t got = 0;
  if (!file_.ReadAt(page * kPageSize, slot.data.get(), kPageSize, got)) return nullptr;
  slot.page = page;
  slot.valid = got;
  return &slot;
}

bool PageCache::Read(uint64_t offset, void* buffer, size_t size, size_t& got) {
  if (file_.Mapped()) return file_.ReadAt(offset, buffer, size, got);
  got = 0;
  auto* out = static_cast<unsigned char*>(buffer);
  while (got < size) {
    uint64_t at = offset + got;
    Slot* slot = Load(at / kPageSize);
    if (!slot) return file_.ReadAt(offset, buffer, size, got);
    size_t inPage = static_cast<size_t>(at % kPageSize);
    if (inPage >= slot->valid) break;  // the end of the file
    size_t n = slot->valid - inPage;
    if (n > size - got) n = size - got;
    std::memcpy(out + got, slot->data.get() + inPage, n);
    got += n;
    if (slot->valid < kPageSize && inPage + n == slot->valid) break;
  }
  return true;
}

bool PageCache::Write(uint64_t offset, const void* buffer, size_t size) {
  if (file_.Mapped()) {
    // Nothing is cached while the file is mapped, and nothing kept from before holds.
    if (!slots_.empty() || endKnown_) Clear();
    ++generation_;
    return file_.WriteAt(offset, buffer, size);
  }
  ++generation_;
  if (!endKnown_) endKnown_ = file_.Size(end_);
  // A write past the end fills the gap with zeros that no cached page knows of.
  if (!endKnown_ || offset > end_) Clear();
  if (!file_.WriteAt(offset, buffer, size)) {
    Clear();  // the file may hold part of the write
    return false;
  }
  if (endKnown_ && offset + size > end_) end_ = offset + size;
  const auto* in = static_cast<const unsigned char*>(buffer);
  for (uint64_t page = offset / kPageSize; size != 0 && page <= (offset + size - 1) / kPageSize; ++page) {
    Slot* slot = Find(page);
    if (!slot) continue;
    uint64_t pageStart = page * kPageSize;
    size_t from = offset > pageStart ? static_cast<size_t>(offset - pageStart) : 0;
    size_t to = static_cast<size_t>(offset + size - pageStart < kPageSize ? offset + size - pageStart : kPageSize);
    if (from > slot->valid) {
      slot->page = UINT64_MAX;  // a gap the cache never saw
      continue;
    }
    std::memcpy(slot->data.get() + from, in + (pageStart + from - offset), to - from);
    if (to > slot->valid) slot->valid = to;
  }
  return true;
}

}  // namespace kestrelon
