#include "plugin/dbx/spam_archive.h"

#include "client/dbx_writer.h"
#include "plugin/dbx/dbx_reader.h"
#include "plugin/dbx/dbx_test_support.h"
#include "platform/file.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <csignal>
#include <sys/resource.h>
#endif

using kestrelon::ArchiveFileName;
using kestrelon::CleanFileName;
using kestrelon::DbxReader;
using kestrelon::SaveMessageAsEML;
using kestrelon::client::DbxEnvelope;
using kestrelon::client::DbxWriter;
using kestrelon::testing::ReadAll;
using kestrelon::testing::TempDir;

namespace {

#ifdef _WIN32
const std::string kSep = "\\";
#else
const std::string kSep = "/";
#endif

std::string Cleaned(std::string s, char c) {
  CleanFileName(s, c);
  return s;
}

MapiMessage Message(uint32_t id, const char* date, const char* subject) {
  MapiMessage m{};
  m.ulReserved = id;
  m.lpszDateReceived = const_cast<char*>(date);
  m.lpszSubject = const_cast<char*>(subject);
  return m;
}

}  // namespace

TEST(SpamArchive, CleanFileNameReplacesOneForOne) {
  EXPECT_EQ(Cleaned("2011/02/22 17:23", '-'), "2011-02-22 17-23");
  EXPECT_EQ(Cleaned("[ADV] A+B", '_'), "_ADV_ A_B");
  EXPECT_EQ(Cleaned("a::b\\c*d?e\"f<g>h|i", '_'), "a__b_c_d_e_f_g_h_i");
  EXPECT_EQ(Cleaned("plain.txt 50% off!", '_'), "plain.txt 50% off!");
  // Control characters, which Windows refuses too (a decoded subject may hold them).
  EXPECT_EQ(Cleaned(std::string("a\tb\r\nc\x1b\x7f\0d", 10), '_'), "a_b__c___d");
}

TEST(SpamArchive, FileNames) {
  MapiMessage m = Message(7, "2011/02/22 17:23", "Buy now: 50% off!");
  EXPECT_EQ(ArchiveFileName(true, m, "arch", 5, "now"), "arch" + kSep + "2011-02-22 17-23 - Buy now_ 50% off!.eml");

  std::string longSubject(600, 'x');
  m.lpszSubject = longSubject.data();
  std::string name = ArchiveFileName(true, m, "arch", 5, "now");
  EXPECT_EQ(name.size(), 255u);
  EXPECT_EQ(name.substr(251), ".eml");
  EXPECT_EQ(name.substr(0, 30), "arch" + kSep + "2011-02-22 17-23 - xxxxxx");

  // The cut shortens the file name, never the folder; a folder that leaves no room for
  // a name gets none (not a file beside it).
  std::string deep(249, 'f');
  name = ArchiveFileName(true, m, deep, 5, "now");
  EXPECT_EQ(name, deep + kSep + "2.eml");
  EXPECT_EQ(ArchiveFileName(true, m, deep + "f", 5, "now"), "");
  EXPECT_EQ(ArchiveFileName(true, m, std::string(244, 's') + kSep + "SpamArchive", 5, "now"), "");

  // Without subject: date and tick count, no length limit.
  m.lpszSubject = nullptr;
  std::string longFolder(300, 'f');
  EXPECT_EQ(ArchiveFileName(true, m, longFolder, -3, "now"), longFolder + kSep + "2011-02-22 17-23 - -3.eml");
  m.lpszDateReceived = nullptr;
  EXPECT_EQ(ArchiveFileName(true, m, "arch", 12, "12/07/26 20:31:05"), "arch" + kSep + "12-07-26 20-31-05 - 12.eml");
  // Id 0 takes the second form even with date and subject.
  MapiMessage zero = Message(0, "2011/02/22 17:23", "S");
  EXPECT_EQ(ArchiveFileName(true, zero, "arch", 1, "now"), "arch" + kSep + "2011-02-22 17-23 - 1.eml");
}

