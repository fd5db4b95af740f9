#include "Lexisift/server/registration.h"

#include "Lexisift/server/object_map.h"
#include "Lexisift/server/type_library_registration.h"
#include "platform/registry.h"
#include "platform/system_error.h"
#include "shared/mail_filter_interface.h"

#include <cstdio>

namespace kestrelon {

namespace {

using platform::Hive;
using platform::RegistryKey;

constexpr const char* kServerName = "Lexisift";
constexpr const char* kServerFile = "Lexisift.DLL";

// The reason of the registry call that just failed; never a success code.
HRESULT Failure() {
  HRESULT hr = platform::LastSystemError();
  return FAILED(hr) ? hr : E_FAIL;
}

// Creates `subkey` under HKEY_CLASSES_ROOT and sets its default value (when given) and
// one named value (when given).
HRESULT WriteKey(const std::string& subkey, const char* defaultValue, const char* name = nullptr,
                 const std::string& value = {}) {
  RegistryKey key;
  if (!key.Create(Hive::ClassesRoot, subkey)) return Failure();
  if (defaultValue && !key.WriteString("", defaultValue)) return Failure();
  if (name && !key.WriteString(name, value)) return Failure();
  return S_OK;
}

HRESULT RemoveKey(const std::string& subkey) {
  RegistryKey probe;
  if (!probe.Open(Hive::ClassesRoot, subkey)) return S_OK;  // nothing to remove
  probe.Close();
  return RegistryKey::DeleteTree(Hive::ClassesRoot, subkey) ? S_OK : Failure();
}

HRESULT RegisterClass(const ServedClass& c, const std::string& serverPath) {
  const std::string progId = c.progId;
  const std::string versioned = progId + ".1";
  const std::string clsid = GuidText(*c.clsid);
  const std::string classKey = "CLSID\\" + clsid;
  HRESULT hr = S_OK;
  if (FAILED(hr = RemoveKey(classKey)) ||  // the class key is replaced whole
      FAILED(hr = WriteKey(versioned, c.friendlyName)) ||
      FAILED(hr = WriteKey(versioned + "\\CLSID", clsid.c_str())) ||
      FAILED(hr = WriteKey(progId, c.friendlyName)) ||
      FAILED(hr = WriteKey(progId + "\\CLSID", clsid.c_str())) ||
      FAILED(hr = WriteKey(progId + "\\CurVer", versioned.c_str())) ||
      FAILED(hr = WriteKey(classKey, c.friendlyName, "AppID", GuidText(APPID_Lexisift))) ||
      FAILED(hr = WriteKey(classKey + "\\ProgID", versioned.c_str())) ||
      FAILED(hr = WriteKey(classKey + "\\VersionIndependentProgID", progId.c_str())) ||
      FAILED(hr = WriteKey(classKey + "\\Programmable", nullptr)) ||
      FAILED(hr = WriteKey(classKey + "\\InprocServer32", serverPath.c_str(), "ThreadingModel", "apartment")) ||
      FAILED(hr = WriteKey(classKey + "\\TypeLib", GuidText(LIBID_Lexisift).c_str())))
    return hr;
  return S_OK;
}

HRESULT UnregisterClass(const ServedClass& c) {
  const std::string progId = c.progId;
  HRESULT hr = S_OK;
  if (FAILED(hr = RemoveKey(progId + ".1")) || FAILED(hr = RemoveKey(progId)) ||
      FAILED(hr = RemoveKey("CLSID\\" + GuidText(*c.clsid))))
    return hr;
  return S_OK;
}

}  // namespace

std::string GuidText(const GUID& g) {
  char text[39];
  std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", static_cast<unsigned>(g.Data1),
                g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6],
                g.Data4[7]);
  return text;
}

HRESULT RegisterServer(const std::string& serverPath) {
  const std::string appId = GuidText(APPID_Lexisift);
  HRESULT hr = S_OK;
  if (FAILED(hr = WriteKey("AppID\\" + appId, kServerName)) ||
      FAILED(hr = WriteKey(std::string("AppID\\") + kServerFile, nullptr, "AppID", appId)))
    return hr;
  size_t count = 0;
  const ServedClass* classes = ServedClasses(count);
  for (size_t i = 0; i < count; ++i)
    if (FAILED(hr = RegisterClass(classes[i], serverPath))) return hr;
  return RegisterTypeLibrary(serverPath);
}

// Removes as much as it can; the first failure is what it reports.
HRESULT UnregisterServer() {
  HRESULT result = S_OK;
  auto keep = [&result](HRESULT hr) {
    if (SUCCEEDED(result)) result = hr;
  };
  size_t count = 0;
  const ServedClass* classes = ServedClasses(count);
  for (size_t i = 0; i < count; ++i) keep(UnregisterClass(classes[i]));
  keep(UnregisterTypeLibrary());
  keep(RemoveKey("AppID\\" + GuidText(APPID_Lexisift)));
  keep(RemoveKey(std::string("AppID\\") + kServerFile));
  return result;
}

}  // namespace kestrelon
