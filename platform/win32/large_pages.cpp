#include "platform/large_pages.h"

namespace platform {

// Windows gives large pages only to programs holding a privilege that users lack, and
// only for memory allocated as such: ordinary tables keep small pages.
void PreferLargePages(void*, size_t) {}
size_t LargePageSize() { return 0; }

// The call that would do it (PrefetchVirtualMemory) came after Windows XP: pages are
// given at their first touch.
void FillPagesNow(void*, size_t) {}

}  // namespace platform
