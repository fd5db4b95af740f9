#include "Lexisift/engine/locked_mail_filter.h"
#include "Lexisift/engine/mail_filter.h"
#include "Lexisift/engine/test_support/scripted_http_server.h"
#include "Lexisift/server/log.h"
#include "Lexisift/server/module_count.h"
#include "Lexisift/store/store_recovery.h"
#include "Lexisift/store/store_test_util.h"
#include "platform/file.h"

#include "plugin/verify/test_servers/test_env.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

using namespace kestrelon;
using kestrelon::testing::ScratchDir;

namespace {

using Bstr = platform::ScopedBstr;

// Mutable copies of mail texts: the filter consumes them.
struct Mail {
  Mail(std::string h, std::string b) : header(std::move(h)), body(std::move(b)) {}
  char* Header() { return header.data(); }
  char* Body() { return body.data(); }
  std::string header, body;
};

template <typename T, typename I>
I* Create(REFIID iid) {
  void* object = nullptr;
  EXPECT_EQ(ComObject::Create<T>(nullptr, iid, &object), S_OK);
  return static_cast<I*>(object);
}

IMailFilter* OpenFilter(const std::string& store) {
  IMailFilter* filter = Create<CMailFilter, IMailFilter>(IID_IMailFilter);
  Bstr path(store);
  EXPECT_EQ(filter->Init(path.value), S_OK);
  return filter;
}

LONG Count(IMailFilter* filter, bool spam) {
  LONG n = -99;
  EXPECT_EQ(filter->get_ItemsCount(spam ? VARIANT_TRUE : VARIANT_FALSE, &n), S_OK);
  return n;
}

VARIANT_BOOL Process(IMailFilter* filter, const std::string& header, const std::string& body) {
  Mail mail(header, body);
  VARIANT_BOOL bad = 7;
  EXPECT_EQ(filter->ProcessMailStream(mail.Header(), mail.Body(), &bad), S_OK);
  return bad;
}

void Learn(IMailFilter* filter, const std::string& header, const std::string& body, VARIANT_BOOL spam) {
  Mail mail(header, body);
  EXPECT_EQ(filter->AddMailStream(mail.Header(), mail.Body(), spam), S_OK);
}

void SetOnline(bool online) {
  kestrelon::testing::SetEnv("KESTRELON_ONLINE", online ? "1" : "0");
  LinkScanner::ResetOnlineCheck();
}

// The DISPID a script gets for member `name`.
HRESULT IdOfName(IMailFilter* filter, const char* name, DISPID& id) {
  std::basic_string<OLECHAR> wide(name, name + std::strlen(name));
  LPOLESTR names[] = {wide.data()};
  return filter->GetIDsOfNames(IID_NULL, names, 1, 0, &id);
}

const char kSpamBody[] = "cheap pills viagra casino winner lottery prize";
const char kHamBody[] = "meeting agenda minutes project schedule review";

}  // namespace

TEST(MailFilter, MembersThatNeedAStoreFailBeforeInit) {
  IMailFilter* filter = Create<CMailFilter, IMailFilter>(IID_IMailFilter);
  Mail mail("Subject: x", "body");
  VARIANT_BOOL bad = 7;
  EXPECT_EQ(filter->ProcessMailStream(mail.Header(), mail.Body(), &bad), CMailFilter::kNoStore);
  EXPECT_EQ(bad, VARIANT_FALSE);
  LONG n = 0;
  EXPECT_EQ(filter->get_ItemsCount(VARIANT_FALSE, &n), CMailFilter::kNoStore);
  EXPECT_EQ(filter->get_SizeOnRam(&n), S_OK);
  EXPECT_EQ(n, 28);
  ScratchDir dir;
  Bstr unusable(dir.File("missing-folder/store.dat"));
  EXPECT_EQ(filter->Init(unusable.value), E_FAIL);
  EXPECT_EQ(filter->get_ItemsCount(VARIANT_FALSE, &n), CMailFilter::kNoStore);
  filter->Release();
}

