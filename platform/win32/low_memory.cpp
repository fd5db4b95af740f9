#include "platform/low_memory.h"

#include <windows.h>

#include <cstdint>

namespace platform {

void* AllocateLowMemory(size_t bytes) {
#ifdef _WIN64
  // Ask for free places from 64 KiB upward, one allocation granule at a time.
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  const uintptr_t step = info.dwAllocationGranularity;
  for (uintptr_t at = 0x10000; at + bytes <= 0xFFFFFFFFull; at += step) {
    MEMORY_BASIC_INFORMATION region;
    if (!VirtualQuery(reinterpret_cast<void*>(at), &region, sizeof region)) break;
    if (region.State != MEM_FREE) {
      uintptr_t next = reinterpret_cast<uintptr_t>(region.BaseAddress) + region.RegionSize;
      at = (next + step - 1) / step * step - step;
      continue;
    }
    if (void* block = VirtualAlloc(reinterpret_cast<void*>(at), bytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE))
      return block;
  }
  return nullptr;
#else
  return VirtualAlloc(nullptr, bytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
#endif
}

void FreeLowMemory(void* block, size_t) {
  if (block) VirtualFree(block, 0, MEM_RELEASE);
}

}  // namespace platform
