#include "Lexisift/engine/mail_tokenizer.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

using kestrelon::MailTokenizer;
using kestrelon::TokenTable;

namespace {

using Counts = std::map<std::string, uint32_t>;

Counts Collect(const TokenTable& table) {
  Counts out;
  table.ForEach([&](const TokenTable::Entry& e) { out[std::string(e.key)] = e.count; });
  return out;
}

Counts Header(std::string text) {
  TokenTable t;
  MailTokenizer().TokenizeHeader(text.data(), t);
  return Collect(t);
}

Counts Body(std::string text) {
  TokenTable t;
  MailTokenizer().TokenizeBody(text.data(), t);
  return Collect(t);
}

}  // namespace

TEST(MailTokenizer, HeaderFieldsCarryTheirPrefixAsWritten) {
  EXPECT_EQ(Header("Subject: Buy CHEAP pills now\r\n"),
            (Counts{{"S*Buy", 1}, {"S*CHEAP", 1}, {"S*pills", 1}, {"S*now", 1}}));
  EXPECT_EQ(Header("subject: buy\r\n"), (Counts{{"s*buy", 1}}));
  // The Reply-To pattern finds its field inside In-Reply-To.
  EXPECT_EQ(Header("In-Reply-To: abc\r\n"), (Counts{{"R*abc", 1}}));
  // Reply-To is blanked before To: is looked for, so To: reads its own line.
  EXPECT_EQ(Header("Reply-To: alpha\r\nTo: bravo\r\n"), (Counts{{"R*alpha", 1}, {"T*bravo", 1}}));
  // Only the first line of a folded field is read; the rest are plain words.
  EXPECT_EQ(Header("From: Ann Lee\r\n\tdelta\r\n"), (Counts{{"F*Ann", 1}, {"F*Lee", 1}, {"delta", 1}}));
  // The first match in the whole text is taken, even inside another field's name.
  EXPECT_EQ(Header("Delivered-To: one\r\nTo: two\r\n"), (Counts{{"Delivered", 1}, {"T*one", 1}, {"two", 1}}));
}

TEST(MailTokenizer, LongHeaderValueIsSplitOver255BytesButBlankedWhole) {
  std::string value = std::string(250, 'x') + " abcdefghij" + " tail";  // 266 bytes
  Counts c = Header("Subject: " + value + "\r\n");
  // Byte 255 of the value cuts "abcdefghij" to "abcd"; "tail" is beyond the copy and blanked.
  EXPECT_EQ(c, (Counts{{"S*abcd", 1}}));
}

TEST(MailTokenizer, WordsCountedOnlyWithinTheirLengthAndNotDigitsOnly) {
  EXPECT_EQ(Body("ab 12345 abcdefghijklmnopqrstu"), Counts{});
  EXPECT_EQ(Body("Cheap cheap CHEAP"), (Counts{{"Cheap", 3}}));
  EXPECT_EQ(Body("abcdefghijklmnopqrst 12a it's $5x0 caf\xe9 x\xa7yyy"),
            (Counts{{"abcdefghijklmnopqrst", 1}, {"12a", 1}, {"it's", 1}, {"$5x0", 1}, {"caf\xe9", 1}, {"yyy", 1}}));
  EXPECT_EQ(Body(""), Counts{});
  EXPECT_EQ(Header(""), Counts{});
  EXPECT_EQ(Body(std::string("one\0two two", 11)), (Counts{{"one", 1}}));  // the text ends at its NUL
}

TEST(MailTokenizer, NumbersAreCountedAsWrittenAndNotBlanked) {
  EXPECT_EQ(Body("total 1,250.00 USD"), (Counts{{"P*1,250.00", 1}, {"total", 1}, {"USD", 1}}));
  EXPECT_EQ(Body("v1.5 and 1.5"), (Counts{{"P*1.5", 2}, {"and", 1}}));
  // A number over 20 bytes is not counted.
  EXPECT_EQ(Body("12345678901234567890.5"), Counts{});
}

TEST(MailTokenizer, LinksGiveHostWordsAndLeaveThePath) {
  EXPECT_EQ(Body("Go to http://www.cheap-pills.com/buy?id=7 today"),
            (Counts{{"U*HTTP", 1}, {"U*WWW", 1}, {"U*CHEAP", 1}, {"U*PILLS", 1}, {"U*COM", 1}, {"buy", 1}, {"today", 1}}));
  EXPECT_EQ(Body("see https://abc.def.ghi/buy?id=7"),
            (Counts{{"U*HTTPS", 1}, {"U*ABC", 1}, {"U*DEF", 1}, {"U*GHI", 1}, {"see", 1}, {"buy", 1}}));
  EXPECT_EQ(Header("X: HTTP://Mail.Example.ORG\r\n"), (Counts{{"U*HTTP", 1}, {"U*MAIL", 1}, {"U*EXAMPLE", 1}, {"U*ORG", 1}}));
}

TEST(MailTokenizer, KeysReachTheStoreLimitOf22Bytes) {
  Counts c = Header("Subject: abcdefghijklmnopqrst\r\n");
  ASSERT_EQ(c.size(), 1u);
  EXPECT_EQ(c.begin()->first.size(), 22u);
}

