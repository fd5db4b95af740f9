// The mail client's side of a message file: creates a DBX message file and edits it the
// way the client does (append and delete messages), keeping the index tree valid.
//
// Every edit writes its new objects (texts, records, a fresh index tree) into space that
// the current tree does not reference, flushes them, and only then rewrites the header
// block, whose "entries in the tree" and root pointer words switch the file over in one
// write. A reader therefore sees either the old tree or the new one; an edit cut short
// leaves the old tree in place, and a torn header (count and root from different edits)
// fails the reader's count checks because every edit changes the count.
#pragma once

#include <cstdint>
#include <fstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace kestrelon::client {

// Raised for I/O failures and for files whose index the writer cannot walk.
class DbxWriteError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Flag bit of a message that has not been read yet.
constexpr uint32_t kDbxFlagUnread = 0x00000080;

// What the client records about a message besides its text.
struct DbxEnvelope {
  uint32_t flags = kDbxFlagUnread;
  uint64_t sentTime = 0;      // FILETIME: 100 ns units since 1601-01-01 UTC
  uint64_t receivedTime = 0;  // FILETIME
  std::string subject;
  std::string senderName;
  std::string senderAddress;
  std::string receiverName;
  std::string receiverAddress;
  std::string messageId;  // the Message-ID header, may be empty
};

struct DbxNewMessage {
  DbxEnvelope envelope;
  std::string raw;  // RFC 822 bytes exactly as delivered
};

// One message of the file in index order.
struct DbxListEntry {
  uint32_t messageIndex = 0;
  uint32_t recordOffset = 0;
  uint32_t messageAddress = 0;
};

// Converts seconds since 1970 (UTC) into a FILETIME value.
uint64_t FileTimeFromUnix(int64_t seconds);

class DbxWriter {
 public:
  // The four words every message file of the client begins with.
  static constexpr uint32_t kSignature[4] = {0xFE12ADCF, 0x6F74FDC5, 0x11D1E366, 0xC0004E9A};
  static constexpr uint32_t kHeaderSize = 0x24BC;
  static constexpr uint32_t kNodeSize = 0x27C;
  static constexpr uint32_t kNodeEntries = 51;
  static constexpr uint32_t kSegmentText = 0x200;
  static constexpr uint32_t kSegmentSize = 16 + kSegmentText;

  // Creates (or empties) the file at `path` as a message file without messages.
  static void Create(const std::string& path);

  // Opens an existing message file and reads its index. Raises DbxWriteError.
  explicit DbxWriter(const std::string& path);

  // Appends one message; returns its message index (one above the highest ever given).
  uint32_t Append(const DbxEnvelope& envelope, std::string_view raw);
  // Appends several messages with one tree update; returns their message indexes.
  std::vector<uint32_t> AppendMany(const std::vector<DbxNewMessage>& messages);
  // Removes the message with this message index; false when there is none.
  bool Delete(uint32_t messageIndex);

  // The messages in index order (ascending message index).
  const std::vector<DbxListEntry>& Entries() const { return entries_; }
  uint32_t HighestIndex() const { return highestIndex_; }

 private:
  void ReadState();
  void ReadFreeNodes(uint64_t fileSize);
  void WalkNode(uint32_t offset, uint32_t parent, int depth, uint64_t fileSize);
  uint32_t ReadRecordIndex(uint32_t recordOffset, uint32_t& address, uint64_t fileSize);
  uint32_t WriteText(std::string_view raw);
  uint32_t WriteRecord(uint32_t messageIndex, const DbxEnvelope& envelope, uint32_t address, uint32_t textLength);
  void ReleaseSpace(const DbxListEntry& entry);
  void CommitTree();
  void WriteAt(uint64_t offset, const void* data, size_t size);
  uint32_t Allocate(uint32_t size);

  std::string path_;
  std::fstream file_;
  std::vector<uint32_t> header_;  // the header block as words
  std::vector<DbxListEntry> entries_;
  uint32_t highestIndex_ = 0;
  uint64_t end_ = 0;        // first free byte at the end of the file
  std::vector<uint32_t> treeNodes_;  // nodes of the current tree
  std::vector<uint32_t> freeNodes_;  // nodes of earlier trees, free for the next one
  std::unordered_set<uint32_t> walked_;
  uint32_t lastRecord_ = 0, lastRecordSize_ = 0, lastSegment_ = 0, lastSegmentUsed_ = 0;
};

}  // namespace kestrelon::client
