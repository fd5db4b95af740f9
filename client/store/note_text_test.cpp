#include "client/store/note_text.h"

#include <gtest/gtest.h>

namespace kestrelon::client {
namespace {

TEST(NoteText, PlainMailBodyAndTransferEncodings) {
  EXPECT_EQ(PlainTextOf("Subject: x\r\n\r\nHello\r\n"), "Hello\r\n");
  EXPECT_EQ(PlainTextOf("Subject: x\n\nUnix lines\n"), "Unix lines\n");
  EXPECT_EQ(PlainTextOf("Content-Transfer-Encoding: base64\r\n\r\nSGVsbG8gd29ybGQ=\r\n"), "Hello world");
  EXPECT_EQ(PlainTextOf("Subject: no body"), "");
}

TEST(NoteText, MultipartTakesTheFirstPlainPartElseTheHtmlText) {
  std::string nested =
      "Content-Type: multipart/mixed; boundary=outer\r\n\r\n--outer\r\n"
      "Content-Type: multipart/alternative; boundary=\"inner\"\r\n\r\n--inner\r\nContent-Type: text/html\r\n\r\n"
      "<b>bold</b> text\r\n--inner\r\nContent-Type: text/plain\r\n\r\nplain text\r\n--inner--\r\n--outer--\r\n";
  EXPECT_EQ(PlainTextOf(nested), "plain text\r\n");
  std::string htmlOnly =
      "Content-Type: multipart/alternative; boundary=b\r\n\r\n--b\r\nContent-Type: text/html\r\n\r\n"
      "<p>only <i>html</i></p>\r\n--b--\r\n";
  EXPECT_EQ(PlainTextOf(htmlOnly), "only html\r\n");
  // A boundary that never appears, or none at all, gives no text rather than garbage.
  EXPECT_EQ(PlainTextOf("Content-Type: multipart/mixed; boundary=zz\r\n\r\nbody\r\n"), "");
  EXPECT_EQ(PlainTextOf("Content-Type: multipart/mixed\r\n\r\n--\r\n"), "");
}

TEST(NoteText, QuotedPrintableAndEncodedWords) {
  EXPECT_EQ(DecodeQuotedPrintable("a=3Db=\r\nc=ZZ=4"), "a=bc=ZZ=4");
  EXPECT_EQ(DecodeEncodedWords("=?iso-8859-1?Q?Gr=FC=DFe_aus?= =?utf-8?B?QmVybGlu?= !"), "Gr\xFC\xDF" "e ausBerlin !");
  EXPECT_EQ(DecodeEncodedWords("plain =?broken"), "plain =?broken");
  EXPECT_EQ(DecodeEncodedWords("=?x?Z?abc?="), "=?x?Z?abc?=");
}

}  // namespace
}  // namespace kestrelon::client
