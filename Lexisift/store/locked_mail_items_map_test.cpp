#include "Lexisift/store/locked_mail_items_map.h"

#include "Lexisift/store/item_counter.h"
#include "Lexisift/store/markers.h"
#include "Lexisift/store/shared_index_cache.h"
#include "Lexisift/store/store_test_util.h"
#include "platform/file.h"
#include "platform/process.h"
#include "platform/registry.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

using namespace kestrelon;
using namespace kestrelon::testing;

namespace {

class LockedMap : public ::testing::Test {
 protected:
  void SetUp() override {
    UseScratchRegistry(dir_.File("registry"));
    platform::RegistryKey::DeleteTree(platform::Hive::LocalMachine, "Software\\Kestrelon");
  }
  void TearDown() override { platform::RegistryKey::DeleteTree(platform::Hive::LocalMachine, "Software\\Kestrelon"); }

  ScratchDir dir_;
};

unsigned char Mark(const std::string& path) { return static_cast<unsigned char>(ReadAll(path)[12]); }

}  // namespace

TEST_F(LockedMap, StateMarkFollowsOpenAndCleanClose) {
  std::string path = dir_.File("shared.dat");
  {
    CLockedMailItemsMap map(path);
    EXPECT_EQ(Mark(path), 0x00);
    map.AddItems(Tokens({{"abc", 1}}), false);
  }
  EXPECT_EQ(Mark(path), 0xFF);
  EXPECT_FALSE(platform::FileExists(path + ".bak"));
  {
    auto map = CreateLockedPersistMap(path);
    EXPECT_EQ(Mark(path), 0x99);
    EXPECT_EQ(map->HamMails(), 1);
    // A reader that does not take the lock cannot read the counters meanwhile (Wine
    // does not refuse reads of locked bytes, Windows and our POSIX side do).
    if (!platform::RunningUnderWine()) {
      EXPECT_EQ(ReadItemCounter(path), 0);
    }
  }
  EXPECT_EQ(ReadItemCounter(path), 1);
}

TEST_F(LockedMap, UncleanCloseKeepsSoundFileAndEmptiesDamagedOne) {
  std::string path = dir_.File("shared.dat");
  { CLockedMailItemsMap(path).AddItems(Tokens({{"abc", 1}, {"xbc", 2}}), true); }
  std::string bytes = ReadAll(path);
  bytes[12] = static_cast<char>(0x99);
  WriteAll(path, bytes);
  {
    CLockedMailItemsMap map(path);
    EXPECT_EQ(map.SpamMails(), 1);
    EXPECT_EQ(map.GetItem("xbc").spam, 2);
  }
  bytes[12] = static_cast<char>(0x99);
  PutI32At(bytes, 780008, 7777777);
  WriteAll(path, bytes);
  {
    CLockedMailItemsMap map(path);
    EXPECT_EQ(map.SpamMails(), 0);
    EXPECT_EQ(map.GetItem("xbc").spam, 0);
    EXPECT_EQ(Mark(path), 0x00);
  }
  EXPECT_EQ(ReadAll(path).size(), 780000u);
  EXPECT_EQ(Mark(path), 0xFF);

  // A file too short for the state mark, even one ending in 0xFF, starts over too.
  WriteAll(path, std::string(20, '\xff'));
  {
    CLockedMailItemsMap map(path);
    EXPECT_EQ(map.HamMails(), 0);
    map.AddItems(Tokens({{"abc", 1}}), false);
  }
  EXPECT_EQ(ReadItemCounter(path), 1);
}

