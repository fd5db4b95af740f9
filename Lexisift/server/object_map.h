// The classes this server serves, in the order they are registered.
#pragma once

#include "platform/com.h"

#include <cstddef>

namespace kestrelon {

struct ServedClass {
  const CLSID* clsid;
  const char* progId;        // version-independent; the versioned one adds ".1"
  const char* friendlyName;
  IClassFactory* factory;
};

const ServedClass* ServedClasses(size_t& count);

// {85870EAE-3298-4C1A-9A78-CC31F58A0DB7}
inline constexpr GUID APPID_Lexisift = {0x85870EAE, 0x3298, 0x4C1A, {0x9A, 0x78, 0xCC, 0x31, 0xF5, 0x8A, 0x0D, 0xB7}};

}  // namespace kestrelon
