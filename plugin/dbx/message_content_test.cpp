#include "plugin/dbx/message_content.h"

#include "client/dbx_writer.h"
#include "plugin/dbx/dbx_reader.h"
#include "plugin/dbx/dbx_test_support.h"

#include <gtest/gtest.h>

using kestrelon::ComposeHeader;
using kestrelon::DbxReader;
using kestrelon::GetMessageContent;
using kestrelon::client::DbxEnvelope;
using kestrelon::client::DbxWriter;
using kestrelon::testing::LogMessages;
using kestrelon::testing::TempDir;

namespace {

const std::string kPlain =
    "From: Ann <ann@example.org>\r\nSubject: Lunch\r\nContent-Type: text/plain\r\n\r\nSee you at noon.\r\n";

const std::string kHtml =
    "From: shop@example.com\r\nContent-Type: multipart/alternative; boundary=\"b\"\r\n\r\n"
    "--b\r\nContent-Type: text/plain\r\n\r\nBuy now\r\n"
    "--b\r\nContent-Type: TEXT/HTML; charset=us-ascii\r\n\r\n<html><body>Buy <b>now</b></body></html>\r\n"
    "--b--\r\n";

const std::string kBase64Html =
    "From: shop@example.com\r\nContent-Type: multipart/alternative; boundary=\"b\"\r\n\r\n"
    "--b\r\nContent-Type: text/html; charset=us-ascii\r\nContent-Transfer-Encoding: base64\r\n"
    "Content-Disposition: inline\r\n\r\n"
    "PGh0bWw+PGJvZHk+QnV5IG5v\r\ndzwvYm9keT48L2h0bWw+\r\n\r\n--b--\r\n";

// Inbox with the given mails as messages 1, 2, ...
struct Inbox {
  explicit Inbox(const std::vector<std::string>& mails) {
    path = dir.File("Inbox.dbx");
    DbxWriter::Create(path);
    DbxWriter writer(path);
    for (const auto& m : mails) writer.Append(DbxEnvelope{}, m);
  }
  TempDir dir;
  std::string path;
};

struct Message {
  MapiRecipDesc originator{0, MAPI_ORIG, const_cast<char*>("Ann"), const_cast<char*>("ann@example.org"), 0, nullptr};
  MapiRecipDesc recips[2] = {{0, MAPI_TO, const_cast<char*>("b@example.org"), const_cast<char*>("b@example.org"), 0, nullptr},
                             {0, MAPI_TO, const_cast<char*>("Carl"), const_cast<char*>("c@example.org"), 0, nullptr}};
  MapiMessage message{};
  explicit Message(uint32_t id, const char* note = "note text") {
    message.ulReserved = id;
    message.lpszSubject = const_cast<char*>("S");
    message.lpszNoteText = const_cast<char*>(note);
    message.lpOriginator = &originator;
    message.nRecipCount = 2;
    message.lpRecips = recips;
  }
};

}  // namespace

TEST(MessageContent, HtmlTestAndExtraction) {
  EXPECT_TRUE(kestrelon::IsHtmlMessage("Content-Type: Text/HTML"));
  EXPECT_FALSE(kestrelon::IsHtmlMessage("text/plain"));
  EXPECT_EQ(kestrelon::ExtractHtmlBody(kHtml), "<html><body>Buy <b>now</b></body></html>");
  // The group runs through the last closing tag of the whole text.
  EXPECT_EQ(kestrelon::ExtractHtmlBody("text/html; a\r\n\r\n<p>a</p>\r\n\r\nx</b> y"), "<p>a</p>\r\n\r\nx</b>");
  // The lazy run after "text/html" takes at least one character, so a blank line right
  // behind it does not count; the next one does.
  EXPECT_EQ(kestrelon::ExtractHtmlBody("text/html\r\n\r\n<p>a</p>\r\n\r\nx</b> y"), "x</b>");
  EXPECT_EQ(kestrelon::ExtractHtmlBody("no html here\r\n\r\nbody"), "");
}

