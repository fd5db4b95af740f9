// Loads arbitrary bytes as a seen-message list file, records one message and closes it;
// the reopened file must hold that record.
#include "plugin/host/seen_message_list.h"
#include "platform/file.h"
#include "platform/memory_files.h"

#include <cstdlib>
#include <string>

namespace {

// The list lives in memory: the run's time goes to the parser, not the file system.
std::string ListPath() {
  const std::string folder = "/kestrelon-seen-list-fuzz";
  platform::KeepFolderInMemory(folder);
  return folder + "/Kestrelon.msg";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = ListPath();
  {
    platform::File out;
    if (!out.Open(path, platform::Access::ReadWrite, platform::kShareNone, platform::Disposition::CreateAlways) ||
        !out.WriteAt(0, data, size))
      std::abort();
  }
  try {
    {
      kestrelon::SeenMessageList list(path);
      list.Record("fuzz key", "2026/12/07 09:14", "4242");
      list.SetBookmark("4242");
    }
    kestrelon::SeenMessageList again(path);
    if (!again.IsSeen("4242") || !again.IsReturned("fuzz key", "2026/12/07 09:14") || again.Bookmark() != "4242")
      std::abort();
  } catch (const kestrelon::SeenListError&) {
  }
  return 0;
}