TEST(SpamArchive, SavesTheWholeTextAsANewFileOnly) {
  TempDir dir;
  std::string inbox = dir.File("Inbox.dbx");
  DbxWriter::Create(inbox);
  std::string first = "Subject: Buy now\r\n\r\n" + std::string(3000, 'a');
  std::string second = "Subject: Buy now\r\n\r\nshort";
  const char nulText[] = "Subject: nul\0in it\r\n\r\nbefore\0after";
  std::string withNul(nulText, sizeof nulText - 1);
  {
    DbxWriter writer(inbox);
    writer.Append(DbxEnvelope{}, first);
    writer.Append(DbxEnvelope{}, second);
    writer.Append(DbxEnvelope{}, withNul);
  }
  std::string archive = dir.File("SpamArchive");
  std::filesystem::create_directory(archive);
  auto archived = [&](const std::string& name) { return ReadAll(archive + kSep + name); };
  DbxReader reader(inbox);
  MapiMessage m1 = Message(1, "2011/02/22 17:23", "Buy now");
  MapiMessage m2 = Message(2, "2011/02/22 17:23", "Buy now");
  MapiMessage m3 = Message(3, "2011/02/22 17:23", "nul\tin\r\nit");
  ASSERT_TRUE(SaveMessageAsEML(&reader, &m1, archive));
  ASSERT_TRUE(SaveMessageAsEML(&reader, &m2, archive));
  ASSERT_TRUE(SaveMessageAsEML(&reader, &m3, archive));
  EXPECT_EQ(archived("2011-02-22 17-23 - Buy now.eml"), first);
  EXPECT_EQ(archived("2011-02-22 17-23 - Buy now (2).eml"), second);
  // NUL bytes are copied; tab and line breaks of the subject are cleaned from the name.
  EXPECT_EQ(archived("2011-02-22 17-23 - nul_in__it.eml"), withNul);

  // A link planted at the name is a name taken: never followed, the copy goes beside.
  std::error_code linkError;
  std::filesystem::create_symlink(dir.File("planted.eml"), archive + kSep + "2011-02-22 17-23 - Link.eml", linkError);
  if (!linkError) {
    MapiMessage link = Message(2, "2011/02/22 17:23", "Link");
    ASSERT_TRUE(SaveMessageAsEML(&reader, &link, archive));
    EXPECT_FALSE(std::filesystem::exists(dir.File("planted.eml")));
    EXPECT_EQ(archived("2011-02-22 17-23 - Link (2).eml"), second);
  }

  // SaveMessage never writes over a file; no temporary file is left behind.
  EXPECT_FALSE(reader.SaveMessage(2, archive + kSep + "2011-02-22 17-23 - Buy now.eml"));
  EXPECT_EQ(archived("2011-02-22 17-23 - Buy now.eml"), first);
  for (const auto& entry : std::filesystem::directory_iterator(archive))
    EXPECT_EQ(entry.path().extension(), ".eml") << entry.path();

  // Gone from the Inbox, unwritable target, no reader: false, nothing logged.
  MapiMessage gone = Message(9, "2011/02/22 17:23", "Gone");
  EXPECT_FALSE(SaveMessageAsEML(&reader, &gone, archive));
  EXPECT_FALSE(std::filesystem::exists(archive + kSep + "2011-02-22 17-23 - Gone.eml"));
  EXPECT_FALSE(reader.SaveMessage(1, dir.File("no-such-folder") + kSep + "x.eml"));
  EXPECT_FALSE(SaveMessageAsEML(nullptr, &m1, archive));
  EXPECT_FALSE(std::filesystem::exists(inbox + ".log"));

  // A folder too long for any name: a logged failure, no file beside it.
  std::string tooLong = archive + kSep + std::string(251 - archive.size(), 'x');
  EXPECT_FALSE(SaveMessageAsEML(&reader, &m1, tooLong));
  EXPECT_EQ(kestrelon::testing::LogMessages(inbox + ".log"),
            std::vector<std::string>{"SaveMessageAsEML() error - ID: 1"});
}

TEST(SpamArchive, NumberedNamesStayWithinTheLimit) {
  TempDir dir;
  std::string inbox = dir.File("Inbox.dbx");
  DbxWriter::Create(inbox);
  DbxWriter(inbox).Append(DbxEnvelope{}, "Subject: x\r\n\r\ny");
  std::string folder = dir.File(std::string(200 - dir.Path().size() - 1, 'f'));
  ASSERT_EQ(folder.size(), 200u);
  std::filesystem::create_directory(folder);
  DbxReader reader(inbox);
  std::string subject(100, 's');
  MapiMessage m = Message(1, "2011/02/22 17:23", subject.c_str());
  ASSERT_TRUE(SaveMessageAsEML(&reader, &m, folder));
  ASSERT_TRUE(SaveMessageAsEML(&reader, &m, folder));
  std::string stem = folder + kSep + "2011-02-22 17-23 - " + std::string(31, 's');
  EXPECT_EQ(ReadAll(stem + ".eml"), "Subject: x\r\n\r\ny");
  EXPECT_EQ(ReadAll(stem.substr(0, stem.size() - 4) + " (2).eml"), "Subject: x\r\n\r\ny");
}

