// The server as its clients meet it: registered (by itself, or by regsvr32 under Wine),
// created by ProgID, driven through vtables and IDispatch, and unregistered.
//
// Test groups: SelfRegistration.* loads the server beside this program, registers it,
// runs the Registered checks, unregisters and runs the Unregistered checks. Registered.*
// and Unregistered.* alone serve a server registered or unregistered from outside.
#include "Lexisift/engine/test_support/scripted_http_server.h"
#include "platform/com_activation.h"
#include "platform/library.h"
#include "platform/registry.h"
#include "shared/interesting_tokens.h"
#include "shared/log_interface.h"
#include "shared/mail_filter_interface.h"
#include "plugin/verify/test_servers/test_env.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <thread>

using namespace kestrelon;
using platform::Hive;
using platform::RegistryKey;

namespace {

#ifdef _WIN32
constexpr const char* kServerFile = "Lexisift.dll";
#else
constexpr const char* kServerFile = "Lexisift.so";
#endif

std::string ServerPath() {
  return (std::filesystem::path(platform::FolderOf(platform::ModulePathOf(reinterpret_cast<const void*>(&ServerPath)))) /
          kServerFile)
      .string();
}

using EntryPoint = HRESULT(STDMETHODCALLTYPE*)();

HRESULT CallServer(const char* name) {
  void* library = platform::LoadLibraryFile(ServerPath());
  if (!library) return E_FAIL;
  auto entry = reinterpret_cast<EntryPoint>(platform::LibraryExport(library, name));
  return entry ? entry() : E_FAIL;
}

bool KeyExists(const std::string& subkey) {
  RegistryKey key;
  return key.Open(Hive::ClassesRoot, subkey);
}

std::string Value(const std::string& subkey, const std::string& name = "") {
  RegistryKey key;
  std::string text = "<missing>";
  if (key.Open(Hive::ClassesRoot, subkey)) key.ReadString(name, text);
  return text;
}

std::set<std::string> Subkeys(const std::string& subkey) {
  RegistryKey key;
  std::set<std::string> names;
  if (key.Open(Hive::ClassesRoot, subkey))
    for (auto& n : key.SubkeyNames()) names.insert(n);
  return names;
}

using Bstr = platform::ScopedBstr;

std::string ScratchFolder(const char* name) {
  auto folder = std::filesystem::temp_directory_path() / name;
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);
  return folder.string();
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// What registration must write, written out independently of the server's own tables.
struct ExpectedClass {
  const char* progId;
  const char* friendlyName;
  const char* clsid;
};
const ExpectedClass kClasses[] = {
    {"Lexisift.LockedMailFilter", "CLockedMailFilter Object", "{ACF441D6-13EF-4EAB-B31D-1C992EA46F41}"},
    {"Lexisift.Log", "CLog Object", "{A698886F-1CF3-4F99-A525-010EA399965F}"},
    {"Lexisift.MailFilter", "CMailFilter Object", "{93FF72BB-4A31-48F7-94EF-1C519291A481}"},
};
const std::string kAppId = "{85870EAE-3298-4C1A-9A78-CC31F58A0DB7}";
const std::string kLibId = "{FE2EEAFC-3828-4456-A690-42291EB5F033}";

void ExpectRegistered() {
  const std::string appId = kAppId;
  EXPECT_EQ(Value("AppID\\" + appId), "Lexisift");
  EXPECT_EQ(Value("AppID\\Lexisift.DLL", "AppID"), appId);
  for (const ExpectedClass& c : kClasses) {
    const std::string v = c.progId, clsid = c.clsid, key = "CLSID\\" + clsid;
    SCOPED_TRACE(v);
    EXPECT_EQ(Value(v + ".1"), c.friendlyName);
    EXPECT_EQ(Value(v + ".1\\CLSID"), clsid);
    EXPECT_EQ(Value(v), c.friendlyName);
    EXPECT_EQ(Value(v + "\\CLSID"), clsid);
    EXPECT_EQ(Value(v + "\\CurVer"), v + ".1");
    EXPECT_EQ(Value(key), c.friendlyName);
    EXPECT_EQ(Value(key, "AppID"), appId);
    EXPECT_EQ(Value(key + "\\ProgID"), v + ".1");
    EXPECT_EQ(Value(key + "\\VersionIndependentProgID"), v);
    EXPECT_TRUE(KeyExists(key + "\\Programmable"));
    EXPECT_EQ(Value(key + "\\InprocServer32", "ThreadingModel"), "apartment");
    EXPECT_NE(Value(key + "\\InprocServer32").find(kServerFile), std::string::npos);
    EXPECT_EQ(Value(key + "\\TypeLib"), kLibId);
    EXPECT_EQ(Subkeys(key), (std::set<std::string>{"InprocServer32", "ProgID", "Programmable", "TypeLib",
                                                   "VersionIndependentProgID"}));
  }
}

void ExpectUnregistered() {
  EXPECT_TRUE(KeyExists("CLSID"));
  EXPECT_TRUE(KeyExists("AppID"));
  EXPECT_FALSE(KeyExists("AppID\\" + kAppId));
  EXPECT_FALSE(KeyExists("AppID\\Lexisift.DLL"));
  for (const ExpectedClass& c : kClasses) {
    EXPECT_FALSE(KeyExists(std::string(c.progId)));
    EXPECT_FALSE(KeyExists(std::string(c.progId) + ".1"));
    EXPECT_FALSE(KeyExists(std::string("CLSID\\") + c.clsid));
  }
  void* object = nullptr;
  EXPECT_TRUE(FAILED(platform::CreateInstanceByProgId("Lexisift.MailFilter", IID_IMailFilter, &object)));
}

// Learns and processes a mail through the vtable and through IDispatch.
void DriveMailFilter(const std::string& folder) {
  IMailFilter* filter = nullptr;
  ASSERT_EQ(platform::CreateInstanceByProgId("Lexisift.MailFilter", IID_IMailFilter, reinterpret_cast<void**>(&filter)),
            S_OK);
  Bstr store(folder + "/Kestrelon.dat");
  ASSERT_EQ(filter->Init(store.value), S_OK);
  std::string header = "Subject: cheap pills", body = "buy cheap pills now";
  EXPECT_EQ(filter->AddMailStream(header.data(), body.data(), VARIANT_TRUE), S_OK);

  IDispatch* dispatch = filter;
  std::basic_string<OLECHAR> name;
  for (char c : std::string("PROCESSMAILSTREAM")) name.push_back(static_cast<OLECHAR>(c));
  LPOLESTR names[] = {name.data()};
  DISPID id = 0;
  ASSERT_EQ(dispatch->GetIDsOfNames(IID_NULL, names, 1, 0, &id), S_OK);
  VARIANT args[2];
  args[1].vt = VT_BSTR;
  args[1].bstrVal = platform::AnsiToBstr("Subject: meeting");
  args[0].vt = VT_BSTR;
  args[0].bstrVal = platform::AnsiToBstr("agenda of the meeting");
  DISPPARAMS params{args, nullptr, 2, 0};
  VARIANT result;
  VariantInit(&result);
  EXPECT_EQ(dispatch->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &params, &result, nullptr, nullptr), S_OK);
  EXPECT_EQ(result.vt, VT_BOOL);
  VariantClear(&args[0]);
  VariantClear(&args[1]);

