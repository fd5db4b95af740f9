// The project's sample mails, split into header and body text, for benchmarks.
#pragma once

#include <string>
#include <vector>

namespace bench {

struct SampleMail {
  std::string header;
  std::string body;
};

// Every .eml file of the samples folder, in name order.
std::vector<SampleMail> LoadSampleMails();

}  // namespace bench
