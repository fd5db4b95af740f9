// TCP connections with time-outs (Windows Sockets 2 / BSD sockets) and the host name.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace platform {

// Starts the socket library once per process (WSAStartup 2.0 on Windows). False on failure.
bool NetStartup();

// The local host name as the system's gethostname gives it (at most 256 bytes); empty on
// failure.
std::string HostName();

// One TCP connection. Every wait is bounded by a time-out, and Abort, which any thread may
// call at any time, makes every pending and later operation fail at once. The socket itself
// is closed when the object is destroyed, so a thread that still uses the object never meets
// a socket number that was closed and handed out again.
class TcpConnection {
 public:
  TcpConnection();
  ~TcpConnection();
  TcpConnection(const TcpConnection&) = delete;
  TcpConnection& operator=(const TcpConnection&) = delete;

  // Resolves `host` and `service` (any address family, stream sockets) and tries the
  // addresses in the order returned, each for at most `timeoutMs`. False when none connects,
  // when the object is already connected or aborted, or when a socket cannot be created.
  bool Connect(const std::string& host, const std::string& service, uint32_t timeoutMs);

  // Sends all of `data`, repeating partial sends, waiting at most `timeoutMs` in all.
  bool SendAll(std::string_view data, uint32_t timeoutMs);

  // One receive of at most `capacity` bytes, waiting at most `timeoutMs` for data. Returns
  // the number of bytes received, 0 when the peer closed the connection, -1 on failure,
  // time-out or abort.
  long Receive(char* buffer, size_t capacity, uint32_t timeoutMs);

  // Shuts the connection down in both directions and wakes every wait. Thread-safe.
  void Abort();

  bool IsConnected() const;

  struct Impl;

 private:
  friend class TcpListener;
  std::unique_ptr<Impl> m_impl;
};

// A listening socket on a loopback address with a port the system picks; for servers run by
// tests.
class TcpListener {
 public:
  TcpListener();
  ~TcpListener();
  TcpListener(const TcpListener&) = delete;
  TcpListener& operator=(const TcpListener&) = delete;

  // Binds to `ipv4` (dotted) and listens; false on failure.
  bool Listen(const std::string& ipv4 = "127.0.0.1");
  uint16_t Port() const;

  // Waits at most `timeoutMs` for a connection; null on time-out or failure.
  std::unique_ptr<TcpConnection> Accept(uint32_t timeoutMs);

  struct Impl;

 private:
  std::unique_ptr<Impl> m_impl;
};

}  // namespace platform
