#include "Lexisift/server/type_library_registration.h"

#include "shared/mail_filter_interface.h"

namespace kestrelon {

HRESULT RegisterTypeLibrary(const std::string& serverPath) {
  BSTR path = platform::AnsiToBstr(serverPath);
  if (!path) return E_OUTOFMEMORY;
  ITypeLib* library = nullptr;
  HRESULT hr = LoadTypeLibEx(path, REGKIND_REGISTER, &library);
  SysFreeString(path);
  if (library) library->Release();
  return hr;
}

HRESULT UnregisterTypeLibrary() {
#ifdef _WIN64
  const SYSKIND kind = SYS_WIN64;
#else
  const SYSKIND kind = SYS_WIN32;
#endif
  HRESULT hr = UnRegisterTypeLib(LIBID_Lexisift, 1, 0, 0x409, kind);
  // Already gone counts as done.
  return (hr == TYPE_E_REGISTRYACCESS || hr == TYPE_E_CANTLOADLIBRARY) ? S_OK : hr;
}

}  // namespace kestrelon
