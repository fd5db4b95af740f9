#include "Lexisift/engine/token_patterns.h"
#include "Lexisift/engine/test_support/token_pattern_check.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

using kestrelon::testing::TokenPatternDifference;

TEST(TokenPatterns, FindersGiveTheGeneralMatchersMatches) {
  const std::vector<std::string> edges = {
      "http://a", "HTTP://Host.Example/path", "see https://h/p q", "http:://x", "httpx://y", "http//", "xhttp://",
      "http://", "http:/", "hhttp://a", "http:///", "ahttp://b http://c", "www.", "www", "wwwx y", "xwww.a/b c",
      "1.5", "1,250.00 and 2,5", "12.", ".5", "1..2", "1.2.3.4.5", "a1.2b", "12345678901234567890.5", "1.2,3.4,5.6",
      "9,", "7.,.,8", "<b>", "<", "a<b", "<a<b>", ">", "<<>>x<", "Reply-To: x", "In-Reply-To:abc", "to:",
      "TO:  \r\nx", "From:\r\nx", "Subject:    a b\r", "Return-Path: <a@b>", "Reply-To:", "reply-to:To: a\nFrom: b"};
  for (const std::string& text : edges) EXPECT_EQ(TokenPatternDifference(text, 0), "") << text;

  // Random texts of pieces that the patterns care about.
  const std::vector<std::string> pieces = {"http", "HTTP", "https", "hTtP", "://", ":", "/", "www", "W", ".", ",",
                                           "0", "7", "12", " ", "\r\n", "\n", "\r", "<", ">", "x", "a", "Reply-To:",
                                           "To:", "tO:", "From:", "Subject:", "Return-Path:", "-", "\xa7", "\xe9",
                                           "h", "t", "p", "\t"};
  std::mt19937 random(20240611);
  for (int i = 0; i < 3000; ++i) {
    std::string text;
    for (size_t n = 1 + random() % 40; n > 0; --n) text += pieces[random() % pieces.size()];
    ASSERT_EQ(TokenPatternDifference(text, random() % text.size()), "") << text;
  }
}
