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
// Build enters the records sorted by the top bits of their tag, which choose the place of
// their entry: one part after the other fills its own short stretch of the table, and the
// table is written from one end to the other. Entered in file order, every record would
// wait for a line of memory of its own, anywhere in a table of megabytes.
constexpr unsigned kPartBits = 8;
constexpr size_t kParts = size_t{1} << kPartBits;
constexpr size_t kFetchedAhead = 8;  // entries whose place is asked for ahead of their insert

// The record's length byte, key and terminator: what tells one record from another.
void KeepIdentity(std::vector<unsigned char>& out, const unsigned char* record, size_t keyLength) {
  out.assign(record + kKeyLengthOffset, record + kRecordHeaderSize + keyLength + 1);
}

template <typename Word>
Word Load(const char* at) {
  Word w;
  std::memcpy(&w, at, sizeof w);
  return w;
}

// Whether the records at `a` and `b` hold the same length byte, key and terminator.
bool SameKey(platform::File& file, uint32_t a, uint32_t b) {
  unsigned char ra[kRecordHeaderSize + kMaxKeyLength + 1], rb[sizeof ra];
  size_t na = 0, nb = 0;
  if (!file.ReadAt(a, ra, sizeof ra, na) || !file.ReadAt(b, rb, sizeof rb, nb)) return false;
  if (na <= kKeyLengthOffset) return false;
  const size_t n = kRecordHeaderSize + ra[kKeyLengthOffset] + 1u;
  return n <= na && n <= nb && std::memcmp(ra + kKeyLengthOffset, rb + kKeyLengthOffset, n - kKeyLengthOffset) == 0;
}

}  // namespace

uint64_t ChainIndex::Hash(std::string_view key) {
  // Eight bytes at a time: a key has three words at most, where a byte at a time would be
  // a chain of up to 22 multiplications. Each step is a bijection of the state, mixed down
  // so that every byte reaches every bit. A short end is read with whole loads that
  // overlap, not copied byte by byte; the length, in the start value, tells them apart.
  constexpr uint64_t kMultiplier = 0x9e3779b97f4a7c15ull;
  const char* p = key.data();
  const size_t n = key.size();
  uint64_t h = n * kMultiplier;
  auto mix = [&h](uint64_t word) {
    h = (h ^ word) * kMultiplier;
    h ^= h >> 29;
  };
  if (n >= 8) {
    for (size_t i = 0; i + 8 < n; i += 8) mix(Load<uint64_t>(p + i));
    mix(Load<uint64_t>(p + n - 8));
  } else if (n >= 4) {
    mix(Load<uint32_t>(p) | uint64_t{Load<uint32_t>(p + n - 4)} << 32);
  } else if (n > 0) {
    const auto* b = reinterpret_cast<const unsigned char*>(p);
    mix(b[0] | b[n / 2] << 8 | b[n - 1] << 16);
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

void ChainIndex::InsertFirstOfKey(platform::File& file, uint32_t tag, uint32_t offset) {
  // A key stored twice in one chain: the walk finds the first. The search for it ends at
  // the free entry that the record takes otherwise.
  size_t i = tag >> shift_;
  for (; entries_[i].offset != 0; i = (i + 1) & mask_)
    if (entries_[i].tag == tag && SameKey(file, entries_[i].offset, offset)) return;
  entries_[i] = Entry{offset, tag};
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
    // Room for the records the file could hold at 16 bytes each. Until they go in, the
    // table holds the records of trusted chains with their tags, in file order: a record
    // takes 15 bytes at least, so they always fit.
    const uint64_t estimate = (size - kTableSize) / 16;
    size_t capacity = kMinCapacity;
    while (capacity * 4 < estimate * 5) capacity *= 2;
    Resize(capacity);
    size_t count = 0;
    std::vector<size_t> partStart(kParts + 1, 0);  // how many records each part has, then where it starts
    built_ = true;  // Trusted answers from here on

    uint64_t blockStart = 0, blockEnd = 0;
    uint64_t q = kTableSize;
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
          const uint32_t tag = Tag(Hash(key));
          if (count == entries_.Size()) throw std::bad_alloc();  // no room; cannot happen, see above
          entries_[count++] = Entry{static_cast<uint32_t>(q), tag};
          ++partStart[(tag >> (32 - kPartBits)) + 1];
          tails_[b] = static_cast<uint32_t>(q);
          uint32_t next = ReadU32(r + kNextOffset);
          expected[b] = next;
          if (next != 0 && next <= q) Distrust(b);  // a chain pointing back loops
        }
      }
      q = end;
    }
    keepLast();
    // Sorted by part; within a part in file order, so that of a key stored twice in its
    // chain the first record goes in.
    for (size_t p = 0; p < kParts; ++p) partStart[p + 1] += partStart[p];
    ZeroedArray<Entry> sorted;
    sorted.Allocate(count + 1);  // never empty: calloc may refuse to give nothing
    for (size_t k = 0; k < count; ++k) sorted[partStart[entries_[k].tag >> (32 - kPartBits)]++] = entries_[k];
    std::fill(entries_.Data(), entries_.Data() + count, Entry{});
    while (count * 5 > capacity * 4) capacity *= 2;
    if (capacity != entries_.Size()) Resize(capacity);
    for (size_t k = 0; k < count; ++k) {
      if (k + kFetchedAhead < count) platform::Prefetch(&entries_[sorted[k + kFetchedAhead].tag >> shift_]);
      InsertFirstOfKey(file, sorted[k].tag, sorted[k].offset);
    }
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
