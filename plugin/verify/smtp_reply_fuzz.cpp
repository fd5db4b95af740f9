// Feeds arbitrary bytes to the SMTP reply reading and judgement and to command formatting.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "plugin/verify/smtp_reply.h"
#include "plugin/verify/smtp_session.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  kestrelon::SmtpReplyEnd end = kestrelon::FindSmtpReplyEnd(text);
  if (end.scan == kestrelon::SmtpReplyScan::Complete) {
    // A whole reply lies within the bytes and the bound, ends a line and has a code.
    if (end.length < 4 || end.length > size || end.length > kestrelon::kSmtpMaxReply) __builtin_trap();
    if (text[end.length - 1] != '\n') __builtin_trap();
    if (text[0] < '2' || text[0] > '5') __builtin_trap();
    kestrelon::SmtpRcptReplySaysExists(text.substr(0, end.length));
  } else if (end.length != 0) {
    __builtin_trap();
  }
  kestrelon::SmtpRcptReplySaysExists(text);
  kestrelon::SmtpReplyHasCode(text, "250");
  std::string command;
  if (kestrelon::FormatSmtpCommand("RCPT TO:<", text, ">\r\n", command)) {
    if (command.size() > kestrelon::kSmtpMaxCommand) __builtin_trap();
    if (command.substr(0, command.size() - 2).find_first_of("\r\n") != std::string::npos) __builtin_trap();
  }
  return 0;
}
