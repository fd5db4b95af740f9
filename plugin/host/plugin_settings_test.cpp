// Settings and the client configuration reads, over a registry of the test's own.
#include "plugin/host/plugin_settings.h"

#include "client/store/store_test_support.h"
#include "platform/file.h"
#include "platform/folder_listing.h"
#include "plugin/verify/test_servers/test_env.h"

#include <filesystem>

namespace kestrelon::testing {
namespace {

class PluginSettingsTest : public ClientStoreTest {
 protected:
  void SetUp() override {
    ClientStoreTest::SetUp();
    platform::RegistryKey::DeleteTree(platform::Hive::CurrentUser, "Software\\Kestrelon");
  }

  platform::RegistryKey IdentityKey() {
    platform::RegistryKey key;
    EXPECT_TRUE(key.Create(platform::Hive::CurrentUser, IdentityClientKey(CurrentIdentity())));
    return key;
  }

  static std::string Upper(std::string text) {
#ifdef _WIN32
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
#endif
    return text;
  }
};

TEST_F(PluginSettingsTest, ValuesRoundTripWithTheSmtpTimeOutInSeconds) {
  MakeStore();
  platform::RegistryKey key;
  ASSERT_TRUE(key.Create(platform::Hive::CurrentUser, kSettingsKey));
  ASSERT_TRUE(key.WriteDword("CheckSMTP", 5));
  ASSERT_TRUE(key.WriteDword("HttpScanTimeout", 3));
  ASSERT_TRUE(key.Write("ArchiveSpam", platform::kRegBinary, std::string(8, '\1')));  // too large: stays 0
  PluginSettings settings(nullptr);
  EXPECT_EQ(settings.checkSmtp, 5000u);
  EXPECT_EQ(settings.httpScanTimeout, 3u);
  EXPECT_EQ(settings.archiveSpam, 0u);
  settings.checkSmtp = 7000;
  settings.archiveSpam = 1;
  settings.Save();
  uint32_t value = 0;
  ASSERT_TRUE(key.ReadDword("CheckSMTP", value));
  EXPECT_EQ(value, 7u);
  ASSERT_TRUE(key.ReadDword("ArchiveSpam", value));
  EXPECT_EQ(value, 1u);

  // Without the key every setting is 0.
  platform::RegistryKey::DeleteTree(platform::Hive::CurrentUser, kSettingsKey);
  PluginSettings empty(nullptr);
  EXPECT_EQ(empty.checkSmtp + empty.httpScanTimeout + empty.archiveSpam, 0u);
}

TEST_F(PluginSettingsTest, ValuesOfAnotherTypeAreIgnoredAndTimeOutsClamped) {
  MakeStore();
  platform::RegistryKey key;
  ASSERT_TRUE(key.Create(platform::Hive::CurrentUser, kSettingsKey));
  ASSERT_TRUE(key.WriteString("CheckSMTP", "5"));  // its bytes would read as 53
  ASSERT_TRUE(key.Write("HttpScanTimeout", platform::kRegBinary, std::string("\x07\0\0\0", 4)));
  ASSERT_TRUE(key.WriteDword("ArchiveSpam", 9));
  {
    PluginSettings settings(nullptr);
    EXPECT_EQ(settings.checkSmtp, 0u);
    EXPECT_EQ(settings.httpScanTimeout, 0u);
    EXPECT_EQ(settings.archiveSpam, 1u);
  }
  // Seconds whose milliseconds would overflow are cut, and saved back as cut.
  ASSERT_TRUE(key.WriteDword("CheckSMTP", 4294968));
  ASSERT_TRUE(key.WriteDword("HttpScanTimeout", 0xFFFFFFFFu));
  PluginSettings settings(nullptr);
  EXPECT_EQ(settings.checkSmtp, kMaxTimeoutSeconds * 1000);
  EXPECT_EQ(settings.httpScanTimeout, kMaxTimeoutSeconds);
  settings.Save();
  uint32_t value = 0;
  ASSERT_TRUE(key.ReadDword("CheckSMTP", value));
  EXPECT_EQ(value, kMaxTimeoutSeconds);
  ASSERT_TRUE(key.ReadDword("HttpScanTimeout", value));
  EXPECT_EQ(value, kMaxTimeoutSeconds);
}

TEST_F(PluginSettingsTest, HangingUpAfterReceivingTurnsLinkScanAndVerificationOff) {
  MakeStore();
  platform::RegistryKey key;
  ASSERT_TRUE(key.Create(platform::Hive::CurrentUser, kSettingsKey));
  ASSERT_TRUE(key.WriteDword("CheckSMTP", 5));
  ASSERT_TRUE(key.WriteDword("HttpScanTimeout", 3));
  ASSERT_TRUE(key.WriteDword("ArchiveSpam", 1));
  EXPECT_FALSE(IsHangUpAfterSpool());
  platform::RegistryKey identity = IdentityKey();
  ASSERT_TRUE(identity.WriteString("Hangup After Spool", "1"));  // not a DWORD
  EXPECT_FALSE(IsHangUpAfterSpool());
  ASSERT_TRUE(identity.WriteDword("Hangup After Spool", 2));
  EXPECT_TRUE(IsHangUpAfterSpool());
  PluginSettings settings(nullptr);
  EXPECT_EQ(settings.checkSmtp, 0u);
  EXPECT_EQ(settings.httpScanTimeout, 0u);
  EXPECT_EQ(settings.archiveSpam, 1u);
  // The hold is not saved over the user's values; asking for both off while they are
  // held changes nothing, asking for a feature is refused and kept as chosen.
  auto saved = [&](const char* name) {
    settings.Save();
    uint32_t value = 99;
    EXPECT_TRUE(key.ReadDword(name, value));
    return value;
  };
  EXPECT_EQ(saved("CheckSMTP"), 5u);
  EXPECT_EQ(saved("HttpScanTimeout"), 3u);
  EXPECT_TRUE(settings.ChooseNetworkFeatures(0, 0));
  EXPECT_EQ(saved("CheckSMTP"), 5u);
  EXPECT_FALSE(settings.ChooseNetworkFeatures(9, 0));
  EXPECT_EQ(settings.httpScanTimeout, 0u);
  EXPECT_EQ(saved("HttpScanTimeout"), 9u);
  EXPECT_EQ(saved("CheckSMTP"), 0u);
  ASSERT_TRUE(identity.WriteDword("Hangup After Spool", 0));
  EXPECT_TRUE(settings.ChooseNetworkFeatures(4, 5000));
  EXPECT_EQ(settings.httpScanTimeout, 4u);
  EXPECT_EQ(saved("CheckSMTP"), 5u);
  ASSERT_TRUE(identity.WriteDword("Hangup After Spool", 2));
  // Without an identity key the client is taken to hang up.
  platform::RegistryKey::DeleteTree(platform::Hive::CurrentUser, "Identities");
  EXPECT_TRUE(IsHangUpAfterSpool());
}

TEST_F(PluginSettingsTest, StoreFolderFromTheCurrentIdentity) {
  std::string folder;
  EXPECT_FALSE(GetInboxPath(folder));  // no identity
  MakeStore();
  std::string identity = CurrentIdentity();
  ASSERT_FALSE(identity.empty());
  ASSERT_TRUE(GetInboxPath(folder));
  EXPECT_EQ(folder, Upper(folder_));

  // Only a default identity: it is used.
  platform::RegistryKey ids;
  ASSERT_TRUE(ids.Open(platform::Hive::CurrentUser, "Identities", true));
  ASSERT_TRUE(ids.DeleteValue("Last User ID"));
  EXPECT_EQ(CurrentIdentity(), identity);

  // A store root under the profile folder, the variable in mixed case, with a trailing
  // separator: expanded, the rest kept as written (upper-cased on Windows, before the
  // variable's value is put in).
  std::filesystem::path profile(dir_.Path());
  SetEnv("USERPROFILE", profile.string().c_str());
#ifdef _WIN32
  const std::string tail = "\\Mail Store\\";
#else
  const std::string tail = "/Mail Store/";
#endif
  std::filesystem::create_directories(profile / "Mail Store");
  ASSERT_TRUE(IdentityKey().WriteString("Store Root", "%UserProfile%" + tail, platform::kRegExpandSz));
  ASSERT_TRUE(GetInboxPath(folder));
  EXPECT_EQ(folder, profile.string() + Upper(tail.substr(0, tail.size() - 1)));
  PluginSettings settings(nullptr);
  EXPECT_EQ(settings.archiveFolder, platform::JoinPath(folder, "SpamArchive"));
  EXPECT_TRUE(platform::FileExists(settings.archiveFolder));

  // A folder that does not exist fails, with the path found.
  ASSERT_TRUE(IdentityKey().WriteString("Store Root", "%SYSTEMDRIVE%" + tail + "nowhere"));
  SetEnv("SYSTEMDRIVE", profile.string().c_str());
  EXPECT_FALSE(GetInboxPath(folder));
  EXPECT_EQ(folder, profile.string() + Upper(tail + "nowhere"));
  // A store root too long for the 255-byte buffer is no store root.
  ASSERT_TRUE(IdentityKey().WriteString("Store Root", std::string(300, 'x')));
  EXPECT_FALSE(GetInboxPath(folder));
  EXPECT_EQ(folder, "");
}

}  // namespace
}  // namespace kestrelon::testing
