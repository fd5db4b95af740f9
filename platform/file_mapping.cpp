// The system-independent part of a file's mapping (File::MapWrittenPart).
#include "platform/file.h"

namespace platform {

bool File::MapWrittenPart() {
  if (!IsOpen() || memory_ || checkLocks_) return false;
  mapWanted_ = true;
  return Remap();
}

bool File::InMapping(uint64_t offset, size_t size) {
  if (offset <= mapSize_ && size <= mapSize_ - offset) return true;
  return Remap() && offset <= mapSize_ && size <= mapSize_ - offset;
}

bool File::MappingFailed() {
  Unmap();
  return false;
}

}  // namespace platform