// An operation killed while it appended leaves the file ending inside a record nothing
// links to: the next opener cuts that record off and keeps what was learned. A link into
// the unfinished record is damage, and the store starts over.
TEST_F(LockedMap, AnUnfinishedLastRecordIsCutOffNotTheStore) {
  std::string path = dir_.File("shared.dat");
  { CLockedMailItemsMap(path).AddItems(Tokens({{"abc", 1}, {"q", 2}}), true); }
  std::string sound = ReadAll(path);
  std::string cut = sound + std::string("\1\0\0\0\0\0\0\0\0\0\0\0\5hel", 16);
  cut[12] = static_cast<char>(0x99);
  WriteAll(path, cut);
  {
    CLockedMailItemsMap map(path);
    EXPECT_EQ(map.SpamMails(), 1);
    EXPECT_EQ(map.GetItem("q").spam, 2);
    map.AddItems(Tokens({{"hello", 1}}), true);
  }
  std::string bytes = ReadAll(path);
  EXPECT_EQ(bytes.size(), sound.size() + 19);
  EXPECT_EQ(bytes.substr(sound.size() + 12, 7), std::string("\5hello\0", 7));

  PutI32At(cut, CPersistMap::Bucket("hello") * 13 + 8, static_cast<int32_t>(sound.size()));
  WriteAll(path, cut);
  {
    CLockedMailItemsMap map(path);
    EXPECT_EQ(map.SpamMails(), 0);
  }
  EXPECT_EQ(ReadAll(path).size(), 780000u);
}

TEST_F(LockedMap, DamageFoundDuringAnOperationIsCheckedAtTheNextOpening) {
  std::string path = dir_.File("shared.dat");
  {
    CLockedMailItemsMap map(path);
    map.AddItems(Tokens({{"xbc", 1}}), true);
    map.AddItems(Tokens({{"abc", 1}}), true);
  }
  // Closed cleanly, but its first record now points at itself (damage from outside,
  // which this process's kept index cannot know of; a new process has none).
  std::string bytes = ReadAll(path);
  PutI32At(bytes, 780008, 780000);
  WriteAll(path, bytes);
  ForgetSharedIndexes();
  {
    CLockedMailItemsMap map(path);
    EXPECT_EQ(map.GetItem("xbc").spam, 1);
    EXPECT_THROW(map.AddItems(Tokens({{"zbc", 1}}), false), StoreError);  // no endless walk
  }
  EXPECT_EQ(Mark(path), 0x99);
  {
    CLockedMailItemsMap map(path);  // checked, found damaged, emptied
    EXPECT_EQ(map.SpamMails(), 0);
    map.AddItems(Tokens({{"zbc", 1}}), false);
  }
  EXPECT_EQ(Mark(path), 0xFF);
  EXPECT_EQ(ReadItemCounter(path), 1);
}

// Every token of a mail is looked up before the first write: a chain that cannot be
// read leaves no part of the mail behind.
TEST_F(LockedMap, AMailWithAnUnreadableChainIsNotHalfLearnt) {
  std::string path = dir_.File("shared.dat");
  { CLockedMailItemsMap(path).AddItems(Tokens({{"abc", 1}}), true); }
  std::string bytes = ReadAll(path);
  PutI32At(bytes, 3856, 990000);  // bucket 296 points past the end; closed cleanly
  WriteAll(path, bytes);
  ForgetSharedIndexes();
  TokenTable mail;
  for (int i = 0; i < 20; ++i) mail.Add("tok" + std::to_string(i));
  mail.Add("xbc");  // bucket 296
  {
    CLockedMailItemsMap map(path);
    EXPECT_THROW(map.AddItems(mail, false), StoreError);
    EXPECT_EQ(map.HamMails(), 0);
  }
  std::string after = ReadAll(path);
  after[12] = bytes[12];
  EXPECT_TRUE(after == bytes);
}

