#include "bench/corpus_support.h"

#include <malloc.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace bench {
namespace {

// splitmix64: a small generator whose output is fixed by its definition, unlike the
// distributions of the standard library.
class Random {
 public:
  explicit Random(uint64_t seed) : state_(seed) {}
  uint64_t Next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  uint32_t Below(uint32_t n) { return static_cast<uint32_t>(Next() % n); }

 private:
  uint64_t state_;
};

std::string Hex(uint64_t value) {
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(value));
  return text;
}

uint64_t Fnv1a(uint64_t h, const char* data, size_t size) {
  for (size_t i = 0; i < size; ++i) {
    h ^= static_cast<unsigned char>(data[i]);
    h *= 1099511628211ull;
  }
  return h;
}

constexpr uint64_t kFnvBasis = 1469598103934665603ull;

}  // namespace

std::vector<std::string> MailFiles(const fs::path& folder) {
  std::vector<std::string> files;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(folder, error))
    if (entry.is_regular_file() && entry.path().filename().string()[0] != '.') files.push_back(entry.path().string());
  std::sort(files.begin(), files.end());
  return files;
}

std::vector<std::string> WriteSyntheticMails(const fs::path& folder, int count, int words, uint64_t seed) {
  fs::create_directories(folder);
  Random random(seed);
  std::vector<std::string> paths;
  for (int m = 0; m < count; ++m) {
    std::string text = "From: sender" + std::to_string(m % 97) + "@example.org\r\nSubject: note " +
                       std::to_string(m) + "\r\n\r\n";
    for (int w = 0; w < words; ++w) {
      uint32_t length = 4 + random.Below(9);
      for (uint32_t c = 0; c < length; ++c) text += static_cast<char>('a' + random.Below(26));
      text += w % 12 == 11 ? "\r\n" : " ";
    }
    char name[32];
    std::snprintf(name, sizeof name, "syn-%05d.eml", m);
    fs::path path = folder / name;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    paths.push_back(path.string());
  }
  return paths;
}

std::string FileDigest(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return "absent";
  uint64_t h = kFnvBasis;
  std::vector<char> block(1 << 16);
  while (in) {
    in.read(block.data(), static_cast<std::streamsize>(block.size()));
    h = Fnv1a(h, block.data(), static_cast<size_t>(in.gcount()));
  }
  return Hex(h);
}

std::string TextDigest(const std::string& text) { return Hex(Fnv1a(kFnvBasis, text.data(), text.size())); }

bool DigestBook::Load(const fs::path& path) {
  std::ifstream in(path);
  if (!in) return false;
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    std::string name, digest;
    if (fields >> name >> digest) entries_[name] = digest;
  }
  return true;
}

bool DigestBook::Save(const fs::path& path) const {
  std::ofstream out(path, std::ios::trunc);
  out << "# Digests (FNV-1a, 64 bits) of what scripts/corpus.sh produces: store files, backups and\n"
         "# verdicts of each phase. The harness fails when a run gives anything else.\n";
  for (const auto& [name, digest] : entries_) out << name << ' ' << digest << '\n';
  return static_cast<bool>(out);
}

std::string DigestBook::Get(const std::string& name) const {
  auto found = entries_.find(name);
  return found == entries_.end() ? "" : found->second;
}

long PeakRssKb() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
  return -1;
}

void ResetPeakRss() {
  malloc_trim(0);  // memory an earlier phase freed is not counted against the next
  std::ofstream clear("/proc/self/clear_refs");
  clear << "5";
}

}  // namespace bench
