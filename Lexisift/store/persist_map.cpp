#include "Lexisift/store/persist_map.h"

#include "Lexisift/store/kill_point.h"
#include "Lexisift/store/shared_index_cache.h"
#include "Lexisift/store/store_recovery.h"
#include "Lexisift/store/table_scan.h"
#include "Lexisift/store/zeroed_array.h"
#include "platform/prefetch.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

namespace kestrelon {

using map_format::PutU32;
using map_format::ReadU32;

namespace {

constexpr size_t kMaxRecordSize = CPersistMap::kRecordHeaderSize + kMaxKeyLength + 1;
// In-place writes made with calls closer than this are merged into one write that carries
// the bytes between them as they are: a system call costs more than copying a page.
constexpr uint64_t kMergeGap = 2048;
// How many lookups ahead an update asks for the index entry of a token: far enough for the
// fetch from memory to finish, near enough that few are in flight at once.
constexpr size_t kLookupsAhead = 8;

// A process killed during a write may leave it cut short at a page boundary of the file.
// Writes are laid out so that such a cut never splits a record or a changed field: only
// a record or field that straddles a boundary itself is written on its own.
constexpr uint64_t kPageSize = 4096;

bool Straddles(uint64_t offset, uint64_t size) { return offset / kPageSize != (offset + size - 1) / kPageSize; }

int32_t ReadI32(const unsigned char* p) { return static_cast<int32_t>(ReadU32(p)); }

// Counters wrap in 32 bits instead of overflowing.
int32_t Plus(int32_t x, uint32_t n) { return static_cast<int32_t>(static_cast<uint32_t>(x) + n); }

// x reduced by n, stopping at 0.
int32_t Reduce(int32_t x, uint32_t n) {
  int64_t wide = static_cast<int64_t>(x) - static_cast<int64_t>(n);
  return static_cast<int64_t>(x) > static_cast<int64_t>(static_cast<int32_t>(n)) ? static_cast<int32_t>(wide) : 0;
}

int32_t Decrement(int32_t x) { return x > 1 ? x - 1 : 0; }

void CheckKey(std::string_view key) {
  if (key.empty() || key.size() > kMaxKeyLength) throw StoreError(kErrKeyLength);
}

// Record header, key and terminator as stored.
size_t EncodeRecord(const MapItem& item, unsigned char* out) {
  PutU32(out, static_cast<uint32_t>(item.ham));
  PutU32(out + 4, static_cast<uint32_t>(item.spam));
  PutU32(out + 8, item.next);
  out[12] = item.keyLength;
  std::memcpy(out + 13, item.key, item.keyLength);
  out[13 + item.keyLength] = 0;
  return CPersistMap::kRecordHeaderSize + item.keyLength + 1u;
}

}  // namespace

CPersistMap::CPersistMap(Unopened) {}

CPersistMap::CPersistMap(const std::string& path) : fileName_(path) {
  // The file is checked through the handle that then keeps it, so no other writer can
  // change it in between. Only a file that must be replaced is let go for that.
  uint64_t size = 0;
  for (int attempt = 0;; ++attempt) {
    if (!file_.OpenWaiting(path, platform::Access::ReadWrite, platform::kShareRead, platform::Disposition::OpenAlways,
                           true, kStoreWaitMs)) {
      if (file_.LastOpenError() == platform::OpenError::InUse) throw StoreBusy(kErrOpen);
      throw StoreError(kErrOpen);
    }
    file_.SkipLockChecks();  // nobody else may write or lock the file while it is open here
    if (attempt == 0 && !RollBackUnfinishedUpdate(path)) throw StoreError(kErrOpen);
    if (!file_.Size(size)) throw StoreError(kErrSize);
    // A process that ended (or a disk that filled up) in the middle of an append leaves
    // an unfinished record at the end that nothing links to: cutting it off gives the
    // file as it was before that update.
    if (size != 0 && IsSoundMapFile(file_, size)) break;
    Cut cut = size != 0 ? CutUnfinishedRecord(file_) : Cut::NotUnfinished;
    if (cut == Cut::Done) break;
    // Not given up for the backup, which would lose what was learned since.
    if (cut == Cut::Failed) throw StoreError(kErrOpen);
    // An empty file is a new store, unless a sound backup says it was one before.
    if (size == 0 && (attempt > 0 || !IsSoundMapFile(path + ".bak"))) break;
    if (attempt > 0) throw StoreError(kErrOpen);  // replaced, and damaged again
    file_.Close();
    recovery_ = RecoverMapFile(path);
  }
  // Lookups and updates read and patch the file through memory; appends still write.
  file_.MapWrittenPart();
  if (!file_.Size(size)) throw StoreError(kErrSize);
  if (size == 0) {
    if (!WriteEmptyTable()) throw StoreError(kErrOpen);
    size = kTableSize;
  } else {
    ReadMailCounters();
  }
  checkedSize_ = size;  // found sound above, or made so
}

CPersistMap::~CPersistMap() {
  PutBackSharedIndex();
  bool backup = !fileName_.empty();
  if (owedRollBack_) {
    if (RollBack(*owedRollBack_)) owedRollBack_.reset();
    else backup = false;  // the file may hold part of an update
  }
  // A backup is only ever made of a sound file: one that an update changed is checked,
  // as far as it changed since the opening's check (whole when that is not known).
  uint64_t size = 0;
  if (backup && written_)
    backup = file_.Size(size) && (checkedSize_ != 0 ? SoundSinceCheck(size) : IsSoundMapFile(file_, size));
  file_.Close();
  if (backup) platform::CopyFileReplace(fileName_, fileName_ + ".bak");
}

bool CPersistMap::WriteEmptyTable() {
  hamMails_ = spamMails_ = 0;
  cache_.Clear();
  if (index_) index_->Clear();
  indexUnavailable_ = false;
  written_ = true;
  static const unsigned char kZeros[kRecordHeaderSize * 4096] = {};
  for (uint64_t at = 0; at < kTableSize; at += sizeof kZeros) {
    if (!file_.WriteAt(at, kZeros, static_cast<size_t>(std::min<uint64_t>(sizeof kZeros, kTableSize - at)))) {
      file_.Truncate(0);
      return false;
    }
  }
  return true;
}

void CPersistMap::ReadMailCounters() {
  unsigned char head[8] = {};
  size_t got = 0;
  if (file_.ReadAt(0, head, sizeof head, got) && got == sizeof head) {
    hamMails_ = ReadI32(head);
    spamMails_ = ReadI32(head + 4);
  }
}

bool CPersistMap::FileSize(uint64_t& size) { return file_.Size(size); }

uint32_t CPersistMap::Bucket(std::string_view key) { return map_format::Bucket(key); }

void CPersistMap::EnsureIndex() {
  if (indexUnavailable_ || (index_ && index_->Built())) return;
  uint64_t size = 0;
  if (!file_.Size(size)) {
    indexUnavailable_ = true;
    return;
  }
  if (!sharedIndexPath_.empty()) {
    std::unique_ptr<ChainIndex> kept = TakeSharedIndex(sharedIndexPath_);
    if (kept && IndexStillHolds(*kept, file_, size)) {
      index_ = std::move(kept);
      return;
    }
  }
  if (!index_) index_ = std::make_unique<ChainIndex>();
  if (!index_->Build(file_, size)) indexUnavailable_ = true;
}

void CPersistMap::PutBackSharedIndex() {
  if (sharedIndexPath_.empty() || fileFailed_ || !index_ || !index_->Built()) return;
  KeepSharedIndex(sharedIndexPath_, std::move(index_));
}

CPersistMap::Place CPersistMap::Locate(std::string_view key, uint64_t hash) {
  if (!file_.IsOpen()) throw StoreError(kErrFileNotFound);
  CheckKey(key);
  uint32_t bucket = Bucket(key);
  EnsureIndex();
  if (index_ && index_->Trusted(bucket)) return LocateIndexed(key, bucket, hash);
  return Walk(key, bucket);
}

CPersistMap::Place CPersistMap::LocateIndexed(std::string_view key, uint32_t bucket, uint64_t hash) {
  Place place;
  place.indexed = true;
  place.bucket = bucket;
  place.hash = hash;
  place.item = MapItem::FromKey(key);
  const size_t wanted = kRecordHeaderSize + key.size() + 1;
  unsigned char buffer[kMaxRecordSize];
  bool found = index_->Find(place.hash, [&](uint32_t at) {
    size_t got = 0;
    if (!cache_.Read(at, buffer, wanted, got)) Fail(kErrRead);
    if (got < wanted || buffer[12] != key.size() || std::memcmp(buffer + 13, key.data(), key.size()) != 0 ||
        buffer[13 + key.size()] != 0)
      return false;  // another key with the same hash
    place.offset = at;
    return true;
  });
  if (!found) {
    place.offset = index_->Tail(bucket);
    return place;
  }
  place.found = true;
  place.item.ham = ReadI32(buffer);
  place.item.spam = ReadI32(buffer + 4);
  place.item.next = ReadU32(buffer + 8);
  return place;
}

CPersistMap::Place CPersistMap::Walk(std::string_view key, uint32_t bucket) {
  uint64_t p = static_cast<uint64_t>(bucket) * kRecordHeaderSize;
  // One read takes the header and, when it is the key's record, the key with it.
  unsigned char buffer[kMaxRecordSize];
  for (;;) {
    size_t got = 0;
    if (!cache_.Read(p, buffer, sizeof buffer, got) || got < kRecordHeaderSize) Fail(kErrRead);
    uint32_t next = ReadU32(buffer + 8);
    if (buffer[12] == key.size()) {
      if (got < kRecordHeaderSize + key.size() + 1) {
        size_t more = 0;  // a short key read is not an error: the comparison fails
        cache_.Read(p + kRecordHeaderSize, buffer + kRecordHeaderSize, key.size() + 1, more);
        got = kRecordHeaderSize + more;
      }
      if (got >= kRecordHeaderSize + key.size() + 1 && std::memcmp(buffer + 13, key.data(), key.size()) == 0 &&
          buffer[13 + key.size()] == 0) {
        Place place;
        place.found = true;
        place.offset = p;
        place.bucket = bucket;
        place.item = MapItem::FromKey(key);
        place.item.ham = ReadI32(buffer);
        place.item.spam = ReadI32(buffer + 4);
        place.item.next = next;
        return place;
      }
    }
    if (next == 0) break;
    // Records are appended and linked at their chain's tail, so a chain only ever
    // points forward; anything else is damage that would make the walk loop.
    if (next <= p) Fail(kErrRead);
    p = next;
  }
  Place place;
  place.offset = p;
  place.bucket = bucket;
  place.item = MapItem::FromKey(key);
  return place;
}

void CPersistMap::Fail(const char* text) {
  fileFailed_ = true;
  throw StoreError(text);
}

CPersistMap::Undo& CPersistMap::StartUpdate(uint64_t end) {
  SettleRollBack();
  written_ = true;
  undo_.end = end;
  undo_.hamMails = undo_.hamAfter = hamMails_;
  undo_.spamMails = undo_.spamAfter = spamMails_;
  undo_.patched = false;
  undo_.ranges.clear();  // the buffers are kept from update to update
  undo_.bytes.clear();
  return undo_;
}

bool CPersistMap::RollBack(const Undo& undo) {
  bool ok = true;
  // Each range goes back as it was (they do not overlap); nothing if none was rewritten.
  for (size_t r = undo.patched ? undo.ranges.size() : 0; r-- > 0;) {
    const Undo::Range& range = undo.ranges[r];
    if (range.offset < undo.end && !file_.WriteAt(range.offset, &undo.bytes[range.at], range.size)) ok = false;
  }
  uint64_t size = 0;
  if (!file_.Size(size) || (size > undo.end && !file_.Truncate(undo.end))) ok = false;
  // The record goes only once the store is back: until then the next opening needs it.
  if (ok) ok = undoFile_.Finish();
  cache_.Clear();
  hamMails_ = undo.hamMails;
  spamMails_ = undo.spamMails;
  return ok;
}

void CPersistMap::AbortUpdate(Undo& undo) {
  if (!RollBack(undo)) {
    owedRollBack_ = std::make_unique<Undo>(std::move(undo));
    // The file may hold part of the update, which the index does not know.
    if (index_) index_->Clear();
  }
  Fail(kErrSave);
}

void CPersistMap::FinishUpdate(Undo& undo) {
  if (!undoFile_.Finish()) AbortUpdate(undo);
}

bool CPersistMap::RollBackUnfinishedUpdate(const std::string& storePath) {
  if (!undoFile_.Open(storePath)) return false;
  Undo unfinished;
  if (!undoFile_.Unfinished(file_, unfinished)) return undoFile_.Finish();  // none, or cut short
  written_ = true;
  return RollBack(unfinished);
}

void CPersistMap::SettleRollBack() {
  if (!owedRollBack_) return;
  if (!RollBack(*owedRollBack_)) Fail(kErrSave);
  owedRollBack_.reset();
  if (index_) index_->Clear();  // built again from the file as it is now
}

void CPersistMap::RememberLookup(const Place& place) {
  if (lookupsGeneration_ != cache_.Generation() || lookups_.size() >= kMaxRememberedLookups) lookups_.clear();
  lookupsGeneration_ = cache_.Generation();
  lookups_.push_back(place);
}

MapItem CPersistMap::GetKeyPos(std::string_view key, bool create) {
  Place place = Locate(key);
  if (!create) RememberLookup(place);
  if (!place.found && create) {
    uint64_t size = 0;
    if (!file_.Size(size)) Fail(kErrSeek);
    unsigned char link[4];
    PutU32(link, static_cast<uint32_t>(size));
    written_ = true;
    NoteLinkWritten(place.offset + 8);
    if (!cache_.Write(place.offset + 8, link, sizeof link)) Fail(kErrSave);
    // The chain now ends at the end of the file, where the caller writes the record:
    // until then only the walk knows what to make of it.
    if (index_ && index_->Built()) index_->Distrust(place.bucket);
  }
  return place.item;
}

MapItem CPersistMap::GetItem(std::string_view key) { return GetKeyPos(key, false); }

void CPersistMap::Prepare(Batch& batch, const Place& place, const MapItem& item, uint64_t end) {
  if (place.found) {
    // Only the counters change: next, key and terminator stay as they are.
    Patch patch{place.offset, 8, {}, {}};
    PutU32(patch.bytes, static_cast<uint32_t>(item.ham));
    PutU32(patch.bytes + 4, static_cast<uint32_t>(item.spam));
    PutU32(patch.old, static_cast<uint32_t>(place.item.ham));
    PutU32(patch.old + 4, static_cast<uint32_t>(place.item.spam));
    batch.patches.push_back(patch);
    return;
  }
  size_t at = batch.appended.size();
  MapItem record = item;
  record.next = 0;
  batch.appended.resize(at + kMaxRecordSize);
  batch.appended.resize(at + EncodeRecord(record, &batch.appended[at]));
  batch.added.push_back(Added{&place, end + at, at});
}

void CPersistMap::Link(Batch& batch) {
  std::vector<const Added*> byTail;
  byTail.reserve(batch.added.size());
  for (const Added& added : batch.added) byTail.push_back(&added);
  std::stable_sort(byTail.begin(), byTail.end(),
                   [](const Added* a, const Added* b) { return a->place->offset < b->place->offset; });
  for (size_t i = 0; i < byTail.size(); ++i) {
    const Added& added = *byTail[i];
    // Written after the records, like every link: a new record goes to the file with next
    // 0 and points at the one after it only once that one is there too.
    const bool follows = i > 0 && byTail[i - 1]->place->offset == added.place->offset;
    // The field it fills ends a chain: it held 0.
    Patch link{follows ? byTail[i - 1]->offset + 8 : added.place->offset + 8, 4, {}, {}};
    PutU32(link.bytes, static_cast<uint32_t>(added.offset));
    NoteLinkWritten(link.offset);
    batch.patches.push_back(link);
  }
}

bool CPersistMap::Commit(Batch& batch, uint64_t end, Undo& undo) {
  Link(batch);
  // What the in-place writes overwrite is on record before the first write: records
  // appended beyond `end` need none, the cut to `end` takes them away.
  for (const Patch& patch : batch.patches)
    if (patch.offset < end) undo.Save(patch.offset, patch.old, patch.size);
  if (!undoFile_.Write(undo)) return false;
  // New records go to the end of the file before anything links to them, so an
  // interrupted update leaves at worst unlinked records, never a link into nothing.
  auto append = [&](size_t from, size_t to) {
    if (from == to) return true;
    if (!cache_.Write(end + from, &batch.appended[from], to - from)) return false;
    KillPoint("records appended", end + from, to - from);
    return true;
  };
  size_t from = 0;
  for (size_t r = 0; r < batch.added.size(); ++r) {
    size_t at = batch.added[r].at;
    size_t to = r + 1 < batch.added.size() ? batch.added[r + 1].at : batch.appended.size();
    if (!Straddles(end + at, to - at)) continue;
    if (!append(from, at) || !append(at, to)) return false;
    from = to;
  }
  if (!append(from, batch.appended.size())) return false;
  // A link between two records appended here lies beyond what the mapping held: it
  // follows the file's growth first, so that such links are memory copies too.
  if (file_.Mapped() && std::any_of(batch.patches.begin(), batch.patches.end(),
                                    [end](const Patch& patch) { return patch.offset >= end; }))
    file_.MapWrittenPart();
  undo.patched = true;
  return WritePatches(batch.patches);
}

void CPersistMap::Remember(const Batch& batch) {
  if (index_ && index_->Built()) {
    try {
      for (const Added& added : batch.added) {
        const Place& place = *added.place;
        auto offset = static_cast<uint32_t>(added.offset);
        if (place.indexed) index_->Add(place.bucket, place.item.Key(), place.hash, offset);
        else index_->Extend(place.item.Key(), offset);
      }
    } catch (const std::bad_alloc&) {
      index_->Clear();
      indexUnavailable_ = true;
    }
  }
}

bool CPersistMap::WritePatches(std::vector<Patch>& patches) {
  if (file_.Mapped()) {
    // Through the mapping a write is a memory copy: each field goes alone, in any order,
    // and none of the bytes between them is read or copied. One kill point follows them
    // all, covering the bytes from the first field to the last.
    uint64_t first = UINT64_MAX, stop = 0;
    for (const Patch& patch : patches) {
      if (!cache_.Write(patch.offset, patch.bytes, patch.size)) return false;
      first = std::min(first, patch.offset);
      stop = std::max(stop, patch.offset + patch.size);
    }
    if (stop != 0) KillPoint("records updated", first, static_cast<size_t>(stop - first));
    return true;
  }
  std::sort(patches.begin(), patches.end(), [](const Patch& a, const Patch& b) { return a.offset < b.offset; });
  std::vector<unsigned char> run;
  for (size_t i = 0; i < patches.size();) {
    uint64_t start = patches[i].offset, stop = start + patches[i].size;
    // A field across a page boundary goes alone; others merge while no such field comes.
    const bool alone = Straddles(start, patches[i].size);
    size_t j = i + 1;
    while (!alone && j < patches.size() && patches[j].offset <= stop + kMergeGap &&
           !Straddles(patches[j].offset, patches[j].size)) {
      stop = std::max(stop, patches[j].offset + patches[j].size);
      ++j;
    }
    run.resize(static_cast<size_t>(stop - start));
    if (j - i > 1) {
      // The bytes between the patches, as the file holds them.
      size_t got = 0;
      if (!cache_.Read(start, run.data(), run.size(), got) || got != run.size()) return false;
    } else {
      std::memcpy(run.data(), patches[i].old, patches[i].size);
    }
    // Only the patched fields change: the bytes between them are written as they are.
    for (size_t k = i; k < j; ++k) {
      unsigned char* field = &run[static_cast<size_t>(patches[k].offset - start)];
      std::memcpy(field, patches[k].bytes, patches[k].size);
    }
    if (!cache_.Write(start, run.data(), run.size())) return false;
    KillPoint("records updated", start, run.size());
    i = j;
  }
  return true;
}

void CPersistMap::SetItem(const MapItem& item) {
  if (item.keyLength == 0 || item.keyLength > kMaxKeyLength) throw StoreError(kErrKeyLength);
  SettleRollBack();
  Place place = Locate(item.Key());
  uint64_t end = 0;
  if (!file_.Size(end)) Fail(kErrSave);
  Batch batch;
  Prepare(batch, place, item, end);
  Undo& undo = StartUpdate(end);
  if (!Commit(batch, end, undo)) AbortUpdate(undo);
  FinishUpdate(undo);
  Remember(batch);
}

void CPersistMap::Apply(const TokenTable& tokens, bool flag, Op op) {
  // A mail with an unstorable token is refused whole, before anything is written.
  tokens.ForEach([](const TokenTable::Entry& e) { CheckKey(e.key); });
  SettleRollBack();
  // Every token is looked up before the first write, so a chain that cannot be read
  // fails the mail while the store is still as it was.
  std::vector<Place> places;
  places.reserve(tokens.Size());
  // A token looked up at its position in the same order since the file last changed
  // (the mail was scored) is where that lookup found it.
  const bool unchanged = lookupsGeneration_ == cache_.Generation();
  const bool scored = unchanged && lookups_.size() == tokens.Size();
  // The index's entries of a mail's tokens lie far apart in memory: each is asked for a
  // few lookups before its own.
  std::vector<std::pair<std::string_view, uint64_t>> keys;
  keys.reserve(tokens.Size());
  tokens.ForEach([&](const TokenTable::Entry& e) { keys.emplace_back(e.key, scored ? 0 : ChainIndex::Hash(e.key)); });
  const ChainIndex* ahead = !scored && index_ && index_->Built() ? index_.get() : nullptr;
  for (size_t i = 0; ahead && i < std::min(keys.size(), kLookupsAhead); ++i) ahead->Prefetch(keys[i].second);
  for (size_t i = 0; i < keys.size(); ++i) {
    if (ahead && i + kLookupsAhead < keys.size()) ahead->Prefetch(keys[i + kLookupsAhead].second);
    if (ahead && i + kLookupsAhead / 2 < keys.size())
      file_.Prefetch(ahead->FirstCandidate(keys[i + kLookupsAhead / 2].second));
    bool known = unchanged && i < lookups_.size() && lookups_[i].item.Key() == keys[i].first;
    places.push_back(known ? lookups_[i] : scored ? Locate(keys[i].first) : Locate(keys[i].first, keys[i].second));
  }
  lookups_.clear();
  uint64_t end = 0;
  if (!file_.Size(end)) Fail(kErrSave);
  Batch batch;
  // Each token gives a counter patch or a new record and its link: room for all at once.
  batch.patches.reserve(tokens.Size());
  batch.added.reserve(tokens.Size());
  batch.appended.reserve(tokens.Size() * kMaxRecordSize);
  size_t index = 0;
  tokens.ForEach([&](const TokenTable::Entry& e) {
    const Place& place = places[index++];
    MapItem item = place.item;
    uint32_t n = e.count;
    switch (op) {
      case Op::Add:
        if (flag) item.spam = Plus(item.spam, n);
        else item.ham = Plus(item.ham, n);
        break;
      case Op::Delete:
        if (flag) item.spam = Reduce(item.spam, n);
        else item.ham = Reduce(item.ham, n);
        break;
      case Op::Swap:
        if (flag) {
          item.ham = Reduce(item.ham, n);
          item.spam = Plus(item.spam, n);
        } else {
          item.spam = Reduce(item.spam, n);
          item.ham = Plus(item.ham, n);
        }
        break;
    }
    Prepare(batch, place, item, end);
  });
  Undo& undo = StartUpdate(end);
  int32_t& ham = undo.hamAfter;
  int32_t& spam = undo.spamAfter;
  switch (op) {
    case Op::Add:
      if (flag) spam = Plus(spam, 1);
      else ham = Plus(ham, 1);
      break;
    case Op::Delete:
      if (flag) spam = Decrement(spam);
      else ham = Decrement(ham);
      break;
    case Op::Swap:
      if (flag) {
        ham = Decrement(ham);
        spam = Plus(spam, 1);
      } else {
        spam = Decrement(spam);
        ham = Plus(ham, 1);
      }
      break;
  }
  unsigned char head[8], old[8];
  size_t got = 0;
  if (!cache_.Read(0, old, sizeof old, got) || got != sizeof old) AbortUpdate(undo);
  undo.Save(0, old, sizeof old);
  if (!Commit(batch, end, undo)) AbortUpdate(undo);
  // The mail counters last: a mail is counted only once all its tokens are stored. A
  // header that cannot be written takes the tokens back with it.
  hamMails_ = ham;
  spamMails_ = spam;
  PutU32(head, static_cast<uint32_t>(hamMails_));
  PutU32(head + 4, static_cast<uint32_t>(spamMails_));
  if (!cache_.Write(0, head, sizeof head)) AbortUpdate(undo);
  KillPoint("mail counted", 0, sizeof head);
  FinishUpdate(undo);
  Remember(batch);
}

void CPersistMap::AddItems(const TokenTable& tokens, bool isSpam) { Apply(tokens, isSpam, Op::Add); }
void CPersistMap::DeleteItems(const TokenTable& tokens, bool isSpam) { Apply(tokens, isSpam, Op::Delete); }
void CPersistMap::SwapItems(const TokenTable& tokens, bool toSpam) { Apply(tokens, toSpam, Op::Swap); }

int32_t CPersistMap::EnumerateItems(bool textWanted, const std::string& outputPath) {
  std::string text;
  int32_t count = 0;
  bool damaged = false;
  unsigned char buffer[kMaxRecordSize + 256];
  // Read failures are not reported: a slot that cannot be read counts as empty.
  ForEachUsedSlot(file_, [&](uint32_t b, const unsigned char* slot) {
    uint64_t p = static_cast<uint64_t>(b) * kRecordHeaderSize;
    uint32_t next = ReadU32(slot + 8);
    while (next != 0 && !damaged) {
      if (next <= p) {
        damaged = true;  // a chain pointing backward loops
        break;
      }
      p = next;
      size_t got = 0;
      if (!cache_.Read(p, buffer, kMaxRecordSize, got) || got < kRecordHeaderSize) break;
      uint8_t length = buffer[12];
      if (length > kMaxKeyLength || got < kRecordHeaderSize + length + 1u || buffer[13 + length] != 0) {
        damaged = true;
        break;
      }
      ++count;
      if (textWanted) {
        char line[96];
        int n = std::snprintf(line, sizeof line, "%6d %6d %6d %s\r\n", static_cast<int>(b),
                              static_cast<int>(ReadI32(buffer)), static_cast<int>(ReadI32(buffer + 4)),
                              reinterpret_cast<const char*>(buffer + 13));
        if (n > 0) text.append(line, static_cast<size_t>(n) < sizeof line ? static_cast<size_t>(n) : sizeof line - 1);
      }
      next = ReadU32(buffer + 8);
    }
  });
  if (damaged) return -1;
  if (textWanted) {
    platform::File out;
    if (out.Open(outputPath, platform::Access::ReadWrite, platform::kShareNone, platform::Disposition::CreateAlways)) {
      // A listing cut short (a full disk) is not left behind as if it were whole.
      bool written = out.WriteAt(0, text.data(), text.size()) && out.Flush();
      out.Close();
      if (!written) platform::RemoveFile(outputPath);
    }
  }
  return count;
}

namespace {

// Reads the 13-byte headers of the records one after another through a block buffer:
// one read per block, not per record. A header cut by the end of the file (or of the part
// looked at) holds what there is of it, and zeros for the rest.
class HeaderWalk {
 public:
  HeaderWalk(platform::File& file, uint64_t size) : file_(file), size_(size), block_(64 * 1024) {}
  const unsigned char* At(uint64_t q) {
    if (q < blockStart_ || q + CPersistMap::kRecordHeaderSize > blockStart_ + blockSize_) {
      blockStart_ = q;
      if (!file_.ReadAt(q, block_.data(), block_.size(), blockSize_)) blockSize_ = 0;  // not reported
      if (blockSize_ > (size_ > q ? size_ - q : 0)) blockSize_ = static_cast<size_t>(size_ > q ? size_ - q : 0);
    }
    size_t have = q >= blockStart_ && q < blockStart_ + blockSize_ ? static_cast<size_t>(blockStart_ + blockSize_ - q) : 0;
    if (have >= sizeof header_) return block_.data() + (q - blockStart_);
    std::memset(header_, 0, sizeof header_);
    if (have != 0) std::memcpy(header_, block_.data() + (q - blockStart_), have);
    return header_;
  }

