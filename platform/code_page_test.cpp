#include "platform/code_page.h"

#include <gtest/gtest.h>

TEST(CodePage, AsciiAndLatinLettersSurviveTheOemTrip) {
  std::string text = "Re: Gr\xFC\xDF" "e aus M\xFCnchen \xE9t\xE9 \xC5 \xA3 5";
  std::string before = text;
  platform::AnsiOemRoundTrip(text);
  EXPECT_EQ(text, before);
}

TEST(CodePage, CharactersMissingInOemComeBackReplaced) {
  // The euro sign and the typographic quotes have no place in the OEM code page; the
  // florin sign has.
  std::string text = "\x80 \x93quoted\x94 \x83";
  platform::AnsiOemRoundTrip(text);
  EXPECT_EQ(text.size(), 12u);
  EXPECT_NE(text[0], '\x80');
  EXPECT_NE(text[2], '\x93');
  EXPECT_EQ(text.substr(3, 6), "quoted");
  EXPECT_EQ(text[11], '\x83');
}
