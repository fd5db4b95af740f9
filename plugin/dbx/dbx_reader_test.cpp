#include "plugin/dbx/dbx_reader.h"

#include "plugin/dbx/dbx_test_support.h"
#include "platform/file.h"

#include <gtest/gtest.h>

#include "client/dbx_writer.h"

#include <chrono>
#include <filesystem>
#include <fstream>

using kestrelon::DbxException;
using kestrelon::DbxReader;
using kestrelon::testing::DbxImage;
using kestrelon::testing::LogMessages;
using kestrelon::testing::TempDir;

namespace {

constexpr uint32_t kRoot = 0x3000;
constexpr uint32_t kChildA = 0x3400;
constexpr uint32_t kChildB = 0x3800;

// "ok <count>: <offsets>" or the text of the DbxException.
std::string Load(DbxReader& reader) {
  try {
    uint32_t n = reader.LoadIndex();
    std::string out = "ok " + std::to_string(n) + ":";
    for (uint32_t i = 0; i < n; ++i) out += " " + std::to_string(reader.IndexAt(i));
    return out;
  } catch (const DbxException& e) {
    return e.message;
  }
}

std::string Load(const DbxImage& image, const TempDir& dir) {
  std::string path = dir.File("Inbox.dbx");
  image.Save(path);
  DbxReader reader(path);
  return Load(reader);
}

// Root with values 1 and 2 and a first child holding 3: tree order 3, 1, 2.
DbxImage ThreeValues() {
  DbxImage image;
  image.SetTree(3, kRoot);
  image.Node(kRoot, 0, kChildA, 1, {{1, 0, 0}, {2, 0, 0}});
  image.Node(kChildA, kRoot, 0, 0, {{3, 0, 0}});
  return image;
}

}  // namespace

TEST(DbxReaderIndex, FileWithoutIndexHasNoMessagesAndLogsNothing) {
  TempDir dir;
  DbxImage image;
  image.SetTree(0, kRoot);
  image.Node(kRoot, 0, 0, 0, {{1, 0, 0}});
  EXPECT_EQ(Load(image, dir), "ok 0:");
  image.SetTree(5, 0);
  EXPECT_EQ(Load(image, dir), "ok 0:");
  DbxReader reader(dir.File("Inbox.dbx"));
  std::string header, body;
  EXPECT_FALSE(reader.ReadMessage(1, header, body, false));
  EXPECT_EQ(reader.MessageCount(), 0u);
  EXPECT_FALSE(std::filesystem::exists(dir.File("Inbox.dbx.log")));
}

TEST(DbxReaderIndex, TreeOrderAndRepeatedLoads) {
  TempDir dir;
  ThreeValues().Save(dir.File("Inbox.dbx"));
  DbxReader reader(dir.File("Inbox.dbx"));
  EXPECT_EQ(Load(reader), "ok 3: 3 1 2");
  EXPECT_EQ(Load(reader), "ok 3: 3 1 2");
  try {
    reader.IndexAt(3);
    FAIL();
  } catch (const DbxException& e) {
    EXPECT_EQ(e.message, "Wrong index !");
  }
}

// Nodes behind, before and far from each other, and a node the client rewrites in place
// between two loads: each load reads the file as it is then.
TEST(DbxReaderIndex, ScatteredNodesAndRewritesBetweenLoads) {
  TempDir dir;
  constexpr uint32_t kFar = 0x40000;
  constexpr uint32_t kRootFar = kFar + 0x1000;
  DbxImage image;
  image.SetTree(3, kRootFar);
  image.Node(kRootFar, 0, kChildA, 1, {{1, kFar, 1}});
  image.Node(kChildA, kRootFar, 0, 0, {{2, 0, 0}});
  image.Node(kFar, kRootFar, 0, 0, {{3, 0, 0}});
  std::string path = dir.File("Inbox.dbx");
  image.Save(path);
  DbxReader reader(path);
  EXPECT_EQ(Load(reader), "ok 3: 2 1 3");

  std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
  file.seekp(kRootFar + 0x18);
  file.write("\x07\0\0\0", 4);
  file.close();
  // A rewrite that leaves header and size alone is told by the write time (which may
  // not have moved on yet at the clock's resolution: set it as a later write would).
  std::filesystem::last_write_time(path, std::filesystem::last_write_time(path) + std::chrono::seconds(2));
  EXPECT_EQ(Load(reader), "ok 3: 2 7 3");
}

