// Libraries loaded by their Windows name, the way the mail client's own libraries are
// found: "MSOE.DLL", "WAB32.DLL", or a full path read from the registry.
//
// On Windows this is LoadLibrary with the normal search order. Elsewhere a Windows
// name maps to the stand-in shared object of the same base name ("MSOE.DLL" ->
// "MSOE.so", compared without case), looked up in
//   1. each folder of the environment variable KESTRELON_LIBRARY_PATH (':'-separated),
//   2. the folder of the running program,
//   3. the folder of the library or program that holds this code.
// A Windows path ("C:\\Program Files\\...\\wab32.dll") maps by its file name; a POSIX
// path (one with '/') is loaded as it is.
#pragma once

#include <string>

namespace platform {

// Loads the library; nullptr when it cannot be found or loaded. Each successful call
// takes one reference that FreeLoadedLibrary gives back.
void* LoadLibraryByName(const std::string& name);

// Gives back one reference from LoadLibraryByName; a null handle is ignored.
void FreeLoadedLibrary(void* library);

// The stand-in file name a Windows library name maps to on this system ("MSOE.so"); on
// Windows the name itself.
std::string StandInFileName(const std::string& name);

}  // namespace platform
