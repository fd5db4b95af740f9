#include "plugin/verify/smtp_session.h"

#include <array>

#include "platform/net.h"
#include "platform/time.h"
#include "shared/ascii_text.h"

namespace kestrelon {

bool FormatSmtpCommand(std::string_view verb, std::string_view argument, std::string_view tail,
                       std::string& command) {
  command.clear();
  if (verb.size() + argument.size() + tail.size() > kSmtpMaxCommand) return false;
  for (char c : argument) {
    if (IsAsciiControl(c)) return false;
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
  m_received.clear();
  m_outOfStep = false;
  if (platform::NetStartup() && connection->Connect(host, m_service, connectTimeoutMs) &&
      ReceiveReply(*connection) && SmtpReplyHasCode(m_reply, "220")) {
    std::string name = platform::HostName();
    std::string helo;
    if (!name.empty() && FormatSmtpCommand("HELO ", name, "\r\n", helo) && Exchange(helo) &&
        SmtpReplyHasCode(m_reply, "250")) {
      return true;
    }
  }
  Close();
  return false;
}

bool SmtpSession::ReceiveReply(platform::TcpConnection& connection) {
  m_reply.clear();
  uint32_t start = platform::TickCount();
  for (;;) {
    SmtpReplyEnd end = FindSmtpReplyEnd(m_received);
    if (end.scan == SmtpReplyScan::Complete) {
      m_reply = m_received.substr(0, end.length);
      m_received.erase(0, end.length);
      // Anything after the last line was sent unasked.
      if (!m_received.empty()) m_outOfStep = true;
      return true;
    }
    if (end.scan == SmtpReplyScan::Malformed) break;
    uint32_t spent = platform::TicksBetween(start, platform::TickCount());
    if (spent >= m_replyTimeoutMs) break;
    std::array<char, kSmtpReceiveSize> buffer;
    long received = connection.Receive(buffer.data(), buffer.size(), m_replyTimeoutMs - spent);
    if (received <= 0) break;
    m_received.append(buffer.data(), static_cast<size_t>(received));
  }
  m_outOfStep = true;
  return false;
}

bool SmtpSession::Exchange(std::string_view command) {
  m_reply.clear();
  auto connection = Current();
  if (!connection || m_outOfStep) return false;
  // Nothing may be waiting before a command is sent: a server that talks unasked would have
  // its words taken for the answer.
  std::array<char, kSmtpReceiveSize> stray;
  if (connection->Receive(stray.data(), stray.size(), 0) >= 0) {
    m_outOfStep = true;
    return false;
  }
  return connection->SendAll(command, m_replyTimeoutMs) && ReceiveReply(*connection);
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
