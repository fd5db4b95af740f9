#include "platform/code_page.h"

#include <windows.h>

namespace platform {

void AnsiOemRoundTrip(std::string& text) {
  if (text.empty()) return;
  CharToOemBuffA(text.data(), text.data(), static_cast<DWORD>(text.size()));
  OemToCharBuffA(text.data(), text.data(), static_cast<DWORD>(text.size()));
}

}  // namespace platform
