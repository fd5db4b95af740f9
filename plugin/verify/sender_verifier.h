// Sender verification: the mail exchanger of a sender's domain, asked over SMTP whether the
// sender's mailbox exists.
//
// Every operation is called on one thread (the mail client's user-interface thread). Each
// blocking network step runs on a worker that this thread waits for at most the SMTP time-out;
// a worker given up on never writes this object's state or caches afterwards.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>

#include "platform/dns.h"

namespace kestrelon {

class SmtpSession;

struct MailExchangerInfo {
  bool found = false;     // the domain is known to the DNS, or the lookup timed out
  std::string domain;     // the domain looked up
  std::string exchanger;  // host to probe; empty when there is none or it is not to be probed
};

// A DNS query as the verifier needs it: what the DNS said, and with Records `host` the first
// record's host (platform::DnsResolver::QueryFirstHost).
using DnsQueryFunction = std::function<platform::DnsAnswer(
    const std::string& name, platform::DnsRecordType type, uint32_t timeoutMs, std::string& host)>;

struct SenderVerifierOptions {
  // The SMTP service (port) of every connection.
  std::string smtpService = "25";
  // Replaces the system's DNS (through platform::DnsResolver) when set. It runs on worker
  // threads and may outlive the verifier, so it must own what it uses.
  DnsQueryFunction dnsQuery;
};

// The fixed domain whose mail exchanger the availability test connects to, and the sender
// given in MAIL FROM. KESTRELON_MAKER_DOMAIN replaces the domain of both.
inline constexpr std::string_view kMakerDomain = "kestrelon.com";
inline constexpr std::string_view kMailFromLocalPart = "verify";

// Connect time-out of the availability test, which also bounds its greeting and HELO reply.
inline constexpr uint32_t kAvailabilityTimeoutMs = 1000;
// How much longer than the wait a worker's own time-outs run: the DNS queries of a lookup and
// the replies of a probe. A server that stays silent then always shows as a wait that ran
// out, never as a failure racing the wait; a worker given up on still ends soon after (a
// probe's at once, its connection being closed).
inline constexpr uint32_t kWorkerGraceMs = 1000;

class SenderVerifier {
 public:
  // `smtpTimeoutMs` is the settings' SMTP time-out in milliseconds (0: verification off); the
  // availability test sets it to 0 when SMTP cannot be used from this machine.
  explicit SenderVerifier(uint32_t& smtpTimeoutMs, SenderVerifierOptions options = {});
  ~SenderVerifier();
  SenderVerifier(const SenderVerifier&) = delete;
  SenderVerifier& operator=(const SenderVerifier&) = delete;

  // The mail exchanger of `domain` (lower case), from the cache or the DNS. Not found only
  // when the DNS says the domain does not exist or has neither exchanger nor name servers;
  // a query that fails or runs out of time leaves the domain found, without an exchanger.
  MailExchangerInfo LookupMailExchanger(const std::string& domain);

  // False only when the sender address is judged not to exist. Lower-cases the address in
  // place (the domain first, then the whole address). Never raises. A null address exists.
  bool VerifySender(char* address);
  bool VerifySender(std::string& address);

  // Tests once whether SMTP servers can be reached from here; the stored result afterwards.
  bool IsSmtpAvailable();

  // The SMTP check of `address` against `info`'s exchanger, remembered per address.
  bool ProbeMailbox(const std::string& address, const MailExchangerInfo& info);

  // The verifier's own connection (used by the availability test on the calling thread).
  bool SmtpConnect(const std::string& host, uint32_t connectTimeoutMs);
  bool SmtpCommand(std::string_view command, std::string_view expectedCode, bool checkRejectWords);
  void SmtpClose();

  const std::string& MakerDomain() const { return m_makerDomain; }
  const std::string& MailFromAddress() const { return m_mailFrom; }

 private:
  using ExchangerCache = std::unordered_map<std::string, MailExchangerInfo>;
  using VerdictCache = std::unordered_map<std::string, bool>;

  std::shared_ptr<SmtpSession> m_session;  // the one open connection, if any
  std::shared_ptr<platform::DnsResolver> m_resolver;
  DnsQueryFunction m_dnsQuery;
  bool m_dnsAvailable = false;
  ExchangerCache m_exchangers;
  VerdictCache m_verdicts;
  uint32_t& m_timeoutMs;
  std::string m_service;
  std::string m_makerDomain;
  std::string m_mailFrom;
  bool m_availabilityTested = false;
  bool m_available = false;
};

}  // namespace kestrelon
