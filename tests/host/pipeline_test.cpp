// New-mail passes over the stand-in client: the first-run scan, spam deleted at the end of
// a pass, the address book, returned mail, the receiving test, failures that end a pass.
#include "tests/host/host_test_support.h"

#include "plugin/host/delete_spam.h"
#include "plugin/host/event_log.h"
#include "plugin/host/mail_learning.h"

#include <algorithm>
#include <filesystem>

namespace kestrelon::testing {
namespace {

using PipelineTest = HostTest;

long ItemsCount(bool spam) {
  LONG count = -1;
  CurrentPluginData()->filter->get_ItemsCount(spam ? VARIANT_TRUE : VARIANT_FALSE, &count);
  return count;
}

const char* const kScanFinished =
    "Kestrelon Spam Filter|Inbox scan has finished. Kestrelon Filter has to know what is Spam.\r\n"
    "Your inbox must not contain any spam mails for proper filter functioning!\r\n"
    "So please remove now all spam mails using \"Delete Spam\" button or menu.";

// Teaches the spam mails of `ids` with Delete Spam on their rows.
void TeachSpam(HeadlessClientWindow& window, const client::MailStore& store, const std::vector<uint32_t>& ids) {
  std::vector<HeadlessClientWindow::Row> rows;
  for (uint32_t id : ids) {
    client::StoredMessage m;
    ASSERT_TRUE(store.Find(client::Folder::Inbox, id, m));
    rows.push_back({m.envelope.senderName, m.envelope.subject, client::DateReceivedText(m.envelope.receivedTime)});
  }
  window.SelectRows(rows);
  DeleteSpam(*CurrentPluginData());
}

TEST_F(PipelineTest, FirstRunScanLearnsTheInboxOnceAnAttachment) {
  client::MailStore store = MakeStore();
  // An empty Inbox: the dialog opens and closes and the closing box is still shown.
  ASSERT_TRUE(Start());
  Pass();
  EXPECT_EQ(window_.ProgressOpenings(), 1);
  EXPECT_FALSE(window_.ProgressOpen());
  EXPECT_EQ(window_.ProgressMaximum(), 0);
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{kScanFinished});
  // Later passes of the same attachment take the normal path.
  store.Deliver(HamMail(1));
  store.Deliver(HamMail(2));
  Pass();
  EXPECT_EQ(window_.ProgressOpenings(), 1);
  EXPECT_EQ(ItemsCount(false), 2);
  // The next attachment with an empty store scans again: only what the list has not seen.
  DestroyPluginData();
  std::filesystem::remove(dir_.File("store/Kestrelon.dat"));
  std::filesystem::remove(dir_.File("store/Kestrelon.dat.bak"));
  store.Deliver(HamMail(3));
  ASSERT_TRUE(Start());
  Pass();
  EXPECT_EQ(window_.ProgressOpenings(), 2);
  EXPECT_EQ(window_.ProgressSteps(), 1);
  EXPECT_EQ(window_.ProgressMaximum(), 3);  // the reader's count of the whole Inbox
  EXPECT_EQ(ItemsCount(false), 1);
  EXPECT_EQ(store.List(client::Folder::Inbox).size(), 3u);
}

TEST_F(PipelineTest, NothingIsSpamBeforeTwentyHamAndSpamGoesAtTheEndOfThePass) {
  client::MailStore store = LearnedStore(19);
  EXPECT_EQ(ItemsCount(false), 19);
  // Spam taught while fewer than 20 ham mails are known...
  std::vector<uint32_t> spam;
  for (int i = 0; i < 6; ++i) spam.push_back(store.Deliver(SpamMail(i)));
  Pass();
  TeachSpam(window_, store, spam);
  EXPECT_EQ(ItemsCount(true), 6);
  // ...does not make the next spam mail spam: it is learnt as the 20th ham mail.
  uint32_t early = store.Deliver(SpamMail(6));
  Pass();
  EXPECT_EQ(ItemsCount(false), 20);
  client::StoredMessage m;
  EXPECT_TRUE(store.Find(client::Folder::Inbox, early, m));

  // From now on spam is deleted, both mails of a pass only when the pass has judged
  // every mail, and each logged only once the client deleted it.
  uint32_t a = store.Deliver(SpamMail(7));
  uint32_t ham = store.Deliver(HamMail(20));
  uint32_t b = store.Deliver(SpamMail(8));
  std::vector<size_t> inboxAtEachEntry, seenAtEachEntry;
  size_t deletedBefore = store.List(client::Folder::Deleted).size();
  size_t before = store.List(client::Folder::Inbox).size();
  log_.clear();
  Data().options.logObserver = [&](const char*, const std::string& text) {
    log_.push_back({"", text});
    inboxAtEachEntry.push_back(store.List(client::Folder::Inbox).size());
    seenAtEachEntry.push_back(Data().mailSession->SeenList().SeenCount());
  };
  size_t seen = Data().mailSession->SeenList().SeenCount();
  Pass();
  EXPECT_EQ(LogTexts(), (std::vector<std::string>{
                            DecisionEntry(Decision::kSpamDeleted, "deals7@offers-daily.example", "Cheap pills 7 best prices"),
                            DecisionEntry(Decision::kSpamDeleted, "deals8@offers-daily.example", "Cheap pills 8 best prices")}));
  EXPECT_EQ(inboxAtEachEntry, (std::vector<size_t>{before - 1, before - 2}));
  EXPECT_EQ(seenAtEachEntry, (std::vector<size_t>{seen + 3, seen + 3}));
  EXPECT_FALSE(store.Find(client::Folder::Inbox, a, m));
  EXPECT_FALSE(store.Find(client::Folder::Inbox, b, m));
  EXPECT_TRUE(store.Find(client::Folder::Inbox, ham, m));
  EXPECT_EQ(store.List(client::Folder::Deleted).size(), deletedBefore + 2);
  // The pass showed its progress in the status bar and put everything back.
  EXPECT_EQ(window_.StatusText(0), "");
  EXPECT_FALSE(window_.CursorIsWait());
  EXPECT_NE(LogFile().find(" Spam Mail automatically deleted - From: deals8@offers-daily.example, Subject: "
                           "Cheap pills 8 best prices\r\n"),
            std::string::npos);
}

TEST_F(PipelineTest, ArchiveKeepsDeletedSpamAndSpamWhoseCopyFailsStays) {
  client::MailStore store = LearnedStore(22);
  std::vector<uint32_t> spam;
  for (int i = 0; i < 6; ++i) spam.push_back(store.Deliver(SpamMail(i)));
  Pass();
  TeachSpam(window_, store, spam);
  Data().settings->archiveSpam = 1;
  store.Deliver(SpamMail(9));
  Pass();
  std::vector<platform::FolderEntry> archived;
  ASSERT_TRUE(platform::ListFolder(Data().settings->archiveFolder, archived));
  ASSERT_EQ(archived.size(), 1u);
  EXPECT_NE(ReadAll(platform::JoinPath(Data().settings->archiveFolder, archived[0].name)).find("Cheap pills 9"),
            std::string::npos);

  // Copies that cannot be written: both mails stay, each logged, one box for the pass.
  Data().settings->archiveFolder = dir_.File("gone/SpamArchive");
  uint32_t c = store.Deliver(SpamMail(10)), d = store.Deliver(SpamMail(11));
  log_.clear();
  window_.ClearBoxes();
  Pass();
  EXPECT_EQ(LogTexts(), (std::vector<std::string>{
                            DecisionEntry(Decision::kArchiveFailed, "deals10@offers-daily.example", "Cheap pills 10 best prices"),
                            DecisionEntry(Decision::kArchiveFailed, "deals11@offers-daily.example", "Cheap pills 11 best prices")}));
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{std::string("Kestrelon Spam Filter|") + kArchiveFailedBox});
  client::StoredMessage m;
  EXPECT_TRUE(store.Find(client::Folder::Inbox, c, m));
  EXPECT_TRUE(store.Find(client::Folder::Inbox, d, m));
  // The next pass leaves them; Delete Spam deletes one without learning it again.
  window_.ClearBoxes();
  Pass();
  long learnt = ItemsCount(true);
  TeachSpam(window_, store, {c});
  EXPECT_EQ(ItemsCount(true), learnt);
  EXPECT_FALSE(store.Find(client::Folder::Inbox, c, m));
  EXPECT_TRUE(store.Find(client::Folder::Inbox, d, m));
  EXPECT_EQ(LogTexts().back(),
            DecisionEntry(Decision::kManuallyDeleted, "deals10@offers-daily.example", "Cheap pills 10 best prices"));
  EXPECT_TRUE(window_.Boxes().empty());
}

