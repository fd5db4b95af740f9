// FindMessageAddress: from a Simple MAPI message id (the record's message index) to
// the offset of the message's text.
#include "plugin/dbx/dbx_message_info.h"
#include "plugin/dbx/dbx_reader.h"

namespace kestrelon {

namespace {

// The address of the record at `recordOffset` when its message index is `id` and it
// has a message address; 0 otherwise.
uint32_t AddressIfMatches(platform::File& in, uint32_t recordOffset, uint32_t id) {
  DbxMessageInfo info(in, recordOffset);
  if (info.IndexValue(DbxMessageInfo::kIndexMessageIndex) != id) return 0;
  if (!info.IsPresent(DbxMessageInfo::kIndexMessageAddress)) return 0;
  return info.IndexValue(DbxMessageInfo::kIndexMessageAddress);
}

}  // namespace

uint32_t DbxReader::FindMessageAddress(uint32_t id, bool newestFirst) {
  bool recordFound = false;
  return FindMessageAddress(id, newestFirst, recordFound);
}

uint32_t DbxReader::FindMessageAddress(uint32_t id, bool newestFirst, bool& recordFound) {
  recordFound = false;
  soughtId_ = id;
  if (messageCount_ == 0) return 0;
  if (newestFirst) {
    uint32_t address = AddressIfMatches(file_, IndexAt(messageCount_ - 1), id);
    if (address != 0) {
      recordFound = true;
      return address;
    }
  }
  // Binary search over the index in the probe order of the C library's bsearch; each
  // probe reads one record. Done here rather than through bsearch itself so that a
  // failed record read can leave the search as an exception.
  size_t low = 0, high = messageCount_;
  while (low < high) {
    size_t middle = (low + high) / 2;
    DbxMessageInfo probe(file_, IndexAt(uint32_t(middle)));
    uint32_t v = probe.IndexValue(DbxMessageInfo::kIndexMessageIndex);
    if (v == soughtId_) {
      recordFound = true;
      return AddressIfMatches(file_, IndexAt(uint32_t(middle)), id);
    }
    if (v < soughtId_) low = middle + 1;
    else high = middle;
  }
  return 0;
}

}  // namespace kestrelon
