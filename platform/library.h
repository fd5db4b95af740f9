// Shared libraries loaded at run time, and the file a piece of code was loaded from.
#pragma once

#include <string>

namespace platform {

// Loads the library at `path` (kept loaded for the life of the process); nullptr on failure.
void* LoadLibraryFile(const std::string& path);

// The address of an exported function, or nullptr.
void* LibraryExport(void* library, const char* name);

// The full path of the executable or library that contains `address`; empty if unknown.
std::string ModulePathOf(const void* address);

// The folder part of a path (without the trailing separator).
std::string FolderOf(const std::string& path);

}  // namespace platform
