// Mail exchanger lookup through the system's DNS code against a scripted responder on
// 127.0.0.1 (Linux: KESTRELON_DNS_SERVER points the resolver at it).
#include <gtest/gtest.h>

#include "platform/dns.h"
#include "platform/worker.h"
#include "plugin/verify/sender_verifier.h"
#include "plugin/verify/test_servers/scripted_dns_server.h"
#include "plugin/verify/test_servers/scripted_smtp_server.h"
#include "plugin/verify/test_servers/test_env.h"

namespace kestrelon {
namespace {

using testing::DnsZone;
using testing::ScriptedDnsServer;
using testing::ScriptedSmtpServer;
using testing::SmtpScript;

constexpr uint16_t kMx = 15;
constexpr uint16_t kNs = 2;

DnsZone TestZone() {
  DnsZone zone;
  zone.mx["maker.test"] = {"127.0.0.1"};
  zone.mx["example.test"] = {"127.0.0.1"};
  // Records come in this order although the second is preferred.
  zone.mx["ordered.test"] = {"first.mx.ordered.test", "second.mx.ordered.test"};
  zone.mx["alias.test"] = {"mx.alias.test"};
  zone.aliasFirst.insert("alias.test");
  zone.ns["parked.test"] = {"ns1.parked.test"};
  zone.silent.insert("slow.test");
  zone.failing["broken.test"] = 2;    // server failure
  zone.failing["refusing.test"] = 5;  // refused
  zone.mx["big.test"] = {"mx.big.test"};
  zone.truncated.insert("big.test");  // too big for a datagram
  return zone;
}

class MxLookupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dns = std::make_unique<ScriptedDnsServer>(TestZone());
    ASSERT_TRUE(dns->Listening());
    testing::SetEnv("KESTRELON_DNS_SERVER", dns->Address().c_str());
    testing::SetEnv("KESTRELON_ONLINE", "1");
    testing::SetEnv("KESTRELON_MAKER_DOMAIN", "maker.test");
  }
  void TearDown() override {
    EXPECT_TRUE(platform::WaitForWorkers(5000));
    testing::UnsetEnv("KESTRELON_DNS_SERVER");
  }

  std::unique_ptr<ScriptedDnsServer> dns;
  uint32_t timeoutMs = 1000;
};

TEST_F(MxLookupTest, FirstExchangerAsListedAndCached) {
  SenderVerifier verifier(timeoutMs);
  MailExchangerInfo info = verifier.LookupMailExchanger("ordered.test");
  EXPECT_TRUE(info.found);
  EXPECT_EQ(info.domain, "ordered.test");
  EXPECT_EQ(info.exchanger, "first.mx.ordered.test");
  info = verifier.LookupMailExchanger("ordered.test");
  EXPECT_EQ(info.exchanger, "first.mx.ordered.test");
  EXPECT_EQ(dns->QueryCount("ordered.test", kMx), 1u);
  EXPECT_EQ(dns->Queries().size(), 1u);
}

TEST_F(MxLookupTest, RecordsOfAnotherTypeBeforeTheExchangerArePassedOver) {
  SenderVerifier verifier(timeoutMs);
  MailExchangerInfo info = verifier.LookupMailExchanger("alias.test");
  EXPECT_TRUE(info.found);
  EXPECT_EQ(info.exchanger, "mx.alias.test");
}

TEST_F(MxLookupTest, NameServersOnlyMeansFoundWithoutExchanger) {
  SenderVerifier verifier(timeoutMs);
  MailExchangerInfo info = verifier.LookupMailExchanger("parked.test");
  EXPECT_TRUE(info.found);
  EXPECT_EQ(info.exchanger, "");
  EXPECT_EQ(dns->QueryCount("parked.test", kMx), 1u);
  EXPECT_EQ(dns->QueryCount("parked.test", kNs), 1u);
}

TEST_F(MxLookupTest, UnknownDomainIsNotFoundAndRemembered) {
  SenderVerifier verifier(timeoutMs);
  EXPECT_FALSE(verifier.LookupMailExchanger("nowhere.test").found);
  EXPECT_FALSE(verifier.LookupMailExchanger("nowhere.test").found);
  EXPECT_EQ(dns->QueryCount("nowhere.test", kMx), 1u);
  EXPECT_EQ(dns->QueryCount("nowhere.test", kNs), 1u);
  // An empty domain is never sent to the DNS.
  EXPECT_FALSE(verifier.LookupMailExchanger("").found);
  EXPECT_EQ(dns->Queries().size(), 2u);
}

