// Walking the bucket table of a map file. A young store's table is mostly empty slots:
// the walk reads it in blocks and passes over each group of empty slots at one
// comparison, so that it costs little more than the reading.
#pragma once

#include "Lexisift/store/map_format.h"
#include "platform/file.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace kestrelon {

// Calls `visit(bucket, slot)` for each slot of `file`'s bucket table whose 13 bytes are
// not all zero, in bucket order. False when the table cannot be read whole; the slots
// that were read have been visited.
template <typename Visit>
bool ForEachUsedSlot(platform::File& file, Visit&& visit) {
  constexpr size_t kSlot = map_format::kRecordHeaderSize;
  constexpr size_t kGroup = 64 * kSlot;
  constexpr size_t kBlock = 64 * kGroup;
  static const unsigned char kZeros[kGroup] = {};
  std::vector<unsigned char> block(kBlock);
  for (uint64_t at = 0; at < map_format::kTableSize; at += kBlock) {
    const size_t want = static_cast<size_t>(std::min<uint64_t>(kBlock, map_format::kTableSize - at));
    size_t got = 0;
    if (!file.ReadAt(at, block.data(), want, got)) return false;
    got -= got % kSlot;
    for (size_t group = 0; group < got; group += kGroup) {
      const size_t end = std::min(got, group + kGroup);
      if (std::memcmp(&block[group], kZeros, end - group) == 0) continue;
      for (size_t s = group; s < end; s += kSlot)
        if (std::memcmp(&block[s], kZeros, kSlot) != 0) visit(static_cast<uint32_t>((at + s) / kSlot), &block[s]);
    }
    if (got < want) return false;
  }
  return true;
}

}  // namespace kestrelon
