// CPersistMap: the token store, a hash map that lives entirely in one file.
//
// File layout (little-endian): a table of 60000 bucket slots of 13 bytes, slot 0 doubling
// as the header (hamMails, spamMails, chain head of bucket 0, state mark), then item
// records appended in creation order: ham, spam, next (absolute offset, 0 ends the
// chain), key length 1..22, key bytes, 0x00. The file is the only copy of the counters:
// every update is in the file when the call returns. An index of the chains (key hash to
// record offset) spares lookups the walk through their chain, and a page cache spares
// them most reads.
//
// An update either happens whole or not at all: when one of its writes fails, the bytes
// it overwrote are written back and the file is cut to its old end before the failure is
// raised. A rollback that fails too is owed: the map refuses further updates, and makes
// no backup, until it succeeds. What an update overwrites in place is written to the
// companion "<path>.undo" before (undo_file.h), so that a process killed in the middle
// of an update leaves it for the next opening to roll back.
//
// Failures are raised as StoreError carrying the exact message text.
#pragma once

#include "Lexisift/engine/token_table.h"
#include "Lexisift/store/chain_index.h"
#include "Lexisift/store/map_format.h"
#include "Lexisift/store/map_item.h"
#include "Lexisift/store/page_cache.h"
#include "Lexisift/store/store_error.h"
#include "Lexisift/store/store_recovery.h"
#include "Lexisift/store/undo_file.h"
#include "platform/file.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace kestrelon {

class CPersistMap {
 public:
  static constexpr uint32_t kBucketCount = map_format::kBucketCount;
  static constexpr uint32_t kRecordHeaderSize = map_format::kRecordHeaderSize;
  static constexpr uint32_t kTableSize = map_format::kTableSize;
  static constexpr uint64_t kStateMarkOffset = 12;

  // Opens the single-writer store at `path`, creating it if absent, waiting up to
  // kStoreWaitMs while another program has it open (then StoreBusy). An existing file is
  // checked: an unfinished last record is cut off; a file damaged otherwise is replaced
  // by its sound backup or moved aside (RecoveryDone says which). Other openers may read
  // the file while it is open, none may write it.
  explicit CPersistMap(const std::string& path);
  // Closes the file; a single-writer store then copies itself to "<path>.bak" when it is
  // sound and no rollback is owed.
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
  // `outputPath` (not left for a damaged store, nor when it cannot be written whole).
  int32_t EnumerateItems(bool textWanted, const std::string& outputPath);

  // Consistency walk of the records of an open map file: the number of records after the
  // first, or a negative value for a damaged file.
  static int32_t CheckMapFile(platform::File& file);
  // The same for the file's first `size` bytes.
  static int32_t CheckMapFile(platform::File& file, uint64_t size);

  // A process killed while it appended records (or a disk that filled up under it) may
  // leave the file ending inside a record that nothing links to yet. Cuts that unfinished
  // record off when the whole records before it pass the check. Failed: there is such a
  // record, but the file could not be cut.
  enum class Cut { NotUnfinished, Done, Failed };
  static Cut CutUnfinishedRecord(platform::File& file);

  static uint32_t Bucket(std::string_view key);

  // Keeps this map's chain index for the next opening of `path` in this process, which
  // takes it when the file is still as this map left it (see shared_index_cache.h).
  // For maps opened afresh for every operation.
  void ShareIndexBetweenOpenings(const std::string& path) { sharedIndexPath_ = path; }

  // What the opening of a single-writer store did to a damaged file.
  Recovery RecoveryDone() const { return recovery_; }

  int32_t HamMails() const { return hamMails_; }
  int32_t SpamMails() const { return spamMails_; }
  // The size of the store file; false when it cannot be read.
  bool FileSize(uint64_t& size);

 protected:
  struct Unopened {};
  // For the variants that open their file themselves; no backup on close.
  explicit CPersistMap(Unopened);

  // Writes the empty bucket table into an empty file; on failure cuts the file back to
  // length 0.
  bool WriteEmptyTable();
  // Reads the mail counters from the file's first eight bytes (zeros if that fails).
  void ReadMailCounters();
  // Before anything reads the open store at `storePath`: rolls back an update that a
  // killed process left unfinished, and drops a record cut short. False when that cannot
  // be done; the store must then not be used.
  bool RollBackUnfinishedUpdate(const std::string& storePath);

  // Raises `text` after a read or write of the file failed, and remembers that it did.
  [[noreturn]] void Fail(const char* text);
  // Hands the index over for the next opening, unless an operation failed on the file.
  void PutBackSharedIndex();

