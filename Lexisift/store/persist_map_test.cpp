#include "Lexisift/store/persist_map.h"

#include "Lexisift/store/item_counter.h"
#include "Lexisift/store/read_only_persist_map.h"
#include "Lexisift/store/store_test_util.h"
#include "platform/file.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>

using namespace kestrelon;
using namespace kestrelon::testing;

namespace {

std::string ErrorOf(const std::function<void()>& fn) {
  try {
    fn();
  } catch (const StoreError& e) {
    return e.what();
  }
  return "";
}

int32_t Check(const std::string& path) {
  platform::File f;
  EXPECT_TRUE(f.Open(path, platform::Access::Read, platform::kShareRead | platform::kShareWrite,
                     platform::Disposition::OpenExisting));
  return CPersistMap::CheckMapFile(f);
}

}  // namespace

TEST(PersistMap, NewFileIsTheEmptyBucketTable) {
  ScratchDir dir;
  {
    CPersistMap map(dir.File("k.dat"));
    EXPECT_EQ(map.HamMails(), 0);
    EXPECT_EQ(map.SpamMails(), 0);
    EXPECT_EQ(map.GetItem("abc").ham, 0);
  }
  EXPECT_EQ(ReadAll(dir.File("k.dat")), std::string(780000, '\0'));
  EXPECT_EQ(ReadAll(dir.File("k.dat.bak")), std::string(780000, '\0'));
}

TEST(PersistMap, HashWeighsBytesByPositionAsSigned) {
  EXPECT_EQ(CPersistMap::Bucket("abc"), 296u);
  EXPECT_EQ(CPersistMap::Bucket("xbc"), 296u);
  EXPECT_EQ(CPersistMap::Bucket("z"), 0u);
  EXPECT_EQ(CPersistMap::Bucket("a\xe9"), 23u);  // 1 * -23, absolute value
  // 21 * 127 * 22 / 2 ... the largest sums stay below one table length.
  EXPECT_EQ(CPersistMap::Bucket(std::string(22, '\x7f')), (231u * 127u) % 60000u);
}

TEST(PersistMap, AbcInBucket296IsByteExact) {
  ScratchDir dir;
  std::string path = dir.File("k.dat");
  {
    CPersistMap map(path);
    map.AddItems(Tokens({{"abc", 2}}), false);
    EXPECT_EQ(map.HamMails(), 1);
  }
  std::string bytes = ReadAll(path);
  ASSERT_EQ(bytes.size(), 780017u);
  EXPECT_EQ(I32At(bytes, 0), 1);
  EXPECT_EQ(I32At(bytes, 4), 0);
  EXPECT_EQ(I32At(bytes, 3856), 780000);
  EXPECT_EQ(bytes.substr(780000), std::string("\x02\0\0\0\0\0\0\0\0\0\0\0\x03" "abc\0", 17));
  // Everything else of the table stays zero.
  std::string expected(780000, '\0');
  expected[0] = 1;
  PutI32At(expected, 3856, 780000);
  EXPECT_EQ(bytes.substr(0, 780000), expected);
}

TEST(PersistMap, KeysOfOneBucketChainInFirstStoredOrder) {
  ScratchDir dir;
  std::string path = dir.File("k.dat");
  {
    CPersistMap map(path);
    map.AddItems(Tokens({{"xbc", 1}}), true);
    map.AddItems(Tokens({{"abc", 3}}), false);
    EXPECT_EQ(map.GetItem("xbc").spam, 1);
    EXPECT_EQ(map.GetItem("abc").ham, 3);
    EXPECT_EQ(map.GetItem("abd").ham, 0);
    EXPECT_EQ(map.GetItem("ABC").ham, 0);  // case is significant
    map.AddItems(Tokens({{"abc", 1}}), false);  // rewritten in place
    EXPECT_EQ(map.GetItem("abc").ham, 4);
  }
  std::string bytes = ReadAll(path);
  ASSERT_EQ(bytes.size(), 780034u);
  EXPECT_EQ(I32At(bytes, 3856), 780000);       // slot 296 -> xbc
  EXPECT_EQ(bytes.substr(780013, 4), std::string("xbc\0", 4));
  EXPECT_EQ(I32At(bytes, 780008), 780017);     // xbc -> abc
  EXPECT_EQ(bytes.substr(780030, 4), std::string("abc\0", 4));
  EXPECT_EQ(I32At(bytes, 780017), 4);
  EXPECT_EQ(I32At(bytes, 0), 2);
  EXPECT_EQ(I32At(bytes, 4), 1);
}

