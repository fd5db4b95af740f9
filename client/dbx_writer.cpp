#include "client/dbx_writer.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <functional>
#include <unordered_set>
#include <utility>

namespace kestrelon::client {

namespace {

// Header words the client keeps up to date.
enum HeaderWord : uint32_t {
  kFileInfoLength = 0x07,
  kLastVariableSegment = 0x09,
  kVariableSegmentLength = 0x0A,
  kLastVariableSegmentUsed = 0x0B,
  kLastTreeSegment = 0x0C,
  kTreeSegmentLength = 0x0D,
  kLastTreeSegmentUsed = 0x0E,
  kLastMessageSegment = 0x0F,
  kMessageSegmentLength = 0x10,
  kLastMessageSegmentUsed = 0x11,
  kDeletedMessageList = 0x12,
  kDeletedTreeList = 0x13,
  kMiddleUsed = 0x15,
  kMiddleReusable = 0x16,
  kLastTreeEntryIndex = 0x17,  // the highest message index ever given in this file
  kFileUsed = 0x1F,
  kTreeEntries = 0x31,
  kTreeRoot = 0x39,
  kInfoSpace = 0x9F,
  kTreeSpace = 0xA3,
  kMessageSpace = 0xA4,
};

// Attribute indexes of a message record.
enum Attribute : uint8_t {
  kAttrIndex = 0x00,
  kAttrFlags = 0x01,
  kAttrSent = 0x02,
  kAttrAddress = 0x04,
  kAttrMessageId = 0x07,
  kAttrSubject = 0x08,
  kAttrSenderName = 0x0D,
  kAttrSenderAddress = 0x0E,
  kAttrTextLength = 0x11,
  kAttrReceived = 0x12,
  kAttrReceiverName = 0x13,
  kAttrReceiverAddress = 0x14,
};

constexpr int kMaxDepth = 64;

uint32_t Le32(const unsigned char* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void Put32(std::string& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(char((v >> (8 * i)) & 0xFF));
}

void Put32At(unsigned char* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>((v >> (8 * i)) & 0xFF);
}

// One attribute of a record as the client stores it.
struct RecordValue {
  uint8_t index;
  bool direct;
  uint32_t directValue;
  std::string bytes;
};

RecordValue Integer(uint8_t index, uint32_t v) {
  if (v < 0x1000000) return {index, true, v, {}};
  std::string b;
  Put32(b, v);
  return {index, false, 0, b};
}

RecordValue Time(uint8_t index, uint64_t t) {
  std::string b;
  Put32(b, uint32_t(t));
  Put32(b, uint32_t(t >> 32));
  return {index, false, 0, b};
}

RecordValue Text(uint8_t index, const std::string& s) {
  std::string b(s.data(), strnlen(s.data(), s.size()));
  b.push_back('\0');
  return {index, false, 0, b};
}

// Values a tree of the given height can hold: 51 values a node, 52 children.
uint64_t Capacity(int height) {
  uint64_t c = 0;
  for (int i = 0; i < height; ++i) c = 51 + 52 * c;
  return c;
}

// A node of a tree being built, with the offsets already assigned.
struct BuiltNode {
  uint32_t offset = 0;
  uint32_t parent = 0;
  uint32_t firstChild = 0;
  uint32_t firstCount = 0;
  std::vector<std::array<uint32_t, 3>> entries;  // value, child, child count
};

// Builds a balanced tree over `values` (record offsets in ascending message index).
// Nodes take their offsets from `place` in the order they are created.
class TreeBuilder {
 public:
  explicit TreeBuilder(std::function<uint32_t()> place) : place_(std::move(place)) {}

  uint32_t Build(const uint32_t* values, uint32_t n, uint32_t parent) {
    size_t slot = nodes_.size();
    nodes_.emplace_back();
    uint32_t offset = place_();
    nodes_[slot].offset = offset;
    nodes_[slot].parent = parent;
    if (n <= DbxWriter::kNodeEntries) {
      for (uint32_t i = 0; i < n; ++i) nodes_[slot].entries.push_back({values[i], 0, 0});
      return offset;
    }
    int height = 1;
    while (Capacity(height) < n) ++height;
    uint64_t childCap = Capacity(height - 1);
    // Fewest entries whose children can take the rest, then the rest spread evenly.
    uint32_t e = uint32_t((n + 1 + childCap) / (childCap + 1)) - 1;
    uint32_t rest = n - e;
    uint32_t base = rest / (e + 1), extra = rest % (e + 1);
    uint32_t pos = 0;
    for (uint32_t c = 0; c <= e; ++c) {
      uint32_t size = base + (c < extra ? 1 : 0);
      uint32_t child = Build(values + pos, size, offset);
      pos += size;
      if (c == 0) {
        nodes_[slot].firstChild = child;
        nodes_[slot].firstCount = size;
      } else {
        nodes_[slot].entries.back()[1] = child;
        nodes_[slot].entries.back()[2] = size;
      }
      if (c < e) nodes_[slot].entries.push_back({values[pos++], 0, 0});
    }
    return offset;
  }

  // The nodes as runs of adjacent nodes, (offset, bytes) in ascending offset. Each
  // node's second word, which readers never look at, links it to the node created after
  // it, so the tree is already a chain of free nodes once a later tree replaces it.
  std::vector<std::pair<uint32_t, std::string>> Serialize() const {
    std::vector<std::pair<uint32_t, std::string>> all;
    for (size_t i = 0; i < nodes_.size(); ++i) {
      std::string out(DbxWriter::kNodeSize, '\0');
      auto* p = reinterpret_cast<unsigned char*>(out.data());
      const BuiltNode& node = nodes_[i];
      Put32At(p + 0x00, node.offset);
      Put32At(p + 0x04, i + 1 < nodes_.size() ? nodes_[i + 1].offset : 0);
      Put32At(p + 0x08, node.firstChild);
      Put32At(p + 0x0C, node.parent);
      p[0x11] = static_cast<unsigned char>(node.entries.size());
      Put32At(p + 0x14, node.firstCount);
      for (size_t k = 0; k < node.entries.size(); ++k)
        for (int w = 0; w < 3; ++w) Put32At(p + 0x18 + 12 * k + 4 * w, node.entries[k][w]);
      all.emplace_back(node.offset, std::move(out));
    }
    std::sort(all.begin(), all.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<std::pair<uint32_t, std::string>> runs;
    for (auto& node : all) {
      if (!runs.empty() && uint64_t(runs.back().first) + runs.back().second.size() == node.first)
        runs.back().second += node.second;
      else
        runs.push_back(std::move(node));
    }
    return runs;
  }

 private:
  std::function<uint32_t()> place_;
  std::vector<BuiltNode> nodes_;
};

}  // namespace

uint64_t FileTimeFromUnix(int64_t seconds) {
  return uint64_t(seconds + 11644473600LL) * 10000000ULL;
}

namespace {

void WriteEmptyFile(const std::string& path, bool onlyWhenEmpty) {
  platform::File file;
  if (!file.Open(path, platform::Access::ReadWrite, platform::kShareRead | platform::kShareWrite,
                 platform::Disposition::OpenAlways))
    throw DbxWriteError("cannot create " + path);
  std::string header(DbxWriter::kHeaderSize, '\0');
  auto* p = reinterpret_cast<unsigned char*>(header.data());
  for (int i = 0; i < 4; ++i) Put32At(p + 4 * i, DbxWriter::kSignature[i]);
  Put32At(p + 4 * kFileInfoLength, 0);
  Put32At(p + 4 * kTreeSegmentLength, DbxWriter::kNodeSize);
  Put32At(p + 4 * kMessageSegmentLength, DbxWriter::kSegmentSize);
  Put32At(p + 4 * kFileUsed, DbxWriter::kHeaderSize);
  if (!file.Lock(DbxWriter::kEditLockOffset, 1)) throw DbxWriteError("cannot lock " + path);
  uint64_t size = 0;
  bool ok = file.Size(size);
  if (ok && !(onlyWhenEmpty && size > 0)) {
    // A message file emptied keeps counting its message indexes where it stopped, so an
    // id once given never names another message of the file.
    unsigned char old[4 * (kLastTreeEntryIndex + 1)];
    size_t got = 0;
    bool messageFile = file.ReadAt(0, old, sizeof old, got) && got == sizeof old;
    for (int i = 0; i < 4 && messageFile; ++i) messageFile = Le32(old + 4 * i) == DbxWriter::kSignature[i];
    if (messageFile) Put32At(p + 4 * kLastTreeEntryIndex, Le32(old + 4 * kLastTreeEntryIndex));
    ok = file.Truncate(0) && file.WriteAt(0, header.data(), header.size()) && file.Flush();
  }
  file.Unlock(DbxWriter::kEditLockOffset, 1);
  if (!ok) throw DbxWriteError("cannot write " + path);
}

}  // namespace

void DbxWriter::Create(const std::string& path) { WriteEmptyFile(path, false); }

void DbxWriter::CreateIfMissing(const std::string& path) { WriteEmptyFile(path, true); }

DbxWriter::DbxWriter(const std::string& path) : path_(path) {
  if (!file_.Open(path, platform::Access::ReadWrite, platform::kShareRead | platform::kShareWrite,
                  platform::Disposition::OpenExisting))
    throw DbxWriteError("cannot open " + path);
  Edit look(*this);
}

DbxWriter::Edit::Edit(DbxWriter& writer) : writer_(writer) { writer_.Lock(); }

DbxWriter::Edit::~Edit() { writer_.Unlock(); }

void DbxWriter::Lock() {
  if (lockDepth_ == 0) {
    if (!file_.Lock(kEditLockOffset, 1)) throw DbxWriteError("cannot lock " + path_);
    try {
      ReadState();
    } catch (...) {
      file_.Unlock(kEditLockOffset, 1);
      throw;
    }
  }
  ++lockDepth_;
}

void DbxWriter::Unlock() {
  if (--lockDepth_ == 0) file_.Unlock(kEditLockOffset, 1);
}

bool DbxWriter::ReadAt(uint64_t offset, void* data, size_t size) {
  size_t got = 0;
  return file_.ReadAt(offset, data, size, got) && got == size;
}

void DbxWriter::WriteAt(uint64_t offset, const void* data, size_t size) {
  if (!file_.WriteAt(offset, data, size)) throw DbxWriteError("cannot write " + path_);
  fileSize_ = std::max<uint64_t>(fileSize_, offset + size);
}

void DbxWriter::Flush() {
  if (!file_.Flush()) throw DbxWriteError("cannot write " + path_);
}

void DbxWriter::ReadState() {
  uint64_t size = 0;
  if (!file_.Size(size)) throw DbxWriteError("cannot read " + path_);
  std::string raw(kHeaderSize, '\0');
  if (!ReadAt(0, raw.data(), raw.size())) throw DbxWriteError("not a message file (header too short): " + path_);
  lastRecord_ = lastRecordSize_ = lastSegment_ = lastSegmentUsed_ = 0;
  // Every edit rewrites the header with another count or another last record: a header
  // and size as this handle left them mean nobody else has edited meanwhile.
  if (stateKnown_ && size == fileSize_ && raw == HeaderBytes()) return;
  stateKnown_ = false;
  fileSize_ = size;
  header_.assign(kHeaderSize / 4, 0);
  for (size_t i = 0; i < header_.size(); ++i)
    header_[i] = Le32(reinterpret_cast<const unsigned char*>(raw.data()) + 4 * i);
  end_ = std::max<uint64_t>(fileSize_, kHeaderSize);
  highestIndex_ = header_[kLastTreeEntryIndex];
  records_.clear();
  treeNodes_.clear();
  freeNodes_.clear();
  walked_.clear();
  if (header_[kTreeRoot] != 0 && header_[kTreeEntries] != 0) {
    // Every record takes more than 12 bytes, so a count beyond that is damage.
    if (header_[kTreeEntries] > fileSize_ / 12) throw DbxWriteError("index tree does not match its count: " + path_);
    records_.reserve(header_[kTreeEntries]);
    WalkNode(header_[kTreeRoot], 0, 0);
    if (records_.size() != header_[kTreeEntries]) throw DbxWriteError("index tree does not match its count: " + path_);
    uint32_t address = 0;
    highestIndex_ = std::max(highestIndex_, ReadRecordIndex(records_.back(), address));
  }
  ReadFreeNodes();
  stateKnown_ = true;
}

void DbxWriter::WalkNode(uint32_t offset, uint32_t parent, int depth) {
  if (depth > kMaxDepth) throw DbxWriteError("index tree too deep: " + path_);
  if (uint64_t(offset) + kNodeSize > fileSize_) throw DbxWriteError("index node beyond the file end: " + path_);
  unsigned char node[kNodeSize];
  if (!ReadAt(offset, node, kNodeSize)) throw DbxWriteError("cannot read index node: " + path_);
  if (Le32(node) != offset || Le32(node + 0x0C) != parent || node[0x11] > kNodeEntries)
    throw DbxWriteError("broken index node: " + path_);
  if (!walked_.insert(offset).second) throw DbxWriteError("index node linked twice: " + path_);
  treeNodes_.push_back(offset);
  if (Le32(node + 0x08) != 0) WalkNode(Le32(node + 0x08), offset, depth + 1);
  for (unsigned k = 0; k < node[0x11]; ++k) {
    const unsigned char* e = node + 0x18 + 12 * k;
    if (Le32(e) != 0) {
      if (records_.size() >= header_[kTreeEntries]) throw DbxWriteError("index tree holds too many values: " + path_);
      records_.push_back(Le32(e));
    }
    if (Le32(e + 4) != 0) WalkNode(Le32(e + 4), offset, depth + 1);
  }
}

std::string DbxWriter::ReadRecordBytes(uint32_t recordOffset) {
  unsigned char head[12];
  if (!ReadAt(recordOffset, head, sizeof head) || Le32(head) != recordOffset)
    throw DbxWriteError("broken message record: " + path_);
  uint32_t bodyLength = Le32(head + 4);
  if (uint64_t(recordOffset) + 12 + bodyLength > fileSize_ || 4ull * head[10] > bodyLength)
    throw DbxWriteError("broken message record: " + path_);
  std::string record(12 + size_t(bodyLength), '\0');
  if (!ReadAt(recordOffset, record.data(), record.size())) throw DbxWriteError("broken message record: " + path_);
  return record;
}

namespace {

// Where the value of attribute `which` lies in a record read whole (12-byte head, then
// the body); the later entry wins, as for the reader. False when it has no entry.
struct ValuePlace {
  size_t wordAt = 0;   // the entry word
  bool direct = false;
  size_t valueAt = 0;  // an indirect value
  size_t valueLength = 0;
};

bool FindValue(const std::string& record, uint32_t which, ValuePlace& place) {
  const auto* p = reinterpret_cast<const unsigned char*>(record.data());
  size_t count = p[10], dataAt = 12 + 4 * count;
  bool found = false;
  for (size_t i = 0; i < count; ++i) {
    uint32_t word = Le32(p + 12 + 4 * i);
    if ((word & 0x7F) != which) continue;
    found = true;
    place.wordAt = 12 + 4 * i;
    place.direct = (word & 0x80) != 0;
    if (!place.direct) {
      place.valueAt = dataAt + (word >> 8);
      place.valueLength = place.valueAt < record.size() ? std::min<size_t>(4, record.size() - place.valueAt) : 0;
    }
  }
  return found;
}

uint32_t ValueOf(const std::string& record, const ValuePlace& place) {
  const auto* p = reinterpret_cast<const unsigned char*>(record.data());
  if (place.direct) return Le32(p + place.wordAt) >> 8;
  uint32_t value = 0;
  for (size_t i = 0; i < place.valueLength; ++i) value |= uint32_t(p[place.valueAt + i]) << (8 * i);
  return value;
}

}  // namespace

uint32_t DbxWriter::ReadRecordIndex(uint32_t recordOffset, uint32_t& address) {
  std::string record = ReadRecordBytes(recordOffset);
  ValuePlace place;
  address = FindValue(record, kAttrAddress, place) ? ValueOf(record, place) : 0;
  return FindValue(record, kAttrIndex, place) ? ValueOf(record, place) : 0;
}

size_t DbxWriter::FindPosition(uint32_t messageIndex) {
  // The tree holds the records in ascending message index.
  size_t low = 0, high = records_.size();
  while (low < high) {
    size_t mid = low + (high - low) / 2;
    uint32_t address = 0;
    uint32_t index = ReadRecordIndex(records_[mid], address);
    if (index == messageIndex) return mid;
    if (index < messageIndex) low = mid + 1;
    else high = mid;
  }
  return records_.size();
}

bool DbxWriter::Find(uint32_t messageIndex, DbxListEntry& entry) {
  size_t pos = FindPosition(messageIndex);
  if (pos == records_.size()) return false;
  entry.recordOffset = records_[pos];
  entry.messageIndex = ReadRecordIndex(entry.recordOffset, entry.messageAddress);
  return true;
}

std::vector<DbxListEntry> DbxWriter::Entries() {
  std::vector<DbxListEntry> entries;
  entries.reserve(records_.size());
  for (uint32_t offset : records_) {
    DbxListEntry entry;
    entry.recordOffset = offset;
    entry.messageIndex = ReadRecordIndex(offset, entry.messageAddress);
    entries.push_back(entry);
  }
  return entries;
}

std::string DbxWriter::HeaderBytes() const {
  std::string raw(header_.size() * 4, '\0');
  for (size_t i = 0; i < header_.size(); ++i) Put32At(reinterpret_cast<unsigned char*>(&raw[4 * i]), header_[i]);
  return raw;
}

void DbxWriter::ReadFreeNodes() {
  // Nodes of the tree before the current one, chained through their second word, which
  // readers never look at. A chain that does not make sense is dropped (space leaks,
  // nothing else happens).
  std::unordered_set<uint32_t> live(treeNodes_.begin(), treeNodes_.end()), seen;
  for (uint32_t node = header_[kDeletedTreeList]; node != 0;) {
    unsigned char head[8];
    if (node < kHeaderSize || uint64_t(node) + kNodeSize > fileSize_ || live.count(node) || !seen.insert(node).second ||
        !ReadAt(node, head, sizeof head) || Le32(head) != node) {
      freeNodes_.clear();
      break;
    }
    freeNodes_.push_back(node);
    node = Le32(head + 4);
  }
}

uint32_t DbxWriter::Allocate(uint32_t size) {
  if (end_ + size > 0xFFFFFFF0ull) throw DbxWriteError("message file full: " + path_);
  uint32_t at = uint32_t(end_);
  end_ += size;
  return at;
}

uint32_t DbxWriter::WriteText(std::string_view raw) {
  if (raw.empty()) return 0;
  uint32_t segments = uint32_t((raw.size() + kSegmentText - 1) / kSegmentText);
  if (raw.size() > 0x7FFFFFFF) throw DbxWriteError("message too large");
  uint32_t first = Allocate(segments * kSegmentSize);
  std::string chain(size_t(segments) * kSegmentSize, '\0');
  for (uint32_t s = 0; s < segments; ++s) {
    auto* p = reinterpret_cast<unsigned char*>(&chain[size_t(s) * kSegmentSize]);
    uint32_t at = first + s * kSegmentSize;
    size_t from = size_t(s) * kSegmentText;
    uint32_t length = uint32_t(std::min<size_t>(kSegmentText, raw.size() - from));
    Put32At(p, at);
    Put32At(p + 4, kSegmentText);
    Put32At(p + 8, length);
    Put32At(p + 12, s + 1 < segments ? at + kSegmentSize : 0);
    memcpy(p + 16, raw.data() + from, length);
    lastSegment_ = at;
    lastSegmentUsed_ = 16 + length;
  }
  WriteAt(first, chain.data(), chain.size());
  header_[kMessageSpace] += segments * kSegmentSize;
  return first;
}

uint32_t DbxWriter::WriteRecord(uint32_t messageIndex, const DbxEnvelope& env, uint32_t address, uint32_t textLength) {
  std::vector<RecordValue> values = {
      Integer(kAttrIndex, messageIndex),
      Integer(kAttrFlags, env.flags),
      Time(kAttrSent, env.sentTime),
      Integer(kAttrAddress, address),
      Text(kAttrSubject, env.subject),
      Text(kAttrSenderName, env.senderName),
      Text(kAttrSenderAddress, env.senderAddress),
      Integer(kAttrTextLength, textLength),
      Time(kAttrReceived, env.receivedTime),
      Text(kAttrReceiverName, env.receiverName),
      Text(kAttrReceiverAddress, env.receiverAddress),
  };
  if (!env.messageId.empty()) values.push_back(Text(kAttrMessageId, env.messageId));
  std::sort(values.begin(), values.end(), [](const RecordValue& a, const RecordValue& b) { return a.index < b.index; });
  std::string words, data;
  for (const RecordValue& v : values) {
    if (v.direct) {
      Put32(words, v.index | 0x80u | (v.directValue << 8));
    } else {
      Put32(words, v.index | uint32_t(data.size()) << 8);
      data += v.bytes;
    }
  }
  while ((words.size() + data.size()) % 4 != 0) data.push_back('\0');
  uint32_t bodyLength = uint32_t(words.size() + data.size());
  uint32_t at = Allocate(12 + bodyLength);
  std::string record;
  Put32(record, at);
  Put32(record, bodyLength);
  record.push_back(char(values.size() * 4 & 0xFF));  // header word: length of the entry list
  record.push_back(char((values.size() * 4) >> 8));
  record.push_back(char(values.size()));
  record.push_back('\0');
  record += words;
  record += data;
  WriteAt(at, record.data(), record.size());
  header_[kInfoSpace] += uint32_t(record.size());
  lastRecord_ = at;
  lastRecordSize_ = uint32_t(record.size());
  return at;
}

uint32_t DbxWriter::Append(const DbxEnvelope& envelope, std::string_view raw) {
  return AppendMany({DbxNewMessage{envelope, std::string(raw)}}).front();
}

std::vector<uint32_t> DbxWriter::AppendMany(const std::vector<DbxNewMessage>& messages) {
  std::vector<uint32_t> indexes;
  if (messages.empty()) return indexes;
  Edit edit(*this);
  stateKnown_ = false;  // until the edit is committed
  for (const DbxNewMessage& m : messages) {
    if (highestIndex_ == 0xFFFFFFFF) throw DbxWriteError("no message index left: " + path_);
    uint32_t index = ++highestIndex_;
    uint32_t address = WriteText(m.raw);
    records_.push_back(WriteRecord(index, m.envelope, address, uint32_t(m.raw.size())));
    indexes.push_back(index);
  }
  CommitTree();
  return indexes;
}

bool DbxWriter::Delete(uint32_t messageIndex) {
  Edit edit(*this);
  stateKnown_ = false;  // until the edit is committed
  size_t pos = FindPosition(messageIndex);
  if (pos == records_.size()) return false;
  uint32_t address = 0;
  ReadRecordIndex(records_[pos], address);
  ReleaseSpace(records_[pos], address);
  records_.erase(records_.begin() + std::ptrdiff_t(pos));
  CommitTree();
  return true;
}

bool DbxWriter::ChangeFlags(uint32_t messageIndex, uint32_t set, uint32_t clear) {
  Edit edit(*this);
  stateKnown_ = false;  // until the edit is committed
  size_t pos = FindPosition(messageIndex);
  if (pos == records_.size()) return false;
  std::string record = ReadRecordBytes(records_[pos]);
  ValuePlace place;
  if (!FindValue(record, kAttrFlags, place) || (!place.direct && place.valueLength < 4))
    throw DbxWriteError("the record of message " + std::to_string(messageIndex) + " has no flags: " + path_);
  uint32_t flags = ValueOf(record, place);
  uint32_t changed = (flags & ~clear) | set;
  if (changed == flags) return true;
  auto* p = reinterpret_cast<unsigned char*>(record.data());
  if (place.direct) {
    if (changed >= (1u << 24)) throw DbxWriteError("flags do not fit the record: " + path_);
    Put32At(p + place.wordAt, kAttrFlags | 0x80u | changed << 8);
  } else {
    Put32At(p + place.valueAt, changed);
  }
  // The changed record is written anew, so a record once written never changes.
  uint32_t at = Allocate(uint32_t(record.size()));
  Put32At(p, at);
  WriteAt(at, record.data(), record.size());  // the old one of the same size goes: the space used stays
  lastRecord_ = at;
  lastRecordSize_ = uint32_t(record.size());
  records_[pos] = at;
  CommitTree();
  return true;
}

void DbxWriter::ReleaseSpace(uint32_t recordOffset, uint32_t address) {
  // Only the bookkeeping words change; the record and its text stay where they are
  // until the file is compacted, so a reader still walking the old tree finds them.
  unsigned char head[16];
  if (ReadAt(recordOffset, head, 12)) {
    uint32_t size = 12 + Le32(head + 4);
    header_[kInfoSpace] -= std::min(header_[kInfoSpace], size);
  }
  uint32_t segment = address;
  for (uint64_t n = 0; segment != 0 && n < end_ / kSegmentSize + 1; ++n) {
    if (!ReadAt(segment, head, 16) || Le32(head) != segment) break;
    header_[kMessageSpace] -= std::min<uint32_t>(header_[kMessageSpace], kSegmentSize);
    segment = Le32(head + 12);
  }
}

void DbxWriter::CommitTree() {
  const std::vector<uint32_t>& values = records_;
  uint32_t root = 0;
  uint64_t treeBytes = 0;
  std::vector<uint32_t> newNodes;
  if (!values.empty()) {
    // The new tree goes into the nodes of the tree before the current one, then behind
    // everything else: never over a node that the current tree may still be read through.
    size_t reused = 0;
    TreeBuilder builder([&] {
      uint32_t at = reused < freeNodes_.size() ? freeNodes_[reused++] : Allocate(kNodeSize);
      newNodes.push_back(at);
      return at;
    });
    root = builder.Build(values.data(), uint32_t(values.size()), 0);
    for (const auto& [offset, bytes] : builder.Serialize()) WriteAt(offset, bytes.data(), bytes.size());
    freeNodes_.erase(freeNodes_.begin(), freeNodes_.begin() + std::ptrdiff_t(reused));
    treeBytes = uint64_t(newNodes.size()) * kNodeSize;
    header_[kLastTreeSegment] = newNodes.back();
    header_[kLastTreeSegmentUsed] = kNodeSize;
  }
  // The current tree's nodes become free once the header no longer points at them.
  // They are chained already, in the order they were created, which is the order the
  // tree is walked in; what is left of the old chain goes first and is linked to them.
  std::vector<uint32_t> nowFree = freeNodes_;
  if (!nowFree.empty() && !treeNodes_.empty()) {
    unsigned char link[4];
    Put32At(link, treeNodes_.front());
    WriteAt(uint64_t(nowFree.back()) + 4, link, 4);
  }
  nowFree.insert(nowFree.end(), treeNodes_.begin(), treeNodes_.end());
  header_[kDeletedTreeList] = nowFree.empty() ? 0 : nowFree.front();
  // Objects first, on disk, before the header points at them.
  Flush();

  treeNodes_ = std::move(newNodes);
  freeNodes_ = std::move(nowFree);
  header_[kTreeEntries] = uint32_t(values.size());
  header_[kTreeRoot] = root;
  header_[kLastTreeEntryIndex] = highestIndex_;
  header_[kTreeSegmentLength] = kNodeSize;
  header_[kTreeSpace] = uint32_t(treeBytes);
  header_[kMessageSegmentLength] = kSegmentSize;
  if (lastRecord_ != 0) {
    header_[kLastVariableSegment] = lastRecord_;
    header_[kVariableSegmentLength] = lastRecordSize_;
    header_[kLastVariableSegmentUsed] = lastRecordSize_;
  }
  if (lastSegment_ != 0) {
    header_[kLastMessageSegment] = lastSegment_;
    header_[kLastMessageSegmentUsed] = lastSegmentUsed_;
  }
  header_[kDeletedMessageList] = 0;
  header_[kFileUsed] = uint32_t(end_);
  header_[kMiddleUsed] = uint32_t(end_ - kHeaderSize);
  uint64_t live = uint64_t(header_[kInfoSpace]) + header_[kMessageSpace] + treeBytes;
  header_[kMiddleReusable] = uint32_t(end_ - kHeaderSize > live ? end_ - kHeaderSize - live : 0);
  for (int i = 0; i < 4; ++i) header_[i] = kSignature[i];

  std::string raw = HeaderBytes();
  WriteAt(0, raw.data(), raw.size());
  stateKnown_ = true;
}

void DbxWriter::Sync() { Flush(); }

}  // namespace kestrelon::client
