#include "platform/net.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <mutex>

#include "platform/time.h"

namespace platform {
namespace {

// Milliseconds left of `timeoutMs` counted from the tick count `start`; 0 when none are.
int Remaining(uint32_t start, uint32_t timeoutMs) {
  uint32_t spent = TicksBetween(start, TickCount());
  if (spent >= timeoutMs) return 0;
  uint32_t left = timeoutMs - spent;
  return left > 0x7fffffffu ? 0x7fffffff : static_cast<int>(left);
}

}  // namespace

bool NetStartup() { return true; }

std::string HostName() {
  char name[257] = {};
  if (gethostname(name, 256) != 0) return {};
  name[256] = '\0';
  return name;
}

struct TcpConnection::Impl {
  std::mutex mutex;       // guards fd against a concurrent Abort
  int fd = -1;
  int wake[2] = {-1, -1};  // a byte in wake[0] means "aborted"
  std::atomic<bool> aborted{false};
  bool connected = false;

  Impl() {
    if (pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0) {
      wake[0] = wake[1] = -1;
    }
  }
  ~Impl() {
    if (fd >= 0) close(fd);
    if (wake[0] >= 0) close(wake[0]);
    if (wake[1] >= 0) close(wake[1]);
  }

  // Waits until the socket reports `events`, the wait runs out or the connection is aborted.
  // True only for the socket's events.
  bool Wait(short events, int timeoutMs) {
    pollfd fds[2] = {{fd, events, 0}, {wake[0], POLLIN, 0}};
    int count = wake[0] >= 0 ? 2 : 1;
    for (;;) {
      if (aborted) return false;
      int ready = poll(fds, count, timeoutMs);
      if (ready < 0 && errno == EINTR) continue;
      if (ready <= 0) return false;
      if (count == 2 && fds[1].revents != 0) return false;
      return fds[0].revents != 0;
    }
  }

  void SetSocket(int s) {
    std::lock_guard<std::mutex> lock(mutex);
    fd = s;
  }
};

TcpConnection::TcpConnection() : m_impl(std::make_unique<Impl>()) {}
TcpConnection::~TcpConnection() = default;

bool TcpConnection::Connect(const std::string& host, const std::string& service,
                            uint32_t timeoutMs) {
  Impl& s = *m_impl;
  if (s.connected || s.fd >= 0 || s.aborted) return false;
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* list = nullptr;
  if (getaddrinfo(host.c_str(), service.c_str(), &hints, &list) != 0 || list == nullptr) {
    return false;
  }
  for (addrinfo* address = list; address != nullptr && !s.connected; address = address->ai_next) {
    int fd = socket(address->ai_family, address->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                    address->ai_protocol);
    if (fd < 0) break;
    s.SetSocket(fd);
    if (s.aborted) break;
    int rc = connect(fd, address->ai_addr, address->ai_addrlen);
    if (rc == 0) {
      s.connected = true;
    } else if (errno == EINPROGRESS && s.Wait(POLLOUT, static_cast<int>(std::min<uint32_t>(timeoutMs, 0x7fffffff)))) {
      int error = 0;
      socklen_t size = sizeof error;
      s.connected = getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0;
    }
    if (!s.connected) {
      shutdown(fd, SHUT_RDWR);
      std::lock_guard<std::mutex> lock(s.mutex);
      close(fd);
      s.fd = -1;
    }
  }
  freeaddrinfo(list);
  if (s.aborted) s.connected = false;
  return s.connected;
}

bool TcpConnection::SendAll(std::string_view data, uint32_t timeoutMs) {
  Impl& s = *m_impl;
  if (!s.connected) return false;
  uint32_t start = TickCount();
  size_t sent = 0;
  while (sent < data.size()) {
    if (s.aborted) return false;
    ssize_t n = send(s.fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
    if (n > 0) {
      sent += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      int left = Remaining(start, timeoutMs);
      if (left == 0 || !s.Wait(POLLOUT, left)) return false;
      continue;
    }
    return false;
  }
  return true;
}

long TcpConnection::Receive(char* buffer, size_t capacity, uint32_t timeoutMs) {
  Impl& s = *m_impl;
  if (!s.connected || capacity == 0) return -1;
  uint32_t start = TickCount();
  for (;;) {
    if (s.aborted) return -1;
    ssize_t n = recv(s.fd, buffer, capacity, 0);
    if (n >= 0) return static_cast<long>(n);
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return -1;
    int left = Remaining(start, timeoutMs);
    if (left == 0 || !s.Wait(POLLIN, left)) return -1;
  }
}

void TcpConnection::Abort() {
  Impl& s = *m_impl;
  std::lock_guard<std::mutex> lock(s.mutex);
  s.aborted = true;
  if (s.wake[1] >= 0) {
    char byte = 1;
    ssize_t ignored = write(s.wake[1], &byte, 1);
    (void)ignored;
  }
  if (s.fd >= 0) shutdown(s.fd, SHUT_RDWR);
}

bool TcpConnection::IsConnected() const { return m_impl->connected && !m_impl->aborted; }

struct TcpListener::Impl {
  int fd = -1;
  uint16_t port = 0;
  ~Impl() {
    if (fd >= 0) close(fd);
  }
};

TcpListener::TcpListener() : m_impl(std::make_unique<Impl>()) {}
TcpListener::~TcpListener() = default;

bool TcpListener::Listen(const std::string& ipv4) {
  Impl& l = *m_impl;
  if (l.fd >= 0) return false;
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = inet_addr(ipv4.c_str());
  address.sin_port = 0;
  socklen_t size = sizeof address;
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(fd, 16) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
    close(fd);
    return false;
  }
  l.fd = fd;
  l.port = ntohs(address.sin_port);
  return true;
}

uint16_t TcpListener::Port() const { return m_impl->port; }

std::unique_ptr<TcpConnection> TcpListener::Accept(uint32_t timeoutMs) {
  Impl& l = *m_impl;
  if (l.fd < 0) return nullptr;
  pollfd pfd{l.fd, POLLIN, 0};
  int ready = poll(&pfd, 1, static_cast<int>(std::min<uint32_t>(timeoutMs, 0x7fffffff)));
  if (ready <= 0) return nullptr;
  int fd = accept4(l.fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
  if (fd < 0) return nullptr;
  auto connection = std::make_unique<TcpConnection>();
  connection->m_impl->fd = fd;
  connection->m_impl->connected = true;
  return connection;
}

}  // namespace platform