TEST(PersistMap, DeleteAndSwapStopAtZero) {
  ScratchDir dir;
  CPersistMap map(dir.File("k.dat"));
  map.AddItems(Tokens({{"abc", 3}, {"def", 1}}), false);
  map.DeleteItems(Tokens({{"abc", 5}}), false);
  EXPECT_EQ(map.GetItem("abc").ham, 0);
  EXPECT_EQ(map.HamMails(), 0);
  map.DeleteItems(Tokens({{"abc", 1}}), false);
  EXPECT_EQ(map.HamMails(), 0);

  // Unlearning tokens never learned leaves zero-count records and still counts down.
  map.AddItems(Tokens({{"zzz", 1}}), true);
  map.AddItems(Tokens({{"zzz", 1}}), true);
  map.DeleteItems(Tokens({{"never", 2}}), true);
  EXPECT_EQ(map.SpamMails(), 1);
  EXPECT_EQ(map.EnumerateItems(false, ""), 4);

  map.SwapItems(Tokens({{"zzz", 1}, {"def", 4}}), false);  // spam -> ham
  EXPECT_EQ(map.GetItem("zzz").ham, 1);
  EXPECT_EQ(map.GetItem("zzz").spam, 1);
  EXPECT_EQ(map.GetItem("def").ham, 5);
  EXPECT_EQ(map.HamMails(), 1);
  EXPECT_EQ(map.SpamMails(), 0);
  map.SwapItems(Tokens({{"def", 9}}), true);  // ham -> spam
  EXPECT_EQ(map.GetItem("def").ham, 0);
  EXPECT_EQ(map.GetItem("def").spam, 9);
  EXPECT_EQ(map.HamMails(), 0);
  EXPECT_EQ(map.SpamMails(), 1);
}

TEST(PersistMap, SetItemStoresCountersButNotMailCounters) {
  ScratchDir dir;
  std::string path = dir.File("k.dat");
  {
    CPersistMap map(path);
    MapItem item = MapItem::FromKey("hello");
    item.ham = 7;
    item.spam = 9;
    map.SetItem(item);
    item.ham = 1;
    map.SetItem(item);
    EXPECT_EQ(map.GetItem("hello").ham, 1);
    EXPECT_EQ(map.GetItem("hello").spam, 9);
    EXPECT_EQ(map.HamMails(), 0);
  }
  EXPECT_EQ(ReadAll(path).size(), 780000u + 14 + 5);
  CPersistMap again(path);
  EXPECT_EQ(again.GetItem("hello").spam, 9);
}

TEST(PersistMap, KeysOutsideOneTo22BytesAreRefusedBeforeAnyWrite) {
  ScratchDir dir;
  std::string path = dir.File("k.dat");
  CPersistMap map(path);
  std::string longest(22, 'k');
  map.AddItems(Tokens({{longest.c_str(), 1}}), false);
  EXPECT_EQ(map.GetItem(longest).ham, 1);
  std::string before = ReadAll(path);

  std::string tooLong(23, 'k');
  EXPECT_EQ(ErrorOf([&] { map.AddItems(Tokens({{"fine", 1}, {tooLong.c_str(), 1}}), false); }), kErrKeyLength);
  EXPECT_EQ(ErrorOf([&] { map.GetItem(""); }), kErrKeyLength);
  EXPECT_EQ(ErrorOf([&] { map.GetKeyPos(tooLong, true); }), kErrKeyLength);
  EXPECT_EQ(ErrorOf([&] { map.SetItem(MapItem{}); }), kErrKeyLength);
  EXPECT_EQ(ReadAll(path), before);
  EXPECT_EQ(map.HamMails(), 1);
}

TEST(PersistMap, GetKeyPosWithCreateLinksTheChainToTheEnd) {
  ScratchDir dir;
  std::string path = dir.File("k.dat");
  CPersistMap map(path);
  MapItem item = map.GetKeyPos("abc", true);
  EXPECT_EQ(item.ham, 0);
  EXPECT_EQ(item.keyLength, 3);
  EXPECT_EQ(I32At(ReadAll(path), 3856), 780000);
}

