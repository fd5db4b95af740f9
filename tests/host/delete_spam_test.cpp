// Delete Spam and the token view over the stand-in client: rows found by their From and
// Subject texts through the seen-message list.
#include "tests/host/host_test_support.h"

#include "plugin/host/delete_spam.h"
#include "plugin/host/event_log.h"
#include "plugin/host/mail_learning.h"
#include "plugin/host/token_view.h"

#include <cstdio>

namespace kestrelon::testing {
namespace {

using DeleteSpamTest = HostTest;

const char* const kNotFound = "Kestrelon Spam Filter|Selected message(s) not found!\r\nPlease try again.";

size_t InboxSize(const client::MailStore& store) { return store.List(client::Folder::Inbox).size(); }

long Count(bool spam) {
  LONG count = -1;
  CurrentPluginData()->filter->get_ItemsCount(spam ? VARIANT_TRUE : VARIANT_FALSE, &count);
  return count;
}

TEST_F(DeleteSpamTest, EachRowIsOneMessageFoundByItsTextsAndDateReceived) {
  client::MailStore store = LearnedStore(2);
  // Three mails with the same sender name and subject, two of them received a day
  // earlier, and one more.
  uint64_t yesterday = client::FileTimeNow() - 864000000000ull;
  uint32_t a = store.Deliver(Mail("Promo Team <a@promo.example>", "Win a cruise"), yesterday);
  uint32_t b = store.Deliver(Mail("Promo Team <b@promo.example>", "Win a cruise", "Other text.\r\n"), yesterday);
  uint32_t c = store.Deliver(Mail("Promo Team <c@promo.example>", "Win a cruise"));
  uint32_t other = store.Deliver(Mail("Promo Team <d@promo.example>", "Win a car"));
  Pass();
  client::StoredMessage m;
  ASSERT_TRUE(store.Find(client::Folder::Inbox, c, m));
  std::string today = client::DateReceivedText(m.envelope.receivedTime);
  // The row of today's mail, in the list's own date format: only that mail.
  int year = 0, month = 0, day = 0, hour = 0, minute = 0;
  ASSERT_EQ(std::sscanf(today.c_str(), "%d/%d/%d %d:%d", &year, &month, &day, &hour, &minute), 5);
  char shown[64];
  std::snprintf(shown, sizeof shown, "%02d.%02d.%02d %d:%02d %s", day, month, year % 100, hour % 12 ? hour % 12 : 12,
                minute, hour < 12 ? "AM" : "PM");
  log_.clear();
  window_.SelectRows({{"Promo Team", "Win a cruise", shown}});
  DeleteSpam(Data());
  EXPECT_EQ(LogTexts(), std::vector<std::string>{DecisionEntry(Decision::kManuallyDeleted, "c@promo.example", "Win a cruise")});
  EXPECT_TRUE(store.Find(client::Folder::Inbox, a, m));
  EXPECT_TRUE(store.Find(client::Folder::Inbox, b, m));
  // Two rows of yesterday's: one message each, the newest first.
  log_.clear();
  window_.SelectRows({{"Promo Team", "Win a cruise", client::DateReceivedText(yesterday)},
                      {"Promo Team", "Win a cruise", client::DateReceivedText(yesterday)}});
  DeleteSpam(Data());
  EXPECT_EQ(LogTexts(), (std::vector<std::string>{
                            DecisionEntry(Decision::kManuallyDeleted, "b@promo.example", "Win a cruise"),
                            DecisionEntry(Decision::kManuallyDeleted, "a@promo.example", "Win a cruise")}));
  EXPECT_EQ(InboxSize(store), 3u);
  EXPECT_TRUE(store.Find(client::Folder::Inbox, other, m));
  EXPECT_EQ(Count(false), 3);
  EXPECT_EQ(Count(true), 3);
  EXPECT_TRUE(window_.Boxes().empty());
  EXPECT_FALSE(window_.CursorIsWait());
  EXPECT_TRUE(RowDateMatches("2026/12/07 09:14", "2026/12/07 09:14"));
  EXPECT_TRUE(RowDateMatches("12/7/2026 9:14 AM", "2026/12/07 09:14"));
  EXPECT_FALSE(RowDateMatches("07.12.2026 09:15", "2026/12/07 09:14"));
  EXPECT_FALSE(RowDateMatches("09:14", "2026/12/07 09:14"));
}

TEST_F(DeleteSpamTest, RowNotFoundIsToldAndMailLearntAsSpamIsNotLearntAgain) {
  client::MailStore store = LearnedStore(2);
  uint32_t a = store.Deliver(Mail("Promo Team <a@promo.example>", "Win a cruise"));
  Pass();
  client::StoredMessage m;
  ASSERT_TRUE(store.Find(client::Folder::Inbox, a, m));
  // The mail is learnt as spam already, its deletion did not happen (the client was
  // closed first): Delete Spam deletes it without learning it again.
  FilterCalls filter(Data().filter);
  MailContent content;
  MapiMessage* message = Data().mailSession->ReadMessage(std::to_string(a), 0);
  ASSERT_NE(message, nullptr);
  content = ReadContent(*Data().mailSession, message);
  Data().mailSession->FreeMessage(message);
  filter.Swap(content, true);
  Data().mailSession->Journal().Commit(std::to_string(a), LearnedWay::kSpam);
  // One row that is there and one that is not.
  window_.SelectRows({{"Promo Team", "Win a cruise", client::DateReceivedText(m.envelope.receivedTime)},
                      {"Nobody", "Nothing"}});
  DeleteSpam(Data());
  EXPECT_EQ(Count(true), 1);
  EXPECT_EQ(Count(false), 2);
  EXPECT_EQ(InboxSize(store), 2u);
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{kNotFound});
  EXPECT_EQ(LogTexts().front(), DecisionEntry(Decision::kManuallyDeleted, "a@promo.example", "Win a cruise"));
}

TEST_F(DeleteSpamTest, FromTextWithSeveralNamesMatchesOnItsFirstName) {
  client::MailStore store = LearnedStore(1);
  store.Deliver(Mail("Promo Team <a@promo.example>", "Win a cruise"));
  Pass();
  window_.SelectRows({{"Promo Team; Someone Else", "Win a cruise"}});
  DeleteSpam(Data());
  EXPECT_EQ(InboxSize(store), 1u);
  EXPECT_TRUE(window_.Boxes().empty());
}

TEST_F(DeleteSpamTest, MissingColumnOrListRefusesTheCommand) {
  client::MailStore store = LearnedStore(1);
  window_.SelectRows({{"Colleague 0", "Planning notes for the budget review 0"}});
  window_.SetHeaderTexts({"From", "Received"});
  DeleteSpam(Data());
  window_.SetHeaderTexts({});
  DeleteSpam(Data());
  const std::string box = "Error|Message not found!\r\nAt least From and Subject columns have to be shown!";
  EXPECT_EQ(BoxTexts(), (std::vector<std::string>{box, box}));
  EXPECT_EQ(window_.Boxes()[0].owner, BoxOwner::kNone);
  // No list at all: nothing is shown.
  window_.SetMessageListPresent(false);
  DeleteSpam(Data());
  EXPECT_EQ(window_.Boxes().size(), 2u);
  EXPECT_EQ(InboxSize(store), 1u);
  EXPECT_TRUE(log_.empty());
}

TEST_F(DeleteSpamTest, NeverRecordedMessageIsFoundAfterTheCommandsPass) {
  client::MailStore store = LearnedStore(1);
  // Arrived while nothing watched: not in the seen-message list yet.
  store.Deliver(Mail("Promo Team <a@promo.example>", "Win a cruise"));
  window_.SelectRows({{"Promo Team", "Win a cruise"}});
  DeleteSpam(Data());
  EXPECT_EQ(LogTexts(), (std::vector<std::string>{
                            "Messages to be deleted as spam not found! New mail detection problem (Notification=On). "
                            "Please send mail to support@kestrelon.com\r\n"}));
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{kNotFound});
  EXPECT_EQ(window_.Boxes()[0].owner, BoxOwner::kMainWindow);
  EXPECT_EQ(InboxSize(store), 2u);
  // The command's pass recorded it; the second try deletes it.
  log_.clear();
  DeleteSpam(Data());
  EXPECT_EQ(LogTexts(), std::vector<std::string>{
                            DecisionEntry(Decision::kManuallyDeleted, "a@promo.example", "Win a cruise")});
  EXPECT_EQ(InboxSize(store), 1u);
  // Nothing selected: the same not-found path, with "Off" in timer mode.
  Data().useTimer = true;
  window_.SelectRows({});
  log_.clear();
  DeleteSpam(Data());
  ASSERT_EQ(log_.size(), 1u);
  EXPECT_NE(log_[0].text.find("(Notification=Off)"), std::string::npos);
}

