// One item of the token store as lookups return it and SetItem takes it.
#pragma once

#include <cstdint>
#include <cstring>
#include <string_view>

namespace kestrelon {

constexpr size_t kMaxKeyLength = 22;

struct MapItem {
  int32_t ham = 0;
  int32_t spam = 0;
  uint32_t next = 0;
  uint8_t keyLength = 0;
  char key[kMaxKeyLength + 1] = {};

  // Counters 0, next 0, the key copied (at most 22 bytes).
  static MapItem FromKey(std::string_view text) {
    MapItem item;
    size_t n = text.size() < kMaxKeyLength ? text.size() : kMaxKeyLength;
    std::memcpy(item.key, text.data(), n);
    item.keyLength = static_cast<uint8_t>(n);
    return item;
  }

  std::string_view Key() const { return std::string_view(key, keyLength); }
};

}  // namespace kestrelon
