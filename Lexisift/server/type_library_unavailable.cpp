#include "Lexisift/server/type_library_registration.h"

namespace kestrelon {

HRESULT RegisterTypeLibrary(const std::string&) { return S_OK; }
HRESULT UnregisterTypeLibrary() { return S_OK; }

}  // namespace kestrelon
