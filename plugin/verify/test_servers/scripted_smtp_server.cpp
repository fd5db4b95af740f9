#include "plugin/verify/test_servers/scripted_smtp_server.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <memory>

#include "platform/net.h"
#include "platform/time.h"

namespace kestrelon::testing {

namespace {
constexpr uint32_t kPollMs = 20;
constexpr uint32_t kLifetimeMs = 60000;

bool HasVerb(const std::string& line, const char* verb) {
  size_t n = std::char_traits<char>::length(verb);
  if (line.size() < n) return false;
  for (size_t i = 0; i < n; ++i) {
    if (std::toupper(static_cast<unsigned char>(line[i])) != verb[i]) return false;
  }
  return true;
}
}  // namespace

struct ScriptedSmtpServer::State {
  platform::TcpListener listener;
};

ScriptedSmtpServer::ScriptedSmtpServer(std::vector<SmtpScript> scripts)
    : m_scripts(std::move(scripts)) {
  if (m_scripts.empty()) m_scripts.emplace_back();
  m_state = new State;
  if (m_state->listener.Listen()) {
    m_port = m_state->listener.Port();
    m_thread = std::thread(&ScriptedSmtpServer::Run, this);
  }
}

ScriptedSmtpServer::~ScriptedSmtpServer() {
  m_stop = true;
  if (m_thread.joinable()) m_thread.join();
  delete m_state;
}

int ScriptedSmtpServer::Connections() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_connections;
}

std::vector<std::string> ScriptedSmtpServer::Lines() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_lines;
}

void ScriptedSmtpServer::Run() {
  uint32_t started = platform::TickCount();
  auto expired = [&] {
    return m_stop || platform::TicksBetween(started, platform::TickCount()) > kLifetimeMs;
  };
  while (!expired()) {
    std::unique_ptr<platform::TcpConnection> client = m_state->listener.Accept(kPollMs);
    if (!client) continue;
    SmtpScript script;
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      script = m_scripts[std::min<size_t>(m_connections, m_scripts.size() - 1)];
      ++m_connections;
    }
    bool silent = false;
    // Sends a scripted reply, in pieces where it pauses; an empty one turns the server silent.
    auto reply = [&](const std::string& text) {
      if (text.empty()) {
        silent = true;
        return;
      }
      size_t from = 0;
      for (size_t pause; (pause = text.find(kSmtpPause, from)) != std::string::npos;) {
        client->SendAll(std::string_view(text).substr(from, pause - from), 1000);
        std::this_thread::sleep_for(std::chrono::milliseconds(script.pauseMs));
        from = pause + std::char_traits<char>::length(kSmtpPause);
      }
      client->SendAll(std::string_view(text).substr(from), 1000);
    };
    reply(script.greeting);
    std::string pending;
    bool open = true;
    while (open && !expired()) {
      char buffer[512];
      long received = client->Receive(buffer, sizeof buffer, kPollMs);
      if (received == 0) break;  // the client closed
      if (received < 0) continue;  // nothing yet
      if (silent) continue;
      pending.append(buffer, static_cast<size_t>(received));
      size_t end;
      while (open && !silent && (end = pending.find("\r\n")) != std::string::npos) {
        std::string line = pending.substr(0, end);
        pending.erase(0, end + 2);
        {
          std::lock_guard<std::mutex> lock(m_mutex);
          m_lines.push_back(line);
        }
        if (HasVerb(line, "HELO") || HasVerb(line, "EHLO")) {
          reply(script.helo);
        } else if (HasVerb(line, "MAIL")) {
          reply(script.mailFrom);
        } else if (HasVerb(line, "RCPT")) {
          uint32_t asked = platform::TickCount();
          while (!expired() && platform::TicksBetween(asked, platform::TickCount()) < script.rcptDelayMs) {
            std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
          }
          for (int i = 0; i < script.rcptRepeat && !expired(); ++i) reply(script.rcptTo);
        } else if (HasVerb(line, "QUIT")) {
          reply(script.quit);
          open = false;
        } else {
          reply(script.other);
        }
      }
    }
  }
}

}  // namespace kestrelon::testing
