// The SMTP probe against a scripted server on 127.0.0.1 (Linux and, under Wine, Windows).
// DNS answers come from a stand-in query function, so the same cases run on both systems.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <map>
#include <memory>
#include <mutex>
#include <set>

#include "platform/net.h"
#include "platform/worker.h"
#include "plugin/verify/sender_verifier.h"
#include "plugin/verify/smtp_session.h"
#include "plugin/verify/test_servers/scripted_smtp_server.h"
#include "plugin/verify/test_servers/test_env.h"

namespace kestrelon {
namespace {

using testing::ScriptedSmtpServer;
using testing::SmtpScript;

// Domains known to the stand-in DNS; it counts the queries it answers.
struct FakeDns {
  std::mutex mutex;
  std::map<std::string, std::string> mx;
  std::set<std::string> nsOnly;
  std::set<std::string> failing;  // queries for these names fail (server failure, no answer)
  std::vector<std::string> queried;
  // Queries for these names wait until `release` is set, then answer with this exchanger.
  std::map<std::string, std::string> held;
  std::shared_ptr<std::atomic<bool>> release = std::make_shared<std::atomic<bool>>(false);

  size_t Count(const std::string& name) {
    std::lock_guard<std::mutex> lock(mutex);
    return static_cast<size_t>(std::count(queried.begin(), queried.end(), name));
  }
};

DnsQueryFunction QueryOf(std::shared_ptr<FakeDns> dns) {
  return [dns](const std::string& name, platform::DnsRecordType type, uint32_t, std::string& host) {
    using platform::DnsAnswer;
    std::unique_lock<std::mutex> lock(dns->mutex);
    dns->queried.push_back(name);
    auto held = dns->held.find(name);
    if (held != dns->held.end()) {
      std::string exchanger = held->second;
      lock.unlock();
      while (!*dns->release) std::this_thread::sleep_for(std::chrono::milliseconds(5));
      host = exchanger;
      return DnsAnswer::Records;
    }
    if (dns->failing.count(name)) return DnsAnswer::Failed;
    auto mx = dns->mx.find(name);
    bool known = mx != dns->mx.end() || dns->nsOnly.count(name) > 0;
    if (!known) return DnsAnswer::NoSuchName;
    if (type == platform::DnsRecordType::MX) {
      if (mx == dns->mx.end()) return DnsAnswer::NoRecords;
      host = mx->second;
    }
    return DnsAnswer::Records;
  };
}

SmtpScript WithRcpt(const std::string& reply) {
  SmtpScript script;
  script.rcptTo = reply;
  return script;
}

bool Contains(const std::vector<std::string>& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

class SmtpProbeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::SetEnv("KESTRELON_ONLINE", "1");
    testing::SetEnv("KESTRELON_MAKER_DOMAIN", "maker.test");
    FreshDns();
  }

  // A new stand-in DNS with fresh counters.
  void FreshDns() {
    dns = std::make_shared<FakeDns>();
    dns->mx["maker.test"] = "127.0.0.1";
    dns->mx["example.test"] = "127.0.0.1";
    dns->nsOnly.insert("parked.test");
  }

  void TearDown() override {
    // Every worker, abandoned ones included, has ended shortly after its time-out.
    EXPECT_TRUE(platform::WaitForWorkers(5000));
  }

  // A server whose first connection (the availability test) is healthy and whose later ones
  // follow `scenario`.
  std::unique_ptr<ScriptedSmtpServer> Serve(const SmtpScript& scenario) {
    auto server = std::make_unique<ScriptedSmtpServer>(std::vector<SmtpScript>{SmtpScript{}, scenario});
    EXPECT_TRUE(server->Listening());
    return server;
  }

  std::unique_ptr<SenderVerifier> Verifier(const ScriptedSmtpServer& server) {
    SenderVerifierOptions options;
    options.smtpService = server.Service();
    options.dnsQuery = QueryOf(dns);
    return std::make_unique<SenderVerifier>(timeoutMs, options);
  }

