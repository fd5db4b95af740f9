#include "client/store/contacts.h"
#include "client/store/store_test_support.h"

#include <set>
#include <thread>
#include <vector>

namespace kestrelon::testing {
namespace {

using client::Folder;

class MailStoreTest : public ClientStoreTest {};

TEST_F(MailStoreTest, StoreRootIsReadAsTheClientWritesIt) {
  std::string folder;
  EXPECT_FALSE(client::StoreFolderOfCurrentIdentity(folder));
  ASSERT_TRUE(client::RegisterStoreFolder(folder_));
  ASSERT_TRUE(client::StoreFolderOfCurrentIdentity(folder));
  EXPECT_EQ(folder, folder_);

  // A root with a trailing backslash and a leading %UserProfile% in mixed case.
  platform::RegistryKey key;
  ASSERT_TRUE(key.Create(platform::Hive::CurrentUser, client::IdentityKey(client::CurrentIdentity())));
  ASSERT_TRUE(key.WriteString("Store Root", "%UserProfile%\\Mail\\", platform::kRegExpandSz));
  const char* profile = std::getenv("USERPROFILE");
  ASSERT_TRUE(client::StoreFolderOfCurrentIdentity(folder));
  EXPECT_EQ(folder, std::string(profile ? profile : "") + "\\Mail");
}

TEST_F(MailStoreTest, ReadStateChangesOnlyTheFlags) {
  client::MailStore store = MakeStore();
  uint32_t a = store.Deliver(Mail("Ann <ann@example.com>", "first"));
  uint32_t b = store.Deliver(Mail("Bob <bob@example.com>", "second"));
  ASSERT_TRUE(store.SetRead(Folder::Inbox, a, true));
  EXPECT_FALSE(store.SetRead(Folder::Inbox, 77, true));
  auto list = store.List(Folder::Inbox);
  ASSERT_EQ(list.size(), 2u);
  EXPECT_FALSE(list[0].Unread());
  EXPECT_TRUE(list[1].Unread());
  EXPECT_EQ(list[0].envelope.subject, "first");
  EXPECT_EQ(list[1].id, b);
  ASSERT_TRUE(store.SetRead(Folder::Inbox, a, false));
  EXPECT_TRUE(store.List(Folder::Inbox)[0].Unread());
  // The text is untouched.
  EXPECT_EQ(store.RawText(Folder::Inbox, list[0]), Mail("Ann <ann@example.com>", "first"));
}

TEST_F(MailStoreTest, DeleteAndMoveBackKeepTheTextAndReadState) {
  client::MailStore store = MakeStore();
  std::string mail = Mail("Ann <ann@example.com>", "round trip", "Body\r\n");
  uint32_t a = store.Deliver(mail);
  ASSERT_TRUE(store.SetRead(Folder::Inbox, a, true));
  ASSERT_TRUE(store.Delete(a));
  EXPECT_FALSE(store.Delete(a));
  auto deleted = store.List(Folder::Deleted);
  ASSERT_EQ(deleted.size(), 1u);
  EXPECT_EQ(store.RawText(Folder::Deleted, deleted[0]), mail);
  uint32_t back = store.MoveBack(deleted[0].id);
  EXPECT_GT(back, a);
  EXPECT_EQ(store.MoveBack(deleted[0].id), 0u);
  client::StoredMessage m;
  ASSERT_TRUE(store.Find(Folder::Inbox, back, m));
  EXPECT_FALSE(m.Unread());
  EXPECT_EQ(store.RawText(Folder::Inbox, m), mail);
}

TEST_F(MailStoreTest, MovesBothWaysAtOnceLoseNothing) {
  client::MailStore store = MakeStore();
  std::vector<std::string> mails;
  for (int i = 0; i < 40; ++i) mails.push_back(Mail("Ann <ann@example.com>", "mail " + std::to_string(i)));
  std::vector<uint32_t> ids = store.DeliverMany(mails, client::FileTimeNow());
  ASSERT_EQ(ids.size(), 40u);
  for (int i = 0; i < 20; ++i) ASSERT_TRUE(store.Delete(ids[i]));
  std::vector<uint32_t> deleted;
  for (const auto& m : store.List(Folder::Deleted)) deleted.push_back(m.id);
  ASSERT_EQ(deleted.size(), 20u);
  std::thread back([&] {
    for (uint32_t id : deleted) EXPECT_NE(client::MailStore(folder_).MoveBack(id), 0u);
  });
  for (int i = 20; i < 40; ++i) EXPECT_TRUE(store.Delete(ids[i]));
  back.join();
  std::multiset<std::string> subjects;
  for (Folder f : {Folder::Inbox, Folder::Deleted})
    for (const auto& m : store.List(f)) subjects.insert(m.envelope.subject);
  ASSERT_EQ(subjects.size(), 40u);
  for (int i = 0; i < 40; ++i) EXPECT_EQ(subjects.count("mail " + std::to_string(i)), 1u) << i;
  EXPECT_EQ(store.List(Folder::Inbox).size(), 20u);
}

// Each deletion changes the Inbox, so every lookup after one reads the file as it is now.
TEST_F(MailStoreTest, FindBetweenDeletionsSeesEachChange) {
  client::MailStore store = MakeStore();
  std::vector<uint32_t> ids;
  for (int i = 0; i < 60; ++i) ids.push_back(store.Deliver(Mail("Ann <ann@example.com>", "mail " + std::to_string(i))));
  client::StoredMessage m;
  for (size_t i = 0; i < ids.size(); i += 3) {
    ASSERT_TRUE(store.Find(Folder::Inbox, ids[i], m)) << i;
    EXPECT_EQ(m.id, ids[i]);
    EXPECT_EQ(m.envelope.subject, "mail " + std::to_string(i));
    ASSERT_TRUE(store.Delete(ids[i]));
    EXPECT_FALSE(store.Find(Folder::Inbox, ids[i], m)) << i;
    ASSERT_TRUE(store.Find(Folder::Inbox, ids[i + 1], m)) << i;
    EXPECT_EQ(m.envelope.subject, "mail " + std::to_string(i + 1));
  }
  EXPECT_FALSE(store.Find(Folder::Inbox, ids.back() + 1, m));
  EXPECT_EQ(store.List(Folder::Inbox).size(), 40u);
}

TEST_F(MailStoreTest, MoveCutShortBetweenItsTwoEditsIsFinishedOrForgotten) {
  client::MailStore store = MakeStore();
  uint32_t a = store.Deliver(Mail("Ann <ann@example.com>", "first"));
  uint32_t b = store.Deliver(Mail("Bob <bob@example.com>", "second"));
  std::string journal = client::PathInFolder(folder_, "Move.jnl");
  // What a process ended between the copy and the removal leaves: the copy of a in
  // Deleted Items, a still in the Inbox, the journal naming both.
  client::StoredMessage m;
  ASSERT_TRUE(store.Find(Folder::Inbox, a, m));
  uint32_t copy = client::DbxWriter(store.FilePath(Folder::Deleted)).Append(m.envelope, store.RawText(Folder::Inbox, m));
  WriteAll(journal, "I " + std::to_string(a) + " D " + std::to_string(copy) + ";\n");
  // Deleting it again finishes that move: one copy, reported as the move's result.
  EXPECT_TRUE(store.Delete(a));
  EXPECT_EQ(store.List(Folder::Deleted).size(), 1u);
  EXPECT_EQ(store.List(Folder::Inbox).size(), 1u);
  EXPECT_FALSE(platform::FileExists(journal));

  // A journal whose copy never got in (its index went to another mail meanwhile) is
  // forgotten at the next logon's check, and so is one cut short.
  client::StoredMessage other;
  ASSERT_TRUE(store.Find(Folder::Inbox, b, other));
  other.envelope.subject = "another mail";
  uint32_t taken = client::DbxWriter(store.FilePath(Folder::Deleted)).Append(other.envelope, "Subject: x\r\n\r\n");
  for (std::string text : {"I " + std::to_string(b) + " D " + std::to_string(taken) + ";\n", std::string("I 2 D")}) {
    WriteAll(journal, text);
    store.FinishInterruptedMove();
    EXPECT_TRUE(store.Find(Folder::Inbox, b, m));
    EXPECT_EQ(store.List(Folder::Deleted).size(), 2u);
    EXPECT_FALSE(platform::FileExists(journal));
  }
}

TEST_F(MailStoreTest, FolderFilesAreNamedInTheClientsLanguage) {
  client::MailStore german(folder_, UiLanguage::kGerman);
  german.Create();
  EXPECT_TRUE(platform::FileExists(client::PathInFolder(folder_, "Posteingang.dbx")));
  EXPECT_TRUE(platform::FileExists(client::PathInFolder(folder_, "Gel\366schte Objekte.dbx")));
  EXPECT_FALSE(platform::FileExists(client::PathInFolder(folder_, "Inbox.dbx")));
  // A store found on disk speaks the language of its Inbox file.
  client::MailStore found(folder_);
  EXPECT_EQ(found.Language(), UiLanguage::kGerman);
  uint32_t id = found.Deliver(Mail("Ann <ann@example.com>", "Gr\374\337e"));
  ASSERT_TRUE(found.Delete(id));
  ASSERT_EQ(german.List(Folder::Deleted).size(), 1u);
  EXPECT_EQ(german.List(Folder::Deleted)[0].envelope.subject, "Gr\374\337e");
  EXPECT_EQ(client::MailStore(dir_.File("empty")).Language(), UiLanguage::kEnglish);
  EXPECT_EQ(client::FolderFileName(Folder::Inbox, UiLanguage::kEnglish), "Inbox.dbx");
  EXPECT_EQ(client::FolderFileName(Folder::Deleted, UiLanguage::kEnglish), "Deleted Items.dbx");
}

TEST_F(MailStoreTest, DateReceivedText) {
  EXPECT_EQ(client::DateReceivedText(0), "");
  std::string text = client::DateReceivedText(client::FileTimeFromUnix(1700000000));
  ASSERT_EQ(text.size(), 16u);
  EXPECT_EQ(text.substr(0, 8), "2023/11/");
  EXPECT_EQ(text[4], '/');
  EXPECT_EQ(text[10], ' ');
  EXPECT_EQ(text[13], ':');
}

TEST_F(MailStoreTest, ContactsFile) {
  std::string path = dir_.File(client::kContactsFile);
  EXPECT_TRUE(client::ReadContacts(path).empty());
  WriteAll(path, "# contacts\r\nann@example.com\tAnn Example\r\n\r\n  bob@example.com  \nlast@example.com");
  ASSERT_TRUE(client::AddContact(path, {"new@example.com", "New"}));
  EXPECT_FALSE(client::AddContact(path, {"bad\r\naddress", ""}));
  EXPECT_FALSE(client::AddContact(path, {"  ", ""}));
  auto contacts = client::ReadContacts(path);
  ASSERT_EQ(contacts.size(), 4u);
  EXPECT_EQ(contacts[0].address, "ann@example.com");
  EXPECT_EQ(contacts[0].name, "Ann Example");
  EXPECT_EQ(contacts[1].address, "bob@example.com");
  EXPECT_EQ(contacts[2].address, "last@example.com");
  EXPECT_EQ(contacts[3].address, "new@example.com");
  EXPECT_EQ(contacts[3].name, "New");
}

}  // namespace
}  // namespace kestrelon::testing
