#include "platform/net.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <algorithm>
#include <atomic>

#include "platform/time.h"

namespace platform {
namespace {

DWORD Remaining(uint32_t start, uint32_t timeoutMs) {
  uint32_t spent = TicksBetween(start, TickCount());
  if (spent >= timeoutMs) return 0;
  return std::min<DWORD>(timeoutMs - spent, INFINITE - 1);
}

}  // namespace

bool NetStartup() {
  // Started once per process and never cleaned up: other code of the process may still hold
  // sockets, and workers that were abandoned may still be using theirs.
  static const bool started = [] {
    WSADATA data{};
    return WSAStartup(MAKEWORD(2, 0), &data) == 0;
  }();
  return started;
}

std::string HostName() {
  if (!NetStartup()) return {};
  char name[257] = {};
  if (gethostname(name, 256) != 0) return {};
  name[256] = '\0';
  return name;
}

// The socket is non-blocking through WSAEventSelect; every wait is on its network event and
// on the abort event together.
struct TcpConnection::Impl {
  CRITICAL_SECTION lock;  // guards the socket handle against a concurrent Abort
  SOCKET socket = INVALID_SOCKET;
  WSAEVENT network = WSA_INVALID_EVENT;
  HANDLE abortEvent = nullptr;
  std::atomic<bool> aborted{false};
  bool connected = false;

  Impl() {
    InitializeCriticalSection(&lock);
    abortEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  }
  ~Impl() {
    CloseSocket();
    if (abortEvent != nullptr) CloseHandle(abortEvent);
    DeleteCriticalSection(&lock);
  }

  void CloseSocket() {
    EnterCriticalSection(&lock);
    if (socket != INVALID_SOCKET) {
      shutdown(socket, SD_BOTH);
      closesocket(socket);
      socket = INVALID_SOCKET;
    }
    LeaveCriticalSection(&lock);
    if (network != WSA_INVALID_EVENT) {
      WSACloseEvent(network);
      network = WSA_INVALID_EVENT;
    }
  }

  // Waits for any network event of the socket; false on time-out, abort or failure. The
  // events that arrived are returned in `events`.
  bool Wait(DWORD timeoutMs, WSANETWORKEVENTS& events) {
    if (aborted || abortEvent == nullptr) return false;
    HANDLE handles[2] = {network, abortEvent};
    DWORD wait = WaitForMultipleObjects(2, handles, FALSE, timeoutMs);
    if (wait != WAIT_OBJECT_0 || aborted) return false;
    events = WSANETWORKEVENTS{};
    return WSAEnumNetworkEvents(socket, network, &events) == 0;
  }

