// The plug-in host over the stand-in client and the engine's server, headless: a scratch
// store registered as the current identity's store root, the server registered by its
// own DllRegisterServer, and the plug-in started on a headless client window.
#pragma once

#include "client/store/contacts.h"
#include "client/store/store_test_support.h"
#include "platform/folder_listing.h"
#include "platform/library.h"
#include "plugin/host/headless_client_window.h"
#include "plugin/host/new_mail.h"
#include "plugin/host/plugin_data.h"
#include "plugin/verify/test_servers/test_env.h"

#include <cctype>
#include <string>
#include <vector>

namespace kestrelon::testing {

// Calls DllRegisterServer or DllUnregisterServer of the server built beside the test.
inline HRESULT CallServerEntry(const char* entry) {
  std::string folder = platform::FolderOf(platform::ModulePathOf(reinterpret_cast<const void*>(&CallServerEntry)));
  void* library = platform::LoadLibraryFile(platform::JoinPath(folder, platform::SharedLibraryFileName("Lexisift")));
  if (!library) return E_FAIL;
  auto function = reinterpret_cast<HRESULT(STDMETHODCALLTYPE*)()>(platform::LibraryExport(library, entry));
  return function ? function() : E_FAIL;
}

struct LogEntry {
  std::string function;  // empty for LogInfo
  std::string text;
};

class HostTest : public ClientStoreTest {
 protected:
  void SetUp() override {
    ClientStoreTest::SetUp();
    SetEnv("KESTRELON_DETECTION", "notification");
    SetEnv("KESTRELON_ONLINE", "0");
    platform::RegistryKey::DeleteTree(platform::Hive::CurrentUser, "Software\\Kestrelon");
    ASSERT_EQ(CallServerEntry("DllRegisterServer"), S_OK);
    ResetNewMailState();
  }
  void TearDown() override {
    DestroyPluginData();
    UnsetEnv("KESTRELON_DETECTION");
  }

  HostOptions Options() {
    HostOptions options;
    options.logObserver = [this](const char* function, const std::string& text) {
      log_.push_back({function ? function : "", text});
    };
    return options;
  }
  bool Start() { return StartPlugin(window_, Options()); }
  PluginData& Data() { return *CurrentPluginData(); }
  // A pass as the timer starts it.
  void Pass() { OnNewMailTimer(Data()); }
  // The plug-in's end and a new start, as when the client is closed and opened again.
  bool Restart() {
    DestroyPluginData();
    return Start();
  }

  std::vector<std::string> LogTexts() const {
    std::vector<std::string> texts;
    for (const LogEntry& entry : log_) texts.push_back(entry.text);
    return texts;
  }
  std::vector<std::string> BoxTexts() const {
    std::vector<std::string> texts;
    for (const auto& box : window_.Boxes()) texts.push_back(box.caption + "|" + box.text);
    return texts;
  }
  // The store folder as the plug-in finds it: Windows upper-cases the store root.
  std::string PluginStoreFolder() const {
    std::string folder = folder_;
#ifdef _WIN32
    for (char& c : folder) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
#endif
    return folder;
  }
  std::string LogFile() const { return ReadAll(client::PathInFolder(folder_, "Kestrelon.log")); }

  static std::string HamMail(int i) {
    return Mail("Colleague " + std::to_string(i) + " <colleague" + std::to_string(i) + "@northfield.example>",
                "Planning notes for the budget review " + std::to_string(i),
                "Hello team,\r\nthe budget review meeting moves to Thursday; please bring the schedule,\r\n"
                "the project milestones and the minutes of last week.\r\nRegards\r\n");
  }
  static std::string SpamMail(int i) {
    return Mail("Pharmacy Direct <deals" + std::to_string(i) + "@offers-daily.example>",
                "Cheap pills " + std::to_string(i) + " best prices",
                "Buy cheap pills now! Viagra cialis discount pharmacy, no prescription needed.\r\n"
                "Order today and save 80%, limited offer, unsubscribe here.\r\n");
  }

  // An Inbox of `ham` ham mails learnt by the first-run scan.
  client::MailStore LearnedStore(int ham) {
    client::MailStore store = MakeStore();
    for (int i = 0; i < ham; ++i) store.Deliver(HamMail(i));
    EXPECT_TRUE(Start());
    Pass();
    window_.ClearBoxes();
    return store;
  }

  HeadlessClientWindow window_;
  std::vector<LogEntry> log_;
};

}  // namespace kestrelon::testing
