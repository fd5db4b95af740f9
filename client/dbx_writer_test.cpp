// The writer checked against the reader: what the client writes, the plug-in reads
// back byte for byte, at every tree size.
#include "client/dbx_writer.h"

#include "plugin/dbx/dbx_message_info.h"
#include "plugin/dbx/dbx_message_text.h"
#include "plugin/dbx/dbx_reader.h"
#include "plugin/dbx/dbx_test_support.h"
#include "platform/process.h"

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <memory>
#include <set>
#include <thread>

using kestrelon::DbxMessageText;
using kestrelon::DbxReader;
using kestrelon::client::DbxEnvelope;
using kestrelon::client::DbxNewMessage;
using kestrelon::client::DbxWriter;
using kestrelon::testing::ReadAll;
using kestrelon::testing::TempDir;

namespace {

uint32_t Le32(const std::string& b, uint32_t at) {
  auto* p = reinterpret_cast<const unsigned char*>(b.data()) + at;
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// Walks the tree the way a strict client would and checks every node: marker, parent,
// 1 to 51 entries, child counts. Returns the subtree's value count; records the depth.
uint32_t CheckNode(const std::string& file, uint32_t offset, uint32_t parent, int depth, int& maxDepth) {
  EXPECT_LE(uint64_t(offset) + 0x27C, file.size());
  if (uint64_t(offset) + 0x27C > file.size()) return 0;
  maxDepth = std::max(maxDepth, depth);
  EXPECT_EQ(Le32(file, offset), offset);
  EXPECT_EQ(Le32(file, offset + 0x0C), parent);
  unsigned entries = static_cast<unsigned char>(file[offset + 0x11]);
  EXPECT_GE(entries, 1u);
  EXPECT_LE(entries, 51u);
  uint32_t count = 0;
  if (uint32_t first = Le32(file, offset + 8)) {
    EXPECT_EQ(CheckNode(file, first, offset, depth + 1, maxDepth), Le32(file, offset + 0x14));
    count += Le32(file, offset + 0x14);
  }
  for (unsigned k = 0; k < entries; ++k) {
    uint32_t e = offset + 0x18 + 12 * k;
    EXPECT_NE(Le32(file, e), 0u);
    ++count;
    if (uint32_t child = Le32(file, e + 4)) {
      EXPECT_EQ(CheckNode(file, child, offset, depth + 1, maxDepth), Le32(file, e + 8));
      count += Le32(file, e + 8);
    } else {
      EXPECT_EQ(Le32(file, e + 8), 0u);
    }
  }
  return count;
}

// Tree depth of a sound file (1 = only a root), 0 without tree.
int CheckTree(const std::string& path) {
  std::string file = ReadAll(path);
  EXPECT_EQ(Le32(file, 0), 0xFE12ADCFu);
  EXPECT_EQ(Le32(file, 4), 0x6F74FDC5u);
  EXPECT_EQ(Le32(file, 8), 0x11D1E366u);
  EXPECT_EQ(Le32(file, 12), 0xC0004E9Au);
  EXPECT_EQ(Le32(file, 0x7C), file.size());  // used space of the file
  uint32_t root = Le32(file, 0xE4), count = Le32(file, 0xC4);
  if (root == 0) {
    EXPECT_EQ(count, 0u);
    return 0;
  }
  int depth = 0;
  EXPECT_EQ(CheckNode(file, root, 0, 1, depth), count);
  return depth;
}

std::string Mail(uint32_t n, size_t bodySize = 40) {
  std::string mail = "From: Sender " + std::to_string(n) + " <s" + std::to_string(n) +
                     "@example.org>\r\nSubject: Message " + std::to_string(n) + "\r\n\r\n";
  size_t target = mail.size() + bodySize;
  for (size_t i = 0; mail.size() < target; ++i) mail += char('a' + (n + i) % 26);
  return mail;
}

std::string TextOf(DbxReader& reader, uint32_t id) {
  uint32_t address = reader.FindMessageAddress(id, true);
  if (address == 0) return "<none>";
  DbxMessageText text(reader.Stream(), address);
  return std::string(text.Text(), text.Length());
}

// Delivers `n` messages in one batch and checks tree, count and every text.
void RoundTrip(uint32_t n, int expectedDepth) {
  TempDir dir;
  std::string path = dir.File("Inbox.dbx");
  DbxWriter::Create(path);
  std::vector<DbxNewMessage> mails;
  for (uint32_t i = 1; i <= n; ++i) mails.push_back({DbxEnvelope{}, Mail(i, i % 700)});
  DbxWriter writer(path);
  auto ids = writer.AppendMany(mails);
  ASSERT_EQ(ids.size(), n);
  EXPECT_EQ(ids.front(), 1u);
  EXPECT_EQ(ids.back(), n);
  EXPECT_EQ(CheckTree(path), expectedDepth);
  DbxReader reader(path);
  ASSERT_EQ(reader.LoadIndex(), n);
  uint32_t step = n > 200 ? 97 : 1;
  for (uint32_t i = 1; i <= n; i += step) ASSERT_EQ(TextOf(reader, i), Mail(i, i % 700)) << i;
  EXPECT_EQ(TextOf(reader, n), Mail(n, n % 700));
  EXPECT_EQ(TextOf(reader, n + 1), "<none>");
  EXPECT_FALSE(std::filesystem::exists(path + ".log"));
}

}  // namespace

TEST(DbxWriter, EmptyFile) {
  TempDir dir;
  std::string path = dir.File("Inbox.dbx");
  DbxWriter::Create(path);
  EXPECT_EQ(ReadAll(path).size(), 0x24BCu);
  EXPECT_EQ(CheckTree(path), 0);
  DbxReader reader(path);
  EXPECT_EQ(reader.LoadIndex(), 0u);
}

TEST(DbxWriter, TreesOfOneFiftyOneFiftyTwoMessages) {
  RoundTrip(1, 1);
  RoundTrip(51, 1);
  RoundTrip(52, 2);
}

TEST(DbxWriter, TreeOfTenThousandMessages) { RoundTrip(10000, 3); }

TEST(DbxWriter, SingleAppendsKeepTheTreeSoundAtEverySize) {
  TempDir dir;
  std::string path = dir.File("Inbox.dbx");
  DbxWriter::Create(path);
  DbxReader reader(path);
  for (uint32_t i = 1; i <= 110; ++i) {
    DbxWriter writer(path);  // reopened every time, as a tool would
    ASSERT_EQ(writer.Append(DbxEnvelope{}, Mail(i)), i);
    CheckTree(path);
    ASSERT_EQ(reader.LoadIndex(), i);
    ASSERT_EQ(TextOf(reader, i), Mail(i));
    ASSERT_EQ(TextOf(reader, 1), Mail(1));
  }
}

TEST(DbxWriter, TextsAreKeptByteForByte) {
  TempDir dir;
  std::string path = dir.File("Inbox.dbx");
  DbxWriter::Create(path);
  DbxWriter writer(path);
  std::vector<std::string> texts = {"x", std::string(511, 'a'), std::string(512, 'b'), std::string(513, 'c'),
                                    std::string(1024, 'd'), std::string("with\0nul\r\n\r\nbytes", 17)};
  std::string all256;
  for (int c = 1; c < 256; ++c) all256 += char(c);
  texts.push_back(all256 + all256 + all256);
  std::vector<DbxNewMessage> mails;
  for (const auto& t : texts) mails.push_back({DbxEnvelope{}, t});
  auto ids = writer.AppendMany(mails);
  DbxReader reader(path);
  ASSERT_EQ(reader.LoadIndex(), texts.size());
  for (size_t i = 0; i < texts.size(); ++i) EXPECT_EQ(TextOf(reader, ids[i]), texts[i]) << i;
  // Segments hold at most 512 bytes and carry the client's capacity word.
  std::string file = ReadAll(path);
  uint32_t segment = reader.FindMessageAddress(ids[4], false);
  EXPECT_EQ(Le32(file, segment + 4), 0x200u);
  EXPECT_EQ(Le32(file, segment + 8), 512u);
  uint32_t second = Le32(file, segment + 12);
  EXPECT_EQ(Le32(file, second + 8), 512u);
  EXPECT_EQ(Le32(file, second + 12), 0u);
}

TEST(DbxWriter, EnvelopeIsStoredInTheRecord) {
  TempDir dir;
  std::string path = dir.File("Inbox.dbx");
  DbxWriter::Create(path);
  DbxEnvelope env;
  env.subject = "Hello";
  env.senderName = "Ann";
  env.senderAddress = "ann@example.org";
  env.receiverAddress = "bob@example.org";
  env.sentTime = 0x01D0000012345678ull;
  env.receivedTime = 0x01D0000087654321ull;
  DbxWriter(path).Append(env, "Subject: Hello\r\n\r\nhi");
  DbxReader reader(path);
  ASSERT_EQ(reader.LoadIndex(), 1u);
  kestrelon::DbxMessageInfo info(reader.Stream(), reader.IndexAt(0));
  EXPECT_EQ(info.IndexValue(0x00), 1u);
  EXPECT_EQ(info.IndexValue(0x01), kestrelon::client::kDbxFlagUnread);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(info.ValueStart(0x08))), "Hello");
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(info.ValueStart(0x0D))), "Ann");
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(info.ValueStart(0x0E))), "ann@example.org");
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(info.ValueStart(0x14))), "bob@example.org");
  EXPECT_EQ(info.ValueLength(0x02), 8u);
  EXPECT_EQ(info.IndexValue(0x02), 0x12345678u);
  EXPECT_EQ(info.IndexValue(0x12), 0x87654321u);
  EXPECT_EQ(info.IndexValue(0x11), 20u);
}

