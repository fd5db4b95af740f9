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

  // The nodes as (offset, bytes).
  std::vector<std::pair<uint32_t, std::string>> Serialize() const {
    std::vector<std::pair<uint32_t, std::string>> all;
    for (size_t i = 0; i < nodes_.size(); ++i) {
      std::string out(DbxWriter::kNodeSize, '\0');
      auto* p = reinterpret_cast<unsigned char*>(out.data());
      const BuiltNode& node = nodes_[i];
      Put32At(p + 0x00, node.offset);
      Put32At(p + 0x08, node.firstChild);
      Put32At(p + 0x0C, node.parent);
      p[0x11] = static_cast<unsigned char>(node.entries.size());
      Put32At(p + 0x14, node.firstCount);
      for (size_t k = 0; k < node.entries.size(); ++k)
        for (int w = 0; w < 3; ++w) Put32At(p + 0x18 + 12 * k + 4 * w, node.entries[k][w]);
      all.emplace_back(node.offset, std::move(out));
    }
    return all;
  }

 private:
  std::function<uint32_t()> place_;
  std::vector<BuiltNode> nodes_;
};

}  // namespace

uint64_t FileTimeFromUnix(int64_t seconds) {
  return uint64_t(seconds + 11644473600LL) * 10000000ULL;
}

void DbxWriter::Create(const std::string& path) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  std::string header(kHeaderSize, '\0');
  auto* p = reinterpret_cast<unsigned char*>(header.data());
  for (int i = 0; i < 4; ++i) Put32At(p + 4 * i, kSignature[i]);
  Put32At(p + 4 * kFileInfoLength, 0);
  Put32At(p + 4 * kTreeSegmentLength, kNodeSize);
  Put32At(p + 4 * kMessageSegmentLength, kSegmentSize);
  Put32At(p + 4 * kFileUsed, kHeaderSize);
  out.write(header.data(), header.size());
  out.flush();
  if (!out) throw DbxWriteError("cannot write " + path);
}

DbxWriter::DbxWriter(const std::string& path) : path_(path) {
  file_.open(path, std::ios::binary | std::ios::in | std::ios::out);
  if (!file_) throw DbxWriteError("cannot open " + path);
  ReadState();
}

void DbxWriter::ReadState() {
  file_.seekg(0, std::ios::end);
  uint64_t fileSize = uint64_t(file_.tellg());
  std::string raw(kHeaderSize, '\0');
  file_.seekg(0);
  if (!file_.read(raw.data(), raw.size())) throw DbxWriteError("not a message file (header too short): " + path_);
  header_.assign(kHeaderSize / 4, 0);
  for (size_t i = 0; i < header_.size(); ++i)
    header_[i] = Le32(reinterpret_cast<const unsigned char*>(raw.data()) + 4 * i);
  end_ = std::max<uint64_t>(fileSize, kHeaderSize);
  highestIndex_ = header_[kLastTreeEntryIndex];
  entries_.clear();
  treeNodes_.clear();
  freeNodes_.clear();
  walked_.clear();
  if (header_[kTreeRoot] != 0 && header_[kTreeEntries] != 0) {
    WalkNode(header_[kTreeRoot], 0, 0, fileSize);
    if (entries_.size() != header_[kTreeEntries]) throw DbxWriteError("index tree does not match its count: " + path_);
  }
  ReadFreeNodes(fileSize);
  for (size_t i = 0; i < entries_.size(); ++i) {
    if (i > 0 && entries_[i].messageIndex <= entries_[i - 1].messageIndex)
      throw DbxWriteError("index tree out of order: " + path_);
    highestIndex_ = std::max(highestIndex_, entries_[i].messageIndex);
  }
}

void DbxWriter::WalkNode(uint32_t offset, uint32_t parent, int depth, uint64_t fileSize) {
  if (depth > kMaxDepth) throw DbxWriteError("index tree too deep: " + path_);
  if (uint64_t(offset) + kNodeSize > fileSize) throw DbxWriteError("index node beyond the file end: " + path_);
  unsigned char node[kNodeSize];
  file_.seekg(offset);
  if (!file_.read(reinterpret_cast<char*>(node), kNodeSize)) throw DbxWriteError("cannot read index node: " + path_);
  if (Le32(node) != offset || Le32(node + 0x0C) != parent || node[0x11] > kNodeEntries)
    throw DbxWriteError("broken index node: " + path_);
  if (!walked_.insert(offset).second) throw DbxWriteError("index node linked twice: " + path_);
  treeNodes_.push_back(offset);
  if (Le32(node + 0x08) != 0) WalkNode(Le32(node + 0x08), offset, depth + 1, fileSize);
  for (unsigned k = 0; k < node[0x11]; ++k) {
    const unsigned char* e = node + 0x18 + 12 * k;
    if (Le32(e) != 0) {
      if (entries_.size() >= header_[kTreeEntries]) throw DbxWriteError("index tree holds too many values: " + path_);
      DbxListEntry entry;
      entry.recordOffset = Le32(e);
      entry.messageIndex = ReadRecordIndex(entry.recordOffset, entry.messageAddress, fileSize);
      entries_.push_back(entry);
    }
    if (Le32(e + 4) != 0) WalkNode(Le32(e + 4), offset, depth + 1, fileSize);
  }
}

