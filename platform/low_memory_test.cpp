#include "platform/low_memory.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

TEST(LowMemory, BlocksLieBelowFourGigabytesAndAreUsable) {
  void* blocks[8];
  for (void*& block : blocks) {
    block = platform::AllocateLowMemory(4096);
    ASSERT_NE(block, nullptr);
    EXPECT_LE(reinterpret_cast<uintptr_t>(block) + 4096, uintptr_t{0xFFFFFFFF});
    EXPECT_EQ(static_cast<unsigned char*>(block)[100], 0);
    std::memset(block, 0x5A, 4096);
  }
  for (void* block : blocks) platform::FreeLowMemory(block, 4096);
}