TEST(DbxWriter, DeleteBetweenTwoReadsAndIdsKeepGrowing) {
  TempDir dir;
  std::string path = dir.File("Inbox.dbx");
  DbxWriter::Create(path);
  std::vector<DbxNewMessage> mails;
  for (uint32_t i = 1; i <= 60; ++i) mails.push_back({DbxEnvelope{}, Mail(i)});
  DbxWriter(path).AppendMany(mails);
  DbxReader reader(path);
  std::string header, body;
  ASSERT_TRUE(reader.ReadMessage(60, header, body, false));
  ASSERT_TRUE(reader.ReadMessage(30, header, body, false));
  {
    DbxWriter writer(path);
    EXPECT_TRUE(writer.Delete(30));
    EXPECT_TRUE(writer.Delete(60));
    EXPECT_FALSE(writer.Delete(60));
    EXPECT_FALSE(writer.Delete(61));
  }
  EXPECT_FALSE(reader.ReadMessage(30, header, body, false));
  EXPECT_FALSE(reader.ReadMessage(60, header, body, false));
  EXPECT_EQ(reader.MessageCount(), 58u);
  ASSERT_TRUE(reader.ReadMessage(59, header, body, false));
  EXPECT_EQ(header + body, Mail(59));
  EXPECT_FALSE(std::filesystem::exists(path + ".log"));  // not found is no error
  CheckTree(path);
  // The highest index given stays used, also after its message went.
  DbxWriter writer(path);
  EXPECT_EQ(writer.HighestIndex(), 60u);
  EXPECT_EQ(writer.Append(DbxEnvelope{}, Mail(61)), 61u);
  EXPECT_EQ(writer.Entries().size(), 59u);
  for (uint32_t i = 1; i <= 59; ++i) {
    if (i != 30) {
      ASSERT_TRUE(writer.Delete(i)) << i;
    }
  }
  EXPECT_EQ(CheckTree(path), 1);
  EXPECT_TRUE(writer.Delete(61));
  EXPECT_EQ(CheckTree(path), 0);
  EXPECT_EQ(reader.LoadIndex(), 0u);
}

