#include "bench/sample_mails.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace bench {

SampleMail SplitMail(const std::string& raw) {
  size_t split = raw.find("\r\n\r\n");
  size_t gap = 4;
  if (split == std::string::npos) split = raw.find("\n\n"), gap = 2;
  if (split == std::string::npos) split = raw.size(), gap = 0;
  return {raw.substr(0, split), raw.substr(std::min(raw.size(), split + gap))};
}

std::vector<SampleMail> LoadSampleMails() {
  std::vector<std::filesystem::path> paths;
  for (const auto& entry : std::filesystem::directory_iterator(KESTRELON_SAMPLES_DIR "/mail"))
    if (entry.path().extension() == ".eml") paths.push_back(entry.path());
  std::sort(paths.begin(), paths.end());

  std::vector<SampleMail> mails;
  for (const auto& path : paths) {
    std::ifstream in(path, std::ios::binary);
    std::string raw((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    mails.push_back(SplitMail(raw));
  }
  return mails;
}

}  // namespace bench
