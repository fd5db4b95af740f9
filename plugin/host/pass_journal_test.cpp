#include "plugin/host/pass_journal.h"

#include "plugin/dbx/dbx_test_support.h"

#include <gtest/gtest.h>

namespace kestrelon::testing {
namespace {

JournalMail Mail(const std::string& id) {
  return {id, "Promo Team Win a cruise", "2026/12/07 09:14", "a@promo.example", "50% off\r\nnow %41 "};
}

TEST(PassJournal, RecordsComeBackAfterReopeningAndACutRecordIsWrittenOver) {
  TempDir dir;
  std::string path = dir.File("Kestrelon.jnl");
  {
    PassJournal journal(path, 0);
    journal.SetScanOpen(true);
    LearnStep step{Mail("7"), LearnOp::kProcess, 20, 5, true, StepFollowUp::kDeleteIfSpam};
    journal.Begin(step);
    OwedDeletion deletion{Mail("7"), DeletionKind::kAutomatic, false};
    journal.Commit("7", LearnedWay::kSpam, &deletion);
    journal.Owe({Mail("8"), DeletionKind::kManual, false});
    journal.MarkDeleting("8");
    journal.Begin({Mail("9"), LearnOp::kSwapToHam, 21, 6, false, StepFollowUp::kLogFalsePositive});
  }
  // The end of a record that a full disk cut short.
  WriteAll(path, ReadAll(path) + "E 7");
  {
    PassJournal journal(path, 0);
    EXPECT_TRUE(journal.ScanOpen());
    EXPECT_EQ(journal.WayOf("7"), LearnedWay::kSpam);
    EXPECT_EQ(journal.WayOf("8"), LearnedWay::kHam);
    ASSERT_EQ(journal.Owed().size(), 2u);
    EXPECT_EQ(journal.Owed()[0].mail.subject, "50% off\r\nnow %41 ");
    EXPECT_FALSE(journal.Owed()[0].deleting);
    EXPECT_EQ(journal.Owed()[1].kind, DeletionKind::kManual);
    EXPECT_TRUE(journal.Owed()[1].deleting);
    ASSERT_NE(journal.LastStep(), nullptr);
    EXPECT_EQ(journal.LastStep()->mail.id, "9");
    EXPECT_EQ(journal.LastStep()->op, LearnOp::kSwapToHam);
    EXPECT_EQ(journal.LastStep()->hamBefore, 21);
    EXPECT_FALSE(journal.LastStep()->committed);
    journal.Settle("8");
    journal.Commit("9", LearnedWay::kNotLearned);
  }
  PassJournal again(path, 0);
  EXPECT_EQ(again.Owed().size(), 1u);
  EXPECT_TRUE(again.LastStep()->committed);
  EXPECT_EQ(again.WayOf("9"), LearnedWay::kHam);  // a step that never took effect
}

TEST(PassJournal, MailsJudgedBeforeItExistedAreNotKnownAndALongJournalIsWrittenShort) {
  TempDir dir;
  std::string path = dir.File("Kestrelon.jnl");
  uint64_t before = 0;
  {
    PassJournal journal(path, 40);
    for (int i = 41; i < 1041; ++i) {
      std::string id = std::to_string(i);
      journal.Begin({Mail(id), LearnOp::kProcess, i, 0, true, StepFollowUp::kDeleteIfSpam});
      journal.Commit(id, i % 100 == 0 ? LearnedWay::kSpam : LearnedWay::kHam);
    }
    journal.Commit("12", LearnedWay::kHam);
    journal.Owe({Mail("1000"), DeletionKind::kAutomatic, false});
    before = ReadAll(path).size();
  }
  EXPECT_LT(ReadAll(path).size() * 10, before);
  PassJournal journal(path, 0);
  EXPECT_EQ(journal.WayOf("11"), LearnedWay::kUnknown);
  EXPECT_EQ(journal.WayOf("12"), LearnedWay::kHam);
  EXPECT_EQ(journal.WayOf("100"), LearnedWay::kSpam);
  EXPECT_EQ(journal.WayOf("101"), LearnedWay::kHam);
  EXPECT_EQ(journal.Owed().size(), 1u);
  EXPECT_EQ(journal.LastStep()->mail.id, "1040");
  EXPECT_TRUE(journal.LastStep()->committed);
}

TEST(PassJournal, OutcomeIsReadFromTheStoresCounters) {
  EXPECT_EQ(OutcomeOf(LearnOp::kProcess, 20, 5, 20, 5), LearnedWay::kNotLearned);
  EXPECT_EQ(OutcomeOf(LearnOp::kProcess, 20, 5, 21, 5), LearnedWay::kHam);
  EXPECT_EQ(OutcomeOf(LearnOp::kProcess, 20, 5, 20, 6), LearnedWay::kSpam);
  EXPECT_EQ(OutcomeOf(LearnOp::kAddHam, 20, 5, 20, 6), LearnedWay::kNotLearned);
  EXPECT_EQ(OutcomeOf(LearnOp::kSwapToSpam, 20, 5, 19, 6), LearnedWay::kSpam);
  EXPECT_EQ(OutcomeOf(LearnOp::kSwapToSpam, 0, 5, 0, 6), LearnedWay::kSpam);  // the store keeps 0
  EXPECT_EQ(OutcomeOf(LearnOp::kSwapToHam, 20, 5, 21, 4), LearnedWay::kHam);
  // Something else changed the store meanwhile (a backup put back): judged anew.
  EXPECT_EQ(OutcomeOf(LearnOp::kProcess, 20, 5, 12, 3), LearnedWay::kNotLearned);
}

}  // namespace
}  // namespace kestrelon::testing
