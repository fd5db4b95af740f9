// The raw text of one message, stored as a chain of text segments.
#pragma once

#include "platform/file.h"

#include <cstdint>
#include <istream>
#include <memory>

namespace kestrelon {

class DbxMessageText {
 public:
  // Reads the chain that starts at `firstSegment` from the open file (or from a stream of
  // the file's bytes). Raises DbxException.
  DbxMessageText(platform::File& in, uint32_t firstSegment);
  DbxMessageText(std::istream& in, uint32_t firstSegment);
  DbxMessageText(const DbxMessageText&) = delete;
  DbxMessageText& operator=(const DbxMessageText&) = delete;

  uint32_t FirstSegment() const { return firstSegment_; }
  uint32_t Length() const { return length_; }
  // `Length()` bytes followed by a NUL byte. The text may hold NUL bytes of its own.
  const char* Text() const { return text_.get(); }
  char* MutableText() { return text_.get(); }

 private:
  template <class In>
  void Read(In& in);

  uint32_t firstSegment_;
  uint32_t length_ = 0;
  std::unique_ptr<char[]> text_;
};

}  // namespace kestrelon
