// Registration of the type library embedded in the server (Windows only; elsewhere the
// server has no type library and these do nothing).
#pragma once

#include "platform/com.h"

#include <string>

namespace kestrelon {

HRESULT RegisterTypeLibrary(const std::string& serverPath);
HRESULT UnregisterTypeLibrary();

}  // namespace kestrelon
