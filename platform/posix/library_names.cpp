#include "platform/library_names.h"

#include "platform/library.h"
#include "platform/process.h"

#include <dlfcn.h>
#include <strings.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <vector>

namespace platform {

namespace {

// The file name of `folder` that equals `file` without regard to case, or empty.
std::string FindInFolder(const std::string& folder, const std::string& file) {
  if (folder.empty()) return {};
  std::error_code ec;
  std::filesystem::path exact = std::filesystem::path(folder) / file;
  if (std::filesystem::is_regular_file(exact, ec)) return exact.string();
  for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    std::string candidate = it->path().filename().string();
    if (strcasecmp(candidate.c_str(), file.c_str()) == 0 && it->is_regular_file(ec)) return it->path().string();
  }
  return {};
}

std::vector<std::string> SearchFolders() {
  std::vector<std::string> folders;
  if (const char* list = std::getenv("KESTRELON_LIBRARY_PATH")) {
    std::string text = list;
    size_t start = 0;
    while (start <= text.size()) {
      size_t colon = text.find(':', start);
      if (colon == std::string::npos) colon = text.size();
      if (colon > start) folders.push_back(text.substr(start, colon - start));
      start = colon + 1;
    }
  }
  std::string program = CurrentExecutablePath();
  if (!program.empty()) folders.push_back(FolderOf(program));
  std::string self = ModulePathOf(reinterpret_cast<const void*>(&LoadLibraryByName));
  if (!self.empty()) folders.push_back(FolderOf(self));
  return folders;
}

}  // namespace

std::string StandInFileName(const std::string& name) {
  std::string file = name;
  size_t slash = file.find_last_of('\\');
  if (slash != std::string::npos) file = file.substr(slash + 1);
  if (file.size() > 4 && strcasecmp(file.c_str() + file.size() - 4, ".dll") == 0) file.resize(file.size() - 4);
  return SharedLibraryFileName(file);
}

void* LoadLibraryByName(const std::string& name) {
  if (name.empty()) return nullptr;
  if (name.find('/') != std::string::npos) return dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
  std::string file = StandInFileName(name);
  if (file.empty() || file == SharedLibraryFileName("")) return nullptr;
  for (const std::string& folder : SearchFolders()) {
    std::string path = FindInFolder(folder, file);
    if (path.empty()) continue;
    if (void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL)) return library;
  }
  return nullptr;
}

void FreeLoadedLibrary(void* library) {
  if (library) dlclose(library);
}

}  // namespace platform
