// A scripted HTTP server on a loopback address for tests: every request gets the same answer,
// optionally after a delay and with its body trickling in; it records the request lines and
// stops by itself when destroyed (or after a minute). Creating one on 127.0.0.1 lets the link
// scan reach that address (KESTRELON_LINK_SCAN_LOOPBACK=1, read when a scanner first fetches).
#pragma once

#include "platform/net.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace kestrelon::testing {

struct HttpAnswer {
  int status = 200;
  std::string contentType = "text/html";  // empty: no Content-Type header
  std::string body;
  uint32_t delayMs = 0;  // before the answer is sent
  int bodyPieces = 1;    // the body is sent in this many pieces after the headers,
  uint32_t pieceGapMs = 0;  // this long apart
  std::string location{};   // a Location header, when not empty
};

class ScriptedHttpServer {
 public:
  explicit ScriptedHttpServer(HttpAnswer answer, std::string address = "127.0.0.1");
  ~ScriptedHttpServer();

  // "http://<address>:<port>" followed by `path`.
  std::string Url(const std::string& path = "/") const;
  uint16_t Port() const { return port_; }
  int Requests() const;
  std::vector<std::string> RequestLines() const;

 private:
  void Run();
  void Serve(platform::TcpConnection& connection);

  HttpAnswer answer_;
  std::string address_;
  platform::TcpListener listener_;
  uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  mutable std::mutex mutex_;
  std::vector<std::string> lines_;
  std::thread thread_;
};

}  // namespace kestrelon::testing
