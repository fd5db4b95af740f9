// Type information of the server's classes and interfaces, from the type library
// embedded in the server (Windows); elsewhere there is none.
#pragma once

#include "platform/com.h"

namespace kestrelon {

// 1 where the type library is available, else 0.
HRESULT TypeInfoCount(UINT* count);
HRESULT InterfaceTypeInfo(REFIID iid, UINT index, ITypeInfo** info);
HRESULT ClassTypeInfo(REFCLSID clsid, ITypeInfo** info);

}  // namespace kestrelon
