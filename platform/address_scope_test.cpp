#include "platform/address_scope.h"

#include <gtest/gtest.h>

#include <array>
#include <vector>

namespace {

bool Public4(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
  const uint8_t bytes[4] = {a, b, c, d};
  return platform::IsPublicAddress(bytes, 4);
}

bool Public6(std::vector<uint8_t> head, std::vector<uint8_t> tail = {}) {
  uint8_t bytes[16] = {};
  for (size_t i = 0; i < head.size(); ++i) bytes[i] = head[i];
  for (size_t i = 0; i < tail.size(); ++i) bytes[16 - tail.size() + i] = tail[i];
  return platform::IsPublicAddress(bytes, 16);
}

TEST(AddressScope, OnlyAddressesBeyondTheUsersNetworkArePublic) {
  EXPECT_TRUE(Public4(93, 184, 216, 34));
  EXPECT_TRUE(Public4(9, 255, 255, 255));
  EXPECT_TRUE(Public4(11, 0, 0, 0));
  EXPECT_TRUE(Public4(100, 63, 255, 255));
  EXPECT_TRUE(Public4(100, 128, 0, 0));
  EXPECT_TRUE(Public4(172, 15, 255, 255));
  EXPECT_TRUE(Public4(172, 32, 0, 0));
  EXPECT_TRUE(Public4(192, 169, 0, 1));
  EXPECT_TRUE(Public4(223, 255, 255, 255));
  for (auto [a, b, c, d] : std::vector<std::array<uint8_t, 4>>{
           {0, 0, 0, 0}, {0, 1, 2, 3}, {10, 0, 0, 1}, {10, 255, 255, 255}, {100, 64, 0, 0}, {100, 127, 255, 255},
           {127, 0, 0, 1}, {127, 1, 2, 3}, {169, 254, 169, 254}, {172, 16, 0, 1}, {172, 31, 255, 255},
           {192, 168, 1, 1}, {224, 0, 0, 1}, {239, 255, 255, 250}, {240, 0, 0, 1}, {255, 255, 255, 255}}) {
    EXPECT_FALSE(Public4(a, b, c, d)) << int(a) << "." << int(b) << "." << int(c) << "." << int(d);
  }

  EXPECT_TRUE(Public6({0x20, 0x01, 0x0d, 0xb8}, {1}));
  EXPECT_TRUE(Public6({}, {0xFF, 0xFF, 93, 184, 216, 34}));            // ::ffff:93.184.216.34
  EXPECT_TRUE(Public6({0x20, 0x02, 93, 184, 216, 34}));                 // 6to4 of a public address
  EXPECT_FALSE(Public6({}));                                           // ::
  EXPECT_FALSE(Public6({}, {1}));                                      // ::1
  EXPECT_FALSE(Public6({}, {10, 0, 0, 1}));                            // ::10.0.0.1
  EXPECT_FALSE(Public6({}, {0xFF, 0xFF, 127, 0, 0, 1}));               // ::ffff:127.0.0.1
  EXPECT_FALSE(Public6({}, {0xFF, 0xFF, 192, 168, 1, 1}));             // ::ffff:192.168.1.1
  EXPECT_FALSE(Public6({0x00, 0x64, 0xFF, 0x9B}, {169, 254, 169, 254}));  // NAT64 of link-local
  EXPECT_FALSE(Public6({0x20, 0x02, 10, 0, 0, 1}));                     // 6to4 of a private address
  EXPECT_FALSE(Public6({0xFC, 0x00}, {1}));
  EXPECT_FALSE(Public6({0xFD, 0x12}, {1}));
  EXPECT_FALSE(Public6({0xFE, 0x80}, {1}));
  EXPECT_FALSE(Public6({0xFE, 0xC0}, {1}));
  EXPECT_FALSE(Public6({0xFF, 0x02}, {1}));
  EXPECT_FALSE(platform::IsPublicAddress(nullptr, 0));

  const uint8_t loopback[4] = {127, 0, 0, 1};
  const uint8_t other[4] = {127, 0, 0, 2};
  EXPECT_TRUE(platform::IsTestLoopback(loopback, 4));
  EXPECT_FALSE(platform::IsTestLoopback(other, 4));
}

}  // namespace
