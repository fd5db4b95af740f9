#include "Lexisift/store/persist_map.h"

#include "Lexisift/store/store_recovery.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <unordered_set>
#include <vector>

namespace kestrelon {
namespace {

constexpr size_t kMaxRecordSize = CPersistMap::kRecordHeaderSize + kMaxKeyLength + 1;
// Larger stores are read from the file; records are addressed by 32-bit offsets anyway.
constexpr uint64_t kMaxImageSize = uint64_t{1} << 30;
constexpr uint64_t kMergeGap = 4096;

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
  uint64_t size = 0;
  if (!file_.Size(size)) throw StoreError(kErrSize);
  if (size == 0) {
    if (!WriteEmptyTable()) throw StoreError(kErrOpen);
  } else {
    ReadMailCounters();
  }
  LoadImage();
}

CPersistMap::~CPersistMap() {
  file_.Close();
  if (!fileName_.empty()) platform::CopyFileReplace(fileName_, fileName_ + ".bak");
}

bool CPersistMap::WriteEmptyTable() {
  std::vector<unsigned char> zeros(kTableSize, 0);
  hamMails_ = spamMails_ = 0;
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

void CPersistMap::LoadImage() {
  uint64_t size = 0;
  if (!file_.Size(size) || size > kMaxImageSize) return;
  try {
    image_.resize(static_cast<size_t>(size));
  } catch (const std::bad_alloc&) {
    DropImage();
    return;
  }
  size_t got = 0;
  if (!file_.ReadAt(0, image_.data(), image_.size(), got) || got != image_.size()) {
    DropImage();
    return;
  }
  imaged_ = true;
}

void CPersistMap::DropImage() {
  imaged_ = false;
  std::vector<unsigned char>().swap(image_);
}

bool CPersistMap::ReadBytes(uint64_t offset, void* buffer, size_t size, size_t& got) {
  if (!imaged_) return file_.ReadAt(offset, buffer, size, got);
  got = 0;
  if (offset < image_.size()) {
    got = static_cast<size_t>(std::min<uint64_t>(size, image_.size() - offset));
    std::memcpy(buffer, image_.data() + offset, got);
  }
  return true;
}

bool CPersistMap::GrowImage(uint64_t end) {
  if (end <= image_.size()) return true;
  if (end > kMaxImageSize) return false;
  try {
    image_.resize(static_cast<size_t>(end));
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

bool CPersistMap::WriteBytes(uint64_t offset, const void* buffer, size_t size) {
  if (deferring_) {
    if (GrowImage(offset + size)) {
      std::memcpy(image_.data() + offset, buffer, size);
      if (offset < appendFrom_) dirty_.emplace_back(offset, std::min<uint64_t>(offset + size, appendFrom_));
      return true;
    }
    // No room for the copy: what was gathered goes out now, the rest straight to the file.
    bool flushed = FlushDeferred();
    DropImage();
    return flushed && file_.WriteAt(offset, buffer, size);
  }
  if (!file_.WriteAt(offset, buffer, size)) {
    // What reached the file is unknown now; from here on it is read directly.
    DropImage();
    return false;
  }
  if (imaged_ && size > 0) {
    if (GrowImage(offset + size)) std::memcpy(image_.data() + offset, buffer, size);
    else DropImage();
  }
  return true;
}

bool CPersistMap::FlushDeferred() {
  deferring_ = false;
  bool ok = true;
  // New records first, so that no link written below points past the end of the file.
  if (image_.size() > appendFrom_)
    ok = file_.WriteAt(appendFrom_, image_.data() + appendFrom_, static_cast<size_t>(image_.size() - appendFrom_));
  // Ranges closer than a page are written as one, unchanged bytes between them included.
  std::sort(dirty_.begin(), dirty_.end());
  for (size_t i = 0; ok && i < dirty_.size();) {
    uint64_t begin = dirty_[i].first, end = dirty_[i].second;
    for (++i; i < dirty_.size() && dirty_[i].first <= end + kMergeGap; ++i) end = std::max(end, dirty_[i].second);
    ok = file_.WriteAt(begin, image_.data() + begin, static_cast<size_t>(end - begin));
  }
  dirty_.clear();
  if (!ok) DropImage();
  return ok;
}

bool CPersistMap::EndOfFile(uint64_t& size) {
  if (!imaged_) return file_.Size(size);
  size = image_.size();
  return true;
}

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
    if (!ReadBytes(p, buffer, sizeof buffer, got) || got < kRecordHeaderSize) throw StoreError(kErrRead);
    uint32_t next = ReadU32(buffer + 8);
    if (buffer[12] == key.size()) {
      if (got < kRecordHeaderSize + key.size() + 1) {
        size_t more = 0;  // a short key read is not an error: the comparison fails
        ReadBytes(p + kRecordHeaderSize, buffer + kRecordHeaderSize, key.size() + 1, more);
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
    if (next <= p) throw StoreError(kErrRead);
    p = next;
  }
  Place place;
  place.offset = p;
  place.item = MapItem::FromKey(key);
  return place;
}

MapItem CPersistMap::GetKeyPos(std::string_view key, bool create) {
  Place place = Locate(key);
  position_ = place.offset;
  if (!place.found && create) {
    uint64_t size = 0;
    if (!EndOfFile(size)) throw StoreError(kErrSeek);
    unsigned char link[4];
    PutU32(link, static_cast<uint32_t>(size));
    WriteBytes(place.offset + 8, link, sizeof link);
    position_ = size;
  }
  return place.item;
}

MapItem CPersistMap::GetItem(std::string_view key) { return GetKeyPos(key, false); }

void CPersistMap::Store(const Place& place, MapItem item) {
  unsigned char record[kMaxRecordSize];
  if (place.found) {
    item.next = place.item.next;
    size_t n = EncodeRecord(item, record);
    if (!WriteBytes(place.offset, record, n)) throw StoreError(kErrSave);
    position_ = place.offset + n;
    return;
  }
  // The new record goes to the end of the file before its chain points at it, so an
  // interrupted update leaves at worst an unlinked record, never a link into nothing.
  uint64_t size = 0;
  if (!EndOfFile(size)) throw StoreError(kErrSave);
  item.next = 0;
  size_t n = EncodeRecord(item, record);
  if (!WriteBytes(size, record, n)) throw StoreError(kErrSave);
  unsigned char link[4];
  PutU32(link, static_cast<uint32_t>(size));
  if (!WriteBytes(place.offset + 8, link, sizeof link)) throw StoreError(kErrSave);
  position_ = size + n;
}

void CPersistMap::SetItem(const MapItem& item) {
  if (item.keyLength == 0 || item.keyLength > kMaxKeyLength) throw StoreError(kErrKeyLength);
  Store(Locate(item.Key()), item);
}

void CPersistMap::ApplyTokens(const TokenTable& tokens, bool flag, Op op) {
  tokens.ForEach([&](const TokenTable::Entry& e) {
    Place place = Locate(e.key);
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
    Store(place, item);
  });
}

void CPersistMap::Apply(const TokenTable& tokens, bool flag, Op op) {
  // A mail with an unstorable token is refused whole, before anything is written.
  tokens.ForEach([](const TokenTable::Entry& e) { CheckKey(e.key); });
  if (imaged_) {
    deferring_ = true;
    appendFrom_ = image_.size();
    dirty_.clear();
  }
  try {
    ApplyTokens(tokens, flag, op);
  } catch (...) {
    // The tokens before the failure stay learned, as they would written one by one.
    if (deferring_) FlushDeferred();
    throw;
  }
  if (deferring_ && !FlushDeferred()) throw StoreError(kErrSave);
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
  WriteBytes(0, head, sizeof head);  // a failed header write is not reported
}

void CPersistMap::AddItems(const TokenTable& tokens, bool isSpam) { Apply(tokens, isSpam, Op::Add); }
void CPersistMap::DeleteItems(const TokenTable& tokens, bool isSpam) { Apply(tokens, isSpam, Op::Delete); }
void CPersistMap::SwapItems(const TokenTable& tokens, bool toSpam) { Apply(tokens, toSpam, Op::Swap); }

int32_t CPersistMap::EnumerateItems(bool textWanted, const std::string& outputPath) {
  std::vector<unsigned char> table(kTableSize, 0);
  size_t got = 0;
  ReadBytes(0, table.data(), table.size(), got);  // read failures are not reported
  std::string text;
  int32_t count = 0;
  unsigned char buffer[kMaxRecordSize + 256];
  for (uint32_t b = 0; b < kBucketCount; ++b) {
    uint64_t p = static_cast<uint64_t>(b) * kRecordHeaderSize;
    uint32_t next = ReadU32(&table[p + 8]);
    while (next != 0) {
      if (next <= p) return -1;  // a chain pointing backward loops
      p = next;
      if (!ReadBytes(p, buffer, kMaxRecordSize, got) || got < kRecordHeaderSize) break;
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
    std::unordered_set<uint32_t> successors;
    successors.reserve(100000);
    uint64_t q = kTableSize;
    int64_t i = 0;
    unsigned char header[kRecordHeaderSize] = {};
    for (;;) {
      size_t got = 0;
      file.ReadAt(q, header, sizeof header, got);  // failures are not reported
      uint32_t next = ReadU32(header + 8);
      if (next != 0) {
        if (next > s) return -2;
        if (!successors.insert(next).second) return -3;
        // Chains only point forward; a record pointing at itself or back loops.
        if (next <= q) return -7;
      }
      q += 14u + header[12];
      if (q > s) return -4;
      if (q == s) return static_cast<int32_t>(i);
      ++i;
      if (i > limit) return -5;
    }
  } catch (const std::bad_alloc&) {
    return -6;
  }
}

}  // namespace kestrelon
