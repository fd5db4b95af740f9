#include "platform/registry.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

using namespace platform;

namespace {

const char* kKey = "Software\\KestrelonRegistryTest";

class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
#ifndef _WIN32
    root_ = (std::filesystem::temp_directory_path() /
             ("kestrelon-reg-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count())))
                .generic_string();
    setenv("KESTRELON_REGISTRY", root_.c_str(), 1);
#endif
    RegistryKey::DeleteTree(Hive::CurrentUser, kKey);
  }
  void TearDown() override {
    RegistryKey::DeleteTree(Hive::CurrentUser, kKey);
    if (!root_.empty()) {
      std::error_code ec;
      std::filesystem::remove_all(root_, ec);
    }
  }
  std::string root_;
};

}  // namespace

TEST_F(RegistryTest, ValuesKeepTypeAndBytes) {
  RegistryKey key;
  EXPECT_FALSE(key.Open(Hive::CurrentUser, kKey));
  ASSERT_TRUE(key.Create(Hive::CurrentUser, std::string(kKey) + "\\Sub\\Deeper"));
  ASSERT_TRUE(key.Create(Hive::CurrentUser, std::string(kKey) + "\\Second\\Leaf"));  // deleted with the tree
  ASSERT_TRUE(key.Open(Hive::CurrentUser, std::string(kKey) + "\\Sub", true));
  EXPECT_TRUE(key.WriteString("Path", "C:\\data\\x.map"));
  EXPECT_TRUE(key.WriteString("Expand", "%TEMP%\\y", kRegExpandSz));
  EXPECT_TRUE(key.WriteDword("Number", 0xDEADBEEF));
  EXPECT_TRUE(key.WriteString("", "default"));

  RegistryKey reader;
  ASSERT_TRUE(reader.Open(Hive::CurrentUser, "software\\kestrelonregistrytest\\SUB"));
  RegValue v;
  ASSERT_TRUE(reader.Read("path", v));
  EXPECT_EQ(v.type, kRegSz);
  EXPECT_EQ(v.data, std::string("C:\\data\\x.map\0", 14));
  std::string text;
  EXPECT_TRUE(reader.ReadString("Expand", text));
  EXPECT_EQ(text, "%TEMP%\\y");  // not expanded
  uint32_t n = 0;
  EXPECT_TRUE(reader.ReadDword("NUMBER", n));
  EXPECT_EQ(n, 0xDEADBEEFu);
  EXPECT_FALSE(reader.ReadDword("Path", n));
  EXPECT_FALSE(reader.ReadString("Number", text));
  EXPECT_TRUE(reader.ReadString("", text));
  EXPECT_EQ(text, "default");
  EXPECT_FALSE(reader.Read("Missing", v));
  auto subkeys = reader.SubkeyNames();
  ASSERT_EQ(subkeys.size(), 1u);
  EXPECT_EQ(subkeys[0], "Deeper");  // spelled as created, whatever case it is opened with

  EXPECT_TRUE(key.DeleteValue("Path"));
  EXPECT_FALSE(reader.Read("Path", v));
  EXPECT_TRUE(RegistryKey::DeleteTree(Hive::CurrentUser, kKey));
  EXPECT_FALSE(reader.Open(Hive::CurrentUser, kKey));
}

TEST_F(RegistryTest, ConcurrentWritersLeaveWholeValues) {
  RegistryKey key;
  ASSERT_TRUE(key.Create(Hive::CurrentUser, kKey));
  std::string a(3000, 'a'), b(5000, 'b');
  std::thread writer([&] {
    RegistryKey k;
    ASSERT_TRUE(k.Open(Hive::CurrentUser, kKey, true));
    for (int i = 0; i < 200; ++i) EXPECT_TRUE(k.WriteString("V", i % 2 ? a : b));
  });
  for (int i = 0; i < 200; ++i) {
    std::string text;
    if (key.ReadString("V", text)) {
      EXPECT_TRUE(text == a || text == b);
    }
  }
  writer.join();
}
