#include "tools/lexisift/cli.h"

#include <cstdio>
#include <fstream>

namespace lexisift {

int UsageError(const std::string& message) {
  std::fprintf(stderr, "lexisift: %s\n", message.c_str());
  return kUsageError;
}

int EngineFailure(const std::string& message, bool busy) {
  std::fprintf(stderr, "lexisift: %s%s\n", message.c_str(), busy ? ": another program is using the store" : "");
  return busy ? kStoreBusy : kEngineFailure;
}

bool ReadFileBytes(const std::string& path, std::string& bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  bytes.clear();
  char block[16384];
  while (in.read(block, sizeof block) || in.gcount() > 0) bytes.append(block, static_cast<size_t>(in.gcount()));
  return !in.bad();
}

std::string UpToFirstNul(std::string bytes) {
  bytes.resize(bytes.find('\0') == std::string::npos ? bytes.size() : bytes.find('\0'));
  return bytes;
}

}  // namespace lexisift
