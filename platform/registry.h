// The registry: three hives of keys holding typed values.
//
// On Windows this is the system registry. Elsewhere it is a tree of folders under a root
// folder taken from the environment variable KESTRELON_REGISTRY (default
// $HOME/.kestrelon/registry): a key is a folder, a value a small file written whole and
// renamed into place, so several processes may read and write it at once. Key and value
// names compare without regard to ASCII case, as on Windows.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

enum class Hive { CurrentUser, LocalMachine, ClassesRoot };

// The Windows type codes.
enum RegType : uint32_t {
  kRegNone = 0,
  kRegSz = 1,
  kRegExpandSz = 2,
  kRegBinary = 3,
  kRegDword = 4,
};

struct RegValue {
  uint32_t type = kRegNone;
  std::string data;  // the stored bytes; strings keep the terminating NUL they were stored with
};

// A call that fails leaves its reason for platform::LastSystemError.
class RegistryKey {
 public:
  RegistryKey() = default;
  ~RegistryKey();
  RegistryKey(RegistryKey&& other) noexcept;
  RegistryKey& operator=(RegistryKey&& other) noexcept;
  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;

  // Opens an existing key; `subkey` separates levels with backslashes.
  bool Open(Hive hive, const std::string& subkey, bool writable = false);
  // Opens a key for writing, creating it and its parents as needed.
  bool Create(Hive hive, const std::string& subkey);
  bool IsOpen() const;
  void Close();

  // Reads a value as stored; false when it is absent. `name` empty is the default value.
  bool Read(const std::string& name, RegValue& value) const;
  // A REG_SZ or REG_EXPAND_SZ value without its terminator, unexpanded.
  bool ReadString(const std::string& name, std::string& text) const;
  bool ReadDword(const std::string& name, uint32_t& number) const;

  bool Write(const std::string& name, uint32_t type, const std::string& data);
  // Stores `text` with a terminating NUL as REG_SZ (or REG_EXPAND_SZ).
  bool WriteString(const std::string& name, const std::string& text, uint32_t type = kRegSz);
  bool WriteDword(const std::string& name, uint32_t number);
  bool DeleteValue(const std::string& name);

  // Names of the direct subkeys, spelled as they were created.
  std::vector<std::string> SubkeyNames() const;

  // Deletes a key with everything below it.
  static bool DeleteTree(Hive hive, const std::string& subkey);

 private:
#ifdef _WIN32
  void* key_ = nullptr;
#else
  std::string folder_;
#endif
};

inline bool RegistryKey::ReadString(const std::string& name, std::string& text) const {
  RegValue v;
  if (!Read(name, v) || (v.type != kRegSz && v.type != kRegExpandSz)) return false;
  size_t end = v.data.find('\0');
  text = v.data.substr(0, end);
  return true;
}

inline bool RegistryKey::ReadDword(const std::string& name, uint32_t& number) const {
  RegValue v;
  if (!Read(name, v) || v.type != kRegDword || v.data.size() != 4) return false;
  const auto* b = reinterpret_cast<const unsigned char*>(v.data.data());
  number = b[0] | (b[1] << 8) | (b[2] << 16) | (static_cast<uint32_t>(b[3]) << 24);
  return true;
}

inline bool RegistryKey::WriteString(const std::string& name, const std::string& text, uint32_t type) {
  return Write(name, type, text + std::string(1, '\0'));
}

inline bool RegistryKey::WriteDword(const std::string& name, uint32_t number) {
  char b[4] = {static_cast<char>(number & 0xFF), static_cast<char>((number >> 8) & 0xFF),
               static_cast<char>((number >> 16) & 0xFF), static_cast<char>((number >> 24) & 0xFF)};
  return Write(name, kRegDword, std::string(b, 4));
}

}  // namespace platform