  // Takes over an accepted or created socket and selects its network events.
  bool Adopt(SOCKET s) {
    network = WSACreateEvent();
    if (network == WSA_INVALID_EVENT) {
      closesocket(s);
      return false;
    }
    EnterCriticalSection(&lock);
    socket = s;
    LeaveCriticalSection(&lock);
    return WSAEventSelect(s, network, FD_CONNECT | FD_READ | FD_WRITE | FD_CLOSE) == 0;
  }
};

TcpConnection::TcpConnection() : m_impl(std::make_unique<Impl>()) {}
TcpConnection::~TcpConnection() = default;

bool TcpConnection::Connect(const std::string& host, const std::string& service,
                            uint32_t timeoutMs) {
  Impl& s = *m_impl;
  if (s.connected || s.socket != INVALID_SOCKET || s.aborted || !NetStartup()) return false;
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* list = nullptr;
  if (getaddrinfo(host.c_str(), service.c_str(), &hints, &list) != 0 || list == nullptr) {
    return false;
  }
  for (addrinfo* address = list; address != nullptr && !s.connected; address = address->ai_next) {
    SOCKET sock = WSASocketW(address->ai_family, address->ai_socktype, address->ai_protocol,
                             nullptr, 0, WSA_FLAG_OVERLAPPED);
    if (sock == INVALID_SOCKET) break;
    if (!s.Adopt(sock)) {
      s.CloseSocket();
      break;
    }
    if (s.aborted) break;
    if (connect(sock, address->ai_addr, static_cast<int>(address->ai_addrlen)) == 0) {
      s.connected = true;
    } else if (WSAGetLastError() == WSAEWOULDBLOCK) {
      uint32_t start = TickCount();
      WSANETWORKEVENTS events{};
      for (;;) {
        DWORD left = Remaining(start, timeoutMs);
        if (!s.Wait(left, events)) break;
        if (events.lNetworkEvents & FD_CONNECT) {
          s.connected = events.iErrorCode[FD_CONNECT_BIT] == 0;
          break;
        }
      }
    }
    if (!s.connected) s.CloseSocket();
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
    int chunk = static_cast<int>(std::min<size_t>(data.size() - sent, 0x10000));
    int n = send(s.socket, data.data() + sent, chunk, 0);
    if (n > 0) {
      sent += static_cast<size_t>(n);
      continue;
    }
    if (n == SOCKET_ERROR && WSAGetLastError() == WSAEWOULDBLOCK) {
      WSANETWORKEVENTS events{};
      DWORD left = Remaining(start, timeoutMs);
      if (left == 0 || !s.Wait(left, events)) return false;
      continue;
    }
    return false;
  }
  return true;
}

long TcpConnection::Receive(char* buffer, size_t capacity, uint32_t timeoutMs) {
  Impl& s = *m_impl;
  if (!s.connected || capacity == 0) return -1;
  int size = static_cast<int>(std::min<size_t>(capacity, 0x7fffffff));
  uint32_t start = TickCount();
  for (;;) {
    if (s.aborted) return -1;
    int n = recv(s.socket, buffer, size, 0);
    if (n >= 0) return n;
    if (WSAGetLastError() != WSAEWOULDBLOCK) return -1;
    WSANETWORKEVENTS events{};
    DWORD left = Remaining(start, timeoutMs);
    if (left == 0 || !s.Wait(left, events)) return -1;
  }
}

void TcpConnection::Abort() {
  Impl& s = *m_impl;
  EnterCriticalSection(&s.lock);
  s.aborted = true;
  if (s.abortEvent != nullptr) SetEvent(s.abortEvent);
  if (s.socket != INVALID_SOCKET) shutdown(s.socket, SD_BOTH);
  LeaveCriticalSection(&s.lock);
}

bool TcpConnection::IsConnected() const { return m_impl->connected && !m_impl->aborted; }

struct TcpListener::Impl {
  SOCKET socket = INVALID_SOCKET;
  WSAEVENT event = WSA_INVALID_EVENT;
  uint16_t port = 0;
  ~Impl() {
    if (socket != INVALID_SOCKET) closesocket(socket);
    if (event != WSA_INVALID_EVENT) WSACloseEvent(event);
  }
};

TcpListener::TcpListener() : m_impl(std::make_unique<Impl>()) {}
TcpListener::~TcpListener() = default;

bool TcpListener::Listen(const std::string& ipv4) {
  Impl& l = *m_impl;
  if (l.socket != INVALID_SOCKET || !NetStartup()) return false;
  SOCKET s = WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_OVERLAPPED);
  if (s == INVALID_SOCKET) return false;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = inet_addr(ipv4.c_str());
  int size = sizeof address;
  l.event = WSACreateEvent();
  if (l.event == WSA_INVALID_EVENT ||
      bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(s, 16) != 0 ||
      getsockname(s, reinterpret_cast<sockaddr*>(&address), &size) != 0 ||
      WSAEventSelect(s, l.event, FD_ACCEPT) != 0) {
    closesocket(s);
    return false;
  }
  l.socket = s;
  l.port = ntohs(address.sin_port);
  return true;
}

uint16_t TcpListener::Port() const { return m_impl->port; }

std::unique_ptr<TcpConnection> TcpListener::Accept(uint32_t timeoutMs) {
  Impl& l = *m_impl;
  if (l.socket == INVALID_SOCKET) return nullptr;
  uint32_t start = TickCount();
  for (;;) {
    SOCKET s = accept(l.socket, nullptr, nullptr);
    if (s != INVALID_SOCKET) {
      auto connection = std::make_unique<TcpConnection>();
      // An accepted socket inherits the listener's event selection; Adopt replaces it.
      WSAEventSelect(s, nullptr, 0);
      if (!connection->m_impl->Adopt(s)) return nullptr;
      connection->m_impl->connected = true;
      return connection;
    }
    if (WSAGetLastError() != WSAEWOULDBLOCK) return nullptr;
    DWORD left = Remaining(start, timeoutMs);
    if (left == 0 || WSAWaitForMultipleEvents(1, &l.event, FALSE, left, FALSE) != WSA_WAIT_EVENT_0) {
      return nullptr;
    }
    WSAResetEvent(l.event);
  }
}

}  // namespace platform
