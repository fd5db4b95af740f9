#include "Lexisift/engine/spam_score.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

using namespace kestrelon;

TEST(SpamScore, TokenProbabilityRulesApplyInOrder) {
  ScoreConstants c;
  EXPECT_EQ(TokenProbability(c, 2, 0, 100, 50), 0.4f);   // g = 4 < 5: rare
  EXPECT_EQ(TokenProbability(c, 3, 0, 100, 50), 0.01f);  // never seen in spam
  EXPECT_EQ(TokenProbability(c, 0, 5, 100, 50), 0.99f);  // never seen in ham
  EXPECT_EQ(TokenProbability(c, 0, 4, 100, 50), 0.4f);   // still rare
  // g = 2, a = 0.02, b = 0.06: p = 0.75, interest 0.25.
  float p = TokenProbability(c, 1, 3, 100, 50);
  EXPECT_EQ(p, 0.75f);
  EXPECT_EQ(Interest(p), 0.25f);
  // A divisor of 0 counts as 1: b = 1, a = min(1, 10 / 100) = 0.1.
  EXPECT_EQ(TokenProbability(c, 5, 5, 100, 0), static_cast<float>(1.0 / (static_cast<double>(0.1f) + 1.0)));
  // Ratios are capped at 1.
  EXPECT_EQ(TokenProbability(c, 50, 80, 10, 10), 0.5f);
}

TEST(SpamScore, EqualInterestsKeepTheirOrder) {
  EXPECT_EQ(Interest(0.99f), Interest(0.01f));
  EXPECT_EQ(Interest(0.99f), 0.49f);
  EXPECT_EQ(Interest(0.4f), static_cast<float>(0.5 - static_cast<double>(0.4f)));

  InterestingTokens t;
  t.Add(Interest(0.75f), "stale", 0.75f);  // gone at the next Clear
  t.Order();
  t.Clear();
  for (int i = 0; i < 20; ++i) t.Add(Interest(0.99f), "s" + std::to_string(i), 0.99f);
  t.Add(Interest(0.6f), "mid", 0.6f);
  for (int i = 0; i < 20; ++i) t.Add(Interest(0.01f), "h" + std::to_string(i), 0.01f);
  t.Add(Interest(0.75f), "high", 0.75f);
  t.Order();
  ASSERT_EQ(t.size(), 42u);
  auto it = t.begin();
  for (int i = 0; i < 20; ++i, ++it) EXPECT_EQ(it->second.token, "s" + std::to_string(i));
  EXPECT_EQ(it->second.token, "h0");
  EXPECT_EQ(std::prev(t.end(), 2)->second.token, "high");
  EXPECT_EQ(std::prev(t.end())->second.token, "mid");
  // The 15 combined are the first 15 inserted: all spammy.
  EXPECT_GT(CombineScore(ScoreConstants{}, t), 0.999f);
}

TEST(SpamScore, OrderSortsByInterestAndKeepsTiesInTheirOrderMailAfterMail) {
  std::mt19937 random(7);
  InterestingTokens t;
  for (int mail = 0; mail < 5; ++mail) {
    std::vector<std::pair<float, std::string>> added;
    t.Clear();
    for (int i = 0, n = 50 + mail * 97; i < n; ++i) {
      float p = static_cast<float>(random() % 21) / 20.0f;  // many ties
      added.emplace_back(Interest(p), "token-of-some-length-" + std::to_string(i));
      t.Add(added.back().first, added.back().second, p);
    }
    t.Order();
    std::stable_sort(added.begin(), added.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
    ASSERT_EQ(t.size(), added.size());
    size_t i = 0;
    for (const auto& entry : t) {
      EXPECT_EQ(entry.first, added[i].first);
      EXPECT_EQ(entry.second.token, added[i].second);
      ++i;
    }
  }
}

TEST(SpamScore, CombinesAtMostFifteenTokens) {
  ScoreConstants c;
  EXPECT_EQ(CombineScore(c, {}), 0.5f);
  InterestingTokens rare;
  for (int i = 0; i < 30; ++i) rare.Add(Interest(0.4f), "r" + std::to_string(i), 0.4f);
  rare.Order();
  float score = CombineScore(c, rare);
  double expected = std::pow(0.4, 15) / (std::pow(0.4, 15) + std::pow(0.6, 15));
  EXPECT_NEAR(score, expected, 1e-5);
  EXPECT_NEAR(score, 0.0023, 1e-4);
  InterestingTokens one;
  one.Add(Interest(0.75f), "x", 0.75f);
  one.Order();
  EXPECT_EQ(CombineScore(c, one), 0.75f);
}