  LONG ham = 0, spam = 0;
  EXPECT_EQ(filter->get_ItemsCount(VARIANT_FALSE, &ham), S_OK);
  EXPECT_EQ(filter->get_ItemsCount(VARIANT_TRUE, &spam), S_OK);
  EXPECT_EQ(ham, 1);
  EXPECT_EQ(spam, 1);

  // The token map comes back as an address the caller can read in place.
  Bstr h("Subject: cheap"), b("pills");
  float score = 0;
  LONG address = 0;
  EXPECT_EQ(filter->TokensMap(h.value, b.value, &score, &address), S_OK);
  auto* tokens = reinterpret_cast<InterestingTokens*>(static_cast<uintptr_t>(static_cast<uint32_t>(address)));
  ASSERT_NE(tokens, nullptr);
  EXPECT_EQ(tokens->size(), 2u);

  IProvideClassInfo* classInfo = nullptr;
  EXPECT_EQ(filter->QueryInterface(IID_IProvideClassInfo, reinterpret_cast<void**>(&classInfo)), S_OK);
#ifdef _WIN32
  ITypeInfo* info = nullptr;
  ASSERT_EQ(classInfo->GetClassInfo(&info), S_OK);
  TYPEATTR* attributes = nullptr;
  ASSERT_EQ(info->GetTypeAttr(&attributes), S_OK);
  EXPECT_TRUE(IsEqualGUID(attributes->guid, CLSID_MailFilter));
  info->ReleaseTypeAttr(attributes);
  info->Release();
#endif
  classInfo->Release();
  filter->Release();
}

