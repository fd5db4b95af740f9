// Tokenizing real mail: header and body passes over the sample mails, in bytes per second.
#include "Lexisift/engine/mail_tokenizer.h"
#include "bench/sample_mails.h"

#include <benchmark/benchmark.h>

namespace {

void BM_TokenizeMail(benchmark::State& state) {
  const std::vector<bench::SampleMail> mails = bench::LoadSampleMails();
  kestrelon::MailTokenizer tokenizer;
  int64_t bytes = 0;
  for (auto _ : state) {
    for (const auto& mail : mails) {
      std::string header = mail.header, body = mail.body;  // the tokenizer consumes its text
      kestrelon::TokenTable table;
      tokenizer.TokenizeHeader(header.data(), table);
      tokenizer.TokenizeBody(body.data(), table);
      benchmark::DoNotOptimize(table.Size());
      bytes += static_cast<int64_t>(header.size() + body.size());
    }
  }
  state.SetBytesProcessed(bytes);
}
BENCHMARK(BM_TokenizeMail);

// A long mail: the sample bodies repeated to about 200 KB, as a large newsletter would be.
void BM_TokenizeLongBody(benchmark::State& state) {
  const std::vector<bench::SampleMail> mails = bench::LoadSampleMails();
  std::string longBody;
  while (longBody.size() < 200000)
    for (const auto& mail : mails) longBody += mail.body;
  kestrelon::MailTokenizer tokenizer;
  for (auto _ : state) {
    std::string body = longBody;
    kestrelon::TokenTable table;
    tokenizer.TokenizeBody(body.data(), table);
    benchmark::DoNotOptimize(table.Size());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(longBody.size()));
}
BENCHMARK(BM_TokenizeLongBody);

}  // namespace

BENCHMARK_MAIN();
