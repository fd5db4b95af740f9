#include "platform/library.h"

#include <windows.h>

namespace platform {

void* LoadLibraryFile(const std::string& path) { return LoadLibraryA(path.c_str()); }

void* LibraryExport(void* library, const char* name) {
  return library ? reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name)) : nullptr;
}

std::string ModulePathOf(const void* address) {
  HMODULE module = nullptr;
  if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          static_cast<LPCSTR>(address), &module))
    return {};
  char path[MAX_PATH];
  DWORD n = GetModuleFileNameA(module, path, sizeof path);
  return (n == 0 || n >= sizeof path) ? std::string() : std::string(path, n);
}

std::string FolderOf(const std::string& path) {
  size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? "." : path.substr(0, slash);
}

std::string SharedLibraryFileName(const std::string& name) { return name + ".dll"; }

bool MayRegisterServersOnFirstUse() { return false; }

}  // namespace platform
