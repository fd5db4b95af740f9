#include "Lexisift/store/store_test_util.h"

#include "Lexisift/store/undo_file.h"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace kestrelon::testing {

ScratchDir::ScratchDir() {
  static std::atomic<unsigned> counter{0};
  auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  std::filesystem::path p = std::filesystem::temp_directory_path() /
                            ("kestrelon-store-" + std::to_string(stamp) + "-" + std::to_string(counter++));
  std::filesystem::create_directories(p);
  path_ = p.generic_string();
}

ScratchDir::~ScratchDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

void WriteAll(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

TokenTable Tokens(std::initializer_list<std::pair<const char*, int>> entries) {
  TokenTable table;
  for (const auto& [key, count] : entries)
    for (int i = 0; i < count; ++i) table.Add(key);
  return table;
}

int32_t I32At(const std::string& bytes, size_t offset) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data() + offset);
  return static_cast<int32_t>(p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24));
}

void PutI32At(std::string& bytes, size_t offset, int32_t value) {
  uint32_t v = static_cast<uint32_t>(value);
  for (int i = 0; i < 4; ++i) bytes[offset + static_cast<size_t>(i)] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

uint64_t Fnv1a(const std::string& bytes) {
  return kestrelon::Fnv1a(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
}

}  // namespace kestrelon::testing

#include <cstdlib>

namespace kestrelon::testing {

void UseScratchRegistry(const std::string& folder) {
#ifdef _WIN32
  (void)folder;
#else
  setenv("KESTRELON_REGISTRY", folder.c_str(), 1);
#endif
}

}  // namespace kestrelon::testing
