// The 64-bit tick count made of the 32-bit one, for Windows versions without
// GetTickCount64: the state holds the last 32-bit count seen (low half) and how often the
// count had wrapped around by then (high half).
#pragma once

#include <cstdint>

namespace platform {

// The extended count for a 32-bit reading `now` taken after `state` was read; it is also
// the next state. Correct as long as the count is read at least once every 49.7 days.
inline uint64_t NextExtendedTickCount(uint64_t state, uint32_t now) {
  uint64_t wraps = state >> 32;
  if (now < static_cast<uint32_t>(state)) ++wraps;
  return (wraps << 32) | now;
}

}  // namespace platform
