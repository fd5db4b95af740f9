#include "Lexisift/store/persist_map.h"

#include "Lexisift/store/store_recovery.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <unordered_map>
#include <vector>

namespace kestrelon {
namespace {

constexpr size_t kMaxRecordSize = CPersistMap::kRecordHeaderSize + kMaxKeyLength + 1;

int32_t ReadI32(const unsigned char* p) {
  return static_cast<int32_t>(p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24));
}

uint32_t ReadU32(const unsigned char* p) { return static_cast<uint32_t>(ReadI32(p)); }

void PutU32(unsigned char* p, uint32_t v) {
  p[0] = static_cast<unsigned char>(v & 0xFF);
  p[1] = static_cast<unsigned char>((v >> 8) & 0xFF);
  p[2] = static_cast<unsigned char>((v >> 16) & 0xFF);
  p[3] = static_cast<unsigned char>((v >> 24) & 0xFF);
}

// Counters wrap in 32 bits instead of overflowing.
int32_t Plus(int32_t x, uint32_t n) { return static_cast<int32_t>(static_cast<uint32_t>(x) + n); }

// x reduced by n, stopping at 0.
int32_t Reduce(int32_t x, uint32_t n) {
  int64_t wide = static_cast<int64_t>(x) - static_cast<int64_t>(n);
  return static_cast<int64_t>(x) > static_cast<int64_t>(static_cast<int32_t>(n)) ? static_cast<int32_t>(wide) : 0;
}

int32_t Decrement(int32_t x) { return x > 1 ? x - 1 : 0; }

void CheckKey(std::string_view key) {
  if (key.empty() || key.size() > kMaxKeyLength) throw StoreError(kErrKeyLength);
}

// Record header, key and terminator as stored.
size_t EncodeRecord(const MapItem& item, unsigned char* out) {
  PutU32(out, static_cast<uint32_t>(item.ham));
  PutU32(out + 4, static_cast<uint32_t>(item.spam));
  PutU32(out + 8, item.next);
  out[12] = item.keyLength;
  std::memcpy(out + 13, item.key, item.keyLength);
  out[13 + item.keyLength] = 0;
  return CPersistMap::kRecordHeaderSize + item.keyLength + 1u;
}

}  // namespace

CPersistMap::CPersistMap(Unopened) {}

CPersistMap::CPersistMap(const std::string& path) : fileName_(path) {
  if (platform::FileExists(path)) RecoverMapFile(path);
  if (!file_.Open(path, platform::Access::ReadWrite, platform::kShareRead, platform::Disposition::OpenAlways, true))
    throw StoreError(kErrOpen);
  file_.SkipLockChecks();  // nobody else may write or lock the file while it is open here
  uint64_t size = 0;
  if (!file_.Size(size)) throw StoreError(kErrSize);
  if (size == 0) {
    if (!WriteEmptyTable()) throw StoreError(kErrOpen);
  } else {
    ReadMailCounters();
  }
}

CPersistMap::~CPersistMap() {
  file_.Close();
  if (!fileName_.empty()) platform::CopyFileReplace(fileName_, fileName_ + ".bak");
}

bool CPersistMap::WriteEmptyTable() {
  std::vector<unsigned char> zeros(kTableSize, 0);
  hamMails_ = spamMails_ = 0;
  cache_.Clear();
  return file_.WriteAt(0, zeros.data(), zeros.size());
}

void CPersistMap::ReadMailCounters() {
  unsigned char head[8] = {};
  size_t got = 0;
  if (file_.ReadAt(0, head, sizeof head, got) && got == sizeof head) {
    hamMails_ = ReadI32(head);
    spamMails_ = ReadI32(head + 4);
  }
}

bool CPersistMap::FileSize(uint64_t& size) { return file_.Size(size); }

uint32_t CPersistMap::Bucket(std::string_view key) {
  int32_t sum = 0;
  for (size_t i = 0; i < key.size(); ++i)
    sum = static_cast<int32_t>(static_cast<uint32_t>(sum) +
                               static_cast<uint32_t>(static_cast<int32_t>(i) * static_cast<signed char>(key[i])));
  int32_t r = sum % static_cast<int32_t>(kBucketCount);
  return static_cast<uint32_t>(r < 0 ? -r : r);
}