TEST(MailFilter, AStoreReplacedAtInitIsReportedInTheLogBesideIt) {
  ScratchDir dir;
  const std::string store = dir.File("Kestrelon.dat");
  std::string damaged(780000, '\0');
  damaged[8] = 1;  // bucket 0's chain points into the table
  kestrelon::testing::WriteAll(store, damaged);
  ILog* log = Create<CLog, ILog>(IID_ILog);
  Bstr logPath(dir.File("Kestrelon.log"));
  ASSERT_EQ(log->Init(logPath.value), S_OK);
  IMailFilter* filter = OpenFilter(store);
  EXPECT_EQ(kestrelon::testing::ReadAll(store + ".corrupt"), damaged);
  std::string line = kestrelon::testing::ReadAll(dir.File("Kestrelon.log"));
  EXPECT_NE(line.find("Error in function: CPersistMap - Error: " + RecoveryNotice(store, Recovery::MovedAside) + "\r\n"),
            std::string::npos)
      << line;
  filter->Release();
  log->Release();
}

TEST(MailFilter, AFreshStoreLearnsEveryProcessedMailAsHam) {
  ScratchDir dir;
  IMailFilter* filter = OpenFilter(dir.File("Kestrelon.dat"));
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(Process(filter, "Subject: buy now", kSpamBody), VARIANT_FALSE);
    EXPECT_EQ(Count(filter, false), i + 1);
  }
  EXPECT_EQ(Count(filter, true), 0);
  // Only VARIANT_TRUE means spam: 1 learns as ham.
  Learn(filter, "Subject: x", kSpamBody, 1);
  EXPECT_EQ(Count(filter, false), 4);
  Learn(filter, "Subject: x", kSpamBody, VARIANT_TRUE);
  EXPECT_EQ(Count(filter, true), 1);
  // Swap and delete move the counters back.
  Mail swap("Subject: x", kSpamBody);
  EXPECT_EQ(filter->SwapMailStream(swap.Header(), swap.Body(), VARIANT_FALSE), S_OK);
  EXPECT_EQ(Count(filter, true), 0);
  EXPECT_EQ(Count(filter, false), 5);
  Mail del("Subject: x", kSpamBody);
  EXPECT_EQ(filter->DeleteMailStream(del.Header(), del.Body(), VARIANT_FALSE), S_OK);
  EXPECT_EQ(Count(filter, false), 4);
  filter->Release();
}

TEST(MailFilter, SpamIsReportedOnlyFromTheTwentiethHamMailOn) {
  ScratchDir dir;
  IMailFilter* filter = OpenFilter(dir.File("Kestrelon.dat"));
  for (int i = 0; i < 10; ++i) Learn(filter, "Subject: offer", kSpamBody, VARIANT_TRUE);
  for (int i = 0; i < 19; ++i) Learn(filter, "Subject: work", kHamBody, VARIANT_FALSE);
  // 19 ham mails: a clearly spammy mail is not spam, and is learned as ham.
  EXPECT_EQ(Process(filter, "Subject: offer", kSpamBody), VARIANT_FALSE);
  EXPECT_EQ(Count(filter, false), 20);
  EXPECT_EQ(Process(filter, "Subject: offer", kSpamBody), VARIANT_TRUE);
  EXPECT_EQ(Count(filter, true), 11);
  EXPECT_EQ(Process(filter, "Subject: work", kHamBody), VARIANT_FALSE);
  filter->Release();
}

TEST(MailFilter, ALinkThatTimesOutMakesAShortMailSpam) {
  kestrelon::testing::ScriptedHttpServer slow({200, "text/html", "<p>words</p>", 3000});
  ScratchDir dir;
  IMailFilter* filter = OpenFilter(dir.File("Kestrelon.dat"));
  for (int i = 0; i < 20; ++i) Learn(filter, "Subject: work", kHamBody, VARIANT_FALSE);
  SetOnline(true);
  EXPECT_EQ(filter->put_HTTPScanTimeout(1), S_OK);
  LONG seconds = 0;
  EXPECT_EQ(filter->get_HTTPScanTimeout(&seconds), S_OK);
  EXPECT_EQ(seconds, 1);
  // A harmless mail, but its only link does not answer in time.
  EXPECT_EQ(Process(filter, "Subject: work", "meeting agenda " + slow.Url("/x")), VARIANT_TRUE);
  EXPECT_EQ(filter->put_HTTPScanTimeout(-3), S_OK);
  EXPECT_EQ(filter->get_HTTPScanTimeout(&seconds), S_OK);
  EXPECT_EQ(seconds, 0);
  filter->Release();
}

