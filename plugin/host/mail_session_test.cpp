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

  // One pass: the ids handed out, each recorded as judged; ids in `spam` are deleted
  // at the end.
  std::vector<uint32_t> Pass(MailSession& session, const std::set<uint32_t>& spam = {}) {
    std::vector<uint32_t> ids;
    while (MapiMessage* m = session.NextNewMessage(false)) {
      ids.push_back(m->ulReserved);
      session.RecordJudged(MessageKeyOf(m), m->lpszDateReceived, std::to_string(m->ulReserved));
      session.FreeMessage(m);
    }
    for (uint32_t id : spam) EXPECT_EQ(session.DeleteMessage(std::to_string(id)), SUCCESS_SUCCESS);
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

TEST_F(MailSessionTest, PassesHandOutEachMessageUntilItIsRecorded) {
  client::MailStore store = MakeStore();
  uint32_t a = store.Deliver(Mail("Ann <ann@example.com>", "a"));
  uint32_t b = store.Deliver(Mail("Bob <bob@example.com>", "b"));
  uint32_t c = store.Deliver(Mail("Cy <cy@example.com>", "c"));
  {
    MailSession session(ListPath());
    // A pass that fails at b: a is recorded, b is not; the next pass starts at b.
    MapiMessage* m = session.NextNewMessage(false);
    ASSERT_NE(m, nullptr);
    session.RecordJudged(MessageKeyOf(m), m->lpszDateReceived, std::to_string(a));
    session.FreeMessage(m);
    m = session.NextNewMessage(false);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->ulReserved, b);
    session.FreeMessage(m);
    session.AbandonPass();
    EXPECT_EQ(Pass(session), (std::vector<uint32_t>{b, c}));
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
  EXPECT_EQ(ids, (std::vector<std::string>{std::to_string(a)}));
  // A second copy of a mail that is still in the Inbox is not returned mail.
  client::StoredMessage original;
  ASSERT_TRUE(store.Find(client::Folder::Inbox, back, original));
  EXPECT_EQ(Pass(session), std::vector<uint32_t>{back});  // not recorded above
  store.Deliver(Mail("Ann <ann@example.com>", "hello"), original.envelope.receivedTime);
  m = session.NextNewMessage(false);
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(m->flFlags & kReturnedMailFlag, 0u);
  session.FreeMessage(m);
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
