#include "Lexisift/store/store_recovery.h"

#include "Lexisift/store/persist_map.h"
#include "platform/file.h"

namespace kestrelon {

void RecoverMapFile(const std::string& path) {
  if (!platform::FileExists(path)) return;
  int32_t result = -1;
  {
    platform::File file;
    if (file.Open(path, platform::Access::Read, platform::kShareRead, platform::Disposition::OpenExisting, true)) {
      file.SkipLockChecks();  // it denies writing to others
      result = CPersistMap::CheckMapFile(file);
    } else if (file.LastOpenError() == platform::OpenError::InUse) {
      // Another writer has the store open: it is not damaged, and the open that follows
      // fails on its own. Treating it as damaged would copy a sound store over an older
      // .corrupt file.
      return;
    }
  }
  if (result >= 0) return;
  if (platform::CopyFileReplace(path + ".bak", path)) return;
  const std::string corrupt = path + ".corrupt";
  if (platform::RenameFile(path, corrupt)) return;
  platform::CopyFileReplace(path, corrupt);
  platform::RemoveFile(path);
}

}  // namespace kestrelon
