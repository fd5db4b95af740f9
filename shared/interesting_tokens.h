// The tokens of the last scored mail, most telling first.
//
// Shared by the engine, which fills it, and the plug-in, which reads it in place after
// asking the filter for it; both must see the same layout, so both compile this one
// declaration with the same compiler. Readers only walk it (begin, end, size); what
// changes it runs in the engine.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kestrelon {

struct InterestingToken {
  std::string token;
  float probability;
};

// Entries are (interest, token), ordered by interest, highest first; entries of equal
// interest keep the order in which they were added. Clearing keeps the entries' room,
// so that scoring mail after mail allocates nothing once the table has grown.
class InterestingTokens {
 public:
  using value_type = std::pair<float, InterestingToken>;
  using const_iterator = std::vector<value_type>::const_iterator;

  void Clear() { size_ = 0; }

  // Appends an entry; the table is in order again after Order.
  void Add(float interest, std::string_view token, float probability) {
    if (size_ == entries_.size()) entries_.emplace_back();
    value_type& entry = entries_[size_++];
    entry.first = interest;
    entry.second.token.assign(token.data(), token.size());
    entry.second.probability = probability;
  }

  // Sorts the entries added since Clear into the table's order.
  void Order() {
    // A sort key per entry: the interest (a float of at least 0, whose bits rise with its
    // value) inverted, then the position, which keeps equal interests in their order.
    keys_.resize(size_);
    for (size_t i = 0; i < size_; ++i) {
      float interest = entries_[i].first;
      uint32_t bits = 0;
      std::memcpy(&bits, &interest, sizeof bits);
      if (!(interest > 0)) bits = 0;  // 0 and -0 alike
      keys_[i] = (uint64_t{~bits} << 32) | i;
    }
    std::sort(keys_.begin(), keys_.end());
    // Moves each entry to its place, cycle by cycle; a placed entry's key gets kPlaced.
    for (size_t i = 0; i < size_; ++i) {
      if (keys_[i] == kPlaced || Position(keys_[i]) == i) continue;
      value_type held = std::move(entries_[i]);
      size_t to = i;
      for (size_t from = Position(keys_[to]); from != i; from = Position(keys_[to])) {
        entries_[to] = std::move(entries_[from]);
        keys_[to] = kPlaced;
        to = from;
      }
      entries_[to] = std::move(held);
      keys_[to] = kPlaced;
    }
  }

  const_iterator begin() const { return entries_.begin(); }
  const_iterator end() const { return entries_.begin() + static_cast<std::ptrdiff_t>(size_); }
  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }

 private:
  static constexpr uint64_t kPlaced = UINT64_MAX;
  static size_t Position(uint64_t key) { return static_cast<size_t>(key & 0xFFFFFFFFu); }

  std::vector<value_type> entries_;  // the first size_ are the table
  std::vector<uint64_t> keys_;
  size_t size_ = 0;
};

}  // namespace kestrelon