CPersistMap::Place CPersistMap::Locate(std::string_view key) {
  if (!file_.IsOpen()) throw StoreError(kErrFileNotFound);
  CheckKey(key);
  uint64_t p = static_cast<uint64_t>(Bucket(key)) * kRecordHeaderSize;
  // One read takes the header and, when it is the key's record, the key with it.
  unsigned char buffer[kMaxRecordSize];
  for (;;) {
    size_t got = 0;
    if (!cache_.Read(p, buffer, sizeof buffer, got) || got < kRecordHeaderSize) Fail(kErrRead);
    uint32_t next = ReadU32(buffer + 8);
    if (buffer[12] == key.size()) {
      if (got < kRecordHeaderSize + key.size() + 1) {
        size_t more = 0;  // a short key read is not an error: the comparison fails
        cache_.Read(p + kRecordHeaderSize, buffer + kRecordHeaderSize, key.size() + 1, more);
        got = kRecordHeaderSize + more;
      }
      if (got >= kRecordHeaderSize + key.size() + 1 && std::memcmp(buffer + 13, key.data(), key.size()) == 0 &&
          buffer[13 + key.size()] == 0) {
        Place place;
        place.found = true;
        place.offset = p;
        place.item = MapItem::FromKey(key);
        place.item.ham = ReadI32(buffer);
        place.item.spam = ReadI32(buffer + 4);
        place.item.next = next;
        return place;
      }
    }
    if (next == 0) break;
    // Records are appended and linked at their chain's tail, so a chain only ever
    // points forward; anything else is damage that would make the walk loop.
    if (next <= p) Fail(kErrRead);
    p = next;
  }
  Place place;
  place.offset = p;
  place.item = MapItem::FromKey(key);
  return place;
}

void CPersistMap::Fail(const char* text) {
  fileFailed_ = true;
  throw StoreError(text);
}

MapItem CPersistMap::GetKeyPos(std::string_view key, bool create) {
  Place place = Locate(key);
  position_ = place.offset;
  if (!place.found && create) {
    uint64_t size = 0;
    if (!file_.Size(size)) Fail(kErrSeek);
    unsigned char link[4];
    PutU32(link, static_cast<uint32_t>(size));
    cache_.Write(place.offset + 8, link, sizeof link);
    position_ = size;
  }
  return place.item;
}

MapItem CPersistMap::GetItem(std::string_view key) { return GetKeyPos(key, false); }

uint64_t CPersistMap::Store(const Place& place, MapItem item) {
  unsigned char record[kMaxRecordSize];
  if (place.found) {
    // Only the counters change: next, key and terminator stay as they are in the file
    // (next may have been linked to a record appended since the lookup).
    PutU32(record, static_cast<uint32_t>(item.ham));
    PutU32(record + 4, static_cast<uint32_t>(item.spam));
    if (!cache_.Write(place.offset, record, 8)) Fail(kErrSave);
    position_ = place.offset + kRecordHeaderSize + place.item.keyLength + 1;
    return place.offset;
  }
  // The new record goes to the end of the file before its chain points at it, so an
  // interrupted update leaves at worst an unlinked record, never a link into nothing.
  uint64_t size = 0;
  if (!file_.Size(size)) Fail(kErrSave);
  item.next = 0;
  size_t n = EncodeRecord(item, record);
  if (!cache_.Write(size, record, n)) Fail(kErrSave);
  unsigned char link[4];
  PutU32(link, static_cast<uint32_t>(size));
  if (!cache_.Write(place.offset + 8, link, sizeof link)) Fail(kErrSave);
  position_ = size + n;
  return size;
}

void CPersistMap::SetItem(const MapItem& item) {
  if (item.keyLength == 0 || item.keyLength > kMaxKeyLength) throw StoreError(kErrKeyLength);
  Store(Locate(item.Key()), item);
}