uint32_t DbxWriter::ReadRecordIndex(uint32_t recordOffset, uint32_t& address, uint64_t fileSize) {
  unsigned char head[12];
  file_.seekg(recordOffset);
  if (!file_.read(reinterpret_cast<char*>(head), 12) || Le32(head) != recordOffset)
    throw DbxWriteError("broken message record: " + path_);
  uint32_t bodyLength = Le32(head + 4);
  unsigned count = head[10];
  if (uint64_t(recordOffset) + 12 + bodyLength > fileSize || 4ull * count > bodyLength)
    throw DbxWriteError("broken message record: " + path_);
  std::string body(bodyLength, '\0');
  if (!file_.read(body.data(), bodyLength)) throw DbxWriteError("broken message record: " + path_);
  const auto* b = reinterpret_cast<const unsigned char*>(body.data());
  uint32_t index = 0;
  address = 0;
  for (unsigned i = 0; i < count; ++i) {
    uint32_t word = Le32(b + 4 * i);
    uint32_t which = word & 0x7F;
    if (which != kAttrIndex && which != kAttrAddress) continue;
    uint32_t value = 0;
    if (word & 0x80) {
      value = word >> 8;
    } else {
      uint64_t at = 4ull * count + (word >> 8);
      if (at > bodyLength) throw DbxWriteError("broken message record: " + path_);
      for (uint64_t i = 0; i < 4 && at + i < bodyLength; ++i) value |= uint32_t(b[at + i]) << (8 * i);
    }
    (which == kAttrIndex ? index : address) = value;
  }
  return index;
}

void DbxWriter::ReadFreeNodes(uint64_t fileSize) {
  // Nodes of the tree before the current one, chained through their second word, which
  // readers never look at. A chain that does not make sense is dropped (space leaks,
  // nothing else happens).
  std::unordered_set<uint32_t> live(treeNodes_.begin(), treeNodes_.end()), seen;
  for (uint32_t node = header_[kDeletedTreeList]; node != 0;) {
    unsigned char head[8];
    if (node < kHeaderSize || uint64_t(node) + kNodeSize > fileSize || live.count(node) || !seen.insert(node).second) {
      freeNodes_.clear();
      break;
    }
    file_.seekg(node);
    if (!file_.read(reinterpret_cast<char*>(head), sizeof head) || Le32(head) != node) {
      file_.clear();
      freeNodes_.clear();
      break;
    }
    freeNodes_.push_back(node);
    node = Le32(head + 4);
  }
}

void DbxWriter::WriteAt(uint64_t offset, const void* data, size_t size) {
  file_.seekp(std::streamoff(offset));
  file_.write(static_cast<const char*>(data), std::streamsize(size));
  if (!file_) throw DbxWriteError("cannot write " + path_);
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
  for (const DbxNewMessage& m : messages) {
    if (highestIndex_ == 0xFFFFFFFF) throw DbxWriteError("no message index left: " + path_);
    uint32_t index = ++highestIndex_;
    uint32_t address = WriteText(m.raw);
    uint32_t record = WriteRecord(index, m.envelope, address, uint32_t(m.raw.size()));
    entries_.push_back({index, record, address});
    indexes.push_back(index);
  }
  CommitTree();
  return indexes;
}

bool DbxWriter::Delete(uint32_t messageIndex) {
  auto it = std::lower_bound(entries_.begin(), entries_.end(), messageIndex,
                             [](const DbxListEntry& e, uint32_t id) { return e.messageIndex < id; });
  if (it == entries_.end() || it->messageIndex != messageIndex) return false;
  ReleaseSpace(*it);
  entries_.erase(it);
  CommitTree();
  return true;
}

void DbxWriter::ReleaseSpace(const DbxListEntry& entry) {
  // Only the bookkeeping words change; the record and its text stay where they are
  // until the file is compacted, so a reader still walking the old tree finds them.
  unsigned char head[16];
  file_.seekg(entry.recordOffset);
  if (file_.read(reinterpret_cast<char*>(head), 12)) {
    uint32_t size = 12 + Le32(head + 4);
    header_[kInfoSpace] -= std::min(header_[kInfoSpace], size);
  }
  file_.clear();
  uint32_t segment = entry.messageAddress;
  for (uint64_t n = 0; segment != 0 && n < end_ / kSegmentSize + 1; ++n) {
    file_.seekg(segment);
    if (!file_.read(reinterpret_cast<char*>(head), 16) || Le32(head) != segment) break;
    header_[kMessageSpace] -= std::min<uint32_t>(header_[kMessageSpace], kSegmentSize);
    segment = Le32(head + 12);
  }
  file_.clear();
}

void DbxWriter::CommitTree() {
  std::vector<uint32_t> values;
  values.reserve(entries_.size());
  for (const DbxListEntry& e : entries_) values.push_back(e.recordOffset);
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
  // The current tree's nodes become free once the header no longer points at them;
  // chain them (with what is left of the old chain) through their unread second word.
  std::vector<uint32_t> nowFree = treeNodes_;
  nowFree.insert(nowFree.end(), freeNodes_.begin(), freeNodes_.end());
  for (size_t i = 0; i < nowFree.size(); ++i) {
    unsigned char link[4];
    Put32At(link, i + 1 < nowFree.size() ? nowFree[i + 1] : 0);
    WriteAt(uint64_t(nowFree[i]) + 4, link, 4);
  }
  header_[kDeletedTreeList] = nowFree.empty() ? 0 : nowFree.front();
  // Objects first, on disk, before the header points at them.
  file_.flush();
  if (!file_) throw DbxWriteError("cannot write " + path_);

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

  std::string raw(kHeaderSize, '\0');
  for (size_t i = 0; i < header_.size(); ++i) Put32At(reinterpret_cast<unsigned char*>(&raw[4 * i]), header_[i]);
  WriteAt(0, raw.data(), raw.size());
  file_.flush();
  if (!file_) throw DbxWriteError("cannot write " + path_);
}

}  // namespace kestrelon::client
