// CLockedMailItemsMap: the shared store that any number of objects in any number of
// processes use, one whole operation at a time. Opening takes an exclusive lock on bytes
// 0 to 7 and holds it until the object is destroyed; it waits up to kStoreWaitMs for the
// lock, and for a single-writer store that has the file open, then raises StoreBusy. Byte 12 marks the file's state:
// 0x99 while an operation has it open, 0xFF after a clean close; a file not closed
// cleanly is checked at the next opening and emptied if damaged. "<path>.surrogate" may
// name another file to use. The profile and its threshold come from the registry.
#pragma once

#include "Lexisift/store/mail_items_map.h"

#include <memory>

namespace kestrelon {

class CLockedMailItemsMap : public CMailItemsMap {
 public:
  static constexpr uint8_t kStateOpen = 0x99;
  static constexpr uint8_t kStateClosed = 0xFF;
  static constexpr uint64_t kLockOffset = 0;
  static constexpr uint64_t kLockLength = 8;

  // Opens (creating if absent), locks, checks and attaches the registry profile.
  explicit CLockedMailItemsMap(const std::string& path);
  // Marks the file closed cleanly (unless a lookup or update failed on it), releases the
  // lock, closes profile and file.
  ~CLockedMailItemsMap() override;

  // The path actually opened (after a surrogate redirect).
  const std::string& StorePath() const { return storePath_; }

  // The store path after applying "<path>.surrogate", if it names a usable file.
  static std::string ResolveSurrogate(const std::string& path);

 private:
  void AttachRegistryProfile();

  std::string storePath_;
};

// Opens the shared store at `path`.
std::unique_ptr<CLockedMailItemsMap> CreateLockedPersistMap(const std::string& path);

}  // namespace kestrelon
