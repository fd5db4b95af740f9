#include "tools/dbxtool/commands.h"

#include "plugin/dbx/dbx_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>

using kestrelon::testing::ReadAll;
using kestrelon::testing::TempDir;
using kestrelon::testing::WriteAll;

namespace {

struct ToolRun {
  int code;
  std::string out;
};

ToolRun Capture(int (*command)(const dbxtool::Args&), const dbxtool::Args& args) {
  ::testing::internal::CaptureStdout();
  ::testing::internal::CaptureStderr();
  int code = command(args);
  std::string out = ::testing::internal::GetCapturedStdout();
  ::testing::internal::GetCapturedStderr();
  return {code, out};
}

// What "dbxtool read" prints for these parts.
std::string ReadOutput(bool html, const std::string& header, const std::string& body) {
  return "html " + std::string(html ? "1" : "0") + "\nheader " + std::to_string(header.size()) + "\n" + header +
         "\nbody " + std::to_string(body.size()) + "\n" + body + "\n";
}

}  // namespace

TEST(Dbxtool, CreateAppendListReadDeleteSave) {
  TempDir dir;
  std::string inbox = dir.File("Inbox.dbx");
  std::string plain = "From: Ann <ann@example.org>\r\nSubject: Hi\r\n\r\nHello\r\n";
  std::string html = "Subject: Offer\r\nContent-Type: text/html; charset=x\r\n\r\n<b>Buy</b>\r\n";
  std::string noBlank = "Subject: nothing else";
  WriteAll(dir.File("a.eml"), plain);
  WriteAll(dir.File("b.eml"), html);
  WriteAll(dir.File("c.eml"), noBlank);

  EXPECT_EQ(Capture(dbxtool::RunCreate, {inbox}).code, 0);
  EXPECT_EQ(ReadAll(inbox).size(), 9404u);
  ToolRun appended = Capture(dbxtool::RunAppend, {inbox, dir.File("a.eml"), dir.File("b.eml"), dir.File("c.eml")});
  EXPECT_EQ(appended.code, 0);
  EXPECT_EQ(appended.out, "1\n2\n3\n");

  ToolRun listed = Capture(dbxtool::RunList, {inbox});
  EXPECT_EQ(listed.code, 0);
  // Texts come first in the file, one 528-byte segment each for these small mails,
  // each followed by its record.
  ASSERT_EQ(std::count(listed.out.begin(), listed.out.end(), '\n'), 3);
  EXPECT_EQ(listed.out.substr(0, 7), "1\t9404\n");

  EXPECT_EQ(Capture(dbxtool::RunRead, {inbox, "1"}).out,
            ReadOutput(false, "From: Ann <ann@example.org>\r\nSubject: Hi", "\r\n\r\nHello\r\n"));
  EXPECT_EQ(Capture(dbxtool::RunRead, {inbox, "2", "--cut"}).out,
            ReadOutput(true, "Subject: Offer\r\nContent-Type: text/html; charset=x", "<b>Buy</b>"));
  EXPECT_EQ(Capture(dbxtool::RunRead, {inbox, "3"}).out, ReadOutput(false, noBlank, ""));
  EXPECT_EQ(Capture(dbxtool::RunRead, {inbox, "4"}).code, 1);

  EXPECT_EQ(Capture(dbxtool::RunSave, {inbox, "2", dir.File("out.eml")}).code, 0);
  EXPECT_EQ(ReadAll(dir.File("out.eml")), html);

  EXPECT_EQ(Capture(dbxtool::RunDelete, {inbox, "2"}).code, 0);
  EXPECT_EQ(Capture(dbxtool::RunDelete, {inbox, "2"}).code, 1);
  EXPECT_EQ(Capture(dbxtool::RunRead, {inbox, "2"}).code, 1);
  EXPECT_EQ(Capture(dbxtool::RunSave, {inbox, "2", dir.File("gone.eml")}).code, 1);
  ToolRun after = Capture(dbxtool::RunList, {inbox});
  EXPECT_EQ(std::count(after.out.begin(), after.out.end(), '\n'), 2);
  EXPECT_EQ(after.out.substr(0, 7), "1\t9404\n");
  EXPECT_EQ(after.out.substr(after.out.find('\n') + 1, 2), "3\t");
  EXPECT_EQ(Capture(dbxtool::RunAppend, {inbox, dir.File("a.eml")}).out, "4\n");
}

TEST(Dbxtool, BadArgumentsAndBrokenFiles) {
  TempDir dir;
  std::string inbox = dir.File("Inbox.dbx");
  EXPECT_EQ(Capture(dbxtool::RunRead, {inbox}).code, dbxtool::kUsageError);
  EXPECT_EQ(Capture(dbxtool::RunRead, {inbox, "x1"}).code, dbxtool::kUsageError);
  EXPECT_EQ(Capture(dbxtool::RunDelete, {inbox, "4294967296"}).code, dbxtool::kUsageError);
  EXPECT_EQ(Capture(dbxtool::RunAppend, {inbox, dir.File("missing.eml")}).code, dbxtool::kUsageError);
  WriteAll(inbox, "not a message file");
  EXPECT_EQ(Capture(dbxtool::RunList, {inbox}).code, dbxtool::kFailure);
  EXPECT_EQ(Capture(dbxtool::RunDelete, {inbox, "1"}).code, dbxtool::kFailure);
  EXPECT_EQ(Capture(dbxtool::RunRead, {inbox, "1"}).code, 1);
}
