#include "plugin/host/message_key.h"

#include "platform/code_page.h"

#include <cstring>

namespace kestrelon {

namespace {

constexpr const char* kWhiteSpace = " \t\r\n\v\f";

std::string Trim(const std::string& text) {
  size_t b = text.find_first_not_of(kWhiteSpace);
  if (b == std::string::npos) return {};
  size_t e = text.find_last_not_of(kWhiteSpace);
  return text.substr(b, e - b + 1);
}

std::string BuildKey(std::string name, const std::string& subject, bool cutAtSemicolon) {
  if (cutAtSemicolon) {
    size_t semicolon = name.find(';');
    if (semicolon != std::string::npos) name.resize(semicolon);
  }
  std::string key = Trim(Trim(name) + subject);
  platform::AnsiOemRoundTrip(key);
  for (char& c : key) c = static_cast<char>(static_cast<unsigned char>(c) % 128);
  return key;
}

}  // namespace

std::string MessageKey(const std::string& name, std::string& subject, bool cutAtSemicolon) {
  if (subject.size() > kMaxKeySubject) subject.resize(kMaxKeySubject);
  return BuildKey(name, subject, cutAtSemicolon);
}

std::string MessageKey(const char* name, char* subject, bool cutAtSemicolon) {
  if (subject && std::strlen(subject) > kMaxKeySubject) subject[kMaxKeySubject] = '\0';
  return BuildKey(name ? name : "", subject ? subject : "", cutAtSemicolon);
}

std::string MessageKeyOf(const MapiMessage* message) {
  std::string subject = message->lpszSubject ? message->lpszSubject : "";
  if (subject.size() > kMaxKeySubject) subject.resize(kMaxKeySubject);
  const char* name = message->lpOriginator ? message->lpOriginator->lpszName : nullptr;
  return BuildKey(name ? name : "", subject, false);
}

}  // namespace kestrelon
