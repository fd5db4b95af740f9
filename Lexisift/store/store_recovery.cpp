#include "Lexisift/store/store_recovery.h"

#include "Lexisift/store/map_format.h"
#include "Lexisift/store/persist_map.h"
#include "Lexisift/store/store_error.h"
#include "Lexisift/store/table_scan.h"

namespace kestrelon {
namespace {

// The bucket table alone, every chain empty.
bool IsEmptyTable(platform::File& file, uint64_t size) {
  if (size != map_format::kTableSize) return false;
  bool empty = true;
  bool whole = ForEachUsedSlot(file, [&](uint32_t, const unsigned char* slot) {
    if (map_format::ReadU32(slot + map_format::kNextOffset) != 0) empty = false;
  });
  return whole && empty;
}

}  // namespace

bool IsSoundMapFile(platform::File& file, uint64_t size) {
  return size != 0 && (CPersistMap::CheckMapFile(file, size) >= 0 || IsEmptyTable(file, size));
}

bool IsSoundMapFile(const std::string& path) {
  platform::File file;
  uint64_t size = 0;
  return file.Open(path, platform::Access::Read, platform::kShareRead | platform::kShareWrite,
                   platform::Disposition::OpenExisting, true) &&
         file.Size(size) && IsSoundMapFile(file, size);
}

Recovery RecoverMapFile(const std::string& path) {
  const std::string backup = path + ".bak";
  if (IsSoundMapFile(backup)) {
    // A sound backup is never given up for a new store: when it cannot be copied (a full
    // disk), the opening fails and everything stays as it is for the next one.
    if (platform::CopyFileReplace(backup, path)) return Recovery::RestoredBackup;
    throw StoreError(kErrOpen);
  }
  const std::string corrupt = path + ".corrupt";
  if (platform::RenameFile(path, corrupt)) return Recovery::MovedAside;
  // An older .corrupt is in the way. Copied over it, and only then removed, the damaged
  // file is never lost; without room for a copy, the older one gives way to the rename.
  if (platform::FileExists(corrupt)) {
    if (platform::CopyFileReplace(path, corrupt) && platform::RemoveFile(path)) return Recovery::MovedAside;
    if (platform::RemoveFile(corrupt) && platform::RenameFile(path, corrupt)) return Recovery::MovedAside;
  }
  throw StoreError(kErrOpen);
}

std::string RecoveryNotice(const std::string& path, Recovery recovery) {
  switch (recovery) {
    case Recovery::RestoredBackup:
      return "The token store " + path + " was damaged and has been replaced by its backup " + path +
             ".bak; what was learned since that backup is lost.";
    case Recovery::MovedAside:
      return "The token store " + path + " was damaged and had no sound backup; it has been moved to " + path +
             ".corrupt and a new, empty token store started.";
    case Recovery::None:
      break;
  }
  return "";
}

}  // namespace kestrelon
