// The classifier: scores a mail's tokens against the counts of a token store, decides
// spam or not (with a second look at the page behind a short mail's link), and learns
// every processed mail under its own verdict.
#pragma once

#include "Lexisift/engine/mail_tokenizer.h"
#include "Lexisift/engine/spam_score.h"
#include "shared/interesting_tokens.h"

#include <memory>

namespace kestrelon {

class CMailItemsMap;

class MailClassifier {
 public:
  // Below this many learned ham mails of its own a store never reports spam.
  static constexpr int32_t kMinHamMailsForSpam = 20;

  MailClassifier();
  ~MailClassifier();
  MailClassifier(const MailClassifier&) = delete;
  MailClassifier& operator=(const MailClassifier&) = delete;

  // The spam probability of one token in `store`.
  float TokenProbability(CMailItemsMap& store, std::string_view token) const;

  // Fills the interesting tokens with every token of `table` and returns the mail's
  // spam probability.
  float Score(CMailItemsMap& store, const TokenTable& table);

  // The verdict on a processed mail: the first test, then, when that says not spam and
  // `scanLink` allows, the second test after fetching the mail's link (whose page's
  // tokens join `table`).
  bool Decide(CMailItemsMap& store, TokenTable& table, bool scanLink);

  // Decides as above and learns the mail under its verdict.
  bool Process(CMailItemsMap& store, TokenTable& table, bool scanLink);

  // The table of the last scored mail. It lives at an address below 4 GiB when such
  // memory can be had, so that its address fits the 32-bit integer that hands it to
  // in-process callers.
  InterestingTokens* Interesting() { return interesting_ ? interesting_ : &fallback_; }

  MailTokenizer& Tokenizer() { return tokenizer_; }
  const ScoreConstants& Constants() const { return constants_; }

 private:
  bool Spammy(CMailItemsMap& store, float score) const;

  const ScoreConstants constants_;
  InterestingTokens* interesting_ = nullptr;
  InterestingTokens fallback_;  // used when no low memory could be had
  MailTokenizer tokenizer_;
};

}  // namespace kestrelon
