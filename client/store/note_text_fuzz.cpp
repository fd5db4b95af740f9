// The plain text of arbitrary mail bytes, and header decoding of the same bytes.
#include "client/store/note_text.h"

#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  kestrelon::client::PlainTextOf(text);
  kestrelon::client::DecodeEncodedWords(text);
  kestrelon::client::DecodeQuotedPrintable(text);
  return 0;
}