 private:
  platform::File& file_;
  uint64_t size_;
  std::vector<unsigned char> block_;
  uint64_t blockStart_ = 0;
  size_t blockSize_ = 0;
  unsigned char header_[CPersistMap::kRecordHeaderSize];
};

// One bit per byte of the file from `base` to `end`: where records start, or where links
// lead.
class OffsetBits {
 public:
  OffsetBits(uint64_t base, uint64_t end) : base_(base) {
    bits_.Allocate(static_cast<size_t>((end > base ? end - base : 0) / 64 + 1));
  }
  // Sets the bit of `offset` (within the range); true when it was set already.
  bool Set(uint64_t offset) {
    const uint64_t i = offset - base_, mask = uint64_t{1} << (i % 64);
    uint64_t& word = bits_[static_cast<size_t>(i / 64)];
    const bool was = (word & mask) != 0;
    word |= mask;
    return was;
  }
  // Asks the processor for the word of `offset` (within the range), ahead of its Set.
  void Prefetch(uint64_t offset) const { platform::Prefetch(&bits_[static_cast<size_t>((offset - base_) / 64)]); }
  // True when every bit set here is set in `other` (of the same range) too.
  bool Within(const OffsetBits& other) const {
    for (size_t w = 0; w < bits_.Size(); ++w)
      if (bits_[w] & ~other.bits_[w]) return false;
    return true;
  }