TEST(DbxWriter, AnUnfinishedEditLeavesTheOldTreeOrAFailure) {
  TempDir dir;
  std::string path = dir.File("Inbox.dbx");
  DbxWriter::Create(path);
  std::vector<DbxNewMessage> mails;
  for (uint32_t i = 1; i <= 80; ++i) mails.push_back({DbxEnvelope{}, Mail(i)});
  DbxWriter(path).AppendMany(mails);
  std::string before = ReadAll(path);
  DbxWriter(path).Append(DbxEnvelope{}, Mail(81));
  std::string after = ReadAll(path);
  DbxReader reader(path);

  // Objects written, header not yet: the old tree, whole and unchanged.
  std::string unfinished = after;
  unfinished.replace(0, 0x24BC, before.substr(0, 0x24BC));
  kestrelon::testing::WriteAll(path, unfinished);
  EXPECT_EQ(reader.LoadIndex(), 80u);
  EXPECT_EQ(TextOf(reader, 80), Mail(80));
  EXPECT_EQ(TextOf(reader, 81), "<none>");

  // A torn header (new count, old root) is refused, never taken for a whole tree.
  std::string torn = unfinished;
  torn.replace(0xC4, 4, after.substr(0xC4, 4));
  kestrelon::testing::WriteAll(path, torn);
  EXPECT_THROW(reader.LoadIndex(), kestrelon::DbxException);
  torn = unfinished;
  torn.replace(0xE4, 4, after.substr(0xE4, 4));
  kestrelon::testing::WriteAll(path, torn);
  EXPECT_THROW(reader.LoadIndex(), kestrelon::DbxException);

  kestrelon::testing::WriteAll(path, after);
  EXPECT_EQ(reader.LoadIndex(), 81u);
  EXPECT_EQ(TextOf(reader, 81), Mail(81));
}

