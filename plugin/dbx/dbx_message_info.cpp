#include "plugin/dbx/dbx_message_info.h"

#include "plugin/dbx/dbx_exception.h"
#include "plugin/dbx/dbx_stream.h"

#include <new>

namespace kestrelon {

namespace {

struct AttributeInfo {
  const char* name;
  uint32_t type;
};

constexpr AttributeInfo kMessageAttributes[32] = {
    {"message index", 1},
    {"flags", 1},
    {"time message created/send", 2},
    {"body lines", 1},
    {"message address", 1},
    {"original subject", 4},
    {"time message saved", 2},
    {"message id", 4},
    {"subject", 4},
    {"sender eMail address and name", 4},
    {"answered to message id", 4},
    {"server/newsgroup/message number", 4},
    {"server", 4},
    {"sender name", 4},
    {"sender eMail address", 4},
    {"id 0f", 0},
    {"message priority", 1},
    {"message text length", 1},
    {"time message created/received", 2},
    {"receiver name", 4},
    {"receiver eMail address", 4},
    {"id 15", 0},
    {"id 16", 1},
    {"id 17", 0},
    {"id 18", 1},
    {"id 19", 1},
    {"OE account name", 4},
    {"OE account registry key", 4},
    {"message text structure", 8},
    {"id 1d", 0},
    {"id 1e", 0},
    {"id 1f", 0},
};

}  // namespace

DbxIndexedInfo::DbxIndexedInfo(platform::File& in, uint32_t recordOffset) : recordOffset_(recordOffset) { Read(in); }

DbxIndexedInfo::DbxIndexedInfo(std::istream& in, uint32_t recordOffset) : recordOffset_(recordOffset) { Read(in); }

template <class In>
void DbxIndexedInfo::Read(In& in) {
  const uint32_t recordOffset = recordOffset_;
  unsigned char head[12];
  if (!dbx::ReadAt(in, recordOffset, head, sizeof head)) throw DbxException("Error reading from input stream !");
  if (dbx::Le32(head) != recordOffset) throw DbxException("Wrong object marker !");
  bodyLength_ = dbx::Le32(head + 4);
  headerWord_ = uint16_t(head[8] | head[9] << 8);
  entryCount_ = head[10];
  headerByte_ = head[11];
  // A body that runs past the end of the file cannot be read; refuse it before
  // allocating what a damaged length word asks for.
  if (uint64_t(recordOffset) + 12 + bodyLength_ > dbx::StreamSize(in))
    throw DbxException("Error reading from input stream !");
  try {
    body_.reset(new unsigned char[bodyLength_ ? bodyLength_ : 1]);
  } catch (const std::bad_alloc&) {
    throw DbxException("Error reading from input stream !");
  }
  if (bodyLength_ != 0 && !dbx::ReadAt(in, uint64_t(recordOffset) + 12, body_.get(), bodyLength_))
    throw DbxException("Error reading from input stream !");

  if (4ull * entryCount_ > bodyLength_) throw DbxException("Index entries beyond the record body !");
  const unsigned char* body = body_.get();
  const unsigned char* dataStart = body + 4 * entryCount_;
  const uint64_t dataLength = bodyLength_ - 4ull * entryCount_;
  int pending = -1;
  uint64_t pendingStart = 0;
  for (unsigned i = 0; i < entryCount_; ++i) {
    const unsigned char* word = body + 4 * i;
    uint32_t index = word[0] & 0x7F;
    if (index >= kMaxIndex) throw DbxException("Index to big !");
    if (word[0] & 0x80) {
      valueStart_[index] = word + 1;
      valueLength_[index] = 3;
    } else {
      uint64_t start = dbx::Le32(word) >> 8;
      if (start > dataLength) throw DbxException("Value beyond the record body !");
      if (pending >= 0) {
        // The pending value ends where this one starts, in entry order.
        if (start < pendingStart) throw DbxException("Value beyond the record body !");
        valueLength_[pending] = uint32_t(start - pendingStart);
      }
      valueStart_[index] = dataStart + start;
      valueLength_[index] = 0;
      pending = int(index);
      pendingStart = start;
    }
    presentMask_ |= 1u << index;
  }
  if (pending >= 0) valueLength_[pending] = uint32_t(dataLength - pendingStart);
}

const char* DbxIndexedInfo::IndexName(uint32_t) const { return nullptr; }
uint32_t DbxIndexedInfo::IndexType(uint32_t) const { return 0; }

uint32_t DbxIndexedInfo::IndexValue(uint32_t index) const {
  if (index >= kMaxIndex) throw DbxException("Index to big !");
  if (!(presentMask_ >> index & 1u)) return 0;
  uint32_t length = valueLength_[index] < 4 ? valueLength_[index] : 4;
  uint32_t value = 0;
  for (uint32_t i = 0; i < length; ++i) value |= uint32_t(valueStart_[index][i]) << (8 * i);
  return value;
}

const char* DbxMessageInfo::IndexName(uint32_t index) const {
  if (index >= kMaxIndex) throw DbxException("Wrong index !");
  return kMessageAttributes[index].name;
}

uint32_t DbxMessageInfo::IndexType(uint32_t index) const {
  if (index >= kMaxIndex) throw DbxException("Wrong index !");
  return kMessageAttributes[index].type;
}

}  // namespace kestrelon
