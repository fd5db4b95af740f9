// One SMTP connection of the sender check: connect with greeting and HELO, single-reply
// commands, close.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

namespace platform {
class TcpConnection;
}

namespace kestrelon {

// Each reply is one receive of at most this many bytes.
inline constexpr size_t kSmtpReplySize = 1000;
// The longest command that is formed and sent, line end included.
inline constexpr size_t kSmtpMaxCommand = 1001;

// True when `reply` begins with the three characters of `code`.
bool SmtpReplyHasCode(std::string_view reply, std::string_view code);

// The judgement of a RCPT TO reply: false (the mailbox does not exist) only for a reply that
// begins with "550" and, lower-cased, names none of "spam", "dynamic", "reject"; such words
// concern the asking machine rather than the mailbox.
bool SmtpRcptReplySaysExists(std::string_view reply);

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
  // HELO with the local host name ("250"). Every reply is awaited at most `replyTimeoutMs`.
  // False when a connection is already open (it is left alone) or on any failure (the
  // connection is then closed).
  bool Connect(const std::string& host, uint32_t connectTimeoutMs, uint32_t replyTimeoutMs);

  // Sends `command` and receives one reply. Without the reject-word check: true when both
  // worked and the reply begins with `expectedCode`. With it: the RCPT TO judgement, where
  // every failure counts as "exists" (true).
  bool Command(std::string_view command, std::string_view expectedCode, bool checkRejectWords);

  // Shuts the connection down in both directions and lets it go; nothing when none is open.
  void Close();

  // Close, and refuse every later Connect: for a session whose worker was given up.
  void Abandon();

  bool IsOpen() const;

  // The bytes of the last reply received.
  const std::string& LastReply() const { return m_reply; }

 private:
  std::shared_ptr<platform::TcpConnection> Current() const;
  // One send and one receive; the reply lands in m_reply. False on a failure of either.
  bool Exchange(std::string_view command);

  const std::string m_service;
  uint32_t m_replyTimeoutMs = 0;
  mutable std::mutex m_mutex;  // guards m_connection and m_abandoned
  std::shared_ptr<platform::TcpConnection> m_connection;
  bool m_abandoned = false;
  std::string m_reply;
};

}  // namespace kestrelon