TEST(PersistMap, EnumerateAndDumpListEveryRecord) {
  ScratchDir dir;
  CPersistMap map(dir.File("k.dat"));
  map.AddItems(Tokens({{"abc", 2}, {"xbc", 1}, {"q", 1}}), true);
  EXPECT_EQ(map.EnumerateItems(true, dir.File("dump.txt")), 3);
  std::string dump = ReadAll(dir.File("dump.txt"));
  // Bucket order, then chain order.
  EXPECT_NE(dump.find("     0      0      1 q\r\n"), std::string::npos);
  EXPECT_NE(dump.find("   296      0      2 abc\r\n"), std::string::npos);
  EXPECT_NE(dump.find("   296      0      1 xbc\r\n"), std::string::npos);
  EXPECT_LT(dump.find("q\r\n"), dump.find("abc"));
  EXPECT_EQ(dump.size(), 3u * 26 - 2);
}

TEST(PersistMap, DamagedChainsFailCleanly) {
  ScratchDir dir;
  std::string path = dir.File("k.dat");
  {
    CPersistMap map(path);
    map.AddItems(Tokens({{"xbc", 1}}), false);  // first record of bucket 296
    map.AddItems(Tokens({{"abc", 1}}), false);  // second
  }
  std::string good = ReadAll(path);
  std::string p2 = dir.File("d.dat");

  // A record pointing at itself: lookups and the walk stop instead of looping.
  std::string looped = good;
  PutI32At(looped, 780008, 780000);
  WriteAll(p2, looped);
  EXPECT_LT(Check(p2), 0);
  {
    CReadOnlyPersistMap map(p2);
    EXPECT_EQ(ErrorOf([&] { map.GetItem("zbc"); }), kErrRead);
    EXPECT_EQ(map.GetItem("xbc").ham, 1);
    EXPECT_EQ(map.EnumerateItems(true, dir.File("out.txt")), -1);
    EXPECT_FALSE(platform::FileExists(dir.File("out.txt")));
  }

  // A chain into the bucket table.
  std::string back = good;
  PutI32At(back, 780008, 13);
  WriteAll(p2, back);
  EXPECT_LT(Check(p2), 0);
  { EXPECT_EQ(ErrorOf([&] { CReadOnlyPersistMap(p2).GetItem("zbc"); }), kErrRead); }

  // A slot pointing past the end.
  std::string past = good;
  PutI32At(past, 3856, 900000);
  WriteAll(p2, past);
  { EXPECT_EQ(ErrorOf([&] { CReadOnlyPersistMap(p2).GetItem("abc"); }), kErrRead); }

  // A record pointing past the end.
  std::string pastRec = good;
  PutI32At(pastRec, 780008, 990000);
  WriteAll(p2, pastRec);
  EXPECT_EQ(Check(p2), -2);

  // Key length 23 keeps the layout walkable but the listing refuses it.
  std::string longKey = good;
  longKey[780012] = 23;
  longKey += std::string(20, 'x');
  WriteAll(p2, longKey);
  {
    CReadOnlyPersistMap map(p2);
    EXPECT_EQ(map.EnumerateItems(true, dir.File("out.txt")), -1);
    EXPECT_FALSE(platform::FileExists(dir.File("out.txt")));
    EXPECT_EQ(map.GetItem("zbc").ham, 0);
  }

  // A missing terminator.
  std::string unterminated = good;
  unterminated[780016] = 'x';
  WriteAll(p2, unterminated);
  { EXPECT_EQ(CReadOnlyPersistMap(p2).EnumerateItems(false, ""), -1); }

  // Truncated inside the last record.
  WriteAll(p2, good.substr(0, good.size() - 3));
  EXPECT_EQ(Check(p2), -4);
  {
    CReadOnlyPersistMap map(p2);
    EXPECT_EQ(map.GetItem("xbc").ham, 1);
    EXPECT_EQ(map.GetItem("abc").ham, 0);  // its key cannot be read whole
    EXPECT_EQ(map.EnumerateItems(false, ""), -1);
  }
}

