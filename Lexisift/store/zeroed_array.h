// A fixed array of zeros from calloc. A large one comes as fresh pages of the system that
// cost nothing until they are written, where a vector would write every zero itself:
// the store's tables are large and mostly left as they are.
#pragma once

#include "platform/large_pages.h"

#include <cstddef>
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
  ZeroedArray(ZeroedArray&& other) noexcept : data_(std::move(other.data_)), size_(other.size_) { other.size_ = 0; }
  ZeroedArray& operator=(ZeroedArray&& other) noexcept {
    data_ = std::move(other.data_);
    size_ = other.size_;
    other.size_ = 0;
    return *this;
  }

  // `count` zeros; raises std::bad_alloc (and holds none) when memory runs out.
  void Allocate(size_t count) {
    Reset();
    data_.reset(static_cast<T*>(std::calloc(count, sizeof(T))));
    if (!data_) throw std::bad_alloc();
    size_ = count;
    // Tables this large are filled all over: fewer, larger pages fault in and stay mapped;
    // a table too small for those gets its small pages at once, not a fault at a time.
    const size_t bytes = count * sizeof(T);
    if (bytes >= kLargeTable) platform::PreferLargePages(data_.get(), bytes);
    else if (bytes >= kFilledTable) platform::FillPagesNow(data_.get(), bytes);
  }
  void Reset() {
    data_.reset();
    size_ = 0;
  }
  size_t Size() const { return size_; }
  T* Data() { return data_.get(); }
  T& operator[](size_t i) { return data_[i]; }
  const T& operator[](size_t i) const { return data_[i]; }

 private:
  struct Free {
    void operator()(T* p) const { std::free(p); }
  };
  std::unique_ptr<T[], Free> data_;
  size_t size_ = 0;
};

}  // namespace kestrelon
