// The Simple MAPI stand-in through its published calls, loaded by its Windows name.
#include "client/store/store_test_support.h"
#include "platform/library.h"
#include "platform/library_names.h"
#include "platform/mapi.h"
#include "platform/process.h"

#include <filesystem>
#include <regex>

namespace kestrelon::testing {
namespace {

class SimpleMapiTest : public ClientStoreTest {
 protected:
  void SetUp() override {
    ClientStoreTest::SetUp();
    library_ = platform::LoadLibraryByName("MSOE.DLL");
    ASSERT_NE(library_, nullptr);
    logon_ = reinterpret_cast<LPMAPILOGON>(platform::LibraryExport(library_, "MAPILogon"));
    logoff_ = reinterpret_cast<LPMAPILOGOFF>(platform::LibraryExport(library_, "MAPILogoff"));
    findNext_ = reinterpret_cast<LPMAPIFINDNEXT>(platform::LibraryExport(library_, "MAPIFindNext"));
    readMail_ = reinterpret_cast<LPMAPIREADMAIL>(platform::LibraryExport(library_, "MAPIReadMail"));
    free_ = reinterpret_cast<LPMAPIFREEBUFFER>(platform::LibraryExport(library_, "MAPIFreeBuffer"));
    delete_ = reinterpret_cast<LPMAPIDELETEMAIL>(platform::LibraryExport(library_, "MAPIDeleteMail"));
    ASSERT_TRUE(logon_ && logoff_ && findNext_ && readMail_ && free_ && delete_);
  }
  void TearDown() override {
    if (session_) logoff_(session_, 0, 0, 0);
    platform::FreeLoadedLibrary(library_);
  }

  ULONG Logon() { return logon_(0, nullptr, nullptr, MAPI_NEW_SESSION, 0, &session_); }

  // MAPIFindNext from `seed` into the same buffer, as the plug-in calls it.
  ULONG Next(std::string& id, FLAGS extra = 0) {
    char buffer[512] = {};
    std::snprintf(buffer, sizeof buffer, "%s", id.c_str());
    ULONG rc = findNext_(session_, 0, nullptr, buffer, MAPI_LONG_MSGID | extra, 0, buffer);
    if (rc == SUCCESS_SUCCESS) id = buffer;
    return rc;
  }

  std::vector<std::string> AllIds(FLAGS extra = 0) {
    std::vector<std::string> ids;
    std::string id;
    while (Next(id, extra) == SUCCESS_SUCCESS) ids.push_back(id);
    return ids;
  }

  lpMapiMessage Read(const std::string& id, FLAGS flags = MAPI_PEEK | MAPI_SUPPRESS_ATTACH) {
    lpMapiMessage message = nullptr;
    std::string copy = id;
    EXPECT_EQ(readMail_(session_, 0, copy.data(), flags, 0, &message), SUCCESS_SUCCESS);
    return message;
  }