TEST_F(MxLookupTest, LookupThatOutlastsTheTimeoutCountsAsFound) {
  SenderVerifier verifier(timeoutMs);
  MailExchangerInfo info = verifier.LookupMailExchanger("slow.test");
  EXPECT_TRUE(info.found);
  EXPECT_EQ(info.exchanger, "");
  EXPECT_TRUE(verifier.LookupMailExchanger("slow.test").found);
  EXPECT_TRUE(platform::WaitForWorkers(3000));
  EXPECT_EQ(dns->QueryCount("slow.test", kMx), 1u);
}

TEST_F(MxLookupTest, FailedQueriesProveNothingAndTheSenderExists) {
  SenderVerifier verifier(timeoutMs);
  for (const char* domain : {"broken.test", "refusing.test"}) {
    SCOPED_TRACE(domain);
    MailExchangerInfo info = verifier.LookupMailExchanger(domain);
    EXPECT_TRUE(info.found);
    EXPECT_EQ(info.exchanger, "");
  }
  std::string sender = "someone@broken.test";
  EXPECT_TRUE(verifier.VerifySender(sender));
  EXPECT_EQ(dns->QueryCount("broken.test", kMx), 1u);

  // A DNS server nobody answers on: the query fails, never hangs, and proves nothing.
  testing::SetEnv("KESTRELON_DNS_SERVER", "127.0.0.1:1");
  SenderVerifier cut(timeoutMs);
  EXPECT_TRUE(cut.LookupMailExchanger("example.test").found);
  std::string host;
  EXPECT_EQ(platform::DnsResolver::Open()->QueryFirstHost("example.test", platform::DnsRecordType::MX, 500, host),
            platform::DnsAnswer::Failed);
  EXPECT_EQ(host, "");
  // A server that cannot be parsed is not replaced by the system's resolver.
  testing::SetEnv("KESTRELON_DNS_SERVER", "not-an-address");
  EXPECT_EQ(platform::DnsResolver::Open()->QueryFirstHost("localhost", platform::DnsRecordType::NS, 500, host),
            platform::DnsAnswer::Failed);
}

TEST_F(MxLookupTest, TruncatedAnswersAreAskedAgainOverTcpOrProveNothing) {
  SenderVerifier verifier(timeoutMs);
  MailExchangerInfo info = verifier.LookupMailExchanger("big.test");
  EXPECT_TRUE(info.found);
  EXPECT_EQ(info.exchanger, "mx.big.test");
  std::vector<testing::DnsQueryRecord> queries = dns->Queries();
  ASSERT_EQ(queries.size(), 2u);
  EXPECT_FALSE(queries[0].tcp);
  EXPECT_TRUE(queries[1].tcp);

  // A server that takes no TCP: the cut answer is a failed query, and the sender exists.
  DnsZone udpOnly = TestZone();
  udpOnly.answerTcp = false;
  ScriptedDnsServer cut(udpOnly);
  ASSERT_TRUE(cut.Listening());
  testing::SetEnv("KESTRELON_DNS_SERVER", cut.Address().c_str());
  SenderVerifier other(timeoutMs);
  info = other.LookupMailExchanger("big.test");
  EXPECT_TRUE(info.found);
  EXPECT_EQ(info.exchanger, "");
  EXPECT_EQ(cut.QueryCount("big.test", kNs), 0u);
}

TEST_F(MxLookupTest, VerifySenderEndToEnd) {
  ScriptedSmtpServer smtp({SmtpScript{}, [] {
                             SmtpScript script;
                             script.rcptTo = "550 5.1.1 no mailbox here\r\n";
                             return script;
                           }()});
  ASSERT_TRUE(smtp.Listening());
  SenderVerifierOptions options;
  options.smtpService = smtp.Service();
  SenderVerifier verifier(timeoutMs, options);

  // Two senders of one domain, in different case, make one DNS query.
  std::string first = "Alice@Example.Test";
  std::string second = "bob@EXAMPLE.TEST";
  EXPECT_FALSE(verifier.VerifySender(first));
  EXPECT_FALSE(verifier.VerifySender(second));
  EXPECT_EQ(first, "alice@example.test");
  EXPECT_EQ(second, "bob@example.test");
  EXPECT_EQ(dns->QueryCount("example.test", kMx), 1u);
  EXPECT_EQ(dns->QueryCount("maker.test", kMx), 1u);
  EXPECT_EQ(smtp.Connections(), 3);

  std::string unknown = "someone@nowhere.test";
  EXPECT_FALSE(verifier.VerifySender(unknown));
  std::string parked = "someone@parked.test";
  EXPECT_TRUE(verifier.VerifySender(parked));
  std::string slow = "someone@slow.test";
  EXPECT_TRUE(verifier.VerifySender(slow));
  EXPECT_EQ(smtp.Connections(), 3);
}

