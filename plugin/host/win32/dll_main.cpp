#include "plugin/host/win32/plugin_module.h"

#include <vector>

namespace kestrelon {

namespace {

HMODULE module = nullptr;

}  // namespace

HMODULE PluginModule() { return module; }

std::string LoadPluginResourceText(unsigned id, size_t bufferChars) {
  if (bufferChars == 0) return {};
  std::vector<char> buffer(bufferChars, '\0');
  int n = LoadStringA(module, id, buffer.data(), static_cast<int>(bufferChars));
  return std::string(buffer.data(), n > 0 ? static_cast<size_t>(n) : 0);
}

}  // namespace kestrelon

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    kestrelon::module = instance;
    DisableThreadLibraryCalls(instance);
  }
  return TRUE;
}