TEST_F(PipelineTest, SenderInTheAddressBookIsLearntAsRealMailAndLoggedOnOneLine) {
  client::MailStore store = LearnedStore(21);
  std::string contacts = client::PathInFolder(folder_, client::kContactsFile);
  ASSERT_TRUE(client::AddContact(contacts, {"DEALS1@Offers-Daily.example", "Deals"}));
  ASSERT_TRUE(client::AddContact(contacts, {"alice@northfield.example", "Alice"}));
  DestroyPluginData();  // the address book is opened at start-up
  ASSERT_TRUE(Start());
  // The whole address counts, ignoring case; one that only begins a contact's does not.
  store.Deliver(Mail("a <a>", "Short sender"));
  // A subject that would forge a second log entry.
  store.Deliver(Mail("Pharmacy Direct <deals1@offers-daily.example>",
                     "=?utf-8?Q?Hello=0D=0A12/08/26_09:00:00_False_Positive_Mail_-_From:_boss@example.com,"
                     "_Subject:_x?="));
  Pass();
  const std::string subject = "Hello\r\n12/08/26 09:00:00 False Positive Mail - From: boss@example.com, Subject: x";
  EXPECT_EQ(LogTexts(),
            std::vector<std::string>{DecisionEntry(Decision::kAddressBook, "deals1@offers-daily.example", subject.c_str())});
  EXPECT_EQ(ItemsCount(false), 23);
  std::string file = LogFile();
  EXPECT_EQ(std::count(file.begin(), file.end(), '\n'), std::ptrdiff_t(log_.size()));
  EXPECT_NE(file.find(" Mail Sender in Address Book - From: deals1@offers-daily.example, Subject: Hello  "
                      "12/08/26 09:00:00 False Positive Mail - From: boss@example.com, Subject: x\r\n"),
            std::string::npos);
}

