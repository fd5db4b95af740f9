#include "client/store/folder_snapshot.h"

#include "client/store/store_test_support.h"

namespace kestrelon::testing {
namespace {

using client::Folder;

class FolderSnapshotTest : public ClientStoreTest {};

TEST_F(FolderSnapshotTest, KeptWhileTheFileStaysAndRenewedByEveryEdit) {
  client::MailStore store = MakeStore();
  std::string inbox = store.FilePath(Folder::Inbox);
  EXPECT_TRUE(client::FolderSnapshot(dir_.File("absent.dbx"))->empty());
  uint32_t a = store.Deliver(Mail("Ann <ann@example.com>", "first"));
  auto first = client::FolderSnapshot(inbox);
  ASSERT_EQ(first->size(), 1u);
  EXPECT_EQ(client::FolderSnapshot(inbox), first);  // unchanged file: the same list

  // Each edit below goes through a writer of its own, as another process would.
  uint32_t b = client::MailStore(folder_).Deliver(Mail("Bob <bob@example.com>", "second"));
  auto second = client::FolderSnapshot(inbox);
  ASSERT_EQ(second->size(), 2u);
  EXPECT_EQ((*second)[1].id, b);
  EXPECT_EQ((*second)[1].envelope.subject, "second");
  EXPECT_EQ((*first)[0].envelope.subject, "first");  // a list handed out never changes

  ASSERT_TRUE(client::DbxWriter(inbox).ChangeFlags(a, 0, client::kDbxFlagUnread));
  auto read = client::FolderSnapshot(inbox);
  ASSERT_EQ(read->size(), 2u);
  EXPECT_FALSE((*read)[0].Unread());
  EXPECT_TRUE((*read)[1].Unread());

  ASSERT_TRUE(client::DbxWriter(inbox).Delete(a));
  auto rest = client::FolderSnapshot(inbox);
  ASSERT_EQ(rest->size(), 1u);
  EXPECT_EQ((*rest)[0].id, b);

  // The file emptied and given a mail of the same size at once, twice: the same
  // places in the file, but the ids go on, so the header differs.
  client::DbxWriter::Create(inbox);
  uint32_t c = client::MailStore(folder_).Deliver(Mail("Bob <bob@example.com>", "third"));
  EXPECT_GT(c, b);
  EXPECT_EQ((*client::FolderSnapshot(inbox))[0].envelope.subject, "third");
  client::DbxWriter::Create(inbox);
  client::MailStore(folder_).Deliver(Mail("Bob <bob@example.com>", "fifth"));
  auto made = client::FolderSnapshot(inbox);
  ASSERT_EQ(made->size(), 1u);
  EXPECT_EQ((*made)[0].envelope.subject, "fifth");
  EXPECT_EQ((*made)[0].id, c + 1);
}

TEST_F(FolderSnapshotTest, AFileThatCannotBeWalkedIsAnErrorNotAnEmptyFolder) {
  client::MailStore store = MakeStore();
  store.Deliver(Mail("Ann <ann@example.com>", "first"));
  std::string inbox = store.FilePath(Folder::Inbox);
  std::string bytes = ReadAll(inbox);
  bytes[0xC4] = 9;  // entries in the tree
  WriteAll(inbox, bytes);
  EXPECT_THROW(client::FolderSnapshot(inbox), client::StoreError);
  WriteAll(inbox, "short");
  EXPECT_THROW(client::FolderSnapshot(inbox), client::StoreError);
}

}  // namespace
}  // namespace kestrelon::testing