TEST(MailFilter, MailFilesAreReadUpTo20000Bytes) {
  ScratchDir dir;
  IMailFilter* filter = OpenFilter(dir.File("Kestrelon.dat"));
  std::string text = "Subject: early\r\n\r\nfirstword " + std::string(20000, ' ') + " lastword";
  kestrelon::testing::WriteAll(dir.File("mail.eml"), text);
  Bstr mail(dir.File("mail.eml"));
  EXPECT_EQ(filter->AddMailFile(mail.value, VARIANT_FALSE), S_OK);
  Bstr dump(dir.File("dump.txt"));
  EXPECT_EQ(filter->Dump(dump.value), S_OK);
  std::string listing = kestrelon::testing::ReadAll(dir.File("dump.txt"));
  EXPECT_NE(listing.find(" S*early\r\n"), std::string::npos);
  EXPECT_NE(listing.find(" firstword\r\n"), std::string::npos);
  EXPECT_EQ(listing.find("lastword"), std::string::npos);
  LONG tokens = 0;
  EXPECT_EQ(filter->get_NumOfToken(&tokens), S_OK);
  EXPECT_EQ(tokens, 2);
  // A file that cannot be read is not learned as an empty mail.
  Bstr missing(dir.File("missing.eml"));
  EXPECT_EQ(filter->AddMailFile(missing.value, VARIANT_FALSE), S_FALSE);
  EXPECT_EQ(Count(filter, false), 1);
  filter->Release();
}

TEST(MailFilter, AMailFileEndsAtItsFirstNulForTheLinkScanToo) {
  kestrelon::testing::ScriptedHttpServer before({200, "text/html", "<p>page</p>"});
  kestrelon::testing::ScriptedHttpServer after({200, "text/html", "<p>page</p>"});
  ScratchDir dir;
  IMailFilter* filter = OpenFilter(dir.File("Kestrelon.dat"));
  SetOnline(true);
  EXPECT_EQ(filter->put_HTTPScanTimeout(2), S_OK);
  // Short up to the NUL, whatever follows it; its link is fetched.
  std::string text = "Subject: x\r\n\r\nsee " + before.Url("/a") + std::string(1, '\0') + std::string(3000, ' ');
  kestrelon::testing::WriteAll(dir.File("short.eml"), text);
  // A link behind the NUL is not part of the mail.
  text = "Subject: y\r\n\r\nhello" + std::string(1, '\0') + " see " + after.Url("/b");
  kestrelon::testing::WriteAll(dir.File("hidden.eml"), text);
  for (const char* name : {"short.eml", "hidden.eml"}) {
    Bstr mail(dir.File(name));
    VARIANT_BOOL bad = 7;
    EXPECT_EQ(filter->ProcessMailFile(mail.value, &bad), S_OK);
    EXPECT_EQ(bad, VARIANT_FALSE);
  }
  EXPECT_EQ(before.Requests(), 1);
  EXPECT_EQ(after.Requests(), 0);
  filter->Release();
}

TEST(MailFilter, ProcessMailDirectoryLearnsEveryFile) {
  ScratchDir dir;
  IMailFilter* filter = OpenFilter(dir.File("Kestrelon.dat"));
  platform::CreateFolder(dir.File("mails"));
  platform::CreateFolder(dir.File("mails/sub"));
  for (int i = 0; i < 3; ++i) kestrelon::testing::WriteAll(dir.File("mails/m" + std::to_string(i) + ".eml"), kHamBody);
  Bstr folder(dir.File("mails"));
  EXPECT_EQ(filter->ProcessMailDirectory(folder.value), S_OK);
  EXPECT_EQ(Count(filter, false), 3);
  filter->Release();
}

TEST(MailFilter, TokensMapScoresWithoutLearningAndHandsOverTheTable) {
  ScratchDir dir;
  IMailFilter* filter = OpenFilter(dir.File("Kestrelon.dat"));
  Bstr header("Subject: hello there"), body("some words in a body");
  float probability = -1;
  LONG address = 0;
  EXPECT_EQ(filter->TokensMap(header.value, body.value, &probability, &address), S_OK);
  ASSERT_NE(address, 0);
  auto* tokens = reinterpret_cast<InterestingTokens*>(static_cast<uintptr_t>(static_cast<uint32_t>(address)));
  EXPECT_EQ(tokens->size(), 5u);  // S*hello S*there some words body
  for (const auto& entry : *tokens) EXPECT_EQ(entry.second.probability, 0.4f);
  EXPECT_EQ(Count(filter, false), 0);
  filter->Release();
}

