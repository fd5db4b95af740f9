// A process killed in the middle of a store update leaves its undo record beside the
// store: whatever write it was killed after, the next opening, single-writer or shared,
// finds the store as the update found it. A record cut short, or one that does not
// belong to the store, is dropped and the store left alone.
#include "Lexisift/store/undo_file.h"

#include "Lexisift/store/kill_point.h"
#include "Lexisift/store/locked_mail_items_map.h"
#include "Lexisift/store/map_format.h"
#include "Lexisift/store/store_test_util.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace kestrelon;
using namespace kestrelon::testing;

namespace {

struct Left {
  std::string store, undo;
};
std::vector<Left>* left = nullptr;
const std::string* leftPath = nullptr;

// What a process killed right after this write of the update leaves.
void Kill(const char*, uint64_t, size_t) {
  left->push_back({ReadAll(*leftPath), ReadAll(UndoFile::PathFor(*leftPath))});
}

TokenTable Mail(int first, int count) {
  TokenTable table;
  for (int k = first; k < first + count; ++k) table.Add("t" + std::to_string(k));
  return table;
}

bool HoldsRecord(const std::string& bytes) {
  StoreUndo undo;
  return DecodeUndoRecord(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), undo);
}

// The shared store marks its state in byte 12; the single-writer store leaves it 0.
std::string WithoutMark(std::string bytes) {
  if (bytes.size() > 12) bytes[12] = 0;
  return bytes;
}

}  // namespace

TEST(UndoFile, AnUpdateKilledAfterAnyOfItsWritesIsRolledBackAtTheNextOpening) {
  ScratchDir dir;
  UseScratchRegistry(dir.File("registry"));
  const std::string path = dir.File("Kestrelon.dat"), undoPath = UndoFile::PathFor(path);
  std::vector<Left> states;
  std::string before;
  {
    CPersistMap map(path);
    map.AddItems(Mail(0, 600), false);
    before = ReadAll(path);
    left = &states;
    leftPath = &path;
    SetKillPointHook(Kill);
    map.AddItems(Mail(400, 600), true);  // 200 tokens rewritten in place, 400 appended
    SetKillPointHook(nullptr);
  }
  EXPECT_FALSE(HoldsRecord(ReadAll(undoPath)));  // finished
  ASSERT_GE(states.size(), 3u);      // records appended, records updated, mail counted

  const std::string probe = dir.File("probe.dat"), probeUndo = UndoFile::PathFor(probe);
  for (size_t k = 0; k < states.size(); ++k) {
    ASSERT_TRUE(HoldsRecord(states[k].undo)) << "write " << k;
    ASSERT_TRUE(states[k].store != before) << "write " << k;
    for (bool shared : {false, true}) {
      WriteAll(probe, states[k].store);
      WriteAll(probeUndo, states[k].undo);
      if (shared) {
        CLockedMailItemsMap map(probe);
        EXPECT_EQ(map.HamMails() * 10 + map.SpamMails(), 10);
        EXPECT_EQ(map.GetItem("t500").spam + map.GetItem("t900").spam, 0);
      } else {
        CPersistMap map(probe);
        EXPECT_EQ(map.HamMails() * 10 + map.SpamMails(), 10);
        EXPECT_EQ(map.GetItem("t500").spam + map.GetItem("t900").spam, 0);
      }
      EXPECT_TRUE(WithoutMark(ReadAll(probe)) == before) << "killed after write " << k << (shared ? ", shared" : "");
      EXPECT_FALSE(HoldsRecord(ReadAll(probeUndo))) << "killed after write " << k << (shared ? ", shared" : "");
    }
  }

  // Killed while the record itself was written, the store not yet touched; and a record
  // of another store (a new one, shorter than the size the record names): dropped, the
  // store left alone.
  const std::string& record = states.front().undo;
  for (const auto& [store, undo] : {Left{before, record.substr(0, record.size() - 1)},
                                     Left{before, record.substr(0, record.size() / 2)},
                                     Left{std::string(780000, '\0'), record}}) {
    WriteAll(probe, store);
    WriteAll(probeUndo, undo);
    { CPersistMap map(probe); }
    EXPECT_TRUE(ReadAll(probe) == store);
    EXPECT_FALSE(HoldsRecord(ReadAll(probeUndo)));
  }

  // A record in the layout of earlier versions (magic "KSU1", FNV-1a sum) is put back too.
  std::string earlier = states.back().undo;
  const size_t length = map_format::ReadU32(reinterpret_cast<const unsigned char*>(earlier.data() + 4));
  ASSERT_LE(length, earlier.size());
  earlier.replace(0, 4, "KSU1");
  const uint64_t sum = Fnv1a(earlier.substr(0, length - 8));
  for (int b = 0; b < 8; ++b) earlier[length - 8 + b] = static_cast<char>(sum >> (8 * b));
  WriteAll(probe, states.back().store);
  WriteAll(probeUndo, earlier);
  { CPersistMap map(probe); }
  EXPECT_TRUE(ReadAll(probe) == before);
}
