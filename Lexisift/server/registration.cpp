#include "Lexisift/server/registration.h"

#include "Lexisift/server/object_map.h"
#include "Lexisift/server/type_library_registration.h"
#include "platform/registry.h"
#include "shared/mail_filter_interface.h"

#include <cstdio>

namespace kestrelon {

namespace {

using platform::Hive;
using platform::RegistryKey;

constexpr const char* kServerName = "Lexisift";
constexpr const char* kServerFile = "Lexisift.DLL";
constexpr HRESULT kCannotWrite = SELFREG_E_CLASS;

// Creates `subkey` under HKEY_CLASSES_ROOT and sets its default value (when given) and
// one named value (when given).
bool WriteKey(const std::string& subkey, const char* defaultValue, const char* name = nullptr,
              const std::string& value = {}) {
  RegistryKey key;
  if (!key.Create(Hive::ClassesRoot, subkey)) return false;
  if (defaultValue && !key.WriteString("", defaultValue)) return false;
  if (name && !key.WriteString(name, value)) return false;
  return true;
}

bool RemoveKey(const std::string& subkey) {
  RegistryKey probe;
  if (!probe.Open(Hive::ClassesRoot, subkey)) return true;  // nothing to remove
  probe.Close();
  return RegistryKey::DeleteTree(Hive::ClassesRoot, subkey);
}

bool RegisterClass(const ServedClass& c, const std::string& serverPath) {
  const std::string progId = c.progId;
  const std::string versioned = progId + ".1";
  const std::string clsid = GuidText(*c.clsid);
  const std::string classKey = "CLSID\\" + clsid;
  if (!RemoveKey(classKey)) return false;  // the class key is replaced whole
  return WriteKey(versioned, c.friendlyName) && WriteKey(versioned + "\\CLSID", clsid.c_str()) &&
         WriteKey(progId, c.friendlyName) && WriteKey(progId + "\\CLSID", clsid.c_str()) &&
         WriteKey(progId + "\\CurVer", versioned.c_str()) &&
         WriteKey(classKey, c.friendlyName, "AppID", GuidText(APPID_Lexisift)) &&
         WriteKey(classKey + "\\ProgID", versioned.c_str()) &&
         WriteKey(classKey + "\\VersionIndependentProgID", progId.c_str()) &&
         WriteKey(classKey + "\\Programmable", nullptr) &&
         WriteKey(classKey + "\\InprocServer32", serverPath.c_str(), "ThreadingModel", "apartment") &&
         WriteKey(classKey + "\\TypeLib", GuidText(LIBID_Lexisift).c_str());
}

bool UnregisterClass(const ServedClass& c) {
  const std::string progId = c.progId;
  return RemoveKey(progId + ".1") && RemoveKey(progId) && RemoveKey("CLSID\\" + GuidText(*c.clsid));
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
  if (!WriteKey("AppID\\" + appId, kServerName) ||
      !WriteKey(std::string("AppID\\") + kServerFile, nullptr, "AppID", appId))
    return kCannotWrite;
  size_t count = 0;
  const ServedClass* classes = ServedClasses(count);
  for (size_t i = 0; i < count; ++i)
    if (!RegisterClass(classes[i], serverPath)) return kCannotWrite;
  return RegisterTypeLibrary(serverPath);
}

HRESULT UnregisterServer() {
  HRESULT result = S_OK;
  size_t count = 0;
  const ServedClass* classes = ServedClasses(count);
  for (size_t i = 0; i < count; ++i)
    if (!UnregisterClass(classes[i])) result = kCannotWrite;
  HRESULT typeLibrary = UnregisterTypeLibrary();
  if (SUCCEEDED(result)) result = typeLibrary;
  if (!RemoveKey("AppID\\" + GuidText(APPID_Lexisift)) || !RemoveKey(std::string("AppID\\") + kServerFile))
    result = kCannotWrite;
  return result;
}

}  // namespace kestrelon
