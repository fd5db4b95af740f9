#include "Lexisift/store/item_counter.h"

#include "platform/file.h"

namespace kestrelon {

int64_t ReadItemCounter(const std::string& path) {
  platform::File file;
  if (!file.Open(path, platform::Access::Read, platform::kShareRead | platform::kShareWrite,
                 platform::Disposition::OpenExisting))
    return 0;
  uint64_t size = 0;
  if (!file.Size(size) || size == 0) return 0;
  unsigned char head[8] = {};
  size_t got = 0;
  if (!file.ReadAt(0, head, sizeof head, got)) return 0;
  uint64_t ham = head[0] | (head[1] << 8) | (head[2] << 16) | (static_cast<uint64_t>(head[3]) << 24);
  uint64_t spam = head[4] | (head[5] << 8) | (head[6] << 16) | (static_cast<uint64_t>(head[7]) << 24);
  return static_cast<int64_t>(ham | (spam << 32));
}

}  // namespace kestrelon