// The index a shared opening keeps for the next one stays right when other writers
// change counters in place, append records, or start the file over in between.
TEST_F(LockedMap, TheIndexKeptBetweenOpeningsFollowsOtherWriters) {
  std::string path = dir_.File("shared.dat");
  { CLockedMailItemsMap(path).AddItems(Tokens({{"abc", 1}, {"q", 1}}), false); }
  { CPersistMap(path).AddItems(Tokens({{"abc", 2}}), false); }  // in place
  {
    CLockedMailItemsMap map(path);
    EXPECT_EQ(map.GetItem("abc").ham, 3);
    map.AddItems(Tokens({{"xbc", 1}}), false);
  }
  { CPersistMap(path).AddItems(Tokens({{"zbc", 5}, {"q", 1}}), true); }  // appended to two chains
  {
    CLockedMailItemsMap map(path);
    EXPECT_EQ(map.GetItem("zbc").spam, 5);
    map.AddItems(Tokens({{"zbc", 1}, {"ybc", 1}}), true);
  }
  { EXPECT_EQ(CLockedMailItemsMap(path).EnumerateItems(false, ""), 5); }
  // Started over: a store that holds only q.
  { CPersistMap(dir_.File("other.dat")).AddItems(Tokens({{"q", 1}}), false); }
  WriteAll(path, ReadAll(dir_.File("other.dat")));
  {
    CLockedMailItemsMap map(path);
    EXPECT_EQ(map.GetItem("abc").ham, 0);
    EXPECT_EQ(map.GetItem("q").ham, 1);
    map.AddItems(Tokens({{"abc", 1}}), false);
  }
  CPersistMap check(path);
  EXPECT_EQ(check.GetItem("abc").ham, 1);
  EXPECT_EQ(check.EnumerateItems(false, ""), 2);
}

TEST_F(LockedMap, SurrogateRedirectsOnlyToAWritableFile) {
  std::string path = dir_.File("shared.dat");
  std::string other = dir_.File("elsewhere.dat");
  WriteAll(other, "");
  WriteAll(path + ".surrogate", other + "\r\n\r\n");
  { CLockedMailItemsMap(path).AddItems(Tokens({{"abc", 1}}), false); }
  EXPECT_FALSE(platform::FileExists(path));
  EXPECT_EQ(ReadItemCounter(other), 1);
  // The single-writer store ignores surrogates.
  { CPersistMap(path).AddItems(Tokens({{"abc", 1}}), true); }
  EXPECT_EQ(ReadItemCounter(path), int64_t{1} << 32);

  WriteAll(path + ".surrogate", dir_.File("missing.dat"));
  { CLockedMailItemsMap(path).AddItems(Tokens({{"abc", 1}}), true); }
  EXPECT_EQ(ReadItemCounter(path), int64_t{2} << 32);
  EXPECT_FALSE(platform::FileExists(dir_.File("missing.dat")));
}

TEST_F(LockedMap, SingleWriterAndSharedStoreExcludeEachOther) {
  std::string path = dir_.File("k.dat");
  {
    CPersistMap single(path);
    try {
      CLockedMailItemsMap shared(path);
      FAIL() << "shared open beside a single writer";
    } catch (const StoreError& e) {
      EXPECT_STREQ(e.what(), kErrLockedOpen);
    }
  }
}