  void* library_ = nullptr;
  LPMAPILOGON logon_ = nullptr;
  LPMAPILOGOFF logoff_ = nullptr;
  LPMAPIFINDNEXT findNext_ = nullptr;
  LPMAPIREADMAIL readMail_ = nullptr;
  LPMAPIFREEBUFFER free_ = nullptr;
  LPMAPIDELETEMAIL delete_ = nullptr;
  LHANDLE session_ = 0;
};

TEST(LibraryNames, WindowsNamesMapToTheStandIn) {
  // The name compares without case, as Windows file names do.
  void* lower = platform::LoadLibraryByName("msoe.dll");
  ASSERT_NE(lower, nullptr);
  EXPECT_NE(platform::LibraryExport(lower, "MAPILogon"), nullptr);
  platform::FreeLoadedLibrary(lower);
  EXPECT_EQ(platform::LoadLibraryByName(""), nullptr);
  EXPECT_EQ(platform::LoadLibraryByName("NoSuchLibrary.DLL"), nullptr);
#ifndef _WIN32
  EXPECT_EQ(platform::StandInFileName("MSOE.DLL"), "MSOE.so");
  EXPECT_EQ(platform::StandInFileName("C:\\Program Files\\Common Files\\wab32.dll"), "wab32.so");
  // A folder named in KESTRELON_LIBRARY_PATH comes first.
  TempDir dir;
  std::string own = platform::FolderOf(platform::CurrentExecutablePath());
  std::filesystem::copy_file(own + "/MSOE.so", dir.File("Extra.so"));
  setenv("KESTRELON_LIBRARY_PATH", ("/nonexistent:" + dir.Path()).c_str(), 1);
  void* extra = platform::LoadLibraryByName("EXTRA.DLL");
  unsetenv("KESTRELON_LIBRARY_PATH");
  ASSERT_NE(extra, nullptr);
  EXPECT_NE(platform::LibraryExport(extra, "MAPIFindNext"), nullptr);
  platform::FreeLoadedLibrary(extra);
#endif
}

TEST_F(SimpleMapiTest, LogonNeedsAnIdentityWithAnInbox) {
  EXPECT_EQ(Logon(), ULONG(MAPI_E_LOGON_FAILURE));  // no identity at all
  client::MailStore store(folder_);
  ASSERT_TRUE(client::RegisterStoreFolder(folder_));
  EXPECT_EQ(Logon(), ULONG(MAPI_E_LOGON_FAILURE));  // store folder without an Inbox file
  store.Create();
  ASSERT_EQ(Logon(), ULONG(SUCCESS_SUCCESS));
  EXPECT_NE(session_, LHANDLE(0));
  EXPECT_EQ(logoff_(session_, 0, 0, 0), ULONG(SUCCESS_SUCCESS));
  EXPECT_EQ(logoff_(session_, 0, 0, 0), ULONG(MAPI_E_INVALID_SESSION));
  session_ = 0;
}

TEST_F(SimpleMapiTest, DefaultUserIdIsUsedWithoutLastUserId) {
  client::MailStore store = MakeStore();
  platform::RegistryKey ids;
  ASSERT_TRUE(ids.Open(platform::Hive::CurrentUser, "Identities", true));
  ASSERT_TRUE(ids.DeleteValue("Last User ID"));
  EXPECT_EQ(Logon(), ULONG(SUCCESS_SUCCESS));
}

TEST_F(SimpleMapiTest, IdsAreMessageIndexesInArrivalOrder) {
  client::MailStore store = MakeStore();
  ASSERT_EQ(Logon(), ULONG(SUCCESS_SUCCESS));
  std::string id;
  EXPECT_EQ(Next(id), ULONG(MAPI_E_NO_MESSAGES));  // empty Inbox

  uint32_t a = store.Deliver(Mail("Ann <ann@example.com>", "one"));
  uint32_t b = store.Deliver(Mail("Bob <bob@example.com>", "two"));
  uint32_t c = store.Deliver(Mail("carl@example.com", "three"));
  EXPECT_LT(a, b);
  EXPECT_LT(b, c);
  EXPECT_EQ(AllIds(), (std::vector<std::string>{std::to_string(a), std::to_string(b), std::to_string(c)}));

  // Nothing after the last message: 16; a seed that is no message: 17.
  id = std::to_string(c);
  EXPECT_EQ(Next(id), ULONG(MAPI_E_NO_MESSAGES));
  id = "999";
  EXPECT_EQ(Next(id), ULONG(MAPI_E_INVALID_MESSAGE));
  id = "12x";
  EXPECT_EQ(Next(id), ULONG(MAPI_E_INVALID_MESSAGE));
}

TEST_F(SimpleMapiTest, DeletedSeedAnswers17AndDeletedMailLeavesTheEnumeration) {
  client::MailStore store = MakeStore();
  ASSERT_EQ(Logon(), ULONG(SUCCESS_SUCCESS));
  uint32_t a = store.Deliver(Mail("a@example.com", "a"));
  uint32_t b = store.Deliver(Mail("b@example.com", "b"));
  uint32_t c = store.Deliver(Mail("c@example.com", "c"));

  std::string sb = std::to_string(b);
  EXPECT_EQ(delete_(session_, 0, sb.data(), 0, 0), ULONG(SUCCESS_SUCCESS));
  EXPECT_EQ(delete_(session_, 0, sb.data(), 0, 0), ULONG(MAPI_E_INVALID_MESSAGE));
  EXPECT_EQ(AllIds(), (std::vector<std::string>{std::to_string(a), std::to_string(c)}));
  std::string id = sb;
  EXPECT_EQ(Next(id), ULONG(MAPI_E_INVALID_MESSAGE));

  // The deleted mail is in Deleted Items now, not lost.
  auto deleted = store.List(client::Folder::Deleted);
  ASSERT_EQ(deleted.size(), 1u);
  EXPECT_EQ(deleted[0].envelope.senderAddress, "b@example.com");

  // Every message gone: the seed of the last one answers 16 or 17, the start 16.
  for (uint32_t x : {a, c}) {
    std::string s = std::to_string(x);
    ASSERT_EQ(delete_(session_, 0, s.data(), 0, 0), ULONG(SUCCESS_SUCCESS));
  }
  id = std::to_string(c);
  ULONG rc = Next(id);
  EXPECT_TRUE(rc == MAPI_E_NO_MESSAGES || rc == MAPI_E_INVALID_MESSAGE) << rc;
  id.clear();
  EXPECT_EQ(Next(id), ULONG(MAPI_E_NO_MESSAGES));
}

TEST_F(SimpleMapiTest, ReadMailFillsTheFieldsAndPeekingKeepsMailUnread) {
  client::MailStore store = MakeStore();
  ASSERT_EQ(Logon(), ULONG(SUCCESS_SUCCESS));
  std::string mail =
      "From: \"Ann Example\" <ann@example.com>\r\nTo: me@example.org\r\nSubject: =?iso-8859-1?Q?Gr=FC=DFe?=\r\n"
      "MIME-Version: 1.0\r\nContent-Type: multipart/alternative; boundary=\"XX\"\r\n\r\n"
      "--XX\r\nContent-Type: text/plain; charset=iso-8859-1\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\n"
      "Caf=E9 at noon=\r\n, see you.\r\n--XX\r\nContent-Type: text/html\r\n\r\n<p>Caf&eacute;</p>\r\n--XX--\r\n";
  std::string id = std::to_string(store.Deliver(mail));

  for (FLAGS flags : {FLAGS(MAPI_PEEK | MAPI_SUPPRESS_ATTACH), FLAGS(MAPI_PEEK | MAPI_SUPPRESS_ATTACH | MAPI_ENVELOPE_ONLY)}) {
    lpMapiMessage m = Read(id, flags);
    ASSERT_NE(m, nullptr);
    EXPECT_STREQ(m->lpszSubject, "Gr\xFC\xDF" "e");
    if (!(flags & MAPI_ENVELOPE_ONLY)) {
      EXPECT_STREQ(m->lpszNoteText, "Caf\xE9 at noon, see you.\r\n");
    }
    EXPECT_TRUE(std::regex_match(m->lpszDateReceived, std::regex(R"(\d{4}/\d{2}/\d{2} \d{2}:\d{2})")))
        << m->lpszDateReceived;
    EXPECT_EQ(m->flFlags & MAPI_UNREAD, ULONG(MAPI_UNREAD));
    ASSERT_NE(m->lpOriginator, nullptr);
    EXPECT_STREQ(m->lpOriginator->lpszName, "Ann Example");
    EXPECT_STREQ(m->lpOriginator->lpszAddress, "ann@example.com");
    EXPECT_EQ(m->ulReserved, ULONG(0));
    m->ulReserved = 0;
    EXPECT_EQ(free_(m), ULONG(SUCCESS_SUCCESS));
  }
  // Peeking twice left it unread; only the unread-only walk still finds it.
  EXPECT_EQ(AllIds(MAPI_UNREAD_ONLY), std::vector<std::string>{id});

  // A read without MAPI_PEEK marks it read, as the client's own reading does.
  lpMapiMessage m = Read(id, MAPI_SUPPRESS_ATTACH);
  ASSERT_NE(m, nullptr);
  free_(m);
  m = Read(id);
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(m->flFlags & MAPI_UNREAD, ULONG(0));
  free_(m);
  EXPECT_TRUE(AllIds(MAPI_UNREAD_ONLY).empty());
  EXPECT_EQ(AllIds(), std::vector<std::string>{id});
}

TEST_F(SimpleMapiTest, SenderWithoutNameShowsTheAddressAsName) {
  client::MailStore store = MakeStore();
  ASSERT_EQ(Logon(), ULONG(SUCCESS_SUCCESS));
  std::string id = std::to_string(store.Deliver(Mail("<plain@example.com>", "x")));
  lpMapiMessage m = Read(id);
  ASSERT_NE(m, nullptr);
  EXPECT_STREQ(m->lpOriginator->lpszName, "plain@example.com");
  EXPECT_STREQ(m->lpOriginator->lpszAddress, "plain@example.com");
  free_(m);
}

TEST_F(SimpleMapiTest, MailMovedBackGetsANewIdAndKeepsItsEnvelope) {
  client::MailStore store = MakeStore();
  ASSERT_EQ(Logon(), ULONG(SUCCESS_SUCCESS));
  uint32_t first = store.Deliver(Mail("Ann <ann@example.com>", "kept"), client::FileTimeFromUnix(1700000000));
  uint32_t other = store.Deliver(Mail("Bob <bob@example.com>", "other"));
  lpMapiMessage before = Read(std::to_string(first));
  ASSERT_NE(before, nullptr);
  std::string date = before->lpszDateReceived;
  free_(before);

  std::string s = std::to_string(first);
  ASSERT_EQ(delete_(session_, 0, s.data(), 0, 0), ULONG(SUCCESS_SUCCESS));
  auto deleted = store.List(client::Folder::Deleted);
  ASSERT_EQ(deleted.size(), 1u);
  uint32_t back = store.MoveBack(deleted[0].id);
  EXPECT_GT(back, other);
  EXPECT_EQ(AllIds(), (std::vector<std::string>{std::to_string(other), std::to_string(back)}));

  lpMapiMessage after = Read(std::to_string(back));
  ASSERT_NE(after, nullptr);
  EXPECT_STREQ(after->lpszSubject, "kept");
  EXPECT_STREQ(after->lpOriginator->lpszName, "Ann");
  EXPECT_STREQ(after->lpOriginator->lpszAddress, "ann@example.com");
  EXPECT_EQ(date, after->lpszDateReceived);
  EXPECT_EQ(date, client::DateReceivedText(client::FileTimeFromUnix(1700000000)));
  free_(after);
  EXPECT_TRUE(store.List(client::Folder::Deleted).empty());
}

TEST_F(SimpleMapiTest, BadArgumentsAreRefused) {
  client::MailStore store = MakeStore();
  ASSERT_EQ(Logon(), ULONG(SUCCESS_SUCCESS));
  store.Deliver(Mail("a@example.com", "a"));
  char buffer[512] = "";
  EXPECT_EQ(findNext_(session_ + 100, 0, nullptr, buffer, MAPI_LONG_MSGID, 0, buffer), ULONG(MAPI_E_INVALID_SESSION));
  EXPECT_EQ(findNext_(session_, 0, nullptr, nullptr, MAPI_LONG_MSGID, 0, nullptr), ULONG(MAPI_E_FAILURE));
  lpMapiMessage m = nullptr;
  char bad[] = "-1";
  EXPECT_EQ(readMail_(session_, 0, bad, MAPI_PEEK, 0, &m), ULONG(MAPI_E_INVALID_MESSAGE));
  EXPECT_EQ(m, nullptr);
  EXPECT_EQ(readMail_(session_, 0, nullptr, MAPI_PEEK, 0, &m), ULONG(MAPI_E_INVALID_MESSAGE));
  char big[] = "99999999999999999999";
  EXPECT_EQ(delete_(session_, 0, big, 0, 0), ULONG(MAPI_E_INVALID_MESSAGE));
  int notOurs = 0;
  EXPECT_EQ(free_(&notOurs), ULONG(MAPI_E_FAILURE));
  EXPECT_EQ(store.List(client::Folder::Inbox).size(), 1u);
}

}  // namespace
}  // namespace kestrelon::testing
