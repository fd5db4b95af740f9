// Message records: the indexed info objects the index tree points to.
#pragma once

#include "platform/file.h"

#include <cstdint>
#include <istream>
#include <memory>

namespace kestrelon {

// An indexed info object: up to 32 attributes, each either stored in its index word
// (24 bits) or in the data area behind the index words.
class DbxIndexedInfo {
 public:
  static constexpr uint32_t kMaxIndex = 32;

  // Reads and parses the record at `recordOffset` from the open file (or from a stream of
  // the file's bytes). Raises DbxException.
  DbxIndexedInfo(platform::File& in, uint32_t recordOffset);
  DbxIndexedInfo(std::istream& in, uint32_t recordOffset);
  DbxIndexedInfo(const DbxIndexedInfo&) = delete;
  DbxIndexedInfo& operator=(const DbxIndexedInfo&) = delete;

  virtual const char* IndexName(uint32_t index) const;
  virtual uint32_t IndexType(uint32_t index) const;

  // The attribute's first four bytes as a little-endian number (fewer when the value
  // is shorter); 0 when absent. Raises "Index to big !" for 32 or more.
  uint32_t IndexValue(uint32_t index) const;
  bool IsPresent(uint32_t index) const { return index < kMaxIndex && (presentMask_ >> index & 1u); }
  const unsigned char* ValueStart(uint32_t index) const { return index < kMaxIndex ? valueStart_[index] : nullptr; }
  uint32_t ValueLength(uint32_t index) const { return index < kMaxIndex ? valueLength_[index] : 0; }

  uint32_t RecordOffset() const { return recordOffset_; }
  uint32_t BodyLength() const { return bodyLength_; }
  uint8_t EntryCount() const { return entryCount_; }

 protected:
  ~DbxIndexedInfo() = default;

 private:
  template <class In>
  void Read(In& in);

  uint32_t recordOffset_ = 0;
  uint32_t bodyLength_ = 0;
  uint16_t headerWord_ = 0;
  uint8_t entryCount_ = 0;
  uint8_t headerByte_ = 0;
  std::unique_ptr<unsigned char[]> body_;
  uint32_t presentMask_ = 0;
  const unsigned char* valueStart_[kMaxIndex] = {};
  uint32_t valueLength_[kMaxIndex] = {};
};

// A message record: names and types of the client's 32 message attributes.
class DbxMessageInfo final : public DbxIndexedInfo {
 public:
  static constexpr uint32_t kIndexMessageIndex = 0x00;
  static constexpr uint32_t kIndexMessageAddress = 0x04;

  enum Type : uint32_t { kNone = 0, kInteger = 1, kDateTime = 2, kString = 4, kData = 8 };

  DbxMessageInfo(platform::File& in, uint32_t recordOffset) : DbxIndexedInfo(in, recordOffset) {}
  DbxMessageInfo(std::istream& in, uint32_t recordOffset) : DbxIndexedInfo(in, recordOffset) {}
  ~DbxMessageInfo() = default;

  const char* IndexName(uint32_t index) const override;
  uint32_t IndexType(uint32_t index) const override;
};

}  // namespace kestrelon