void DriveLockedFilterAndLog(const std::string& folder) {
  ILockedMailFilter* locked = nullptr;
  ASSERT_EQ(platform::CreateInstanceByProgId("Lexisift.LockedMailFilter", IID_ILockedMailFilter,
                                             reinterpret_cast<void**>(&locked)),
            S_OK);
  Bstr store(folder + "/shared.dat"), id("message-1");
  EXPECT_EQ(locked->put_Marker(store.value, id.value, MARK_SPAM), S_OK);
  KESTRELON_MARKER mark = MARK_NONE;
  EXPECT_EQ(locked->get_Marker(store.value, id.value, &mark), S_OK);
  EXPECT_EQ(mark, MARK_SPAM);
  locked->Release();

  ILog* log = nullptr;
  ASSERT_EQ(platform::CreateInstanceByProgId("Lexisift.Log", IID_ILog, reinterpret_cast<void**>(&log)), S_OK);
  Bstr path(folder + "/Kestrelon.log");
  ASSERT_EQ(log->Init(path.value), S_OK);
  std::string function = "InitPluginData", error = "RegisterSHNotify - Does Inbox file exist?";
  EXPECT_EQ(log->LogError(function.data(), error.data()), S_OK);
  // LogInfo through IDispatch, with the text passed as a BSTR.
  VARIANT arg;
  arg.vt = VT_BSTR;
  arg.bstrVal = platform::AnsiToBstr("Spam Mail deleted\r\n");
  DISPPARAMS params{&arg, nullptr, 1, 0};
  EXPECT_EQ(log->Invoke(2, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr), S_OK);
  VariantClear(&arg);
  log->Release();
  std::string text = ReadFile(folder + "/Kestrelon.log");
  EXPECT_NE(text.find(" Error in function: InitPluginData - Error: RegisterSHNotify - Does Inbox file exist?\r\n"),
            std::string::npos);
  EXPECT_EQ(text.substr(text.size() - 19), "Spam Mail deleted\r\n");
}

void RunRegisteredChecks(const char* folderName) {
  ExpectRegistered();
  std::string folder = ScratchFolder(folderName);
  DriveMailFilter(folder);
  DriveLockedFilterAndLog(folder);
}

class ComApartment : public ::testing::Test {
 protected:
  void SetUp() override { platform::ComInitialize(); }
  void TearDown() override { platform::ComUninitialize(); }
};

using Registered = ComApartment;
using Unregistered = ComApartment;
using SelfRegistration = ComApartment;

}  // namespace

TEST_F(Registered, EntriesMatchAndClassesAreCreatedByProgId) { RunRegisteredChecks("kestrelon-registered"); }

TEST_F(Unregistered, EntriesAreGoneAndTheParentsStay) { ExpectUnregistered(); }

