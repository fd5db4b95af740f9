// The token store with a warm file cache: lookups per second, and learning a 300-token
// mail (AddItems) into stores of 10 000, 200 000 and 800 000 items; the shared store with
// the index it kept from its last opening, and with one it must build again (as after
// another process wrote the file).
#include "Lexisift/store/locked_mail_items_map.h"
#include "Lexisift/store/persist_map.h"
#include "Lexisift/store/shared_index_cache.h"
#include "Lexisift/store/store_test_util.h"

#include <filesystem>

#include <benchmark/benchmark.h>

#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

std::string Key(uint32_t n) {
  // Token-like keys of 3 to 12 bytes, some with a header prefix.
  static const char* prefixes[] = {"", "", "", "S*", "F*", "U*"};
  std::string key = prefixes[n % 6];
  key += "tk";
  for (uint32_t v = n * 2654435761u; key.size() < 4 + n % 9; v /= 26) key += static_cast<char>('a' + v % 26);
  key += std::to_string(n % 1000);
  return key.substr(0, 22);
}

// A scratch folder for the run, removed at exit.
std::string Folder() {
  static kestrelon::testing::ScratchDir folder;
  return folder.Path();
}

// A store of `items` items, built once per run and copied for each benchmark.
std::string StoreWith(int64_t items) {
  static std::map<int64_t, std::string> built;
  auto it = built.find(items);
  if (it != built.end()) return it->second;
  std::string path = Folder() + "/store-" + std::to_string(items) + ".dat";
  std::filesystem::remove(path);
  {
    kestrelon::CPersistMap map(path);
    for (int64_t first = 0; first < items; first += 300) {
      kestrelon::TokenTable mail;
      for (int64_t n = first; n < first + 300 && n < items; ++n) mail.Add(Key(static_cast<uint32_t>(n)));
      map.AddItems(mail, first % 600 == 0);
    }
  }
  built[items] = path;
  return path;
}

std::string FreshCopy(int64_t items) {
  std::string copy = Folder() + "/work.dat";
  std::filesystem::remove(copy + ".bak");
  std::filesystem::copy_file(StoreWith(items), copy, std::filesystem::copy_options::overwrite_existing);
  return copy;
}

void BM_Lookup(benchmark::State& state) {
  const int64_t items = state.range(0);
  kestrelon::CPersistMap map(FreshCopy(items));
  std::mt19937 rng(7);
  std::uniform_int_distribution<uint32_t> pick(0, static_cast<uint32_t>(items * 5 / 4));  // a fifth absent
  std::vector<std::string> keys;
  for (int i = 0; i < 4096; ++i) keys.push_back(Key(pick(rng)));
  size_t i = 0;
  for (auto _ : state) benchmark::DoNotOptimize(map.GetItem(keys[i++ & 4095]).ham);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Lookup)->Arg(10000)->Arg(200000)->Arg(800000);

// A mail of 300 distinct tokens: 240 known to the store and 60 new ones.
void BM_AddMail(benchmark::State& state) {
  const int64_t items = state.range(0);
  kestrelon::CPersistMap map(FreshCopy(items));
  std::mt19937 rng(11);
  std::uniform_int_distribution<uint32_t> known(0, static_cast<uint32_t>(items - 1));
  uint32_t fresh = static_cast<uint32_t>(items) + 1000000;
  for (auto _ : state) {
    state.PauseTiming();
    kestrelon::TokenTable mail;
    while (mail.Size() < 240) mail.Add(Key(known(rng)));
    for (int n = 0; n < 60; ++n) mail.Add(Key(fresh++));
    state.ResumeTiming();
    map.AddItems(mail, false);
  }
  state.SetItemsProcessed(state.iterations());
  state.SetLabel("items = mails");
}
BENCHMARK(BM_AddMail)->Arg(10000)->Arg(200000)->Arg(800000);

// The shared store opens, locks and closes around every mail; with `rebuild` its index is
// built anew at every opening.
void SharedAddMail(benchmark::State& state, bool rebuild) {
  const int64_t items = state.range(0);
  std::string path = FreshCopy(items);
  std::mt19937 rng(13);
  std::uniform_int_distribution<uint32_t> known(0, static_cast<uint32_t>(items - 1));
  uint32_t fresh = static_cast<uint32_t>(items) + 1000000;
  for (auto _ : state) {
    state.PauseTiming();
    kestrelon::TokenTable mail;
    while (mail.Size() < 240) mail.Add(Key(known(rng)));
    for (int n = 0; n < 60; ++n) mail.Add(Key(fresh++));
    if (rebuild) kestrelon::ForgetSharedIndexes();
    state.ResumeTiming();
    kestrelon::CLockedMailItemsMap map(path);
    map.AddItems(mail, true);
  }
  state.SetItemsProcessed(state.iterations());
  state.SetLabel("items = mails");
}
void BM_SharedAddMail(benchmark::State& state) { SharedAddMail(state, false); }
void BM_SharedAddMailIndexBuilt(benchmark::State& state) { SharedAddMail(state, true); }
BENCHMARK(BM_SharedAddMail)->Arg(10000)->Arg(200000)->Arg(800000);
BENCHMARK(BM_SharedAddMailIndexBuilt)->Arg(10000)->Arg(200000)->Arg(800000);

}  // namespace

BENCHMARK_MAIN();
