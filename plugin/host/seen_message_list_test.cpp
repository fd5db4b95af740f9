#include "plugin/host/seen_message_list.h"

#include "plugin/dbx/dbx_test_support.h"

namespace kestrelon {
namespace {

using testing::ReadAll;
using testing::TempDir;
using testing::WriteAll;

std::string Blank() { return std::string(512, ' ') + "\r\n"; }

std::vector<std::string> Ids(SeenMessageList& list, const std::string& key) {
  std::vector<std::string> ids;
  auto cursor = list.CursorFor(key);
  std::string id;
  while (cursor.Next(id)) ids.push_back(id);
  return ids;
}

TEST(SeenMessageList, MissingOrEmptyFileGetsABlankBookmarkLine) {
  TempDir dir;
  for (bool createEmpty : {false, true}) {
    std::string path = dir.File(createEmpty ? "empty.msg" : "missing.msg");
    if (createEmpty) WriteAll(path, "");
    {
      SeenMessageList list(path);
      EXPECT_EQ(list.Bookmark(), "");
      EXPECT_EQ(list.SeenCount(), 0u);
      EXPECT_EQ(ReadAll(path), Blank());
    }
    EXPECT_EQ(ReadAll(path), Blank());
  }
}

TEST(SeenMessageList, RecordsAndBookmarkAreWrittenByteForByte) {
  TempDir dir;
  std::string path = dir.File("Kestrelon.msg");
  {
    SeenMessageList list(path);
    list.Record("AnnHello", "2026/12/07 09:14", "17");
    list.Record("k", "", "18");
    list.SetBookmark("18");
    EXPECT_EQ(ReadAll(path), Blank() + "  8 AnnHello  16 2026/12/07 09:14 17\r\n  1 k   0  18\r\n");
    list.Close();
  }
  std::string bookmark = "18" + std::string(510, ' ') + "\r\n";
  EXPECT_EQ(ReadAll(path), bookmark + "  8 AnnHello  16 2026/12/07 09:14 17\r\n  1 k   0  18\r\n");
}

TEST(SeenMessageList, SurvivesCloseAndReopen) {
  TempDir dir;
  std::string path = dir.File("Kestrelon.msg");
  {
    SeenMessageList list(path);
    list.Record("Ann Hi", "2026/12/01 10:00", "5");
    list.Record("Ann Hi", "2026/12/02 11:00", "6");
    list.Record("Bob Re: x", "2026/12/02 11:00", "7");
    // The same message back with a new id: two entries, same date.
    list.Record("Ann Hi", "2026/12/01 10:00", "9");
    list.SetBookmark("9");
  }
  SeenMessageList list(path);
  EXPECT_EQ(list.Bookmark(), "9");
  EXPECT_TRUE(list.IsSeen("5") && list.IsSeen("6") && list.IsSeen("7") && list.IsSeen("9"));
  EXPECT_FALSE(list.IsSeen("8"));
  EXPECT_EQ(Ids(list, "Ann Hi"), (std::vector<std::string>{"5", "6", "9"}));
  EXPECT_TRUE(list.IsReturned("Ann Hi", "2026/12/02 11:00"));
  EXPECT_FALSE(list.IsReturned("Ann Hi", "2026/12/02 11:01"));
  EXPECT_FALSE(list.IsReturned("Ann Hi ", "2026/12/02 11:00"));
  EXPECT_FALSE(list.IsReturned("Nobody", "2026/12/02 11:00"));
  EXPECT_TRUE(Ids(list, "Nobody").empty());
}

TEST(SeenMessageList, BookmarkOfSpacesIsEmptyAndDamagedLinesAreSkipped) {
  TempDir dir;
  std::string path = dir.File("Kestrelon.msg");
  std::string good = "  3 abc  16 2026/12/07 09:14 42\r\n";
  std::string damaged =
      "  9 abc  16 2026/12/07 09:14 43\r\n"  // key length past the line
      "xyz\r\n"                              // no length field
      "  3 abc 999 short 44\r\n"             // date length past the line
      "  3 abc  16 2026/12/07 09:14\r\n"     // no id
      "  3 abcX 16 2026/12/07 09:14 45\n"    // no space after the key
      " -1 abc   1 x 46\r\n"                 // not a number
      "999999999999999999999999 a 1 x 47\r";  // a length that overflows
  WriteAll(path, Blank() + damaged + good + "\r\n\r\n");
  SeenMessageList list(path);
  EXPECT_EQ(list.Bookmark(), "");
  EXPECT_EQ(list.SeenCount(), 1u);
  EXPECT_TRUE(list.IsSeen("42"));
  EXPECT_TRUE(list.IsReturned("abc", "2026/12/07 09:14"));
  // Recording appends after everything that was there.
  list.Record("d", "e", "50");
  EXPECT_EQ(ReadAll(path), Blank() + damaged + good + "\r\n\r\n" + "  1 d   1 e 50\r\n");
}

TEST(SeenMessageList, RecordAfterALineCutShortStartsItsOwnLine) {
  TempDir dir;
  std::string path = dir.File("Kestrelon.msg");
  // The last line lost its end and the last digit of its id: it names no message.
  for (std::string cut : {"  1 c  ", "  1 c   1 d 1"}) {
    WriteAll(path, Blank() + "  1 a   1 b 12\r\n" + cut);
    {
      SeenMessageList list(path);
      EXPECT_FALSE(list.IsSeen("1"));
      list.Record("d", "e", "13");
    }
    EXPECT_EQ(ReadAll(path), Blank() + "  1 a   1 b 12\r\n  1 d   1 e 13\r\n");
  }
}

TEST(SeenMessageList, LongKeysAndDatesAreStoredWiderAndReadBack) {
  TempDir dir;
  std::string path = dir.File("Kestrelon.msg");
  std::string key(1200, 'k'), date(1000, 'd');
  {
    SeenMessageList list(path);
    list.Record(key, date, "77");
    list.Record("short", "date", "78");
  }
  std::string all = ReadAll(path);
  EXPECT_NE(all.find("1200 " + key + " 1000 " + date + " 77\r\n"), std::string::npos);
  SeenMessageList list(path);
  EXPECT_TRUE(list.IsReturned(key, date));
  EXPECT_EQ(Ids(list, key), std::vector<std::string>{"77"});
  EXPECT_EQ(Ids(list, "short"), std::vector<std::string>{"78"});
}

TEST(SeenMessageList, ControlCharactersInsideKeysAreSpacesAndDoNotSplitRecords) {
  TempDir dir;
  std::string path = dir.File("Kestrelon.msg");
  // A record of an earlier version that stored a tab as it was.
  WriteAll(path, Blank() + "  4 Bo\tb   1 d 4\r\n");
  {
    SeenMessageList list(path);
    list.Record("Ann\r\nfolded subject", "2026/12/07 09:14", "3");
    list.Record("Eve\x1b\a", "2026/12/07\t09:15", "5");
  }
  EXPECT_EQ(ReadAll(path), Blank() + "  4 Bo\tb   1 d 4\r\n" + " 19 Ann  folded subject  16 2026/12/07 09:14 3\r\n" +
                               "  5 Eve    16 2026/12/07 09:15 5\r\n");
  SeenMessageList list(path);
  EXPECT_TRUE(list.IsSeen("3"));
  EXPECT_TRUE(list.IsReturned("Ann\r\nfolded subject", "2026/12/07 09:14"));
  EXPECT_TRUE(list.IsReturned("Eve\x1b\a", "2026/12/07\t09:15"));
  EXPECT_TRUE(list.IsReturned("Bo\tb", "d"));
  EXPECT_EQ(Ids(list, "Bo b"), std::vector<std::string>{"4"});
}

TEST(SeenMessageList, ShortFirstLineIsRewrittenInsteadOfOverwritingRecords) {
  TempDir dir;
  std::string path = dir.File("Kestrelon.msg");
  WriteAll(path, "12\r\n  1 a   1 b 12\r\n  1 c   1 d 13\r\n");
  {
    SeenMessageList list(path);
    EXPECT_EQ(list.Bookmark(), "12");
    EXPECT_EQ(list.SeenCount(), 2u);
  }
  std::string bookmark = "12" + std::string(510, ' ') + "\r\n";
  EXPECT_EQ(ReadAll(path), bookmark + "  1 a   1 b 12\r\n  1 c   1 d 13\r\n");
  // A file that starts with a record keeps it.
  WriteAll(path, "  1 a   1 b 12\r\n");
  SeenMessageList list(path);
  EXPECT_EQ(list.Bookmark(), "");
  EXPECT_TRUE(list.IsSeen("12"));
}

TEST(SeenMessageList, SecondWriterCannotOpenTheList) {
  TempDir dir;
  std::string path = dir.File("Kestrelon.msg");
  SeenMessageList first(path);
  EXPECT_THROW(SeenMessageList second(path), SeenListError);
}

}  // namespace
}  // namespace kestrelon
