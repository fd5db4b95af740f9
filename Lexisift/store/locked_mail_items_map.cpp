#include "Lexisift/store/locked_mail_items_map.h"

#include "platform/registry.h"

#include <chrono>

namespace kestrelon {
namespace {

constexpr size_t kMaxSurrogate = 260;
constexpr size_t kMaxProfilePath = 260;  // bytes, terminator included
constexpr size_t kStateProbe = 36;

}  // namespace

std::string CLockedMailItemsMap::ResolveSurrogate(const std::string& path) {
  platform::File surrogate;
  if (!surrogate.Open(path + ".surrogate", platform::Access::Read, platform::kShareRead | platform::kShareWrite,
                      platform::Disposition::OpenExisting))
    return path;
  char buffer[kMaxSurrogate] = {};
  size_t got = 0;
  if (!surrogate.ReadAt(0, buffer, sizeof buffer, got)) return path;
  std::string text(buffer, got);
  text = text.substr(0, text.find('\0'));
  while (!text.empty() && (text.back() == '\r' || text.back() == '\n')) text.pop_back();
  if (!text.empty() && platform::FileIsReadWritable(text)) return text;
  return path;
}

CLockedMailItemsMap::CLockedMailItemsMap(const std::string& path) : CMailItemsMap(Unopened{}) {
  storePath_ = ResolveSurrogate(path);
  // A single-writer store keeps others out for as long as it is open, and another shared
  // operation holds the lock for one operation: both are waited for, for a while.
  const auto started = std::chrono::steady_clock::now();
  if (!file_.OpenWaiting(storePath_, platform::Access::ReadWrite, platform::kShareRead | platform::kShareWrite,
                         platform::Disposition::OpenAlways, true, kStoreWaitMs)) {
    if (file_.LastOpenError() == platform::OpenError::InUse) throw StoreBusy(kErrLockedOpen);
    throw StoreError(kErrLockedOpen);
  }
  const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);
  const uint32_t left = waited.count() < kStoreWaitMs ? kStoreWaitMs - static_cast<uint32_t>(waited.count()) : 0;
  // A failed lock request is not reported. Other openers wait for the lock before they
  // touch the file, so while it is held here nobody else writes or locks it.
  switch (file_.LockWithin(kLockOffset, kLockLength, left)) {
    case platform::LockResult::Locked: file_.SkipLockChecks(); break;
    case platform::LockResult::Busy: throw StoreBusy(kErrLockedOpen);
    case platform::LockResult::Failed: break;
  }

  bool markedOpen = false;
  try {
    // Whoever held the lock before may have been killed in the middle of an update.
    if (!RollBackUnfinishedUpdate(storePath_)) throw StoreError(kErrLockedOpen);
    unsigned char probe[kStateProbe] = {};
    size_t got = 0;
    file_.ReadAt(0, probe, sizeof probe, got);
    if (got == sizeof probe && probe[kStateMarkOffset] == kStateClosed) {
      const unsigned char open = kStateOpen;
      markedOpen = file_.WriteAt(kStateMarkOffset, &open, 1);
    } else if (uint64_t size = 0; got > 0 && file_.Size(size) && !IsSoundMapFile(file_, size)) {
      // A damaged shared store starts over empty. That includes a file too short to hold
      // the state mark: left as it is, it would fail every operation for good. A record
      // left unfinished at the end by an operation that was killed is only cut off: the
      // file is then as that operation found it, and the learned counts are kept.
      switch (CutUnfinishedRecord(file_)) {
        case Cut::Done: break;
        case Cut::Failed: throw StoreError(kErrLockedOpen);
        case Cut::NotUnfinished: file_.Truncate(0); break;
      }
    }

    // Only while the lock is held: see the destructor.
    file_.MapWrittenPart();
    uint64_t size = 0;
    if (!file_.Size(size)) throw StoreError(kErrLockedSize);
    if (size == 0) {
      markedOpen = false;
      if (!WriteEmptyTable()) throw StoreError(kErrLockedOpen);
    } else {
      ReadMailCounters();
    }
    ShareIndexBetweenOpenings(storePath_);
    AttachRegistryProfile();
  } catch (...) {
    // Nothing but the open mark was written: the file goes back to its clean close. The
    // lock is released here rather than left to the closing of the handle, which Windows
    // does not promise to do at once.
    if (markedOpen) {
      const unsigned char closed = kStateClosed;
      file_.WriteAt(kStateMarkOffset, &closed, 1);
    }
    file_.UnmapWrittenPart();
    file_.Unlock(kLockOffset, kLockLength);
    throw;
  }
}

CLockedMailItemsMap::~CLockedMailItemsMap() {
  // After a failed lookup or update the file keeps its open mark, so the next opener
  // checks it (and starts over if it is damaged) instead of failing the same way.
  if (!fileFailed_) {
    const unsigned char closed = kStateClosed;
    file_.WriteAt(kStateMarkOffset, &closed, 1);
  }
  PutBackSharedIndex();  // while the lock still keeps others from changing the file
  // Windows cannot cut a file that any process maps: the next holder of the lock may.
  file_.UnmapWrittenPart();
  file_.Unlock(kLockOffset, kLockLength);
  profile_.reset();
  file_.Close();
}

void CLockedMailItemsMap::AttachRegistryProfile() {
  platform::RegistryKey key;
  if (!key.Open(platform::Hive::LocalMachine, "Software\\Kestrelon")) return;
  platform::RegValue value;
  if (!key.Read("ProfilePath", value)) return;
  if (value.type != platform::kRegSz && value.type != platform::kRegExpandSz) return;
  if (value.data.empty() || value.data.size() > kMaxProfilePath) return;
  size_t end = value.data.find('\0');
  if (end == std::string::npos) return;  // not terminated
  std::string profilePath = value.data.substr(0, end);
  if (profilePath.empty() || profilePath == storePath_ || !platform::FileExists(profilePath)) return;
  profile_ = std::make_unique<CReadOnlyPersistMap>(profilePath);
  profile_->ShareIndexBetweenOpenings(profilePath);
  uint32_t ignore = 0;
  int32_t threshold = key.ReadDword("ProfileIgnore", ignore) ? static_cast<int32_t>(ignore) : kDefaultSpamThreshold;
  hamThreshold_ = threshold;
  spamThreshold_ = threshold;
}

std::unique_ptr<CLockedMailItemsMap> CreateLockedPersistMap(const std::string& path) {
  return std::make_unique<CLockedMailItemsMap>(path);
}

}  // namespace kestrelon
