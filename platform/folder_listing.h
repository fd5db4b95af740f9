// The entries of a folder, in the order in which the file system lists them.
#pragma once

#include <string>
#include <vector>

namespace platform {

struct FolderEntry {
  std::string name;
  bool isFolder;
};

// Every entry of `folder` except "." and ".."; false when the folder cannot be read.
bool ListFolder(const std::string& folder, std::vector<FolderEntry>& entries);

// `folder` and `name` joined with the system's separator.
std::string JoinPath(const std::string& folder, const std::string& name);

}  // namespace platform
