#include "Lexisift/store/mail_items_map.h"

#include "Lexisift/store/store_test_util.h"
#include "platform/file.h"

#include <gtest/gtest.h>

using namespace kestrelon;
using namespace kestrelon::testing;

namespace {

// Writes a map file with the given mail counters and one token.
void MakeMap(const std::string& path, int32_t hamMails, int32_t spamMails, const char* token, int ham, int spam) {
  {
    CPersistMap map(path);
    MapItem item = MapItem::FromKey(token);
    item.ham = ham;
    item.spam = spam;
    map.SetItem(item);
  }
  std::string bytes = ReadAll(path);
  PutI32At(bytes, 0, hamMails);
  PutI32At(bytes, 4, spamMails);
  WriteAll(path, bytes);
  platform::RemoveFile(path + ".bak");
}

}  // namespace

TEST(MailItemsMap, ProfileBesideTheStoreCountsUntil250SpamMails) {
  ScratchDir dir;
  std::string store = dir.File("Kestrelon.dat");
  MakeMap(dir.File("Kestrelon.def"), 40, 60, "cheap", 10, 30);
  MakeMap(store, 0, 249, "cheap", 1, 0);
  std::string profileBefore = ReadAll(dir.File("Kestrelon.def"));

  CMailItemsMap map(store);
  ASSERT_TRUE(map.HasProfile());
  EXPECT_TRUE(map.ProfileActive());
  MapItem item = map.GetItem("cheap");
  EXPECT_EQ(item.ham, 11);
  EXPECT_EQ(item.spam, 30);
  EXPECT_EQ(map.EffectiveHamMails(), 40);
  EXPECT_EQ(map.EffectiveSpamMails(), 309);
  EXPECT_EQ(map.GetItem("absent").spam, 0);

  // Updates read and write the own counts only.
  map.AddItems(Tokens({{"cheap", 1}}), true);
  EXPECT_EQ(map.SpamMails(), 250);
  EXPECT_FALSE(map.ProfileActive());
  item = map.GetItem("cheap");
  EXPECT_EQ(item.ham, 1);
  EXPECT_EQ(item.spam, 1);
  EXPECT_EQ(map.EffectiveSpamMails(), 250);
  EXPECT_EQ(ReadAll(dir.File("Kestrelon.def")), profileBefore);
}

TEST(MailItemsMap, HamThresholdZeroNeverKeepsTheProfileActive) {
  ScratchDir dir;
  MakeMap(dir.File("Kestrelon.def"), 1, 1, "cheap", 10, 30);
  MakeMap(dir.File("Kestrelon.dat"), 0, 300, "cheap", 1, 0);
  CMailItemsMap map(dir.File("Kestrelon.dat"));
  EXPECT_TRUE(map.HasProfile());
  EXPECT_FALSE(map.ProfileActive());
  EXPECT_EQ(map.GetItem("cheap").ham, 1);
}

TEST(MailItemsMap, NoProfileFileNoOverlay) {
  ScratchDir dir;
  CMailItemsMap map(dir.File("Kestrelon.dat"));
  EXPECT_FALSE(map.HasProfile());
  EXPECT_EQ(map.SpamThreshold(), 250);
  EXPECT_EQ(map.HamThreshold(), 0);
}

TEST(MailItemsMap, UnreadableProfileFailsTheStore) {
  ScratchDir dir;
  ASSERT_TRUE(platform::CreateFolder(dir.File("Kestrelon.def")));
  try {
    CMailItemsMap map(dir.File("Kestrelon.dat"));
    FAIL() << "opened";
  } catch (const StoreError& e) {
    EXPECT_STREQ(e.what(), kErrReadOnlyOpen);
  }
}

TEST(MailItemsMap, PathLengthsOutsideThreeTo259AreRefused) {
  ScratchDir dir;
  for (std::string path : {std::string(""), std::string("ab"), dir.Path() + "/" + std::string(300, 'x')}) {
    try {
      CMailItemsMap map(path);
      FAIL() << path;
    } catch (const StoreError& e) {
      EXPECT_STREQ(e.what(), kErrOpen);
    }
  }
  std::string edge = dir.Path() + "/";
  edge += std::string(259 - edge.size() - 4, 'y') + ".dat";
  ASSERT_EQ(edge.size(), 259u);
  { CMailItemsMap map(edge); }
  EXPECT_TRUE(platform::FileExists(edge));
}

TEST(MailItemsMap, ProfilePathReplacesTheLastThreeCharacters) {
  EXPECT_EQ(CMailItemsMap::ProfilePathFor("C:\\x\\Kestrelon.dat"), "C:\\x\\Kestrelon.def");
  EXPECT_EQ(CMailItemsMap::ProfilePathFor("abc"), "def");
}
