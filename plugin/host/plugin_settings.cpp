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

// A setting is a DWORD read as at most 4 bytes into its field; anything larger, or of
// another type (the text "5" would read as 53), leaves it 0.
uint32_t ReadSetting(const platform::RegistryKey& key, const char* name) {
  platform::RegValue value;
  if (!key.Read(name, value) || value.type != platform::kRegDword || value.data.size() > 4) return 0;
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
    uint32_t httpSeconds = std::min(ReadSetting(key, "HttpScanTimeout"), kMaxTimeoutSeconds);
    uint32_t smtpSeconds = std::min(ReadSetting(key, "CheckSMTP"), kMaxTimeoutSeconds);
    archiveSpam = ReadSetting(key, "ArchiveSpam") != 0 ? 1 : 0;
    ChooseNetworkFeatures(httpSeconds, smtpSeconds * 1000);
  }
  std::string folder;
  if (GetInboxPath(folder)) {
    archiveFolder = platform::JoinPath(folder, "SpamArchive");
    platform::CreateFolder(archiveFolder);
  }
}

bool PluginSettings::ChooseNetworkFeatures(uint32_t httpScanSeconds, uint32_t smtpMilliseconds) {
  if (heldOff_ && httpScanSeconds == 0 && smtpMilliseconds == 0) return true;
  heldOff_ = false;
  httpScanTimeout = httpScanSeconds;
  checkSmtp = smtpMilliseconds;
  // Both features need the connection to stay up after mail was received.
  if ((httpScanSeconds == 0 && smtpMilliseconds == 0) || !IsHangUpAfterSpool()) return true;
  heldOff_ = true;
  chosenHttpScanTimeout_ = httpScanSeconds;
  chosenCheckSmtp_ = smtpMilliseconds;
  httpScanTimeout = 0;
  checkSmtp = 0;
  return false;
}

void PluginSettings::TurnOffSenderVerification() {
  checkSmtp = 0;
  chosenCheckSmtp_ = 0;
}

void PluginSettings::Save() const {
  platform::RegistryKey key;
  if (!key.Create(platform::Hive::CurrentUser, kSettingsKey)) return;
  // A field still at the 0 of the hold is not the user's value.
  key.WriteDword("HttpScanTimeout", heldOff_ && httpScanTimeout == 0 ? chosenHttpScanTimeout_ : httpScanTimeout);
  key.WriteDword("ArchiveSpam", archiveSpam);
  key.WriteDword("CheckSMTP", (heldOff_ && checkSmtp == 0 ? chosenCheckSmtp_ : checkSmtp) / 1000);
}

}  // namespace kestrelon
