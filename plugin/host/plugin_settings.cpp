#include "plugin/host/plugin_settings.h"

#include "platform/file.h"
#include "platform/folder_listing.h"
#include "platform/registry.h"
#include "shared/ascii_text.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>

namespace kestrelon {

namespace {

constexpr const char* kIdentities = "Identities";
// A string value is read into a 255-byte buffer: a longer one does not fit.
constexpr size_t kValueBuffer = 255;

bool ReadShortString(const platform::RegistryKey& key, const char* name, std::string& text) {
  platform::RegValue value;
  if (!key.Read(name, value) || value.data.size() > kValueBuffer) return false;
  if (value.type != platform::kRegSz && value.type != platform::kRegExpandSz) return false;
  text = value.data.substr(0, value.data.find('\0'));
  return true;
}

// A setting is read as at most 4 bytes into its field; anything larger leaves it 0.
uint32_t ReadSetting(const platform::RegistryKey& key, const char* name) {
  platform::RegValue value;
  if (!key.Read(name, value) || value.data.size() > 4) return 0;
  uint32_t number = 0;
  for (size_t i = 0; i < value.data.size(); ++i) number |= uint32_t(uint8_t(value.data[i])) << (8 * i);
  return number;
}

void ExpandLeadingVariable(std::string& path, const char* variable, const char* environmentName) {
  if (!StartsWithNoCase(path, variable)) return;
  const char* value = std::getenv(environmentName);
  path = std::string(value ? value : "") + path.substr(std::strlen(variable));
}

#ifdef _WIN32
constexpr char kSeparator = '\\';
#else
constexpr char kSeparator = '/';
#endif

}  // namespace

std::string CurrentIdentity() {
  platform::RegistryKey key;
  if (!key.Open(platform::Hive::CurrentUser, kIdentities)) return {};
  std::string identity;
  if (ReadShortString(key, "Last User ID", identity)) return identity;
  if (ReadShortString(key, "Default User ID", identity)) return identity;
  return {};
}

std::string IdentityClientKey(const std::string& identity) {
  return std::string(kIdentities) + "\\" + identity + "\\Software\\Microsoft\\Outlook Express\\5.0";
}

bool GetInboxPath(std::string& folder) {
  folder.clear();
  std::string identity = CurrentIdentity();
  if (identity.empty()) return false;
  platform::RegistryKey key;
  std::string root;
  if (!key.Open(platform::Hive::CurrentUser, IdentityClientKey(identity)) ||
      !ReadShortString(key, "Store Root", root))
    return false;
#ifdef _WIN32
  std::transform(root.begin(), root.end(), root.begin(), [](unsigned char c) { return char(std::toupper(c)); });
#endif
  ExpandLeadingVariable(root, "%USERPROFILE%", "USERPROFILE");
  ExpandLeadingVariable(root, "%SYSTEMDRIVE%", "SYSTEMDRIVE");
  if (root.size() > 1 && root.back() == kSeparator) root.pop_back();
  folder = root;
  // A folder text that does not fit the buffer of the paths built from it is refused
  // rather than cut into another folder's name.
  if (root.empty() || root.size() > kMaxFolderText) return false;
  return platform::FileExists(root);
}

bool IsHangUpAfterSpool() {
  platform::RegistryKey key;
  if (!key.Open(platform::Hive::CurrentUser, IdentityClientKey(CurrentIdentity()), true)) return true;
  uint32_t hangUp = 0;
  return key.ReadDword("Hangup After Spool", hangUp) && hangUp != 0;
}

PluginSettings::PluginSettings(IMailFilter* filter) : filter_(filter) {
  platform::RegistryKey key;
  if (key.Open(platform::Hive::CurrentUser, kSettingsKey)) {
    httpScanTimeout = ReadSetting(key, "HttpScanTimeout");
    archiveSpam = ReadSetting(key, "ArchiveSpam");
    checkSmtp = ReadSetting(key, "CheckSMTP") * 1000;
  }
  // Both features need the connection to stay up after mail was received.
  if (IsHangUpAfterSpool()) {
    httpScanTimeout = 0;
    checkSmtp = 0;
  }
  std::string folder;
  if (GetInboxPath(folder)) {
    archiveFolder = platform::JoinPath(folder, "SpamArchive");
    platform::CreateFolder(archiveFolder);
  }
}

void PluginSettings::Save() const {
  platform::RegistryKey key;
  if (!key.Create(platform::Hive::CurrentUser, kSettingsKey)) return;
  key.WriteDword("HttpScanTimeout", httpScanTimeout);
  key.WriteDword("ArchiveSpam", archiveSpam);
  key.WriteDword("CheckSMTP", checkSmtp / 1000);
}

}  // namespace kestrelon