void CPersistMap::Apply(const TokenTable& tokens, bool flag, Op op) {
  // A mail with an unstorable token is refused whole, before anything is written.
  tokens.ForEach([](const TokenTable::Entry& e) { CheckKey(e.key); });
  // Every token is looked up before the first write, so a chain that cannot be read
  // fails the mail while the store is still as it was.
  std::vector<Place> places;
  places.reserve(tokens.Size());
  tokens.ForEach([&](const TokenTable::Entry& e) { places.push_back(Locate(e.key)); });
  // New keys of one chain found the same tail; each is linked to the one appended before.
  std::unordered_map<uint64_t, uint64_t> tails;  // tail found -> record appended last
  size_t index = 0;
  tokens.ForEach([&](const TokenTable::Entry& e) {
    Place& place = places[index++];
    const uint64_t tailFound = place.offset;
    if (!place.found) {
      auto moved = tails.find(tailFound);
      if (moved != tails.end()) place.offset = moved->second;
    }
    MapItem item = place.item;
    uint32_t n = e.count;
    switch (op) {
      case Op::Add:
        if (flag) item.spam = Plus(item.spam, n);
        else item.ham = Plus(item.ham, n);
        break;
      case Op::Delete:
        if (flag) item.spam = Reduce(item.spam, n);
        else item.ham = Reduce(item.ham, n);
        break;
      case Op::Swap:
        if (flag) {
          item.ham = Reduce(item.ham, n);
          item.spam = Plus(item.spam, n);
        } else {
          item.spam = Reduce(item.spam, n);
          item.ham = Plus(item.ham, n);
        }
        break;
    }
    uint64_t written = Store(place, item);
    if (!place.found) tails[tailFound] = written;
  });
  switch (op) {
    case Op::Add:
      if (flag) spamMails_ = Plus(spamMails_, 1);
      else hamMails_ = Plus(hamMails_, 1);
      break;
    case Op::Delete:
      if (flag) spamMails_ = Decrement(spamMails_);
      else hamMails_ = Decrement(hamMails_);
      break;
    case Op::Swap:
      if (flag) {
        hamMails_ = Decrement(hamMails_);
        spamMails_ = Plus(spamMails_, 1);
      } else {
        spamMails_ = Decrement(spamMails_);
        hamMails_ = Plus(hamMails_, 1);
      }
      break;
  }
  unsigned char head[8];
  PutU32(head, static_cast<uint32_t>(hamMails_));
  PutU32(head + 4, static_cast<uint32_t>(spamMails_));
  cache_.Write(0, head, sizeof head);  // a failed header write is not reported
}

void CPersistMap::AddItems(const TokenTable& tokens, bool isSpam) { Apply(tokens, isSpam, Op::Add); }
void CPersistMap::DeleteItems(const TokenTable& tokens, bool isSpam) { Apply(tokens, isSpam, Op::Delete); }
void CPersistMap::SwapItems(const TokenTable& tokens, bool toSpam) { Apply(tokens, toSpam, Op::Swap); }

int32_t CPersistMap::EnumerateItems(bool textWanted, const std::string& outputPath) {
  std::vector<unsigned char> table(kTableSize, 0);
  size_t got = 0;
  cache_.Read(0, table.data(), table.size(), got);  // read failures are not reported
  std::string text;
  int32_t count = 0;
  unsigned char buffer[kMaxRecordSize + 256];
  for (uint32_t b = 0; b < kBucketCount; ++b) {
    uint64_t p = static_cast<uint64_t>(b) * kRecordHeaderSize;
    uint32_t next = ReadU32(&table[p + 8]);
    while (next != 0) {
      if (next <= p) return -1;  // a chain pointing backward loops
      p = next;
      if (!cache_.Read(p, buffer, kMaxRecordSize, got) || got < kRecordHeaderSize) break;
      uint8_t length = buffer[12];
      if (length > kMaxKeyLength) return -1;
      if (got < kRecordHeaderSize + length + 1u || buffer[13 + length] != 0) return -1;
      ++count;
      if (textWanted) {
        char line[96];
        int n = std::snprintf(line, sizeof line, "%6d %6d %6d %s\r\n", static_cast<int>(b),
                              static_cast<int>(ReadI32(buffer)), static_cast<int>(ReadI32(buffer + 4)),
                              reinterpret_cast<const char*>(buffer + 13));
        if (n > 0) text.append(line, static_cast<size_t>(n) < sizeof line ? static_cast<size_t>(n) : sizeof line - 1);
      }
      next = ReadU32(buffer + 8);
    }
  }
  if (textWanted) {
    platform::File out;
    if (out.Open(outputPath, platform::Access::ReadWrite, platform::kShareNone, platform::Disposition::CreateAlways)) {
      out.WriteAt(0, text.data(), text.size());
      out.Flush();
    }
  }
  return count;
}