TEST(PersistMap, CheckMapFileResults) {
  ScratchDir dir;
  std::string path = dir.File("k.dat");
  { CPersistMap(path).AddItems(Tokens({{"abc", 1}, {"xbc", 1}, {"ybc", 1}}), false); }
  EXPECT_EQ(Check(path), 2);
  std::string good = ReadAll(path);

  std::string p2 = dir.File("d.dat");
  WriteAll(p2, std::string(780000, '\0'));
  EXPECT_EQ(Check(p2), -4);  // the bucket table alone
  WriteAll(p2, "");
  EXPECT_EQ(Check(p2), -1);

  // Two records pointing at one successor.
  std::string shared = good;
  PutI32At(shared, 780008, 780034);
  WriteAll(p2, shared);
  EXPECT_EQ(Check(p2), -3);

  // A key length running past the end.
  std::string overrun = good;
  overrun[780012 + 34] = 50;
  WriteAll(p2, overrun);
  EXPECT_EQ(Check(p2), -4);

  // Tiny records make more records than the size allows.
  std::string tiny(780000, '\0');
  tiny += std::string(14 * 100, '\0');
  WriteAll(p2, tiny);
  EXPECT_EQ(Check(p2), -5);
}

// Damage in the bucket table: a chain head outside the record area, past the end, inside
// a record, or shared with another link. Slot 0's byte 12 (the shared store's state mark)
// is not part of a head.
TEST(PersistMap, CheckMapFileChecksTheChainHeads) {
  ScratchDir dir;
  std::string path = dir.File("k.dat");
  { CPersistMap(path).AddItems(Tokens({{"abc", 1}, {"xbc", 1}, {"q", 1}}), false); }
  std::string good = ReadAll(path);
  good[12] = static_cast<char>(0xFF);
  std::string p2 = dir.File("d.dat");
  WriteAll(p2, good);
  EXPECT_EQ(Check(p2), 2);

  const size_t slot = 3856;  // next field of bucket 296, the head of abc's chain
  const int32_t first = I32At(good, slot), size = static_cast<int32_t>(good.size());
  for (int32_t head : {13, 779999, first + 1, size - 1, size, 990000}) {
    std::string bad = good;
    PutI32At(bad, slot, head);
    WriteAll(p2, bad);
    EXPECT_LT(Check(p2), 0) << head;
  }
  // A head in an empty bucket that points at a record of another chain.
  std::string twice = good;
  PutI32At(twice, 5 * 13 + 8, I32At(good, slot));
  WriteAll(p2, twice);
  EXPECT_EQ(Check(p2), -3);

  // The single-writer store finds it before opening and goes back to its backup, so the
  // damage never reaches the backup.
  { CPersistMap(path).AddItems(Tokens({{"def", 1}}), true); }
  std::string backup = ReadAll(path + ".bak");
  std::string bad = backup;
  PutI32At(bad, slot, 990000);
  WriteAll(path, bad);
  {
    CPersistMap map(path);
    EXPECT_EQ(map.GetItem("abc").ham, 1);
    EXPECT_EQ(map.SpamMails(), 1);
  }
  EXPECT_EQ(ReadAll(path + ".bak"), backup);
}

TEST(PersistMap, SecondWriterIsRefusedReadersAreNot) {
  ScratchDir dir;
  std::string path = dir.File("k.dat");
  CPersistMap map(path);
  map.AddItems(Tokens({{"abc", 1}}), true);
  map.AddItems(Tokens({{"abc", 1}}), false);
  map.AddItems(Tokens({{"abc", 1}}), false);
  EXPECT_EQ(ErrorOf([&] { CPersistMap second(path); }), kErrOpen);
  EXPECT_EQ(ReadItemCounter(path), (int64_t{1} << 32) | 2);
  // The read-only form does not share writing, so it cannot join a writer.
  EXPECT_EQ(ErrorOf([&] { CReadOnlyPersistMap ro(path); }), kErrReadOnlyOpen);
  EXPECT_EQ(ReadItemCounter(dir.File("absent.dat")), 0);
  WriteAll(dir.File("empty.dat"), "");
  EXPECT_EQ(ReadItemCounter(dir.File("empty.dat")), 0);
}

TEST(PersistMap, CountersSurviveReopenAndBackupFollowsEachClose) {
  ScratchDir dir;
  std::string path = dir.File("k.dat");
  { CPersistMap(path).AddItems(Tokens({{"abc", 1}}), true); }
  EXPECT_EQ(ReadAll(path + ".bak"), ReadAll(path));
  {
    CPersistMap map(path);
    EXPECT_EQ(map.SpamMails(), 1);
    map.AddItems(Tokens({{"def", 1}}), true);
  }
  EXPECT_EQ(ReadAll(path + ".bak"), ReadAll(path));
  EXPECT_EQ(I32At(ReadAll(path + ".bak"), 4), 2);
}

