// One SMTP connection of the sender check: connect with greeting and HELO, one command and
// its whole reply at a time, close.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "plugin/verify/smtp_reply.h"

namespace platform {
class TcpConnection;
}

namespace kestrelon {

// Each receive takes at most this many bytes; a reply may need several (smtp_reply.h).
inline constexpr size_t kSmtpReceiveSize = 1000;
// The longest command that is formed and sent, line end included.
inline constexpr size_t kSmtpMaxCommand = 1001;

// Formats "<verb><argument><tail>" into `command`; false when it would be longer than
// kSmtpMaxCommand or the argument holds a control character (it would break the line).
bool FormatSmtpCommand(std::string_view verb, std::string_view argument, std::string_view tail,
                       std::string& command);

// The connection is shared with a worker thread: Close and Abandon may be called from another
// thread while Connect or Command run, and make them fail at once.
class SmtpSession {
 public:
  explicit SmtpSession(std::string service);
  ~SmtpSession();
  SmtpSession(const SmtpSession&) = delete;
  SmtpSession& operator=(const SmtpSession&) = delete;

  // Connects to `host` on the session's service, receives the greeting ("220") and sends
  // HELO with the local host name ("250"). Each whole reply, however many pieces it comes
  // in, is awaited at most `replyTimeoutMs`. False when a connection is already open (it is
  // left alone) or on any failure (the connection is then closed).
  bool Connect(const std::string& host, uint32_t connectTimeoutMs, uint32_t replyTimeoutMs);

  // Sends `command` and receives its whole reply. Without the reject-word check: true when
  // both worked and the reply's code is `expectedCode`. With it: the RCPT TO judgement, where
  // every failure counts as "exists" (true).
  //
  // The dialogue must stay in step: bytes that arrived before the command was sent, or that
  // follow a reply's last line, answer nothing that was asked, and from then on every command
  // fails.
  bool Command(std::string_view command, std::string_view expectedCode, bool checkRejectWords);

  // Shuts the connection down in both directions and lets it go; nothing when none is open.
  void Close();

  // Close, and refuse every later Connect: for a session whose worker was given up.
  void Abandon();

  bool IsOpen() const;

  // The last whole reply received.
  const std::string& LastReply() const { return m_reply; }

 private:
  std::shared_ptr<platform::TcpConnection> Current() const;
  // Receives one whole reply into m_reply, within the reply time-out. False on a failure, a
  // time-out or bytes that are no reply; the session is then out of step.
  bool ReceiveReply(platform::TcpConnection& connection);
  // Sends one command and receives its reply. False on a failure of either.
  bool Exchange(std::string_view command);

  const std::string m_service;
  uint32_t m_replyTimeoutMs = 0;
  mutable std::mutex m_mutex;  // guards m_connection and m_abandoned
  std::shared_ptr<platform::TcpConnection> m_connection;
  bool m_abandoned = false;
  std::string m_reply;
  std::string m_received;  // bytes received and not yet part of a reply
  bool m_outOfStep = false;
};

}  // namespace kestrelon
