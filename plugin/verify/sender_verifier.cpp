#include "plugin/verify/sender_verifier.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "platform/online.h"
#include "platform/time.h"
#include "platform/worker.h"
#include "plugin/verify/smtp_session.h"
#include "shared/ascii_text.h"

namespace kestrelon {
namespace {

// Lower case in the ANSI code page (Windows-1252).
char LowerAnsi(char c) {
  auto u = static_cast<unsigned char>(c);
  if (u >= 'A' && u <= 'Z') return static_cast<char>(u + 32);
  if (u >= 0xC0 && u <= 0xDE && u != 0xD7) return static_cast<char>(u + 32);
  switch (u) {
    case 0x8A: return static_cast<char>(0x9A);
    case 0x8C: return static_cast<char>(0x9C);
    case 0x8E: return static_cast<char>(0x9E);
    case 0x9F: return static_cast<char>(0xFF);
    default: return c;
  }
}

void LowerInPlace(std::string& text, size_t from) {
  for (size_t i = from; i < text.size(); ++i) text[i] = LowerAnsi(text[i]);
}

bool HasControlCharacter(std::string_view text) {
  return std::any_of(text.begin(), text.end(), IsAsciiControl);
}

void PrepareTable(auto& table) {
  table.max_load_factor(0.75f);
  table.rehash(17);
}

// What a probe worker hands back.
struct ProbeResult {
  bool exists = true;
  bool exchangerUnusable = false;  // connect, greeting, HELO or MAIL FROM failed
};

// The SMTP dialogue of one probe, on a worker. It uses only its arguments and the session it
// shares with the waiting thread, which may abandon the session at any time.
ProbeResult RunProbe(SmtpSession& session, const std::string& host, const std::string& address,
                     const std::string& mailFrom, uint32_t timeoutMs) {
  ProbeResult result;
  if (!session.Connect(host, timeoutMs, timeoutMs + kWorkerGraceMs)) {
    result.exchangerUnusable = true;
    return result;
  }
  std::string command;
  if (!FormatSmtpCommand("MAIL FROM:<", mailFrom, ">\r\n", command) ||
      !session.Command(command, "250", false)) {
    session.Close();
    result.exchangerUnusable = true;
    return result;
  }
  constexpr std::string_view kRcpt = "RCPT TO:<";
  constexpr std::string_view kRcptEnd = ">\r\n";
  bool asked = false;
  if (kRcpt.size() + address.size() + kRcptEnd.size() > kSmtpMaxCommand) {
    // Too long to be asked: no mail system takes such an address.
    result.exists = false;
  } else if (FormatSmtpCommand(kRcpt, address, kRcptEnd, command)) {
    result.exists = session.Command(command, "550", true);
    asked = true;
  }
  // A refusal counts only when the dialogue was in step to its end: QUIT answered as QUIT is
  // answered. Otherwise the "550" may have been a reply to something else.
  bool closedInStep = session.Command("QUIT\r\n", "221", false);
  if (asked && !closedInStep) result.exists = true;
  session.Close();
  return result;
}

}  // namespace

SenderVerifier::SenderVerifier(uint32_t& smtpTimeoutMs, SenderVerifierOptions options)
    : m_timeoutMs(smtpTimeoutMs), m_service(std::move(options.smtpService)) {
  PrepareTable(m_exchangers);
  PrepareTable(m_verdicts);
  if (options.dnsQuery) {
    m_dnsQuery = std::move(options.dnsQuery);
    m_dnsAvailable = true;
  } else {
    m_resolver = platform::DnsResolver::Open();
    m_dnsAvailable = m_resolver->Available();
    // The function holds the resolver, so a worker still querying keeps the library loaded.
    m_dnsQuery = [resolver = m_resolver](const std::string& name, platform::DnsRecordType type,
                                         uint32_t timeoutMs, std::string& host) {
      return resolver->QueryFirstHost(name, type, timeoutMs, host);
    };
  }
  const char* domain = std::getenv("KESTRELON_MAKER_DOMAIN");
  m_makerDomain = (domain != nullptr && *domain != '\0') ? std::string(domain)
                                                         : std::string(kMakerDomain);
  m_mailFrom = std::string(kMailFromLocalPart) + "@" + m_makerDomain;
}

SenderVerifier::~SenderVerifier() { SmtpClose(); }

MailExchangerInfo SenderVerifier::LookupMailExchanger(const std::string& domain) {
  auto cached = m_exchangers.find(domain);
  if (cached != m_exchangers.end()) return cached->second;

  MailExchangerInfo current;
  current.domain = domain;
  uint32_t timeoutMs = m_timeoutMs;
  // The queries may run a little longer than the wait, so that a server that stays silent
  // always shows as a wait that ran out (the domain then counts as known), never as a
  // failed query racing the wait; an abandoned worker still ends soon after.
  uint32_t budgetMs = timeoutMs + kWorkerGraceMs;
  auto looked = platform::RunWithTimeout<MailExchangerInfo>(
      [query = m_dnsQuery, current, budgetMs]() mutable {
        using platform::DnsAnswer;
        uint32_t start = platform::TickCount();
        std::string host;
        DnsAnswer mx = query(current.domain, platform::DnsRecordType::MX, budgetMs, host);
        if (mx == DnsAnswer::Records) {
          current.found = true;
          current.exchanger = host;
          return current;
        }
        // A DNS that cannot be asked proves nothing about the domain.
        current.found = true;
        if (mx == DnsAnswer::Failed) return current;
        uint32_t spent = platform::TicksBetween(start, platform::TickCount());
        if (spent >= budgetMs) return current;
        DnsAnswer ns = query(current.domain, platform::DnsRecordType::NS, budgetMs - spent, host);
        current.found = ns == DnsAnswer::Records || ns == DnsAnswer::Failed;
        return current;
      },
      timeoutMs);
  if (looked) {
    current = std::move(*looked);
  } else {
    // No answer in time: on doubt the domain counts as known, without an exchanger to ask.
    current.found = true;
  }
  m_exchangers[domain] = current;
  return current;
}

bool SenderVerifier::VerifySender(char* address) {
  if (address == nullptr) return true;
  try {
    std::string text = address;
    bool exists = VerifySender(text);
    // Lower-casing keeps the length, so the text fits where it came from.
    std::memcpy(address, text.data(), std::min(text.size(), std::strlen(address)));
    return exists;
  } catch (...) {
    return true;
  }
}

bool SenderVerifier::VerifySender(std::string& address) {
  try {
    if (!IsSmtpAvailable()) return true;
    size_t at = address.find('@');
    if (at == std::string::npos) return true;
    LowerInPlace(address, at + 1);
    MailExchangerInfo info = LookupMailExchanger(address.substr(at + 1));
    if (!info.found) return false;
    LowerInPlace(address, 0);
    return ProbeMailbox(address, info);
  } catch (...) {
    return true;
  }
}

bool SenderVerifier::IsSmtpAvailable() {
  if (m_availabilityTested) return m_available;
  m_availabilityTested = true;
  if (m_dnsAvailable && platform::IsConnectedCached()) {
    // The maker's exchanger, looked up on a worker like every DNS query, so that a DNS
    // service that does not answer cannot hold up the calling thread.
    uint32_t timeoutMs = std::max(m_timeoutMs, kAvailabilityTimeoutMs);
    auto host = platform::RunWithTimeout<std::string>(
        [query = m_dnsQuery, domain = m_makerDomain, timeoutMs]() {
          std::string exchanger;
          if (query(domain, platform::DnsRecordType::MX, timeoutMs, exchanger) !=
              platform::DnsAnswer::Records) {
            throw std::runtime_error("no mail exchanger");
          }
          return exchanger;
        },
        timeoutMs);
    if (host) {
      m_available = SmtpConnect(*host, kAvailabilityTimeoutMs);
      SmtpClose();
    }
  }
  if (!m_available) m_timeoutMs = 0;
  return m_available;
}

bool SenderVerifier::ProbeMailbox(const std::string& address, const MailExchangerInfo& info) {
  auto cached = m_verdicts.find(address);
  if (cached != m_verdicts.end()) return cached->second;
  m_verdicts[address] = true;
  if (info.exchanger.empty()) return true;
  // An address that would break the command line is not asked at all.
  if (HasControlCharacter(address)) return true;

  SmtpClose();
  auto session = std::make_shared<SmtpSession>(m_service);
  m_session = session;
  uint32_t timeoutMs = m_timeoutMs;
  auto result = platform::RunWithTimeout<ProbeResult>(
      [session, host = info.exchanger, address, mailFrom = m_mailFrom, timeoutMs]() {
        return RunProbe(*session, host, address, mailFrom, timeoutMs);
      },
      timeoutMs);
  if (!result) {
    // Given up: wake the worker out of its send or receive and never let it connect again.
    session->Abandon();
  }
  m_session.reset();
  if (!result || result->exchangerUnusable) {
    MailExchangerInfo unusable = info;
    unusable.exchanger.clear();
    m_exchangers[unusable.domain] = unusable;
  }
  if (!result || result->exists) return true;
  m_verdicts[address] = false;
  return false;
}

bool SenderVerifier::SmtpConnect(const std::string& host, uint32_t connectTimeoutMs) {
  if (m_session && m_session->IsOpen()) return false;
  m_session = std::make_shared<SmtpSession>(m_service);
  return m_session->Connect(host, connectTimeoutMs, connectTimeoutMs);
}

bool SenderVerifier::SmtpCommand(std::string_view command, std::string_view expectedCode,
                                 bool checkRejectWords) {
  if (!m_session) return checkRejectWords;
  return m_session->Command(command, expectedCode, checkRejectWords);
}

void SenderVerifier::SmtpClose() {
  if (m_session) m_session->Close();
}

}  // namespace kestrelon
