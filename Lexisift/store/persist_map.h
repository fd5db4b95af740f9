// CPersistMap: the token store, a hash map that lives entirely in one file.
//
// File layout (little-endian): a table of 60000 bucket slots of 13 bytes, slot 0 doubling
// as the header (hamMails, spamMails, chain head of bucket 0, state mark), then item
// records appended in creation order: ham, spam, next (absolute offset, 0 ends the
// chain), key length 1..22, key bytes, 0x00. Every update is written to the file before
// the call returns. The single-writer store also keeps a copy of the file's bytes in
// memory, kept equal to the file by writing both, and walks its chains there: no other
// handle may write or lock the file while it is open, so the copy cannot go stale. The
// other forms read the file itself on every lookup. With the copy, one mail's updates
// are gathered and written together before AddItems, DeleteItems or SwapItems returns:
// first the new records appended, then the changed bytes before them, then the header.
//
// Failures are raised as StoreError carrying the exact message text.
#pragma once

#include "Lexisift/engine/token_table.h"
#include "Lexisift/store/map_item.h"
#include "Lexisift/store/store_error.h"
#include "platform/file.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kestrelon {

class CPersistMap {
 public:
  static constexpr uint32_t kBucketCount = 60000;
  static constexpr uint32_t kRecordHeaderSize = 13;
  static constexpr uint32_t kTableSize = kBucketCount * kRecordHeaderSize;  // 780000
  static constexpr uint64_t kStateMarkOffset = 12;

  // Opens the single-writer store at `path`, creating it if absent; an existing file is
  // checked and, when damaged, replaced by its backup or moved aside first. Other openers
  // may read the file while it is open, none may write it.
  explicit CPersistMap(const std::string& path);
  // Closes the file; a single-writer store then copies itself to "<path>.bak".
  virtual ~CPersistMap();
  CPersistMap(const CPersistMap&) = delete;
  CPersistMap& operator=(const CPersistMap&) = delete;

  // The item stored under `key`; zero counters when absent.
  virtual MapItem GetItem(std::string_view key);

  // Finds `key`. With `create`, an absent key's chain is linked to the end of the file,
  // where its record must be written next. Returns the stored item or a fresh one.
  MapItem GetKeyPos(std::string_view key, bool create);

  // Stores counters and key of `item`, in place for a known key, appended otherwise.
  void SetItem(const MapItem& item);

  // Learn, unlearn or re-learn one mail's tokens; each also moves the mail counters.
  void AddItems(const TokenTable& tokens, bool isSpam);
  void DeleteItems(const TokenTable& tokens, bool isSpam);
  void SwapItems(const TokenTable& tokens, bool toSpam);

  // Counts every record, walking each bucket's chain; -1 for a damaged chain. With
  // `textWanted` the listing "%6d %6d %6d %s\r\n" (bucket, ham, spam, key) is written to
  // `outputPath` (not written for a damaged store).
  int32_t EnumerateItems(bool textWanted, const std::string& outputPath);

  // Consistency walk of the records of an open map file: the number of records after the
  // first, or a negative value for a damaged file.
  static int32_t CheckMapFile(platform::File& file);

  static uint32_t Bucket(std::string_view key);

  int32_t HamMails() const { return hamMails_; }
  int32_t SpamMails() const { return spamMails_; }
  // The size of the store file; false when it cannot be read.
  bool FileSize(uint64_t& size);

 protected:
  struct Unopened {};
  // For the variants that open their file themselves; no backup on close.
  explicit CPersistMap(Unopened);

  // Writes the empty bucket table into an empty file.
  bool WriteEmptyTable();
  // Reads the mail counters from the file's first eight bytes (zeros if that fails).
  void ReadMailCounters();

  uint32_t recordHeaderSize_ = kRecordHeaderSize;
  std::string fileName_;
  platform::File file_;
  int32_t hamMails_ = 0;
  int32_t spamMails_ = 0;

 private:
  enum class Op { Add, Delete, Swap };

  // Where a key is: its record, or the end of its chain (the record or slot whose next
  // field must point at a new record).
  struct Place {
    bool found = false;
    uint64_t offset = 0;
    MapItem item;
  };
  Place Locate(std::string_view key);
  // File access through the in-memory copy when there is one.
  bool ReadBytes(uint64_t offset, void* buffer, size_t size, size_t& got);
  bool WriteBytes(uint64_t offset, const void* buffer, size_t size);
  bool EndOfFile(uint64_t& size);
  // Takes a copy of the whole file; without one (too large, unreadable) reads go to the file.
  void LoadImage();
  void DropImage();
  // Grows the copy to hold `end` bytes; false when it cannot.
  bool GrowImage(uint64_t end);
  // Writes the bytes gathered since deferring began to the file; false if any write failed.
  bool FlushDeferred();
  // Writes `item` at its place: in place when found, else appended and then linked.
  void Store(const Place& place, MapItem item);
  void Apply(const TokenTable& tokens, bool flag, Op op);
  void ApplyTokens(const TokenTable& tokens, bool flag, Op op);

  uint64_t position_ = 0;  // where GetKeyPos left the file
  bool imaged_ = false;
  std::vector<unsigned char> image_;  // the file's bytes while imaged_
  // While deferring, writes change only the copy: bytes from appendFrom_ on are new, and
  // dirty_ lists the changed ranges before it.
  bool deferring_ = false;
  uint64_t appendFrom_ = 0;
  std::vector<std::pair<uint64_t, uint64_t>> dirty_;  // [begin, end)
};

}  // namespace kestrelon
