// What the server writes into and removes from HKEY_CLASSES_ROOT.
#pragma once

#include "platform/com.h"

#include <string>

namespace kestrelon {

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" in upper case.
std::string GuidText(const GUID& guid);

// Registers every served class and the AppID for the server file at `serverPath`.
HRESULT RegisterServer(const std::string& serverPath);
// Removes what RegisterServer wrote; CLSID and AppID themselves stay.
HRESULT UnregisterServer();

}  // namespace kestrelon
