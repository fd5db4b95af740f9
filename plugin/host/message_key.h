// The key under which the seen-message list records a message: the sender's display
// name (the From column of the client's message list) followed by the subject.
#pragma once

#include "platform/mapi.h"

#include <string>

namespace kestrelon {

// Longest subject that takes part in a key.
constexpr size_t kMaxKeySubject = 259;

// Cuts `subject` to 259 characters (the caller's subject is cut too), optionally cuts
// `name` at its first ';', joins the trimmed name and the subject, trims again, sends the
// text through the OEM code page and back, and reduces every byte modulo 128.
std::string MessageKey(const std::string& name, std::string& subject, bool cutAtSemicolon);

// The same for the NUL-terminated fields of a Simple MAPI message; the subject is cut in
// place. Null fields count as empty.
std::string MessageKey(const char* name, char* subject, bool cutAtSemicolon);

// The key of a Simple MAPI message (originator's name, subject), its subject left whole.
std::string MessageKeyOf(const MapiMessage* message);

}  // namespace kestrelon
