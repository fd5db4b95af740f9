// The one log of a hook test: the driver, the window programs and the stand-in plug-in
// append lines to the file named by KESTRELON_HOOK_TEST_LOG, each line prefixed with the
// name of the window program it comes from (KESTRELON_HOOK_TEST_PROGRAM).
#pragma once

#include <string>

namespace hook_test {

inline constexpr char kLogVariable[] = "KESTRELON_HOOK_TEST_LOG";
inline constexpr char kProgramVariable[] = "KESTRELON_HOOK_TEST_PROGRAM";
// The hook library the driver set its hook from.
inline constexpr char kHelperVariable[] = "KESTRELON_HOOK_TEST_HELPER";

// Appends "<program> <text>\n" in one write, so lines of several processes do not mix.
void AppendLogLine(const std::string& text);

}  // namespace hook_test