// Moves the Deleted Items message with `subject` back into the Inbox, read or unread.
uint32_t MoveBack(const client::MailStore& store, const std::string& subject, bool read) {
  for (const client::StoredMessage& m : store.List(client::Folder::Deleted)) {
    if (m.envelope.subject != subject) continue;
    uint32_t id = store.MoveBack(m.id);
    if (read) {
      EXPECT_TRUE(store.SetRead(client::Folder::Inbox, id, true));
    }
    return id;
  }
  ADD_FAILURE() << "not in Deleted Items: " << subject;
  return 0;
}

TEST_F(PipelineTest, ReturnedMailIsNeverLearntTwiceAndAskedAboutWhenReadAndLearntAsSpam) {
  client::MailStore store = LearnedStore(22);
  std::vector<uint32_t> taught;
  for (int i = 0; i < 6; ++i) taught.push_back(store.Deliver(SpamMail(i)));
  Pass();
  TeachSpam(window_, store, taught);
  for (int i = 10; i < 13; ++i) store.Deliver(SpamMail(i));
  uint32_t real = store.Deliver(HamMail(30));
  Pass();
  ASSERT_EQ(store.List(client::Folder::Inbox).size(), 23u);
  ASSERT_TRUE(store.Delete(real));  // a real mail the user deleted by hand
  long ham = ItemsCount(false), spam = ItemsCount(true);

  // A new mail first, then four moved back: two spam read, one unread, the real mail read.
  store.Deliver(HamMail(31));
  uint32_t read1 = MoveBack(store, "Cheap pills 10 best prices", true);
  uint32_t unread = MoveBack(store, "Cheap pills 11 best prices", false);
  uint32_t read2 = MoveBack(store, "Cheap pills 12 best prices", true);
  uint32_t realBack = MoveBack(store, "Planning notes for the budget review 30", true);
  log_.clear();
  window_.SetAnswerer([](const HeadlessClientWindow::Box&) { return BoxAnswer::kYes; });
  Pass();
  // One question, at the first returned spam though it is not the first mail of the
  // pass; the answer holds for the other one. The unread one goes again as spam, and the
  // real mail stays, neither learnt again.
  ASSERT_EQ(window_.Boxes().size(), 1u);
  EXPECT_EQ(window_.Boxes()[0].buttons, BoxButtons::kYesNo);
  EXPECT_EQ(window_.Boxes()[0].owner, BoxOwner::kMainWindow);
  EXPECT_EQ(window_.Boxes()[0].text,
            "Is the mail you just moved to the Inbox real mail\r\nthat has been inadvertently misidentified as spam?");
  EXPECT_EQ(LogTexts(), (std::vector<std::string>{
                            DecisionEntry(Decision::kFalsePositive, "deals10@offers-daily.example", "Cheap pills 10 best prices"),
                            DecisionEntry(Decision::kFalsePositive, "deals12@offers-daily.example", "Cheap pills 12 best prices"),
                            DecisionEntry(Decision::kSpamDeleted, "deals11@offers-daily.example", "Cheap pills 11 best prices")}));
  EXPECT_EQ(ItemsCount(false), ham + 3);
  EXPECT_EQ(ItemsCount(true), spam - 2);
  client::StoredMessage m;
  for (uint32_t id : {read1, read2, realBack}) EXPECT_TRUE(store.Find(client::Folder::Inbox, id, m)) << id;
  EXPECT_FALSE(store.Find(client::Folder::Inbox, unread, m));

  // A second copy of a mail still in the Inbox, arriving in the same minute and read
  // before its pass, is new mail.
  uint64_t minute = client::FileTimeNow();
  store.Deliver(HamMail(40), minute);
  Pass();
  ASSERT_TRUE(store.SetRead(client::Folder::Inbox, store.Deliver(HamMail(40), minute), true));
  window_.ClearBoxes();
  Pass();
  EXPECT_TRUE(window_.Boxes().empty());
  EXPECT_EQ(ItemsCount(false), ham + 5);
}

