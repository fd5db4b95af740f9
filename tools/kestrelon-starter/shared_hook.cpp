#include "tools/kestrelon-starter/shared_hook.h"

#include <cstring>

namespace starter {

HHOOK SharedHookOf(HMODULE helper) {
  auto* base = reinterpret_cast<const BYTE*>(helper);
  auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(nt);
  for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i, ++section) {
    if (std::memcmp(section->Name, ".SHARED", 8) == 0)
      return *reinterpret_cast<const volatile HHOOK*>(base + section->VirtualAddress);
  }
  return nullptr;
}

}  // namespace starter
