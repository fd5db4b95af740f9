#include "plugin/verify/test_servers/scripted_dns_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>

#include "platform/time.h"

namespace kestrelon::testing {
namespace {

constexpr uint16_t kTypeNs = 2;
constexpr uint16_t kTypeCname = 5;
constexpr uint16_t kTypeMx = 15;
constexpr uint32_t kLifetimeMs = 60000;

void Put16(std::vector<unsigned char>& out, uint16_t value) {
  out.push_back(static_cast<unsigned char>(value >> 8));
  out.push_back(static_cast<unsigned char>(value & 0xff));
}

std::vector<unsigned char> EncodeName(const std::string& name) {
  std::vector<unsigned char> out;
  size_t start = 0;
  while (start < name.size()) {
    size_t dot = name.find('.', start);
    if (dot == std::string::npos) dot = name.size();
    out.push_back(static_cast<unsigned char>(dot - start));
    out.insert(out.end(), name.begin() + static_cast<long>(start), name.begin() + static_cast<long>(dot));
    start = dot + 1;
  }
  out.push_back(0);
  return out;
}

// One answer record whose owner is the question's name (a pointer to offset 12).
void PutRecord(std::vector<unsigned char>& out, uint16_t type, const std::vector<unsigned char>& data) {
  Put16(out, 0xC00C);
  Put16(out, type);
  Put16(out, 1);  // class IN
  Put16(out, 0);
  Put16(out, 300);  // TTL
  Put16(out, static_cast<uint16_t>(data.size()));
  out.insert(out.end(), data.begin(), data.end());
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

}  // namespace

ScriptedDnsServer::ScriptedDnsServer(DnsZone zone) : m_zone(std::move(zone)) {
  // A port that is free for both protocols.
  for (int attempt = 0; attempt < 20 && m_port == 0; ++attempt) {
    int udp = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    int tcp = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    bool bound = udp >= 0 && tcp >= 0 &&
                 bind(udp, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                 getsockname(udp, reinterpret_cast<sockaddr*>(&address), &size) == 0 &&
                 bind(tcp, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 && listen(tcp, 8) == 0;
    if (!bound) {
      if (udp >= 0) close(udp);
      if (tcp >= 0) close(tcp);
      continue;
    }
    m_fd = udp;
    m_tcpFd = tcp;
    m_port = ntohs(address.sin_port);
  }
  if (m_port == 0) return;
  if (!m_zone.answerTcp) {
    close(m_tcpFd);
    m_tcpFd = -1;
  }
  m_thread = std::thread(&ScriptedDnsServer::Run, this);
}

ScriptedDnsServer::~ScriptedDnsServer() {
  m_stop = true;
  if (m_thread.joinable()) m_thread.join();
  if (m_fd >= 0) close(m_fd);
  if (m_tcpFd >= 0) close(m_tcpFd);
}

std::string ScriptedDnsServer::Address() const { return "127.0.0.1:" + std::to_string(m_port); }

std::vector<DnsQueryRecord> ScriptedDnsServer::Queries() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_queries;
}

size_t ScriptedDnsServer::QueryCount(const std::string& name, uint16_t type) const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return static_cast<size_t>(std::count_if(m_queries.begin(), m_queries.end(), [&](const DnsQueryRecord& q) {
    return q.name == name && q.type == type;
  }));
}

void ScriptedDnsServer::Run() {
  uint32_t started = platform::TickCount();
  while (!m_stop && platform::TicksBetween(started, platform::TickCount()) < kLifetimeMs) {
    pollfd fds[2] = {{m_fd, POLLIN, 0}, {m_tcpFd, POLLIN, 0}};
    if (poll(fds, m_tcpFd >= 0 ? 2 : 1, 20) <= 0) continue;
    if (m_tcpFd >= 0 && fds[1].revents != 0) ServeTcp();
    if (fds[0].revents == 0) continue;
    unsigned char query[512];
    sockaddr_storage from{};
    socklen_t fromLength = sizeof from;
    ssize_t n = recvfrom(m_fd, query, sizeof query, 0, reinterpret_cast<sockaddr*>(&from), &fromLength);
    if (n <= 0) continue;
    std::vector<unsigned char> answer = Answer(query, static_cast<size_t>(n), false);
    if (!answer.empty()) {
      sendto(m_fd, answer.data(), answer.size(), 0, reinterpret_cast<sockaddr*>(&from), fromLength);
    }
  }
}

// One query over TCP: its two-byte length, the message; the answer likewise.
void ScriptedDnsServer::ServeTcp() {
  int fd = accept4(m_tcpFd, nullptr, nullptr, SOCK_CLOEXEC);
  if (fd < 0) return;
  std::vector<unsigned char> query;
  size_t wanted = 2;
  while (query.size() < wanted) {
    pollfd pfd{fd, POLLIN, 0};
    unsigned char buffer[512];
    if (poll(&pfd, 1, 1000) <= 0) break;
    ssize_t n = recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) break;
    query.insert(query.end(), buffer, buffer + n);
    if (query.size() >= 2) wanted = 2 + (size_t{query[0]} << 8 | query[1]);
  }
  if (query.size() >= wanted && wanted > 2) {
    std::vector<unsigned char> answer = Answer(query.data() + 2, wanted - 2, true);
    if (!answer.empty()) {
      std::vector<unsigned char> out;
      Put16(out, static_cast<uint16_t>(answer.size()));
      out.insert(out.end(), answer.begin(), answer.end());
      send(fd, out.data(), out.size(), MSG_NOSIGNAL);
    }
  }
  close(fd);
}

std::vector<unsigned char> ScriptedDnsServer::Answer(const unsigned char* query, size_t length, bool tcp) {
  if (length < 12) return {};
  // The question: labels, then type and class.
  std::string name;
  size_t pos = 12;
  while (pos < length && query[pos] != 0) {
    size_t label = query[pos];
    if (label > 63 || pos + 1 + label > length) return {};
    if (!name.empty()) name += '.';
    name.append(reinterpret_cast<const char*>(query + pos + 1), label);
    pos += 1 + label;
  }
  if (pos + 5 > length) return {};
  uint16_t type = static_cast<uint16_t>(query[pos + 1] << 8 | query[pos + 2]);
  size_t questionEnd = pos + 5;
  name = Lower(name);
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_queries.push_back({name, type, tcp});
  }
  if (m_zone.silent.count(name)) return {};