TEST(MessageContent, Base64Html) {
  EXPECT_EQ(kestrelon::ExtractHtmlBody(kBase64Html),
            "Content-Transfer-Encoding: base64\r\n<html><body>Buy now</body></html>");
  // With "base64" ending the part's header, its blank line is not the one the lazy run
  // can stop at: the pattern finds nothing.
  EXPECT_EQ(kestrelon::ExtractBase64Html("text/html\r\nEncoding: base64\r\n\r\nQUJD\r\n\r\n--b--\r\n"), "");
  EXPECT_EQ(kestrelon::ExtractBase64Html("text/html\r\nEncoding: base64 \r\n\r\nQUJD\r\nRA\r\n\r\n--b--\r\n"),
            "Content-Transfer-Encoding: base64\r\nABCD");
  EXPECT_EQ(kestrelon::DecodeBase64("QQ"), "A");
  EXPECT_EQ(kestrelon::DecodeBase64("QUI="), "AB");
  EXPECT_EQ(kestrelon::DecodeBase64("QUJD\r\nRA"), "ABCD");
  EXPECT_EQ(kestrelon::DecodeBase64("QUJDR"), "ABC");
  EXPECT_EQ(kestrelon::DecodeBase64(std::string("QUJD\0RA", 7)), "ABC");
}

TEST(MessageContent, ReadMessageSplitsHeaderAndBody) {
  Inbox inbox({kPlain, kHtml, kBase64Html, "no blank line at all", "text/html\r\n\r\nnever closed"});
  DbxReader reader(inbox.path);
  std::string header, body;
  ASSERT_TRUE(reader.ReadMessage(1, header, body, false));
  EXPECT_FALSE(reader.HtmlFlag());
  EXPECT_EQ(header, "From: Ann <ann@example.org>\r\nSubject: Lunch\r\nContent-Type: text/plain");
  EXPECT_EQ(body, "\r\n\r\nSee you at noon.\r\n");

  ASSERT_TRUE(reader.ReadMessage(2, header, body, false));
  EXPECT_TRUE(reader.HtmlFlag());
  EXPECT_EQ(body, "<html><body>Buy <b>now</b></body></html>");

  ASSERT_TRUE(reader.ReadMessage(3, header, body, false));
  EXPECT_TRUE(reader.HtmlFlag());
  EXPECT_EQ(body, "Content-Transfer-Encoding: base64\r\n<html><body>Buy now</body></html>");

  ASSERT_TRUE(reader.ReadMessage(4, header, body, false));
  EXPECT_EQ(header, "no blank line at all");
  EXPECT_EQ(body, "");

  // HTML, but neither pattern matches: the raw text from the blank line on.
  ASSERT_TRUE(reader.ReadMessage(5, header, body, false));
  EXPECT_TRUE(reader.HtmlFlag());
  EXPECT_EQ(body, "\r\n\r\nnever closed");
  EXPECT_FALSE(std::filesystem::exists(inbox.path + ".log"));
}

TEST(MessageContent, LongTextIsCutForMailWithFiles) {
  std::string mail = "Subject: files\r\nContent-Type: multipart/mixed\r\n\r\n" + std::string(40000, 'A') +
                     "\r\nContent-Type: text/html; charset=us-ascii\r\n\r\n<p>late</p>\r\n";
  Inbox inbox({mail});
  DbxReader reader(inbox.path);
  std::string header, body;
  ASSERT_TRUE(reader.ReadMessage(1, header, body, true));
  EXPECT_FALSE(reader.HtmlFlag());
  EXPECT_EQ(header.size() + body.size(), 30000u);
  ASSERT_TRUE(reader.ReadMessage(1, header, body, false));
  EXPECT_TRUE(reader.HtmlFlag());
  EXPECT_EQ(body, "<p>late</p>");

  Message files(1);
  files.message.nFileCount = 1;
  EXPECT_FALSE(GetMessageContent(&reader, &files.message, header, body));
  EXPECT_EQ(body, "note text");
  Message none(1);
  EXPECT_TRUE(GetMessageContent(&reader, &none.message, header, body));
  EXPECT_EQ(body, "<p>late</p>");
}

