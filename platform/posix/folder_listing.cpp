#include "platform/folder_listing.h"

#include <dirent.h>
#include <sys/stat.h>

namespace platform {

bool ListFolder(const std::string& folder, std::vector<FolderEntry>& entries) {
  entries.clear();
  DIR* dir = opendir(folder.c_str());
  if (!dir) return false;
  while (dirent* entry = readdir(dir)) {
    std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    struct stat info {};
    bool isFolder = stat(JoinPath(folder, name).c_str(), &info) == 0 && S_ISDIR(info.st_mode);
    entries.push_back({name, isFolder});
  }
  closedir(dir);
  return true;
}

std::string JoinPath(const std::string& folder, const std::string& name) {
  if (folder.empty() || folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

}  // namespace platform