TEST(MailFilter, DispatchResolvesNamesWithoutCaseAndChecksArguments) {
  ScratchDir dir;
  IMailFilter* filter = OpenFilter(dir.File("Kestrelon.dat"));
  DISPID id = 0;
  EXPECT_EQ(IdOfName(filter, "processMAILstream", id), S_OK);
  EXPECT_EQ(id, 3);
  EXPECT_EQ(IdOfName(filter, "NoSuchMember", id), DISP_E_UNKNOWNNAME);

  // ProcessMailStream(header, body) with BSTRs, arguments in reverse order.
  VARIANT args[2];
  VariantInit(&args[0]);
  VariantInit(&args[1]);
  args[1].vt = VT_BSTR;
  args[1].bstrVal = platform::AnsiToBstr("Subject: hi");
  args[0].vt = VT_BSTR;
  args[0].bstrVal = platform::AnsiToBstr("hello body");
  DISPPARAMS params{args, nullptr, 2, 0};
  VARIANT result;
  VariantInit(&result);
  EXPECT_EQ(filter->Invoke(3, IID_NULL, 0, DISPATCH_METHOD, &params, &result, nullptr, nullptr), S_OK);
  EXPECT_EQ(result.vt, VT_BOOL);
  EXPECT_EQ(result.boolVal, VARIANT_FALSE);
  EXPECT_EQ(Count(filter, false), 1);
  params.cArgs = 1;
  EXPECT_EQ(filter->Invoke(3, IID_NULL, 0, DISPATCH_METHOD, &params, &result, nullptr, nullptr), DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(filter->Invoke(99, IID_NULL, 0, DISPATCH_METHOD, &params, &result, nullptr, nullptr),
            DISP_E_MEMBERNOTFOUND);
  VariantClear(&args[0]);
  VariantClear(&args[1]);

  // ContentType put and get.
  VARIANT value;
  VariantInit(&value);
  value.vt = VT_I4;
  value.lVal = CONTENT_TYPE_HTML;
  DISPID putId = DISPID_PROPERTYPUT;
  DISPPARAMS put{&value, &putId, 1, 1};
  EXPECT_EQ(filter->Invoke(17, IID_NULL, 0, DISPATCH_PROPERTYPUT, &put, nullptr, nullptr, nullptr), S_OK);
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  EXPECT_EQ(filter->Invoke(17, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &result, nullptr, nullptr), S_OK);
  EXPECT_EQ(result.lVal, CONTENT_TYPE_HTML);
  // Members that are not properties cannot be put.
  EXPECT_EQ(filter->Invoke(15, IID_NULL, 0, DISPATCH_PROPERTYPUT, &put, nullptr, nullptr, nullptr),
            DISP_E_MEMBERNOTFOUND);
  filter->Release();
}

TEST(MailFilter, EveryMemberIsReachedByItsNameAsScriptsPassArguments) {
  ScratchDir dir;
  IMailFilter* filter = OpenFilter(dir.File("Kestrelon.dat"));
  DISPID id = 0;
  ASSERT_EQ(IdOfName(filter, "SizeOnRam", id), S_OK);
  EXPECT_EQ(id, 15);
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  VARIANT result;
  VariantInit(&result);
  EXPECT_EQ(filter->Invoke(id, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &result, nullptr, nullptr), S_OK);
  EXPECT_EQ(result.vt, VT_I4);
  EXPECT_EQ(result.lVal, 28);

  // TokensMap(header, body, probability): the probability is a script's variable, passed
  // as a reference to a VARIANT holding a small integer, and receives the score.
  VARIANT variable;
  VariantInit(&variable);
  variable.vt = VT_I2;
  variable.iVal = 5;
  VARIANT args[3];
  args[2].vt = VT_BSTR;
  args[2].bstrVal = platform::AnsiToBstr("Subject: cheap");
  args[1].vt = VT_BSTR;
  args[1].bstrVal = platform::AnsiToBstr("pills");
  args[0].vt = VT_BYREF | VT_VARIANT;
  args[0].pvarVal = &variable;
  DISPPARAMS params{args, nullptr, 3, 0};
  EXPECT_EQ(filter->Invoke(18, IID_NULL, 0, DISPATCH_METHOD, &params, &result, nullptr, nullptr), S_OK);
  EXPECT_EQ(result.vt, VT_I4);
  EXPECT_EQ(variable.vt, VT_R4);
  float score = 5;
  LONG address = 0;
  Bstr header("Subject: cheap"), body("pills");
  EXPECT_EQ(filter->TokensMap(header.value, body.value, &score, &address), S_OK);
  EXPECT_EQ(variable.fltVal, score);
  EXPECT_NE(score, 5.0f);
  VariantClear(&args[1]);
  VariantClear(&args[2]);
  filter->Release();
}

TEST(MailFilter, AggregatedObjectsDelegateToTheOuterUnknown) {
  struct Outer : IUnknown {
    ULONG refs = 1;
    IUnknown* inner = nullptr;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
      if (IsEqualGUID(riid, IID_IUnknown)) {
        *object = this;
        AddRef();
        return S_OK;
      }
      return inner->QueryInterface(riid, object);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs; }
  } outer;

  void* object = nullptr;
  EXPECT_EQ(ComObject::Create<CMailFilter>(&outer, IID_IMailFilter, &object), CLASS_E_NOAGGREGATION);
  ASSERT_EQ(ComObject::Create<CMailFilter>(&outer, IID_IUnknown, &object), S_OK);
  outer.inner = static_cast<IUnknown*>(object);
  IMailFilter* filter = nullptr;
  ASSERT_EQ(outer.QueryInterface(IID_IMailFilter, reinterpret_cast<void**>(&filter)), S_OK);
  EXPECT_EQ(outer.refs, 2u);  // the interface's reference counts on the outer object
  IUnknown* back = nullptr;
  EXPECT_EQ(filter->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&back)), S_OK);
  EXPECT_EQ(back, &outer);
  back->Release();
  filter->Release();
  EXPECT_EQ(outer.refs, 1u);
  EXPECT_FALSE(module::CanUnload());
  outer.inner->Release();
  EXPECT_TRUE(module::CanUnload());
}

