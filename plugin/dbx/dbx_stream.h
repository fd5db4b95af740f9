// Small helpers for reading the little-endian objects of a message file.
#pragma once

#include "platform/file.h"

#include <cstdint>
#include <istream>

namespace kestrelon::dbx {

inline uint32_t Le32(const unsigned char* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// Current length of the file, or 0 when it cannot be told. The client may grow the file
// at any time, so callers ask again before each bound check.
uint64_t StreamSize(platform::File& in);
uint64_t StreamSize(std::istream& in);

// Reads `size` bytes at `offset`; false when not all of them could be read.
bool ReadAt(platform::File& in, uint64_t offset, void* out, size_t size);
bool ReadAt(std::istream& in, uint64_t offset, void* out, size_t size);

}  // namespace kestrelon::dbx
