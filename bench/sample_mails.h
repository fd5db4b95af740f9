// The project's sample mails, split into header and body text, for benchmarks.
#pragma once

#include <string>
#include <vector>

namespace bench {

struct SampleMail {
  std::string header;
  std::string body;
};

// A raw mail cut at its first blank line (CR LF or LF) into header and body.
SampleMail SplitMail(const std::string& raw);

// Every .eml file of the samples folder, in name order.
std::vector<SampleMail> LoadSampleMails();

}  // namespace bench
