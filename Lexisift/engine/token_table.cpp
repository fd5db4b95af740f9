#include "Lexisift/engine/token_table.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace kestrelon {

namespace {

// Bin counts a rebuild may choose from, ascending.
constexpr std::array<uint32_t, 60> kBinPrimes = {
    17,      23,      29,      37,      41,      53,      67,      83,      103,      131,      163,     211,
    257,     331,     409,     521,     647,     821,     1031,    1291,    1627,     2053,     2591,    3251,
    4099,    5167,    6521,    8209,    10331,   13007,   16411,   20663,   26017,    32771,    41299,   52021,
    65537,   82571,   104033,  131101,  165161,  208067,  262147,  330287,  416147,   524309,   660563,  832291,
    1048583, 1321139, 1664543, 2097169, 2642257, 3329023, 4194319, 5284493, 6658049,  8388617,  10568993, 13316089};

uint8_t UpperAscii(uint8_t c) { return (c >= 'a' && c <= 'z') ? static_cast<uint8_t>(c - 32) : c; }

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  if (std::memcmp(a.data(), b.data(), a.size()) == 0) return true;  // mostly spelt alike
  for (size_t i = 0; i < a.size(); ++i)
    if (UpperAscii(static_cast<uint8_t>(a[i])) != UpperAscii(static_cast<uint8_t>(b[i]))) return false;
  return true;
}

}  // namespace

TokenTable::TokenTable() : heads_(kInitialBins, kNone) {}

uint32_t TokenTable::BinsForKeys(size_t keys) {
  size_t wanted = keys * 4 / 3;  // floor(keys / 0.75)
  if (wanted <= kBinPrimes.front()) return kBinPrimes.front();
  auto it = std::lower_bound(kBinPrimes.begin(), kBinPrimes.end(), wanted);
  return it == kBinPrimes.end() ? kBinPrimes.back() : *it;
}

int32_t TokenTable::Lookup(std::string_view key, uint32_t hash) const {
  // Bins are chosen by a 32-bit remainder (BinCount), a far cheaper division than one of
  // the vector's 64-bit size.
  for (int32_t i = heads_[hash % BinCount()]; i != kNone; i = links_[static_cast<size_t>(i)].next)
    if (links_[static_cast<size_t>(i)].hash == hash && EqualsIgnoringCase(entries_[static_cast<size_t>(i)].key, key))
      return i;
  return kNone;
}

const TokenTable::Entry* TokenTable::Find(std::string_view key) const {
  int32_t i = Lookup(key, Hash(key));
  return i == kNone ? nullptr : &entries_[static_cast<size_t>(i)];
}

std::string_view TokenTable::KeepKey(std::string_view key) {
  // A table moved from has no blocks, whatever its counters say.
  if (keyBlocks_.empty() || key.size() > keyBlockSize_ - keyBlockUsed_) {
    keyBlockSize_ = std::max(kKeyBlockSize, key.size());
    keyBlocks_.emplace_back(new char[keyBlockSize_]);
    keyBlockUsed_ = 0;
  }
  char* at = keyBlocks_.back().get() + keyBlockUsed_;
  std::memcpy(at, key.data(), key.size());
  keyBlockUsed_ += key.size();
  return std::string_view(at, key.size());
}

void TokenTable::AddHashed(std::string_view key, uint32_t hash) {
  int32_t found = Lookup(key, hash);
  if (found != kNone) {
    ++entries_[static_cast<size_t>(found)].count;
    return;
  }
  auto index = static_cast<int32_t>(entries_.size());
  entries_.push_back({KeepKey(key), 1});
  int32_t& head = heads_[hash % BinCount()];
  links_.push_back({hash, head});
  head = index;

  // Rebuild once the keys outgrow 2.25 per bin.
  if (entries_.size() > heads_.size() * 9 / 4) {
    uint32_t bins = BinsForKeys(entries_.size());
    if (bins != heads_.size()) Rebuild(bins);
  }
}

void TokenTable::Rebuild(uint32_t bins) {
  std::vector<int32_t> heads(bins, kNone);
  // Bin by bin from bin 0, each chain from its head, each key to the head of its new chain.
  for (int32_t old : heads_) {
    for (int32_t i = old; i != kNone;) {
      Link& link = links_[static_cast<size_t>(i)];
      int32_t following = link.next;
      int32_t& head = heads[link.hash % bins];
      link.next = head;
      head = i;
      i = following;
    }
  }
  heads_ = std::move(heads);
}

}  // namespace kestrelon
