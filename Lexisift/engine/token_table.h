// The distinct tokens of one mail with their occurrence counts.
//
// A chained hash table whose iteration order is part of the engine's behaviour: the
// score breaks ties in this order and the store is updated in it. Keys compare without
// regard to ASCII case and keep the spelling met first. The keys' bytes live in blocks
// of the table's own, so adding a token allocates nothing but now and then a block.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

namespace kestrelon {

class TokenTable {
 public:
  static constexpr uint32_t kInitialBins = 50;

  // The key stays valid as long as the table.
  struct Entry {
    std::string_view key;
    uint32_t count;
  };

  TokenTable();
  TokenTable(TokenTable&&) noexcept = default;
  TokenTable& operator=(TokenTable&&) noexcept = default;

  // Counts one occurrence of `key`: added with 1 if absent, else raised by 1.
  void Add(std::string_view key) { AddHashed(key, Hash(key)); }
  // The same, for a caller that computed Hash(key) as it read the key.
  void AddHashed(std::string_view key, uint32_t hash);

  // The entry for `key` (ASCII case ignored), or nullptr.
  const Entry* Find(std::string_view key) const;

  size_t Size() const { return entries_.size(); }
  bool Empty() const { return entries_.empty(); }
  uint32_t BinCount() const { return static_cast<uint32_t>(heads_.size()); }

  // Calls fn(const Entry&) for each entry: bins 0, 1, 2 ..., each chain from its head.
  template <typename Fn>
  void ForEach(Fn&& fn) const {
    for (int32_t head : heads_)
      for (int32_t i = head; i != kNone; i = links_[static_cast<size_t>(i)].next) fn(entries_[static_cast<size_t>(i)]);
  }

  // The hash of a key: h = h * 33 + the byte upper-cased and read as signed 8-bit.
  static uint32_t Hash(std::string_view key) {
    uint32_t h = 0;
    for (char c : key) h = HashStep(h, c);
    return h;
  }
  // Looked up, not computed: text mixes cases, and a branch on each byte's case is
  // mispredicted often.
  static uint32_t HashStep(uint32_t h, char c) { return h * 33u + kHashAddends[static_cast<uint8_t>(c)]; }

  // The bin count a rebuild chooses for `keys` keys.
  static uint32_t BinsForKeys(size_t keys);

 private:
  static constexpr int32_t kNone = -1;

  // What each byte adds to a hash: the byte upper-cased and read as signed 8-bit.
  static constexpr std::array<uint32_t, 256> kHashAddends = [] {
    std::array<uint32_t, 256> addends{};
    for (int b = 0; b < 256; ++b) {
      auto c = static_cast<char>(b);
      auto upper = static_cast<int8_t>((c >= 'a' && c <= 'z') ? c - 32 : c);
      addends[static_cast<size_t>(b)] = static_cast<uint32_t>(static_cast<int32_t>(upper));
    }
    return addends;
  }();

  static constexpr size_t kKeyBlockSize = 4096;

  struct Link {
    uint32_t hash;
    int32_t next;  // next entry in the same chain
  };

  int32_t Lookup(std::string_view key, uint32_t hash) const;
  void Rebuild(uint32_t bins);
  std::string_view KeepKey(std::string_view key);

  std::vector<int32_t> heads_;  // first entry of each bin's chain
  std::vector<Link> links_;     // beside each entry
  std::vector<Entry> entries_;
  std::vector<std::unique_ptr<char[]>> keyBlocks_;
  size_t keyBlockSize_ = 0;  // of the last block
  size_t keyBlockUsed_ = 0;
};

}  // namespace kestrelon
