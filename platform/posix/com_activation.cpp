#include "platform/com_activation.h"

#include "platform/library.h"
#include "platform/registry.h"

#include <cstdio>
#include <mutex>

namespace platform {

namespace {

constexpr HRESULT kModuleNotFound = static_cast<HRESULT>(0x8007007E);
constexpr HRESULT kProcNotFound = static_cast<HRESULT>(0x8007007F);

using GetClassObjectFunction = HRESULT (*)(REFCLSID, REFIID, void**);

bool ParseGuid(const std::string& text, GUID& guid) {
  unsigned d1, d2, d3, b[8];
  char close = 0;
  if (text.size() != 38 ||
      std::sscanf(text.c_str(), "{%8x-%4x-%4x-%2x%2x-%2x%2x%2x%2x%2x%2x%c", &d1, &d2, &d3, &b[0], &b[1], &b[2], &b[3],
                  &b[4], &b[5], &b[6], &b[7], &close) != 12 ||
      close != '}')
    return false;
  guid.Data1 = d1;
  guid.Data2 = static_cast<uint16_t>(d2);
  guid.Data3 = static_cast<uint16_t>(d3);
  for (int i = 0; i < 8; ++i) guid.Data4[i] = static_cast<uint8_t>(b[i]);
  return true;
}

bool ReadDefault(const std::string& subkey, std::string& value) {
  RegistryKey key;
  return key.Open(Hive::ClassesRoot, subkey) && key.ReadString("", value);
}

}  // namespace

HRESULT ComInitialize() { return S_OK; }
void ComUninitialize() {}

HRESULT CreateInstanceByProgId(const std::string& progId, REFIID iid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  std::string clsidText, serverPath;
  GUID clsid;
  if (!ReadDefault(progId + "\\CLSID", clsidText) || !ParseGuid(clsidText, clsid)) return CO_E_CLASSSTRING;
  if (!ReadDefault("CLSID\\" + clsidText + "\\InprocServer32", serverPath)) return REGDB_E_CLASSNOTREG;

  // Servers stay loaded for the life of the process, as the system's COM keeps them
  // until it is asked to free unused libraries.
  static std::mutex loading;
  std::lock_guard<std::mutex> lock(loading);
  void* library = LoadLibraryFile(serverPath);
  if (!library) return kModuleNotFound;
  auto getClassObject = reinterpret_cast<GetClassObjectFunction>(LibraryExport(library, "DllGetClassObject"));
  if (!getClassObject) return kProcNotFound;
  IClassFactory* factory = nullptr;
  HRESULT hr = getClassObject(clsid, IID_IClassFactory, reinterpret_cast<void**>(&factory));
  if (FAILED(hr)) return hr;
  hr = factory->CreateInstance(nullptr, iid, object);
  factory->Release();
  return hr;
}

}  // namespace platform
