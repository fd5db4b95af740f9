#include "platform/large_pages.h"

#include <cstdint>
#include <sys/mman.h>
#include <unistd.h>

namespace platform {

void PreferLargePages(void* block, size_t bytes) {
#ifdef MADV_HUGEPAGE
  // Only the whole large pages inside the block: the advice covers pages, not bytes.
  constexpr uintptr_t kLargePage = uintptr_t{2} << 20;
  const auto start = reinterpret_cast<uintptr_t>(block);
  const uintptr_t first = (start + kLargePage - 1) & ~(kLargePage - 1);
  const uintptr_t stop = (start + bytes) & ~(kLargePage - 1);
  if (block && stop > first) madvise(reinterpret_cast<void*>(first), stop - first, MADV_HUGEPAGE);
#else
  (void)block;
  (void)bytes;
#endif
}

void FillPagesNow(void* block, size_t bytes) {
#ifdef MADV_POPULATE_WRITE
  const auto page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
  const auto start = reinterpret_cast<uintptr_t>(block);
  const uintptr_t first = (start + page - 1) & ~(page - 1);
  const uintptr_t stop = (start + bytes) & ~(page - 1);
  if (block && stop > first) madvise(reinterpret_cast<void*>(first), stop - first, MADV_POPULATE_WRITE);
#else
  (void)block;
  (void)bytes;
#endif
}

}  // namespace platform
