#include "platform/time.h"

#include <time.h>

namespace platform {

uint32_t TickCount() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  uint64_t ms = static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
  return static_cast<uint32_t>(ms);
}

std::tm LocalTimeNow() {
  time_t now = time(nullptr);
  std::tm out{};
  localtime_r(&now, &out);
  return out;
}

}  // namespace platform
