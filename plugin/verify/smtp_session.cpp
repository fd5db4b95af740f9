#include "plugin/verify/smtp_session.h"

#include <array>

#include "platform/net.h"

namespace kestrelon {
namespace {

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool ContainsLowered(std::string_view text, std::string_view word) {
  if (word.size() > text.size()) return false;
  for (size_t i = 0; i + word.size() <= text.size(); ++i) {
    size_t j = 0;
    while (j < word.size() && LowerAscii(text[i + j]) == word[j]) ++j;
    if (j == word.size()) return true;
  }
  return false;
}

}  // namespace

bool SmtpReplyHasCode(std::string_view reply, std::string_view code) {
  return code.size() >= 3 && reply.size() >= 3 && reply.substr(0, 3) == code.substr(0, 3);
}

bool SmtpRcptReplySaysExists(std::string_view reply) {
  if (!SmtpReplyHasCode(reply, "550")) return true;
  for (std::string_view word : {"spam", "dynamic", "reject"}) {
    if (ContainsLowered(reply, word)) return true;
  }
  return false;
}

bool FormatSmtpCommand(std::string_view verb, std::string_view argument, std::string_view tail,
                       std::string& command) {
  command.clear();
  if (verb.size() + argument.size() + tail.size() > kSmtpMaxCommand) return false;
  for (char c : argument) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return false;
  }
  command.reserve(verb.size() + argument.size() + tail.size());
  command.append(verb).append(argument).append(tail);
  return true;
}

SmtpSession::SmtpSession(std::string service) : m_service(std::move(service)) {}

SmtpSession::~SmtpSession() { Close(); }

std::shared_ptr<platform::TcpConnection> SmtpSession::Current() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_connection;
}

bool SmtpSession::IsOpen() const { return Current() != nullptr; }

bool SmtpSession::Connect(const std::string& host, uint32_t connectTimeoutMs,
                          uint32_t replyTimeoutMs) {
  auto connection = std::make_shared<platform::TcpConnection>();
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_abandoned || m_connection) return false;
    m_connection = connection;
  }
  m_replyTimeoutMs = replyTimeoutMs;
  m_reply.clear();
  if (platform::NetStartup() && connection->Connect(host, m_service, connectTimeoutMs)) {
    std::array<char, kSmtpReplySize> buffer;
    long received = connection->Receive(buffer.data(), buffer.size(), replyTimeoutMs);
    if (received > 0) m_reply.assign(buffer.data(), static_cast<size_t>(received));
    if (received > 0 && SmtpReplyHasCode(m_reply, "220")) {
      std::string name = platform::HostName();
      std::string helo;
      if (!name.empty() && FormatSmtpCommand("HELO ", name, "\r\n", helo) && Exchange(helo) &&
          SmtpReplyHasCode(m_reply, "250")) {
        return true;
      }
    }
  }
  Close();
  return false;
}

bool SmtpSession::Exchange(std::string_view command) {
  m_reply.clear();
  auto connection = Current();
  if (!connection || !connection->SendAll(command, m_replyTimeoutMs)) return false;
  std::array<char, kSmtpReplySize> buffer;
  long received = connection->Receive(buffer.data(), buffer.size(), m_replyTimeoutMs);
  if (received <= 0) return false;
  m_reply.assign(buffer.data(), static_cast<size_t>(received));
  return true;
}

bool SmtpSession::Command(std::string_view command, std::string_view expectedCode,
                          bool checkRejectWords) {
  // A command is exactly one line: a line break inside it would smuggle in another command.
  bool oneLine = command.size() >= 2 && command.size() <= kSmtpMaxCommand &&
                 command.substr(command.size() - 2) == "\r\n" &&
                 command.substr(0, command.size() - 2).find_first_of("\r\n") == std::string_view::npos;
  bool exchanged = oneLine && Exchange(command);
  if (!checkRejectWords) return exchanged && SmtpReplyHasCode(m_reply, expectedCode);
  if (!exchanged || !SmtpReplyHasCode(m_reply, expectedCode)) return true;
  return SmtpRcptReplySaysExists(m_reply);
}

void SmtpSession::Close() {
  std::shared_ptr<platform::TcpConnection> connection;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    connection = std::move(m_connection);
    m_connection.reset();
  }
  // Wakes a worker that still waits on the connection; the socket closes when the last user
  // lets go of it.
  if (connection) connection->Abort();
}

void SmtpSession::Abandon() {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_abandoned = true;
  }
  Close();
}

}  // namespace kestrelon
