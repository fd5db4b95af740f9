// DNS queries for the host named by a domain's MX or NS records.
//
// Windows: DnsQuery_A and DnsRecordListFree taken by name from "dnsapi". Linux: the system's
// resolver, or the server named by the environment variable KESTRELON_DNS_SERVER
// ("host:port") when it is set at the time the resolver is opened.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace platform {

enum class DnsRecordType : uint16_t { NS = 2, MX = 15 };

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

  // Queries `name` for records of `type`. True when the query succeeded with at least one
  // answer; `host` then receives the host named by the first answer record of that type (the
  // exchanger of an MX record, the server of an NS record), empty when no record of the type
  // is among the answers. `timeoutMs` bounds the wait where the system allows it (Linux).
  bool QueryFirstHost(const std::string& name, DnsRecordType type, uint32_t timeoutMs,
                      std::string& host) const;

  struct Impl;

 private:
  explicit DnsResolver(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> m_impl;
};

// Extracts the host of the first answer record of `type` from a DNS response message. True
// when the message is a well-formed answer with result code 0 and at least one answer record
// (`host` empty when none of them has the type). Exposed for tests and fuzzing.
bool ParseFirstHost(const unsigned char* message, size_t length, DnsRecordType type,
                    std::string& host);

}  // namespace platform
