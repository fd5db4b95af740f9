#include "client/store/store_location.h"

#include "platform/registry.h"
#include "shared/ascii_text.h"

#include <cstdlib>

namespace kestrelon::client {

namespace {

constexpr const char* kIdentities = "Identities";
// The identity a fresh stand-in installation creates.
constexpr const char* kNewIdentity = "{6C1A4E2B-3F0D-4B8A-9E57-0D2C11F4A901}";

void ExpandLeading(std::string& path, const char* variable, const char* environmentName) {
  if (!StartsWithNoCase(path, variable)) return;
  const char* value = std::getenv(environmentName);
  path = std::string(value ? value : "") + path.substr(std::char_traits<char>::length(variable));
}

}  // namespace

std::string CurrentIdentity() {
  platform::RegistryKey key;
  if (!key.Open(platform::Hive::CurrentUser, kIdentities)) return {};
  std::string identity;
  if (key.ReadString("Last User ID", identity) && !identity.empty()) return identity;
  if (key.ReadString("Default User ID", identity)) return identity;
  return {};
}

std::string IdentityKey(const std::string& identity) {
  return std::string(kIdentities) + "\\" + identity + "\\Software\\Microsoft\\Outlook Express\\5.0";
}

bool StoreFolderOfCurrentIdentity(std::string& folder) {
  std::string identity = CurrentIdentity();
  if (identity.empty()) return false;
  platform::RegistryKey key;
  std::string root;
  if (!key.Open(platform::Hive::CurrentUser, IdentityKey(identity)) || !key.ReadString("Store Root", root) ||
      root.empty())
    return false;
  ExpandLeading(root, "%USERPROFILE%", "USERPROFILE");
  ExpandLeading(root, "%SYSTEMDRIVE%", "SYSTEMDRIVE");
  if (root.size() > 1 && root.back() == '\\') root.pop_back();
  folder = root;
  return true;
}

bool RegisterStoreFolder(const std::string& folder) {
  std::string identity = CurrentIdentity();
  if (identity.empty()) {
    identity = kNewIdentity;
    platform::RegistryKey ids;
    if (!ids.Create(platform::Hive::CurrentUser, kIdentities) || !ids.WriteString("Last User ID", identity) ||
        !ids.WriteString("Default User ID", identity))
      return false;
  }
  platform::RegistryKey key;
  return key.Create(platform::Hive::CurrentUser, IdentityKey(identity)) &&
         key.WriteString("Store Root", folder, platform::kRegExpandSz);
}

std::string PathInFolder(const std::string& folder, const std::string& file) {
#ifdef _WIN32
  const char separator = '\\';
#else
  const char separator = '/';
#endif
  if (folder.empty()) return file;
  if (folder.back() == '/' || folder.back() == '\\') return folder + file;
  return folder + separator + file;
}

}  // namespace kestrelon::client