TEST_F(PipelineTest, NoPassWhileTheClientReceivesOrTheInboxFileIsUnchanged) {
  client::MailStore store = LearnedStore(3);
  uint32_t id = store.Deliver(HamMail(5));
  window_.SetStatusText(2, "RECEIVING MAIL...");
  Pass();
  OnChangeNotification(Data(), kUpdateDirectoryEvent);
  EXPECT_EQ(ItemsCount(false), 3);
  window_.SetStatusText(2, "");
  // Another event code, then the update: one pass; a second update without a change of
  // the Inbox file does nothing.
  OnChangeNotification(Data(), 0x2000);
  EXPECT_EQ(ItemsCount(false), 3);
  OnChangeNotification(Data(), kUpdateDirectoryEvent);
  EXPECT_EQ(ItemsCount(false), 4);
  EXPECT_TRUE(Data().mailSession->SeenList().IsSeen(std::to_string(id)));
  store.Deliver(HamMail(6));
  uint64_t seen = Data().inboxLastWriteTime;
  Data().inboxLastWriteTime = 0;
  platform::LastWriteTime(Data().inboxPath, Data().inboxLastWriteTime);
  OnChangeNotification(Data(), kUpdateDirectoryEvent);
  EXPECT_EQ(ItemsCount(false), 4);
  EXPECT_NE(seen, 0u);
}

TEST_F(PipelineTest, BookmarkStepsBackOverDeletedMessages) {
  client::MailStore store = LearnedStore(3);
  std::vector<client::StoredMessage> inbox = store.List(client::Folder::Inbox);
  DestroyPluginData();  // the bookmark (the last id) is written
  // The bookmarked message and the one before are gone; a new one arrives.
  ASSERT_TRUE(store.Delete(inbox[2].id));
  ASSERT_TRUE(store.Delete(inbox[1].id));
  uint32_t fresh = store.Deliver(HamMail(9));
  ASSERT_TRUE(Start());
  Pass();
  EXPECT_EQ(ItemsCount(false), 4);
  EXPECT_EQ(Data().mailSession->SeenList().Bookmark(), std::to_string(fresh));
}

TEST_F(PipelineTest, DamagedInboxFileEndsThePassQuietlyAndLosesNothing) {
  client::MailStore store = MakeStore();
  store.Deliver(HamMail(1));
  store.Deliver(HamMail(2));
  std::string inbox = store.FilePath(client::Folder::Inbox);
  std::string whole = ReadAll(inbox);
  std::string damaged = whole.substr(0, 100);  // cut inside the header
  WriteAll(inbox, damaged);
  ASSERT_TRUE(Start());
  Pass();
  // The scan finds no index (its bar counts to 100) and no message, and ends as usual.
  EXPECT_EQ(window_.ProgressMaximum(), 100);
  EXPECT_EQ(window_.ProgressSteps(), 0);
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{kScanFinished});
  EXPECT_EQ(ReadAll(inbox), damaged);
  EXPECT_EQ(Data().mailSession->SeenList().SeenCount(), 0u);
  // Once the client has repaired its file, the next pass judges both mails.
  WriteAll(inbox, whole);
  Pass();
  EXPECT_EQ(ItemsCount(false), 2);
  EXPECT_EQ(window_.Boxes().size(), 1u);
}

