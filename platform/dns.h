// DNS queries for the host named by a domain's MX or NS records.
//
// Windows: DnsQuery_A and DnsRecordListFree taken by name from "dnsapi". Linux: the system's
// resolver, or the server named by the environment variable KESTRELON_DNS_SERVER
// ("host:port") when it is set at the time the resolver is opened. An answer too long for a
// datagram (truncation bit set) is asked again over TCP on every path (DnsQuery_A and the
// system's resolver do so themselves); one that stays truncated is a failed query.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace platform {

enum class DnsRecordType : uint16_t { NS = 2, MX = 15 };

// What one query came to. Only NoSuchName and NoRecords are the DNS's own word that a name
// has nothing of the asked type; Failed means nothing is known (a server failure or refusal,
// no server reachable, an answer that cannot be read).
enum class DnsAnswer {
  Records,     // an answer with records; the host of the first record of the type, if any
  NoRecords,   // the name exists but has no records of the type
  NoSuchName,  // the name does not exist
  Failed
};

class DnsResolver {
 public:
  // Loads the DNS library (Windows) or reads the resolver configuration. Never fails; a
  // missing library shows in Available(). Shared, so that a worker that is still querying
  // keeps the library loaded after its caller has gone.
  static std::shared_ptr<DnsResolver> Open();

  ~DnsResolver();
  DnsResolver(const DnsResolver&) = delete;
  DnsResolver& operator=(const DnsResolver&) = delete;

  // Whether queries can be made at all (Windows: both entries of "dnsapi" were found).
  bool Available() const;

  // Queries `name` for records of `type`. With Records, `host` receives the host named by
  // the first answer record of that type (the exchanger of an MX record, the server of an NS
  // record), empty when no record of the type is among the answers. `timeoutMs` bounds the
  // wait where the system allows it (Linux). A name that fails IsDnsName is NoSuchName
  // without a query.
  DnsAnswer QueryFirstHost(const std::string& name, DnsRecordType type, uint32_t timeoutMs,
                           std::string& host) const;

  struct Impl;

 private:
  explicit DnsResolver(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> m_impl;
};

// Whether `name` can be a domain name at all: 1 to 253 characters (a final dot aside), no
// NUL, labels of 1 to 63 characters.
inline bool IsDnsName(const std::string& name) {
  std::string body = name.size() > 1 && name.back() == '.' ? name.substr(0, name.size() - 1) : name;
  if (body.empty() || body.size() > 253) return false;
  size_t label = 0;
  for (char c : body) {
    if (c == '\0') return false;
    if (c != '.') {
      if (++label > 63) return false;
    } else {
      if (label == 0) return false;
      label = 0;
    }
  }
  return label != 0;
}

// Reads a DNS response message: Records with the host of the first answer record of `type`
// (empty when none of them has the type), NoRecords for result code 0 without answers,
// NoSuchName for result code 3, Failed for any other code, a truncated or a malformed
// message. Exposed for tests and fuzzing.
DnsAnswer ParseFirstHost(const unsigned char* message, size_t length, DnsRecordType type,
                         std::string& host);

}  // namespace platform
