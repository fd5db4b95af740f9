// The calling thread's last system error as a COM result.
#pragma once

#include "platform/com.h"

namespace platform {

// The failure of the last system call of this thread (a Win32 error wrapped as an
// HRESULT, errno mapped to its Win32 counterpart elsewhere); E_FAIL when none is known.
HRESULT LastSystemError();

}  // namespace platform