  uint32_t recordHeaderSize_ = kRecordHeaderSize;
  std::string fileName_;
  platform::File file_;
  int32_t hamMails_ = 0;
  int32_t spamMails_ = 0;
  bool fileFailed_ = false;  // a lookup or update failed on the file
  bool written_ = false;     // an update wrote to the file since it was opened
  // Built from the file at the first lookup, or handed over by the opener.
  std::unique_ptr<ChainIndex> index_;
  bool indexUnavailable_ = false;  // building failed: lookups walk the chains
  std::string sharedIndexPath_;

 private:
  enum class Op { Add, Delete, Swap };

  // Where a key is: its record, or the end of its chain (the record or slot whose next
  // field must point at a new record).
  struct Place {
    bool found = false;
    bool indexed = false;  // the index vouches for the key's chain
    uint64_t offset = 0;
    uint32_t bucket = 0;
    uint64_t hash = 0;
    MapItem item;
  };
  // The bytes of one update: new records appended in one write, then links and counters
  // rewritten in place, merged into as few writes as the file's layout allows.
  struct Patch {
    uint64_t offset;
    uint8_t size;
    unsigned char bytes[8];
    unsigned char old[8];  // what the file holds there before the update
  };
  struct Added {
    const Place* place;
    uint64_t offset;  // in the file
    size_t at;        // in the appended bytes
  };
  struct Batch {
    std::vector<unsigned char> appended;
    std::vector<Patch> patches;
    std::vector<Added> added;
  };
  // What an update overwrites, and the mail counters it starts from and leaves.
  using Undo = StoreUndo;

  Place Locate(std::string_view key) { return Locate(key, ChainIndex::Hash(key)); }
  // `hash` is ChainIndex::Hash(key).
  Place Locate(std::string_view key, uint64_t hash);
  Place LocateIndexed(std::string_view key, uint32_t bucket, uint64_t hash);
  Place Walk(std::string_view key, uint32_t bucket);
  void EnsureIndex();
  // Adds `item` at `place` to the batch; `end` is where the file ends before the batch.
  void Prepare(Batch& batch, const Place& place, const MapItem& item, uint64_t end);
  // The links to the new records: from the one added before it in its chain, or for the
  // first from the tail its lookup found.
  void Link(Batch& batch);
  // Writes the undo record, then the batch; false when a write failed.
  bool Commit(Batch& batch, uint64_t end, Undo& undo);
  bool WritePatches(std::vector<Patch>& patches);
  // Tells the index about the records a committed batch added.
  void Remember(const Batch& batch);
  void Apply(const TokenTable& tokens, bool flag, Op op);
  void RememberLookup(const Place& place);

  // The undo record of an update that starts at file size `end`.
  Undo& StartUpdate(uint64_t end);
  // Puts back what the update overwrote, cuts the file to its old end and drops the undo
  // record; false when a write or the cut failed.
  bool RollBack(const Undo& undo);
  // Rolls a failed update back (or leaves the rollback owed) and raises the write failure.
  [[noreturn]] void AbortUpdate(Undo& undo);
  // After an update's last write: its undo record is no longer needed.
  void FinishUpdate(Undo& undo);
  // Finishes a rollback that is owed; raises the write failure while it cannot.
  void SettleRollBack();

  // The file was checked whole at the opening, `checkedSize_` bytes long (0: not known).
  // Since then updates write counters, records past that size, and the link fields of
  // records and slots before it that ended a chain: those fields are listed here, so that
  // the check before a backup need only look at what changed (SoundSinceCheck).
  uint64_t checkedSize_ = 0;
  std::vector<uint32_t> linksSinceCheck_;
  void NoteLinkWritten(uint64_t field);
  // Whether the file, `size` bytes long, is sound, given that it was at the opening:
  // the records appended since are whole and end at `size`, and every link they hold or
  // that was written since leads forward to one of them, no two to the same.
  bool SoundSinceCheck(uint64_t size);

  Undo undo_;
  std::unique_ptr<Undo> owedRollBack_;
  UndoFile undoFile_;
  Recovery recovery_ = Recovery::None;

  PageCache cache_{file_};  // lookups and updates after opening go through it
  // The places that lookups found since the file last changed, in order: a processed
  // mail is scored token by token and then learned, and its update need not look the
  // same tokens up again.
  static constexpr size_t kMaxRememberedLookups = 1 << 16;
  std::vector<Place> lookups_;
  uint64_t lookupsGeneration_ = 0;
};

}  // namespace kestrelon
