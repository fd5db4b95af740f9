// Feeds mutated message files to the reader: the index walk, every record and text the
// index points to, the lookups and ReadMessage must neither crash, hang nor allocate
// without bound, whatever the file holds.
#include "plugin/dbx/dbx_message_info.h"
#include "plugin/dbx/dbx_message_text.h"
#include "plugin/dbx/dbx_reader.h"
#include "platform/file.h"
#include "platform/memory_files.h"

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

// The message file lives in memory: the run's time goes to the reader, not the file system.
std::string ScratchPath() {
  const std::string folder = "/kestrelon-dbx-fuzz";
  platform::KeepFolderInMemory(folder);
  return folder + "/Inbox.dbx";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = ScratchPath();
  {
    platform::File out;
    if (!out.Open(path, platform::Access::ReadWrite, platform::kShareNone, platform::Disposition::CreateAlways) ||
        !out.WriteAt(0, data, size))
      std::abort();
  }
  kestrelon::DbxReader reader(path);
  try {
    uint32_t n = reader.LoadIndex();
    for (uint32_t i = 0; i < n && i < 64; ++i) {
      try {
        kestrelon::DbxMessageInfo info(reader.Stream(), reader.IndexAt(i));
        uint32_t id = info.IndexValue(kestrelon::DbxMessageInfo::kIndexMessageIndex);
        uint32_t address = info.IndexValue(kestrelon::DbxMessageInfo::kIndexMessageAddress);
        for (uint32_t a = 0; a < 32; ++a) (void)info.IndexType(a);
        if (address != 0) {
          kestrelon::DbxMessageText text(reader.Stream(), address);
          (void)text.Length();
        }
        (void)reader.FindMessageAddress(id, (i & 1) != 0);
      } catch (const kestrelon::DbxException&) {
      }
    }
    if (n > 0) {
      kestrelon::DbxMessageInfo last(reader.Stream(), reader.IndexAt(n - 1));
      uint32_t id = last.IndexValue(kestrelon::DbxMessageInfo::kIndexMessageIndex);
      std::string header, body;
      reader.ReadMessage(id, header, body, size & 1);
      reader.ReadMessage(id + 1, header, body, false);
    }
  } catch (const kestrelon::DbxException&) {
  }
  platform::RemoveFile(path + ".log");  // failed reads are logged; keep the log from growing
  return 0;
}