// A filter that passes every call on to the engine's filter, until the calls that learn
// are used up: then they report `failure`, after learning when `learnFirst`.
class FailingFilter : public IMailFilter {
 public:
  explicit FailingFilter(IMailFilter* inner) : inner_(inner) {}
  int learnCallsLeft = 1 << 30;
  HRESULT failure = E_FAIL;
  bool learnFirst = false;
  IMailFilter* Inner() const { return inner_; }
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
  ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE ProcessMailDirectory(BSTR a) override { return inner_->ProcessMailDirectory(a); }
  HRESULT STDMETHODCALLTYPE ProcessMailFile(BSTR a, VARIANT_BOOL* b) override { return inner_->ProcessMailFile(a, b); }
  HRESULT STDMETHODCALLTYPE ProcessMailStream(char* h, char* s, VARIANT_BOOL* b) override {
    return Learn([&] { return inner_->ProcessMailStream(h, s, b); });
  }
  HRESULT STDMETHODCALLTYPE AddMailStream(char* h, char* s, VARIANT_BOOL b) override {
    return Learn([&] { return inner_->AddMailStream(h, s, b); });
  }
  HRESULT STDMETHODCALLTYPE DeleteMailStream(char* h, char* s, VARIANT_BOOL b) override {
    return inner_->DeleteMailStream(h, s, b);
  }
  HRESULT STDMETHODCALLTYPE SwapMailStream(char* h, char* s, VARIANT_BOOL b) override {
    return Learn([&] { return inner_->SwapMailStream(h, s, b); });
  }
  HRESULT STDMETHODCALLTYPE AddMailFile(BSTR a, VARIANT_BOOL b) override { return inner_->AddMailFile(a, b); }
  HRESULT STDMETHODCALLTYPE DeleteMailFile(BSTR a, VARIANT_BOOL b) override { return inner_->DeleteMailFile(a, b); }
  HRESULT STDMETHODCALLTYPE SwapMailFile(BSTR a, VARIANT_BOOL b) override { return inner_->SwapMailFile(a, b); }
  HRESULT STDMETHODCALLTYPE get_ItemsCount(VARIANT_BOOL b, LONG* v) override { return inner_->get_ItemsCount(b, v); }
  HRESULT STDMETHODCALLTYPE Dump(BSTR a) override { return inner_->Dump(a); }
  HRESULT STDMETHODCALLTYPE Init(BSTR a) override { return inner_->Init(a); }
  HRESULT STDMETHODCALLTYPE get_HTTPScanTimeout(LONG* v) override { return inner_->get_HTTPScanTimeout(v); }
  HRESULT STDMETHODCALLTYPE put_HTTPScanTimeout(LONG v) override { return inner_->put_HTTPScanTimeout(v); }
  HRESULT STDMETHODCALLTYPE get_NumOfToken(LONG* v) override { return inner_->get_NumOfToken(v); }
  HRESULT STDMETHODCALLTYPE get_SizeOnRam(LONG* v) override { return inner_->get_SizeOnRam(v); }
  HRESULT STDMETHODCALLTYPE get_SizeOnDisk(LONG* v) override { return inner_->get_SizeOnDisk(v); }
  HRESULT STDMETHODCALLTYPE get_ContentType(CONTENT_TYPE* v) override { return inner_->get_ContentType(v); }
  HRESULT STDMETHODCALLTYPE put_ContentType(CONTENT_TYPE v) override { return inner_->put_ContentType(v); }
  HRESULT STDMETHODCALLTYPE TokensMap(BSTR h, BSTR b, float* p, LONG* v) override { return inner_->TokensMap(h, b, p, v); }
  HRESULT STDMETHODCALLTYPE ReadItemCounter(BSTR a, LONGLONG* v) override { return inner_->ReadItemCounter(a, v); }

 private:
  template <class Call>
  HRESULT Learn(Call call) {
    if (learnCallsLeft-- > 0) return call();
    if (learnFirst) call();
    return failure;
  }
  IMailFilter* inner_;
};

