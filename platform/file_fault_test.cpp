#include "platform/file_fault.h"

#include "platform/file.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <filesystem>

using namespace platform;

namespace {

class FileFaultTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = (std::filesystem::temp_directory_path() /
            ("kestrelon-fault-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count())))
               .generic_string();
    std::filesystem::create_directories(dir_);
    ASSERT_TRUE(file_fault::Attach(dir_ + "/fault.ctl"));
  }
  void TearDown() override {
    file_fault::Detach();
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  std::string Path(const std::string& name) const { return dir_ + "/" + name; }

  std::string dir_;
};

}  // namespace

TEST(FileFaultVariable, Parses) {
  file_fault::Plan plan;
  std::string control;
  ASSERT_TRUE(file_fault::ParseVariable("write,truncate;12+;EIO;/tmp/c;Kestrelon.", plan, control));
  EXPECT_EQ(plan.kinds, unsigned{file_fault::kWrite | file_fault::kTruncate});
  EXPECT_EQ(plan.failAt, 12u);
  EXPECT_TRUE(plan.persistent);
  EXPECT_EQ(plan.error, file_fault::Error::Io);
  EXPECT_EQ(control, "/tmp/c");
  EXPECT_EQ(plan.name, "Kestrelon.");
  ASSERT_TRUE(file_fault::ParseVariable("all;3;EDQUOT;c", plan, control));
  EXPECT_EQ(plan.kinds, unsigned{file_fault::kAllKinds});
  EXPECT_FALSE(plan.persistent);
  for (const char* bad : {"write;3;ENOSPC", "read;3;ENOSPC;c", "write;x;ENOSPC;c", "write;3;EPERM;c", "write;3;EIO;"})
    EXPECT_FALSE(file_fault::ParseVariable(bad, plan, control)) << bad;
}

TEST_F(FileFaultTest, TheNthCountedOperationFailsOnce) {
  File f;
  ASSERT_TRUE(f.Open(Path("a.dat"), Access::ReadWrite, kShareRead, Disposition::OpenAlways));
  file_fault::Plan plan;
  plan.kinds = file_fault::kWrite | file_fault::kTruncate;
  plan.failAt = 2;
  ASSERT_TRUE(file_fault::Arm(plan));
  std::string bytes(5000, 'x');
  EXPECT_TRUE(f.Flush());  // not counted
  EXPECT_TRUE(f.WriteAt(0, "abc", 3));
  // A full disk keeps the bytes before the last 4096-byte boundary of the write.
  EXPECT_FALSE(f.WriteAt(100, bytes.data(), bytes.size()));
  uint64_t size = 0;
  ASSERT_TRUE(f.Size(size));
  EXPECT_EQ(size, 4096u);
  EXPECT_TRUE(f.Truncate(3));
  EXPECT_EQ(file_fault::Counted(), 3u);
  EXPECT_EQ(file_fault::Failed(), 1u);

  // Persistent, limited to one name, with EIO: nothing of the write arrives.
  plan.kinds = file_fault::kAllKinds;
  plan.failAt = 1;
  plan.persistent = true;
  plan.error = file_fault::Error::Io;
  plan.name = "b.dat";
  ASSERT_TRUE(file_fault::Arm(plan));
  EXPECT_TRUE(f.WriteAt(0, bytes.data(), bytes.size()));
  File g;
  ASSERT_TRUE(g.Open(Path("b.dat"), Access::ReadWrite, kShareRead, Disposition::OpenAlways));
  EXPECT_FALSE(g.WriteAt(0, bytes.data(), bytes.size()));
  EXPECT_FALSE(g.Flush());
  g.Close();
  EXPECT_FALSE(CopyFileReplace(Path("a.dat"), Path("b.dat")));
  EXPECT_FALSE(RenameFile(Path("b.dat"), Path("c.dat")));
  file_fault::Lift();
  ASSERT_TRUE(g.Open(Path("b.dat"), Access::ReadWrite, kShareRead, Disposition::OpenExisting));
  ASSERT_TRUE(g.Size(size));
  EXPECT_EQ(size, 0u);
  EXPECT_TRUE(g.WriteAt(0, "b", 1));
  EXPECT_EQ(file_fault::Failed(), 4u);
  EXPECT_EQ(file_fault::Counted(), 5u);

  // The count lives in the control file: a second mapping of it goes on from there.
  ASSERT_TRUE(file_fault::Attach(Path("fault.ctl")));
  EXPECT_EQ(file_fault::Counted(), 5u);
  file_fault::Detach();
  EXPECT_FALSE(file_fault::Attached());
  EXPECT_TRUE(g.WriteAt(0, "b", 1));
}
