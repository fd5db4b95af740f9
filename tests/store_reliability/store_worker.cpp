// store_worker shared|single STORE WORKER COUNT
// Learns COUNT mails of WORKER as ham into STORE, opening and closing the store for each
// mail: the shared store (file-locked) or the single-writer store (with its recovery and
// backup). Exits 0 when all were learned, 1 on a store failure, 2 on bad arguments.
#include "Lexisift/store/locked_mail_items_map.h"
#include "Lexisift/store/mail_items_map.h"
#include "tests/store_reliability/mails.h"

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
  if (argc != 5) return 2;
  std::string mode = argv[1], store = argv[2], worker = argv[3];
  int count = std::atoi(argv[4]);
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
  } catch (const std::exception& e) {
    std::fprintf(stderr, "store_worker: %s\n", e.what());
    return 1;
  }
  return 0;
}
