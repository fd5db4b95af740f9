// The mail session over the stand-in client's Simple MAPI, loaded by name.
#include "plugin/host/mail_session.h"

#include "client/store/store_test_support.h"
#include "plugin/dbx/message_content.h"
#include "plugin/host/message_key.h"

#include <set>

namespace kestrelon::testing {
namespace {

class MailSessionTest : public ClientStoreTest {
 protected:
  std::string ListPath() const { return client::PathInFolder(folder_, "Kestrelon.msg"); }

  // One pass: the ids handed out, freeing each message; ids in `spam` are queued.
  std::vector<uint32_t> Pass(MailSession& session, const std::set<uint32_t>& spam = {}) {
    std::vector<uint32_t> ids;
    while (MapiMessage* m = session.NextNewMessage(false)) {
      ids.push_back(m->ulReserved);
      if (spam.count(m->ulReserved)) session.QueueDeletion();
      session.FreeMessage(m);
    }
    return ids;
  }
};

TEST_F(MailSessionTest, FailsWithoutMailAccount) {
  try {
    MailSession session(dir_.File("Kestrelon.msg"));
    FAIL() << "logon without an identity succeeded";
  } catch (const MailSessionError& e) {
    EXPECT_EQ(e.kind, MailSessionError::kLogonFailed);
  }
  // The list file was opened (and created) before the logon.
  EXPECT_TRUE(platform::FileExists(dir_.File("Kestrelon.msg")));
  try {
    MailSession session(dir_.File("no-such-folder/Kestrelon.msg"));
    FAIL() << "a list file that cannot be created was accepted";
  } catch (const MailSessionError& e) {
    EXPECT_EQ(e.kind, MailSessionError::kListFile);
  }
}

TEST_F(MailSessionTest, PassesHandOutEachMessageOnceAndDeleteAtTheEnd) {
  client::MailStore store = MakeStore();
  uint32_t a = store.Deliver(Mail("Ann <ann@example.com>", "a"));
  uint32_t b = store.Deliver(Mail("Bob <bob@example.com>", "b"));
  uint32_t c = store.Deliver(Mail("Cy <cy@example.com>", "c"));
  {
    MailSession session(ListPath());
    std::vector<uint32_t> seen;
    // Two spam mails are queued during the pass and deleted only at its end.
    while (MapiMessage* m = session.NextNewMessage(false)) {
      seen.push_back(m->ulReserved);
      if (m->ulReserved != b) session.QueueDeletion();
      session.FreeMessage(m);
      if (seen.size() < 3) {
        EXPECT_EQ(store.List(client::Folder::Inbox).size(), 3u);
      }
    }
    EXPECT_EQ(seen, (std::vector<uint32_t>{a, b, c}));
    EXPECT_TRUE(session.PendingDeletions().empty());
    ASSERT_EQ(store.List(client::Folder::Inbox).size(), 1u);
    EXPECT_EQ(store.List(client::Folder::Deleted).size(), 2u);
    EXPECT_TRUE(Pass(session).empty());
    uint32_t d = store.Deliver(Mail("Di <di@example.com>", "d"));
    EXPECT_EQ(Pass(session), std::vector<uint32_t>{d});
  }
  // The bookmark and the seen ids carry over to the next session.
  MailSession session(ListPath());
  EXPECT_TRUE(Pass(session).empty());
}

TEST_F(MailSessionTest, DeletedBookmarkStepsBackAndMovedBackMailIsMarkedReturned) {
  client::MailStore store = MakeStore();
  uint32_t a = store.Deliver(Mail("Ann <ann@example.com>", "hello"));
  uint32_t b = store.Deliver(Mail("Bob <bob@example.com>", "b"));
  {
    MailSession session(ListPath());
    EXPECT_EQ(Pass(session, {a}), (std::vector<uint32_t>{a, b}));
    EXPECT_EQ(session.SeenList().Bookmark(), std::to_string(b));
  }
  // The bookmark's message goes away between sessions; the first message comes back.
  ASSERT_TRUE(store.Delete(b));
  uint32_t back = store.MoveBack(store.List(client::Folder::Deleted)[0].id);
  ASSERT_GT(back, b);
  ASSERT_TRUE(store.SetRead(client::Folder::Inbox, back, true));
  MailSession session(ListPath());
  MapiMessage* m = session.NextNewMessage(false);
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(m->ulReserved, back);
  EXPECT_EQ(m->flFlags & kReturnedMailFlag, kReturnedMailFlag);
  EXPECT_EQ(m->flFlags & MAPI_UNREAD, 0u);
  session.FreeMessage(m);
  EXPECT_EQ(session.NextNewMessage(false), nullptr);
  std::string subject = "hello";
  std::vector<std::string> ids;
  auto cursor = session.SeenList().CursorFor(MessageKey("Ann", subject, false));
  for (std::string id; cursor.Next(id);) ids.push_back(id);
  EXPECT_EQ(ids, (std::vector<std::string>{std::to_string(a), std::to_string(back)}));
}

TEST_F(MailSessionTest, DamagedBookmarkStartsOverAtTheBeginning) {
  client::MailStore store = MakeStore();
  uint32_t a = store.Deliver(Mail("Ann <ann@example.com>", "a"));
  WriteAll(ListPath(), "18446744073709551615" + std::string(492, ' ') + "\r\n");
  MailSession session(ListPath());
  EXPECT_EQ(Pass(session), std::vector<uint32_t>{a});
}

TEST_F(MailSessionTest, ReservedWordFindsTheMessageInTheInboxFile) {
  client::MailStore store = MakeStore();
  store.Deliver(Mail("Ann <ann@example.com>", "first", "first body\r\n"));
  store.Deliver(Mail("Bob <bob@example.com>", "second", "second body\r\n"));
  MailSession session(ListPath());
  session.AttachInboxReader(std::make_unique<DbxReader>(store.FilePath(client::Folder::Inbox)));
  std::vector<std::string> bodies;
  while (MapiMessage* m = session.NextNewMessage(false)) {
    std::string header, body;
    EXPECT_FALSE(GetMessageContent(session.InboxReader(), m, header, body));
    EXPECT_NE(header.find(std::string("Subject: ") + m->lpszSubject), std::string::npos);
    bodies.push_back(body);
    session.FreeMessage(m);
  }
  EXPECT_EQ(bodies, (std::vector<std::string>{"first body\r\n", "second body\r\n"}));
}

TEST_F(MailSessionTest, EmptyInboxGivesNothing) {
  MakeStore();
  MailSession session(ListPath());
  EXPECT_EQ(session.NextNewMessage(false), nullptr);
  EXPECT_EQ(session.SeenList().Bookmark(), "");
  EXPECT_EQ(session.CurrentId(), "");
}

}  // namespace
}  // namespace kestrelon::testing
