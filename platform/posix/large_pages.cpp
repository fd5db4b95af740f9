#include "platform/large_pages.h"

#include <cstdint>
#include <sys/mman.h>
#include <unistd.h>

namespace platform {
namespace {

// Gives `advice` for the whole pages of `page` bytes inside [block, block + bytes): advice
// covers pages, not bytes.
void AdviseWholePages(void* block, size_t bytes, uintptr_t page, int advice) {
  const auto start = reinterpret_cast<uintptr_t>(block);
  const uintptr_t first = (start + page - 1) & ~(page - 1);
  const uintptr_t stop = (start + bytes) & ~(page - 1);
  if (block && stop > first) madvise(reinterpret_cast<void*>(first), stop - first, advice);
}

constexpr size_t kLargePage = size_t{2} << 20;  // the transparent large page of x86-64

}  // namespace

void PreferLargePages(void* block, size_t bytes) {
#ifdef MADV_HUGEPAGE
  AdviseWholePages(block, bytes, kLargePage, MADV_HUGEPAGE);
#else
  (void)block;
  (void)bytes;
#endif
}

size_t LargePageSize() {
#ifdef MADV_HUGEPAGE
  return kLargePage;
#else
  return 0;
#endif
}

void FillPagesNow(void* block, size_t bytes) {
#ifdef MADV_POPULATE_WRITE
  AdviseWholePages(block, bytes, static_cast<uintptr_t>(sysconf(_SC_PAGESIZE)), MADV_POPULATE_WRITE);
#else
  (void)block;
  (void)bytes;
#endif
}

}  // namespace platform
