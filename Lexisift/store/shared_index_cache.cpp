#include "Lexisift/store/shared_index_cache.h"

#include "Lexisift/store/map_format.h"

#include <list>
#include <mutex>
#include <utility>

namespace kestrelon {
namespace {

constexpr size_t kKept = 4;

struct Cache {
  std::mutex mutex;
  std::list<std::pair<std::string, std::unique_ptr<ChainIndex>>> entries;  // most recent first
};

Cache& TheCache() {
  static Cache cache;
  return cache;
}

}  // namespace

std::unique_ptr<ChainIndex> TakeSharedIndex(const std::string& path) {
  Cache& cache = TheCache();
  std::lock_guard<std::mutex> hold(cache.mutex);
  for (auto it = cache.entries.begin(); it != cache.entries.end(); ++it) {
    if (it->first == path) {
      std::unique_ptr<ChainIndex> index = std::move(it->second);
      cache.entries.erase(it);
      return index;
    }
  }
  return nullptr;
}

void KeepSharedIndex(const std::string& path, std::unique_ptr<ChainIndex> index) {
  Cache& cache = TheCache();
  std::lock_guard<std::mutex> hold(cache.mutex);
  for (auto it = cache.entries.begin(); it != cache.entries.end(); ++it) {
    if (it->first == path) {
      cache.entries.erase(it);
      break;
    }
  }
  cache.entries.emplace_front(path, std::move(index));
  if (cache.entries.size() > kKept) cache.entries.pop_back();
}

void ForgetSharedIndexes() {
  Cache& cache = TheCache();
  std::lock_guard<std::mutex> hold(cache.mutex);
  cache.entries.clear();
}

bool IndexStillHolds(const ChainIndex& index, platform::File& file, uint64_t size) {
  if (!index.Built() || index.Size() != size) return false;
  const auto& identity = index.LastRecordKey();
  if (index.LastRecord() == 0) return identity.empty();
  std::vector<unsigned char> bytes(identity.size());
  size_t got = 0;
  return file.ReadAt(index.LastRecord() + map_format::kKeyLengthOffset, bytes.data(), bytes.size(), got) &&
         got == bytes.size() && bytes == identity;
}

}  // namespace kestrelon
