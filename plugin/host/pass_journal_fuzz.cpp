// Loads arbitrary bytes as a pass journal, writes two records and closes it; the reopened
// journal must hold both.
#include "plugin/host/pass_journal.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path =
      (std::filesystem::temp_directory_path() / ("pass_journal_fuzz_" + std::to_string(getpid()) + ".jnl")).string();
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), std::streamsize(size));
  }
  const kestrelon::JournalMail mail{"4242", "fuzz key", "2026/12/07 09:14", "a@b.example", "fuzz\r\n%"};
  try {
    {
      kestrelon::PassJournal journal(path, 7);
      journal.Owe({mail, kestrelon::DeletionKind::kSmtp, false});
      journal.Commit("4243", kestrelon::LearnedWay::kSpam);
    }
    kestrelon::PassJournal again(path, 0);
    bool owed = false;
    for (const kestrelon::OwedDeletion& d : again.Owed())
      owed = owed || (d.mail.id == "4242" && d.mail.subject == mail.subject && d.kind == kestrelon::DeletionKind::kSmtp);
    if (!owed || again.WayOf("4243") != kestrelon::LearnedWay::kSpam) std::abort();
  } catch (const kestrelon::PassJournalError&) {
  }
  std::remove(path.c_str());
  return 0;
}
