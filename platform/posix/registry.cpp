// The registry as a folder tree: root/<hive>/<key>/<key>/..., each value a file "@<name>"
// holding its 32-bit little-endian type code followed by its bytes. Names are folded to
// lower case and bytes outside a plain set are written as %XX, so every key and value
// name maps to one file name; a key keeps the spelling it was created with in a file "="
// inside its folder, as the Windows registry keeps the case of key names. A value is written to a temporary file and renamed into
// place, so readers in other processes see the old or the new value, never a mix.
#include "platform/registry.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {
namespace {

std::string RootFolder() {
  if (const char* env = std::getenv("KESTRELON_REGISTRY"); env && *env) return env;
  const char* home = std::getenv("HOME");
  return std::string(home && *home ? home : "/tmp") + "/.kestrelon/registry";
}

const char* HiveName(Hive hive) {
  switch (hive) {
    case Hive::CurrentUser: return "HKEY_CURRENT_USER";
    case Hive::LocalMachine: return "HKEY_LOCAL_MACHINE";
    case Hive::ClassesRoot: return "HKEY_CLASSES_ROOT";
  }
  return "HKEY_CURRENT_USER";
}

std::string Encode(const std::string& name) {
  static const char* hex = "0123456789ABCDEF";
  std::string out;
  for (size_t i = 0; i < name.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(name[i]);
    if (c >= 'A' && c <= 'Z') c = static_cast<unsigned char>(c - 'A' + 'a');
    bool plain = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '-' || c == ' ' ||
                 (c == '.' && i > 0);
    if (plain) {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    }
  }
  return out;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Folder names made by hand may hold a '%' that starts no escape; it stays as it is.
std::string Decode(const std::string& file) {
  std::string out;
  for (size_t i = 0; i < file.size(); ++i) {
    int high = file[i] == '%' && i + 2 < file.size() ? HexDigit(file[i + 1]) : -1;
    int low = high >= 0 ? HexDigit(file[i + 2]) : -1;
    if (low >= 0) {
      out += static_cast<char>(high * 16 + low);
      i += 2;
    } else {
      out += file[i];
    }
  }
  return out;
}

// The folder of a key. With `levels`, every folder from the hive down, and with
// `spellings` the key name of each of them as written (empty for the hive).
std::string KeyFolder(Hive hive, const std::string& subkey, std::vector<std::string>* levels = nullptr,
                      std::vector<std::string>* spellings = nullptr) {
  std::string folder = RootFolder() + "/" + HiveName(hive);
  if (levels) levels->push_back(folder);
  if (spellings) spellings->push_back("");
  size_t start = 0;
  while (start <= subkey.size()) {
    size_t end = subkey.find('\\', start);
    if (end == std::string::npos) end = subkey.size();
    if (end > start) {
      folder += "/" + Encode(subkey.substr(start, end - start));
      if (levels) levels->push_back(folder);
      if (spellings) spellings->push_back(subkey.substr(start, end - start));
    }
    start = end + 1;
  }
  return folder;
}

constexpr const char* kSpellingFile = "/=";

// Writes `text` to `path` through a temporary file renamed into place.
bool WriteWhole(const std::string& folder, const std::string& path, const std::string& text) {
  static std::atomic<unsigned> counter{0};
  std::string temp = folder + "/~" + std::to_string(getpid()) + "." + std::to_string(counter++);
  FILE* f = std::fopen(temp.c_str(), "wb");
  if (!f) return false;
  bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
  ok = std::fclose(f) == 0 && ok;
  if (ok) ok = std::rename(temp.c_str(), path.c_str()) == 0;
  if (!ok) std::remove(temp.c_str());
  return ok;
}

std::string ReadWhole(const std::string& path, bool& found) {
  std::string bytes;
  FILE* f = std::fopen(path.c_str(), "rb");
  found = f != nullptr;
  if (!f) return bytes;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) bytes.append(buffer, n);
  std::fclose(f);
  return bytes;
}

bool IsFolder(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

RegistryKey::~RegistryKey() { Close(); }

RegistryKey::RegistryKey(RegistryKey&& other) noexcept : folder_(std::move(other.folder_)) { other.folder_.clear(); }

RegistryKey& RegistryKey::operator=(RegistryKey&& other) noexcept {
  folder_ = std::move(other.folder_);
  other.folder_.clear();
  return *this;
}

bool RegistryKey::Open(Hive hive, const std::string& subkey, bool /*writable*/) {
  Close();
  std::string folder = KeyFolder(hive, subkey);
  if (!IsFolder(folder)) return false;
  folder_ = folder;
  return true;
}

bool RegistryKey::Create(Hive hive, const std::string& subkey) {
  Close();
  std::string root = RootFolder();
  // The root's own parents, then the hive and each level of the key.
  for (size_t pos = 1; pos < root.size(); ++pos)
    if (root[pos] == '/') mkdir(root.substr(0, pos).c_str(), 0777);
  mkdir(root.c_str(), 0777);
  std::vector<std::string> levels, spellings;
  std::string folder = KeyFolder(hive, subkey, &levels, &spellings);
  for (size_t i = 0; i < levels.size(); ++i) {
    if (mkdir(levels[i].c_str(), 0777) == 0) {
      if (!spellings[i].empty()) WriteWhole(levels[i], levels[i] + kSpellingFile, spellings[i]);
    } else if (errno != EEXIST) {
      return false;
    }
  }
  if (!IsFolder(folder)) return false;
  folder_ = folder;
  return true;
}

bool RegistryKey::IsOpen() const { return !folder_.empty(); }

void RegistryKey::Close() { folder_.clear(); }

bool RegistryKey::Read(const std::string& name, RegValue& value) const {
  if (folder_.empty()) return false;
  bool found = false;
  std::string bytes = ReadWhole(folder_ + "/@" + Encode(name), found);
  if (!found || bytes.size() < 4) return false;
  const auto* b = reinterpret_cast<const unsigned char*>(bytes.data());
  value.type = b[0] | (b[1] << 8) | (b[2] << 16) | (static_cast<uint32_t>(b[3]) << 24);
  value.data = bytes.substr(4);
  return true;
}

bool RegistryKey::Write(const std::string& name, uint32_t type, const std::string& data) {
  if (folder_.empty()) return false;
  const char head[4] = {static_cast<char>(type & 0xFF), static_cast<char>((type >> 8) & 0xFF),
                        static_cast<char>((type >> 16) & 0xFF), static_cast<char>((type >> 24) & 0xFF)};
  return WriteWhole(folder_, folder_ + "/@" + Encode(name), std::string(head, 4) + data);
}

bool RegistryKey::DeleteValue(const std::string& name) {
  return !folder_.empty() && std::remove((folder_ + "/@" + Encode(name)).c_str()) == 0;
}

std::vector<std::string> RegistryKey::SubkeyNames() const {
  std::vector<std::string> names;
  if (folder_.empty()) return names;
  DIR* dir = opendir(folder_.c_str());
  if (!dir) return names;
  while (dirent* entry = readdir(dir)) {
    std::string file = entry->d_name;
    if (file.empty() || file[0] == '.' || file[0] == '@' || file[0] == '~' || file[0] == '=') continue;
    if (!IsFolder(folder_ + "/" + file)) continue;
    bool found = false;
    std::string spelling = ReadWhole(folder_ + "/" + file + kSpellingFile, found);
    names.push_back(found && !spelling.empty() ? spelling : Decode(file));
  }
  closedir(dir);
  return names;
}

bool RegistryKey::DeleteTree(Hive hive, const std::string& subkey) {
  std::string folder = KeyFolder(hive, subkey);
  if (folder == KeyFolder(hive, "") || !IsFolder(folder)) return false;
  std::error_code ec;
  std::filesystem::remove_all(folder, ec);
  return !ec;
}

}  // namespace platform
