// Copies to or from memory that maps a file. Touching such memory can fault where a read
// or write call would fail: an I/O error on a failing disk, a network share gone away, the
// file cut shorter by another handle (SIGBUS on POSIX systems, EXCEPTION_IN_PAGE_ERROR on
// Windows). GuardedCopy turns that fault into a false return instead of ending the
// process. A fault anywhere else is left to whatever handled it before.
#pragma once

#include <cstddef>

namespace platform {

// Copies `size` bytes; false when touching the source or the destination faulted (the
// destination may then hold part of the bytes).
bool GuardedCopy(void* to, const void* from, size_t size);

}  // namespace platform
