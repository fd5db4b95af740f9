#include "platform/system_error.h"

namespace platform {

HRESULT LastSystemError() {
  DWORD code = GetLastError();
  return code ? HRESULT_FROM_WIN32(code) : E_FAIL;
}

}  // namespace platform