 private:
  uint64_t base_;
  ZeroedArray<uint64_t> bits_;
};

}  // namespace

int32_t CPersistMap::CheckMapFile(platform::File& file) {
  uint64_t s = 0;
  if (!file.Size(s) || s == 0) return -1;
  return CheckMapFile(file, s);
}

int32_t CPersistMap::CheckMapFile(platform::File& file, uint64_t s) {
  if (s == 0) return -1;
  int64_t limit = (static_cast<int64_t>(s) - static_cast<int64_t>(kTableSize)) / 17;
  try {
    // Over the record area: where the walk found a record, and where a link points.
    // Every link must point at a record, and no two links at the same one.
    OffsetBits starts(kTableSize, s), linked(kTableSize, s);
    HeaderWalk walk(file, s);
    // Links lead far ahead, each to a word of its own: a link is marked a few records
    // late, its word asked for when it is met. The marks still waiting are made before
    // any result, so the result is the one that marking each link at once would give.
    constexpr size_t kMarksLate = 8;
    uint32_t waiting[kMarksLate];
    size_t marked = 0, met = 0;  // links marked, links met (in walk order)
    auto markUpTo = [&](size_t upTo) {
      for (; marked < upTo; ++marked)
        if (linked.Set(waiting[marked % kMarksLate])) return false;
      return true;
    };
    uint64_t q = kTableSize;
    int64_t i = 0;
    int32_t result = 0;
    for (;;) {
      const unsigned char* header = walk.At(q);
      uint32_t next = ReadU32(header + 8);
      if (next != 0) {
        if (next > s) result = -2;
        // Chains only point forward; a record pointing at itself or back loops.
        else if (next <= q) result = -7;
        if (result != 0) break;
        if (met - marked == kMarksLate && !markUpTo(marked + 1)) return -3;
        linked.Prefetch(next);
        waiting[met++ % kMarksLate] = next;
      }
      if (q < s) starts.Set(q);
      q += 14u + header[12];
      if (q > s) result = -4;
      if (q >= s) break;
      ++i;
      if (i > limit) {
        result = -5;
        break;
      }
    }
    if (!markUpTo(met)) return -3;
    if (result != 0) return result;
    // The chain heads: bytes 8 to 11 of each slot (byte 12 of slot 0 is the state mark).
    int32_t heads = 0;
    bool whole = ForEachUsedSlot(file, [&](uint32_t, const unsigned char* slot) {
      uint32_t head = ReadU32(slot + 8);
      if (head == 0 || heads < 0) return;
      if (head < kTableSize || head >= s) heads = -2;
      else if (linked.Set(head)) heads = -3;
    });
    if (!whole) return -1;
    if (heads < 0) return heads;
    if (!linked.Within(starts)) return -8;  // a link into the middle of a record, or to the end
    return static_cast<int32_t>(i);
  } catch (const std::bad_alloc&) {
    return -6;
  }
}

void CPersistMap::NoteLinkWritten(uint64_t field) {
  if (field >= checkedSize_) return;  // in a record appended since: the walk finds it
  // Far more than a long session appends; beyond it the whole file is checked instead.
  constexpr size_t kMaxNoted = size_t{1} << 22;
  try {
    if (linksSinceCheck_.size() < kMaxNoted) {
      linksSinceCheck_.push_back(static_cast<uint32_t>(field));
      return;
    }
  } catch (const std::bad_alloc&) {
  }
  checkedSize_ = 0;
  linksSinceCheck_ = {};
}

bool CPersistMap::SoundSinceCheck(uint64_t size) {
  if (checkedSize_ == 0 || size < checkedSize_) return false;
  try {
    // Over what was appended since the check, as the whole check does over the file.
    OffsetBits starts(checkedSize_, size), linked(checkedSize_, size);
    HeaderWalk walk(file_, size);
    for (uint64_t q = checkedSize_; q < size;) {
      const unsigned char* header = walk.At(q);
      if (const uint32_t next = ReadU32(header + 8); next != 0)
        if (next <= q || next >= size || linked.Set(next)) return false;
      starts.Set(q);
      q += 14u + header[12];
      if (q > size) return false;
    }
    // A noted field held 0 at the check (it ended a chain); a rolled-back update put the 0
    // back. Links before the check all lead to records before it, so only the new ones
    // can meet each other.
    std::sort(linksSinceCheck_.begin(), linksSinceCheck_.end());
    linksSinceCheck_.erase(std::unique(linksSinceCheck_.begin(), linksSinceCheck_.end()), linksSinceCheck_.end());
    for (uint32_t field : linksSinceCheck_) {
      unsigned char bytes[4];
      size_t got = 0;
      if (!file_.ReadAt(field, bytes, sizeof bytes, got) || got != sizeof bytes) return false;
      if (const uint32_t next = ReadU32(bytes); next != 0)
        if (next < checkedSize_ || next >= size || linked.Set(next)) return false;
    }
    return linked.Within(starts);
  } catch (const std::bad_alloc&) {
    return false;
  }
}

CPersistMap::Cut CPersistMap::CutUnfinishedRecord(platform::File& file) {
  uint64_t s = 0;
  if (!file.Size(s)) return Cut::NotUnfinished;
  HeaderWalk walk(file, s);
  uint64_t q = kTableSize;
  while (q + kRecordHeaderSize <= s && q + 14u + walk.At(q)[12] <= s) q += 14u + walk.At(q)[12];
  // Only a file whose whole records are sound, and that nothing links past, is cut.
  if (q <= kTableSize || q >= s || CheckMapFile(file, q) < 0) return Cut::NotUnfinished;
  return file.Truncate(q) ? Cut::Done : Cut::Failed;
}

}  // namespace kestrelon
