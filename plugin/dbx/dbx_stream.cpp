#include "plugin/dbx/dbx_stream.h"

namespace kestrelon::dbx {

uint64_t StreamSize(platform::File& in) {
  uint64_t size = 0;
  return in.Size(size) ? size : 0;
}

bool ReadAt(platform::File& in, uint64_t offset, void* out, size_t size) {
  size_t got = 0;
  return in.ReadAt(offset, out, size, got) && got == size;
}

}  // namespace kestrelon::dbx