TEST(DbxReaderIndex, NodeChecks) {
  TempDir dir;
  DbxImage image = ThreeValues();
  image.Put32(kRoot + 0x0C, 0x10);
  EXPECT_EQ(Load(image, dir), "Wrong parent !");

  image = ThreeValues();
  image.Put32(kChildA + 0x0C, kChildB);
  EXPECT_EQ(Load(image, dir), "Wrong parent !");

  image = ThreeValues();
  image.Put32(kChildA, kChildA + 4);
  EXPECT_EQ(Load(image, dir), "Wrong object marker !");

  image = ThreeValues();
  image.Put32(kRoot + 0x08, 0x100000);  // beyond the end of the file
  EXPECT_EQ(Load(image, dir), "Error reading node from input stream !");

  image = ThreeValues();
  image.Bytes().resize(kChildA + 0x100);  // the child is cut short
  EXPECT_EQ(Load(image, dir), "Error reading node from input stream !");
}

TEST(DbxReaderIndex, FiftyOneEntriesAreAcceptedFiftyTwoAreNot) {
  TempDir dir;
  std::vector<DbxImage::Entry> entries;
  for (uint32_t i = 1; i <= 51; ++i) entries.push_back({i, 0, 0});
  DbxImage image;
  image.SetTree(51, kRoot);
  image.Node(kRoot, 0, 0, 0, entries);
  EXPECT_EQ(Load(image, dir).substr(0, 12), "ok 51: 1 2 3");
  image.Put8(kRoot + 0x11, 52);
  image.SetTree(52, kRoot);
  EXPECT_EQ(Load(image, dir), "Wrong value for entries !");
}

TEST(DbxReaderIndex, EntryWithoutValueStillHasItsChildRead) {
  TempDir dir;
  DbxImage image;
  image.SetTree(2, kRoot);
  image.Node(kRoot, 0, 0, 0, {{0, kChildA, 1}, {7, 0, 0}});
  image.Node(kChildA, kRoot, 0, 0, {{5, 0, 0}});
  EXPECT_EQ(Load(image, dir), "ok 2: 5 7");
}

TEST(DbxReaderIndex, HeaderCountAgainstTheTree) {
  TempDir dir;
  DbxImage image = ThreeValues();
  image.SetTree(2, kRoot);
  EXPECT_EQ(Load(image, dir), "To many values !");
  image.SetTree(4, kRoot);
  EXPECT_EQ(Load(image, dir), "Wrong number of values found!");
  image = DbxImage();
  image.SetTree(2, kRoot);
  image.Node(kRoot, 0, 0, 0, {{1, kChildA, 2}});
  image.Node(kChildA, kRoot, 0, 0, {{2, 0, 0}, {3, 0, 0}});
  EXPECT_EQ(Load(image, dir), "To many values to read !");
  image.SetTree(3, kRoot);
  EXPECT_EQ(Load(image, dir), "ok 3: 1 2 3");
  image.SetTree(4, kRoot);
  EXPECT_EQ(Load(image, dir), "Wrong number of values found!");

  // A child that announces fewer values than it holds runs past the count.
  image = ThreeValues();
  image.Node(kRoot, 0, kChildA, 0, {{1, 0, 0}, {2, 0, 0}});
  EXPECT_EQ(Load(image, dir), "Wrong number of values found!");
  image = DbxImage();
  image.SetTree(1, kRoot);
  image.Node(kRoot, 0, 0, 0, {{1, 0, 0}, {2, 0, 0}});
  EXPECT_EQ(Load(image, dir), "To many values !");

  // A count far beyond anything the file can hold is no reason for a huge allocation.
  image = ThreeValues();
  image.SetTree(0xFFFFFFF0u, kRoot);
  image.Put32(kRoot + 0x14, 0);
  EXPECT_EQ(Load(image, dir), "Wrong number of values found!");
}

TEST(DbxReaderIndex, ShortAndMissingFiles) {
  TempDir dir;
  DbxImage image;
  image.Bytes().resize(9403);
  EXPECT_EQ(Load(image, dir), "Error reading object from input stream !");
  DbxReader missing(dir.File("nothing.dbx"));
  EXPECT_EQ(Load(missing), "Error reading object from input stream !");
}

TEST(DbxReaderIndex, LoopsAndDepthAreRefused) {
  TempDir dir;
  // The same child twice under one parent: its parent field fits both links.
  DbxImage image;
  image.SetTree(2, kRoot);
  image.Node(kRoot, 0, kChildA, 1, {{0, kChildA, 1}});
  image.Node(kChildA, kRoot, 0, 0, {{9, 0, 0}});
  EXPECT_EQ(Load(image, dir), "Node referenced twice !");

  // A chain of first children, each node one level deeper.
  image = DbxImage();
  const uint32_t depth = DbxReader::kMaxTreeDepth + 2;
  image.SetTree(1, kRoot);
  for (uint32_t i = 0; i < depth; ++i) {
    uint32_t at = kRoot + i * DbxImage::kNodeSize;
    uint32_t next = i + 1 < depth ? at + DbxImage::kNodeSize : 0;
    image.Node(at, i ? at - DbxImage::kNodeSize : 0, next, next ? 1 : 0, next ? std::vector<DbxImage::Entry>{}
                                                                            : std::vector<DbxImage::Entry>{{4, 0, 0}});
  }
  EXPECT_EQ(Load(image, dir), "Index tree too deep !");
}

