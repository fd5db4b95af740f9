// The texts handed to the filter for one message: its header block and its body, the
// body being the extracted HTML part for HTML mail.
#pragma once

#include "platform/mapi.h"

#include <string>
#include <string_view>

namespace kestrelon {

class DbxReader;

// Whether "text/html" occurs anywhere in the text, ignoring case.
bool IsHtmlMessage(std::string_view text);

// The HTML part of the text (from the blank line after the first "text/html" through
// the last closing tag), else the decoded base64 HTML part; empty when neither is found.
std::string ExtractHtmlBody(std::string_view text);

// "Content-Transfer-Encoding: base64\r\n" and the decoded base64 HTML part of the text;
// empty when there is none.
std::string ExtractBase64Html(std::string_view text);

// Decodes standard base64, skipping bytes outside the alphabet; a NUL ends the input.
std::string DecodeBase64(std::string_view text);

// Subject, From and To lines built from the Simple MAPI fields, each ending in "\n".
std::string ComposeHeader(const MapiMessage* message);

// Header and body texts of `message` for the filter: from the Inbox file through
// `reader` when it can be read there, else from the Simple MAPI fields. True only when
// the body was taken from the Inbox file and is HTML. Never raises.
bool GetMessageContent(DbxReader* reader, const MapiMessage* message, std::string& header, std::string& body);

}  // namespace kestrelon