TEST_F(SelfRegistration, RegisterTwiceUseAndUnregister) {
#ifndef _WIN32
  std::string root = ScratchFolder("kestrelon-registry");
  setenv("KESTRELON_REGISTRY", root.c_str(), 1);
#endif
  ASSERT_EQ(CallServer("DllRegisterServer"), S_OK);
  ASSERT_EQ(CallServer("DllRegisterServer"), S_OK);  // one set of entries, not two
  RunRegisteredChecks("kestrelon-self-registered");
  EXPECT_EQ(CallServer("DllCanUnloadNow"), S_OK);
  ASSERT_EQ(CallServer("DllUnregisterServer"), S_OK);
  ExpectUnregistered();
  EXPECT_EQ(CallServer("DllUnregisterServer"), S_OK);  // unregistering again is harmless
}

#ifndef _WIN32
TEST_F(SelfRegistration, AFailedRegistryWriteReportsItsOwnReason) {
  // A registry whose HKEY_CLASSES_ROOT cannot hold keys: the reason of the first failed
  // write comes back (the path is not found), not a general "class not registered".
  std::string root = ScratchFolder("kestrelon-registry-broken");
  std::ofstream(root + "/HKEY_CLASSES_ROOT") << "not a folder";
  setenv("KESTRELON_REGISTRY", root.c_str(), 1);
  EXPECT_EQ(CallServer("DllRegisterServer"), static_cast<HRESULT>(0x80070003));  // ERROR_PATH_NOT_FOUND
}
#endif

// A filter whose link scan gave up on a slow server leaves a worker running the server's
// code: the server must not be unloaded until that worker has left it.
TEST(Unloading, NotWhileAWorkerGivenUpOnStillRuns) {
  kestrelon::testing::ScriptedHttpServer slow({200, "text/html", "<p>late words</p>", 3000});
  kestrelon::testing::SetEnv("KESTRELON_ONLINE", "1");
  std::string folder = ScratchFolder("kestrelon-unloading");
  void* library = platform::LoadLibraryFile(ServerPath());
  ASSERT_NE(library, nullptr);
  using GetClassObject = HRESULT(STDMETHODCALLTYPE*)(REFCLSID, REFIID, void**);
  auto getClassObject = reinterpret_cast<GetClassObject>(platform::LibraryExport(library, "DllGetClassObject"));
  auto canUnloadNow = reinterpret_cast<EntryPoint>(platform::LibraryExport(library, "DllCanUnloadNow"));
  ASSERT_TRUE(getClassObject && canUnloadNow);

  IClassFactory* factory = nullptr;
  ASSERT_EQ(getClassObject(CLSID_MailFilter, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
  IMailFilter* filter = nullptr;
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_IMailFilter, reinterpret_cast<void**>(&filter)), S_OK);
  factory->Release();
  Bstr store(folder + "/Kestrelon.dat");
  ASSERT_EQ(filter->Init(store.value), S_OK);
  ASSERT_EQ(filter->put_HTTPScanTimeout(1), S_OK);
  std::string header = "Subject: hello", body = "see " + slow.Url("/late");
  VARIANT_BOOL bad = VARIANT_FALSE;
  EXPECT_EQ(filter->ProcessMailStream(header.data(), body.data(), &bad), S_OK);  // gives up after 1 s
  filter->Release();
  EXPECT_EQ(canUnloadNow(), S_FALSE);

#ifdef _WIN32
  // Let go of the library as COM would: the worker's own reference keeps it loaded, and
  // once the worker has left it, it goes.
  HMODULE module = static_cast<HMODULE>(library);
  ASSERT_TRUE(FreeLibrary(module));
  EXPECT_EQ(GetModuleHandleA(ServerPath().c_str()), module);
  bool unloaded = false;
  for (int i = 0; i < 400 && !unloaded; ++i) {
    Sleep(25);
    unloaded = GetModuleHandleA(ServerPath().c_str()) == nullptr;
  }
  EXPECT_TRUE(unloaded);
#else
  bool idle = false;
  for (int i = 0; i < 400 && !idle; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
    idle = canUnloadNow() == S_OK;
  }
  EXPECT_TRUE(idle);
#endif
}
