#include "platform/registry.h"

#include <windows.h>

namespace platform {
namespace {

HKEY Root(Hive hive) {
  switch (hive) {
    case Hive::CurrentUser: return HKEY_CURRENT_USER;
    case Hive::LocalMachine: return HKEY_LOCAL_MACHINE;
    case Hive::ClassesRoot: return HKEY_CLASSES_ROOT;
  }
  return HKEY_CURRENT_USER;
}

HKEY AsKey(void* k) { return static_cast<HKEY>(k); }

// The registry functions return their error instead of setting the thread's last error;
// a failure is passed on there, where LastSystemError finds it.
bool Succeeded(LONG rc) {
  if (rc == ERROR_SUCCESS) return true;
  SetLastError(static_cast<DWORD>(rc));
  return false;
}

// Deletes `name` below `parent` with all its subkeys, deepest first. Windows XP has no
// RegDeleteTree, and RegDeleteKey refuses a key that still has subkeys.
LONG DeleteKeyAndSubkeys(HKEY parent, const char* name) {
  HKEY key = nullptr;
  LONG rc = RegOpenKeyExA(parent, name, 0, KEY_READ | KEY_WRITE, &key);
  if (rc != ERROR_SUCCESS) return rc;
  for (;;) {
    char child[256];  // key names are at most 255 characters
    DWORD length = sizeof child;
    rc = RegEnumKeyExA(key, 0, child, &length, nullptr, nullptr, nullptr, nullptr);
    if (rc != ERROR_SUCCESS) break;
    rc = DeleteKeyAndSubkeys(key, child);
    if (rc != ERROR_SUCCESS) break;
  }
  RegCloseKey(key);
  if (rc != ERROR_NO_MORE_ITEMS) return rc;
  return RegDeleteKeyA(parent, name);
}

}  // namespace

RegistryKey::~RegistryKey() { Close(); }

RegistryKey::RegistryKey(RegistryKey&& other) noexcept : key_(other.key_) { other.key_ = nullptr; }

RegistryKey& RegistryKey::operator=(RegistryKey&& other) noexcept {
  if (this != &other) {
    Close();
    key_ = other.key_;
    other.key_ = nullptr;
  }
  return *this;
}

bool RegistryKey::Open(Hive hive, const std::string& subkey, bool writable) {
  Close();
  HKEY k = nullptr;
  if (!Succeeded(RegOpenKeyExA(Root(hive), subkey.c_str(), 0, writable ? KEY_READ | KEY_WRITE : KEY_READ, &k)))
    return false;
  key_ = k;
  return true;
}

bool RegistryKey::Create(Hive hive, const std::string& subkey) {
  Close();
  HKEY k = nullptr;
  if (!Succeeded(RegCreateKeyExA(Root(hive), subkey.c_str(), 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr, &k, nullptr)))
    return false;
  key_ = k;
  return true;
}

bool RegistryKey::IsOpen() const { return key_ != nullptr; }

void RegistryKey::Close() {
  if (key_) RegCloseKey(AsKey(key_));
  key_ = nullptr;
}

bool RegistryKey::Read(const std::string& name, RegValue& value) const {
  if (!key_) return false;
  DWORD type = 0, size = 0;
  if (RegQueryValueExA(AsKey(key_), name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return false;
  std::string data(size, '\0');
  if (RegQueryValueExA(AsKey(key_), name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size) !=
      ERROR_SUCCESS)
    return false;
  data.resize(size);
  value.type = type;
  value.data = std::move(data);
  return true;
}

bool RegistryKey::Write(const std::string& name, uint32_t type, const std::string& data) {
  if (!key_) return Succeeded(ERROR_INVALID_HANDLE);
  return Succeeded(RegSetValueExA(AsKey(key_), name.c_str(), 0, type, reinterpret_cast<const BYTE*>(data.data()),
                                  static_cast<DWORD>(data.size())));
}

bool RegistryKey::DeleteValue(const std::string& name) {
  if (!key_) return Succeeded(ERROR_INVALID_HANDLE);
  return Succeeded(RegDeleteValueA(AsKey(key_), name.c_str()));
}

std::vector<std::string> RegistryKey::SubkeyNames() const {
  std::vector<std::string> names;
  if (!key_) return names;
  for (DWORD i = 0;; ++i) {
    char name[256];
    DWORD length = sizeof name;
    if (RegEnumKeyExA(AsKey(key_), i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    names.emplace_back(name, length);
  }
  return names;
}

bool RegistryKey::DeleteTree(Hive hive, const std::string& subkey) {
  return Succeeded(DeleteKeyAndSubkeys(Root(hive), subkey.c_str()));
}

}  // namespace platform
