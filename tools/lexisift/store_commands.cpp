// lexisift stats --store PATH   the store's mail counters, item count and size
// lexisift dump --store PATH OUT  the listing of every item into OUT
// lexisift check --store PATH   the consistency check's result; exit 1 when damaged
// Each opens the store read-only, so it never changes it.
#include "Lexisift/store/persist_map.h"
#include "Lexisift/store/read_only_persist_map.h"
#include "platform/file.h"
#include "tools/lexisift/cli.h"

#include <cinttypes>
#include <cstdio>

namespace lexisift {
namespace {

// Picks "--store PATH" out of `args`; the rest are returned in `positional`.
bool ParseStore(const Args& args, std::string& store, Args& positional) {
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--store") {
      if (i + 1 >= args.size()) return false;
      store = args[++i];
    } else {
      positional.push_back(args[i]);
    }
  }
  return !store.empty();
}

int StoreFailure(const std::exception& e) {
  std::fprintf(stderr, "lexisift: %s\n", e.what());
  return 1;
}

}  // namespace

int RunStats(const Args& args) {
  std::string store;
  Args rest;
  if (!ParseStore(args, store, rest) || !rest.empty()) return UsageError("usage: lexisift stats --store PATH");
  try {
    kestrelon::CReadOnlyPersistMap map(store);
    uint64_t size = 0;
    map.FileSize(size);
    int32_t items = map.EnumerateItems(false, "");
    std::printf("ham %d\nspam %d\nitems %d\nsize %" PRIu64 "\n", static_cast<int>(map.HamMails()),
                static_cast<int>(map.SpamMails()), static_cast<int>(items), size);
    return 0;
  } catch (const std::exception& e) {
    return StoreFailure(e);
  }
}

int RunDump(const Args& args) {
  std::string store;
  Args rest;
  if (!ParseStore(args, store, rest) || rest.size() != 1) return UsageError("usage: lexisift dump --store PATH OUT");
  try {
    kestrelon::CReadOnlyPersistMap map(store);
    if (map.EnumerateItems(true, rest[0]) < 0) {
      std::fprintf(stderr, "lexisift: damaged store, no listing written\n");
      return 1;
    }
    if (!platform::FileExists(rest[0])) return EngineFailure("cannot write the listing " + rest[0]);
    return 0;
  } catch (const std::exception& e) {
    return StoreFailure(e);
  }
}

int RunCheck(const Args& args) {
  std::string store;
  Args rest;
  if (!ParseStore(args, store, rest) || !rest.empty()) return UsageError("usage: lexisift check --store PATH");
  platform::File file;
  int32_t result = -1;
  if (file.Open(store, platform::Access::Read, platform::kShareRead | platform::kShareWrite,
                platform::Disposition::OpenExisting, true))
    result = kestrelon::CPersistMap::CheckMapFile(file);
  else
    return UsageError("cannot open " + store);
  std::printf("%d\n", static_cast<int>(result));
  return result >= 0 ? 0 : 1;
}

}  // namespace lexisift
