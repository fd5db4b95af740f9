#include "platform/time.h"
#include "platform/win32/xp_runtime/extended_tick_count.h"

#include <gtest/gtest.h>

#include <thread>

TEST(Time, TickCountAdvancesAndDifferenceSurvivesWrap) {
  uint32_t first = platform::TickCount();
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  uint32_t elapsed = platform::TicksBetween(first, platform::TickCount());
  EXPECT_GE(elapsed, 20u);
  EXPECT_LT(elapsed, 60000u);
  EXPECT_EQ(platform::TicksBetween(0xFFFFFFF0u, 0x10u), 0x20u);
}

TEST(Time, LocalTimeIsAPlausibleCalendarDate) {
  std::tm now = platform::LocalTimeNow();
  EXPECT_GE(now.tm_year + 1900, 2020);
  EXPECT_GE(now.tm_mon, 0);
  EXPECT_LE(now.tm_mon, 11);
  EXPECT_GE(now.tm_mday, 1);
  EXPECT_LE(now.tm_mday, 31);
}

TEST(Time, ExtendedTickCountCarriesWrapsIntoTheHighHalf) {
  using platform::NextExtendedTickCount;
  uint64_t state = NextExtendedTickCount(0, 0xFFFFFF00u);
  EXPECT_EQ(state, 0xFFFFFF00u);
  EXPECT_EQ(NextExtendedTickCount(state, 0xFFFFFF00u), state);  // same reading, no wrap
  state = NextExtendedTickCount(state, 0x10u);                   // wrapped
  EXPECT_EQ(state, 0x100000010u);
  EXPECT_EQ(NextExtendedTickCount(state, 0x20u), 0x100000020u);
  EXPECT_EQ(NextExtendedTickCount(state, 0x5u), 0x200000005u);
}