int32_t CPersistMap::CheckMapFile(platform::File& file) {
  uint64_t s = 0;
  if (!file.Size(s) || s == 0) return -1;
  int64_t limit = (static_cast<int64_t>(s) - static_cast<int64_t>(kTableSize)) / 17;
  try {
    // One bit per byte of the record area: where the walk found a record, and where a
    // link points. Every link must point at a record, and no two links at the same one.
    const uint64_t area = s > kTableSize ? s - kTableSize : 0;
    std::vector<uint64_t> starts(static_cast<size_t>(area / 64 + 1)), linked(starts.size());
    auto bit = [](std::vector<uint64_t>& bits, uint64_t offset, bool set) {
      uint64_t i = offset - kTableSize, mask = uint64_t{1} << (i % 64);
      bool was = (bits[static_cast<size_t>(i / 64)] & mask) != 0;
      if (set) bits[static_cast<size_t>(i / 64)] |= mask;
      return was;
    };
    // The records are read through a block buffer: one read per block, not per record.
    std::vector<unsigned char> block(64 * 1024);
    uint64_t blockStart = 0;
    size_t blockSize = 0;
    uint64_t q = kTableSize;
    int64_t i = 0;
    unsigned char header[kRecordHeaderSize] = {};
    for (;;) {
      if (q < blockStart || q + kRecordHeaderSize > blockStart + blockSize) {
        blockStart = q;
        if (!file.ReadAt(q, block.data(), block.size(), blockSize)) blockSize = 0;  // failures are not reported
      }
      // A read at the end of the file fills only what it got and leaves the rest as it was.
      size_t have = q >= blockStart && q < blockStart + blockSize ? static_cast<size_t>(blockStart + blockSize - q) : 0;
      std::memcpy(header, block.data() + (q - blockStart), have < sizeof header ? have : sizeof header);
      uint32_t next = ReadU32(header + 8);
      if (next != 0) {
        if (next > s) return -2;
        // Chains only point forward; a record pointing at itself or back loops.
        if (next <= q) return -7;
        if (bit(linked, next, true)) return -3;
      }
      if (q < s) bit(starts, q, true);
      q += 14u + header[12];
      if (q > s) return -4;
      if (q == s) break;
      ++i;
      if (i > limit) return -5;
    }
    // The chain heads: bytes 8 to 11 of each slot (byte 12 of slot 0 is the state mark).
    std::vector<unsigned char> table(kTableSize, 0);
    size_t got = 0;
    if (!file.ReadAt(0, table.data(), table.size(), got) || got < table.size()) return -1;
    for (uint32_t b = 0; b < kBucketCount; ++b) {
      uint32_t head = ReadU32(&table[static_cast<size_t>(b) * kRecordHeaderSize + 8]);
      if (head == 0) continue;
      if (head < kTableSize || head >= s) return -2;
      if (bit(linked, head, true)) return -3;
    }
    for (size_t w = 0; w < linked.size(); ++w)
      if (linked[w] & ~starts[w]) return -8;  // a link into the middle of a record, or to the end
    return static_cast<int32_t>(i);
  } catch (const std::bad_alloc&) {
    return -6;
  }
}

}  // namespace kestrelon
