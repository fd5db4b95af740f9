// The header block of a message file: its size and the words that have names.
#pragma once

#include <cstdint>
#include <utility>

namespace kestrelon {

constexpr uint32_t kDbxHeaderSize = 0x24BC;
constexpr uint32_t kDbxHeaderWords = kDbxHeaderSize / 4;

// Word indexes the reader uses.
constexpr uint32_t kDbxWordTreeEntries = 0x31;
constexpr uint32_t kDbxWordTreeRoot = 0x39;

// The 31 named words of the header, as (word index, name), in file order.
struct DbxHeaderName {
  uint32_t word;
  const char* name;
};
extern const DbxHeaderName kDbxHeaderNames[31];

// The header block read in one piece, viewed as little-endian words.
struct DbxHeader {
  unsigned char bytes[kDbxHeaderSize];
  uint32_t Word(uint32_t index) const;
};

}  // namespace kestrelon
