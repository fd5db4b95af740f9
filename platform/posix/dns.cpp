#include "platform/dns.h"

#include <arpa/inet.h>
#include <arpa/nameser.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <resolv.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/net.h"
#include "platform/time.h"

namespace platform {

struct DnsResolver::Impl {
  // The server of KESTRELON_DNS_SERVER; unset (length 0) means the system's resolver.
  sockaddr_storage server{};
  socklen_t serverLength = 0;
  std::string serverHost, serverPort;  // the same, as text, for queries over TCP
  // KESTRELON_DNS_SERVER was set but names no usable address: every query fails rather
  // than going to a server nobody asked for.
  bool badServer = false;
};

namespace {

constexpr size_t kAnswerSize = 65536;

// Splits "host:port" (an IPv6 host in brackets) into a socket address.
bool ParseServer(const char* text, sockaddr_storage& out, socklen_t& length, std::string& hostText,
                 std::string& portText) {
  std::string value = text;
  size_t colon = value.rfind(':');
  if (colon == std::string::npos || colon == 0 || colon + 1 == value.size()) return false;
  std::string host = value.substr(0, colon);
  std::string port = value.substr(colon + 1);
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
    host = host.substr(1, host.size() - 2);
  }
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_DGRAM;
  hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
  addrinfo* list = nullptr;
  if (getaddrinfo(host.c_str(), port.c_str(), &hints, &list) != 0 || list == nullptr) return false;
  std::memcpy(&out, list->ai_addr, list->ai_addrlen);
  length = list->ai_addrlen;
  freeaddrinfo(list);
  hostText = host;
  portText = port;
  return true;
}

bool IsTruncated(const unsigned char* message, size_t length) {
  return length >= HFIXEDSZ && (message[2] & 0x02) != 0;
}

// Sends `query` over TCP (each message after its two-byte length) and reads the response,
// all within `timeoutMs`. The response length, or -1.
int ExchangeTcp(const std::string& host, const std::string& port, const unsigned char* query,
                int queryLength, unsigned char* answer, int answerSize, uint32_t timeoutMs) {
  uint32_t start = TickCount();
  auto left = [&] {
    uint32_t spent = TicksBetween(start, TickCount());
    return spent >= timeoutMs ? 0u : timeoutMs - spent;
  };
  TcpConnection connection;
  if (!connection.Connect(host, port, timeoutMs)) return -1;
  std::string message;
  message.push_back(static_cast<char>(queryLength >> 8));
  message.push_back(static_cast<char>(queryLength & 0xff));
  message.append(reinterpret_cast<const char*>(query), static_cast<size_t>(queryLength));
  if (left() == 0 || !connection.SendAll(message, left())) return -1;
  std::vector<unsigned char> received;
  size_t wanted = 2;
  while (received.size() < wanted) {
    unsigned char buffer[4096];
    long n = left() == 0 ? -1 : connection.Receive(reinterpret_cast<char*>(buffer), sizeof buffer, left());
    if (n <= 0) return -1;
    received.insert(received.end(), buffer, buffer + n);
    if (received.size() >= 2) wanted = 2 + (size_t{received[0]} << 8 | received[1]);
  }
  size_t length = wanted - 2;
  if (length < HFIXEDSZ || length > static_cast<size_t>(answerSize) || received[2] != query[0] ||
      received[3] != query[1]) {
    return -1;
  }
  std::memcpy(answer, received.data() + 2, length);
  return static_cast<int>(length);
}

// Sends `query` over UDP to `server` and waits at most `timeoutMs` for the response with the
// same id. The response length, or -1.
int ExchangeUdp(const sockaddr_storage& server, socklen_t serverLength, const unsigned char* query,
                int queryLength, unsigned char* answer, int answerSize, uint32_t timeoutMs) {
  int fd = socket(server.ss_family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  int result = -1;
  if (connect(fd, reinterpret_cast<const sockaddr*>(&server), serverLength) == 0 &&
      send(fd, query, static_cast<size_t>(queryLength), 0) == queryLength) {
    uint32_t start = TickCount();
    for (;;) {
      uint32_t spent = TicksBetween(start, TickCount());
      if (spent >= timeoutMs) break;
      pollfd pfd{fd, POLLIN, 0};
      int ready = poll(&pfd, 1, static_cast<int>(std::min<uint32_t>(timeoutMs - spent, 0x7fffffff)));
      if (ready < 0 && errno == EINTR) continue;
      if (ready <= 0) break;
      ssize_t n = recv(fd, answer, static_cast<size_t>(answerSize), 0);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) break;
      // A stray datagram that is no response to this query is skipped.
      if (n >= HFIXEDSZ && answer[0] == query[0] && answer[1] == query[1] && (answer[2] & 0x80)) {
        result = static_cast<int>(n);
        break;
      }
    }
  }
  close(fd);
  return result;
}

}  // namespace

