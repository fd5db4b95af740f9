#include "platform/time.h"

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
