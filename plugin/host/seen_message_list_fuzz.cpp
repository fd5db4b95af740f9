// Loads arbitrary bytes as a seen-message list file, records one message and closes it;
// the reopened file must hold that record.
#include "plugin/host/seen_message_list.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path =
      (std::filesystem::temp_directory_path() / ("seen_list_fuzz_" + std::to_string(getpid()) + ".msg")).string();
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), std::streamsize(size));
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
  std::remove(path.c_str());
  return 0;
}
