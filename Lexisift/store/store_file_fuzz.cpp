// Damaged store files: the input patches bucket slots of an empty table and supplies the
// record area. Checking, listing, lookups and a single-writer open with its recovery
// must end without a crash, a hang or a read outside the file.
//   input: n (1 byte, at most 16 patches), n x (bucket: 2 bytes, next: 4 bytes), records
#include "Lexisift/store/mail_items_map.h"
#include "Lexisift/store/persist_map.h"
#include "Lexisift/store/read_only_persist_map.h"
#include "Lexisift/store/store_test_util.h"

#include <filesystem>

#include <cstdint>
#include <cstdio>
#include <string>

namespace {

// A scratch folder for the run, removed at exit.
std::string Folder() {
  static kestrelon::testing::ScratchDir folder;
  return folder.Path();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  size_t patches = data[0] % 17;
  if (size < 1 + patches * 6) return 0;
  std::string file(kestrelon::CPersistMap::kTableSize, '\0');
  for (size_t i = 0; i < patches; ++i) {
    const uint8_t* p = data + 1 + i * 6;
    size_t bucket = (p[0] | (p[1] << 8)) % kestrelon::CPersistMap::kBucketCount;
    for (int b = 0; b < 4; ++b) file[bucket * 13 + 8 + static_cast<size_t>(b)] = static_cast<char>(p[2 + b]);
  }
  file.append(reinterpret_cast<const char*>(data + 1 + patches * 6), size - 1 - patches * 6);

  std::string path = Folder() + "/fuzz.dat";
  std::filesystem::remove(path + ".bak");
  std::filesystem::remove(path + ".corrupt");
  if (FILE* f = std::fopen(path.c_str(), "wb")) {
    std::fwrite(file.data(), 1, file.size(), f);
    std::fclose(f);
  }
  const char* keys[] = {"abc", "xbc", "a", "S*cheap", "tokenwithlongername22"};
  try {
    kestrelon::CReadOnlyPersistMap map(path);
    map.EnumerateItems(true, Folder() + "/dump.txt");
    for (const char* key : keys) {
      try {
        map.GetItem(key);
      } catch (const kestrelon::StoreError&) {
      }
    }
  } catch (const kestrelon::StoreError&) {
  }
  try {
    kestrelon::CMailItemsMap map(path);  // recovery, then learning on what it left
    kestrelon::TokenTable mail;
    for (const char* key : keys) mail.Add(key);
    map.AddItems(mail, true);
  } catch (const kestrelon::StoreError&) {
  }
  return 0;
}
