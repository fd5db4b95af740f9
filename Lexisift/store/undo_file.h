// The undo record of a store update, kept beside the store in "<store path>.undo" while
// the update changes the store in place. Before its first write to the store, an update
// writes what it will overwrite (the file's size and the old bytes of every range it
// rewrites in place) into the companion file; after its last write it marks the record
// finished. A process killed in between leaves a whole record that the next opening
// of the store, single-writer or shared, puts back before anything reads the counters:
// the store is then as that update found it. A record cut short (the process was killed
// while writing it, before the store was touched) or one that does not belong to the
// store is dropped. A store whose path leaves no room for the companion's name
// (kMaxStorePath) has no companion: there a kill can leave an update cut short.
//
// The record protects against a process that ends, not against a machine that loses
// power: neither file is flushed to the disk, so an update costs two more system calls
// (the record's write and the mark), not a wait for the disk.
//
// Record layout (little-endian): magic "KSU2", record length (4), the store's size
// before the update (8), its mail counters before (ham, spam) and after the update (4
// each), the number of ranges (4); per range its offset in the store (8), its length (4)
// and the old bytes; then the sum of everything before it (UndoRecordSum). A record of
// magic "KSU1", written by earlier versions, has the 64-bit FNV-1a there instead. A
// finished record has its magic overwritten with zeros; the file keeps its length, and a
// shorter record written later leaves the end of a longer one after it. A record belongs
// to a store at least as long as the size it names whose mail counters are the record's
// before or after counters.
#pragma once

#include "platform/file.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kestrelon {

// What an update overwrites in the store (ranges that do not overlap), and the mail
// counters it starts from and leaves.
struct StoreUndo {
  uint64_t end = 0;  // the file's size before the update
  int32_t hamMails = 0;
  int32_t spamMails = 0;
  int32_t hamAfter = 0;
  int32_t spamAfter = 0;
  bool patched = false;  // the update began to rewrite the ranges
  struct Range {
    uint64_t offset;
    size_t at;  // in bytes
    size_t size;
  };
  std::vector<Range> ranges;
  std::vector<unsigned char> bytes;
  void Save(uint64_t offset, const unsigned char* old, size_t size);
};

// The record as it is written, and read back from the start of `data`: false for
// anything but a whole, sound record whose ranges lie before the size it names. A record
// read back counts as patched.
void EncodeUndoRecord(const StoreUndo& undo, std::vector<unsigned char>& out);
bool DecodeUndoRecord(const unsigned char* data, size_t size, StoreUndo& undo);

// 64-bit FNV-1a.
uint64_t Fnv1a(const unsigned char* data, size_t size);
// The sum that closes a record: a word-at-a-time relative of FNV-1a.
uint64_t UndoRecordSum(const unsigned char* data, size_t size);

class UndoFile {
 public:
  static std::string PathFor(const std::string& storePath) { return storePath + ".undo"; }

  // At an opening of the store at `storePath`: opens its companion when there is one.
  // False when it is there but cannot be opened.
  bool Open(const std::string& storePath);
  // Whether the companion holds the record of an unfinished update of `store` (`undo`).
  bool Unfinished(platform::File& store, StoreUndo& undo);
  // Writes the record of an update before it touches the store, creating the companion
  // when needed; false when it cannot be written whole.
  bool Write(const StoreUndo& undo);
  // The update is finished (or rolled back, or its record dropped): marks the record so.
  bool Finish();

 private:
  std::string path_;
  platform::File file_;
  std::vector<unsigned char> record_;  // kept from update to update
  bool holdsRecord_ = false;           // the companion may hold a record
  bool unnamed_ = false;               // the store's path leaves no room for the name
  size_t longest_ = 0;                 // the longest record written since the opening
};

}  // namespace kestrelon
