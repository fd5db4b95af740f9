#include "Lexisift/store/store_recovery.h"

#include "Lexisift/store/persist_map.h"
#include "platform/file.h"

namespace kestrelon {

void RecoverMapFile(const std::string& path) {
  if (!platform::FileExists(path)) return;
  int32_t result = -1;
  {
    platform::File file;
    if (file.Open(path, platform::Access::Read, platform::kShareRead, platform::Disposition::OpenExisting, true))
      result = CPersistMap::CheckMapFile(file);
  }
  if (result >= 0) return;
  if (platform::CopyFileReplace(path + ".bak", path)) return;
  const std::string corrupt = path + ".corrupt";
  if (platform::RenameFile(path, corrupt)) return;
  platform::CopyFileReplace(path, corrupt);
  platform::RemoveFile(path);
}

}  // namespace kestrelon
