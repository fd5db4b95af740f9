// The plain text of a mail as the client shows it: the first text/plain part (the
// whole body of a mail without parts), with its transfer encoding undone; for a mail
// with only HTML, the HTML part with its tags removed.
#pragma once

#include <string>
#include <string_view>

namespace kestrelon::client {

std::string PlainTextOf(std::string_view mail);

// Undoes quoted-printable encoding; malformed escapes are kept as they are.
std::string DecodeQuotedPrintable(std::string_view text);

// Decodes RFC 2047 encoded words (B and Q) of a header value; the bytes are kept in
// the charset they were written in.
std::string DecodeEncodedWords(std::string_view value);

}  // namespace kestrelon::client
