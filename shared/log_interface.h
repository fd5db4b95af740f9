// The log object's interface as clients call it through its vtable.
#pragma once

#include "platform/com.h"

namespace kestrelon {

// {5D19B82A-5FDB-4040-ABF3-2250A8B48F3B}
inline constexpr IID IID_ILog = {0x5D19B82A, 0x5FDB, 0x4040, {0xAB, 0xF3, 0x22, 0x50, 0xA8, 0xB4, 0x8F, 0x3B}};
// {A698886F-1CF3-4F99-A525-010EA399965F}
inline constexpr CLSID CLSID_Log = {0xA698886F, 0x1CF3, 0x4F99, {0xA5, 0x25, 0x01, 0x0E, 0xA3, 0x99, 0x96, 0x5F}};

// Appends time-stamped lines to one text file, kept open from Init until release.
struct ILog : IDispatch {
  virtual HRESULT STDMETHODCALLTYPE LogError(char* Function, char* Error) = 0;
  virtual HRESULT STDMETHODCALLTYPE LogInfo(char* Info) = 0;
  virtual HRESULT STDMETHODCALLTYPE Init(BSTR FilePath) = 0;
};

}  // namespace kestrelon
