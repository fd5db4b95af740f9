// Memory whose address fits in 32 bits, for objects whose address is handed to a caller
// through a 32-bit integer (on 64-bit builds ordinary allocations may lie higher).
#pragma once

#include <cstddef>

namespace platform {

// Zero-filled memory below 4 GiB, or nullptr when none can be had.
void* AllocateLowMemory(size_t bytes);
void FreeLowMemory(void* block, size_t bytes);

}  // namespace platform
