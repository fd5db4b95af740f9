#include "plugin/dbx/dbx_message_info.h"
#include "plugin/dbx/dbx_message_text.h"
#include "plugin/dbx/dbx_reader.h"

#include "plugin/dbx/dbx_test_support.h"

#include <gtest/gtest.h>

#include <sstream>


using kestrelon::DbxException;
using kestrelon::DbxMessageInfo;
using kestrelon::DbxMessageText;
using kestrelon::DbxReader;
using kestrelon::testing::DbxImage;
using kestrelon::testing::ImageFile;
using kestrelon::testing::TempDir;

namespace {

constexpr uint32_t kRecord = 0x2600;

template <typename F>
std::string Raised(F&& f) {
  try {
    f();
    return "nothing";
  } catch (const DbxException& e) {
    return e.message;
  }
}

std::string RecordError(const DbxImage& image, uint32_t offset = kRecord) {
  ImageFile in(image);
  return Raised([&] { DbxMessageInfo info(in, offset); });
}

}  // namespace

TEST(DbxMessageInfo, DirectAndIndirectValues) {
  DbxImage image;
  // 0x04 direct; 0x00 indirect of 2 bytes (the next indirect value starts 2 further);
  // 0x08 indirect, the last, runs to the end of the body.
  image.Record(kRecord, {0x84u | 0x123456u << 8, 0x00u | 0u << 8, 0x08u | 2u << 8}, std::string("\x34\x12Hi\0", 5));
  ImageFile in(image);
  DbxMessageInfo info(in, kRecord);
  EXPECT_EQ(info.IndexValue(0x04), 0x123456u);
  EXPECT_EQ(info.IndexValue(0x00), 0x1234u);
  EXPECT_EQ(info.ValueLength(0x08), 3u);
  EXPECT_EQ(info.IndexValue(0x08), uint32_t('H' | 'i' << 8));
  EXPECT_EQ(info.IndexValue(0x05), 0u);
  EXPECT_FALSE(info.IsPresent(0x05));
  EXPECT_EQ(Raised([&] { info.IndexValue(32); }), "Index to big !");
  EXPECT_EQ(std::string(info.IndexName(0x04)), "message address");
  EXPECT_EQ(info.IndexType(0x12), 2u);
  EXPECT_EQ(info.IndexType(0x1C), 8u);
  EXPECT_EQ(Raised([&] { info.IndexName(32); }), "Wrong index !");
  EXPECT_EQ(Raised([&] { info.IndexType(40); }), "Wrong index !");
}

TEST(DbxMessageInfo, LaterEntryWinsAndOneByteValues) {
  DbxImage image;
  image.Record(kRecord, {0x80u | 5u << 8, 0x01u | 0u << 8, 0x80u | 9u << 8}, "\x07");
  ImageFile in(image);
  DbxMessageInfo info(in, kRecord);
  EXPECT_EQ(info.IndexValue(0x00), 9u);
  EXPECT_EQ(info.IndexValue(0x01), 7u);
}

TEST(DbxMessageInfo, RecordChecks) {
  DbxImage image;
  image.Record(kRecord, {0x80u}, "");
  EXPECT_EQ(RecordError(image), "nothing");
  EXPECT_EQ(RecordError(image, kRecord + 4), "Wrong object marker !");
  EXPECT_EQ(RecordError(image, 0x100000), "Error reading from input stream !");

  image.Put32(kRecord + 12, 0x20);  // attribute 0x20
  EXPECT_EQ(RecordError(image), "Index to big !");

  DbxImage longBody;
  longBody.Record(kRecord, {0x80u}, "");
  longBody.Put32(kRecord + 4, 0x7FFFFFF0u);  // a body far past the end of the file
  EXPECT_EQ(RecordError(longBody), "Error reading from input stream !");

  DbxImage tooManyEntries;
  tooManyEntries.Record(kRecord, {0x80u, 0x81u}, "");
  tooManyEntries.Put8(kRecord + 10, 3);
  EXPECT_EQ(RecordError(tooManyEntries), "Index entries beyond the record body !");

  DbxImage outside;
  outside.Record(kRecord, {0x08u | 5u << 8}, "abcd");
  EXPECT_EQ(RecordError(outside), "Value beyond the record body !");
  DbxImage backwards;
  backwards.Record(kRecord, {0x08u | 3u << 8, 0x07u | 1u << 8}, "abcd");
  EXPECT_EQ(RecordError(backwards), "Value beyond the record body !");
  DbxImage atEnd;
  atEnd.Record(kRecord, {0x08u | 4u << 8}, "abcd");
  EXPECT_EQ(RecordError(atEnd), "nothing");
}

