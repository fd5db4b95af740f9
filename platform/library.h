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

// The file name of a shared library called `name` on this system ("name.dll", "name.so").
std::string SharedLibraryFileName(const std::string& name);

// Whether a program may register an in-process server it needs on first use: yes where
// the class registry is the user's own file tree, no where registering is an installation
// step that needs an administrator.
bool MayRegisterServersOnFirstUse();

}  // namespace platform
