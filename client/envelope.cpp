#include "client/envelope.h"

#include "shared/ascii_text.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>

namespace kestrelon::client {

namespace {

std::string Trim(std::string s) {
  size_t b = s.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return {};
  size_t e = s.find_last_not_of(" \t\r\n");
  return s.substr(b, e - b + 1);
}

// Days since 1970-01-01 of a civil date.
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = unsigned(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + int64_t(doe) - 719468;
}

}  // namespace

std::optional<std::string> HeaderField(std::string_view mail, std::string_view name) {
  size_t pos = 0;
  while (pos < mail.size()) {
    size_t eol = mail.find('\n', pos);
    if (eol == std::string_view::npos) eol = mail.size();
    std::string_view line = mail.substr(pos, eol - pos);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty()) break;  // end of the header block
    size_t colon = line.find(':');
    if (colon != std::string_view::npos && line[0] != ' ' && line[0] != '\t' &&
        EqualsNoCase(line.substr(0, colon), name)) {
      std::string value(line.substr(colon + 1));
      // Continuation lines begin with a blank.
      size_t next = eol + 1;
      while (next < mail.size() && (mail[next] == ' ' || mail[next] == '\t')) {
        size_t end = mail.find('\n', next);
        if (end == std::string_view::npos) end = mail.size();
        std::string_view more = mail.substr(next, end - next);
        if (!more.empty() && more.back() == '\r') more.remove_suffix(1);
        value += " ";
        value += Trim(std::string(more));
        next = end + 1;
      }
      return Trim(value);
    }
    pos = eol + 1;
  }
  return std::nullopt;
}

void SplitAddress(const std::string& value, std::string& name, std::string& address) {
  size_t open = value.rfind('<');
  size_t close = value.rfind('>');
  if (open != std::string::npos && close != std::string::npos && close > open) {
    address = Trim(value.substr(open + 1, close - open - 1));
    name = Trim(value.substr(0, open));
    if (name.size() >= 2 && name.front() == '"' && name.back() == '"') name = name.substr(1, name.size() - 2);
    if (name.empty()) name = address;
  } else {
    address = Trim(value);
    name = address;
  }
}

std::optional<int64_t> ParseMailDate(const std::string& value) {
  static const char* const kMonths[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                        "jul", "aug", "sep", "oct", "nov", "dec"};
  std::string s = value;
  size_t comma = s.find(',');
  if (comma != std::string::npos) s = s.substr(comma + 1);
  char month[4] = {};
  int day = 0, year = 0, hour = 0, minute = 0, second = 0;
  char zone[16] = {};
  int n = std::sscanf(s.c_str(), " %d %3s %d %d:%d:%d %15s", &day, month, &year, &hour, &minute, &second, zone);
  if (n < 5) {
    second = 0;
    n = std::sscanf(s.c_str(), " %d %3s %d %d:%d %15s", &day, month, &year, &hour, &minute, zone);
    if (n < 5) return std::nullopt;
  }
  int m = -1;
  for (int i = 0; i < 12; ++i)
    if (EqualsNoCase(month, kMonths[i])) m = i + 1;
  if (m < 0 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60) return std::nullopt;
  if (year < 100) year += year < 50 ? 2000 : 1900;
  int64_t t = DaysFromCivil(year, unsigned(m), unsigned(day)) * 86400 + hour * 3600 + minute * 60 + second;
  if ((zone[0] == '+' || zone[0] == '-') && std::isdigit(static_cast<unsigned char>(zone[1]))) {
    int hhmm = std::atoi(zone + 1);
    int offset = (hhmm / 100) * 3600 + (hhmm % 100) * 60;
    t -= zone[0] == '+' ? offset : -offset;
  }
  return t;
}

DbxEnvelope EnvelopeFromMail(std::string_view mail, uint64_t now) {
  DbxEnvelope env;
  env.flags = kDbxFlagUnread;
  env.receivedTime = now;
  env.sentTime = now;
  if (auto v = HeaderField(mail, "Subject")) env.subject = *v;
  if (auto v = HeaderField(mail, "From")) SplitAddress(*v, env.senderName, env.senderAddress);
  if (auto v = HeaderField(mail, "To")) {
    std::string first = v->substr(0, v->find(','));
    SplitAddress(first, env.receiverName, env.receiverAddress);
  }
  if (auto v = HeaderField(mail, "Message-ID")) env.messageId = *v;
  if (auto v = HeaderField(mail, "Date"))
    if (auto t = ParseMailDate(*v)) env.sentTime = FileTimeFromUnix(*t);
  return env;
}

}  // namespace kestrelon::client
