#include "Lexisift/engine/link_scanner.h"
#include "Lexisift/engine/mail_tokenizer.h"
#include "Lexisift/engine/test_support/scripted_http_server.h"

#include "plugin/verify/test_servers/test_env.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

using kestrelon::LinkScanner;
using kestrelon::MailTokenizer;
using kestrelon::TokenTable;
using kestrelon::testing::HttpAnswer;
using kestrelon::testing::ScriptedHttpServer;

namespace {

void SetOnline(bool online) {
  kestrelon::testing::SetEnv("KESTRELON_ONLINE", online ? "1" : "0");
  LinkScanner::ResetOnlineCheck();
}

// A tokenizer whose scan is on with the given time-out.
void ScanOn(MailTokenizer& tokenizer, int seconds = 2) {
  SetOnline(true);
  tokenizer.Scanner().SetTimeoutSeconds(seconds);
}

// Detects the link of `body` and fetches it into a fresh table.
TokenTable Fetch(MailTokenizer& tokenizer, const std::string& body) {
  TokenTable table;
  tokenizer.DetectLink(body);
  tokenizer.FetchAndTokenizeLink(table);
  return table;
}

std::string Padded(const std::string& text, size_t size) { return text + std::string(size - text.size(), '.'); }

}  // namespace

TEST(LinkScan, DetectsOnlyInShortMailsWhileScanningIsOn) {
  MailTokenizer tokenizer;
  tokenizer.DetectLink("see http://a.example/x");
  EXPECT_EQ(tokenizer.PendingLink(), "");  // time-out 0: no detection at all
  EXPECT_EQ(tokenizer.LinkStatus(), 200);

  ScanOn(tokenizer);
  tokenizer.DetectLink(Padded("see http://a.example/x more", 199));
  EXPECT_EQ(tokenizer.PendingLink(), "http://a.example/x");
  tokenizer.DetectLink(Padded("see http://a.example/x more", 200));
  EXPECT_EQ(tokenizer.PendingLink(), "");

  tokenizer.SetContentType(kestrelon::CONTENT_TYPE_HTML);
  tokenizer.DetectLink(Padded("<a href=x>http://a.example/x </a>", 599));
  EXPECT_EQ(tokenizer.PendingLink(), "http://a.example/x");
  tokenizer.SetContentType(kestrelon::CONTENT_TYPE_PLAIN);

  tokenizer.SetReadingFile(true);  // mail files may be longer
  tokenizer.DetectLink(Padded("x www.a.example/y z", 1199));
  EXPECT_EQ(tokenizer.PendingLink(), "http://www.a.example/y");
  tokenizer.SetReadingFile(false);

  tokenizer.DetectLink("go to HTTPS://Secure.example/p?q=1 now");
  EXPECT_EQ(tokenizer.PendingLink(), "HTTPS://Secure.example/p?q=1");
}

TEST(LinkScan, HtmlPageWordsJoinTheTableAndMarkupOnlyCountsForNonPlainMail) {
  ScriptedHttpServer server({200, "text/html", "<html><b class=bold>Winner</b> prize 1,000.00</html>"});
  MailTokenizer tokenizer;
  ScanOn(tokenizer);
  TokenTable plain = Fetch(tokenizer, "x " + server.Url("/offer"));
  EXPECT_EQ(tokenizer.LinkStatus(), 200);
  EXPECT_NE(plain.Find("Winner"), nullptr);
  EXPECT_NE(plain.Find("prize"), nullptr);
  EXPECT_NE(plain.Find("P*1,000.00"), nullptr);
  EXPECT_EQ(plain.Find("bold"), nullptr);  // inside a tag: blanked for plain mail
  EXPECT_EQ(plain.Find("html"), nullptr);
  EXPECT_EQ(tokenizer.PendingLink(), "");

  tokenizer.SetContentType(kestrelon::CONTENT_TYPE_HTML);
  TokenTable html = Fetch(tokenizer, "x " + server.Url("/offer"));
  EXPECT_NE(html.Find("bold"), nullptr);
  EXPECT_NE(html.Find("html"), nullptr);
  EXPECT_EQ(server.RequestLines().front(), "GET /offer HTTP/1.1");
}

