// ReadMessage on a 10 000-message Inbox: the newest message (found by the newest-first
// step) and one from the middle (found by the binary search). Each call looks at the
// file (write time, size, header) and keeps the index it read before, as the plug-in's
// reads of one pass do; LoadIndexChanged reads the whole index tree after each change.
#include "client/dbx_writer.h"
#include "plugin/dbx/dbx_reader.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

namespace {

constexpr uint32_t kMessages = 10000;

const std::string& InboxPath() {
  static const std::string path = [] {
    std::string p = (std::filesystem::temp_directory_path() / "kestrelon-bench-Inbox.dbx").string();
    std::filesystem::remove(p);  // a file left by an earlier run would go on counting ids
    kestrelon::client::DbxWriter::Create(p);
    std::vector<kestrelon::client::DbxNewMessage> mails;
    for (uint32_t i = 1; i <= kMessages; ++i) {
      std::string mail = "From: Sender " + std::to_string(i) + " <s" + std::to_string(i) +
                         "@example.org>\r\nSubject: Message " + std::to_string(i) +
                         "\r\nContent-Type: text/plain\r\n\r\n";
      for (uint32_t line = 0; line < 20 + i % 40; ++line) mail += "Some ordinary text of a mail, line " + std::to_string(line) + ".\r\n";
      mails.push_back({kestrelon::client::DbxEnvelope{}, mail});
    }
    kestrelon::client::DbxWriter(p).AppendMany(mails);
    return p;
  }();
  return path;
}

void ReadOne(benchmark::State& state, uint32_t id) {
  kestrelon::DbxReader reader(InboxPath());
  std::string header, body;
  for (auto _ : state) {
    if (!reader.ReadMessage(id, header, body, false)) state.SkipWithError("message not found");
    benchmark::DoNotOptimize(body.data());
  }
}

void BM_ReadMessageNewest(benchmark::State& state) { ReadOne(state, kMessages); }
void BM_ReadMessageMiddle(benchmark::State& state) { ReadOne(state, kMessages / 2 + 1); }

void BM_LoadIndex(benchmark::State& state) {
  kestrelon::DbxReader reader(InboxPath());
  for (auto _ : state) benchmark::DoNotOptimize(reader.LoadIndex());
}

void BM_LoadIndexChanged(benchmark::State& state) {
  kestrelon::DbxReader reader(InboxPath());
  auto time = std::filesystem::last_write_time(InboxPath());
  for (auto _ : state) {
    state.PauseTiming();
    time += std::chrono::seconds(1);
    std::filesystem::last_write_time(InboxPath(), time);
    state.ResumeTiming();
    benchmark::DoNotOptimize(reader.LoadIndex());
  }
}

}  // namespace

BENCHMARK(BM_ReadMessageNewest)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ReadMessageMiddle)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LoadIndex)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LoadIndexChanged)->Unit(benchmark::kMicrosecond);
BENCHMARK_MAIN();
