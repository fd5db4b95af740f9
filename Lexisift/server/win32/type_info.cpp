// Type information from the type library embedded in this server (resource TYPELIB 1).
#include "Lexisift/server/type_info.h"

#include "platform/library.h"

#include <string>

namespace kestrelon {

namespace {

ITypeLib* EmbeddedTypeLib() {
  static ITypeLib* library = [] {
    ITypeLib* loaded = nullptr;
    BSTR path = platform::AnsiToBstr(platform::ModulePathOf(reinterpret_cast<const void*>(&EmbeddedTypeLib)));
    if (!path || FAILED(LoadTypeLibEx(path, REGKIND_NONE, &loaded))) loaded = nullptr;
    SysFreeString(path);
    return loaded;
  }();
  return library;
}

HRESULT TypeInfoOf(REFGUID guid, ITypeInfo** info) {
  if (!info) return E_POINTER;
  *info = nullptr;
  ITypeLib* library = EmbeddedTypeLib();
  if (!library) return TYPE_E_CANTLOADLIBRARY;
  return library->GetTypeInfoOfGuid(guid, info);
}

}  // namespace

HRESULT TypeInfoCount(UINT* count) {
  if (!count) return E_POINTER;
  *count = EmbeddedTypeLib() ? 1 : 0;
  return S_OK;
}

HRESULT InterfaceTypeInfo(REFIID iid, UINT index, ITypeInfo** info) {
  if (index != 0) {
    if (info) *info = nullptr;
    return DISP_E_BADINDEX;
  }
  return TypeInfoOf(iid, info);
}

HRESULT ClassTypeInfo(REFCLSID clsid, ITypeInfo** info) { return TypeInfoOf(clsid, info); }

}  // namespace kestrelon
