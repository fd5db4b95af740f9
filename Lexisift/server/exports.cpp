// The four entry points of the in-process server.
#include "Lexisift/server/object_map.h"
#include "Lexisift/server/module_count.h"
#include "Lexisift/server/registration.h"
#include "platform/library.h"
#include "platform/worker.h"

#ifdef _WIN32
// Exported through lexisift.def, which keeps the names undecorated on 32-bit Windows.
#define KESTRELON_EXPORT extern "C" HRESULT STDAPICALLTYPE
#else
#define KESTRELON_EXPORT extern "C" __attribute__((visibility("default"))) HRESULT
#endif

namespace {

std::string ServerPath() { return platform::ModulePathOf(reinterpret_cast<const void*>(&ServerPath)); }

#ifdef _WIN32
// Registration runs with the neutral thread locale, restored afterwards.
struct NeutralThreadLocale {
  NeutralThreadLocale() : saved(GetThreadLocale()) { SetThreadLocale(0x0800); }
  ~NeutralThreadLocale() { SetThreadLocale(saved); }
  LCID saved;
};
#else
struct NeutralThreadLocale {
  NeutralThreadLocale() {}  // no thread locale to set here
};
#endif

}  // namespace

KESTRELON_EXPORT DllGetClassObject(REFCLSID clsid, REFIID riid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  size_t count = 0;
  const kestrelon::ServedClass* classes = kestrelon::ServedClasses(count);
  for (size_t i = 0; i < count; ++i)
    if (IsEqualGUID(clsid, *classes[i].clsid)) return classes[i].factory->QueryInterface(riid, object);
  return CLASS_E_CLASSNOTAVAILABLE;
}

// Not while a worker that a filter gave up on (a link still being opened) runs our code.
KESTRELON_EXPORT DllCanUnloadNow() {
  return kestrelon::module::CanUnload() && platform::LiveWorkers() == 0 ? S_OK : S_FALSE;
}

KESTRELON_EXPORT DllRegisterServer() {
  [[maybe_unused]] NeutralThreadLocale locale;
  std::string path = ServerPath();
  if (path.empty()) return E_UNEXPECTED;
  return kestrelon::RegisterServer(path);
}

KESTRELON_EXPORT DllUnregisterServer() {
  [[maybe_unused]] NeutralThreadLocale locale;
  return kestrelon::UnregisterServer();
}
