#include "Lexisift/engine/mail_classifier.h"

#include "Lexisift/store/mail_items_map.h"
#include "platform/low_memory.h"

#include <new>

namespace kestrelon {

MailClassifier::MailClassifier() {
  if (void* block = platform::AllocateLowMemory(sizeof(InterestingTokens)))
    interesting_ = new (block) InterestingTokens();
}

MailClassifier::~MailClassifier() {
  if (interesting_) {
    interesting_->~InterestingTokens();
    platform::FreeLowMemory(interesting_, sizeof(InterestingTokens));
  }
}

float MailClassifier::TokenProbability(CMailItemsMap& store, std::string_view token) const {
  MapItem item = store.GetItem(token);
  return kestrelon::TokenProbability(constants_, item.ham, item.spam, store.EffectiveHamMails(),
                                     store.EffectiveSpamMails());
}

float MailClassifier::Score(CMailItemsMap& store, const TokenTable& table) {
  InterestingTokens& tokens = *Interesting();
  tokens.Clear();
  table.ForEach([&](const TokenTable::Entry& entry) {
    float p = TokenProbability(store, entry.key);
    tokens.Add(Interest(p), entry.key, p);
  });
  tokens.Order();
  return CombineScore(constants_, tokens);
}

bool MailClassifier::Spammy(CMailItemsMap& store, float score) const {
  return store.HamMails() >= kMinHamMailsForSpam && score > constants_.spamLimit;
}

bool MailClassifier::Decide(CMailItemsMap& store, TokenTable& table, bool scanLink) {
  if (Spammy(store, Score(store, table))) return true;
  if (!scanLink || !tokenizer_.FetchAndTokenizeLink(table)) return false;
  // A server error or a page that never came is judged as spam by itself.
  int32_t status = tokenizer_.LinkStatus();
  if (store.HamMails() >= kMinHamMailsForSpam && (status >= 500 || status < 0)) return true;
  return Spammy(store, Score(store, table));
}

bool MailClassifier::Process(CMailItemsMap& store, TokenTable& table, bool scanLink) {
  bool spam = Decide(store, table, scanLink);
  store.AddItems(table, spam);
  return spam;
}

}  // namespace kestrelon
