#include "Lexisift/store/chain_index.h"

#include "Lexisift/store/persist_map.h"
#include "Lexisift/store/store_test_util.h"

#include <gtest/gtest.h>

#include <vector>

using namespace kestrelon;
using namespace kestrelon::testing;

namespace {

// The offsets the index gives for `key`.
std::vector<uint32_t> Found(const ChainIndex& index, const std::string& key) {
  std::vector<uint32_t> offsets;
  index.Find(ChainIndex::Hash(key), [&](uint32_t at) {
    offsets.push_back(at);
    return false;
  });
  return offsets;
}

ChainIndex Built(const std::string& path) {
  platform::File file;
  EXPECT_TRUE(file.Open(path, platform::Access::Read, platform::kShareRead, platform::Disposition::OpenExisting));
  uint64_t size = 0;
  EXPECT_TRUE(file.Size(size));
  ChainIndex index;
  EXPECT_TRUE(index.Build(file, size));
  return index;
}

}  // namespace

// xbc, abc (bucket 296) and q (bucket 0) at 780000, 780017, 780034.
TEST(ChainIndex, FindsEachRecordAndEachChainsTail) {
  ScratchDir dir;
  std::string path = dir.File("k.dat");
  { CPersistMap(path).AddItems(Tokens({{"xbc", 1}}), false); }
  { CPersistMap(path).AddItems(Tokens({{"abc", 1}}), false); }
  { CPersistMap(path).AddItems(Tokens({{"q", 1}}), false); }
  ChainIndex index = Built(path);
  EXPECT_EQ(Found(index, "xbc"), std::vector<uint32_t>{780000});
  EXPECT_EQ(Found(index, "abc"), std::vector<uint32_t>{780017});
  EXPECT_EQ(Found(index, "q"), std::vector<uint32_t>{780034});
  EXPECT_TRUE(Found(index, "zbc").empty());
  EXPECT_EQ(index.Tail(296), 780017u);
  EXPECT_EQ(index.Tail(0), 780034u);
  EXPECT_EQ(index.Tail(5), 5u * 13);
  EXPECT_TRUE(index.Trusted(296) && index.Trusted(0) && index.Trusted(5));
  EXPECT_EQ(index.Size(), 780049u);
  EXPECT_EQ(index.LastRecord(), 780034u);

  // Growing far past the first table keeps every key.
  for (uint32_t i = 0; i < 20000; ++i) {
    std::string key = "k" + std::to_string(i);
    index.Add(CPersistMap::Bucket(key), key, ChainIndex::Hash(key), 800000 + i);
  }
  for (uint32_t i = 0; i < 20000; i += 997) EXPECT_EQ(Found(index, "k" + std::to_string(i)).size(), 1u);
  EXPECT_EQ(Found(index, "abc"), std::vector<uint32_t>{780017});
}

// Enough records for every part of the build, in chains of every length.
TEST(ChainIndex, ABuildFindsEveryRecordOfALargeFile) {
  ScratchDir dir;
  std::string path = dir.File("k.dat");
  std::vector<std::string> keys;
  TokenTable tokens;
  for (int i = 0; i < 30000; ++i) tokens.Add(keys.emplace_back("w" + std::to_string(i * 7919)));
  { CPersistMap(path).AddItems(tokens, false); }
  ChainIndex index = Built(path);
  const std::string bytes = ReadAll(path);
  for (const std::string& key : keys) {
    // Candidates share the key's tag; exactly one of them is the key's record.
    const std::string identity = char(key.size()) + key + '\0';  // length byte, key, terminator
    int holding = 0;
    for (uint32_t at : Found(index, key)) holding += bytes.compare(at + 12, identity.size(), identity) == 0;
    EXPECT_EQ(holding, 1) << key;
  }
}

// A chain is left to the walk when any of its links does not lead forward to a record of
// its own bucket; the other chains stay indexed.
TEST(ChainIndex, DamagedChainsAreNotTrusted) {
  ScratchDir dir;
  std::string path = dir.File("k.dat");
  { CPersistMap(path).AddItems(Tokens({{"xbc", 1}, {"abc", 1}, {"q", 1}, {"zz", 1}}), false); }
  std::string good = ReadAll(path);
  const uint32_t zzBucket = CPersistMap::Bucket("zz");
  auto check = [&](const std::string& bytes, const char* what) {
    WriteAll(path, bytes);
    ChainIndex index = Built(path);
    EXPECT_FALSE(index.Trusted(296)) << what;
    EXPECT_TRUE(index.Trusted(zzBucket)) << what;
  };
  const int32_t head = I32At(good, 3856);
  std::string bad = good;
  PutI32At(bad, 3856, head + 1);  // into the middle of a record
  check(bad, "middle");
  bad = good;
  PutI32At(bad, 3856, static_cast<int32_t>(good.size()));  // the end of the file
  check(bad, "end");
  bad = good;
  PutI32At(bad, 3856, I32At(good, zzBucket * 13 + 8));  // a record of another bucket
  check(bad, "other bucket");
  bad = good;
  PutI32At(bad, static_cast<size_t>(head) + 8, head);  // a record pointing at itself
  check(bad, "loop");
  bad = good;
  bad[296 * 13 + 12] = 3;  // a slot whose length byte the walk compares
  check(bad, "slot length");
}

TEST(ChainIndex, TheFirstRecordOfAKeyWins) {
  ScratchDir dir;
  std::string path = dir.File("k.dat");
  { CPersistMap(path).AddItems(Tokens({{"abc", 1}}), false); }
  // A second record of abc appended and linked behind the first.
  std::string bytes = ReadAll(path);
  PutI32At(bytes, 780008, 780017);
  bytes += bytes.substr(780000, 17);
  PutI32At(bytes, 780017 + 8, 0);
  WriteAll(path, bytes);
  ChainIndex index = Built(path);
  EXPECT_TRUE(index.Trusted(296));
  EXPECT_EQ(Found(index, "abc"), std::vector<uint32_t>{780000});
  EXPECT_EQ(index.Tail(296), 780017u);
}
