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

uint64_t StreamSize(std::istream& in) {
  if (!in) return 0;
  std::streampos here = in.tellg();
  in.seekg(0, std::ios::end);
  std::streampos end = in.tellg();
  if (here != std::streampos(-1)) in.seekg(here);
  if (!in || end == std::streampos(-1)) {
    in.clear();
    return 0;
  }
  return uint64_t(std::streamoff(end));
}

bool ReadAt(std::istream& in, uint64_t offset, void* out, size_t size) {
  if (!in) return false;
  in.seekg(std::streamoff(offset));
  if (!in) return false;
  in.read(static_cast<char*>(out), std::streamsize(size));
  return in.gcount() == std::streamsize(size) && !in.fail();
}

}  // namespace kestrelon::dbx
