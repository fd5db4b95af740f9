// A process killed during a write may leave the write cut short at a page boundary of
// the file. Every such cut of every write of a series of updates must leave a store that
// the check finds sound, whose lookups all succeed: a damaged shared store would be
// emptied by its next opener. The one exception the format leaves is a single record or
// field that itself lies across a boundary, written on its own as it always was.
#include "Lexisift/store/kill_point.h"
#include "Lexisift/store/persist_map.h"
#include "Lexisift/store/read_only_persist_map.h"
#include "Lexisift/store/store_test_util.h"
#include "platform/file.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <vector>

using namespace kestrelon;
using namespace kestrelon::testing;

namespace {

struct Written {
  uint64_t offset;
  std::string bytes;
};

std::vector<Written>* writes = nullptr;
std::string* writtenPath = nullptr;

// Keeps the bytes each write of the store left in the file.
void Record(const char*, uint64_t offset, size_t size) {
  std::ifstream in(*writtenPath, std::ios::binary);
  std::string bytes(size, '\0');
  in.seekg(static_cast<std::streamoff>(offset));
  in.read(bytes.data(), static_cast<std::streamsize>(size));
  writes->push_back({offset, bytes});
}

TokenTable Mail(int mail) {
  TokenTable table;
  for (int k = 0; k < 160; ++k) table.Add("w" + std::to_string((mail * 37 + k * 11) % 1500) + "x");
  return table;
}

}  // namespace

TEST(TornWrites, ACutAtAnyPageBoundaryLeavesASoundStore) {
  ScratchDir dir;
  std::string path = dir.File("k.dat");
  std::vector<Written> recorded;
  writes = &recorded;
  writtenPath = &path;
  std::string image;
  {
    CPersistMap map(path);
    image = ReadAll(path);
    SetKillPointHook(Record);
    for (int mail = 0; mail < 24; ++mail) map.AddItems(Mail(mail), mail % 2 == 0);
    SetKillPointHook(nullptr);
  }

  const std::string torn = dir.File("torn.dat");
  int cuts = 0;
  const size_t largestRecord = CPersistMap::kRecordHeaderSize + kMaxKeyLength + 1;
  for (const Written& w : recorded) {
    const uint64_t stop = w.offset + w.bytes.size();
    for (uint64_t cut = (w.offset / 4096 + 1) * 4096; cut < stop && w.bytes.size() > largestRecord; cut += 4096) {
      std::string bytes = image;
      if (bytes.size() < cut) bytes.resize(static_cast<size_t>(cut));
      std::memcpy(&bytes[static_cast<size_t>(w.offset)], w.bytes.data(), static_cast<size_t>(cut - w.offset));
      WriteAll(torn, bytes);
      ++cuts;
      platform::File file;
      ASSERT_TRUE(file.Open(torn, platform::Access::Read, platform::kShareRead, platform::Disposition::OpenExisting));
      ASSERT_GE(CPersistMap::CheckMapFile(file), 0) << "write at " << w.offset << " cut at " << cut;
      file.Close();
      CReadOnlyPersistMap map(torn);
      for (int k = 0; k < 1500; k += 7) EXPECT_NO_THROW(map.GetItem("w" + std::to_string(k) + "x"));
    }
    if (image.size() < stop) image.resize(static_cast<size_t>(stop));
    image.replace(static_cast<size_t>(w.offset), w.bytes.size(), w.bytes);
  }
  EXPECT_EQ(image, ReadAll(path));  // every write was seen
  EXPECT_GT(cuts, 20);
}
