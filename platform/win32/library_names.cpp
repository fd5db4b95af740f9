#include "platform/library_names.h"

#include <windows.h>

namespace platform {

void* LoadLibraryByName(const std::string& name) { return name.empty() ? nullptr : LoadLibraryA(name.c_str()); }

void FreeLoadedLibrary(void* library) {
  if (library) FreeLibrary(static_cast<HMODULE>(library));
}

std::string StandInFileName(const std::string& name) { return name; }

}  // namespace platform
