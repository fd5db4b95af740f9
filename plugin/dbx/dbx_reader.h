// The reader of the mail client's Inbox file: header, index tree, lookups, message
// text, and the reader error log beside the file.
//
// The client keeps writing the file while we read it: every ReadMessage and SaveMessage
// starts with LoadIndex, which keeps the index it read last as long as the file's size,
// header block and last write time are the ones it was read with, and reads it afresh
// whenever one of them changed.
#pragma once

#include "plugin/dbx/dbx_exception.h"
#include "plugin/dbx/dbx_header.h"
#include "platform/file.h"

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

namespace kestrelon {

// The record offsets of the index tree in tree order (ascending message index).
struct DbxIndexTree {
  std::vector<uint32_t> values;
};

class DbxReader {
 public:
  // Deepest index tree we walk; the client's trees are a few levels deep.
  static constexpr int kMaxTreeDepth = 64;
  // Longest raw text handed on when the caller asks for the cut (messages with files).
  static constexpr size_t kCutLength = 30000;

  // Opens the file for reading, letting others read and write it meanwhile; a file that
  // cannot be opened raises nothing, every later operation then fails at its first read.
  explicit DbxReader(const std::string& path);

  // Reads the header, and the whole index tree unless the file is unchanged since the
  // last successful load; returns the message count. Raises DbxException.
  uint32_t LoadIndex();

  // The record offset at this position of the index; raises "Wrong index !".
  uint32_t IndexAt(uint32_t position) const;

  // The message address (first text segment) of the record whose message index is
  // `id`, or 0. Needs a LoadIndex that returned at least 1. Raises DbxException.
  uint32_t FindMessageAddress(uint32_t id, bool newestFirst);
  // The same; `recordFound` tells a record of that index without a message address
  // (address 0) from no record at all.
  uint32_t FindMessageAddress(uint32_t id, bool newestFirst, bool& recordFound);

  // Raw header block and body of message `id` (see message_content.h for the rules).
  // Never raises; false when the message is not there or cannot be read.
  bool ReadMessage(uint32_t id, std::string& header, std::string& body, bool cutLongText);

  // Writes the whole raw text of message `id` (NUL bytes included) to a new file at
  // `path`: written under a temporary name in the same folder, then renamed, so the file
  // appears whole or not at all, never over an existing file nor through a link. When
  // `path` is taken, false; with `numberTakenNames`, the first free "<name> (n).eml"
  // instead. Never raises; false when not found, empty, or not written.
  bool SaveMessage(uint32_t id, const std::string& path, bool numberTakenNames = false);

  // Appends "<time>: <prefix><text>\r\n" to the reader error log; never fails.
  void LogError(const std::string& prefix, const std::string& text);

  uint32_t MessageCount() const { return messageCount_; }
  bool HtmlFlag() const { return htmlFlag_; }
  const std::string& Path() const { return path_; }
  // The open Inbox file, for reading records and texts.
  platform::File& Stream() { return file_; }

 private:
  void ReadNode(uint32_t offset, uint32_t parent, uint64_t first, uint64_t expected, int depth);
  // One node of the walk, served from the block read last when it lies inside it.
  bool ReadNodeBytes(uint32_t offset, unsigned char* node);
  uint32_t RecordIndexValue(uint32_t recordOffset, uint32_t attribute, bool& present);

  // What the file looked like when index_ was read: a file with the same size, header
  // block and write time holds the same index.
  struct FileLook {
    uint64_t size = 0;
    uint64_t writeTime = 0;
    DbxHeader header;
    bool SameAs(const FileLook& other) const;
  };
  // The size and write time of the file now; false when the time cannot be told.
  bool LookAtFile(FileLook& look);

  platform::File file_;
  std::unique_ptr<DbxIndexTree> index_;
  std::unique_ptr<FileLook> indexLook_;  // with index_, when the look could be taken
  std::string path_;
  uint32_t messageCount_ = 0;
  uint32_t soughtId_ = 0;
  bool htmlFlag_ = false;
  // Walk state of the LoadIndex in progress. The client writes the nodes of a tree close
  // together, so the walk reads the file in blocks rather than one system call per node;
  // the block is dropped when the walk ends, so each LoadIndex still sees the file as it
  // is then.
  static constexpr size_t kWalkBlockSize = 64 * 1024;
  std::unordered_set<uint32_t> visited_;
  std::vector<unsigned char> walkBlock_;
  uint64_t walkBlockStart_ = 0;
};

}  // namespace kestrelon
