#include "platform/online.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

void SetOnline(const char* value) {
#ifdef _WIN32
  _putenv_s("KESTRELON_ONLINE", value);
#else
  setenv("KESTRELON_ONLINE", value, 1);
#endif
}

TEST(Online, EnvironmentOverridesTheSystem) {
  SetOnline("0");
  EXPECT_FALSE(platform::IsConnected());
  EXPECT_FALSE(platform::IsConnectedCached());
  SetOnline("1");
  EXPECT_TRUE(platform::IsConnected());
  EXPECT_TRUE(platform::IsConnectedCached());
  SetOnline("");
}

}  // namespace
