// Damaged store files: the input patches bucket slots of an empty table and supplies the
// record area. Checking, listing, lookups and a single-writer open with its recovery
// must end without a crash, a hang or a read outside the file. Lookups and updates
// through the chain index must give exactly what walking the chains gives: the same
// items, the same failures and the same bytes in the file.
//   input: n (1 byte, at most 16 patches), n x (bucket: 2 bytes, next: 4 bytes), records
#include "Lexisift/store/mail_items_map.h"
#include "Lexisift/store/persist_map.h"
#include "Lexisift/store/read_only_persist_map.h"
#include "platform/file.h"
#include "platform/memory_files.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// The files of a run live in memory: thousands of inputs a second instead of a few.
std::string Folder() {
  static const std::string folder = [] {
    const std::string memory = "/kestrelon-store-fuzz";
    platform::KeepFolderInMemory(memory);
    return memory;
  }();
  return folder;
}

// The maps with their index turned off: every lookup walks its chain.
class WalkingReadOnlyMap : public kestrelon::CReadOnlyPersistMap {
 public:
  explicit WalkingReadOnlyMap(const std::string& path) : CReadOnlyPersistMap(path) { indexUnavailable_ = true; }
};
class WalkingMap : public kestrelon::CPersistMap {
 public:
  explicit WalkingMap(const std::string& path) : CPersistMap(path) { indexUnavailable_ = true; }
};

void Write(const std::string& path, const std::string& bytes) {
  platform::RemoveFile(path + ".bak");
  platform::RemoveFile(path + ".corrupt");
  platform::File f;
  if (f.Open(path, platform::Access::ReadWrite, platform::kShareNone, platform::Disposition::CreateAlways))
    f.WriteAt(0, bytes.data(), bytes.size());
}

// Whether two files hold the same bytes, compared a block at a time.
bool SameContent(const std::string& a, const std::string& b) {
  platform::File fa, fb;
  uint64_t sa = 0, sb = 0;
  bool openA = fa.Open(a, platform::Access::Read, platform::kShareRead, platform::Disposition::OpenExisting) && fa.Size(sa);
  bool openB = fb.Open(b, platform::Access::Read, platform::kShareRead, platform::Disposition::OpenExisting) && fb.Size(sb);
  if (openA != openB || sa != sb) return false;
  static char ba[1 << 16], bb[1 << 16];
  for (uint64_t at = 0; at < sa; at += sizeof ba) {
    size_t ga = 0, gb = 0;
    fa.ReadAt(at, ba, sizeof ba, ga);
    fb.ReadAt(at, bb, sizeof bb, gb);
    if (ga != gb || std::memcmp(ba, bb, ga) != 0) return false;
  }
  return true;
}

// What a lookup gave: the item's fields, or the failure's text.
std::string Outcome(kestrelon::CPersistMap& map, const std::string& key) {
  try {
    kestrelon::MapItem item = map.GetItem(key);
    return std::to_string(item.ham) + " " + std::to_string(item.spam) + " " + std::to_string(item.next);
  } catch (const kestrelon::StoreError& e) {
    return e.what();
  }
}

// Learns one mail of `keys` into the single-writer store at `path`; the failure's text.
// `replaced` tells whether the opening found the file damaged and started over.
template <typename Map>
std::string Learn(const std::string& path, const std::vector<std::string>& keys, bool& replaced) {
  replaced = false;
  try {
    Map map(path);
    replaced = map.RecoveryDone() != kestrelon::Recovery::None;
    kestrelon::TokenTable mail;
    for (const auto& key : keys) mail.Add(key);
    map.AddItems(mail, true);
    map.AddItems(mail, false);
  } catch (const kestrelon::StoreError& e) {
    return e.what();
  }
  return "";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  size_t patches = data[0] % 17;
  if (size < 1 + patches * 6) return 0;
  static std::string file;  // kept between inputs: no new allocation each time
  file.assign(kestrelon::CPersistMap::kTableSize, '\0');
  for (size_t i = 0; i < patches; ++i) {
    const uint8_t* p = data + 1 + i * 6;
    size_t bucket = (p[0] | (p[1] << 8)) % kestrelon::CPersistMap::kBucketCount;
    for (int b = 0; b < 4; ++b) file[bucket * 13 + 8 + static_cast<size_t>(b)] = static_cast<char>(p[2 + b]);
  }
  file.append(reinterpret_cast<const char*>(data + 1 + patches * 6), size - 1 - patches * 6);

  // Fixed keys, and the keys of the first records as a sequential read finds them.
  std::vector<std::string> keys = {"abc", "xbc", "a", "S*cheap", "tokenwithlongername22"};
  for (size_t q = kestrelon::CPersistMap::kTableSize; q + 14 <= file.size() && keys.size() < 13;) {
    size_t length = static_cast<unsigned char>(file[q + 12]);
    if (length >= 1 && length <= 22 && q + 13 + length <= file.size()) keys.push_back(file.substr(q + 13, length));
    q += 14 + length;
  }

  std::string path = Folder() + "/fuzz.dat";
  Write(path, file);
  try {
    kestrelon::CReadOnlyPersistMap map(path);
    WalkingReadOnlyMap walking(path);
    map.EnumerateItems(true, Folder() + "/dump.txt");
    for (const auto& key : keys)
      if (Outcome(map, key) != Outcome(walking, key)) std::abort();
  } catch (const kestrelon::StoreError&) {
  }

  // Recovery, then learning on what it left, through the index; and on a store that was
  // not replaced by a new one, walking too, with the same outcome and bytes.
  bool replaced = false;
  std::string indexedFailure = Learn<kestrelon::CMailItemsMap>(path, keys, replaced);
  if (replaced) return 0;
  std::string walked = Folder() + "/walked.dat";
  Write(walked, file);
  std::string walkedFailure = Learn<WalkingMap>(walked, keys, replaced);
  if (replaced || indexedFailure != walkedFailure) std::abort();
  if (!SameContent(path, walked)) std::abort();
  return 0;
}
