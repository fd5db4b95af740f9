// COM and OLE Automation shapes: the real ones on Windows; on other systems a small,
// layout-compatible set (HRESULT, GUID, IUnknown, IDispatch, BSTR, VARIANT ...) so that
// the engine's objects have the same interfaces everywhere.
#pragma once

#ifdef _WIN32
#include <windows.h>
#include <oaidl.h>
#include <ocidl.h>
#include <olectl.h>
#include <oleauto.h>
#include <unknwn.h>
#else
#include "platform/posix/com_types.h"
#endif

#include <string>
#include <string_view>

namespace platform {

// BSTR to 8-bit text in the thread's ANSI code page; a null BSTR is the empty text.
std::string BstrToAnsi(BSTR text);

// 8-bit ANSI text to a new BSTR (free it with SysFreeString); nullptr when out of memory.
BSTR AnsiToBstr(std::string_view text);

// A BSTR made from ANSI text that frees itself.
struct ScopedBstr {
  explicit ScopedBstr(std::string_view text) : value(AnsiToBstr(text)) {}
  ~ScopedBstr() { SysFreeString(value); }
  ScopedBstr(const ScopedBstr&) = delete;
  ScopedBstr& operator=(const ScopedBstr&) = delete;
  BSTR value;
};

}  // namespace platform
