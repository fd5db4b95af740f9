// New-mail passes over the stand-in client: the first-run scan, spam deleted at the end of
// a pass, the address book, returned mail, the receiving test, failures that end a pass.
#include "tests/host/host_test_support.h"

#include "plugin/host/delete_spam.h"
#include "plugin/host/event_log.h"

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
  std::vector<std::pair<std::string, std::string>> rows;
  for (uint32_t id : ids) {
    client::StoredMessage m;
    ASSERT_TRUE(store.Find(client::Folder::Inbox, id, m));
    rows.emplace_back(m.envelope.senderName, m.envelope.subject);
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

  // From now on spam is deleted, both mails of a pass only when the pass ends.
  uint32_t a = store.Deliver(SpamMail(7));
  uint32_t ham = store.Deliver(HamMail(20));
  uint32_t b = store.Deliver(SpamMail(8));
  std::vector<size_t> inboxAtEachEntry;
  size_t deletedBefore = store.List(client::Folder::Deleted).size();
  log_.clear();
  Data().options.logObserver = [&](const char*, const std::string& text) {
    log_.push_back({"", text});
    inboxAtEachEntry.push_back(store.List(client::Folder::Inbox).size());
  };
  Pass();
  EXPECT_EQ(LogTexts(), (std::vector<std::string>{
                            DecisionEntry(Decision::kSpamDeleted, "deals7@offers-daily.example", "Cheap pills 7 best prices"),
                            DecisionEntry(Decision::kSpamDeleted, "deals8@offers-daily.example", "Cheap pills 8 best prices")}));
  size_t before = inboxAtEachEntry.empty() ? 0 : inboxAtEachEntry[0];
  EXPECT_EQ(inboxAtEachEntry, (std::vector<size_t>{before, before}));
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

TEST_F(PipelineTest, ArchiveKeepsDeletedSpamAsEmlFiles) {
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

TEST_F(PipelineTest, ReturnedMailIsAskedAboutOnlyWhenReadAndFirstInThePass) {
  client::MailStore store = LearnedStore(21);
  uint32_t read = store.Deliver(SpamMail(1));
  uint32_t unread = store.Deliver(SpamMail(2));
  Pass();
  long ham = ItemsCount(false);
  // The user deletes both and moves them back; one is read.
  ASSERT_TRUE(store.Delete(read));
  ASSERT_TRUE(store.Delete(unread));
  std::vector<client::StoredMessage> deleted = store.List(client::Folder::Deleted);
  ASSERT_EQ(deleted.size(), 2u);
  uint32_t readBack = store.MoveBack(deleted[0].id);
  uint32_t unreadBack = store.MoveBack(deleted[1].id);
  ASSERT_TRUE(store.SetRead(client::Folder::Inbox, readBack, true));
  log_.clear();
  window_.SetAnswerer([](const HeadlessClientWindow::Box&) { return BoxAnswer::kYes; });
  Pass();
  ASSERT_EQ(window_.Boxes().size(), 1u);
  EXPECT_EQ(window_.Boxes()[0].buttons, BoxButtons::kYesNo);
  EXPECT_EQ(window_.Boxes()[0].owner, BoxOwner::kMainWindow);
  EXPECT_EQ(window_.Boxes()[0].text,
            "Is the mail you just moved to the Inbox real mail\r\nthat has been inadvertently misidentified as spam?");
  // The read one is confirmed and moved to the real mails; the unread one is judged as
  // new mail and learnt again.
  EXPECT_EQ(LogTexts(), std::vector<std::string>{DecisionEntry(Decision::kFalsePositive, "deals1@offers-daily.example",
                                                               "Cheap pills 1 best prices")});
  EXPECT_EQ(ItemsCount(false), ham + 2);
  client::StoredMessage m;
  EXPECT_TRUE(store.Find(client::Folder::Inbox, readBack, m));
  EXPECT_TRUE(store.Find(client::Folder::Inbox, unreadBack, m));

  // A returned read mail that is not the first of its pass is not asked about.
  store.Deliver(HamMail(30));
  ASSERT_TRUE(store.Delete(readBack));
  uint32_t again = store.MoveBack(store.List(client::Folder::Deleted).back().id);
  ASSERT_TRUE(store.SetRead(client::Folder::Inbox, again, true));
  window_.ClearBoxes();
  log_.clear();
  Pass();
  EXPECT_TRUE(window_.Boxes().empty());
  EXPECT_TRUE(log_.empty());
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

// A filter that passes every call on to the engine's filter, until a chosen call fails.
class FailingFilter : public IMailFilter {
 public:
  explicit FailingFilter(IMailFilter* inner) : inner_(inner) {}
  int processCallsLeft = 1 << 30;
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
    if (processCallsLeft-- <= 0) return E_FAIL;
    return inner_->ProcessMailStream(h, s, b);
  }
  HRESULT STDMETHODCALLTYPE AddMailStream(char* h, char* s, VARIANT_BOOL b) override { return inner_->AddMailStream(h, s, b); }
  HRESULT STDMETHODCALLTYPE DeleteMailStream(char* h, char* s, VARIANT_BOOL b) override {
    return inner_->DeleteMailStream(h, s, b);
  }
  HRESULT STDMETHODCALLTYPE SwapMailStream(char* h, char* s, VARIANT_BOOL b) override {
    return inner_->SwapMailStream(h, s, b);
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
  IMailFilter* inner_;
};

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

TEST_F(PipelineTest, FailingFilterOrLogEndsThePassWithTheMessageAndTheNextPassGoesOn) {
  client::MailStore store = LearnedStore(21);
  FailingFilter filter(Data().filter);
  Data().filter = &filter;
  filter.processCallsLeft = 1;
  store.Deliver(HamMail(40));
  uint32_t second = store.Deliver(HamMail(41));
  store.Deliver(HamMail(42));
  Pass();
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{"Kestrelon Spam Filter|Mail processing error!"});
  EXPECT_EQ(window_.Boxes()[0].owner, BoxOwner::kMainWindow);
  // The pass stopped at the second mail, leaving its cursor and status text as they were,
  // and keeping its position: the next pass takes the third mail.
  EXPECT_TRUE(window_.CursorIsWait());
  EXPECT_EQ(Data().mailSession->CurrentId(), std::to_string(second));
  EXPECT_EQ(ItemsCount(false), 22);
  filter.processCallsLeft = 100;
  Pass();
  EXPECT_EQ(ItemsCount(false), 23);
  EXPECT_EQ(window_.Boxes().size(), 1u);

  // A log call that fails ends the pass the same way.
  ASSERT_TRUE(client::AddContact(client::PathInFolder(folder_, client::kContactsFile),
                                 {"colleague43@northfield.example", ""}));
  FailingLog log;
  ILog* real = Data().log;
  Data().log = &log;
  store.Deliver(HamMail(43));
  Pass();
  Data().log = real;
  Data().filter = filter.Inner();
  EXPECT_EQ(window_.Boxes().size(), 2u);
  EXPECT_EQ(BoxTexts().back(), "Kestrelon Spam Filter|Mail processing error!");
}

}  // namespace
}  // namespace kestrelon::testing
