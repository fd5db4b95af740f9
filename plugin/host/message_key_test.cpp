#include "plugin/host/message_key.h"

#include <gtest/gtest.h>

#include <cstring>

namespace kestrelon {
namespace {

TEST(MessageKey, TrimsNameAndJoinsTheSubject) {
  std::string subject = "Meeting tomorrow  ";
  EXPECT_EQ(MessageKey("  Ann Example\t", subject, false), "Ann ExampleMeeting tomorrow");
  std::string empty;
  EXPECT_EQ(MessageKey("   ", empty, false), "");
  std::string leading = "  subject";
  EXPECT_EQ(MessageKey("", leading, false), "subject");
}

TEST(MessageKey, CutAtSemicolonOnlyWhenAsked) {
  std::string subject = "Hi";
  EXPECT_EQ(MessageKey("Ann; Bob", subject, false), "Ann; BobHi");
  EXPECT_EQ(MessageKey("Ann ; Bob", subject, true), "AnnHi");
}

TEST(MessageKey, LongSubjectIsCutForTheCallerToo) {
  std::string subject(300, 's');
  std::string key = MessageKey("N", subject, false);
  EXPECT_EQ(subject.size(), 259u);
  EXPECT_EQ(key, "N" + std::string(259, 's'));

  std::string c(300, 'x');
  std::vector<char> buffer(c.begin(), c.end());
  buffer.push_back('\0');
  MessageKey("N", buffer.data(), false);
  EXPECT_EQ(std::strlen(buffer.data()), 259u);
  EXPECT_EQ(MessageKey(nullptr, nullptr, false), "");
}

TEST(MessageKey, EveryByteIsSevenBitAfterTheOemTrip) {
  std::string subject = "Gr\xFC\xDF" "e \x80";
  std::string key = MessageKey("J\xF6rg", subject, false);
  ASSERT_EQ(key.size(), 11u);
  for (char c : key) EXPECT_LT(static_cast<unsigned char>(c), 128u);
  EXPECT_EQ(key[0], 'J');
  EXPECT_EQ(key[1], char(0xF6 % 128));
  EXPECT_EQ(key[6], char(0xFC % 128));
  EXPECT_EQ(key[7], char(0xDF % 128));
}

}  // namespace
}  // namespace kestrelon
