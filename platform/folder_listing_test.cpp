#include "platform/folder_listing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

TEST(FolderListing, ListsFilesAndFoldersWithoutDotEntries) {
  namespace fs = std::filesystem;
  fs::path root = fs::temp_directory_path() / ("kestrelon-list-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()));
  fs::remove_all(root);
  fs::create_directories(root / "sub");
  std::ofstream(root / "a.eml") << "x";
  std::ofstream(root / "b.eml") << "y";

  std::vector<platform::FolderEntry> entries;
  ASSERT_TRUE(platform::ListFolder(root.string(), entries));
  ASSERT_EQ(entries.size(), 3u);
  std::sort(entries.begin(), entries.end(), [](auto& a, auto& b) { return a.name < b.name; });
  EXPECT_EQ(entries[0].name, "a.eml");
  EXPECT_FALSE(entries[0].isFolder);
  EXPECT_EQ(entries[2].name, "sub");
  EXPECT_TRUE(entries[2].isFolder);

  EXPECT_FALSE(platform::ListFolder((root / "missing").string(), entries));
  fs::remove_all(root);
}
