#include "Lexisift/engine/test_support/scripted_http_server.h"

#include "platform/time.h"
#include "plugin/verify/test_servers/test_env.h"

#include <algorithm>
#include <string_view>

namespace kestrelon::testing {

namespace {
constexpr uint32_t kPollMs = 20;
constexpr uint32_t kLifetimeMs = 60000;
}  // namespace

ScriptedHttpServer::ScriptedHttpServer(HttpAnswer answer, std::string address)
    : answer_(std::move(answer)), address_(std::move(address)) {
  if (address_ == "127.0.0.1") SetEnv("KESTRELON_LINK_SCAN_LOOPBACK", "1");
  platform::NetStartup();
  if (listener_.Listen(address_)) {
    port_ = listener_.Port();
    thread_ = std::thread(&ScriptedHttpServer::Run, this);
  }
}

ScriptedHttpServer::~ScriptedHttpServer() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
}

std::string ScriptedHttpServer::Url(const std::string& path) const {
  return "http://" + address_ + ":" + std::to_string(port_) + path;
}

int ScriptedHttpServer::Requests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<int>(lines_.size());
}

std::vector<std::string> ScriptedHttpServer::RequestLines() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return lines_;
}

void ScriptedHttpServer::Run() {
  uint32_t started = platform::TickCount();
  while (!stop_ && platform::TicksBetween(started, platform::TickCount()) < kLifetimeMs) {
    std::unique_ptr<platform::TcpConnection> connection = listener_.Accept(kPollMs);
    if (connection) Serve(*connection);
  }
}

void ScriptedHttpServer::Serve(platform::TcpConnection& connection) {
  std::string request;
  char buffer[2048];
  while (request.find("\r\n\r\n") == std::string::npos && request.size() < 65536 && !stop_) {
    long got = connection.Receive(buffer, sizeof buffer, 2000);
    if (got <= 0) return;
    request.append(buffer, static_cast<size_t>(got));
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    lines_.push_back(request.substr(0, request.find("\r\n")));
  }
  for (uint32_t waited = 0; waited < answer_.delayMs && !stop_; waited += kPollMs)
    std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
  if (stop_) return;
  std::string reply = "HTTP/1.0 " + std::to_string(answer_.status) + " Scripted\r\n";
  if (!answer_.contentType.empty()) reply += "Content-Type: " + answer_.contentType + "\r\n";
  if (!answer_.location.empty()) reply += "Location: " + answer_.location + "\r\n";
  reply += "Content-Length: " + std::to_string(answer_.body.size()) + "\r\nConnection: close\r\n\r\n";
  // The first piece goes with the headers, each later one after the gap.
  size_t pieces = static_cast<size_t>(answer_.bodyPieces > 1 ? answer_.bodyPieces : 1);
  size_t pieceSize = std::max<size_t>(1, (answer_.body.size() + pieces - 1) / pieces);
  reply += answer_.body.substr(0, pieceSize);
  if (!connection.SendAll(reply, 5000)) return;
  for (size_t at = pieceSize; at < answer_.body.size() && !stop_; at += pieceSize) {
    for (uint32_t waited = 0; waited < answer_.pieceGapMs && !stop_; waited += kPollMs)
      std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
    if (!connection.SendAll(std::string_view(answer_.body).substr(at, pieceSize), 5000)) return;
  }
}

}  // namespace kestrelon::testing
