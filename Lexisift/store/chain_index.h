// ChainIndex: where each key of a map file is, without walking its chain through the file.
//
// The file's own hash puts many keys into few of its buckets, so the chains grow with the
// store and every lookup that walks one reads dozens of records. The index maps a strong
// hash of each key to its record's offset and keeps each chain's tail, so a lookup reads
// one record at most. It is built by one sequential read of the record area and kept
// exact by the map's own writes.
//
// It answers only for chains it can vouch for: a chain is trusted when every link of it
// leads forward to a record that the sequential read found, whose key belongs to that
// chain's bucket. Damaged chains (and a chain linked to the end of the file by a lookup
// that creates) are left to the walk, which then fails or succeeds exactly as it always
// did. Within a trusted chain the first record of a key wins, as in the walk.
#pragma once

#include "Lexisift/store/map_format.h"
#include "Lexisift/store/map_item.h"
#include "Lexisift/store/zeroed_array.h"
#include "platform/file.h"
#include "platform/prefetch.h"

#include <cstdint>
#include <string_view>
#include <vector>

namespace kestrelon {

class ChainIndex {
 public:
  // Reads the bucket table and the records of `file`, `size` bytes long. False when the
  // file cannot be read or memory runs out; the index is then empty and not built.
  bool Build(platform::File& file, uint64_t size);
  bool Built() const { return built_; }
  void Clear();

  // The size of the file as the index knows it: built at, then grown by Add.
  uint64_t Size() const { return size_; }

  bool Trusted(uint32_t bucket) const { return built_ && !(distrusted_[bucket / 64] >> (bucket % 64) & 1); }
  void Distrust(uint32_t bucket) { distrusted_[bucket / 64] |= uint64_t{1} << (bucket % 64); }

  // The last record of a trusted chain, or its slot's offset when the chain is empty.
  uint32_t Tail(uint32_t bucket) const {
    return tails_[bucket] ? tails_[bucket] : bucket * map_format::kRecordHeaderSize;
  }

  // Calls `candidate(offset)` for each record whose hash matches, until it returns true;
  // true when one did.
  template <typename Fn>
  bool Find(uint64_t hash, Fn&& candidate) const {
    if (!built_) return false;
    uint32_t tag = Tag(hash);
    for (size_t i = tag >> shift_;; i = (i + 1) & mask_) {
      const Entry& e = entries_[i];
      if (e.offset == 0) return false;
      if (e.tag == tag && candidate(e.offset)) return true;
    }
  }

  // Asks the processor for the place where Find starts looking for `hash`, ahead of it.
  void Prefetch(uint64_t hash) const {
    if (built_) platform::Prefetch(&entries_[Tag(hash) >> shift_]);
  }
  // The first record Find would try for `hash`, 0 when none.
  uint32_t FirstCandidate(uint64_t hash) const {
    uint32_t first = 0;
    Find(hash, [&](uint32_t offset) {
      first = offset;
      return true;
    });
    return first;
  }

  // The record of `key` appended at `offset`, linked at the tail of `bucket`'s chain
  // (which must be trusted). Raises std::bad_alloc when the table cannot grow.
  void Add(uint32_t bucket, std::string_view key, uint64_t hash, uint32_t offset);
  // A record appended to a chain the index does not vouch for: only the end moves.
  void Extend(std::string_view key, uint32_t offset);

  // The record that ends where the index ends, and its length byte and key: a file that
  // still holds them there, at the same size, has not been rebuilt since.
  uint32_t LastRecord() const { return lastRecord_; }
  const std::vector<unsigned char>& LastRecordKey() const { return lastKey_; }

  static uint64_t Hash(std::string_view key);

 private:
  struct Entry {
    uint32_t offset = 0;  // 0: empty
    uint32_t tag = 0;
  };
  static uint32_t Tag(uint64_t hash) { return static_cast<uint32_t>(hash >> 32); }
  void Resize(size_t capacity);
  void Insert(uint32_t tag, uint32_t offset);
  // Enters the record at `offset` unless an entry with the same tag names a record that
  // holds the same key: an earlier record of its chain, when records go in in file order.
  void InsertFirstOfKey(platform::File& file, uint32_t tag, uint32_t offset);

  bool built_ = false;
  uint64_t size_ = 0;
  ZeroedArray<Entry> entries_;
  size_t mask_ = 0;
  unsigned shift_ = 32;
  size_t count_ = 0;
  ZeroedArray<uint32_t> tails_;  // of every bucket; 0 for an empty chain
  std::vector<uint64_t> distrusted_;
  uint32_t lastRecord_ = 0;
  std::vector<unsigned char> lastKey_;
};

}  // namespace kestrelon