TEST_F(LockedMap, SecondOpenerWaitsForTheFirst) {
  std::string path = dir_.File("shared.dat");
  std::atomic<bool> secondDone{false};
  std::thread second;
  {
    CLockedMailItemsMap first(path);
    second = std::thread([&] {
      CLockedMailItemsMap map(path);
      map.AddItems(Tokens({{"abc", 1}}), false);
      secondDone = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_FALSE(secondDone.load());
    first.AddItems(Tokens({{"abc", 1}}), false);
  }
  second.join();
  CLockedMailItemsMap map(path);
  EXPECT_EQ(map.HamMails(), 2);
  EXPECT_EQ(map.GetItem("abc").ham, 2);
}

TEST_F(LockedMap, RegistryProfileAndThreshold) {
  std::string profile = dir_.File("profile.map");
  {
    CPersistMap p(profile);
    MapItem item = MapItem::FromKey("cheap");
    item.ham = 10;
    item.spam = 30;
    p.SetItem(item);
  }
  std::string path = dir_.File("shared.dat");
  { CLockedMailItemsMap(path).AddItems(Tokens({{"cheap", 1}}), false); }

  platform::RegistryKey key;
  ASSERT_TRUE(key.Create(platform::Hive::LocalMachine, "Software\\Kestrelon"));
  ASSERT_TRUE(key.WriteString("ProfilePath", profile));
  {
    CLockedMailItemsMap map(path);
    ASSERT_TRUE(map.HasProfile());
    EXPECT_EQ(map.SpamThreshold(), 250);
    EXPECT_EQ(map.GetItem("cheap").spam, 30);
  }
  ASSERT_TRUE(key.WriteDword("ProfileIgnore", 1));
  {
    CLockedMailItemsMap map(path);
    EXPECT_EQ(map.HamThreshold(), 1);
    EXPECT_TRUE(map.ProfileActive());  // spamMails 0 is below 1
    EXPECT_EQ(map.GetItem("cheap").ham, 11);
    map.AddItems(Tokens({{"x12", 1}}), true);
  }
  {
    CLockedMailItemsMap map(path);
    EXPECT_FALSE(map.ProfileActive());
    EXPECT_EQ(map.GetItem("cheap").ham, 1);
  }
  // Values of the wrong type or without a terminator mean no profile.
  ASSERT_TRUE(key.WriteDword("ProfilePath", 5));
  { EXPECT_FALSE(CLockedMailItemsMap(path).HasProfile()); }
  ASSERT_TRUE(key.WriteString("ProfilePath", dir_.File(std::string(270, 'p'))));  // over 260 bytes
  { EXPECT_FALSE(CLockedMailItemsMap(path).HasProfile()); }
  ASSERT_TRUE(key.WriteString("ProfilePath", profile, platform::kRegExpandSz));
  { EXPECT_TRUE(CLockedMailItemsMap(path).HasProfile()); }
  ASSERT_TRUE(key.WriteString("ProfilePath", dir_.File("nothing.map")));
  { EXPECT_FALSE(CLockedMailItemsMap(path).HasProfile()); }
}

// An opening that fails after the lock was taken releases it and leaves the state mark
// as it found it.
TEST_F(LockedMap, FailedOpeningUnlocksAndKeepsTheCleanMark) {
  std::string path = dir_.File("shared.dat");
  { CLockedMailItemsMap(path).AddItems(Tokens({{"abc", 1}}), false); }
  std::string profile = dir_.File("profile.map");
  CPersistMap writer(profile);  // denies the read-only open of the profile
  platform::RegistryKey key;
  ASSERT_TRUE(key.Create(platform::Hive::LocalMachine, "Software\\Kestrelon"));
  ASSERT_TRUE(key.WriteString("ProfilePath", profile));
  try {
    CLockedMailItemsMap map(path);
    FAIL() << "opened with an unreadable profile";
  } catch (const StoreError& e) {
    EXPECT_STREQ(e.what(), kErrReadOnlyOpen);
  }
  EXPECT_EQ(Mark(path), 0xFF);
  EXPECT_EQ(ReadItemCounter(path), 1);  // bytes 0 to 7 are not locked
}

TEST_F(LockedMap, MarkersRoundTripWithoutTouchingMailCounters) {
  std::string path = dir_.File("shared.dat");
  { CLockedMailItemsMap(path).AddItems(Tokens({{"abc", 1}}), true); }
  EXPECT_EQ(ReadMark(path, "msg-1"), kMarkNone);
  WriteMark(path, "msg-1", kMarkSpam);
  EXPECT_EQ(ReadMark(path, "msg-1"), kMarkSpam);
  size_t size = ReadAll(path).size();
  WriteMark(path, "msg-1", kMarkHam);
  EXPECT_EQ(ReadMark(path, "msg-1"), kMarkHam);
  EXPECT_EQ(ReadAll(path).size(), size);  // overwritten in place
  WriteMark(path, "msg-1", 7);
  EXPECT_EQ(ReadMark(path, "msg-1"), kMarkNone);
  // The empty identifier is a message id like any other: key "M*".
  EXPECT_EQ(MarkerKey(""), "M*");
  WriteMark(path, "", kMarkSpam);
  EXPECT_EQ(ReadMark(path, ""), kMarkSpam);
  CLockedMailItemsMap map(path);
  EXPECT_EQ(map.SpamMails(), 1);
  EXPECT_EQ(map.HamMails(), 0);
  EXPECT_EQ(map.EnumerateItems(false, ""), 3);
  EXPECT_THROW(MarkerKey(std::string(21, 'i')), StoreError);
  EXPECT_EQ(MarkerKey(std::string(20, 'i')).size(), 22u);
}