// The check before a backup looks only at what a session changed: a long session of every
// kind of update (new records linked from old chains, from slots and from each other,
// counters in place, keys set one by one) is backed up whole.
TEST(PersistMap, ALongSessionIsBackedUp) {
  ScratchDir dir;
  std::string path = dir.File("k.dat");
  { CPersistMap(path).AddItems(Tokens({{"abc", 1}}), true); }
  {
    CPersistMap map(path);
    for (int mail = 0; mail < 40; ++mail) {
      TokenTable table;
      for (int k = 0; k < 150; ++k) table.Add("s" + std::to_string((mail * 53 + k * 7) % 2500));
      if (mail % 5 == 4) map.SwapItems(table, mail % 2 == 0);
      else if (mail % 7 == 6) map.DeleteItems(table, false);
      else map.AddItems(table, mail % 3 == 0);
    }
    MapItem marker = MapItem::FromKey("M*marker");
    marker.spam = 1;
    map.SetItem(marker);
  }
  EXPECT_EQ(ReadAll(path + ".bak"), ReadAll(path));
}

// A literal model of the file format, written straight from its description, that the
// store's bytes are compared with.
class ReferenceFile {
 public:
  ReferenceFile() : bytes_(780000, '\0') {}

  void Apply(const TokenTable& t, int op, bool flag) {  // op 0 add, 1 delete, 2 swap
    auto reduce = [](int32_t x, uint32_t n) { return x > static_cast<int32_t>(n) ? x - static_cast<int32_t>(n) : 0; };
    t.ForEach([&](const TokenTable::Entry& e) {
      std::string key(e.key);
      size_t at = Find(key);
      int32_t ham = at ? I32At(bytes_, at) : 0, spam = at ? I32At(bytes_, at + 4) : 0;
      int32_t n = static_cast<int32_t>(e.count);
      if (op == 0) (flag ? spam : ham) += n;
      if (op == 1) (flag ? spam : ham) = reduce(flag ? spam : ham, e.count);
      if (op == 2) {
        (flag ? ham : spam) = reduce(flag ? ham : spam, e.count);
        (flag ? spam : ham) += n;
      }
      Put(key, ham, spam);
    });
    int32_t h = I32At(bytes_, 0), s = I32At(bytes_, 4);
    auto dec = [](int32_t x) { return x > 1 ? x - 1 : 0; };
    if (op == 0) (flag ? s : h) += 1;
    if (op == 1) (flag ? s : h) = dec(flag ? s : h);
    if (op == 2) {
      (flag ? h : s) = dec(flag ? h : s);
      (flag ? s : h) += 1;
    }
    PutI32At(bytes_, 0, h);
    PutI32At(bytes_, 4, s);
  }

  void Put(const std::string& key, int32_t ham, int32_t spam) {
    size_t at = Find(key);
    if (!at) {
      size_t tail = Bucket(key) * 13;
      while (I32At(bytes_, tail + 8) != 0) tail = static_cast<size_t>(I32At(bytes_, tail + 8));
      at = bytes_.size();
      PutI32At(bytes_, tail + 8, static_cast<int32_t>(at));
      bytes_ += std::string(13, '\0') + key + std::string(1, '\0');
      bytes_[at + 12] = static_cast<char>(key.size());
    }
    PutI32At(bytes_, at, ham);
    PutI32At(bytes_, at + 4, spam);
  }

  const std::string& Bytes() const { return bytes_; }

 private:
  static size_t Bucket(const std::string& key) {
    int32_t sum = 0;
    for (size_t i = 0; i < key.size(); ++i) sum += static_cast<int32_t>(i) * static_cast<signed char>(key[i]);
    return static_cast<size_t>(std::abs(sum % 60000));
  }
  size_t Find(const std::string& key) const {
    for (size_t p = static_cast<size_t>(I32At(bytes_, Bucket(key) * 13 + 8)); p;
         p = static_cast<size_t>(I32At(bytes_, p + 8)))
      if (bytes_.compare(p + 13, key.size() + 1, key + std::string(1, '\0')) == 0 &&
          static_cast<size_t>(bytes_[p + 12]) == key.size())
        return p;
    return 0;
  }
  std::string bytes_;
};

