#include "platform/system_error.h"

#include <cerrno>

namespace platform {

namespace {
constexpr HRESULT FromWin32(unsigned code) { return static_cast<HRESULT>(0x80070000u | code); }
}  // namespace

HRESULT LastSystemError() {
  switch (errno) {
    case ENOENT: return FromWin32(2);    // ERROR_FILE_NOT_FOUND
    case ENOTDIR: return FromWin32(3);   // ERROR_PATH_NOT_FOUND
    case EMFILE: return FromWin32(4);    // ERROR_TOO_MANY_OPEN_FILES
    case EACCES:
    case EPERM:
    case EROFS: return FromWin32(5);     // ERROR_ACCESS_DENIED
    case ENOMEM: return FromWin32(8);    // ERROR_NOT_ENOUGH_MEMORY
    case EBUSY:
    case EAGAIN: return FromWin32(32);   // ERROR_SHARING_VIOLATION
    case ENOSPC: return FromWin32(112);  // ERROR_DISK_FULL
    case ENAMETOOLONG: return FromWin32(206);
    case EEXIST: return FromWin32(80);   // ERROR_FILE_EXISTS
    default: return E_FAIL;
  }
}

}  // namespace platform
