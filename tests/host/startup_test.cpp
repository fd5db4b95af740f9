// Start-up and tear-down of the plug-in over the stand-in client: every failure with the
// box and the log entry of its step, bad files in the store folder, the deleted-items
// warning, and the settings written back at the end.
#include "tests/host/host_test_support.h"

#include <filesystem>

namespace kestrelon::testing {
namespace {

using StartupTest = HostTest;

std::string FailureBox(uint32_t code) {
  char text[96];
  std::snprintf(text, sizeof text, "Kestrelon Error|Plugin Initialization failed!\r\nErrorCode: 0x%04x", code);
  return text;
}

TEST_F(StartupTest, AttachesArmsDetectionAndTearsDownInOrder) {
  client::MailStore store = MakeStore();
  ASSERT_TRUE(Start());
  EXPECT_EQ(CurrentStartupCode(), kStartupConstructed);
  EXPECT_TRUE(window_.NotificationArmed());
  EXPECT_EQ(window_.WatchedFolder(), PluginStoreFolder());
  EXPECT_TRUE(Data().inboxFile.IsOpen());
  EXPECT_NE(Data().mailSession->InboxReader(), nullptr);
  EXPECT_TRUE(window_.Boxes().empty());
  DestroyPluginData();
  EXPECT_EQ(CurrentPluginData(), nullptr);
  EXPECT_FALSE(window_.NotificationArmed());
  // The list file got its bookmark line; the store file its backup at close.
  EXPECT_EQ(ReadAll(dir_.File("store/Kestrelon.msg")), std::string(512, ' ') + "\r\n");
  EXPECT_TRUE(platform::FileExists(dir_.File("store/Kestrelon.dat")));

  SetEnv("KESTRELON_DETECTION", "timer");
  ASSERT_TRUE(Start());
  EXPECT_TRUE(window_.TimerArmed());
  EXPECT_FALSE(window_.NotificationArmed());
  EXPECT_FALSE(Data().inboxFile.IsOpen());
  DestroyPluginData();
  EXPECT_FALSE(window_.TimerArmed());
}

TEST_F(StartupTest, UnregisteredServerFailsWith4102AndLogsNothing) {
  MakeStore();
  ASSERT_EQ(CallServerEntry("DllUnregisterServer"), S_OK);
  EXPECT_FALSE(Start());
  EXPECT_EQ(CurrentStartupCode(), kStartupNoObjects);
  EXPECT_EQ(CurrentPluginData(), nullptr);
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{FailureBox(0x1006)});
  EXPECT_TRUE(log_.empty());
  EXPECT_FALSE(platform::FileExists(dir_.File("store/Kestrelon.log")));
}

TEST_F(StartupTest, NoIdentityOrNoStoreFolderFailsWith4103) {
  EXPECT_FALSE(Start());
  EXPECT_EQ(CurrentStartupCode(), kStartupNoStoreFolder);
  EXPECT_EQ(BoxTexts(), (std::vector<std::string>{"Kestrelon Error|GetInboxPath failed!\r\nIdentity: \r\nPath: ",
                                                  FailureBox(0x1007)}));
  // A store root that does not exist shows the identity and the path it names.
  ASSERT_TRUE(client::RegisterStoreFolder(folder_));
  window_.ClearBoxes();
  EXPECT_FALSE(Start());
  ASSERT_EQ(window_.Boxes().size(), 2u);
  EXPECT_EQ(window_.Boxes()[0].text,
            "GetInboxPath failed!\r\nIdentity: " + CurrentIdentity() + "\r\nPath: " + PluginStoreFolder());
  EXPECT_TRUE(log_.empty());
}

TEST_F(StartupTest, LogFileThatCannotBeOpenedFailsWith4104) {
  MakeStore();
  std::filesystem::create_directory(dir_.File("store/Kestrelon.log"));
  EXPECT_FALSE(Start());
  EXPECT_EQ(CurrentStartupCode(), kStartupNoLogFile);
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{FailureBox(0x1008)});
  EXPECT_TRUE(log_.empty());
}

TEST_F(StartupTest, NoMailAccountOrNoListFileFailsWith4105) {
  // A store folder without the client's message files: the logon fails.
  std::filesystem::create_directories(folder_);
  ASSERT_TRUE(client::RegisterStoreFolder(folder_));
  EXPECT_FALSE(Start());
  EXPECT_EQ(CurrentStartupCode(), kStartupNoMailSession);
  EXPECT_EQ(BoxTexts(),
            (std::vector<std::string>{
                "Error|Plugin can not be loaded!\r\nProbably a mail account has not yet been configured.",
                FailureBox(0x1009)}));
  ASSERT_EQ(log_.size(), 1u);
  EXPECT_EQ(log_[0].function, "InitPluginData");
  EXPECT_EQ(log_[0].text, "SimpleMapi Init - Does any mail account exist?");
  EXPECT_NE(LogFile().find("Error in function: InitPluginData - Error: SimpleMapi Init - Does any mail account exist?\r\n"),
            std::string::npos);

  // A list file that cannot be opened: the same code and entry, but no logon box.
  MakeStore();
  std::filesystem::remove(dir_.File("store/Kestrelon.msg"));
  std::filesystem::create_directory(dir_.File("store/Kestrelon.msg"));
  window_.ClearBoxes();
  log_.clear();
  EXPECT_FALSE(Start());
  EXPECT_EQ(CurrentStartupCode(), kStartupNoMailSession);
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{FailureBox(0x1009)});
  ASSERT_EQ(log_.size(), 1u);
  EXPECT_EQ(log_[0].text, "SimpleMapi Init - Does any mail account exist?");
}

