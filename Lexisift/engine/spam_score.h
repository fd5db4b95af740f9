// The arithmetic of the spam score: token probability, interest, and the combination of
// the most interesting tokens. Single-precision rounding happens exactly where the
// classifier defines it, so results are the same on every build.
#pragma once

#include "shared/interesting_tokens.h"

#include <cstdint>

namespace kestrelon {

struct ScoreConstants {
  float rareProbability = 0.4f;
  int32_t hamWeight = 2;
  int32_t minimumCount = 5;
  float spamFreeProbability = 0.01f;
  float hamFreeProbability = 0.99f;
  int32_t interestingCount = 15;
  float spamLimit = 0.9f;
};

// The spam probability of a token seen `ham` and `spam` times, in a store that learned
// `hamMails` and `spamMails` mails.
float TokenProbability(const ScoreConstants& c, int32_t ham, int32_t spam, int32_t hamMails, int32_t spamMails);

// How far a probability is from neutral: |0.5 - p| in single precision.
float Interest(float probability);

// Combines the first `interestingCount` entries of the table into the mail's spam
// probability; 0.5 for an empty table.
float CombineScore(const ScoreConstants& c, const InterestingTokens& tokens);

}  // namespace kestrelon
