#include "platform/folder_listing.h"

#include <windows.h>

namespace platform {

bool ListFolder(const std::string& folder, std::vector<FolderEntry>& entries) {
  entries.clear();
  WIN32_FIND_DATAA found;
  HANDLE find = FindFirstFileA(JoinPath(folder, "*.*").c_str(), &found);
  if (find == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND;
  do {
    std::string name = found.cFileName;
    if (name == "." || name == "..") continue;
    entries.push_back({name, (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0});
  } while (FindNextFileA(find, &found));
  FindClose(find);
  return true;
}

std::string JoinPath(const std::string& folder, const std::string& name) {
  if (folder.empty() || folder.back() == '\\' || folder.back() == '/') return folder + name;
  return folder + "\\" + name;
}

}  // namespace platform
