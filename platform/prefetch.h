// Asks the processor to fetch memory that will be read soon. A hint: it never faults, and
// compilers without the builtin make it nothing.
#pragma once

namespace platform {

inline void Prefetch(const void* address) {
#if defined(__GNUC__) || defined(__clang__)
  __builtin_prefetch(address);
#else
  (void)address;
#endif
}

}  // namespace platform
