// Undo records beside a store as anything may leave them. The input is a record; when
// its first byte is even the harness gives it the magic, length and checksum of a whole
// record, so that what lies behind them is reached. Decoding must end without a crash or
// a read outside the input; the opening of a sound store beside it must drop or apply the
// record, leave no record in the companion and leave a sound store (recovered, when the record
// damaged it).
#include "Lexisift/store/map_format.h"
#include "Lexisift/store/persist_map.h"
#include "Lexisift/store/store_recovery.h"
#include "Lexisift/store/undo_file.h"
#include "platform/file.h"
#include "platform/memory_files.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

const std::string kFolder = "/kestrelon-undo-fuzz";

void Write(const std::string& path, const void* data, size_t size) {
  platform::File f;
  if (f.Open(path, platform::Access::ReadWrite, platform::kShareNone, platform::Disposition::CreateAlways))
    f.WriteAt(0, data, size);
}

std::vector<unsigned char> ReadFile(const std::string& path) {
  platform::File f;
  uint64_t size = 0;
  std::vector<unsigned char> bytes;
  size_t got = 0;
  if (f.Open(path, platform::Access::Read, platform::kShareRead, platform::Disposition::OpenExisting) && f.Size(size)) {
    bytes.resize(static_cast<size_t>(size));
    if (!f.ReadAt(0, bytes.data(), bytes.size(), got)) got = 0;
  }
  bytes.resize(got);
  return bytes;
}

// A sound store that learned one small mail: hamMails 1, two records.
const std::vector<unsigned char>& StoreImage() {
  static const std::vector<unsigned char> image = [] {
    platform::KeepFolderInMemory(kFolder);
    const std::string path = kFolder + "/image.dat";
    {
      kestrelon::CPersistMap map(path);
      kestrelon::TokenTable mail;
      mail.Add("abc");
      mail.Add("xbc");
      map.AddItems(mail, false);
    }
    std::vector<unsigned char> bytes = ReadFile(path);
    if (bytes.size() <= kestrelon::map_format::kTableSize) std::abort();
    return bytes;
  }();
  return image;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<unsigned char>& image = StoreImage();
  std::vector<unsigned char> record(data, data + size);
  if (size >= 44 && data[0] % 2 == 0) {
    // Half of them in the current layout, half in the earlier one.
    const bool fnv = data[0] % 4 == 0;
    std::memcpy(record.data(), fnv ? "KSU1" : "KSU2", 4);
    kestrelon::map_format::PutU32(&record[4], static_cast<uint32_t>(size));
    const uint64_t sum = fnv ? kestrelon::Fnv1a(record.data(), size - 8)
                             : kestrelon::UndoRecordSum(record.data(), size - 8);
    kestrelon::map_format::PutU32(&record[size - 8], static_cast<uint32_t>(sum));
    kestrelon::map_format::PutU32(&record[size - 4], static_cast<uint32_t>(sum >> 32));
  }
  kestrelon::StoreUndo undo;
  kestrelon::DecodeUndoRecord(record.data(), record.size(), undo);

  const std::string path = kFolder + "/fuzz.dat";
  platform::RemoveFile(path + ".bak");
  platform::RemoveFile(path + ".corrupt");
  Write(path, image.data(), image.size());
  Write(kestrelon::UndoFile::PathFor(path), record.data(), record.size());
  try {
    kestrelon::CPersistMap map(path);
  } catch (const kestrelon::StoreError&) {
    std::abort();  // a sound store with any companion opens
  }
  const std::vector<unsigned char> left = ReadFile(kestrelon::UndoFile::PathFor(path));
  if (kestrelon::DecodeUndoRecord(left.data(), left.size(), undo) || !kestrelon::IsSoundMapFile(path)) std::abort();
  return 0;
}
