#include "Lexisift/server/log.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>

using namespace kestrelon;

namespace {

using Bstr = platform::ScopedBstr;

ILog* NewLog() {
  void* object = nullptr;
  EXPECT_EQ(ComObject::Create<CLog>(nullptr, IID_ILog, &object), S_OK);
  return static_cast<ILog*>(object);
}

std::string Folder() {
  auto folder = std::filesystem::temp_directory_path() /
                ("kestrelon-log-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);
  return folder.string();
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Replaces every time stamp by "<stamp>" after checking its shape.
std::string WithoutStamps(const std::string& text) {
  return std::regex_replace(text, std::regex(R"(\d\d/\d\d/\d\d \d\d:\d\d:\d\d )"), "<stamp>");
}

char* Text(std::string& s) { return s.data(); }

}  // namespace

TEST(Log, TimeStampIsTheCLocalesShortDateAndTime) {
  std::tm t{};
  t.tm_year = 126;
  t.tm_mon = 11;
  t.tm_mday = 6;
  t.tm_hour = 21;
  t.tm_min = 7;
  t.tm_sec = 3;
  EXPECT_EQ(CLog::TimeStamp(t), "12/06/26 21:07:03 ");
}

TEST(Log, LinesAreAppendedWithTheirLayout) {
  std::string folder = Folder();
  std::string path = folder + "/Kestrelon.log";
  {
    std::ofstream(path, std::ios::binary) << "old line\r\n";
  }
  ILog* log = NewLog();
  Bstr file(path);
  ASSERT_EQ(log->Init(file.value), S_OK);
  std::string function = "InitPluginData", error = "RegisterSHNotify - Does Inbox file exist?";
  EXPECT_EQ(log->LogError(Text(function), Text(error)), S_OK);
  std::string abc = "abc", def = "def\r\n";
  EXPECT_EQ(log->LogInfo(Text(abc)), S_OK);
  EXPECT_EQ(log->LogInfo(Text(def)), S_OK);
  std::string empty, oops = "oops";
  EXPECT_EQ(log->LogError(Text(empty), Text(oops)), S_OK);
  log->Release();
  EXPECT_EQ(WithoutStamps(ReadFile(path)),
            "old line\r\n"
            "<stamp>Error in function: InitPluginData - Error: RegisterSHNotify - Does Inbox file exist?\r\n"
            "<stamp>abc<stamp>def\r\n"
            "<stamp>Error in function:  - Error: oops\r\n");
}

TEST(Log, ControlCharactersOfTheTextsAreWrittenAsSpaces) {
  std::string folder = Folder();
  std::string path = folder + "/Kestrelon.log";
  ILog* log = NewLog();
  Bstr file(path);
  ASSERT_EQ(log->Init(file.value), S_OK);
  // A subject that would forge a second entry, with the line end its caller adds.
  std::string forged =
      "Spam Mail automatically deleted - From: a@b.example, Subject: Hello\r\n"
      "12/08/26 09:00:00 False Positive Mail - From: boss@example.com, Subject: x\r\n";
  std::string raw = std::string("bare\rcr \x1b[2J esc \a bel \t tab \x7f del") + "\n";
  std::string function = "Init\r\nData", error = "line\none\r\n";
  EXPECT_EQ(log->LogInfo(Text(forged)), S_OK);
  EXPECT_EQ(log->LogInfo(Text(raw)), S_OK);
  EXPECT_EQ(log->LogError(Text(function), Text(error)), S_OK);
  log->Release();
  std::string text = ReadFile(path);
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 3);
  // The forged stamp is text inside the first entry.
  EXPECT_EQ(WithoutStamps(text),
            "<stamp>Spam Mail automatically deleted - From: a@b.example, Subject: Hello  "
            "<stamp>False Positive Mail - From: boss@example.com, Subject: x\r\n"
            "<stamp>bare cr  [2J esc   bel   tab   del\n"
            "<stamp>Error in function: Init  Data - Error: line one  \r\n");
}

TEST(Log, NothingIsWrittenBeforeInitAndASecondInitMovesToTheNewFile) {
  std::string folder = Folder();
  ILog* log = NewLog();
  std::string info = "lost";
  EXPECT_EQ(log->LogError(Text(info), Text(info)), S_OK);
  Bstr first(folder + "/first.log"), second(folder + "/second.log");
  ASSERT_EQ(log->Init(first.value), S_OK);
  EXPECT_EQ(std::filesystem::file_size(folder + "/first.log"), 0u);
  ASSERT_EQ(log->Init(second.value), S_OK);
  std::string moved = "moved";
  log->LogInfo(Text(moved));
  // The first file is closed: another writer may open it now.
  ILog* other = NewLog();
  EXPECT_EQ(other->Init(first.value), S_OK);
  other->Release();
  log->Release();
  EXPECT_EQ(ReadFile(folder + "/first.log"), "");
  EXPECT_EQ(WithoutStamps(ReadFile(folder + "/second.log")), "<stamp>moved");
}

TEST(Log, OnlyOneWriterAndInitReportsTheSystemError) {
  std::string folder = Folder();
  Bstr path(folder + "/Kestrelon.log");
  ILog* log = NewLog();
  ASSERT_EQ(log->Init(path.value), S_OK);
  ILog* second = NewLog();
  HRESULT hr = second->Init(path.value);
  EXPECT_TRUE(FAILED(hr));
  EXPECT_NE(hr, E_FAIL);  // the system's reason, wrapped
  // Readers are welcome while the log is open.
  std::ifstream reader(folder + "/Kestrelon.log", std::ios::binary);
  EXPECT_TRUE(reader.good());
  second->Release();
  log->Release();
  Bstr missing(folder + "/no/such/folder/x.log");
  ILog* third = NewLog();
  EXPECT_TRUE(FAILED(third->Init(missing.value)));
  third->Release();
}

TEST(Log, DispatchFollowsItsNameTableAndArgumentRules) {
  std::string folder = Folder();
  ILog* log = NewLog();
  auto id = [&](const char* name) {
    std::basic_string<OLECHAR> wide(name, name + std::strlen(name));
    LPOLESTR names[] = {wide.data()};
    DISPID dispid = 77;
    HRESULT hr = log->GetIDsOfNames(IID_NULL, names, 1, 0, &dispid);
    return hr == S_OK ? dispid : -100;
  };
  EXPECT_EQ(id("logerror"), 1);
  EXPECT_EQ(id("LOGINFO"), 2);
  EXPECT_EQ(id("Init"), 3);
  EXPECT_EQ(id("Function"), 0);
  EXPECT_EQ(id("error"), 1);
  EXPECT_EQ(id("Info"), 0);
  EXPECT_EQ(id("FilePath"), 0);
  EXPECT_EQ(id("Flush"), -100);

  VARIANT args[3];
  for (auto& a : args) VariantInit(&a);
  args[0].vt = VT_BSTR;
  args[0].bstrVal = platform::AnsiToBstr(folder + "/d.log");
  DISPPARAMS one{args, nullptr, 1, 0};
  EXPECT_EQ(log->Invoke(3, IID_NULL, 0, DISPATCH_METHOD, &one, nullptr, nullptr, nullptr), S_OK);

  DISPPARAMS three{args, nullptr, 3, 0};
  EXPECT_EQ(log->Invoke(2, IID_NULL, 0, DISPATCH_METHOD, &three, nullptr, nullptr, nullptr), DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(log->Invoke(1, IID_NULL, 0, DISPATCH_METHOD, &one, nullptr, nullptr, nullptr), DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(log->Invoke(9, IID_NULL, 0, DISPATCH_METHOD, &one, nullptr, nullptr, nullptr), DISP_E_MEMBERNOTFOUND);

  // LogError with named arguments in swapped order; a byte reference for Error.
  std::string error = "disk full";
  VARIANT named[2];
  named[0].vt = VT_BYREF | VT_UI1;
  named[0].pcVal = error.data();
  named[1].vt = VT_BSTR;
  named[1].bstrVal = platform::AnsiToBstr("Save");
  DISPID positions[2] = {1, 0};
  DISPPARAMS byName{named, positions, 2, 2};
  EXPECT_EQ(log->Invoke(1, IID_NULL, 0, DISPATCH_METHOD, &byName, nullptr, nullptr, nullptr), S_OK);
  DISPID outOfRange[2] = {1, 5};
  DISPPARAMS badName{named, outOfRange, 2, 2};
  EXPECT_EQ(log->Invoke(1, IID_NULL, 0, DISPATCH_METHOD, &badName, nullptr, nullptr, nullptr), DISP_E_PARAMNOTFOUND);
  VariantClear(&named[1]);

  VARIANT number;
  number.vt = VT_I4;
  number.lVal = 5;
  DISPPARAMS wrongType{&number, nullptr, 1, 0};
  UINT argError = 99;
  EXPECT_EQ(log->Invoke(2, IID_NULL, 0, DISPATCH_METHOD, &wrongType, nullptr, nullptr, &argError), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(argError, 0u);

  // A failing Init comes back as an exception with its result.
  VARIANT badPath;
  badPath.vt = VT_BSTR;
  badPath.bstrVal = platform::AnsiToBstr(folder + "/missing/x.log");
  DISPPARAMS initBad{&badPath, nullptr, 1, 0};
  EXCEPINFO exception{};
  EXPECT_EQ(log->Invoke(3, IID_NULL, 0, DISPATCH_METHOD, &initBad, nullptr, &exception, nullptr), DISP_E_EXCEPTION);
  EXPECT_TRUE(FAILED(exception.scode));
  VariantClear(&badPath);
  VariantClear(&args[0]);
  log->Release();
  EXPECT_EQ(WithoutStamps(ReadFile(folder + "/d.log")), "<stamp>Error in function: Save - Error: disk full\r\n");
}
