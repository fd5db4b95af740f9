#include "Lexisift/engine/token_table.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using kestrelon::TokenTable;

namespace {

std::vector<std::string> Keys(const TokenTable& table) {
  std::vector<std::string> keys;
  table.ForEach([&](const TokenTable::Entry& e) { keys.emplace_back(e.key); });
  return keys;
}

}  // namespace

TEST(TokenTable, HashUpperCasesAndReadsBytesAsSigned) {
  EXPECT_EQ(TokenTable::Hash(""), 0u);
  EXPECT_EQ(TokenTable::Hash("a"), 65u);
  EXPECT_EQ(TokenTable::Hash("ab"), 65u * 33 + 66);
  EXPECT_EQ(TokenTable::Hash("AB"), TokenTable::Hash("ab"));
  EXPECT_EQ(TokenTable::Hash("\xe9"), 0xFFFFFFE9u);  // -23 as 32-bit
  EXPECT_EQ(TokenTable::Hash("a\xe9"), 65u * 33 - 23);
  // Wraps around at 32 bits.
  uint32_t h = 0;
  for (char c : std::string("abcdefghijklmnopqrstuv")) h = h * 33 + static_cast<uint32_t>(c - 32);
  EXPECT_EQ(TokenTable::Hash("abcdefghijklmnopqrstuv"), h);
}

TEST(TokenTable, CountsIgnoringCaseAndKeepsTheFirstSpelling) {
  TokenTable t;
  t.Add("Cheap");
  t.Add("cheap");
  t.Add("CHEAP");
  ASSERT_EQ(t.Size(), 1u);
  const TokenTable::Entry* e = t.Find("cHeAp");
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->key, "Cheap");
  EXPECT_EQ(e->count, 3u);
  EXPECT_EQ(t.Find("chea"), nullptr);
}

TEST(TokenTable, IteratesBinsInOrderAndChainsFromTheirHeads) {
  TokenTable t;
  // "abc" and a key that falls in the same of 50 bins: the later one heads the chain.
  std::string other;
  for (int i = 0; i < 100000 && other.empty(); ++i) {
    std::string k = "k" + std::to_string(i);
    if (TokenTable::Hash(k) % 50 == TokenTable::Hash("abc") % 50) other = k;
  }
  ASSERT_FALSE(other.empty());
  t.Add("abc");
  t.Add(other);
  t.Add("zzz");
  std::vector<std::string> keys = Keys(t);
  auto pos = [&](const std::string& k) { return std::find(keys.begin(), keys.end(), k) - keys.begin(); };
  EXPECT_EQ(pos(other) + 1, pos("abc"));
  EXPECT_EQ(pos("zzz") < pos("abc"), TokenTable::Hash("zzz") % 50 < TokenTable::Hash("abc") % 50);
}

TEST(TokenTable, RebuildsAtThe113thKeyInto163Bins) {
  EXPECT_EQ(TokenTable::BinsForKeys(1), 17u);
  EXPECT_EQ(TokenTable::BinsForKeys(113), 163u);
  EXPECT_EQ(TokenTable::BinsForKeys(367), 521u);
  EXPECT_EQ(TokenTable::BinsForKeys(100000000), 13316089u);

  TokenTable t;
  for (int i = 0; i < 112; ++i) t.Add("key" + std::to_string(i));
  EXPECT_EQ(t.BinCount(), 50u);
  t.Add("key112");
  EXPECT_EQ(t.BinCount(), 163u);
  for (int i = 113; i < 366; ++i) t.Add("key" + std::to_string(i));
  EXPECT_EQ(t.BinCount(), 163u);  // 366 = floor(163 * 2.25) keys still fit
  t.Add("key366");
  EXPECT_EQ(t.BinCount(), 521u);
}

TEST(TokenTable, RebuildMovesEachChainFromItsHeadToTheNewHeads) {
  // Rebuild reference: walk old bins from 0, each chain from its head, pushing each key
  // on the head of its new bin. Replay that on the order seen before the 113th key.
  TokenTable t;
  std::vector<std::string> added;
  for (int i = 0; i < 113; ++i) added.push_back("w" + std::to_string(i * 7919));
  for (int i = 0; i < 112; ++i) t.Add(added[i]);
  // The 113th key goes to the head of its old bin, then everything moves.
  std::vector<std::vector<std::string>> oldBins(50);
  for (int i = 0; i < 113; ++i) oldBins[TokenTable::Hash(added[i]) % 50].insert(oldBins[TokenTable::Hash(added[i]) % 50].begin(), added[i]);
  std::vector<std::vector<std::string>> newBins(163);
  for (const auto& chain : oldBins)
    for (const auto& k : chain) newBins[TokenTable::Hash(k) % 163].insert(newBins[TokenTable::Hash(k) % 163].begin(), k);
  std::vector<std::string> expected;
  for (const auto& chain : newBins) expected.insert(expected.end(), chain.begin(), chain.end());

  t.Add(added[112]);
  EXPECT_EQ(Keys(t), expected);
}
