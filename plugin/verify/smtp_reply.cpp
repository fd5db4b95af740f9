#include "plugin/verify/smtp_reply.h"

#include "shared/ascii_text.h"

namespace kestrelon {
namespace {

bool IsCodeCharacter(size_t position, char c) {
  return position == 0 ? (c >= '2' && c <= '5') : (c >= '0' && c <= '9');
}

// Whether a line's text (after the code and its separator) begins with an enhanced status of
// class 5, subject 7: "5.7.<detail>".
bool HasSecurityStatus(std::string_view text) {
  size_t at = text.find_first_not_of(' ');
  if (at == std::string_view::npos) return false;
  text = text.substr(at);
  return text.size() > 4 && text.substr(0, 4) == "5.7." && text[4] >= '0' && text[4] <= '9';
}

}  // namespace

SmtpReplyEnd FindSmtpReplyEnd(std::string_view bytes) {
  std::string_view window = bytes.substr(0, kSmtpMaxReply);
  size_t start = 0;
  while (start < window.size()) {
    std::string_view line = window.substr(start);
    // The code, as far as it has come: three digits, the same on every line.
    for (size_t i = 0; i < 3 && i < line.size(); ++i) {
      if (!IsCodeCharacter(i, line[i]) || line[i] != window[i]) return {SmtpReplyScan::Malformed, 0};
    }
    if (line.size() > 3 && line[3] != ' ' && line[3] != '-' && line[3] != '\r' && line[3] != '\n') {
      return {SmtpReplyScan::Malformed, 0};
    }
    size_t end = line.find('\n');
    if (end == std::string_view::npos) break;
    size_t textEnd = end > 0 && line[end - 1] == '\r' ? end - 1 : end;
    if (textEnd < 3) return {SmtpReplyScan::Malformed, 0};
    bool last = textEnd == 3 || line[3] == ' ';
    if (!last && line[3] != '-') return {SmtpReplyScan::Malformed, 0};
    start += end + 1;
    if (last) return {SmtpReplyScan::Complete, start};
  }
  if (bytes.size() >= kSmtpMaxReply) return {SmtpReplyScan::Malformed, 0};
  return {SmtpReplyScan::Incomplete, 0};
}

bool SmtpReplyHasCode(std::string_view reply, std::string_view code) {
  return code.size() >= 3 && reply.size() >= 3 && reply.substr(0, 3) == code.substr(0, 3);
}

bool SmtpRcptReplySaysExists(std::string_view reply) {
  if (!SmtpReplyHasCode(reply, "550")) return true;
  for (std::string_view word : {"spam", "dynamic", "reject", "blocked", "denied", "policy"}) {
    if (ContainsNoCase(reply, word)) return true;
  }
  for (size_t start = 0; start < reply.size();) {
    size_t end = reply.find('\n', start);
    std::string_view line = reply.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
    if (line.size() > 4 && HasSecurityStatus(line.substr(4))) return true;
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  return false;
}

}  // namespace kestrelon
