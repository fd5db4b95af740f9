// Which network addresses lie outside the user's own machine and network: the only ones a
// fetch prompted by a mail (the link scan) may connect to.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

// An IPv4 (4 bytes) or IPv6 (16 bytes) address in network order. False for loopback, private
// (10/8, 172.16/12, 192.168/16), carrier-grade NAT (100.64/10), link-local (169.254/16),
// multicast, unspecified, "this network" (0/8), reserved (240/4, broadcast included), and for
// IPv6 loopback, unspecified, unique-local (fc00::/7), link-local (fe80::/10), site-local
// (fec0::/10), multicast and IPv4-compatible addresses; an IPv4 address carried inside IPv6
// (mapped, NAT64 or 6to4) is judged as that IPv4 address. False for any other length.
inline bool IsPublicAddress(const uint8_t* a, size_t size) {
  if (size == 4) {
    if (a[0] == 0 || a[0] == 10 || a[0] == 127 || a[0] >= 224) return false;
    if (a[0] == 100 && (a[1] & 0xC0) == 64) return false;
    if (a[0] == 169 && a[1] == 254) return false;
    if (a[0] == 172 && (a[1] & 0xF0) == 16) return false;
    if (a[0] == 192 && a[1] == 168) return false;
    return true;
  }
  if (size != 16) return false;
  auto zeros = [a](size_t from, size_t to) {
    for (size_t i = from; i < to; ++i)
      if (a[i] != 0) return false;
    return true;
  };
  if (zeros(0, 10) && a[10] == 0xFF && a[11] == 0xFF) return IsPublicAddress(a + 12, 4);  // ::ffff:a.b.c.d
  if (zeros(0, 12)) return false;  // unspecified, loopback, IPv4-compatible
  if (a[0] == 0x00 && a[1] == 0x64 && a[2] == 0xFF && a[3] == 0x9B && zeros(4, 12))
    return IsPublicAddress(a + 12, 4);  // 64:ff9b::a.b.c.d
  if (a[0] == 0x20 && a[1] == 0x02) return IsPublicAddress(a + 2, 4);  // 2002:aabb:ccdd::
  if ((a[0] & 0xFE) == 0xFC) return false;                              // fc00::/7
  if (a[0] == 0xFE && (a[1] & 0x80) == 0x80) return false;              // fe80::/10, fec0::/10
  if (a[0] == 0xFF) return false;                                       // multicast
  return true;
}

// 127.0.0.1 exactly: the one address that the test-only setting KESTRELON_LINK_SCAN_LOOPBACK
// lets the link scan reach, where the tests' servers listen.
inline bool IsTestLoopback(const uint8_t* a, size_t size) {
  return size == 4 && a[0] == 127 && a[1] == 0 && a[2] == 0 && a[3] == 1;
}

}  // namespace platform