TEST(DnsAnswer, ResultCodesAndMalformedMessages) {
  using platform::DnsAnswer;
  using platform::DnsRecordType;
  std::string host = "stale";
  EXPECT_EQ(platform::ParseFirstHost(nullptr, 0, DnsRecordType::MX, host), DnsAnswer::Failed);
  EXPECT_EQ(host, "");
  // Headers without answers: no error, no such name, server failure, refused.
  const unsigned char empty[] = {0x12, 0x34, 0x81, 0x80, 0, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(platform::ParseFirstHost(empty, sizeof empty, DnsRecordType::MX, host), DnsAnswer::NoRecords);
  const unsigned char nxdomain[] = {0x12, 0x34, 0x81, 0x83, 0, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(platform::ParseFirstHost(nxdomain, sizeof nxdomain, DnsRecordType::NS, host), DnsAnswer::NoSuchName);
  const unsigned char servfail[] = {0x12, 0x34, 0x81, 0x82, 0, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(platform::ParseFirstHost(servfail, sizeof servfail, DnsRecordType::MX, host), DnsAnswer::Failed);
  const unsigned char refused[] = {0x12, 0x34, 0x81, 0x85, 0, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(platform::ParseFirstHost(refused, sizeof refused, DnsRecordType::MX, host), DnsAnswer::Failed);
  // A cut answer, whatever it holds.
  const unsigned char cut[] = {0x12, 0x34, 0x83, 0x80, 0, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(platform::ParseFirstHost(cut, sizeof cut, DnsRecordType::MX, host), DnsAnswer::Failed);
  // Header of a response with one answer that is not there.
  const unsigned char truncated[] = {0x12, 0x34, 0x81, 0x80, 0, 0, 0, 1, 0, 0, 0, 0};
  EXPECT_EQ(platform::ParseFirstHost(truncated, sizeof truncated, DnsRecordType::MX, host), DnsAnswer::Failed);
  // One MX answer whose data is cut short after the preference.
  const unsigned char shortData[] = {0x12, 0x34, 0x81, 0x80, 0, 0, 0, 1, 0, 0, 0, 0,
                                     0, 0, 15, 0, 1, 0, 0, 0, 60, 0, 2, 0, 10};
  EXPECT_EQ(platform::ParseFirstHost(shortData, sizeof shortData, DnsRecordType::MX, host), DnsAnswer::Records);
  EXPECT_EQ(host, "");
  // The exchanger's name points outside the message.
  const unsigned char badPointer[] = {0x12, 0x34, 0x81, 0x80, 0, 0, 0, 1, 0, 0, 0, 0,
                                      0, 0, 15, 0, 1, 0, 0, 0, 60, 0, 4, 0, 10, 0xC0, 0xFF};
  EXPECT_EQ(platform::ParseFirstHost(badPointer, sizeof badPointer, DnsRecordType::MX, host), DnsAnswer::Records);
  EXPECT_EQ(host, "");
}

TEST(DnsName, NamesThatCannotBeAsked) {
  EXPECT_TRUE(platform::IsDnsName("example.test"));
  EXPECT_TRUE(platform::IsDnsName("example.test."));
  EXPECT_TRUE(platform::IsDnsName(std::string(63, 'a') + ".test"));
  EXPECT_FALSE(platform::IsDnsName(std::string(64, 'a') + ".test"));
  EXPECT_FALSE(platform::IsDnsName(""));
  EXPECT_FALSE(platform::IsDnsName("."));
  EXPECT_FALSE(platform::IsDnsName("a..test"));
  EXPECT_FALSE(platform::IsDnsName(std::string("a\0b.test", 8)));
  std::string label(63, 'a');
  EXPECT_TRUE(platform::IsDnsName(label + "." + label + "." + label + "." + std::string(61, 'b')));
  EXPECT_FALSE(platform::IsDnsName(label + "." + label + "." + label + "." + std::string(62, 'b')));
}

}  // namespace
}  // namespace kestrelon
