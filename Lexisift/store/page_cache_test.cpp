#include "Lexisift/store/page_cache.h"

#include "Lexisift/store/store_test_util.h"

#include <gtest/gtest.h>

using namespace kestrelon;
using namespace kestrelon::testing;

// The cache must always read what the file holds: across page edges, at the end of a
// file that grows by its own writes, and after writes to pages it holds.
TEST(PageCache, ReadsWhatTheFileHolds) {
  ScratchDir dir;
  std::string path = dir.File("f");
  platform::File file;
  ASSERT_TRUE(file.Open(path, platform::Access::ReadWrite, platform::kShareRead, platform::Disposition::OpenAlways));
  std::string model(5000, '\0');
  for (size_t i = 0; i < model.size(); ++i) model[i] = static_cast<char>(i * 7);
  ASSERT_TRUE(file.WriteAt(0, model.data(), model.size()));
  PageCache cache(file);

  auto expectRead = [&](uint64_t offset, size_t size) {
    std::string buffer(size, '?');
    size_t got = 0;
    ASSERT_TRUE(cache.Read(offset, buffer.data(), size, got));
    std::string expected = offset < model.size() ? model.substr(offset, size) : "";
    EXPECT_EQ(buffer.substr(0, got), expected) << offset << "+" << size;
  };
  expectRead(4090, 20);   // across the first page edge
  expectRead(4990, 36);   // short at the end
  expectRead(6000, 13);   // past the end

  // Appends and rewrites through the cache.
  std::string tail(300, 'T');
  ASSERT_TRUE(cache.Write(model.size(), tail.data(), tail.size()));
  model += tail;
  expectRead(4990, 36);
  ASSERT_TRUE(cache.Write(4094, "ABCD", 4));
  model.replace(4094, 4, "ABCD");
  expectRead(4080, 40);
  // A write past the end leaves a gap of zeros.
  ASSERT_TRUE(cache.Write(9000, "Z", 1));
  model.resize(9000, '\0');
  model += "Z";
  expectRead(5200, 4000);
  expectRead(8990, 20);
  EXPECT_EQ(ReadAll(path), model);
}
