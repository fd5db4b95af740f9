// One message of a client folder as the client records it, and reading it from its record.
#pragma once

#include "client/dbx_writer.h"

#include <cstdint>
#include <istream>
#include <stdexcept>

namespace kestrelon::client {

class StoreError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// What the client keeps of one message besides its text.
struct StoredMessage {
  uint32_t id = 0;
  uint32_t recordOffset = 0;
  uint32_t textAddress = 0;
  DbxEnvelope envelope;

  bool Unread() const { return (envelope.flags & kDbxFlagUnread) != 0; }
};

// Reads the record at `recordOffset` of the message file open in `in`. Raises
// DbxException.
StoredMessage ReadStoredMessage(std::istream& in, uint32_t recordOffset);

}  // namespace kestrelon::client