// The same operations give the same bytes on every build: compared with the model, and
// pinned by a hash that the Linux and Windows builds both check.
TEST(PersistMap, FixedSequenceGivesFixedBytes) {
  ScratchDir dir;
  std::string path = dir.File("k.dat");
  ReferenceFile model;
  {
    CPersistMap map(path);
    for (int mail = 0; mail < 40; ++mail) {
      TokenTable t;
      for (int k = 0; k < 30; ++k) {
        std::string key = "w" + std::to_string((mail * 7 + k * 13) % 97) + (k % 3 == 0 ? "\xe4x" : "y");
        for (int r = 0; r <= k % 4; ++r) t.Add(key);
      }
      t.Add("P*1,250.00");
      int op = mail % 5 == 4 ? 1 : mail % 7 == 6 ? 2 : 0;
      bool flag = op == 1 ? mail % 2 == 0 : op == 2 ? true : mail % 3 == 0;
      if (op == 1) map.DeleteItems(t, flag);
      else if (op == 2) map.SwapItems(t, flag);
      else map.AddItems(t, flag);
      model.Apply(t, op, flag);
    }
    MapItem marker = MapItem::FromKey("M*message-0001");
    marker.spam = 1;
    map.SetItem(marker);
    model.Put("M*message-0001", 0, 1);
  }
  std::string bytes = ReadAll(path);
  EXPECT_TRUE(bytes == model.Bytes());
  EXPECT_EQ(bytes.size(), 783621u);
  EXPECT_EQ(Fnv1a(bytes), 0x23db879387566094ull) << std::hex << Fnv1a(bytes);
}

// The open store keeps its own copy of the file: every operation must still have reached
// the file, byte for byte, by the time it returns, also across a reopen.
TEST(PersistMap, EachUpdateIsInTheFileWhenItReturns) {
  ScratchDir dir;
  std::string path = dir.File("k.dat");
  ReferenceFile model;
  for (int round = 0; round < 2; ++round) {
    CPersistMap map(path);
    for (int mail = 0; mail < 12; ++mail) {
      TokenTable t;
      for (int k = 0; k < 25; ++k) t.Add("t" + std::to_string((mail * 11 + k * 5 + round) % 53));
      int op = mail % 4 == 3 ? 1 : mail % 5 == 4 ? 2 : 0;
      bool flag = mail % 2 == 0;
      if (op == 1) map.DeleteItems(t, flag);
      else if (op == 2) map.SwapItems(t, flag);
      else map.AddItems(t, flag);
      model.Apply(t, op, flag);
      ASSERT_TRUE(ReadAll(path) == model.Bytes()) << "round " << round << " mail " << mail;
      EXPECT_EQ(Check(path), static_cast<int32_t>(map.EnumerateItems(false, "")) - 1);
    }
    MapItem item = MapItem::FromKey("t7");
    item.ham = 5;
    map.SetItem(item);
    model.Put("t7", 5, 0);
    ASSERT_TRUE(ReadAll(path) == model.Bytes());
    EXPECT_EQ(map.GetItem("t7").ham, 5);
  }
}

// A processed mail is looked up token by token, then learned: the update may use what
// the lookups found only while the file is still as they found it.
TEST(PersistMap, UpdateAfterLookupsFindsTheFileAsItIs) {
  ScratchDir dir;
  std::string path = dir.File("k.dat");
  ReferenceFile model;
  CPersistMap map(path);
  for (int mail = 0; mail < 30; ++mail) {
    TokenTable t;
    for (int k = 0; k < 20; ++k) t.Add("t" + std::to_string((mail * 7 + k * 3) % 41));
    if (mail % 3 == 2) map.GetItem("t1");  // lookups that are not the mail's, in its place
    t.ForEach([&](const TokenTable::Entry& e) { map.GetItem(e.key); });
    if (mail % 3 == 1) {  // the file changes between the lookups and the update
      std::string key = "t" + std::to_string(mail * 7 % 41);  // the mail's first token
      MapItem item = MapItem::FromKey(key);
      item.ham = 1000 + mail;
      map.SetItem(item);
      model.Put(key, item.ham, 0);
    }
    map.AddItems(t, mail % 2 == 0);
    model.Apply(t, 0, mail % 2 == 0);
    ASSERT_TRUE(ReadAll(path) == model.Bytes()) << "mail " << mail;
  }
}
