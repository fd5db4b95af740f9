#include "tools/oe-client/commands.h"

#include "client/store/contacts.h"
#include "client/store/store_test_support.h"

#include <regex>
#include <sstream>

namespace kestrelon::testing {
namespace {

class OeClientTest : public ClientStoreTest {
 protected:
  int Run(const std::string& command, oeclient::Args args) {
    out_.str("");
    err_.str("");
    return oeclient::Run(command, args, out_, err_);
  }
  std::string MailFile(const std::string& name, const std::string& text) {
    std::string path = dir_.File(name);
    WriteAll(path, text);
    return path;
  }
  std::ostringstream out_, err_;
};

TEST_F(OeClientTest, InitDeliverListDeleteMoveBackRead) {
  ASSERT_EQ(Run("init", {folder_}), 0) << err_.str();
  std::string registered;
  ASSERT_TRUE(client::StoreFolderOfCurrentIdentity(registered));
  EXPECT_EQ(client::MailStore(registered).List(client::Folder::Inbox).size(), 0u);

  std::string a = MailFile("a.eml", Mail("Ann <ann@example.com>", "First"));
  std::string b = MailFile("b.eml", Mail("bob@example.com", "Second"));
  ASSERT_EQ(Run("deliver", {folder_, a, b}), 0) << err_.str();
  EXPECT_EQ(out_.str(), "1\n2\n");

  ASSERT_EQ(Run("list", {folder_}), 0);
  std::regex line(R"((\d+)\t([01])\t(\d{4}/\d\d/\d\d \d\d:\d\d)\t([^\t]*)\t([^\t\n]*)\n)");
  std::string listed = out_.str();
  std::vector<std::string> rows;
  for (std::sregex_iterator it(listed.begin(), listed.end(), line), end; it != end; ++it)
    rows.push_back((*it)[1].str() + " " + (*it)[2].str() + " " + (*it)[4].str() + " " + (*it)[5].str());
  EXPECT_EQ(rows, (std::vector<std::string>{"1 1 ann@example.com First", "2 1 bob@example.com Second"}));

  EXPECT_EQ(Run("read", {folder_, "1"}), 0);
  EXPECT_EQ(Run("delete", {folder_, "2"}), 0);
  EXPECT_EQ(Run("delete", {folder_, "2"}), oeclient::kNotFound);
  ASSERT_EQ(Run("list", {folder_, "Deleted"}), 0);
  EXPECT_NE(out_.str().find("\tbob@example.com\tSecond\n"), std::string::npos);
  std::string deletedId = out_.str().substr(0, out_.str().find('\t'));
  // Read in Deleted Items, then moved back: it arrives read.
  EXPECT_EQ(Run("read", {folder_, deletedId, "Deleted"}), 0);
  EXPECT_EQ(Run("read", {folder_, deletedId, "Outbox"}), oeclient::kUsageError);
  ASSERT_EQ(Run("move-back", {folder_, deletedId}), 0);
  EXPECT_EQ(out_.str(), "3\n");
  ASSERT_EQ(Run("list", {folder_, "Inbox"}), 0);
  EXPECT_EQ(out_.str().substr(0, 4), "1\t0\t");
  EXPECT_NE(out_.str().find("\n3\t0\t"), std::string::npos);
  ASSERT_EQ(Run("list", {folder_, "Deleted"}), 0);
  EXPECT_EQ(out_.str(), "");
}

TEST_F(OeClientTest, ContactsAndBadArguments) {
  ASSERT_EQ(Run("init", {folder_}), 0);
  EXPECT_EQ(Run("contact", {folder_, "ann@example.com", "Ann"}), 0);
  auto contacts = client::ReadContacts(client::PathInFolder(folder_, client::kContactsFile));
  ASSERT_EQ(contacts.size(), 1u);
  EXPECT_EQ(contacts[0].name, "Ann");

  EXPECT_EQ(Run("init", {folder_, "--language", "fr"}), oeclient::kUsageError);
  EXPECT_EQ(Run("init", {folder_, "--language", "de"}), oeclient::kFailure);  // already English
  EXPECT_EQ(Run("frobnicate", {}), oeclient::kUsageError);
  EXPECT_EQ(Run("delete", {folder_, "abc"}), oeclient::kUsageError);
  EXPECT_EQ(Run("delete", {folder_, "99999999999"}), oeclient::kUsageError);
  EXPECT_EQ(Run("list", {folder_, "Outbox"}), oeclient::kUsageError);
  EXPECT_EQ(Run("deliver", {folder_, dir_.File("missing.eml")}), oeclient::kFailure);
  EXPECT_EQ(Run("deliver", {dir_.File("nowhere"), dir_.File("missing.eml")}), oeclient::kFailure);
  EXPECT_EQ(Run("move-back", {folder_, "5"}), oeclient::kNotFound);
  EXPECT_EQ(Run("read", {folder_, "5"}), oeclient::kNotFound);
}

}  // namespace
}  // namespace kestrelon::testing