#ifndef _WIN32
// A full disk, as a file size limit makes it: the write fails part-way.
TEST(SpamArchive, AFailedWriteLeavesNoFile) {
  TempDir dir;
  std::string inbox = dir.File("Inbox.dbx");
  DbxWriter::Create(inbox);
  DbxWriter(inbox).Append(DbxEnvelope{}, "Subject: big\r\n\r\n" + std::string(100000, 'b'));
  std::string archive = dir.File("SpamArchive");
  std::filesystem::create_directory(archive);
  DbxReader reader(inbox);
  MapiMessage m = Message(1, "2011/02/22 17:23", "big");
  struct rlimit old {};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  struct rlimit small = old;
  small.rlim_cur = 4096;
  auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  bool saved = SaveMessageAsEML(&reader, &m, archive);
  setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, oldHandler);
  EXPECT_FALSE(saved);
  EXPECT_TRUE(std::filesystem::is_empty(archive));
  EXPECT_EQ(kestrelon::testing::LogMessages(inbox + ".log"),
            std::vector<std::string>{"Exception: Unknown error in SaveMessage()"});
}
#endif

TEST(SpamArchive, ReaderFailureIsLogged) {
  TempDir dir;
  std::string inbox = dir.File("Inbox.dbx");
  DbxWriter::Create(inbox);
  DbxWriter(inbox).Append(DbxEnvelope{}, "Subject: x\r\n\r\ny");
  std::string file = ReadAll(inbox);
  uint32_t root = uint32_t(uint8_t(file[0xE4])) | uint32_t(uint8_t(file[0xE5])) << 8 |
                  uint32_t(uint8_t(file[0xE6])) << 16 | uint32_t(uint8_t(file[0xE7])) << 24;
  file[root + 0x11] = 52;
  kestrelon::testing::WriteAll(inbox, file);
  DbxReader reader(inbox);
  EXPECT_FALSE(reader.SaveMessage(1, dir.File("out.eml")));
  EXPECT_FALSE(std::filesystem::exists(dir.File("out.eml")));
  auto lines = kestrelon::testing::LogMessages(inbox + ".log");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], "DbxException in SaveMessage(): Wrong value for entries !");
}

TEST(SpamArchive, RecordWithoutTextIsLoggedAndAHeldFileIsLeftAlone) {
  TempDir dir;
  std::string inbox = dir.File("Inbox.dbx");
  kestrelon::testing::DbxImage image;
  image.SetTree(2, 0x3000);
  image.Node(0x3000, 0, 0, 0, {{0x3400, 0, 0}, {0x3500, 0, 0}});
  image.Record(0x3400, {0x80u | 1u << 8}, "");  // message index 1, no message address
  image.SimpleRecord(0x3500, 2, 0);             // message index 2, message address 0
  image.Save(inbox);
  DbxReader reader(inbox);
  EXPECT_FALSE(reader.SaveMessage(1, dir.File("one.eml")));
  EXPECT_FALSE(reader.SaveMessage(2, dir.File("two.eml")));
  EXPECT_FALSE(reader.SaveMessage(3, dir.File("three.eml")));  // no such record: not logged
  EXPECT_FALSE(std::filesystem::exists(dir.File("one.eml")));
  EXPECT_EQ(kestrelon::testing::LogMessages(inbox + ".log"),
            (std::vector<std::string>{"DbxException in SaveMessage(): No text found !",
                                      "DbxException in SaveMessage(): No text found !"}));

  // A file that another program holds is neither written nor logged.
  std::string other = dir.File("Other.dbx");
  DbxWriter::Create(other);
  DbxWriter(other).Append(DbxEnvelope{}, "Subject: x\r\n\r\ny");
  DbxReader archive(other);
  std::string target = dir.File("held.eml");
  kestrelon::testing::WriteAll(target, "earlier");
  platform::File holder;
  ASSERT_TRUE(
      holder.Open(target, platform::Access::ReadWrite, platform::kShareNone, platform::Disposition::OpenExisting));
  EXPECT_FALSE(archive.SaveMessage(1, target));
  holder.Close();
  EXPECT_EQ(ReadAll(target), "earlier");
  EXPECT_FALSE(std::filesystem::exists(other + ".log"));
}
