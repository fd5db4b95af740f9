#include "platform/library.h"

#include <dlfcn.h>

#include <climits>
#include <cstdlib>

namespace platform {

void* LoadLibraryFile(const std::string& path) { return dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL); }

void* LibraryExport(void* library, const char* name) { return library ? dlsym(library, name) : nullptr; }

std::string ModulePathOf(const void* address) {
  Dl_info info{};
  if (!dladdr(address, &info) || !info.dli_fname) return {};
  char resolved[PATH_MAX];
  return realpath(info.dli_fname, resolved) ? resolved : info.dli_fname;
}

std::string FolderOf(const std::string& path) {
  size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? "." : path.substr(0, slash);
}

std::string SharedLibraryFileName(const std::string& name) { return name + ".so"; }

bool MayRegisterServersOnFirstUse() { return true; }

}  // namespace platform
