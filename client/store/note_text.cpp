#include "client/store/note_text.h"

#include "plugin/dbx/message_content.h"
#include "client/envelope.h"

#include <cctype>
#include <optional>

namespace kestrelon::client {

namespace {

constexpr int kMaxDepth = 8;

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

// Splits at the first empty line; the header keeps its last line end.
void SplitMail(std::string_view mail, std::string_view& header, std::string_view& body) {
  size_t pos = 0;
  while (pos < mail.size()) {
    size_t eol = mail.find('\n', pos);
    if (eol == std::string_view::npos) break;
    std::string_view line = mail.substr(pos, eol - pos);
    if (line.empty() || line == "\r") {
      header = mail.substr(0, pos);
      body = mail.substr(eol + 1);
      return;
    }
    pos = eol + 1;
  }
  header = mail;
  body = {};
}

// The value of parameter `name` of a header value such as `multipart/mixed; boundary="x"`.
std::string Parameter(const std::string& value, const std::string& name) {
  std::string lower = Lower(value);
  size_t at = 0;
  while ((at = lower.find(name, at)) != std::string::npos) {
    bool start = at == 0 || lower[at - 1] == ';' || lower[at - 1] == ' ' || lower[at - 1] == '\t';
    size_t eq = at + name.size();
    while (eq < lower.size() && lower[eq] == ' ') ++eq;
    if (start && eq < lower.size() && lower[eq] == '=') {
      size_t v = eq + 1;
      while (v < value.size() && value[v] == ' ') ++v;
      if (v < value.size() && value[v] == '"') {
        size_t end = value.find('"', v + 1);
        return value.substr(v + 1, end == std::string::npos ? std::string::npos : end - v - 1);
      }
      size_t end = value.find_first_of("; \t", v);
      return value.substr(v, end == std::string::npos ? std::string::npos : end - v);
    }
    at = eq;
  }
  return {};
}

std::string DecodeBody(std::string_view header, std::string_view body) {
  std::string encoding = Lower(HeaderField(header, "Content-Transfer-Encoding").value_or(""));
  if (encoding == "base64") return DecodeBase64(body);
  if (encoding == "quoted-printable") return DecodeQuotedPrintable(body);
  return std::string(body);
}

std::string StripTags(const std::string& html) {
  std::string out;
  bool inTag = false;
  for (char c : html) {
    if (c == '<') inTag = true;
    else if (c == '>') inTag = false;
    else if (!inTag) out.push_back(c);
  }
  return out;
}

// The plain text of one entity; `html` receives the first HTML text seen when there is
// no plain text.
std::optional<std::string> PlainPart(std::string_view entity, int depth, std::optional<std::string>& html) {
  std::string_view header, body;
  SplitMail(entity, header, body);
  std::string type = HeaderField(header, "Content-Type").value_or("text/plain");
  std::string lower = Lower(type);
  if (lower.rfind("multipart/", 0) == 0) {
    std::string boundary = Parameter(type, "boundary");
    if (boundary.empty() || depth >= kMaxDepth) return std::nullopt;
    std::string delimiter = "--" + boundary;
    size_t pos = body.find(delimiter);
    while (pos != std::string_view::npos) {
      size_t start = body.find('\n', pos);
      if (start == std::string_view::npos) break;
      if (body.substr(pos + delimiter.size(), 2) == "--") break;  // closing delimiter
      ++start;
      size_t next = body.find(delimiter, start);
      std::string_view part = body.substr(start, next == std::string_view::npos ? std::string_view::npos : next - start);
      if (auto text = PlainPart(part, depth + 1, html)) return text;
      pos = next;
    }
    return std::nullopt;
  }
  if (lower.rfind("text/plain", 0) == 0) return DecodeBody(header, body);
  if (lower.rfind("text/html", 0) == 0 && !html) html = StripTags(DecodeBody(header, body));
  return std::nullopt;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

std::string DecodeQuotedPrintable(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c != '=') {
      out.push_back(c);
      continue;
    }
    if (i + 1 < text.size() && text[i + 1] == '\n') {  // soft line break
      i += 1;
    } else if (i + 2 < text.size() && text[i + 1] == '\r' && text[i + 2] == '\n') {
      i += 2;
    } else if (i + 2 < text.size() && HexValue(text[i + 1]) >= 0 && HexValue(text[i + 2]) >= 0) {
      out.push_back(static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2])));
      i += 2;
    } else {
      out.push_back(c);
    }
  }
  return out;
}

std::string DecodeEncodedWords(std::string_view value) {
  std::string out;
  size_t pos = 0;
  bool lastWasWord = false;
  while (pos < value.size()) {
    size_t start = value.find("=?", pos);
    if (start == std::string_view::npos) break;
    size_t q1 = value.find('?', start + 2);
    size_t q2 = q1 == std::string_view::npos ? q1 : value.find('?', q1 + 1);
    size_t end = q2 == std::string_view::npos ? q2 : value.find("?=", q2 + 1);
    if (end == std::string_view::npos || q2 != q1 + 2) {
      out.append(value.substr(pos, start + 2 - pos));
      pos = start + 2;
      lastWasWord = false;
      continue;
    }
    std::string_view between = value.substr(pos, start - pos);
    // Blanks between two encoded words are not part of the text.
    if (!(lastWasWord && between.find_first_not_of(" \t\r\n") == std::string_view::npos)) out.append(between);
    char encoding = static_cast<char>(std::toupper(static_cast<unsigned char>(value[q1 + 1])));
    std::string_view data = value.substr(q2 + 1, end - q2 - 1);
    if (encoding == 'B') {
      out += DecodeBase64(data);
    } else if (encoding == 'Q') {
      std::string text(data);
      for (char& c : text)
        if (c == '_') c = ' ';
      out += DecodeQuotedPrintable(text);
    } else {
      out.append(value.substr(start, end + 2 - start));
    }
    pos = end + 2;
    lastWasWord = true;
  }
  out.append(value.substr(pos));
  return out;
}

std::string PlainTextOf(std::string_view mail) {
  std::optional<std::string> html;
  if (auto text = PlainPart(mail, 0, html)) return *text;
  return html.value_or(std::string());
}

}  // namespace kestrelon::client
