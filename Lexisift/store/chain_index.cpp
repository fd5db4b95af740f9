#include "Lexisift/store/chain_index.h"

#include "Lexisift/store/map_format.h"
#include "Lexisift/store/map_item.h"
#include "Lexisift/store/table_scan.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace kestrelon {

using namespace map_format;

namespace {

constexpr size_t kMinCapacity = 4096;
constexpr size_t kBlockSize = 64 << 10;
constexpr size_t kLongestRecord = kRecordHeaderSize + 255 + 1;  // what a length byte can claim
constexpr size_t kQueued = 16;  // records whose entries are fetched ahead

// The record's length byte, key and terminator: what tells one record from another.
void KeepIdentity(std::vector<unsigned char>& out, const unsigned char* record, size_t keyLength) {
  out.assign(record + kKeyLengthOffset, record + kRecordHeaderSize + keyLength + 1);
}

}  // namespace

uint64_t ChainIndex::Hash(std::string_view key) {
  uint64_t h = 1469598103934665603ull;
  for (unsigned char c : key) {
    h ^= c;
    h *= 1099511628211ull;
  }
  // Mix the high bits well: they choose the slot and make the tag.
  h ^= h >> 33;
  h *= 0xff51afd7ed558ccdull;
  h ^= h >> 33;
  h *= 0xc4ceb9fe1a85ec53ull;
  h ^= h >> 33;
  return h;
}

void ChainIndex::Clear() {
  built_ = false;
  size_ = 0;
  entries_.Reset();
  mask_ = 0;
  shift_ = 32;
  count_ = 0;
  tails_.Reset();
  distrusted_.clear();
  lastRecord_ = 0;
  lastKey_.clear();
}

void ChainIndex::Resize(size_t capacity) {
  // Zeroed by the allocator: a large table comes as fresh pages, not written twice.
  ZeroedArray<Entry> old = std::move(entries_);
  entries_.Allocate(capacity);
  mask_ = capacity - 1;
  shift_ = 32;
  for (size_t c = capacity; c > 1; c >>= 1) --shift_;
  count_ = 0;
  for (size_t k = 0; k < old.Size(); ++k)
    if (old[k].offset != 0) Insert(old[k].tag, old[k].offset);
}

void ChainIndex::Insert(uint32_t tag, uint32_t offset) {
  for (size_t i = tag >> shift_;; i = (i + 1) & mask_) {
    if (entries_[i].offset == 0) {
      entries_[i] = Entry{offset, tag};
      ++count_;
      return;
    }
  }
}

void ChainIndex::Add(uint32_t bucket, std::string_view key, uint64_t hash, uint32_t offset) {
  // At most four fifths full, so that a search for an absent key stops soon.
  if ((count_ + 1) * 5 > entries_.Size() * 4) Resize(entries_.Size() * 2);
  Insert(Tag(hash), offset);
  tails_[bucket] = offset;
  Extend(key, offset);
}

void ChainIndex::Extend(std::string_view key, uint32_t offset) {
  lastRecord_ = offset;
  lastKey_.assign(1, static_cast<unsigned char>(key.size()));
  lastKey_.insert(lastKey_.end(), key.begin(), key.end());
  lastKey_.push_back(0);
  size_ = static_cast<uint64_t>(offset) + kRecordHeaderSize + key.size() + 1;
}

void ChainIndex::AddFirstOfKey(platform::File& file, const Pending& record) {
  // A key stored twice in one chain: the walk finds the first. The search for it ends at
  // the free entry that the record takes otherwise.
  size_t i = record.tag >> shift_;
  unsigned char candidate[kRecordHeaderSize + kMaxKeyLength + 1];
  const size_t wanted = kRecordHeaderSize + record.length + 1u;
  for (; entries_[i].offset != 0; i = (i + 1) & mask_) {
    if (entries_[i].tag != record.tag) continue;
    size_t n = 0;
    if (file.ReadAt(entries_[i].offset, candidate, wanted, n) && n == wanted &&
        candidate[kKeyLengthOffset] == record.length &&
        std::memcmp(candidate + kRecordHeaderSize, record.key, record.length) == 0 &&
        candidate[kRecordHeaderSize + record.length] == 0)
      return;
  }
  if ((count_ + 1) * 5 > entries_.Size() * 4) {
    Resize(entries_.Size() * 2);
    Insert(record.tag, record.offset);
    return;
  }
  entries_[i] = Entry{record.offset, record.tag};
  ++count_;
}