TEST(LinkScan, StatusesOtherThan200GiveNoPage) {
  {
    ScriptedHttpServer server({404, "text/html", "<p>missing words</p>"});
    MailTokenizer tokenizer;
    ScanOn(tokenizer);
    EXPECT_TRUE(Fetch(tokenizer, server.Url()).Empty());
    EXPECT_EQ(tokenizer.LinkStatus(), 404);
  }
  {
    ScriptedHttpServer server({503, "text/html", "<p>busy words</p>"});
    MailTokenizer tokenizer;
    ScanOn(tokenizer);
    EXPECT_TRUE(Fetch(tokenizer, server.Url()).Empty());
    EXPECT_EQ(tokenizer.LinkStatus(), 503);
  }
  {
    ScriptedHttpServer server({200, "text/html; charset=utf-8", "<p>charset words</p>"});
    MailTokenizer tokenizer;
    ScanOn(tokenizer);
    EXPECT_TRUE(Fetch(tokenizer, server.Url()).Empty());
    EXPECT_EQ(tokenizer.LinkStatus(), 200);
  }
}

TEST(LinkScan, ProxyRefusalEndsAllFetchesOfThisScanner) {
  ScriptedHttpServer server({407, "text/html", ""});
  MailTokenizer tokenizer;
  ScanOn(tokenizer);
  Fetch(tokenizer, server.Url());
  EXPECT_EQ(tokenizer.LinkStatus(), 407);
  EXPECT_TRUE(tokenizer.Scanner().ProxyRefused());
  TokenTable again = Fetch(tokenizer, server.Url());
  EXPECT_EQ(tokenizer.LinkStatus(), 200);
  EXPECT_EQ(server.Requests(), 1);
}

TEST(LinkScan, AnOpenThatOutlivesTheTimeOutIsAbandoned) {
  ScriptedHttpServer server({200, "text/html", "<p>late words</p>", 3000});
  MailTokenizer tokenizer;
  ScanOn(tokenizer, 1);
  TokenTable table = Fetch(tokenizer, server.Url());
  EXPECT_EQ(tokenizer.LinkStatus(), LinkScanner::kTimedOut);
  EXPECT_TRUE(table.Empty());
}

TEST(LinkScan, OneDeadlineBoundsTheWholeFetchAndWhatCameInTimeCounts) {
  // Headers and a first piece at once, then four more pieces 800 ms apart: no single read
  // waits as long as the time-out, the whole page takes three times as long.
  HttpAnswer answer{200, "text/html", "<p>first</p>" + std::string(2000, ' ') + "<p>middle</p>" +
                                          std::string(2000, ' ') + "<p>last</p>"};
  answer.bodyPieces = 5;
  answer.pieceGapMs = 800;
  ScriptedHttpServer server(answer);
  MailTokenizer tokenizer;
  ScanOn(tokenizer, 1);
  TokenTable table = Fetch(tokenizer, server.Url());
  EXPECT_EQ(tokenizer.LinkStatus(), 200);
  EXPECT_NE(table.Find("first"), nullptr);
  EXPECT_EQ(table.Find("last"), nullptr);
}

