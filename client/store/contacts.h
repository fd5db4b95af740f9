// The stand-in address book's contacts file, "Contacts.txt" in the store folder.
//
// Format: 8-bit text, one contact a line (CRLF or LF): the e-mail address, optionally
// followed by a tab and the display name. Empty lines and lines that begin with '#' are
// ignored; leading and trailing blanks of both fields are removed.
#pragma once

#include <string>
#include <vector>

namespace kestrelon::client {

constexpr const char* kContactsFile = "Contacts.txt";

struct Contact {
  std::string address;
  std::string name;
};

// The contacts of the file; an absent or unreadable file has none.
std::vector<Contact> ReadContacts(const std::string& path);

// Appends one contact; false when the file cannot be written or the address is empty
// or holds a line break or tab.
bool AddContact(const std::string& path, const Contact& contact);

}  // namespace kestrelon::client
