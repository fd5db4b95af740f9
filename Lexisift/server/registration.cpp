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

// Runs the steps in order and returns the first failure, or S_OK.
template <class... Steps>
HRESULT FirstFailure(Steps... steps) {
  HRESULT hr = S_OK;
  ((SUCCEEDED(hr) ? (hr = steps(), 0) : 0), ...);
  return hr;
}

HRESULT RegisterClass(const ServedClass& c, const std::string& serverPath) {
  const std::string progId = c.progId;
  const std::string versioned = progId + ".1";
  const std::string clsid = GuidText(*c.clsid);
  const std::string classKey = "CLSID\\" + clsid;
  return FirstFailure(
      [&] { return RemoveKey(classKey); },  // the class key is replaced whole
      [&] { return WriteKey(versioned, c.friendlyName); },
      [&] { return WriteKey(versioned + "\\CLSID", clsid.c_str()); },
      [&] { return WriteKey(progId, c.friendlyName); },
      [&] { return WriteKey(progId + "\\CLSID", clsid.c_str()); },
      [&] { return WriteKey(progId + "\\CurVer", versioned.c_str()); },
      [&] { return WriteKey(classKey, c.friendlyName, "AppID", GuidText(APPID_Lexisift)); },
      [&] { return WriteKey(classKey + "\\ProgID", versioned.c_str()); },
      [&] { return WriteKey(classKey + "\\VersionIndependentProgID", progId.c_str()); },
      [&] { return WriteKey(classKey + "\\Programmable", nullptr); },
      [&] { return WriteKey(classKey + "\\InprocServer32", serverPath.c_str(), "ThreadingModel", "apartment"); },
      [&] { return WriteKey(classKey + "\\TypeLib", GuidText(LIBID_Lexisift).c_str()); });
}

HRESULT UnregisterClass(const ServedClass& c) {
  const std::string progId = c.progId;
  return FirstFailure([&] { return RemoveKey(progId + ".1"); }, [&] { return RemoveKey(progId); },
                      [&] { return RemoveKey("CLSID\\" + GuidText(*c.clsid)); });
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
  HRESULT hr = FirstFailure([&] { return WriteKey("AppID\\" + appId, kServerName); },
                            [&] { return WriteKey(std::string("AppID\\") + kServerFile, nullptr, "AppID", appId); });
  size_t count = 0;
  const ServedClass* classes = ServedClasses(count);
  for (size_t i = 0; i < count && SUCCEEDED(hr); ++i) hr = RegisterClass(classes[i], serverPath);
  if (FAILED(hr)) return hr;
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