TEST_F(StartupTest, MissingInboxFileFailsWith4106AfterTheSessionOpened) {
  MakeStore();
  // The German plug-in looks for its Inbox under the German name, which this folder lacks.
  HeadlessClientWindow german(UiLanguage::kGerman);
  EXPECT_FALSE(StartPlugin(german, Options()));
  EXPECT_EQ(CurrentStartupCode(), kStartupNoInboxFile);
  ASSERT_EQ(german.Boxes().size(), 1u);
  EXPECT_EQ(german.Boxes()[0].text, "Initialisierung des Plugins fehlgeschlagen!\r\nErrorCode: 0x100a");
  ASSERT_EQ(log_.size(), 1u);
  EXPECT_EQ(log_[0].function, "InitPluginData");
  EXPECT_EQ(log_[0].text, "RegisterSHNotify - Does Inbox file exist?");
  // The session had been opened and was closed again: its list file is there.
  EXPECT_TRUE(platform::FileExists(dir_.File("store/Kestrelon.msg")));
}

TEST_F(StartupTest, GermanPluginAttachesToAGermanClientsStore) {
  client::MailStore store(folder_, UiLanguage::kGerman);
  store.Create();
  ASSERT_TRUE(client::RegisterStoreFolder(folder_));
  store.Deliver(HamMail(1));
  HeadlessClientWindow german(UiLanguage::kGerman);
  ASSERT_TRUE(StartPlugin(german, Options()));
  EXPECT_EQ(Data().inboxPath, client::PathInFolder(PluginStoreFolder(), "Posteingang.dbx"));
  OnNewMailTimer(Data());
  ASSERT_EQ(german.Boxes().size(), 1u);
  EXPECT_EQ(german.Boxes()[0].text.substr(0, 46), "Die Durchsuchung des Posteingangs ist beendet.");
  EXPECT_EQ(german.ProgressSteps(), 1);
  DestroyPluginData();  // before the window it was started on
}

TEST_F(StartupTest, StoreThatCannotBeOpenedEndsStartupWithItsFailureLogged) {
  MakeStore();
  // Another program holds the store file and lets nobody else open it.
  platform::File holder;
  ASSERT_TRUE(holder.Open(dir_.File("store/Kestrelon.dat"), platform::Access::ReadWrite, platform::kShareNone,
                          platform::Disposition::OpenAlways));
  EXPECT_FALSE(Start());
  EXPECT_EQ(CurrentStartupCode(), kStartupConstructed);
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{FailureBox(0x1005)});
  ASSERT_EQ(log_.size(), 1u);
  EXPECT_EQ(log_[0].function, "InitPluginData");
  // The engine waits a while for the store, then reports the sharing violation.
  EXPECT_EQ(log_[0].text, "IMailFilter::Init failed (0x80070020)");
  // The store file was left as it was.
  uint64_t size = 1;
  EXPECT_TRUE(holder.Size(size));
  EXPECT_EQ(size, 0u);
}

TEST_F(StartupTest, DeletedItemsEmptiedOnExitWarnsUnlessSpamIsArchived) {
  MakeStore();
  platform::RegistryKey mail;
  ASSERT_TRUE(mail.Create(platform::Hive::CurrentUser, IdentityClientKey(CurrentIdentity()) + "\\Mail"));
  ASSERT_TRUE(mail.WriteDword("Delete Wastebasket On Exit", 1));
  ASSERT_TRUE(Start());
  ASSERT_EQ(window_.Boxes().size(), 1u);
  const auto& box = window_.Boxes()[0];
  EXPECT_EQ(box.owner, BoxOwner::kNone);
  EXPECT_EQ(box.caption, "Kestrelon Spam Filter");
  EXPECT_EQ(box.icon, BoxIcon::kExclamation);
  EXPECT_EQ(box.text.substr(0, 37), "The checkbox \"Empty messages from the");
  EXPECT_EQ(LogTexts(), std::vector<std::string>{"Delete Items On Exit is active!\r\n"});

  // With spam archived there is nothing to warn about.
  Data().settings->archiveSpam = 1;
  ASSERT_TRUE(Restart());
  EXPECT_EQ(window_.Boxes().size(), 1u);
  EXPECT_EQ(log_.size(), 1u);
}

TEST_F(StartupTest, SettingsChangedWhileAttachedAreWrittenBackAtTheEnd) {
  MakeStore();
  ASSERT_TRUE(Start());
  EXPECT_EQ(Data().settings->archiveFolder, client::PathInFolder(PluginStoreFolder(), "SpamArchive"));
  EXPECT_TRUE(std::filesystem::is_directory(Data().settings->archiveFolder));
  Data().settings->checkSmtp = 7000;
  DestroyPluginData();
  platform::RegistryKey key;
  uint32_t value = 0;
  ASSERT_TRUE(key.Open(platform::Hive::CurrentUser, kSettingsKey));
  ASSERT_TRUE(key.ReadDword("CheckSMTP", value));
  EXPECT_EQ(value, 7u);
}

}  // namespace
}  // namespace kestrelon::testing
