// The mail client's side of a message file: creates a DBX message file and edits it the
// way the client does (append and delete messages, change their flags), keeping the
// index tree valid.
//
// Every edit writes its new objects (texts, records, a fresh index tree) into space that
// the current tree does not reference, flushes them to disk, and only then rewrites the
// header block (left to the system to write back, unless Sync is called), whose "entries in the tree" and root pointer words switch the file over
// in one write. A reader therefore sees either the old tree or the new one; an edit cut
// short leaves the old tree in place, and a torn header (count and root from different
// edits) fails the reader's count checks because every edit changes the count or the
// root. Records and texts are written once and never changed or reused: a changed
// record is written anew.
//
// Edits of one file exclude each other between processes and between handles: each takes
// an exclusive lock on a byte beyond the largest offset a message file can hold, reads
// the file's state afresh and only then changes it. Readers take no lock and are never
// kept waiting by it.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_set>

#include "platform/file.h"
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
  // The byte whose lock makes an edit exclusive: offsets of a message file are 32 bits,
  // so no reader ever reads it.
  static constexpr uint64_t kEditLockOffset = 0x100000000ull;

  // Creates (or empties) the file at `path` as a message file without messages. An
  // emptied message file goes on with the message indexes where it stopped.
  static void Create(const std::string& path);
  // Creates the file as Create does when it is missing or empty; leaves a file with
  // content alone, also when another process creates it at the same time.
  static void CreateIfMissing(const std::string& path);

  // Opens an existing message file and reads its index. Raises DbxWriteError.
  explicit DbxWriter(const std::string& path);

  // Holds the file's edit lock while it lives, with the state read afresh when it is
  // taken: what the holder reads and edits meanwhile is one step for every other
  // process. Edits inside take no lock of their own. Holding two files' locks at once,
  // take them in the order of LockOrder.
  class Edit {
   public:
    explicit Edit(DbxWriter& writer);
    ~Edit();
    Edit(const Edit&) = delete;
    Edit& operator=(const Edit&) = delete;

   private:
    DbxWriter& writer_;
  };
  // True when `a`'s lock is taken before `b`'s.
  static bool LockOrder(const std::string& a, const std::string& b) { return a < b; }

  // Appends one message; returns its message index (one above the highest ever given).
  uint32_t Append(const DbxEnvelope& envelope, std::string_view raw);
  // Appends several messages with one tree update; returns their message indexes.
  std::vector<uint32_t> AppendMany(const std::vector<DbxNewMessage>& messages);
  // Removes the message with this message index; false when there is none.
  bool Delete(uint32_t messageIndex);
  // Sets the bits `set` and clears the bits `clear` of a message's flags; false when
  // there is no such message.
  bool ChangeFlags(uint32_t messageIndex, uint32_t set, uint32_t clear);
  // The message with this message index, as of the last look at the file.
  bool Find(uint32_t messageIndex, DbxListEntry& entry);

  // Record offsets in index order (ascending message index), as of the last look at the
  // file: the construction or the edit in progress.
  const std::vector<uint32_t>& RecordOffsets() const { return records_; }
  // The messages in index order; reads every record.
  std::vector<DbxListEntry> Entries();
  uint32_t HighestIndex() const { return highestIndex_; }
  // The header block as last read or written; every edit changes it.
  std::string HeaderBytes() const;
  // Puts the last edit on disk, header included. Raises DbxWriteError.
  void Sync();

 private:
  void Lock();
  void Unlock();
  void ReadState();
  void ReadFreeNodes();
  void WalkNode(uint32_t offset, uint32_t parent, int depth);
  uint32_t ReadRecordIndex(uint32_t recordOffset, uint32_t& address);
  std::string ReadRecordBytes(uint32_t recordOffset);
  size_t FindPosition(uint32_t messageIndex);
  uint32_t WriteText(std::string_view raw);
  uint32_t WriteRecord(uint32_t messageIndex, const DbxEnvelope& envelope, uint32_t address, uint32_t textLength);
  void ReleaseSpace(uint32_t recordOffset, uint32_t address);
  void CommitTree();
  bool ReadAt(uint64_t offset, void* data, size_t size);
  void WriteAt(uint64_t offset, const void* data, size_t size);
  void Flush();
  uint32_t Allocate(uint32_t size);

  std::string path_;
  platform::File file_;
  int lockDepth_ = 0;
  bool stateKnown_ = false;  // the fields below match the file as this handle left it
  uint64_t fileSize_ = 0;
  std::vector<uint32_t> header_;  // the header block as words
  std::vector<uint32_t> records_;  // record offsets in index order
  uint32_t highestIndex_ = 0;
  uint64_t end_ = 0;                 // first free byte at the end of the file
  std::vector<uint32_t> treeNodes_;  // nodes of the current tree
  std::vector<uint32_t> freeNodes_;  // nodes of earlier trees, free for the next one
  std::unordered_set<uint32_t> walked_;
  uint32_t lastRecord_ = 0, lastRecordSize_ = 0, lastSegment_ = 0, lastSegmentUsed_ = 0;
};

}  // namespace kestrelon::client
