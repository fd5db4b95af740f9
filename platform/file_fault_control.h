// The system side of the file layer's fault injection (file_fault.h): the environment
// variable and the control file that all modules of a process map.
#pragma once

#include <cstddef>
#include <string>

namespace platform::file_fault {

inline constexpr const char* kVariable = "KESTRELON_FILE_FAULT";

// The variable's value; empty when it is not set.
std::string ReadVariable();
// Sets the variable, or unsets it for an empty value.
void WriteVariable(const std::string& value);

// Maps the first `size` bytes of `path` for reading and writing, shared with every other
// mapping of the file. A file that does not exist yet, or is shorter, first gets `initial`
// (`size` bytes), while other openers wait. Nothing when it cannot be mapped.
void* MapControlFile(const std::string& path, const void* initial, size_t size);
void UnmapControlFile(void* view, size_t size);

}  // namespace platform::file_fault