TEST(DbxWriter, TreeSpaceIsReusedOneEditLater) {
  TempDir dir;
  std::string path = dir.File("Inbox.dbx");
  DbxWriter::Create(path);
  std::vector<DbxNewMessage> mails;
  for (uint32_t i = 1; i <= 3000; ++i) mails.push_back({DbxEnvelope{}, Mail(i)});
  DbxWriter(path).AppendMany(mails);
  DbxReader reader(path);
  auto size = [&] { return ReadAll(path).size(); };
  size_t s0 = size();
  DbxWriter(path).Append(DbxEnvelope{}, Mail(3001));
  size_t s1 = size();
  EXPECT_GT(s1 - s0, 60u * 0x27C);  // a whole new tree behind everything
  for (uint32_t i = 3002; i <= 3010; ++i) {
    size_t before = size();
    DbxWriter(path).Append(DbxEnvelope{}, Mail(i));
    EXPECT_LT(size() - before, 0x27Cu) << i;  // only text and record: the tree reuses old nodes
    CheckTree(path);
    ASSERT_EQ(reader.LoadIndex(), i);
    ASSERT_EQ(TextOf(reader, i), Mail(i));
    ASSERT_EQ(TextOf(reader, 1500), Mail(1500));
  }
  // One handle editing again and again keeps reusing the nodes it freed.
  {
    DbxWriter writer(path);
    for (uint32_t i = 3011; i <= 3016; ++i) {
      size_t before = size();
      ASSERT_EQ(writer.Append(DbxEnvelope{}, Mail(i)), i);
      EXPECT_LT(size() - before, 2 * 0x27Cu) << i;  // at most one node more as the tree grows
    }
    ASSERT_TRUE(writer.Delete(3016));
    CheckTree(path);
  }
  size_t settled = size();
  DbxWriter(path).Append(DbxEnvelope{}, Mail(3017));  // the chain on disk is whole
  EXPECT_LT(size() - settled, 2 * 0x27Cu);
  ASSERT_EQ(reader.LoadIndex(), 3016u);
  ASSERT_EQ(TextOf(reader, 3017), Mail(3017));

  // A free chain that makes no sense costs space, never the file.
  std::string file = ReadAll(path);
  file.replace(0x4C, 4, std::string("\x10\0\0\0", 4));  // the deleted tree list points into the header
  kestrelon::testing::WriteAll(path, file);
  DbxWriter writer(path);
  EXPECT_EQ(writer.Append(DbxEnvelope{}, Mail(3018)), 3018u);
  CheckTree(path);
  ASSERT_EQ(reader.LoadIndex(), 3017u);
}

TEST(DbxWriter, ReaderDuringEditsGetsTheRightTextOrAFailure) {
  TempDir dir;
  std::string path = dir.File("Inbox.dbx");
  DbxWriter::Create(path);
  std::vector<DbxNewMessage> mails;
  for (uint32_t i = 1; i <= 120; ++i) mails.push_back({DbxEnvelope{}, Mail(i, 900)});
  DbxWriter(path).AppendMany(mails);
  std::atomic<bool> done{false};
  std::thread client([&] {
    DbxWriter writer(path);
    for (uint32_t i = 121; i <= 320; ++i) {
      writer.Append(DbxEnvelope{}, Mail(i, 900));
      writer.Delete(i - 100);  // never message 5
    }
    done = true;
  });
  DbxReader reader(path);
  int found = 0, reads = 0;
  std::string header, body;
  while (!done || reads == 0) {
    ++reads;
    if (reader.ReadMessage(5, header, body, false)) {
      ++found;
      ASSERT_EQ(header + body, Mail(5, 900));
    }
  }
  client.join();
  ASSERT_TRUE(reader.ReadMessage(5, header, body, false));
  EXPECT_EQ(header + body, Mail(5, 900));
  EXPECT_EQ(reader.MessageCount(), 120u);
  CheckTree(path);
}

