// Recovery of a damaged single-writer store before it is opened.
#pragma once

#include <string>

namespace kestrelon {

// When the file at `path` exists and fails the consistency check (or cannot be opened),
// puts "<path>.bak" in its place; without a usable backup moves the damaged file to
// "<path>.corrupt" (copying over an older one if need be). Afterwards either a sound
// file, the restored backup, or no file is at `path`.
void RecoverMapFile(const std::string& path);

}  // namespace kestrelon
