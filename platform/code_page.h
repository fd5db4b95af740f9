// The two 8-bit code pages of a Windows system: ANSI (Windows-1252 here) and OEM (850).
#pragma once

#include <string>

namespace platform {

// Converts ANSI text to the OEM code page and back, in place: characters that the OEM
// code page lacks come back replaced (by '?' where Windows has no best fit).
void AnsiOemRoundTrip(std::string& text);

}  // namespace platform
