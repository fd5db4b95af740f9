// Sender verification inside a pass, against scripted DNS and SMTP servers on 127.0.0.1.
#include "tests/host/host_test_support.h"

#include "platform/worker.h"
#include "plugin/host/event_log.h"
#include "plugin/verify/test_servers/scripted_dns_server.h"
#include "plugin/verify/test_servers/scripted_smtp_server.h"

#include <memory>

namespace kestrelon::testing {
namespace {

class SenderVerificationTest : public HostTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    DnsZone zone;
    zone.mx["maker.test"] = {"127.0.0.1"};
    zone.mx["offers-daily.example"] = {"127.0.0.1"};
    for (const char* domain : {"split.example", "unasked.example", "blocked.example", "cut.example"})
      zone.mx[domain] = {"127.0.0.1"};
    zone.truncated.insert("cut.example");
    dns_ = std::make_unique<ScriptedDnsServer>(zone);
    ASSERT_TRUE(dns_->Listening());
    SmtpScript unknownUser;
    unknownUser.rcptTo = "550 5.1.1 user unknown\r\n";
    smtp_ = std::make_unique<ScriptedSmtpServer>(std::vector<SmtpScript>{SmtpScript{}, unknownUser});
    ASSERT_TRUE(smtp_->Listening());
    SetEnv("KESTRELON_DNS_SERVER", dns_->Address().c_str());
    SetEnv("KESTRELON_MAKER_DOMAIN", "maker.test");
    SetEnv("KESTRELON_ONLINE", "1");
  }
  void TearDown() override {
    HostTest::TearDown();
    EXPECT_TRUE(platform::WaitForWorkers(5000));
    UnsetEnv("KESTRELON_DNS_SERVER");
    UnsetEnv("KESTRELON_MAKER_DOMAIN");
  }

  bool StartVerifying() { return StartVerifying(*smtp_); }
  bool StartVerifying(const ScriptedSmtpServer& smtp) {
    HostOptions options = Options();
    options.verifier.smtpService = smtp.Service();
    if (!StartPlugin(window_, options)) return false;
    Data().settings->checkSmtp = 5000;
    Data().settings->archiveSpam = 1;
    return true;
  }

  std::unique_ptr<ScriptedDnsServer> dns_;
  std::unique_ptr<ScriptedSmtpServer> smtp_;
};

TEST_F(SenderVerificationTest, MissingSenderIsRelearntAsSpamArchivedAndDeleted) {
  client::MailStore store = MakeStore();
  for (int i = 0; i < 2; ++i) store.Deliver(HamMail(i));
  ASSERT_TRUE(StartVerifying());
  Pass();  // the first-run scan verifies nothing
  uint32_t id = store.Deliver(Mail("Someone <NoBody@Offers-Daily.example>", "Hello again"));
  log_.clear();
  Pass();
  // The address is logged as the verifier left it: lower-cased.
  EXPECT_EQ(LogTexts(), std::vector<std::string>{
                            DecisionEntry(Decision::kSmtpDeleted, "nobody@offers-daily.example", "Hello again")});
  client::StoredMessage m;
  EXPECT_FALSE(store.Find(client::Folder::Inbox, id, m));
  LONG spam = 0;
  Data().filter->get_ItemsCount(VARIANT_TRUE, &spam);
  EXPECT_EQ(spam, 1);
  std::vector<platform::FolderEntry> archived;
  ASSERT_TRUE(platform::ListFolder(Data().settings->archiveFolder, archived));
  EXPECT_EQ(archived.size(), 1u);
  std::vector<std::string> lines = smtp_->Lines();
  EXPECT_NE(std::find(lines.begin(), lines.end(), "RCPT TO:<nobody@offers-daily.example>"), lines.end());
}

TEST_F(SenderVerificationTest, ServersAtFaultDeleteNoMail) {
  // One connection each, in the order of the mails: a HELO reply in two pieces and our
  // MAIL FROM refused; lines nobody asked for after MAIL FROM; a block on the asking
  // machine; and, for a domain whose DNS answer is cut short, the exchanger found over TCP.
  SmtpScript splitHelo;
  splitHelo.helo = std::string("250-mx.test\r\n") + kSmtpPause + "250 at your service\r\n";
  splitHelo.mailFrom = "550 5.7.1 Access denied\r\n";
  SmtpScript unasked;
  unasked.mailFrom = std::string("250 sender ok\r\n") + kSmtpPause + "550-5.1.1 no such user\r\n550-5.1.1 no such user\r\n";
  SmtpScript blocked;
  blocked.rcptTo = "550 5.7.1 Service unavailable; client host [192.0.2.9] blocked using bl.example\r\n";
  ScriptedSmtpServer smtp({SmtpScript{}, splitHelo, unasked, blocked, SmtpScript{}});
  ASSERT_TRUE(smtp.Listening());
  client::MailStore store = MakeStore();
  for (int i = 0; i < 2; ++i) store.Deliver(HamMail(i));
  ASSERT_TRUE(StartVerifying(smtp));
  Pass();
  for (const char* sender : {"a@split.example", "b@unasked.example", "c@blocked.example", "d@cut.example"})
    store.Deliver(Mail(std::string("Someone <") + sender + ">", "Hello again"));
  log_.clear();
  Pass();
  EXPECT_TRUE(log_.empty());
  EXPECT_EQ(store.List(client::Folder::Inbox).size(), 6u);
  EXPECT_EQ(smtp.Connections(), 5);
}

TEST_F(SenderVerificationTest, OfflineOrVerificationOffChecksNoSender) {
  SetEnv("KESTRELON_ONLINE", "0");
  client::MailStore store = MakeStore();
  store.Deliver(HamMail(0));
  ASSERT_TRUE(StartVerifying());
  Pass();
  store.Deliver(Mail("Someone <nobody@offers-daily.example>", "Hello again"));
  Pass();
  EXPECT_TRUE(log_.empty());
  EXPECT_EQ(store.List(client::Folder::Inbox).size(), 2u);
  EXPECT_EQ(smtp_->Connections(), 0);
}

}  // namespace
}  // namespace kestrelon::testing
