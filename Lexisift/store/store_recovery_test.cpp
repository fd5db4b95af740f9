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

TEST(StoreRecovery, SoundStoreIsLeftAlone) {
  ScratchDir dir;
  std::string path = MakeStore(dir);
  std::string before = ReadAll(path);
  RecoverMapFile(path);
  EXPECT_EQ(ReadAll(path), before);
  EXPECT_FALSE(platform::FileExists(path + ".corrupt"));
  RecoverMapFile(dir.File("absent.dat"));
  EXPECT_FALSE(platform::FileExists(dir.File("absent.dat")));
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
  EXPECT_EQ(map.HamMails(), 1);
  EXPECT_EQ(map.SpamMails(), 0);
  EXPECT_EQ(map.GetItem("abc").ham, 1);
  EXPECT_EQ(map.GetItem("def").spam, 0);
  EXPECT_FALSE(platform::FileExists(path + ".corrupt"));
}

TEST(StoreRecovery, WithoutBackupTheDamagedStoreBecomesCorrupt) {
  ScratchDir dir;
  std::string path = MakeStore(dir);
  platform::RemoveFile(path + ".bak");
  std::string damaged = Damaged(ReadAll(path));
  WriteAll(path, damaged);
  {
    CPersistMap map(path);
    EXPECT_EQ(map.HamMails(), 0);
    EXPECT_EQ(map.GetItem("abc").ham, 0);
  }
  EXPECT_EQ(ReadAll(path + ".corrupt"), damaged);
  EXPECT_EQ(ReadAll(path).size(), 780000u);
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
  cases.push_back(std::string(780000, '\0'));            // the bucket table alone
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
