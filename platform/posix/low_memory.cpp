#include "platform/low_memory.h"

#include <sys/mman.h>

namespace platform {

void* AllocateLowMemory(size_t bytes) {
  int flags = MAP_PRIVATE | MAP_ANONYMOUS;
#ifdef MAP_32BIT
  flags |= MAP_32BIT;  // x86-64: the lowest 2 GiB
#endif
  void* block = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, flags, -1, 0);
  if (block == MAP_FAILED) return nullptr;
  if (reinterpret_cast<unsigned long long>(block) + bytes > 0xFFFFFFFFull) {
    munmap(block, bytes);
    return nullptr;
  }
  return block;
}

void FreeLowMemory(void* block, size_t bytes) {
  if (block) munmap(block, bytes);
}

}  // namespace platform
