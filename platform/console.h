// Standard streams of command-line tools.
#pragma once

namespace platform {

// Makes stdout and stderr write bytes exactly as given (no CR LF translation on Windows).
void UseBinaryStdout();

}  // namespace platform