TEST(LinkScan, LinksAndRedirectsToAddressesThatAreNotPublicAreNeverConnectedTo) {
  ScriptedHttpServer inner({200, "text/html", "<p>router words</p>"}, "127.0.0.2");
  HttpAnswer moved{302, "text/html", ""};
  moved.location = inner.Url("/admin");
  ScriptedHttpServer outer(moved);  // on 127.0.0.1, which the tests may reach
  MailTokenizer tokenizer;
  ScanOn(tokenizer);
  EXPECT_TRUE(Fetch(tokenizer, outer.Url()).Empty());
  EXPECT_TRUE(tokenizer.Scanner().Refused());
  EXPECT_EQ(tokenizer.LinkStatus(), 200);  // as any fetch that failed
  EXPECT_EQ(outer.Requests(), 1);
  EXPECT_EQ(inner.Requests(), 0);

  std::string port = std::to_string(outer.Port());
  for (const std::string& link : std::vector<std::string>{"http://10.1.2.3:" + port + "/", "http://192.168.1.1/reboot", "http://172.16.0.1/",
                           "http://169.254.169.254/latest/meta-data/", "http://100.64.0.1/", "http://0.0.0.0:" + port + "/",
                           "http://224.0.0.1/", "http://[fd00::1]:8080/", "http://[::1]:" + port + "/",
                           "http://[::ffff:127.0.0.1]:" + port + "/", "http://127.0.0.2:" + std::to_string(inner.Port()) + "/"}) {
    SCOPED_TRACE(link);
    EXPECT_TRUE(Fetch(tokenizer, "see " + link).Empty());
    EXPECT_TRUE(tokenizer.Scanner().Refused());
    EXPECT_EQ(tokenizer.LinkStatus(), 200);
  }
  EXPECT_EQ(outer.Requests(), 1);
  EXPECT_EQ(inner.Requests(), 0);

  // Without the tests' setting, 127.0.0.1 is refused like every loopback address.
  kestrelon::testing::UnsetEnv("KESTRELON_LINK_SCAN_LOOPBACK");
  MailTokenizer plain;
  ScanOn(plain);
  EXPECT_TRUE(Fetch(plain, outer.Url()).Empty());
  EXPECT_TRUE(plain.Scanner().Refused());
  EXPECT_EQ(outer.Requests(), 1);
  kestrelon::testing::SetEnv("KESTRELON_LINK_SCAN_LOOPBACK", "1");
}

TEST(LinkScan, RedirectsAreFollowedToThePage) {
  ScriptedHttpServer target({200, "text/html", "<p>landing words</p>"});
  HttpAnswer moved{302, "text/html", "<p>moved words</p>"};
  moved.location = target.Url("/landing");
  ScriptedHttpServer server(moved);
  MailTokenizer tokenizer;
  ScanOn(tokenizer);
  TokenTable table = Fetch(tokenizer, server.Url());
  EXPECT_EQ(tokenizer.LinkStatus(), 200);
  EXPECT_NE(table.Find("landing"), nullptr);
  EXPECT_EQ(table.Find("moved"), nullptr);
  ASSERT_EQ(target.Requests(), 1);
  EXPECT_EQ(target.RequestLines()[0].rfind("GET /landing ", 0), 0u);
}

TEST(LinkScan, LongPagesAreReadUpTo51Chunks) {
  std::string page(100000, ' ');
  page.replace(1000, 9, "earlyword");
  page.replace(60000, 8, "lateword");
  ScriptedHttpServer server({200, "TEXT/HTML", page});
  MailTokenizer tokenizer;
  ScanOn(tokenizer);
  TokenTable table = Fetch(tokenizer, server.Url());
  EXPECT_NE(table.Find("earlyword"), nullptr);
  EXPECT_EQ(table.Find("lateword"), nullptr);
}

TEST(LinkScan, ScanningNeedsTheComputerOnlineAndAsksAtMostEvery20Seconds) {
  LinkScanner scanner;
  SetOnline(false);
  scanner.SetTimeoutSeconds(5);
  EXPECT_EQ(scanner.TimeoutSeconds(), 0);
  kestrelon::testing::SetEnv("KESTRELON_ONLINE", "1");
  scanner.SetTimeoutSeconds(5);  // within 20 seconds: the earlier answer stands
  EXPECT_EQ(scanner.TimeoutSeconds(), 0);
  LinkScanner::ResetOnlineCheck();
  scanner.SetTimeoutSeconds(5);
  EXPECT_EQ(scanner.TimeoutSeconds(), 5);
  scanner.SetTimeoutSeconds(-3);
  EXPECT_EQ(scanner.TimeoutSeconds(), 0);
}