  std::shared_ptr<FakeDns> dns;
  uint32_t timeoutMs = 1500;
};

TEST_F(SmtpProbeTest, UnknownUserIsMissingLowerCasedAndRemembered) {
  auto server = Serve(WithRcpt("550 5.1.1 <nobody@example.test>: user unknown\r\n"));
  auto verifier = Verifier(*server);

  char address[] = "NoBody@Example.TEST";
  EXPECT_FALSE(verifier->VerifySender(address));
  EXPECT_STREQ(address, "nobody@example.test");
  EXPECT_EQ(server->Connections(), 2);

  std::vector<std::string> lines = server->Lines();
  EXPECT_TRUE(Contains(lines, "HELO " + platform::HostName()));
  EXPECT_TRUE(Contains(lines, "MAIL FROM:<verify@maker.test>"));
  EXPECT_TRUE(Contains(lines, "RCPT TO:<nobody@example.test>"));
  EXPECT_EQ(lines.back(), "QUIT");

  // A second mail of the address is answered from the verdict cache, in any case.
  std::string again = "nobody@EXAMPLE.test";
  EXPECT_FALSE(verifier->VerifySender(again));
  EXPECT_EQ(again, "nobody@example.test");
  EXPECT_EQ(server->Connections(), 2);
  EXPECT_EQ(dns->Count("example.test"), 1u);
}

TEST_F(SmtpProbeTest, RepliesThatDoNotProveAbsenceMeanExists) {
  for (const char* reply : {"250 2.1.5 ok\r\n",
                            "550 5.7.1 Service unavailable; client host listed in Dynamic IP list\r\n",
                            "550 5.7.1 Message looks like SPAM to us\r\n",
                            "550 Connection REJECTED by policy\r\n",
                            "554 5.7.1 Relay access denied\r\n",
                            "450 4.2.0 Greylisted, please try again later\r\n"}) {
    SCOPED_TRACE(reply);
    auto server = Serve(WithRcpt(reply));
    auto verifier = Verifier(*server);
    std::string first = "first@example.test";
    EXPECT_TRUE(verifier->VerifySender(first));
    // The exchanger stays usable: the next sender of the domain is asked too, the first not.
    std::string second = "second@example.test";
    EXPECT_TRUE(verifier->VerifySender(second));
    EXPECT_TRUE(verifier->VerifySender(first));
    EXPECT_EQ(server->Connections(), 3);
  }
}

TEST_F(SmtpProbeTest, UnusableExchangerMeansExistsAndIsNotAskedAgain) {
  SmtpScript greeting421;
  greeting421.greeting = "421 4.3.2 Service not available, closing channel\r\n";
  SmtpScript heloRefused;
  heloRefused.helo = "501 5.5.4 Invalid domain name\r\n";
  SmtpScript mailFromRefused;
  mailFromRefused.mailFrom = "553 5.7.1 Sender address rejected\r\n";
  for (const SmtpScript& scenario : {greeting421, heloRefused, mailFromRefused}) {
    SCOPED_TRACE(scenario.greeting + scenario.helo + scenario.mailFrom);
    FreshDns();
    auto server = Serve(scenario);
    auto verifier = Verifier(*server);
    std::string first = "someone@example.test";
    EXPECT_TRUE(verifier->VerifySender(first));
    EXPECT_EQ(server->Connections(), 2);

    MailExchangerInfo info = verifier->LookupMailExchanger("example.test");
    EXPECT_TRUE(info.found);
    EXPECT_EQ(info.exchanger, "");
    std::string second = "other@example.test";
    EXPECT_TRUE(verifier->VerifySender(second));
    EXPECT_EQ(server->Connections(), 2);
    EXPECT_FALSE(Contains(server->Lines(), "RCPT TO:<someone@example.test>"));
    EXPECT_EQ(dns->Count("example.test"), 1u);
  }
}

TEST_F(SmtpProbeTest, ServerThatStopsAnsweringTimesOutAndIsNotAskedAgain) {
  timeoutMs = 1000;
  SmtpScript silentGreeting;
  silentGreeting.greeting = "";
  SmtpScript silentAtRcpt = WithRcpt("");
  for (const SmtpScript& scenario : {silentGreeting, silentAtRcpt}) {
    SCOPED_TRACE(scenario.greeting.empty() ? "silent greeting" : "silent at RCPT TO");
    auto server = Serve(scenario);
    auto verifier = Verifier(*server);
    std::string address = "slow@example.test";
    EXPECT_TRUE(verifier->VerifySender(address));
    EXPECT_EQ(verifier->LookupMailExchanger("example.test").exchanger, "");
    std::string other = "other@example.test";
    EXPECT_TRUE(verifier->VerifySender(other));
    EXPECT_EQ(server->Connections(), 2);
    // The abandoned worker was woken by the closed connection and has ended.
    EXPECT_TRUE(platform::WaitForWorkers(3000));
  }
}

TEST_F(SmtpProbeTest, LateAnswersOfAbandonedWorkersChangeNothing) {
  timeoutMs = 1000;
  {
    std::lock_guard<std::mutex> lock(dns->mutex);
    dns->held["late.test"] = "127.0.0.1";
  }
  SmtpScript lateReject = WithRcpt("550 5.1.1 user unknown\r\n");
  lateReject.rcptDelayMs = 1500;
  auto server = Serve(lateReject);
  auto verifier = Verifier(*server);

  // The DNS answer comes after the wait: the domain is found, with nothing to probe, and the
  // answer that arrives later does not reach the cache.
  MailExchangerInfo info = verifier->LookupMailExchanger("late.test");
  EXPECT_TRUE(info.found);
  EXPECT_EQ(info.exchanger, "");
  *dns->release = true;
  EXPECT_TRUE(platform::WaitForWorkers(3000));
  EXPECT_EQ(verifier->LookupMailExchanger("late.test").exchanger, "");
  std::string sender = "someone@late.test";
  EXPECT_TRUE(verifier->VerifySender(sender));

  // The rejection comes after the wait: the sender exists, now and later.
  std::string address = "nobody@example.test";
  EXPECT_TRUE(verifier->VerifySender(address));
  EXPECT_TRUE(platform::WaitForWorkers(3000));
  EXPECT_TRUE(verifier->VerifySender(address));
  EXPECT_EQ(verifier->LookupMailExchanger("example.test").exchanger, "");
  EXPECT_EQ(server->Connections(), 2);
}

TEST_F(SmtpProbeTest, OnlyTheBytesOfOneReplyAreJudged) {
  // The reject word lies beyond the 1000 bytes that one reply may hold.
  std::string reply = "550 no such mailbox " + std::string(1200, 'x') + " spam\r\n";
  auto server = Serve(WithRcpt(reply));
  auto verifier = Verifier(*server);
  std::string address = "gone@example.test";
  EXPECT_FALSE(verifier->VerifySender(address));
}

TEST_F(SmtpProbeTest, AddressTooLongToAskIsMissing) {
  auto server = Serve(SmtpScript{});
  auto verifier = Verifier(*server);
  // "RCPT TO:<" + address + ">\r\n" is 1002 characters.
  std::string address = std::string(990 - 13, 'a') + "@example.test";
  ASSERT_EQ(address.size(), 990u);
  EXPECT_FALSE(verifier->VerifySender(address));
  std::vector<std::string> lines = server->Lines();
  EXPECT_TRUE(Contains(lines, "MAIL FROM:<verify@maker.test>"));
  EXPECT_TRUE(Contains(lines, "QUIT"));
  for (const std::string& line : lines) EXPECT_NE(line.rfind("RCPT", 0), 0u) << line;

  // One character less fits and is asked.
  std::string fits = std::string(989 - 13, 'b') + "@example.test";
  EXPECT_TRUE(verifier->VerifySender(fits));
  EXPECT_TRUE(Contains(server->Lines(), "RCPT TO:<" + fits + ">"));
}

TEST_F(SmtpProbeTest, AddressesThatAreNotAskedOverSmtp) {
  auto server = Serve(SmtpScript{});
  auto verifier = Verifier(*server);
  EXPECT_TRUE(verifier->VerifySender(static_cast<char*>(nullptr)));

  std::string noAt = "Postmaster";
  EXPECT_TRUE(verifier->VerifySender(noAt));
  EXPECT_EQ(noAt, "Postmaster");

  // A line break would smuggle a second command into the dialogue.
  std::string broken = "x\r\nDATA@example.test";
  EXPECT_TRUE(verifier->VerifySender(broken));

  std::string parked = "info@parked.test";  // name servers but no exchanger
  EXPECT_TRUE(verifier->VerifySender(parked));

  std::string unknown = "info@Nowhere.TEST";  // unknown to the DNS
  EXPECT_FALSE(verifier->VerifySender(unknown));
  EXPECT_EQ(unknown, "info@nowhere.test");
  EXPECT_FALSE(verifier->VerifySender(unknown));
  EXPECT_EQ(dns->Count("nowhere.test"), 2u);  // MX and NS once, then the cache

  EXPECT_EQ(server->Connections(), 1);  // the availability test only
  EXPECT_EQ(dns->Count("postmaster"), 0u);
  EXPECT_EQ(timeoutMs, 1500u);
}

TEST_F(SmtpProbeTest, DnsFailureMeansExistsAndIsRemembered) {
  auto server = Serve(SmtpScript{});
  auto verifier = Verifier(*server);
  dns->failing.insert("outage.test");
  std::string sender = "someone@outage.test";
  EXPECT_TRUE(verifier->VerifySender(sender));
  std::string other = "other@outage.test";
  EXPECT_TRUE(verifier->VerifySender(other));
  EXPECT_EQ(dns->Count("outage.test"), 1u);  // no NS query after a failed one, then the cache
  EXPECT_EQ(server->Connections(), 1);        // nothing to probe
}

TEST_F(SmtpProbeTest, FailedAvailabilityTestSwitchesVerificationOff) {
  SmtpScript refusing;
  refusing.greeting = "421 too busy\r\n";
  SmtpScript silent;
  silent.greeting = "";
  SmtpScript heloRefused;
  heloRefused.helo = "550 go away\r\n";
  for (const SmtpScript& availability : {refusing, silent, heloRefused}) {
    SCOPED_TRACE(availability.greeting + availability.helo);
    FreshDns();
    timeoutMs = 1500;
    ScriptedSmtpServer server({availability, WithRcpt("550 user unknown\r\n")});
    auto verifier = Verifier(server);
    std::string address = "nobody@example.test";
    EXPECT_TRUE(verifier->VerifySender(address));
    EXPECT_EQ(timeoutMs, 0u);
    EXPECT_FALSE(verifier->IsSmtpAvailable());
    EXPECT_EQ(server.Connections(), 1);
    EXPECT_EQ(dns->Count("example.test"), 0u);
    EXPECT_EQ(dns->Count("maker.test"), 1u);
  }
}

TEST_F(SmtpProbeTest, AvailabilityNeedsOnlineMachineAndMakerExchanger) {
  {
    testing::SetEnv("KESTRELON_ONLINE", "0");
    auto server = Serve(SmtpScript{});
    auto verifier = Verifier(*server);
    EXPECT_FALSE(verifier->IsSmtpAvailable());
    EXPECT_EQ(timeoutMs, 0u);
    EXPECT_EQ(server->Connections(), 0);
    EXPECT_EQ(dns->Count("maker.test"), 0u);
  }
  {
    testing::SetEnv("KESTRELON_ONLINE", "1");
    timeoutMs = 1500;
    {
      std::lock_guard<std::mutex> lock(dns->mutex);
      dns->mx.erase("maker.test");
    }
    auto server = Serve(SmtpScript{});
    auto verifier = Verifier(*server);
    EXPECT_FALSE(verifier->IsSmtpAvailable());
    EXPECT_EQ(timeoutMs, 0u);
    EXPECT_EQ(server->Connections(), 0);
  }
}

TEST_F(SmtpProbeTest, AvailabilityIsTestedOncePerVerifier) {
  auto server = Serve(SmtpScript{});
  auto verifier = Verifier(*server);
  EXPECT_TRUE(verifier->IsSmtpAvailable());
  EXPECT_TRUE(verifier->IsSmtpAvailable());
  EXPECT_EQ(server->Connections(), 1);
  EXPECT_EQ(timeoutMs, 1500u);
  EXPECT_FALSE(Contains(server->Lines(), "QUIT"));  // closed without a dialogue
}

TEST_F(SmtpProbeTest, CommandsOnTheVerifiersConnection) {
  auto server = Serve(SmtpScript{});
  auto verifier = Verifier(*server);
  EXPECT_FALSE(verifier->SmtpCommand("NOOP\r\n", "250", false));  // nothing open
  ASSERT_TRUE(verifier->SmtpConnect("127.0.0.1", 1000));
  EXPECT_FALSE(verifier->SmtpConnect("127.0.0.1", 1000));  // one connection at a time
  EXPECT_TRUE(verifier->SmtpCommand("MAIL FROM:<a@maker.test>\r\n", "250", false));
  EXPECT_FALSE(verifier->SmtpCommand("MAIL FROM:<a@maker.test>\r\n", "550", false));
  // Two lines in one command are refused before anything is sent.
  EXPECT_FALSE(verifier->SmtpCommand("NOOP\r\nQUIT\r\n", "250", false));
  verifier->SmtpClose();
  verifier->SmtpClose();
  EXPECT_FALSE(verifier->SmtpCommand("NOOP\r\n", "250", false));
  std::vector<std::string> lines = server->Lines();
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "MAIL FROM:<a@maker.test>"), 2);
  EXPECT_FALSE(Contains(lines, "NOOP"));
}

TEST(SmtpReply, RcptJudgement) {
  EXPECT_FALSE(SmtpRcptReplySaysExists("550 user unknown"));
  EXPECT_FALSE(SmtpRcptReplySaysExists("550"));
  EXPECT_TRUE(SmtpRcptReplySaysExists("55"));
  EXPECT_TRUE(SmtpRcptReplySaysExists(""));
  EXPECT_TRUE(SmtpRcptReplySaysExists("550 listed at DyNaMiC.example"));
  EXPECT_TRUE(SmtpRcptReplySaysExists(std::string("550 x\0spam", 10)));
  EXPECT_FALSE(SmtpRcptReplySaysExists(std::string("550 x\0spa", 9)));
}

}  // namespace
}  // namespace kestrelon
