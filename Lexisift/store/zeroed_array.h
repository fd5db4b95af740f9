// A fixed array of zeros from calloc. A large one comes as fresh pages of the system that
// cost nothing until they are written, where a vector would write every zero itself:
// the store's tables are large and mostly left as they are.
#pragma once

#include "platform/large_pages.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <new>

namespace kestrelon {

template <typename T>
class ZeroedArray {
 public:
  static constexpr size_t kLargeTable = size_t{4} << 20;
  static constexpr size_t kFilledTable = size_t{64} << 10;

  ZeroedArray() = default;
  ZeroedArray(ZeroedArray&& other) noexcept : block_(std::move(other.block_)), data_(other.data_), size_(other.size_) {
    other.data_ = nullptr;
    other.size_ = 0;
  }
  ZeroedArray& operator=(ZeroedArray&& other) noexcept {
    block_ = std::move(other.block_);
    data_ = other.data_;
    size_ = other.size_;
    other.data_ = nullptr;
    other.size_ = 0;
    return *this;
  }

  // `count` zeros; raises std::bad_alloc (and holds none) when memory runs out.
  void Allocate(size_t count) {
    Reset();
    if (count > SIZE_MAX / sizeof(T)) throw std::bad_alloc();
    const size_t bytes = count * sizeof(T);
    // Tables this large are filled all over: fewer, larger pages fault in and stay mapped.
    // Such a table starts where a large page does (calloc's block starts just after a
    // small page's edge), or up to a large page's worth of it would be small pages.
    const size_t large = bytes >= kLargeTable ? platform::LargePageSize() : 0;
    if (bytes > SIZE_MAX - large) throw std::bad_alloc();
    block_.reset(std::calloc(bytes + large, 1));
    if (!block_) throw std::bad_alloc();
    auto start = reinterpret_cast<uintptr_t>(block_.get());
    if (large != 0) start = (start + large - 1) / large * large;
    data_ = reinterpret_cast<T*>(start);
    size_ = count;
    // A table too small for those gets its small pages at once, not a fault at a time.
    if (large != 0) platform::PreferLargePages(data_, bytes);
    else if (bytes >= kFilledTable) platform::FillPagesNow(data_, bytes);
  }
  void Reset() {
    block_.reset();
    data_ = nullptr;
    size_ = 0;
  }
  size_t Size() const { return size_; }
  T* Data() { return data_; }
  T& operator[](size_t i) { return data_[i]; }
  const T& operator[](size_t i) const { return data_[i]; }

 private:
  struct Free {
    void operator()(void* p) const { std::free(p); }
  };
  std::unique_ptr<void, Free> block_;  // as calloc gave it
  T* data_ = nullptr;                  // the table's start within it
  size_t size_ = 0;
};

}  // namespace kestrelon