bool ChainIndex::Build(platform::File& file, uint64_t size) {
  Clear();
  if (size < kTableSize || size > UINT32_MAX) return false;  // such files are left to the walk
  try {
    tails_.Allocate(kBucketCount);  // 0: the chain is empty, its tail is its slot
    distrusted_.assign((kBucketCount + 63) / 64, 0);
    // Where each trusted chain's next link points: the record the scan must meet there.
    ZeroedArray<uint32_t> expected;
    expected.Allocate(kBucketCount);
    std::vector<uint32_t> heads;  // the buckets whose chain is not empty
    bool whole = ForEachUsedSlot(file, [&](uint32_t b, const unsigned char* slot) {
      expected[b] = ReadU32(slot + kNextOffset);
      if (expected[b] != 0) heads.push_back(b);
      // A slot whose length byte could match a key is compared like a record by the walk.
      if (slot[kKeyLengthOffset] >= 1 && slot[kKeyLengthOffset] <= kMaxKeyLength) Distrust(b);
    });
    if (!whole) {
      Clear();
      return false;
    }
    std::vector<unsigned char> block(static_cast<size_t>(std::min<uint64_t>(kBlockSize, size - kTableSize)) +
                                     kLongestRecord);
    size_t got = 0;
    size_t capacity = kMinCapacity;
    while (capacity * 4 < (size - kTableSize) / 16 * 5) capacity *= 2;
    Resize(capacity);
    built_ = true;  // Find works from here on

    uint64_t blockStart = 0, blockEnd = 0;
    uint64_t q = kTableSize;
    Pending pending[kQueued];
    size_t first = 0, waiting = 0;
    const unsigned char* last = nullptr;  // the last record met, while it is in the block
    auto keepLast = [&] {
      if (last) KeepIdentity(lastKey_, last, last[kKeyLengthOffset]);
      last = nullptr;
    };
    while (q + kRecordHeaderSize <= size) {
      if (q + kLongestRecord > blockEnd && blockEnd < size) {
        keepLast();
        if (!file.ReadAt(q, block.data(), block.size(), got)) break;
        blockStart = q;
        blockEnd = q + got;
      }
      if (q + kRecordHeaderSize > blockEnd) break;
      const unsigned char* r = &block[static_cast<size_t>(q - blockStart)];
      const uint8_t length = r[kKeyLengthOffset];
      const uint64_t end = q + kRecordHeaderSize + length + 1;
      if (end > size || end > blockEnd) break;
      lastRecord_ = static_cast<uint32_t>(q);
      last = r;
      if (length >= 1 && length <= kMaxKeyLength && r[kRecordHeaderSize + length] == 0) {
        std::string_view key(reinterpret_cast<const char*>(r + kRecordHeaderSize), length);
        uint32_t b = Bucket(key);
        if (expected[b] == q && Trusted(b)) {
          // Entries are far apart in memory: each record waits in the queue while the
          // place of its entry is fetched, and records still go in in file order.
          Pending& record = pending[(first + waiting) % kQueued];
          record.offset = static_cast<uint32_t>(q);
          record.tag = Tag(Hash(key));
          record.length = length;
          std::memcpy(record.key, key.data(), length);
          platform::Prefetch(&entries_[record.tag >> shift_]);
          if (++waiting == kQueued) {
            AddFirstOfKey(file, pending[first]);
            first = (first + 1) % kQueued;
            --waiting;
          }
          tails_[b] = static_cast<uint32_t>(q);
          uint32_t next = ReadU32(r + kNextOffset);
          expected[b] = next;
          if (next != 0 && next <= q) Distrust(b);  // a chain pointing back loops
        }
      }
      q = end;
    }
    keepLast();
    for (; waiting > 0; --waiting, first = (first + 1) % kQueued) AddFirstOfKey(file, pending[first]);
    // A link that met no record: into the middle of one, past the end, or at a record
    // of another bucket.
    for (uint32_t b : heads)
      if (expected[b] != 0) Distrust(b);
    size_ = size;
    return true;
  } catch (const std::bad_alloc&) {
    Clear();
    return false;
  }
}

}  // namespace kestrelon
