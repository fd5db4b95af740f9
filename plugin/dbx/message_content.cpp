#include "plugin/dbx/message_content.h"

#include "plugin/dbx/dbx_message_text.h"
#include "plugin/dbx/dbx_reader.h"
#include "shared/pattern.h"

#include <cstring>

namespace kestrelon {

namespace {

constexpr const char kHtmlTest[] = "text/html";
constexpr const char kHtmlPart[] = "text/html.+?(\r\n\r\n){.+</.+?>}";
constexpr const char kBase64HtmlPart[] = "text/html.+?base64.+?(\r\n\r\n)+{([A-Za-z0-9+=/]+(\r\n)?)+}";

// Group 0 of the first match of `pattern` (compiled without case) in `text`.
bool FirstGroup(const char* pattern, std::string_view text, std::string& group) {
  Pattern p;
  if (p.Compile(pattern, false) != kPatternOk) return false;
  PatternMatch match;
  if (!p.Search(text, 0, match)) return false;
  if (match.groups.empty() || !match.groups[0].TookPart()) {
    group.clear();
    return true;
  }
  group.assign(text.substr(size_t(match.groups[0].start), size_t(match.groups[0].end - match.groups[0].start)));
  return true;
}

const char* OrEmpty(const char* s) { return s ? s : ""; }

}  // namespace

bool IsHtmlMessage(std::string_view text) {
  Pattern p;
  if (p.Compile(kHtmlTest, false) != kPatternOk) return false;
  PatternMatch match;
  return p.Search(text, 0, match);
}

std::string ExtractHtmlBody(std::string_view text) {
  Pattern p;
  if (p.Compile(kHtmlPart, false) != kPatternOk) return {};
  PatternMatch match;
  if (p.Search(text, 0, match)) {
    if (match.groups.empty() || !match.groups[0].TookPart()) return {};
    return std::string(text.substr(size_t(match.groups[0].start), size_t(match.groups[0].end - match.groups[0].start)));
  }
  return ExtractBase64Html(text);
}

std::string ExtractBase64Html(std::string_view text) {
  std::string group;
  if (!FirstGroup(kBase64HtmlPart, text, group)) return {};
  return "Content-Transfer-Encoding: base64\r\n" + DecodeBase64(group);
}

std::string DecodeBase64(std::string_view text) {
  std::string out;
  uint32_t bits = 0;
  int have = 0;
  for (char ch : text) {
    unsigned char c = static_cast<unsigned char>(ch);
    if (c == 0) break;
    int v;
    if (c >= 'A' && c <= 'Z') v = c - 'A';
    else if (c >= 'a' && c <= 'z') v = c - 'a' + 26;
    else if (c >= '0' && c <= '9') v = c - '0' + 52;
    else if (c == '+') v = 62;
    else if (c == '/') v = 63;
    else continue;
    bits = (bits << 6) | uint32_t(v);
    if (++have == 4) {
      out.push_back(char((bits >> 16) & 0xFF));
      out.push_back(char((bits >> 8) & 0xFF));
      out.push_back(char(bits & 0xFF));
      bits = 0;
      have = 0;
    }
  }
  // A last group of two or three characters still makes one or two whole bytes.
  if (have == 2) {
    out.push_back(char((bits >> 4) & 0xFF));
  } else if (have == 3) {
    out.push_back(char((bits >> 10) & 0xFF));
    out.push_back(char((bits >> 2) & 0xFF));
  }
  return out;
}

std::string ComposeHeader(const MapiMessage* message) {
  if (!message) return {};
  std::string subject = OrEmpty(message->lpszSubject);
  std::string name, address;
  if (message->lpOriginator) {
    name = OrEmpty(message->lpOriginator->lpszName);
    address = OrEmpty(message->lpOriginator->lpszAddress);
  }
  std::string out = "Subject: " + subject + "\nFrom: ";
  if (name == address) out += "<" + address + ">\nTo:";
  else out += name + " <" + address + ">\nTo:";
  for (ULONG i = 0; message->lpRecips && i < message->nRecipCount; ++i) {
    std::string rName = OrEmpty(message->lpRecips[i].lpszName);
    std::string rAddress = OrEmpty(message->lpRecips[i].lpszAddress);
    if (rName == rAddress) out += " <" + rAddress + ">,";
    else out += " " + rName + " <" + rAddress + ">,";
  }
  out += "\n";
  return out;
}

bool GetMessageContent(DbxReader* reader, const MapiMessage* message, std::string& header, std::string& body) {
  try {
    uint32_t id = message ? uint32_t(message->ulReserved) : 0;
    if (reader && id != 0 && reader->ReadMessage(id, header, body, message->nFileCount > 0)) {
      if (reader->HtmlFlag() && !body.empty()) return true;
      body = OrEmpty(message->lpszNoteText);
      return false;
    }
    if (reader) reader->LogError("GetMessageContent() error - ID: ", std::to_string(id));
    header = ComposeHeader(message);
    body = message ? OrEmpty(message->lpszNoteText) : "";
    return false;
  } catch (...) {
    // Out of memory while copying texts: the caller still gets a usable pair.
    header.clear();
    body.clear();
    return false;
  }
}

bool DbxReader::ReadMessage(uint32_t id, std::string& header, std::string& body, bool cutLongText) {
  try {
    if (LoadIndex() == 0) return false;
    uint32_t address = FindMessageAddress(id, true);
    htmlFlag_ = false;
    if (address == 0) return false;
    DbxMessageText message(file_, address);
    // The text counts up to its first NUL byte.
    std::string_view text(message.Text(), strlen(message.Text()));
    if (text.empty()) return false;
    if (cutLongText && text.size() > kCutLength) text = text.substr(0, kCutLength);
    htmlFlag_ = IsHtmlMessage(text);
    size_t blank = text.find("\r\n\r\n");
    if (blank != std::string_view::npos) {
      header.assign(text.substr(0, blank));
      body.assign(text.substr(blank));
      if (htmlFlag_) {
        std::string html = ExtractHtmlBody(text);
        if (!html.empty()) body = std::move(html);
      }
    } else {
      header.assign(text);
      body.clear();
    }
    return true;
  } catch (const DbxException& e) {
    LogError("DbxException in ReadMessage(): ", e.message);
    return false;
  } catch (...) {
    LogError("Exception: ", "Unknown error in ReadMessage()");
    return false;
  }
}

}  // namespace kestrelon
