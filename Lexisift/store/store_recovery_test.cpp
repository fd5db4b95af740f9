#include "Lexisift/store/store_recovery.h"

#include "Lexisift/store/persist_map.h"
#include "Lexisift/store/store_test_util.h"
#include "platform/file.h"

#include <gtest/gtest.h>

using namespace kestrelon;
using namespace kestrelon::testing;

namespace {

// A sound store with one ham mail {abc} and its backup.
std::string MakeStore(const ScratchDir& dir) {
  std::string path = dir.File("k.dat");
  { CPersistMap(path).AddItems(Tokens({{"abc", 1}}), false); }
  return path;
}

std::string Damaged(const std::string& sound) {
  std::string bytes = sound;
  PutI32At(bytes, 780008, 5000000);  // a record pointing past the end
  return bytes;
}

}  // namespace

TEST(StoreRecovery, SoundStoresAreLeftAlone) {
  ScratchDir dir;
  std::string path = MakeStore(dir);
  std::string before = ReadAll(path);
  WriteAll(path + ".bak", Damaged(before));
  {
    CPersistMap map(path);
    EXPECT_EQ(map.RecoveryDone(), Recovery::None);
  }
  EXPECT_EQ(ReadAll(path), before);
  EXPECT_EQ(ReadAll(path + ".bak"), before);  // a session that wrote nothing still backs up
  EXPECT_FALSE(platform::FileExists(path + ".corrupt"));
  // The bucket table alone is a store that has learned no tokens yet, not a damaged one.
  std::string empty = dir.File("empty.dat");
  std::string table(780000, '\0');
  PutI32At(table, 0, 3);
  WriteAll(empty, table);
  EXPECT_EQ(CPersistMap(empty).HamMails(), 3);
  EXPECT_FALSE(platform::FileExists(empty + ".corrupt"));
}

TEST(StoreRecovery, DamagedStoreIsReplacedByItsBackup) {
  ScratchDir dir;
  std::string path = MakeStore(dir);
  std::string sound = ReadAll(path);
  {
    CPersistMap map(path);
    map.AddItems(Tokens({{"def", 1}}), true);  // after the backup was made
  }
  WriteAll(path + ".bak", sound);
  WriteAll(path, Damaged(ReadAll(path)));
  CPersistMap map(path);
  EXPECT_EQ(map.RecoveryDone(), Recovery::RestoredBackup);
  EXPECT_EQ(map.HamMails(), 1);
  EXPECT_EQ(map.SpamMails(), 0);
  EXPECT_EQ(map.GetItem("abc").ham, 1);
  EXPECT_EQ(map.GetItem("def").spam, 0);
  EXPECT_FALSE(platform::FileExists(path + ".corrupt"));
}

TEST(StoreRecovery, WithoutASoundBackupTheDamagedStoreBecomesCorrupt) {
  ScratchDir dir;
  std::string path = MakeStore(dir);
  std::string damaged = Damaged(ReadAll(path));
  for (bool backup : {false, true}) {
    platform::RemoveFile(path + ".corrupt");
    if (backup) WriteAll(path + ".bak", Damaged(damaged));  // checked before it is restored
    else platform::RemoveFile(path + ".bak");
    WriteAll(path, damaged);
    {
      CPersistMap map(path);
      EXPECT_EQ(map.RecoveryDone(), Recovery::MovedAside);
      EXPECT_EQ(map.HamMails(), 0);
      EXPECT_EQ(map.GetItem("abc").ham, 0);
    }
    EXPECT_EQ(ReadAll(path + ".corrupt"), damaged);
    EXPECT_EQ(ReadAll(path).size(), 780000u);
  }
  EXPECT_NE(RecoveryNotice(path, Recovery::MovedAside).find(path + ".corrupt"), std::string::npos);
}

TEST(StoreRecovery, AnUnfinishedLastRecordIsCutOff) {
  ScratchDir dir;
  std::string path = MakeStore(dir);
  std::string sound = ReadAll(path);
  WriteAll(path + ".bak", std::string(780000, '\0'));
  WriteAll(path, sound + std::string("\x05\0\0\0\0\0\0\0\0\0\0\0\x03xy", 15));
  {
    CPersistMap map(path);
    EXPECT_EQ(map.RecoveryDone(), Recovery::None);
    EXPECT_EQ(map.GetItem("abc").ham, 1);
  }
  EXPECT_EQ(ReadAll(path), sound);
  EXPECT_FALSE(platform::FileExists(path + ".corrupt"));
}

TEST(StoreRecovery, ADamagedFileIsNeverBackedUp) {
  ScratchDir dir;
  std::string path = MakeStore(dir);
  std::string backup = ReadAll(path + ".bak");
  {
    CPersistMap map(path);
    map.GetKeyPos("xyz", true);  // links a chain to a record never written
  }
  EXPECT_EQ(ReadAll(path + ".bak"), backup);
  CPersistMap map(path);
  EXPECT_EQ(map.RecoveryDone(), Recovery::RestoredBackup);
  EXPECT_EQ(map.GetItem("abc").ham, 1);
}

TEST(StoreRecovery, AnOlderCorruptFileIsOverwritten) {
  ScratchDir dir;
  std::string path = MakeStore(dir);
  platform::RemoveFile(path + ".bak");
  WriteAll(path + ".corrupt", "old damage");
  std::string damaged = Damaged(ReadAll(path));
  WriteAll(path, damaged);
  RecoverMapFile(path);
  EXPECT_EQ(ReadAll(path + ".corrupt"), damaged);
  EXPECT_FALSE(platform::FileExists(path));
}

TEST(StoreRecovery, HandDamagedFilesNeverCrashTheOpener) {
  ScratchDir dir;
  std::string sound = ReadAll(MakeStore(dir));
  std::vector<std::string> cases;
  cases.push_back(sound.substr(0, 780005));               // truncated record
  cases.push_back(sound.substr(0, 1000));                 // truncated table
  std::string loop = sound;
  PutI32At(loop, 780008, 780000);
  cases.push_back(loop);                                  // a record pointing at itself
  std::string longKey = sound;
  longKey[780012] = static_cast<char>(200);
  cases.push_back(longKey);                               // key length past the end
  for (size_t i = 0; i < cases.size(); ++i) {
    std::string path = dir.File("case" + std::to_string(i) + ".dat");
    WriteAll(path, cases[i]);
    {
      CPersistMap map(path);
      EXPECT_EQ(map.GetItem("abc").ham, 0) << i;
      map.AddItems(Tokens({{"abc", 1}}), true);
      EXPECT_EQ(map.GetItem("abc").spam, 1) << i;
    }
    EXPECT_EQ(ReadAll(path + ".corrupt"), cases[i]) << i;
    platform::File f;
    ASSERT_TRUE(f.Open(path, platform::Access::Read, platform::kShareRead, platform::Disposition::OpenExisting));
    EXPECT_GE(CPersistMap::CheckMapFile(f), 0) << i;
  }
}
