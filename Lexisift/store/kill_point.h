// A hook between the writes of a store update. The store calls KillPoint after each
// write that makes up an update, with the bytes it covered, so a test can end its
// process at every point of that sequence, or rebuild what a write cut short would have
// left, and show what the next opener finds. Nothing installs a hook in the shipped
// libraries; without one a kill point costs a load and a compare.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace kestrelon {

using KillPointHook = void (*)(const char* where, uint64_t offset, size_t size);

inline std::atomic<KillPointHook>& KillPointSlot() {
  static std::atomic<KillPointHook> hook{nullptr};
  return hook;
}

inline void SetKillPointHook(KillPointHook hook) { KillPointSlot().store(hook); }

inline void KillPoint(const char* where, uint64_t offset, size_t size) {
  if (KillPointHook hook = KillPointSlot().load(std::memory_order_relaxed)) hook(where, offset, size);
}

}  // namespace kestrelon
