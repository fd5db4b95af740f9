#include "plugin/host/win32/plugin_module.h"

namespace kestrelon {

namespace {

HMODULE module = nullptr;

}  // namespace

HMODULE PluginModule() { return module; }

}  // namespace kestrelon

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    kestrelon::module = instance;
    DisableThreadLibraryCalls(instance);
  }
  return TRUE;
}