TEST(DbxReaderIndex, FailedReadDoesNotPoisonTheNextLoad) {
  TempDir dir;
  std::string path = dir.File("Inbox.dbx");
  DbxImage image = ThreeValues();
  DbxImage cut = image;
  cut.Bytes().resize(kChildA + 10);
  cut.Save(path);
  DbxReader reader(path);
  EXPECT_EQ(Load(reader), "Error reading node from input stream !");
  EXPECT_EQ(reader.MessageCount(), 3u);
  image.Save(path);  // the client finished its write
  EXPECT_EQ(Load(reader), "ok 3: 3 1 2");
}

TEST(DbxReaderIndex, KeptWhileTheFileIsUnchangedAndReadAgainWhenTheClientChangedIt) {
  using kestrelon::client::DbxEnvelope;
  using kestrelon::client::DbxWriter;
  TempDir dir;
  std::string path = dir.File("Inbox.dbx");
  DbxWriter::Create(path);
  DbxWriter client(path);
  for (int i = 1; i <= 3; ++i) client.Append(DbxEnvelope{}, "Subject: " + std::to_string(i) + "\r\n\r\nbody");
  DbxReader reader(path);
  // One pass: message after message, while the client delivers and deletes in between.
  std::string header, body;
  ASSERT_TRUE(reader.ReadMessage(2, header, body, false));
  EXPECT_EQ(header, "Subject: 2");
  ASSERT_TRUE(reader.ReadMessage(3, header, body, false));
  EXPECT_FALSE(reader.ReadMessage(4, header, body, false));
  client.Append(DbxEnvelope{}, "Subject: 4\r\n\r\nnew");
  ASSERT_TRUE(reader.ReadMessage(4, header, body, false));
  EXPECT_EQ(body, "\r\n\r\nnew");
  EXPECT_EQ(reader.MessageCount(), 4u);
  ASSERT_TRUE(client.Delete(2));
  EXPECT_FALSE(reader.ReadMessage(2, header, body, false));
  EXPECT_EQ(reader.MessageCount(), 3u);
  ASSERT_TRUE(reader.ReadMessage(3, header, body, false));
  EXPECT_EQ(header, "Subject: 3");
}

TEST(DbxReaderLog, LinesAreAppendedWithStampPrefixAndText) {
  TempDir dir;
  DbxImage image = ThreeValues();
  image.Put32(kChildA, 0);
  std::string path = dir.File("Inbox.dbx");
  image.Save(path);
  DbxReader reader(path);
  std::string header, body;
  EXPECT_FALSE(reader.ReadMessage(3, header, body, false));
  EXPECT_FALSE(reader.ReadMessage(3, header, body, false));
  reader.LogError("P: ", "T");
  auto lines = LogMessages(path + ".log");
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], "DbxException in ReadMessage(): Wrong object marker !");
  EXPECT_EQ(lines[1], lines[0]);
  EXPECT_EQ(lines[2], "P: T");
  std::string raw = kestrelon::testing::ReadAll(path + ".log");
  EXPECT_EQ(raw.substr(2, 1), "/");
  EXPECT_EQ(raw.substr(11, 1), ":");
}

TEST(DbxReaderFile, SharedWithTheClientThatWritesIt) {
  TempDir dir;
  std::string path = dir.File("Inbox.dbx");
  ThreeValues().Save(path);
  DbxReader reader(path);
  // The client keeps its own handle open for writing, sharing reading and writing.
  platform::File client;
  ASSERT_TRUE(client.Open(path, platform::Access::ReadWrite, platform::kShareRead | platform::kShareWrite,
                          platform::Disposition::OpenExisting));
  EXPECT_EQ(Load(reader), "ok 3: 3 1 2");
  client.Close();
  // The reader holds a real handle: whoever wants the file alone is refused.
  platform::File alone;
  EXPECT_FALSE(alone.Open(path, platform::Access::Read, platform::kShareNone, platform::Disposition::OpenExisting));
  EXPECT_EQ(alone.LastOpenError(), platform::OpenError::InUse);
  // The error log lets others read and write it meanwhile.
  platform::File viewer;
  ASSERT_TRUE(viewer.Open(path + ".log", platform::Access::ReadWrite, platform::kShareRead | platform::kShareWrite,
                          platform::Disposition::OpenAlways));
  reader.LogError("P: ", "T");
  reader.LogError("P: ", "U");
  EXPECT_EQ(LogMessages(path + ".log"), (std::vector<std::string>{"P: T", "P: U"}));
}