DnsAnswer ParseFirstHost(const unsigned char* message, size_t length, DnsRecordType type,
                         std::string& host) {
  host.clear();
  if (message == nullptr || length < HFIXEDSZ || length > 0xffff) return DnsAnswer::Failed;
  // A truncated answer may lack the very records asked for: it proves nothing.
  if (IsTruncated(message, length)) return DnsAnswer::Failed;
  ns_msg parsed;
  if (ns_initparse(message, static_cast<int>(length), &parsed) != 0) return DnsAnswer::Failed;
  int rcode = ns_msg_getflag(parsed, ns_f_rcode);
  if (rcode == ns_r_nxdomain) return DnsAnswer::NoSuchName;
  if (rcode != ns_r_noerror) return DnsAnswer::Failed;
  int count = ns_msg_count(parsed, ns_s_an);
  if (count == 0) return DnsAnswer::NoRecords;
  for (int i = 0; i < count; ++i) {
    ns_rr record;
    if (ns_parserr(&parsed, ns_s_an, i, &record) != 0) return DnsAnswer::Failed;
    if (ns_rr_type(record) != static_cast<int>(type)) continue;
    const unsigned char* data = ns_rr_rdata(record);
    size_t dataLength = ns_rr_rdlen(record);
    if (type == DnsRecordType::MX) {
      // Preference, then the exchanger's name.
      if (dataLength < 3) return DnsAnswer::Records;
      data += 2;
    } else if (dataLength < 1) {
      return DnsAnswer::Records;
    }
    char name[NS_MAXDNAME];
    if (dn_expand(ns_msg_base(parsed), ns_msg_end(parsed), data, name, sizeof name) < 0) {
      return DnsAnswer::Records;
    }
    host = name;
    return DnsAnswer::Records;
  }
  return DnsAnswer::Records;
}

DnsResolver::DnsResolver(std::unique_ptr<Impl> impl) : m_impl(std::move(impl)) {}
DnsResolver::~DnsResolver() = default;

std::shared_ptr<DnsResolver> DnsResolver::Open() {
  auto impl = std::make_unique<Impl>();
  const char* server = std::getenv("KESTRELON_DNS_SERVER");
  if (server != nullptr && *server != '\0' &&
      !ParseServer(server, impl->server, impl->serverLength, impl->serverHost, impl->serverPort)) {
    impl->serverLength = 0;
    impl->badServer = true;
  }
  return std::shared_ptr<DnsResolver>(new DnsResolver(std::move(impl)));
}

bool DnsResolver::Available() const { return true; }

DnsAnswer DnsResolver::QueryFirstHost(const std::string& name, DnsRecordType type, uint32_t timeoutMs,
                                      std::string& host) const {
  host.clear();
  if (!IsDnsName(name)) return DnsAnswer::NoSuchName;
  if (m_impl->badServer) return DnsAnswer::Failed;
  struct __res_state state;
  std::memset(&state, 0, sizeof state);
  if (res_ninit(&state) != 0) return DnsAnswer::Failed;
  std::vector<unsigned char> answer(kAnswerSize);
  int length = -1;
  DnsAnswer failure = DnsAnswer::Failed;
  if (m_impl->serverLength != 0) {
    unsigned char query[NS_PACKETSZ];
    int queryLength = res_nmkquery(&state, ns_o_query, name.c_str(), ns_c_in,
                                   static_cast<int>(type), nullptr, 0, nullptr, query,
                                   sizeof query);
    if (queryLength > 0) {
      uint32_t start = TickCount();
      length = ExchangeUdp(m_impl->server, m_impl->serverLength, query, queryLength,
                           answer.data(), static_cast<int>(answer.size()), timeoutMs);
      // Too long for a datagram: asked again over TCP, as the system's resolver does.
      uint32_t spent = TicksBetween(start, TickCount());
      if (length > 0 && IsTruncated(answer.data(), static_cast<size_t>(length)) && spent < timeoutMs) {
        length = ExchangeTcp(m_impl->serverHost, m_impl->serverPort, query, queryLength,
                             answer.data(), static_cast<int>(answer.size()), timeoutMs - spent);
      }
    }
  } else {
    // Bound the resolver's own waiting by the caller's time-out: one try per server.
    state.retrans = static_cast<int>(std::clamp<uint32_t>((timeoutMs + 999) / 1000, 1, 30));
    state.retry = 1;
    length = res_nquery(&state, name.c_str(), ns_c_in, static_cast<int>(type), answer.data(),
                        static_cast<int>(answer.size()));
    // The resolver keeps the answers that say "nothing here" to itself.
    if (length < 0 && state.res_h_errno == HOST_NOT_FOUND) failure = DnsAnswer::NoSuchName;
    if (length < 0 && state.res_h_errno == NO_DATA) failure = DnsAnswer::NoRecords;
  }
  res_nclose(&state);
  if (length <= 0) return failure;
  return ParseFirstHost(answer.data(), static_cast<size_t>(length), type, host);
}

}  // namespace platform
