// CPersistMap: the token store, a hash map that lives entirely in one file.
//
// File layout (little-endian): a table of 60000 bucket slots of 13 bytes, slot 0 doubling
// as the header (hamMails, spamMails, chain head of bucket 0, state mark), then item
// records appended in creation order: ham, spam, next (absolute offset, 0 ends the
// chain), key length 1..22, key bytes, 0x00. Nothing but the two mail counters is kept
// in memory; every lookup and update goes to the file.
//
// Failures are raised as StoreError carrying the exact message text.
#pragma once

#include "Lexisift/engine/token_table.h"
#include "Lexisift/store/map_item.h"
#include "Lexisift/store/page_cache.h"
#include "Lexisift/store/store_error.h"
#include "platform/file.h"

#include <cstdint>
#include <string>
#include <string_view>

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

  // Raises `text` after a read or write of the file failed, and remembers that it did.
  [[noreturn]] void Fail(const char* text);

  uint32_t recordHeaderSize_ = kRecordHeaderSize;
  std::string fileName_;
  platform::File file_;
  int32_t hamMails_ = 0;
  int32_t spamMails_ = 0;
  bool fileFailed_ = false;  // a lookup or update failed on the file

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
  // Writes `item` at its place: in place when found, else appended and then linked.
  // Returns the record's offset.
  uint64_t Store(const Place& place, MapItem item);
  void Apply(const TokenTable& tokens, bool flag, Op op);

  uint64_t position_ = 0;  // where GetKeyPos left the file
  PageCache cache_{file_};  // lookups and updates after opening go through it
};

}  // namespace kestrelon