TEST(MessageContent, GetMessageContentPrefersTheInboxFile) {
  Inbox inbox({kPlain, kHtml, "no blank line"});
  DbxReader reader(inbox.path);
  std::string header, body;
  Message plain(1);
  EXPECT_FALSE(GetMessageContent(&reader, &plain.message, header, body));
  EXPECT_EQ(header, "From: Ann <ann@example.org>\r\nSubject: Lunch\r\nContent-Type: text/plain");
  EXPECT_EQ(body, "note text");

  Message html(2);
  EXPECT_TRUE(GetMessageContent(&reader, &html.message, header, body));
  EXPECT_EQ(body, "<html><body>Buy <b>now</b></body></html>");

  Message noBlank(3, nullptr);
  EXPECT_FALSE(GetMessageContent(&reader, &noBlank.message, header, body));
  EXPECT_EQ(header, "no blank line");
  EXPECT_EQ(body, "");
  EXPECT_FALSE(std::filesystem::exists(inbox.path + ".log"));

  // Not in the file (already moved) and id 0: composed header, one log line each.
  const std::string composed = "Subject: S\nFrom: Ann <ann@example.org>\nTo: <b@example.org>, Carl <c@example.org>,\n";
  Message gone(9);
  EXPECT_FALSE(GetMessageContent(&reader, &gone.message, header, body));
  EXPECT_EQ(header, composed);
  EXPECT_EQ(body, "note text");
  Message zero(0);
  EXPECT_FALSE(GetMessageContent(&reader, &zero.message, header, body));
  EXPECT_EQ(header, composed);
  auto lines = LogMessages(inbox.path + ".log");
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "GetMessageContent() error - ID: 9");
  EXPECT_EQ(lines[1], "GetMessageContent() error - ID: 0");

  // Without a reader nothing is logged anywhere.
  EXPECT_FALSE(GetMessageContent(nullptr, &plain.message, header, body));
  EXPECT_EQ(header, composed);
}

TEST(MessageContent, BrokenFileFallsBackAndLogsTwoLines) {
  Inbox inbox({kPlain});
  std::string file = kestrelon::testing::ReadAll(inbox.path);
  file[0xC4] = 2;  // more entries than the tree holds
  kestrelon::testing::WriteAll(inbox.path, file);
  DbxReader reader(inbox.path);
  std::string header, body;
  Message m(1);
  EXPECT_FALSE(GetMessageContent(&reader, &m.message, header, body));
  EXPECT_EQ(body, "note text");
  auto lines = LogMessages(inbox.path + ".log");
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "DbxException in ReadMessage(): Wrong number of values found!");
  EXPECT_EQ(lines[1], "GetMessageContent() error - ID: 1");
}

TEST(MessageContent, ComposeHeaderForms) {
  EXPECT_EQ(ComposeHeader(nullptr), "");
  Message m(1);
  m.originator.lpszName = const_cast<char*>("");
  m.message.nRecipCount = 0;
  EXPECT_EQ(ComposeHeader(&m.message), "Subject: S\nFrom:  <ann@example.org>\nTo:\n");
  m.originator.lpszName = const_cast<char*>("ann@example.org");
  m.message.nRecipCount = 1;
  EXPECT_EQ(ComposeHeader(&m.message), "Subject: S\nFrom: <ann@example.org>\nTo: <b@example.org>,\n");
  m.message.lpszSubject = nullptr;
  m.message.lpOriginator = nullptr;
  EXPECT_EQ(ComposeHeader(&m.message), "Subject: \nFrom: <>\nTo: <b@example.org>,\n");
}
