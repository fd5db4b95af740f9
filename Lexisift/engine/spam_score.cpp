#include "Lexisift/engine/spam_score.h"

#include <cmath>

namespace kestrelon {

namespace {

// min(1, n / d) computed exactly, then rounded to single precision; a divisor of 0 gives 1.
float CappedRatio(int32_t n, int32_t d) {
  if (d == 0) return 1.0f;
  double ratio = static_cast<double>(n) / static_cast<double>(d);
  return static_cast<float>(ratio < 1.0 ? ratio : 1.0);
}

}  // namespace

float TokenProbability(const ScoreConstants& c, int32_t ham, int32_t spam, int32_t hamMails, int32_t spamMails) {
  // 32-bit signed arithmetic as stored; counts are never negative, products wrap like the store's.
  int32_t g = static_cast<int32_t>(static_cast<uint32_t>(c.hamWeight) * static_cast<uint32_t>(ham));
  int32_t weighted = static_cast<int32_t>(static_cast<uint32_t>(g) + static_cast<uint32_t>(spam));
  if (weighted < c.minimumCount) return c.rareProbability;
  if (g == 0) return c.hamFreeProbability;
  if (spam == 0) return c.spamFreeProbability;
  float a = CappedRatio(g, hamMails);
  float b = CappedRatio(spam, spamMails);
  return static_cast<float>(static_cast<double>(b) / (static_cast<double>(a) + static_cast<double>(b)));
}

float Interest(float probability) { return static_cast<float>(std::fabs(0.5 - static_cast<double>(probability))); }

float CombineScore(const ScoreConstants& c, const InterestingTokens& tokens) {
  if (tokens.empty()) return 0.5f;
  float p = 1.0f;
  float q = 1.0f;
  int32_t used = 0;
  // Each product is formed exactly (a double holds it) and rounded once to single
  // precision; so is the final quotient.
  for (auto it = tokens.begin(); it != tokens.end() && used < c.interestingCount; ++it, ++used) {
    double tokenProbability = it->second.probability;
    p = static_cast<float>(static_cast<double>(p) * tokenProbability);
    q = static_cast<float>(static_cast<double>(q) * (1.0 - tokenProbability));
  }
  return static_cast<float>(static_cast<double>(p) / (static_cast<double>(p) + static_cast<double>(q)));
}

}  // namespace kestrelon