  std::vector<std::vector<unsigned char>> records;  // type, data pairs flattened below
  std::vector<uint16_t> types;
  auto mx = m_zone.mx.find(name);
  auto ns = m_zone.ns.find(name);
  bool known = mx != m_zone.mx.end() || ns != m_zone.ns.end();
  if (type == kTypeMx && mx != m_zone.mx.end()) {
    if (m_zone.aliasFirst.count(name)) {
      types.push_back(kTypeCname);
      records.push_back(EncodeName("alias." + name));
    }
    uint16_t preference = 10;
    for (const std::string& exchanger : mx->second) {
      std::vector<unsigned char> data;
      Put16(data, preference);
      preference = static_cast<uint16_t>(preference - 5 > 0 ? preference - 5 : 1);
      std::vector<unsigned char> encoded = EncodeName(exchanger);
      data.insert(data.end(), encoded.begin(), encoded.end());
      types.push_back(kTypeMx);
      records.push_back(data);
    }
  } else if (type == kTypeNs && ns != m_zone.ns.end()) {
    for (const std::string& server : ns->second) {
      types.push_back(kTypeNs);
      records.push_back(EncodeName(server));
    }
  }

  auto failing = m_zone.failing.find(name);
  if (failing != m_zone.failing.end()) records.clear();
  uint16_t rcode = failing != m_zone.failing.end() ? failing->second : known ? 0 : 3;  // NXDOMAIN when unknown
  bool cut = !tcp && m_zone.truncated.count(name) > 0;
  if (cut) records.clear();

  std::vector<unsigned char> out(query, query + 2);  // id
  uint16_t flags = 0x8180 | rcode | (cut ? 0x0200 : 0);  // response, recursion available
  Put16(out, flags);
  Put16(out, 1);
  Put16(out, static_cast<uint16_t>(records.size()));
  Put16(out, 0);
  Put16(out, 0);
  out.insert(out.end(), query + 12, query + questionEnd);
  for (size_t i = 0; i < records.size(); ++i) PutRecord(out, types[i], records[i]);
  return out;
}

}  // namespace kestrelon::testing
