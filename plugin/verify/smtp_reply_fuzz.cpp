// Feeds arbitrary replies and addresses to the SMTP reply judgement and command formatting.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "plugin/verify/smtp_session.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  kestrelon::SmtpRcptReplySaysExists(text);
  kestrelon::SmtpReplyHasCode(text, "250");
  std::string command;
  if (kestrelon::FormatSmtpCommand("RCPT TO:<", text, ">\r\n", command)) {
    if (command.size() > kestrelon::kSmtpMaxCommand) __builtin_trap();
    if (command.substr(0, command.size() - 2).find_first_of("\r\n") != std::string::npos) __builtin_trap();
  }
  return 0;
}
