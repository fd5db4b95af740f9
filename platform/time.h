// Time as the system sees it: a wrapping millisecond tick count and local calendar time.
#pragma once

#include <cstdint>
#include <ctime>

namespace platform {

// Milliseconds since an arbitrary start, wrapping at 2^32 like the Windows tick count.
uint32_t TickCount();

// Milliseconds that passed from `earlier` to `later`, correct across one wrap.
inline uint32_t TicksBetween(uint32_t earlier, uint32_t later) { return later - earlier; }

// The current local time broken down into calendar fields.
std::tm LocalTimeNow();

}  // namespace platform
