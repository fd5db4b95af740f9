// Without a type library: no type information, as IDispatch allows.
#include "Lexisift/server/type_info.h"

namespace kestrelon {

HRESULT TypeInfoCount(UINT* count) {
  if (!count) return E_POINTER;
  *count = 0;
  return S_OK;
}

HRESULT InterfaceTypeInfo(REFIID, UINT, ITypeInfo** info) {
  if (info) *info = nullptr;
  return DISP_E_BADINDEX;
}

HRESULT ClassTypeInfo(REFCLSID, ITypeInfo** info) {
  if (!info) return E_POINTER;
  *info = nullptr;
  return E_NOTIMPL;
}

}  // namespace kestrelon
