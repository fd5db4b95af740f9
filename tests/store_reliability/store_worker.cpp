// store_worker shared|single STORE WORKER COUNT [KILL-AT]
// Learns COUNT mails of WORKER as ham into STORE, opening and closing the store for each
// mail: the shared store (file-locked) or the single-writer store (with its recovery and
// backup). Exits 0 when all were learned, 1 on a store failure, 4 when another program
// kept the store for longer than an opener waits, 2 on bad arguments.
// With KILL-AT the process ends at once, with exit code 3, at the store's KILL-AT-th
// kill point: after that many writes of its updates.
//
// store_worker hold shared|single STORE MILLISECONDS
// Opens STORE, creates "STORE.held" and keeps the store for MILLISECONDS before it exits 0.
#include "Lexisift/store/kill_point.h"
#include "Lexisift/store/locked_mail_items_map.h"
#include "Lexisift/store/mail_items_map.h"
#include "tests/store_reliability/mails.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <thread>

namespace {

int killAt = 0;

void CountKillPoint(const char*, uint64_t, size_t) {
  if (--killAt == 0) std::_Exit(3);
}

int Hold(const std::string& mode, const std::string& store, int milliseconds) {
  std::unique_ptr<kestrelon::CPersistMap> map;
  if (mode == "shared") map = kestrelon::CreateLockedPersistMap(store);
  else if (mode == "single") map = std::make_unique<kestrelon::CMailItemsMap>(store);
  else return 2;
  std::ofstream(store + ".held").put('1');
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    if (argc == 5 && std::string(argv[1]) == "hold") return Hold(argv[2], argv[3], std::atoi(argv[4]));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "store_worker: %s\n", e.what());
    return 1;
  }
  if (argc != 5 && argc != 6) return 2;
  std::string mode = argv[1], store = argv[2], worker = argv[3];
  int count = std::atoi(argv[4]);
  if (argc == 6) {
    killAt = std::atoi(argv[5]);
    if (killAt < 1) return 2;
    kestrelon::SetKillPointHook(CountKillPoint);
  }
  try {
    for (int i = 0; i < count; ++i) {
      kestrelon::TokenTable mail = kestrelon::reliability::Mail(worker, i);
      if (mode == "shared") {
        auto map = kestrelon::CreateLockedPersistMap(store);
        map->AddItems(mail, false);
      } else if (mode == "single") {
        kestrelon::CMailItemsMap map(store);
        map.AddItems(mail, false);
      } else {
        return 2;
      }
    }
  } catch (const kestrelon::StoreBusy& e) {
    std::fprintf(stderr, "store_worker: busy: %s\n", e.what());
    return 4;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "store_worker: %s\n", e.what());
    return 1;
  }
  return 0;
}
