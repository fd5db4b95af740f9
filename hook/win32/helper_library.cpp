#include "hook/win32/helper_library.h"

namespace hook {
namespace {

template <typename Function>
void Resolve(HMODULE module, const char* name, Function& function) {
  function = reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

}  // namespace

HelperLibrary::HelperLibrary(const std::string& folder) {
  module_ = LoadLibraryA((folder + "\\KestrelonHelper.dll").c_str());
  if (!module_) return;
  Resolve(module_, "SetHook", setHook_);
  Resolve(module_, "DeleteHook", deleteHook_);
}

HelperLibrary::~HelperLibrary() {
  if (module_) FreeLibrary(module_);
}

std::string ProgramFolder() {
  char path[MAX_PATH * 2];
  DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
  std::string file = n < sizeof path ? std::string(path, n) : std::string();
  size_t slash = file.find_last_of("\\/");
  return slash == std::string::npos ? "." : file.substr(0, slash);
}

}  // namespace hook