TEST(LockedMailFilter, LearnsIntoTheSharedStoreAndKeepsMarkers) {
  ScratchDir dir;
  auto* filter = Create<CLockedMailFilter, ILockedMailFilter>(IID_ILockedMailFilter);
  Bstr store(dir.File("shared.dat")), header("Subject: hi"), body(kHamBody);
  VARIANT_BOOL bad = 7;
  EXPECT_EQ(filter->ProcessMailStream(store.value, header.value, body.value, &bad), S_OK);
  EXPECT_EQ(bad, VARIANT_FALSE);
  EXPECT_EQ(filter->AddMailStream(store.value, header.value, body.value, VARIANT_TRUE), S_OK);
  LONG ham = -1, spam = -1;
  EXPECT_EQ(filter->GetHamSpamCount(store.value, &ham, &spam), S_OK);
  EXPECT_EQ(ham, 1);
  EXPECT_EQ(spam, 1);

  Bstr id("msg-0001");
  KESTRELON_MARKER mark = MARK_SPAM;
  EXPECT_EQ(filter->get_Marker(store.value, id.value, &mark), S_OK);
  EXPECT_EQ(mark, MARK_NONE);
  EXPECT_EQ(filter->put_Marker(store.value, id.value, MARK_HAM), S_OK);
  EXPECT_EQ(filter->get_Marker(store.value, id.value, &mark), S_OK);
  EXPECT_EQ(mark, MARK_HAM);

  // GetHamSpamCount through IDispatch with a script's variables: references to VARIANTs,
  // one empty, one that held a string.
  VARIANT hamVariable, spamVariable;
  VariantInit(&hamVariable);
  VariantInit(&spamVariable);
  spamVariable.vt = VT_BSTR;
  spamVariable.bstrVal = platform::AnsiToBstr("old");
  VARIANT args[3];
  args[2].vt = VT_BSTR;
  args[2].bstrVal = store.value;
  args[1].vt = VT_BYREF | VT_VARIANT;
  args[1].pvarVal = &hamVariable;
  args[0].vt = VT_BYREF | VT_VARIANT;
  args[0].pvarVal = &spamVariable;
  DISPPARAMS params{args, nullptr, 3, 0};
  EXPECT_EQ(filter->Invoke(6, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr), S_OK);
  EXPECT_EQ(hamVariable.vt, VT_I4);
  EXPECT_EQ(hamVariable.lVal, 1);
  EXPECT_EQ(spamVariable.vt, VT_I4);
  EXPECT_EQ(spamVariable.lVal, 1);

  Bstr unusable(dir.File("missing-folder/shared.dat"));
  bad = 7;
  EXPECT_EQ(filter->ProcessMailStream(unusable.value, header.value, body.value, &bad), S_FALSE);
  EXPECT_EQ(bad, VARIANT_FALSE);
  filter->Release();
}
