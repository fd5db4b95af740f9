#include "Lexisift/store/undo_file.h"

#include "Lexisift/store/map_format.h"
#include "Lexisift/store/store_error.h"

#include <cstring>

namespace kestrelon {

using map_format::PutU32;
using map_format::ReadU32;

namespace {

constexpr unsigned char kMagic[4] = {'K', 'S', 'U', '2'};
// Records of the first layout differ only in their sum, FNV-1a of the bytes; one left
// by an earlier version is still put back.
constexpr unsigned char kFnvMagic[4] = {'K', 'S', 'U', '1'};
constexpr unsigned char kNoMagic[4] = {};  // a finished record
constexpr size_t kHeadSize = 36;
constexpr size_t kRangeHeadSize = 12;
constexpr size_t kSumSize = 8;
// Far more than the ranges of the longest mail; a larger companion is not a record.
constexpr uint64_t kMaxRecordSize = 64u << 20;

void PutU64(unsigned char* p, uint64_t v) {
  PutU32(p, static_cast<uint32_t>(v));
  PutU32(p + 4, static_cast<uint32_t>(v >> 32));
}

uint64_t ReadU64(const unsigned char* p) { return ReadU32(p) | (static_cast<uint64_t>(ReadU32(p + 4)) << 32); }

int32_t ReadI32(const unsigned char* p) { return static_cast<int32_t>(ReadU32(p)); }

}  // namespace

uint64_t Fnv1a(const unsigned char* data, size_t size) {
  uint64_t h = 1469598103934665603ull;
  for (size_t i = 0; i < size; ++i) {
    h ^= data[i];
    h *= 1099511628211ull;
  }
  return h;
}

uint64_t UndoRecordSum(const unsigned char* data, size_t size) {
  // FNV-1a's steps over 8-byte words, each product folded onto itself so that every bit
  // of a word reaches every bit of the sum: a record is summed at a word per step.
  uint64_t h = 1469598103934665603ull ^ size;
  auto step = [&h](uint64_t word) {
    h = (h ^ word) * 1099511628211ull;
    h ^= h >> 29;
  };
  size_t i = 0;
  for (; i + 8 <= size; i += 8) step(ReadU64(data + i));
  unsigned char tail[8] = {};
  std::memcpy(tail, data + i, size - i);
  step(ReadU64(tail));
  return h;
}

void StoreUndo::Save(uint64_t offset, const unsigned char* old, size_t size) {
  ranges.push_back(Range{offset, bytes.size(), size});
  bytes.insert(bytes.end(), old, old + size);
}

void EncodeUndoRecord(const StoreUndo& undo, std::vector<unsigned char>& out) {
  const size_t size = kHeadSize + undo.ranges.size() * kRangeHeadSize + undo.bytes.size() + kSumSize;
  out.resize(size);
  unsigned char* p = out.data();
  std::memcpy(p, kMagic, sizeof kMagic);
  PutU32(p + 4, static_cast<uint32_t>(size));
  PutU64(p + 8, undo.end);
  PutU32(p + 16, static_cast<uint32_t>(undo.hamMails));
  PutU32(p + 20, static_cast<uint32_t>(undo.spamMails));
  PutU32(p + 24, static_cast<uint32_t>(undo.hamAfter));
  PutU32(p + 28, static_cast<uint32_t>(undo.spamAfter));
  PutU32(p + 32, static_cast<uint32_t>(undo.ranges.size()));
  p += kHeadSize;
  for (const StoreUndo::Range& range : undo.ranges) {
    PutU64(p, range.offset);
    PutU32(p + 8, static_cast<uint32_t>(range.size));
    std::memcpy(p + kRangeHeadSize, &undo.bytes[range.at], range.size);
    p += kRangeHeadSize + range.size;
  }
  PutU64(p, UndoRecordSum(out.data(), size - kSumSize));
}

bool DecodeUndoRecord(const unsigned char* data, size_t size, StoreUndo& undo) {
  if (size < kHeadSize + kSumSize) return false;
  const bool fnv = std::memcmp(data, kFnvMagic, sizeof kFnvMagic) == 0;
  if (!fnv && std::memcmp(data, kMagic, sizeof kMagic) != 0) return false;
  size_t length = ReadU32(data + 4);
  if (length < kHeadSize + kSumSize || length > size) return false;
  size = length;  // what follows is left of a longer record before
  const uint64_t sum = fnv ? Fnv1a(data, size - kSumSize) : UndoRecordSum(data, size - kSumSize);
  if (ReadU64(data + size - kSumSize) != sum) return false;
  undo = StoreUndo{};
  undo.end = ReadU64(data + 8);
  undo.hamMails = ReadI32(data + 16);
  undo.spamMails = ReadI32(data + 20);
  undo.hamAfter = ReadI32(data + 24);
  undo.spamAfter = ReadI32(data + 28);
  undo.patched = true;
  if (undo.end < map_format::kTableSize) return false;  // no store is shorter
  const uint32_t count = ReadU32(data + 32);
  const size_t stop = size - kSumSize;
  size_t at = kHeadSize;
  for (uint32_t r = 0; r < count; ++r) {
    if (stop - at < kRangeHeadSize) return false;
    const uint64_t offset = ReadU64(data + at);
    const uint32_t length = ReadU32(data + at + 8);
    at += kRangeHeadSize;
    if (length == 0 || length > stop - at || offset > undo.end || length > undo.end - offset) return false;
    undo.Save(offset, data + at, length);
    at += length;
  }
  return at == stop;
}

bool UndoFile::Open(const std::string& storePath) {
  path_ = UndoFile::PathFor(storePath);
  unnamed_ = path_.size() >= kMaxStorePath;
  if (unnamed_) return true;
  // Only the store's writer, which holds the store, ever uses the companion.
  if (file_.Open(path_, platform::Access::ReadWrite, platform::kShareRead | platform::kShareWrite,
                 platform::Disposition::OpenExisting)) {
    file_.SkipLockChecks();
    file_.MapWrittenPart();  // records that fit are written through memory
    unsigned char magic[sizeof kNoMagic] = {};
    size_t got = 0;
    holdsRecord_ = !file_.ReadAt(0, magic, sizeof magic, got) || std::memcmp(magic, kNoMagic, got) != 0;
    return true;
  }
  return file_.LastOpenError() == platform::OpenError::NotFound;
}

bool UndoFile::Unfinished(platform::File& store, StoreUndo& undo) {
  uint64_t size = 0, storeSize = 0;
  if (!file_.IsOpen() || !file_.Size(size) || size == 0 || size > kMaxRecordSize) return false;
  record_.resize(static_cast<size_t>(size));
  size_t got = 0;
  if (!file_.ReadAt(0, record_.data(), record_.size(), got) || got != record_.size() ||
      !DecodeUndoRecord(record_.data(), record_.size(), undo))
    return false;
  // The store as the update left it: not shorter than it found it, and counting the
  // mails it found or the mails it leaves.
  unsigned char head[8];
  if (!store.Size(storeSize) || storeSize < undo.end || !store.ReadAt(0, head, sizeof head, got) || got != sizeof head)
    return false;
  const int32_t ham = ReadI32(head), spam = ReadI32(head + 4);
  return (ham == undo.hamMails && spam == undo.spamMails) || (ham == undo.hamAfter && spam == undo.spamAfter);
}

bool UndoFile::Write(const StoreUndo& undo) {
  if (unnamed_) return true;
  if (!file_.IsOpen()) {
    if (!file_.Open(path_, platform::Access::ReadWrite, platform::kShareRead | platform::kShareWrite,
                    platform::Disposition::OpenAlways))
      return false;
    file_.SkipLockChecks();
    file_.MapWrittenPart();  // records that fit are written through memory
  }
  EncodeUndoRecord(undo, record_);
  holdsRecord_ = true;
  if (!file_.WriteAt(0, record_.data(), record_.size())) return false;
  // A record that grew the file was written by a call: the mapping takes the new part in
  // for the records after it.
  if (record_.size() > longest_) {
    longest_ = record_.size();
    file_.MapWrittenPart();
  }
  return true;
}

bool UndoFile::Finish() {
  // The magic is overwritten rather than the file cut: blocks the file keeps are not freed
  // for the next record to take again.
  if (holdsRecord_ && !file_.WriteAt(0, kNoMagic, sizeof kNoMagic)) return false;
  holdsRecord_ = false;
  return true;
}

}  // namespace kestrelon
