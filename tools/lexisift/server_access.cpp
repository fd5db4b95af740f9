#include "tools/lexisift/server_access.h"

#include "platform/com_activation.h"
#include "platform/folder_listing.h"
#include "platform/library.h"
#include "tools/lexisift/cli.h"

#include <cstdio>

namespace lexisift {

namespace {
using EntryPoint = HRESULT(STDMETHODCALLTYPE*)();
}

std::string ServerBesideTool() {
  std::string tool = platform::ModulePathOf(reinterpret_cast<const void*>(&ServerBesideTool));
  std::string folder = platform::FolderOf(tool);
  std::string file = platform::SharedLibraryFileName("Lexisift");
  return folder.empty() ? file : platform::JoinPath(folder, file);
}

HRESULT CallServerEntry(const char* entry) {
  void* library = platform::LoadLibraryFile(ServerBesideTool());
  if (!library) return static_cast<HRESULT>(0x8007007E);  // the module could not be found
  auto function = reinterpret_cast<EntryPoint>(platform::LibraryExport(library, entry));
  return function ? function() : static_cast<HRESULT>(0x8007007F);
}

HRESULT CreateServerObject(const std::string& progId, REFIID iid, void** object) {
  HRESULT hr = platform::CreateInstanceByProgId(progId, iid, object);
  bool unregistered = hr == CO_E_CLASSSTRING || hr == REGDB_E_CLASSNOTREG;
  if (unregistered && !platform::MayRegisterServersOnFirstUse()) {
    std::fprintf(stderr, "lexisift: the Lexisift server is not registered; register it with: regsvr32 \"%s\"\n",
                 ServerBesideTool().c_str());
    return hr;
  }
  if (unregistered && SUCCEEDED(CallServerEntry("DllRegisterServer")))
    hr = platform::CreateInstanceByProgId(progId, iid, object);
  if (FAILED(hr)) std::fprintf(stderr, "lexisift: cannot create %s (0x%08X)\n", progId.c_str(), static_cast<unsigned>(hr));
  return hr;
}

int RunRegister(const Args& args) {
  if (!args.empty()) return UsageError("usage: lexisift register");
  HRESULT hr = CallServerEntry("DllRegisterServer");
  if (FAILED(hr)) {
    std::fprintf(stderr, "lexisift: registering %s failed (0x%08X)\n", ServerBesideTool().c_str(), static_cast<unsigned>(hr));
    return 1;
  }
  return 0;
}

int RunUnregister(const Args& args) {
  if (!args.empty()) return UsageError("usage: lexisift unregister");
  HRESULT hr = CallServerEntry("DllUnregisterServer");
  if (FAILED(hr)) {
    std::fprintf(stderr, "lexisift: unregistering %s failed (0x%08X)\n", ServerBesideTool().c_str(), static_cast<unsigned>(hr));
    return 1;
  }
  return 0;
}

}  // namespace lexisift
