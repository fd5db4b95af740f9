// What the hook loader currently holds as its hook handle.
#pragma once

#include <windows.h>

namespace starter {

// The handle in KestrelonHelper.dll's ".SHARED" section, whose only member it is. When
// the mail client has narrowed the hook to its own thread, this is no longer the handle
// the starter set.
HHOOK SharedHookOf(HMODULE helper);

}  // namespace starter
