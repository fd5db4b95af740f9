// The fixed layout of a map file: a table of 60000 bucket slots of 13 bytes, then item
// records of 14 + n bytes (ham, spam, next, key length n, key, 0x00), little-endian.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace kestrelon::map_format {

constexpr uint32_t kBucketCount = 60000;
constexpr uint32_t kRecordHeaderSize = 13;
constexpr uint32_t kTableSize = kBucketCount * kRecordHeaderSize;  // 780000
constexpr size_t kNextOffset = 8;
constexpr size_t kKeyLengthOffset = 12;

// The bucket of a key: |S mod 60000| with S the sum of i * byte i, bytes read as signed
// 8-bit values, in signed 32-bit arithmetic.
inline uint32_t Bucket(std::string_view key) {
  int32_t sum = 0;
  for (size_t i = 0; i < key.size(); ++i)
    sum = static_cast<int32_t>(static_cast<uint32_t>(sum) +
                               static_cast<uint32_t>(static_cast<int32_t>(i) * static_cast<signed char>(key[i])));
  int32_t r = sum % static_cast<int32_t>(kBucketCount);
  return static_cast<uint32_t>(r < 0 ? -r : r);
}

inline uint32_t ReadU32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}

inline void PutU32(unsigned char* p, uint32_t v) {
  p[0] = static_cast<unsigned char>(v & 0xFF);
  p[1] = static_cast<unsigned char>((v >> 8) & 0xFF);
  p[2] = static_cast<unsigned char>((v >> 16) & 0xFF);
  p[3] = static_cast<unsigned char>((v >> 24) & 0xFF);
}

}  // namespace kestrelon::map_format