TEST_F(DeleteSpamTest, TokenViewShowsTheLastMessageUnderTheKey) {
  client::MailStore store = LearnedStore(1);
  TokenView view = FillTokenView(Data());
  EXPECT_FALSE(view.filled);  // no row selected
  store.Deliver(Mail("Promo Team <a@promo.example>", "Win a cruise", "First text.\r\n"));
  store.Deliver(Mail("Promo Team <a@promo.example>", "Win a cruise", "Second zebra.\r\n"));
  Pass();
  window_.SelectRows({{"Promo Team", "Win a cruise"}});
  view = FillTokenView(Data());
  ASSERT_TRUE(view.filled);
  EXPECT_EQ(view.from, "Promo Team");
  EXPECT_EQ(view.subject, "Win a cruise");
  bool zebra = false, first = false;
  for (const TokenRow& row : view.rows) {
    zebra = zebra || row.token == "zebra";
    first = first || row.token == "First";
    EXPECT_EQ(row.probability.back(), '%');
  }
  EXPECT_TRUE(zebra);
  EXPECT_FALSE(first);
  EXPECT_EQ(view.probability.back(), '%');
  // The view learns nothing.
  LONG ham = 0;
  Data().filter->get_ItemsCount(VARIANT_FALSE, &ham);
  EXPECT_EQ(ham, 3);
  EXPECT_EQ(PercentText(0.5f), "50.00%");
  EXPECT_EQ(PercentText(0.01f), "1.00%");
}

}  // namespace
}  // namespace kestrelon::testing
