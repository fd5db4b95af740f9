// Test helpers for the stand-in client: a scratch store folder registered as the
// current identity's store root, in a registry of the test's own (a scratch folder on
// Linux, the throw-away Wine prefix on Windows), and sample mails.
#pragma once

#include "client/store/mail_store.h"
#include "client/store/store_location.h"
#include "plugin/dbx/dbx_test_support.h"
#include "platform/registry.h"

#include <cstdlib>
#include <string>

namespace kestrelon::testing {

class ClientStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
#ifndef _WIN32
    setenv("KESTRELON_REGISTRY", dir_.File("registry").c_str(), 1);
#endif
    platform::RegistryKey::DeleteTree(platform::Hive::CurrentUser, "Identities");
    folder_ = dir_.File("store");
  }

  // Creates the store folder with empty message files and registers it.
  client::MailStore MakeStore() {
    client::MailStore store(folder_);
    store.Create();
    EXPECT_TRUE(client::RegisterStoreFolder(folder_));
    return store;
  }

  static std::string Mail(const std::string& from, const std::string& subject, const std::string& body = "Hello.\r\n") {
    return "From: " + from + "\r\nTo: Me <me@example.org>\r\nSubject: " + subject +
           "\r\nDate: Mon, 07 Dec 2026 09:14:02 +0000\r\n\r\n" + body;
  }

  TempDir dir_;
  std::string folder_;
};

}  // namespace kestrelon::testing