TEST(DbxMessageText, ChainOfSegments) {
  DbxImage image;
  std::string a(512, 'a'), b(512, 'b'), c(17, 'c');
  image.Segment(0x3000, a, 0x3400);
  image.Segment(0x3400, b, 0x2C00);
  image.Segment(0x2C00, c, 0);
  ImageFile in(image);
  DbxMessageText text(in, 0x3000);
  EXPECT_EQ(text.Length(), 1041u);
  EXPECT_EQ(std::string(text.Text(), 1042), a + b + c + std::string(1, '\0'));
  // A stream of the file's bytes reads the same.
  std::istringstream bytes(image.Bytes());
  EXPECT_EQ(std::string(DbxMessageText(bytes, 0x3000).Text()), a + b + c);
  image.SimpleRecord(kRecord, 7, 0x3000);
  std::istringstream withRecord(image.Bytes());
  EXPECT_EQ(DbxMessageInfo(withRecord, kRecord).IndexValue(DbxMessageInfo::kIndexMessageIndex), 7u);
}

TEST(DbxMessageText, BrokenChains) {
  auto error = [](const DbxImage& image, uint32_t first) {
    ImageFile in(image);
    return Raised([&] { DbxMessageText text(in, first); });
  };
  DbxImage image;
  EXPECT_EQ(error(image, 0), "No text found !");
  image.Segment(0x3000, "", 0x3100);
  image.Segment(0x3100, "", 0);
  EXPECT_EQ(error(image, 0x3000), "No text found !");
  image.Put32(0x3100, 0x3104);
  EXPECT_EQ(error(image, 0x3000), "Wrong object marker !");
  image.Segment(0x3100, "xyz", 0x3000);  // loops back to the first segment
  EXPECT_EQ(error(image, 0x3000), "Error reading from input stream !");
  image.Segment(0x3100, "xyz", 0);
  image.Put32(0x3100 + 8, 0x10000000);  // more text than the file holds
  EXPECT_EQ(error(image, 0x3000), "Error reading from input stream !");
  image.Put32(0x3100 + 8, 3);
  EXPECT_EQ(error(image, 0x3000), "nothing");
  EXPECT_EQ(error(image, 0x200000), "Error reading from input stream !");
}

namespace {

// Records with message indexes 10, 20, ..., one text each, in one root node; the
// record of index 30 has no message address.
DbxImage LookupFile(int records) {
  DbxImage image;
  std::vector<DbxImage::Entry> entries;
  for (int i = 0; i < records; ++i) {
    uint32_t record = 0x4000 + 0x40 * uint32_t(i);
    uint32_t segment = 0x8000 + 0x100 * uint32_t(i);
    uint32_t id = 10 * uint32_t(i + 1);
    if (id == 30) image.Record(record, {0x80u | id << 8}, "");
    else image.SimpleRecord(record, id, segment);
    image.Segment(segment, "Subject: " + std::to_string(id) + "\r\n\r\nbody", 0);
    entries.push_back({record, 0, 0});
  }
  image.SetTree(uint32_t(records), 0x3000);
  image.Node(0x3000, 0, 0, 0, entries);
  return image;
}

}  // namespace

TEST(DbxLookup, NewestFirstThenBinarySearch) {
  TempDir dir;
  std::string path = dir.File("Inbox.dbx");
  LookupFile(7).Save(path);
  DbxReader reader(path);
  ASSERT_EQ(reader.LoadIndex(), 7u);
  EXPECT_EQ(reader.FindMessageAddress(70, true), 0x8600u);
  EXPECT_EQ(reader.FindMessageAddress(70, false), 0x8600u);
  for (uint32_t id : {10u, 20u, 40u, 50u, 60u}) {
    EXPECT_EQ(reader.FindMessageAddress(id, true), 0x8000u + 0x100u * (id / 10 - 1)) << id;
    EXPECT_EQ(reader.FindMessageAddress(id, false), 0x8000u + 0x100u * (id / 10 - 1)) << id;
  }
  EXPECT_EQ(reader.FindMessageAddress(30, true), 0u);  // no message address
  EXPECT_EQ(reader.FindMessageAddress(35, true), 0u);
  EXPECT_EQ(reader.FindMessageAddress(5, false), 0u);
  EXPECT_EQ(reader.FindMessageAddress(80, false), 0u);
}

TEST(DbxLookup, BrokenRecordFailsTheLookupAndIsLogged) {
  TempDir dir;
  std::string path = dir.File("Inbox.dbx");
  DbxImage image = LookupFile(5);
  image.Put32(0x4000 + 0x40 * 2, 1);  // the middle record, the first probe
  image.Save(path);
  DbxReader reader(path);
  std::string header, body;
  EXPECT_TRUE(reader.ReadMessage(50, header, body, false));  // the newest needs no search
  EXPECT_EQ(header, "Subject: 50");
  EXPECT_FALSE(reader.ReadMessage(20, header, body, false));
  EXPECT_FALSE(reader.SaveMessage(50, dir.File("out.eml")));
  auto lines = kestrelon::testing::LogMessages(path + ".log");
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "DbxException in ReadMessage(): Wrong object marker !");
  EXPECT_EQ(lines[1], "DbxException in SaveMessage(): Wrong object marker !");
}
