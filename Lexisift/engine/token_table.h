// The distinct tokens of one mail with their occurrence counts.
//
// A chained hash table whose iteration order is part of the engine's behaviour: the
// score breaks ties in this order and the store is updated in it. Keys compare without
// regard to ASCII case and keep the spelling met first.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kestrelon {

class TokenTable {
 public:
  static constexpr uint32_t kInitialBins = 50;

  struct Entry {
    std::string key;
    uint32_t count;
  };

  TokenTable();

  // Counts one occurrence of `key`: added with 1 if absent, else raised by 1.
  void Add(std::string_view key);

  // The entry for `key` (ASCII case ignored), or nullptr.
  const Entry* Find(std::string_view key) const;

  size_t Size() const { return entries_.size(); }
  bool Empty() const { return entries_.empty(); }
  uint32_t BinCount() const { return static_cast<uint32_t>(heads_.size()); }

  // Calls fn(const Entry&) for each entry: bins 0, 1, 2 ..., each chain from its head.
  template <typename Fn>
  void ForEach(Fn&& fn) const {
    for (int32_t head : heads_)
      for (int32_t i = head; i != kNone; i = next_[static_cast<size_t>(i)]) fn(entries_[static_cast<size_t>(i)]);
  }

  // The hash of a key: h = h * 33 + the byte upper-cased and read as signed 8-bit.
  static uint32_t Hash(std::string_view key);

  // The bin count a rebuild chooses for `keys` keys.
  static uint32_t BinsForKeys(size_t keys);

 private:
  static constexpr int32_t kNone = -1;

  int32_t Lookup(std::string_view key, uint32_t hash) const;
  void Rebuild(uint32_t bins);

  std::vector<int32_t> heads_;  // first entry of each bin's chain
  std::vector<int32_t> next_;   // next entry in the same chain
  std::vector<uint32_t> hashes_;
  std::vector<Entry> entries_;
};

}  // namespace kestrelon
