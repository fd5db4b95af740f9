#include "platform/com_activation.h"

namespace platform {

HRESULT ComInitialize() { return CoInitialize(nullptr); }
void ComUninitialize() { CoUninitialize(); }

HRESULT CreateInstanceByProgId(const std::string& progId, REFIID iid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  BSTR name = AnsiToBstr(progId);
  if (!name) return E_OUTOFMEMORY;
  CLSID clsid;
  HRESULT hr = CLSIDFromProgID(name, &clsid);
  SysFreeString(name);
  if (FAILED(hr)) return hr;
  return CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid, object);
}

}  // namespace platform
