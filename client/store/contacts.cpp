#include "client/store/contacts.h"

#include "platform/file.h"

namespace kestrelon::client {

namespace {

std::string Trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return {};
  size_t e = s.find_last_not_of(" \t\r\n");
  return s.substr(b, e - b + 1);
}

constexpr uint64_t kMaxFileSize = 64ull << 20;

}  // namespace

std::vector<Contact> ReadContacts(const std::string& path) {
  std::vector<Contact> contacts;
  platform::File file;
  if (!file.Open(path, platform::Access::Read, platform::kShareRead | platform::kShareWrite,
                 platform::Disposition::OpenExisting))
    return contacts;
  uint64_t size = 0;
  if (!file.Size(size) || size > kMaxFileSize) return contacts;
  std::string text(size, '\0');
  size_t got = 0;
  if (size && !file.ReadAt(0, text.data(), text.size(), got)) return contacts;
  text.resize(got);
  size_t pos = 0;
  while (pos < text.size()) {
    size_t eol = text.find('\n', pos);
    if (eol == std::string::npos) eol = text.size();
    std::string line = text.substr(pos, eol - pos);
    pos = eol + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    size_t tab = line.find('\t');
    Contact c{Trim(line.substr(0, tab)), tab == std::string::npos ? std::string() : Trim(line.substr(tab + 1))};
    if (!c.address.empty()) contacts.push_back(std::move(c));
  }
  return contacts;
}

bool AddContact(const std::string& path, const Contact& contact) {
  std::string address = Trim(contact.address), name = Trim(contact.name);
  if (address.empty() || address[0] == '#' || address.find_first_of("\r\n\t") != std::string::npos ||
      name.find_first_of("\r\n") != std::string::npos)
    return false;
  platform::File file;
  if (!file.Open(path, platform::Access::ReadWrite, platform::kShareRead, platform::Disposition::OpenAlways))
    return false;
  uint64_t size = 0;
  if (!file.Size(size)) return false;
  std::string line = address + (name.empty() ? "" : "\t" + name) + "\r\n";
  // A file whose last line has no line end gets one first.
  if (size > 0) {
    char last = 0;
    size_t got = 0;
    if (file.ReadAt(size - 1, &last, 1, got) && got == 1 && last != '\n') line = "\r\n" + line;
  }
  return file.WriteAt(size, line.data(), line.size()) && file.Flush();
}

}  // namespace kestrelon::client