TEST(DbxWriter, RefusesFilesItCannotWalk) {
  TempDir dir;
  std::string path = dir.File("Inbox.dbx");
  EXPECT_THROW(DbxWriter w(path), kestrelon::client::DbxWriteError);
  kestrelon::testing::WriteAll(path, "short");
  EXPECT_THROW(DbxWriter w(path), kestrelon::client::DbxWriteError);
  DbxWriter::Create(path);
  DbxWriter(path).Append(DbxEnvelope{}, Mail(1));
  std::string file = ReadAll(path);
  file[Le32(file, 0xE4) + 0x0C] = 1;  // the root's parent
  kestrelon::testing::WriteAll(path, file);
  EXPECT_THROW(DbxWriter w(path), kestrelon::client::DbxWriteError);
}

TEST(DbxWriter, TwoProcessesAppendingToOneFileKeepEveryMail) {
  TempDir dir;
  std::string path = dir.File("Inbox.dbx");
  DbxWriter::Create(path);
  std::string self = platform::CurrentExecutablePath();
  std::string worker = self.substr(0, self.find_last_of("/\\") + 1) + "dbx_append_worker";
#ifdef _WIN32
  worker += ".exe";
#endif
  const int perProcess = 40;
  std::vector<std::unique_ptr<platform::ChildProcess>> children;
  for (const char* tag : {"a", "b"}) {
    children.push_back(std::make_unique<platform::ChildProcess>());
    ASSERT_TRUE(children.back()->Start(worker, {path, tag, std::to_string(perProcess)})) << worker;
  }
  for (auto& child : children) {
    int code = -2;
    ASSERT_TRUE(child->Wait(code));
    EXPECT_EQ(code, 0);
  }
  CheckTree(path);
  DbxReader reader(path);
  ASSERT_EQ(reader.LoadIndex(), 2u * perProcess);
  std::set<std::string> texts;
  for (uint32_t id = 1; id <= 2 * perProcess; ++id) texts.insert(TextOf(reader, id));
  for (const char* tag : {"a", "b"})
    for (int i = 0; i < perProcess; ++i)
      EXPECT_EQ(texts.count("Subject: " + std::string(tag) + " " + std::to_string(i) + "\r\n\r\nmail " +
                            std::to_string(i) + " of " + tag),
                1u)
          << tag << i;
}

TEST(DbxWriter, AHeldEditKeepsOtherWritersWaitingButNotReaders) {
  TempDir dir;
  std::string path = dir.File("Inbox.dbx");
  DbxWriter::Create(path);
  DbxWriter writer(path);
  writer.Append(DbxEnvelope{}, Mail(1));
  std::atomic<bool> appended{false};
  std::thread other;
  {
    DbxWriter::Edit hold(writer);
    other = std::thread([&] {
      DbxWriter(path).Append(DbxEnvelope{}, Mail(3));
      appended = true;
    });
    DbxReader reader(path);
    ASSERT_EQ(reader.LoadIndex(), 1u);
    EXPECT_EQ(TextOf(reader, 1), Mail(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_FALSE(appended);
    EXPECT_EQ(writer.Append(DbxEnvelope{}, Mail(2)), 2u);  // the holder's own edits go through
  }
  other.join();
  EXPECT_TRUE(appended);
  DbxReader reader(path);
  ASSERT_EQ(reader.LoadIndex(), 3u);
  EXPECT_EQ(TextOf(reader, 3), Mail(3));
}

TEST(DbxWriter, ChangedFlagsGoIntoANewRecordAndLeaveTheOldOneAlone) {
  TempDir dir;
  std::string path = dir.File("Inbox.dbx");
  DbxWriter::Create(path);
  DbxWriter writer(path);
  writer.AppendMany({{DbxEnvelope{}, Mail(1)}, {DbxEnvelope{}, Mail(2)}});
  uint32_t before = writer.RecordOffsets()[0];
  std::string oldRecord = ReadAll(path).substr(before, 64);
  EXPECT_TRUE(writer.ChangeFlags(1, 0x20, kestrelon::client::kDbxFlagUnread));
  EXPECT_FALSE(writer.ChangeFlags(7, 0, kestrelon::client::kDbxFlagUnread));
  EXPECT_EQ(ReadAll(path).substr(before, 64), oldRecord);
  DbxReader reader(path);
  ASSERT_EQ(reader.LoadIndex(), 2u);
  EXPECT_NE(reader.IndexAt(0), before);
  kestrelon::DbxMessageInfo info(reader.Stream(), reader.IndexAt(0));
  EXPECT_EQ(info.IndexValue(0x00), 1u);
  EXPECT_EQ(info.IndexValue(0x01), 0x20u);
  EXPECT_EQ(TextOf(reader, 1), Mail(1));
  CheckTree(path);
}
