// A scripted DNS responder on 127.0.0.1 (UDP, and TCP on the same port) for tests on Linux:
// it answers MX and NS queries from a small zone, says NXDOMAIN for names it does not know,
// stays silent for the names it is told to, fails others with a given result code, cuts the
// datagram answers of others short, records every query, and stops by itself when destroyed.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace kestrelon::testing {

struct DnsZone {
  std::map<std::string, std::vector<std::string>> mx;  // name -> exchangers, in answer order
  std::map<std::string, std::vector<std::string>> ns;  // name -> name servers
  std::set<std::string> aliasFirst;  // MX answers of these names begin with a CNAME record
  std::set<std::string> silent;      // queries for these names get no answer
  std::map<std::string, uint8_t> failing;  // these names get this result code (2, 5, ...)
  std::set<std::string> truncated;  // UDP answers of these: the truncation bit, no records
  bool answerTcp = true;            // whether queries over TCP are taken at all
};

struct DnsQueryRecord {
  std::string name;
  uint16_t type = 0;
  bool tcp = false;
};

class ScriptedDnsServer {
 public:
  explicit ScriptedDnsServer(DnsZone zone);
  ~ScriptedDnsServer();

  bool Listening() const { return m_port != 0; }
  // "127.0.0.1:port", the value for KESTRELON_DNS_SERVER.
  std::string Address() const;
  std::vector<DnsQueryRecord> Queries() const;
  size_t QueryCount(const std::string& name, uint16_t type) const;

 private:
  void Run();
  void ServeTcp();
  std::vector<unsigned char> Answer(const unsigned char* query, size_t length, bool tcp);

  DnsZone m_zone;
  int m_fd = -1;
  int m_tcpFd = -1;
  uint16_t m_port = 0;
  std::atomic<bool> m_stop{false};
  mutable std::mutex m_mutex;
  std::vector<DnsQueryRecord> m_queries;
  std::thread m_thread;
};

}  // namespace kestrelon::testing
