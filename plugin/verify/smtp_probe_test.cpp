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
                            "450 4.2.0 Greylisted, please try again later\r\n",
                            "550 5.7.1 Client host [192.0.2.9] blocked using bl.example\r\n",
                            "550 5.7.26 Unauthenticated mail is not accepted\r\n",
                            "550-5.1.1 Mailbox unavailable\r\n550 5.1.1 see our Policy page\r\n"}) {
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

TEST_F(SmtpProbeTest, WholeRepliesAreJudgedAndEndlessOnesAreNot) {
  {
    // A refusal in three pieces is read whole, and QUIT still gets its own reply.
    auto server = Serve(WithRcpt(std::string("550-5.1.1 The account\r\n") + testing::kSmtpPause +
                                 "550-5.1.1 does not\r\n" + testing::kSmtpPause + "550 5.1.1 exist\r\n"));
    auto verifier = Verifier(*server);
    std::string address = "gone@example.test";
    EXPECT_FALSE(verifier->VerifySender(address));
  }
  {
    // Continuation lines without end: given up after a bounded amount, on doubt the sender exists.
    SmtpScript endless = WithRcpt("550-5.1.1 user unknown, user unknown, user unknown\r\n");
    endless.rcptRepeat = 2000;
    auto server = Serve(endless);
    auto verifier = Verifier(*server);
    std::string address = "gone@example.test";
    EXPECT_TRUE(verifier->VerifySender(address));
  }
}

TEST_F(SmtpProbeTest, RepliesOutOfStepMeanExists) {
  // The greeting's HELO reply in two pieces; the refusal of MAIL FROM is not taken for the
  // answer to RCPT TO, which is never asked.
  SmtpScript splitHelo;
  splitHelo.helo = std::string("250-mx.test\r\n") + testing::kSmtpPause + "250 at your service\r\n";
  splitHelo.mailFrom = "550 5.7.1 Access denied\r\n";
  // Lines nobody asked for after the reply to MAIL FROM: unfinished ones, then a whole reply.
  SmtpScript unaskedLines;
  unaskedLines.mailFrom = std::string("250 sender ok\r\n") + testing::kSmtpPause +
                          "550-5.1.1 no such user\r\n550-5.1.1 no such user\r\n";
  SmtpScript unaskedReply;
  unaskedReply.mailFrom = std::string("250 sender ok\r\n") + testing::kSmtpPause + "550 5.1.1 no such user\r\n";
  for (const SmtpScript* scenario : {&splitHelo, &unaskedLines, &unaskedReply}) {
    SCOPED_TRACE(scenario->helo + scenario->mailFrom);
    FreshDns();
    auto server = Serve(*scenario);
    auto verifier = Verifier(*server);
    std::string address = "someone@example.test";
    EXPECT_TRUE(verifier->VerifySender(address));
    if (scenario == &splitHelo) {
      EXPECT_FALSE(Contains(server->Lines(), "RCPT TO:<someone@example.test>"));
      EXPECT_EQ(verifier->LookupMailExchanger("example.test").exchanger, "");
    }
  }
}

TEST(SmtpReply, WhereAReplyEnds) {
  auto scan = [](std::string_view bytes) { return FindSmtpReplyEnd(bytes); };
  EXPECT_EQ(scan("250 ok\r\n").length, 8u);
  EXPECT_EQ(scan("250\r\nrest").length, 5u);
  EXPECT_EQ(scan("250-a\n250 b\n221 c\r\n").length, 12u);
  EXPECT_EQ(scan("250-a\r\n250 b").scan, SmtpReplyScan::Incomplete);
  EXPECT_EQ(scan("25").scan, SmtpReplyScan::Incomplete);
  EXPECT_EQ(scan("").scan, SmtpReplyScan::Incomplete);
  for (std::string_view bad : {"250-a\r\n550 b\r\n", "hello\r\n", "25x", "2500 ok\r\n", "650 no\r\n", "\r\n"}) {
    EXPECT_EQ(scan(bad).scan, SmtpReplyScan::Malformed) << bad;
  }
  std::string endless;
  while (endless.size() < kSmtpMaxReply) endless += "250-more\r\n";
  EXPECT_EQ(scan(endless).scan, SmtpReplyScan::Malformed);
}

TEST(SmtpReply, RcptJudgement) {
  EXPECT_FALSE(SmtpRcptReplySaysExists("550 user unknown"));
  EXPECT_FALSE(SmtpRcptReplySaysExists("550"));
  EXPECT_TRUE(SmtpRcptReplySaysExists("55"));
  EXPECT_TRUE(SmtpRcptReplySaysExists(""));
  EXPECT_TRUE(SmtpRcptReplySaysExists("550 listed at DyNaMiC.example"));
  EXPECT_TRUE(SmtpRcptReplySaysExists(std::string("550 x\0spam", 10)));
  EXPECT_FALSE(SmtpRcptReplySaysExists(std::string("550 x\0spa", 9)));
  EXPECT_TRUE(SmtpRcptReplySaysExists("550-5.1.1 x\r\n550 5.7.0 y\r\n"));
  EXPECT_FALSE(SmtpRcptReplySaysExists("550 5.1.1 no user 5.7.1\r\n"));
}

}  // namespace
}  // namespace kestrelon
