// A scripted SMTP server on 127.0.0.1 for tests: it answers each command by its verb from a
// script, records what it was sent, and stops by itself when destroyed (or after a minute).
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace kestrelon::testing {

// Inside a scripted reply: what comes before is sent at once, the rest a moment later.
inline constexpr char kSmtpPause[] = "<pause>";

// Replies of one connection. An empty reply means: from here on say nothing and hold the
// connection open until the client closes it.
struct SmtpScript {
  std::string greeting = "220 mx.test ready\r\n";
  std::string helo = "250 mx.test\r\n";
  std::string mailFrom = "250 sender ok\r\n";
  std::string rcptTo = "250 recipient ok\r\n";
  std::string quit = "221 bye\r\n";
  std::string other = "502 command not implemented\r\n";
  // The reply to RCPT TO comes this late, and is sent this many times over.
  uint32_t rcptDelayMs = 0;
  int rcptRepeat = 1;
  // The moment of kSmtpPause.
  uint32_t pauseMs = 300;
};

class ScriptedSmtpServer {
 public:
  // Connection i follows scripts[i], the last script once they are used up.
  explicit ScriptedSmtpServer(std::vector<SmtpScript> scripts);
  ~ScriptedSmtpServer();

  bool Listening() const { return m_port != 0; }
  std::string Service() const { return std::to_string(m_port); }
  int Connections() const;
  // Every command line received, without its line end, in order.
  std::vector<std::string> Lines() const;

 private:
  void Run();
  std::vector<SmtpScript> m_scripts;
  uint16_t m_port = 0;
  std::atomic<bool> m_stop{false};
  mutable std::mutex m_mutex;
  int m_connections = 0;
  std::vector<std::string> m_lines;
  std::thread m_thread;
  struct State;
  State* m_state = nullptr;
};

}  // namespace kestrelon::testing