TEST_F(PipelineTest, FirstRunScanCutShortGoesOnAtTheNextPass) {
  client::MailStore store = MakeStore();
  for (int i = 0; i < 4; ++i) store.Deliver(SpamMail(i));
  ASSERT_TRUE(Start());
  FailingFilter filter(Data().filter);
  Data().filter = &filter;
  filter.learnCallsLeft = 2;
  Pass();
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{"Kestrelon Spam Filter|Mail processing error!"});
  EXPECT_FALSE(window_.ProgressOpen());
  // The next pass, even after a new start, scans on: the rest is learnt as real mail.
  Data().filter = filter.Inner();
  ASSERT_TRUE(Restart());
  window_.ClearBoxes();
  Pass();
  EXPECT_EQ(window_.ProgressOpenings(), 2);
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{kScanFinished});
  EXPECT_EQ(ItemsCount(false), 4);
  EXPECT_EQ(ItemsCount(true), 0);
  // Then the normal passes.
  store.Deliver(HamMail(1));
  Pass();
  EXPECT_EQ(window_.ProgressOpenings(), 2);
  EXPECT_EQ(ItemsCount(false), 5);
}

// A log object whose every call fails.
class FailingLog : public ILog {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
  ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
  ULONG STDMETHODCALLTYPE Release() override { return 0; }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE LogError(char*, char*) override { return E_FAIL; }
  HRESULT STDMETHODCALLTYPE LogInfo(char*) override { return E_FAIL; }
  HRESULT STDMETHODCALLTYPE Init(BSTR) override { return E_FAIL; }
};

TEST_F(PipelineTest, FailedLearningEndsThePassOnceAndTheMailIsJudgedByTheNextPass) {
  client::MailStore store = LearnedStore(21);
  FailingFilter filter(Data().filter);
  Data().filter = &filter;
  // A failing result, and S_FALSE with which the filter reports a failure inside it.
  for (HRESULT failure : {E_FAIL, S_FALSE}) {
    SCOPED_TRACE(failure);
    long ham = ItemsCount(false);
    filter.failure = failure;
    filter.learnCallsLeft = 1;
    store.Deliver(HamMail(40));
    uint32_t second = store.Deliver(HamMail(41));
    store.Deliver(HamMail(42));
    log_.clear();
    window_.ClearBoxes();
    Pass();
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{"Kestrelon Spam Filter|Mail processing error!"});
    EXPECT_EQ(window_.Boxes()[0].owner, BoxOwner::kMainWindow);
    ASSERT_EQ(log_.size(), 1u);
    EXPECT_EQ(log_[0].function, "ProcessNewMail");
    EXPECT_NE(log_[0].text.find("IMailFilter::ProcessMailStream"), std::string::npos);
    // The pass stopped at the second mail, leaving its cursor and status text as they
    // were; that mail is not taken as judged, and the next pass judges it.
    EXPECT_TRUE(window_.CursorIsWait());
    EXPECT_FALSE(Data().mailSession->SeenList().IsSeen(std::to_string(second)));
    EXPECT_EQ(ItemsCount(false), ham + 1);
    filter.learnCallsLeft = 100;
    Pass();
    EXPECT_EQ(ItemsCount(false), ham + 3);
    EXPECT_TRUE(Data().mailSession->SeenList().IsSeen(std::to_string(second)));
    EXPECT_EQ(window_.Boxes().size(), 1u);
  }
  // A call that learnt the mail before it failed: the next pass finds it learnt, and
  // neither judges it again nor loses it, also after a restart in between.
  long ham = ItemsCount(false);
  filter.learnCallsLeft = 0;
  filter.learnFirst = true;
  uint32_t learnt = store.Deliver(HamMail(43));
  Pass();
  EXPECT_EQ(ItemsCount(false), ham + 1);
  EXPECT_FALSE(Data().mailSession->SeenList().IsSeen(std::to_string(learnt)));
  Data().filter = filter.Inner();
  ASSERT_TRUE(Restart());
  Pass();
  EXPECT_EQ(ItemsCount(false), ham + 1);
  EXPECT_TRUE(Data().mailSession->SeenList().IsSeen(std::to_string(learnt)));
  window_.ClearBoxes();

  // A log call that fails ends the pass the same way.
  ASSERT_TRUE(client::AddContact(client::PathInFolder(folder_, client::kContactsFile),
                                 {"colleague44@northfield.example", ""}));
  FailingLog log;
  ILog* real = Data().log;
  Data().log = &log;
  store.Deliver(HamMail(44));
  Pass();
  Data().log = real;
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{"Kestrelon Spam Filter|Mail processing error!"});
}

}  // namespace
}  // namespace kestrelon::testing
