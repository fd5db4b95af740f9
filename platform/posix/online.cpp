#include "platform/online.h"

#include <ifaddrs.h>
#include <net/if.h>
#include <sys/socket.h>

#include <cstdlib>
#include <cstring>
#include <mutex>

#include "platform/time.h"

namespace platform {
namespace {

constexpr uint32_t kReuseMs = 10000;

std::mutex g_mutex;
bool g_asked = false;
bool g_connected = false;
uint32_t g_askedAt = 0;

// -1 when KESTRELON_ONLINE is not set to "0" or "1".
int Override() {
  const char* value = std::getenv("KESTRELON_ONLINE");
  if (value == nullptr) return -1;
  if (std::strcmp(value, "0") == 0) return 0;
  if (std::strcmp(value, "1") == 0) return 1;
  return -1;
}

}  // namespace

bool IsConnected() {
  int forced = Override();
  if (forced >= 0) return forced == 1;
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return false;
  bool connected = false;
  for (ifaddrs* entry = list; entry != nullptr && !connected; entry = entry->ifa_next) {
    if (entry->ifa_addr == nullptr) continue;
    int family = entry->ifa_addr->sa_family;
    if (family != AF_INET && family != AF_INET6) continue;
    unsigned flags = entry->ifa_flags;
    connected = (flags & IFF_UP) && (flags & IFF_RUNNING) && !(flags & IFF_LOOPBACK);
  }
  freeifaddrs(list);
  return connected;
}

bool IsConnectedCached() {
  int forced = Override();
  if (forced >= 0) return forced == 1;
  std::lock_guard<std::mutex> lock(g_mutex);
  uint32_t now = TickCount();
  if (!g_asked || TicksBetween(g_askedAt, now) > kReuseMs) {
    g_connected = IsConnected();
    g_askedAt = now;
    g_asked = true;
  }
  return g_connected;
}

void ResetConnectedCache() {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_asked = false;
}

}  // namespace platform
