#include "client/store/folder_snapshot.h"

#include "plugin/dbx/dbx_exception.h"
#include "platform/file.h"

#include <algorithm>
#include <fstream>
#include <map>
#include <mutex>

namespace kestrelon::client {

namespace {

// What tells a changed file: every edit rewrites the header block with another count
// or another last record; size and write time catch a file made anew.
struct FileLook {
  std::string header;
  uint64_t size = 0;
  uint64_t writeTime = 0;
  bool operator==(const FileLook&) const = default;
};

// False when the file does not exist.
bool LookAt(const std::string& path, FileLook& look) {
  platform::File file;
  if (!file.Open(path, platform::Access::Read, platform::kShareRead | platform::kShareWrite | platform::kShareDelete,
                 platform::Disposition::OpenExisting)) {
    if (file.LastOpenError() == platform::OpenError::NotFound) return false;
    throw StoreError("cannot open " + path);
  }
  look.header.assign(DbxWriter::kHeaderSize, '\0');
  size_t got = 0;
  if (!file.ReadAt(0, look.header.data(), look.header.size(), got) || !file.Size(look.size))
    throw StoreError("cannot read " + path);
  look.header.resize(got);
  platform::LastWriteTime(path, look.writeTime);
  return true;
}

struct Cached {
  FileLook look;
  std::shared_ptr<const MessageList> messages;
};

// A process works with a store or two; the bound only keeps a test run from piling up.
constexpr size_t kMaxCachedFiles = 16;

std::mutex cacheMutex;
std::map<std::string, Cached> cache;

}  // namespace

std::shared_ptr<const MessageList> FolderSnapshot(const std::string& path) {
  FileLook look;
  if (!LookAt(path, look)) return std::make_shared<const MessageList>();
  std::lock_guard<std::mutex> lock(cacheMutex);
  auto it = cache.find(path);
  if (it != cache.end() && it->second.look == look) return it->second.messages;

  // The records are read under the writer's edit lock, so never from a tree caught
  // mid-edit; readers of the plug-in are not held up by it.
  auto fresh = std::make_shared<MessageList>();
  try {
    DbxWriter writer(path);
    DbxWriter::Edit hold(writer);
    look.header = writer.HeaderBytes();
    fresh->reserve(writer.RecordOffsets().size());
    std::ifstream in(path, std::ios::binary);
    for (uint32_t offset : writer.RecordOffsets()) fresh->push_back(ReadStoredMessage(in, offset));
  } catch (const DbxWriteError& e) {
    throw StoreError(e.what());
  } catch (const DbxException& e) {
    throw StoreError(path + ": " + e.message);
  }
  auto byId = [](const StoredMessage& a, const StoredMessage& b) { return a.id < b.id; };
  if (!std::is_sorted(fresh->begin(), fresh->end(), byId)) std::stable_sort(fresh->begin(), fresh->end(), byId);
  if (it == cache.end() && cache.size() >= kMaxCachedFiles) cache.clear();
  cache[path] = Cached{look, fresh};
  return fresh;
}

bool FindInFolder(const std::string& path, uint32_t id, StoredMessage& message) {
  auto byId = [](const StoredMessage& m, uint32_t wanted) { return m.id < wanted; };
  FileLook look;
  if (!LookAt(path, look)) return false;
  {
    std::lock_guard<std::mutex> lock(cacheMutex);
    auto it = cache.find(path);
    if (it != cache.end() && it->second.look == look) {
      const MessageList& messages = *it->second.messages;
      auto found = std::lower_bound(messages.begin(), messages.end(), id, byId);
      if (found == messages.end() || found->id != id) return false;
      message = *found;
      return true;
    }
  }
  // The index lists the records in ascending id, so a binary search reads a few of them
  // where a snapshot reads them all: a file that changes between lookups (a message
  // deleted after each) is not read whole every time. A message it does not meet is
  // looked for in the whole list, which holds also for an index out of order.
  try {
    DbxWriter writer(path);
    DbxWriter::Edit hold(writer);
    const std::vector<uint32_t>& offsets = writer.RecordOffsets();
    std::ifstream in(path, std::ios::binary);
    for (size_t low = 0, high = offsets.size(); low < high;) {
      size_t middle = low + (high - low) / 2;
      StoredMessage candidate = ReadStoredMessage(in, offsets[middle]);
      if (candidate.id == id) {
        message = std::move(candidate);
        return true;
      }
      if (candidate.id < id) low = middle + 1;
      else high = middle;
    }
  } catch (const DbxWriteError& e) {
    throw StoreError(e.what());
  } catch (const DbxException& e) {
    throw StoreError(path + ": " + e.message);
  }
  auto messages = FolderSnapshot(path);
  auto found = std::lower_bound(messages->begin(), messages->end(), id, byId);
  if (found == messages->end() || found->id != id) return false;
  message = *found;
  return true;
}

}  // namespace kestrelon::client
