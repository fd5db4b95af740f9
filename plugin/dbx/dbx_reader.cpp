#include "plugin/dbx/dbx_reader.h"

#include "plugin/dbx/dbx_header.h"
#include "plugin/dbx/dbx_stream.h"
#include "platform/time.h"

#include <algorithm>
#include <cstring>
#include <ctime>
#include <new>

namespace kestrelon {

namespace {

constexpr uint32_t kNodeSize = 0x27C;
constexpr unsigned kNodeEntries = 51;

}  // namespace

DbxReader::DbxReader(const std::string& path) : path_(path) {
  // The client keeps the file open for writing while we read it.
  file_.Open(path, platform::Access::Read, platform::kShareRead | platform::kShareWrite,
             platform::Disposition::OpenExisting, true);
}

bool DbxReader::FileLook::SameAs(const FileLook& other) const {
  return size == other.size && writeTime == other.writeTime &&
         std::memcmp(header.bytes, other.header.bytes, kDbxHeaderSize) == 0;
}

bool DbxReader::LookAtFile(FileLook& look) {
  // Time and size before the header: a write that comes in between changes the header
  // seen now or the time and size seen at the next look.
  bool timeKnown = platform::LastWriteTime(path_, look.writeTime);
  look.size = dbx::StreamSize(file_);
  return timeKnown;
}

uint32_t DbxReader::LoadIndex() {
  auto look = std::make_unique<FileLook>();
  bool looked = LookAtFile(*look);
  if (!dbx::ReadAt(file_, 0, look->header.bytes, kDbxHeaderSize))
    throw DbxException("Error reading object from input stream !");
  if (index_ && indexLook_ && looked && look->SameAs(*indexLook_)) return messageCount_;
  indexLook_.reset();
  messageCount_ = look->header.Word(kDbxWordTreeEntries);
  uint32_t root = look->header.Word(kDbxWordTreeRoot);
  index_.reset();
  if (root == 0 || messageCount_ == 0) {
    messageCount_ = 0;
    return 0;
  }
  visited_.clear();
  walkBlock_.clear();
  auto tree = std::make_unique<DbxIndexTree>();
  try {
    // Values arrive in position order, so the array grows with what the walk finds
    // instead of trusting the header's count for one large allocation up front.
    // Each value needs a 12-byte entry somewhere in the file.
    tree->values.reserve(std::min<uint64_t>(messageCount_, look->size / 12 + 1));
  } catch (const std::bad_alloc&) {
    throw DbxException("Error allocating memory !");
  }
  index_ = std::move(tree);
  try {
    ReadNode(root, 0, 0, messageCount_, 0);
  } catch (...) {
    index_.reset();
    visited_.clear();
    walkBlock_.clear();
    throw;
  }
  visited_.clear();
  walkBlock_.clear();
  if (looked) indexLook_ = std::move(look);
  return messageCount_;
}

void DbxReader::ReadNode(uint32_t offset, uint32_t parent, uint64_t first, uint64_t expected, int depth) {
  if (first + expected > messageCount_) throw DbxException("To many values to read !");
  if (depth > kMaxTreeDepth) throw DbxException("Index tree too deep !");
  unsigned char node[kNodeSize];
  if (!ReadNodeBytes(offset, node)) throw DbxException("Error reading node from input stream !");
  if (dbx::Le32(node) != offset) throw DbxException("Wrong object marker !");
  if (dbx::Le32(node + 0x0C) != parent) throw DbxException("Wrong parent !");
  unsigned entries = node[0x11];
  if (entries > kNodeEntries) throw DbxException("Wrong value for entries !");
  // A node reached twice would be counted twice, and a file can chain such links
  // into a walk that never ends.
  if (!visited_.insert(offset).second) throw DbxException("Node referenced twice !");

  uint64_t found = 0;
  uint32_t firstChild = dbx::Le32(node + 0x08);
  if (firstChild != 0) {
    uint32_t firstCount = dbx::Le32(node + 0x14);
    ReadNode(firstChild, offset, first, firstCount, depth + 1);
    found = firstCount;
  }
  for (unsigned k = 0; k < entries; ++k) {
    const unsigned char* entry = node + 0x18 + 12 * k;
    uint32_t value = dbx::Le32(entry);
    uint32_t child = dbx::Le32(entry + 4);
    uint32_t childCount = dbx::Le32(entry + 8);
    if (value != 0) {
      ++found;
      if (first + found > messageCount_) throw DbxException("To many values !");
      try {
        index_->values.push_back(value);  // position first + found - 1
      } catch (const std::bad_alloc&) {
        throw DbxException("Error allocating memory !");
      }
    }
    if (child != 0) {
      ReadNode(child, offset, first + found, childCount, depth + 1);
      found += childCount;
    }
  }
  if (found != expected) throw DbxException("Wrong number of values found!");
}

bool DbxReader::ReadNodeBytes(uint32_t offset, unsigned char* node) {
  uint64_t start = offset;
  if (start < walkBlockStart_ || start + kNodeSize > walkBlockStart_ + walkBlock_.size()) {
    walkBlock_.resize(kWalkBlockSize);
    size_t got = 0;
    if (!file_.ReadAt(start, walkBlock_.data(), walkBlock_.size(), got) || got < kNodeSize) {
      // A block may reach into bytes the client holds locked; the node alone may not.
      walkBlock_.clear();
      return dbx::ReadAt(file_, start, node, kNodeSize);
    }
    walkBlock_.resize(got);
    walkBlockStart_ = start;
  }
  std::memcpy(node, walkBlock_.data() + (start - walkBlockStart_), kNodeSize);
  return true;
}

uint32_t DbxReader::IndexAt(uint32_t position) const {
  if (!index_ || position >= messageCount_ || position >= index_->values.size()) throw DbxException("Wrong index !");
  return index_->values[position];
}

void DbxReader::LogError(const std::string& prefix, const std::string& text) {
  try {
    std::tm now = platform::LocalTimeNow();
    char stamp[128];
    // The "C" locale's date and time form, spelt out so every build writes the same.
    if (std::strftime(stamp, sizeof stamp, "%m/%d/%y %H:%M:%S", &now) == 0) stamp[0] = '\0';
    platform::File log;
    if (!log.Open(path_ + ".log", platform::Access::ReadWrite, platform::kShareRead | platform::kShareWrite,
                  platform::Disposition::OpenAlways))
      return;
    std::string line = std::string(stamp) + ": " + prefix + text + "\r\n";
    uint64_t end = 0;
    if (log.Size(end)) log.WriteAt(end, line.data(), line.size());
  } catch (...) {
  }
}

}  // namespace kestrelon
