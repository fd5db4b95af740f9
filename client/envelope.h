// The envelope the client records for a delivered mail, taken from the mail's headers.
#pragma once

#include "client/dbx_writer.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kestrelon::client {

// The unfolded value of the first header field `name` (without case), if present.
std::optional<std::string> HeaderField(std::string_view mail, std::string_view name);

// Splits "Name <address>", "<address>" or "address" into display name and address.
void SplitAddress(const std::string& value, std::string& name, std::string& address);

// Seconds since 1970 (UTC) of an RFC 822 date such as "Mon, 07 Dec 2026 09:14:02 +0100".
std::optional<int64_t> ParseMailDate(const std::string& value);

// Subject, sender, receiver, message id and sent time from the headers; received time
// `now` (FILETIME); flags unread.
DbxEnvelope EnvelopeFromMail(std::string_view mail, uint64_t now);

}  // namespace kestrelon::client
