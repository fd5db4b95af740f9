#include "plugin/dbx/dbx_message_text.h"

#include "plugin/dbx/dbx_exception.h"
#include "plugin/dbx/dbx_stream.h"

#include <new>
#include <unordered_set>

namespace kestrelon {

DbxMessageText::DbxMessageText(platform::File& in, uint32_t firstSegment) : firstSegment_(firstSegment) { Read(in); }

DbxMessageText::DbxMessageText(std::istream& in, uint32_t firstSegment) : firstSegment_(firstSegment) { Read(in); }

template <class In>
void DbxMessageText::Read(In& in) {
  const uint32_t firstSegment = firstSegment_;
  // Counting pass. Segments of a sound chain lie apart, so together they are never
  // longer than the file, and a chain that comes back to a segment loops forever:
  // both are read failures, as is a segment whose text runs past the end.
  const uint64_t fileSize = dbx::StreamSize(in);
  std::unordered_set<uint32_t> seen;
  uint64_t total = 0;
  uint32_t segment = firstSegment;
  unsigned char head[16];
  while (segment != 0) {
    if (!dbx::ReadAt(in, segment, head, sizeof head)) throw DbxException("Error reading from input stream !");
    if (dbx::Le32(head) != segment) throw DbxException("Wrong object marker !");
    uint32_t length = dbx::Le32(head + 8);
    if (!seen.insert(segment).second || uint64_t(segment) + 16 + length > fileSize || total + length > fileSize ||
        total + length >= 0xFFFFFFFFu)
      throw DbxException("Error reading from input stream !");
    total += length;
    segment = dbx::Le32(head + 12);
  }
  if (total == 0) throw DbxException("No text found !");

  try {
    text_.reset(new char[total + 1]);
  } catch (const std::bad_alloc&) {
    throw DbxException("Error reading from input stream !");
  }
  // Copying pass. The client may have changed the chain since the counting pass: never
  // copy more than was counted, and stop after as many segments as were counted.
  uint64_t copied = 0;
  segment = firstSegment;
  for (size_t n = 0; n < seen.size() && segment != 0; ++n) {
    if (!dbx::ReadAt(in, segment, head, sizeof head)) throw DbxException("Error reading from input stream !");
    uint32_t length = dbx::Le32(head + 8);
    if (copied + length > total) throw DbxException("Error reading from input stream !");
    if (length != 0 && !dbx::ReadAt(in, uint64_t(segment) + 16, text_.get() + copied, length))
      throw DbxException("Error reading from input stream !");
    copied += length;
    segment = dbx::Le32(head + 12);
  }
  if (copied != total) throw DbxException("Error reading from input stream !");
  length_ = uint32_t(total);
  text_[total] = '\0';
}

}  // namespace kestrelon
