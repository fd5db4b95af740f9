#include "platform/file.h"

#include "platform/memory_files.h"
#include "platform/process.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

using namespace platform;

namespace {

class FileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = (std::filesystem::temp_directory_path() /
            ("kestrelon-file-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count())))
               .generic_string();
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  std::string Path(const std::string& name) const { return dir_ + "/" + name; }

  static std::string Contents(File& f) {
    uint64_t size = 0;
    EXPECT_TRUE(f.Size(size));
    std::string bytes(size, '\0');
    size_t got = 0;
    EXPECT_TRUE(f.ReadAt(0, bytes.data(), bytes.size(), got));
    bytes.resize(got);
    return bytes;
  }

  std::string dir_;
};

}  // namespace

TEST_F(FileTest, PositionedReadWriteSizeTruncate) {
  File f;
  EXPECT_FALSE(f.Open(Path("a"), Access::ReadWrite, kShareRead, Disposition::OpenExisting));
  ASSERT_TRUE(f.Open(Path("a"), Access::ReadWrite, kShareRead, Disposition::OpenAlways, true));
  ASSERT_TRUE(f.WriteAt(10, "xyz", 3));
  EXPECT_EQ(Contents(f), std::string("\0\0\0\0\0\0\0\0\0\0xyz", 13));
  char buffer[8];
  size_t got = 99;
  EXPECT_TRUE(f.ReadAt(11, buffer, sizeof buffer, got));
  EXPECT_EQ(got, 2u);
  EXPECT_TRUE(f.ReadAt(100, buffer, sizeof buffer, got));
  EXPECT_EQ(got, 0u);
  ASSERT_TRUE(f.Truncate(4));
  EXPECT_TRUE(f.Flush());
  uint64_t size = 0;
  EXPECT_TRUE(f.Size(size));
  EXPECT_EQ(size, 4u);
  f.Close();
  ASSERT_TRUE(f.Open(Path("a"), Access::ReadWrite, kShareNone, Disposition::CreateAlways));
  EXPECT_TRUE(f.Size(size));
  EXPECT_EQ(size, 0u);
}

// A handle that denies writing to others knows the file's size without asking: it must
// follow its own writes and cuts, and ask again once a writer outside the share modes
// cut the file under its mapping.
TEST_F(FileTest, SoleWriterFollowsItsOwnSizeAndAsksAgainAfterAnOutsideCut) {
  File f;
  ASSERT_TRUE(f.Open(Path("s"), Access::ReadWrite, kShareRead, Disposition::OpenAlways));
  f.SkipLockChecks();
  std::string bytes(3 * 4096 + 10, 'a');
  ASSERT_TRUE(f.WriteAt(0, bytes.data(), bytes.size()));
  ASSERT_TRUE(f.MapWrittenPart());
  ASSERT_TRUE(f.WriteAt(bytes.size() + 2, "tail", 4));  // grows the file, past a gap
  bytes += std::string(2, '\0') + "tail";
  EXPECT_EQ(Contents(f), bytes);
  char buffer[16];
  size_t got = 0;
  ASSERT_TRUE(f.Truncate(5000));
  ASSERT_TRUE(f.ReadAt(4990, buffer, sizeof buffer, got));
  EXPECT_EQ(got, 10u);
  File reader;
  ASSERT_TRUE(reader.Open(Path("s"), Access::Read, kShareRead | kShareWrite, Disposition::OpenExisting));
  EXPECT_EQ(Contents(reader), bytes.substr(0, 5000));
  std::error_code ec;
  std::filesystem::resize_file(Path("s"), 100, ec);  // refused on Windows while mapped
  if (!ec) {
    EXPECT_FALSE(f.ReadAt(4096, buffer, sizeof buffer, got));
    uint64_t size = 0;
    EXPECT_TRUE(f.Size(size));
    EXPECT_EQ(size, 100u);
    EXPECT_TRUE(f.ReadAt(90, buffer, sizeof buffer, got));
    EXPECT_EQ(got, 10u);
  }
}

TEST_F(FileTest, CreateNewMakesOnlyNewFilesAndNeverFollowsALink) {
  File f;
  ASSERT_TRUE(f.Open(Path("n"), Access::ReadWrite, kShareRead, Disposition::CreateNew));
  ASSERT_TRUE(f.WriteAt(0, "new", 3));
  f.Close();
  EXPECT_FALSE(f.Open(Path("n"), Access::ReadWrite, kShareRead, Disposition::CreateNew));
  EXPECT_EQ(f.LastOpenError(), OpenError::Exists);
  ASSERT_TRUE(f.Open(Path("n"), Access::Read, kShareRead, Disposition::OpenExisting));
  EXPECT_EQ(Contents(f), "new");
  f.Close();
  // A link planted at the name, pointing where nothing is yet.
  std::error_code error;
  std::filesystem::create_symlink(Path("elsewhere"), Path("link"), error);
  if (!error) {
    EXPECT_FALSE(f.Open(Path("link"), Access::ReadWrite, kShareRead, Disposition::CreateNew));
    EXPECT_EQ(f.LastOpenError(), OpenError::Exists);
    EXPECT_FALSE(std::filesystem::exists(Path("elsewhere")));
  }
}

TEST_F(FileTest, ShareModesHoldBetweenHandlesOfOneProcess) {
  File writer;
  ASSERT_TRUE(writer.Open(Path("s"), Access::ReadWrite, kShareRead, Disposition::OpenAlways));
  ASSERT_TRUE(writer.WriteAt(0, "data", 4));
  File other;
  // A second writer, and a reader that would not let the writer write, are refused.
  EXPECT_FALSE(other.Open(Path("s"), Access::ReadWrite, kShareRead | kShareWrite, Disposition::OpenAlways));
  EXPECT_FALSE(other.Open(Path("s"), Access::Read, kShareRead, Disposition::OpenExisting));
  EXPECT_EQ(other.LastOpenError(), OpenError::InUse);
  EXPECT_FALSE(other.Open(Path("absent"), Access::Read, kShareRead, Disposition::OpenExisting));
  EXPECT_EQ(other.LastOpenError(), OpenError::NotFound);
  // A refused create-always open does not truncate.
  EXPECT_FALSE(other.Open(Path("s"), Access::ReadWrite, kShareRead | kShareWrite, Disposition::CreateAlways));
  EXPECT_EQ(Contents(writer), "data");
  // A reader sharing read and write is let in.
  ASSERT_TRUE(other.Open(Path("s"), Access::Read, kShareRead | kShareWrite, Disposition::OpenExisting));
  EXPECT_EQ(Contents(other), "data");
  // Nobody may open for writing while that reader denies... nothing: it shares writing.
  other.Close();

  File exclusive;
  ASSERT_TRUE(exclusive.Open(Path("x"), Access::Read, kShareNone, Disposition::OpenAlways));
  EXPECT_FALSE(other.Open(Path("x"), Access::Read, kShareRead | kShareWrite, Disposition::OpenExisting));
  EXPECT_FALSE(other.OpenWaiting(Path("x"), Access::Read, kShareRead | kShareWrite, Disposition::OpenExisting, false, 30));
  EXPECT_EQ(other.LastOpenError(), OpenError::InUse);
  // A waiting open gets in once the holder lets go.
  std::thread closer([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    exclusive.Close();
  });
  EXPECT_TRUE(other.OpenWaiting(Path("x"), Access::Read, kShareRead | kShareWrite, Disposition::OpenExisting, false,
                                60000));
  closer.join();
}

TEST_F(FileTest, LockedBytesRefuseOtherHandlesAndLockWaits) {
  File holder, reader;
  ASSERT_TRUE(holder.Open(Path("l"), Access::ReadWrite, kShareRead | kShareWrite, Disposition::OpenAlways));
  ASSERT_TRUE(holder.WriteAt(0, "0123456789", 10));
  ASSERT_TRUE(reader.Open(Path("l"), Access::ReadWrite, kShareRead | kShareWrite, Disposition::OpenExisting));
  ASSERT_TRUE(holder.Lock(0, 8));
  char buffer[10];
  size_t got = 0;
  EXPECT_TRUE(holder.ReadAt(0, buffer, 10, got));
  EXPECT_EQ(got, 10u);
  if (!RunningUnderWine()) {
    EXPECT_FALSE(reader.ReadAt(4, buffer, 2, got));
    EXPECT_FALSE(reader.WriteAt(7, "z", 1));
  }
  EXPECT_TRUE(reader.ReadAt(8, buffer, 2, got));
  EXPECT_EQ(reader.TryLock(4, 8), LockResult::Busy);
  EXPECT_EQ(reader.LockWithin(0, 1, 30), LockResult::Busy);
  EXPECT_EQ(reader.TryLock(8, 2), LockResult::Locked);
  EXPECT_TRUE(reader.Unlock(8, 2));

  std::atomic<bool> locked{false};
  std::thread waiter([&] {
    EXPECT_TRUE(reader.Lock(0, 8));
    locked = true;
    EXPECT_TRUE(reader.Unlock(0, 8));
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_FALSE(locked.load());
  EXPECT_TRUE(holder.Unlock(0, 8));
  waiter.join();
  EXPECT_TRUE(locked.load());
  EXPECT_TRUE(reader.ReadAt(0, buffer, 8, got));
}

TEST_F(FileTest, CopyRenameRemoveRespectOpenFiles) {
  {
    File f;
    ASSERT_TRUE(f.Open(Path("src"), Access::ReadWrite, kShareRead, Disposition::CreateAlways));
    ASSERT_TRUE(f.WriteAt(0, "source", 6));
  }
  {
    File f;
    ASSERT_TRUE(f.Open(Path("dst"), Access::ReadWrite, kShareRead, Disposition::CreateAlways));
    ASSERT_TRUE(f.WriteAt(0, "older destination", 17));
    EXPECT_FALSE(CopyFileReplace(Path("src"), Path("dst")));
    EXPECT_FALSE(RemoveFile(Path("dst")));
    EXPECT_FALSE(RenameFile(Path("dst"), Path("moved")));
  }
  EXPECT_TRUE(CopyFileReplace(Path("src"), Path("dst")));
  File f;
  ASSERT_TRUE(f.Open(Path("dst"), Access::Read, kShareRead, Disposition::OpenExisting));
  EXPECT_EQ(Contents(f), "source");
  f.Close();
  EXPECT_FALSE(CopyFileReplace(Path("absent"), Path("dst")));
  EXPECT_FALSE(RenameFile(Path("src"), Path("dst")));  // the target exists
  EXPECT_TRUE(RenameFile(Path("src"), Path("moved")));
  EXPECT_FALSE(FileExists(Path("src")));
  EXPECT_TRUE(FileIsReadWritable(Path("moved")));
  EXPECT_TRUE(FileIsReadable(Path("moved")));
  EXPECT_TRUE(RemoveFile(Path("moved")));
  EXPECT_FALSE(FileExists(Path("moved")));
  EXPECT_TRUE(CreateFolder(Path("folder")));
  EXPECT_TRUE(CreateFolder(Path("folder")));
  EXPECT_TRUE(FileExists(Path("folder")));
  EXPECT_FALSE(FileIsReadWritable(Path("folder")));
  EXPECT_FALSE(FileIsReadable(Path("folder")));
  EXPECT_FALSE(FileIsReadable(Path("absent")));
  EXPECT_FALSE(f.Open(Path("folder"), Access::Read, kShareRead, Disposition::OpenExisting));
}

TEST_F(FileTest, LastWriteTime) {
  File f;
  ASSERT_TRUE(f.Open(Path("one"), Access::ReadWrite, kShareRead, Disposition::CreateAlways));
  f.Close();
  uint64_t t = 0;
  ASSERT_TRUE(LastWriteTime(Path("one"), t));
  // After 2020-01-01 (132223104000000000) and before 2200.
  EXPECT_GT(t, 132223104000000000ull);
  EXPECT_LT(t, 195000000000000000ull);
  EXPECT_FALSE(LastWriteTime(Path("absent"), t));
}

TEST_F(FileTest, FilesOfAFolderKeptInMemory) {
  const std::string folder = Path("memory");  // never made on disk
  KeepFolderInMemory(folder);
  const std::string a = folder + "/a.dat", b = folder + "\\b.dat";
  File f;
  EXPECT_FALSE(f.Open(a, Access::Read, kShareRead, Disposition::OpenExisting));
  EXPECT_EQ(f.LastOpenError(), OpenError::NotFound);
  ASSERT_TRUE(f.Open(a, Access::ReadWrite, kShareRead, Disposition::OpenAlways));
  ASSERT_TRUE(f.WriteAt(3, "xyz", 3));
  EXPECT_EQ(Contents(f), std::string("\0\0\0xyz", 6));
  ASSERT_TRUE(f.Truncate(4));
  EXPECT_TRUE(f.Flush());
  EXPECT_EQ(f.TryLock(0, 8), LockResult::Locked);
  f.Close();
  EXPECT_TRUE(FileExists(a));
  EXPECT_TRUE(CopyFileReplace(a, b));
  EXPECT_FALSE(RenameFile(a, b));  // the target exists
  EXPECT_TRUE(RemoveFile(b));
  EXPECT_TRUE(RenameFile(a, b));
  EXPECT_FALSE(FileExists(a));
  File g;
  ASSERT_TRUE(g.Open(b, Access::Read, kShareRead, Disposition::OpenExisting));
  EXPECT_EQ(Contents(g), std::string("\0\0\0x", 4));
  EXPECT_FALSE(g.WriteAt(0, "r", 1));  // opened for reading
  EXPECT_FALSE(std::filesystem::exists(folder));
}

TEST_F(FileTest, MappedFileFollowsWritesAndGrowthAndFailsWhenCutByAnother) {
  File f;
  ASSERT_TRUE(f.Open(Path("m"), Access::ReadWrite, kShareRead | kShareWrite, Disposition::OpenAlways));
  EXPECT_FALSE(f.MapWrittenPart());  // only for a handle that skips lock checks
  f.SkipLockChecks();
  std::string bytes(3 * 4096 + 10, 'a');
  ASSERT_TRUE(f.WriteAt(0, bytes.data(), bytes.size()));
  ASSERT_TRUE(f.MapWrittenPart());
  ASSERT_TRUE(f.WriteAt(4094, "xyzw", 4));  // in place, across a page boundary
  ASSERT_TRUE(f.WriteAt(bytes.size(), "tail", 4));  // grows the file
  bytes.replace(4094, 4, "xyzw");
  bytes += "tail";
  EXPECT_EQ(Contents(f), bytes);
  File other;
  ASSERT_TRUE(other.Open(Path("m"), Access::ReadWrite, kShareRead | kShareWrite, Disposition::OpenExisting));
  EXPECT_EQ(Contents(other), bytes);
  char buffer[16];
  size_t got = 0;
  EXPECT_TRUE(f.ReadAt(bytes.size() - 2, buffer, sizeof buffer, got));
  EXPECT_EQ(got, 2u);
  ASSERT_TRUE(f.Truncate(5000));
  ASSERT_TRUE(f.ReadAt(4990, buffer, sizeof buffer, got));
  EXPECT_EQ(std::string(buffer, got), bytes.substr(4990, 10));
  ASSERT_TRUE(f.ReadAt(0, buffer, 4, got));  // mapped again
  // Cut by another handle under the mapping: the access faults, and fails as a call would.
  // Windows refuses to cut a mapped file.
  if (other.Truncate(0)) {
    EXPECT_FALSE(f.ReadAt(4096, buffer, sizeof buffer, got));
    EXPECT_TRUE(f.WriteAt(0, "c", 1));  // by a write call: the file is empty now
    EXPECT_TRUE(f.ReadAt(0, buffer, sizeof buffer, got));
    EXPECT_EQ(got, 1u);
  } else {
    ASSERT_TRUE(f.WriteAt(0, "c", 1));
  }
  f.Close();
  EXPECT_EQ(Contents(other).substr(0, 1), "c");
}
