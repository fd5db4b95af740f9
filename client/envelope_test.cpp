#include "client/envelope.h"

#include <gtest/gtest.h>

using namespace kestrelon::client;

TEST(Envelope, HeaderFieldsAreUnfoldedAndStopAtTheBlankLine) {
  std::string mail =
      "From: \"Maria Keller\" <maria@example.org>\r\nSubject: Team\r\n meeting\r\nto: a@b.example, c@d.example\r\n"
      "\r\nSubject: not a header\r\n";
  EXPECT_EQ(HeaderField(mail, "subject").value(), "Team meeting");
  EXPECT_FALSE(HeaderField(mail, "Date").has_value());
  auto env = EnvelopeFromMail(mail, 42);
  EXPECT_EQ(env.senderName, "Maria Keller");
  EXPECT_EQ(env.senderAddress, "maria@example.org");
  EXPECT_EQ(env.receiverAddress, "a@b.example");
  EXPECT_EQ(env.receiverName, "a@b.example");
  EXPECT_EQ(env.receivedTime, 42u);
  EXPECT_EQ(env.flags, kDbxFlagUnread);
}

TEST(Envelope, MailDatesWithZones) {
  EXPECT_EQ(ParseMailDate("Thu, 01 Jan 1970 00:00:00 +0000").value(), 0);
  EXPECT_EQ(ParseMailDate("Mon, 07 Dec 2026 09:14:02 +0100").value(), 1796631242);
  EXPECT_EQ(ParseMailDate("7 Dec 2026 08:14 -0000").value(), 1796631240);
  EXPECT_FALSE(ParseMailDate("yesterday").has_value());
  EXPECT_EQ(FileTimeFromUnix(0), 116444736000000000ull);
}
