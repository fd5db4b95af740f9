// What the new-mail pass and Delete Spam still owe, and how each judged mail is learnt,
// kept beside the seen-message list ("Kestrelon.jnl" in the store folder) so that a
// process that ends at any moment, or a write that fails, leaves nothing half done for
// good and nothing done twice.
//
// Every change of the token store for one mail is a step: a "begin" record holding the
// store's mail counters before the change, the change, then a "commit" record with the
// way the mail is learnt. A step without its commit is settled by the counters when it
// is next looked at: unchanged, the change never happened; moved exactly as the change
// moves them, it did. Nothing else changes the store between a begin and its settling.
// A deletion is owed from the mail's commit until the client has confirmed it and the
// event log says so: an "owe" record, a "deleting" record just before the client is
// asked, a "done" record after the log line.
//
// File layout (8-bit text): records "<letter> <field> <field> ...\r\n", every byte of a
// field below 0x21 and "%" written as "%XX". The file is only appended to; a record cut
// short at the end is dropped when the file is read, and written over. When most records
// are settled, the file is written anew, short, at open and at close.
#pragma once

#include "platform/file.h"

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <vector>

namespace kestrelon {

class PassJournalError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// One mail as the journal names it: its Simple MAPI id, message key and date received,
// and the sender address and subject its log line shows.
struct JournalMail {
  std::string id;
  std::string key;
  std::string date;
  std::string address;
  std::string subject;
};

// The change of the token store a step makes.
enum class LearnOp : char {
  kProcess = 'P',     // ProcessMailStream: learnt as its verdict
  kAddHam = 'A',      // AddMailStream as real mail
  kSwapToSpam = 'S',  // SwapMailStream to spam
  kSwapToHam = 'H',   // SwapMailStream to real mail
};

enum class LearnedWay : char {
  kHam = 'h',
  kSpam = 's',
  kNotLearned = 'n',  // a step that never took effect
  kUnknown = '?',     // judged before the journal existed
};

// What a step owes once it took effect, beside its commit.
enum class StepFollowUp : char {
  kNothing = '-',
  kDeleteIfSpam = 'a',     // "Spam Mail automatically deleted"
  kSmtpDeletion = 'v',     // "Spam Mail deleted by SMTP verification"
  kManualDeletion = 'm',   // "Spam Mail manually deleted"
  kLogAddressBook = 'b',   // "Mail Sender in Address Book"
  kLogFalsePositive = 'f', // "False Positive Mail"
};

struct LearnStep {
  JournalMail mail;
  LearnOp op = LearnOp::kProcess;
  int32_t hamBefore = 0;
  int32_t spamBefore = 0;
  bool record = false;  // the mail goes into the seen-message list once learnt
  StepFollowUp followUp = StepFollowUp::kNothing;
  bool committed = false;
  LearnedWay way = LearnedWay::kNotLearned;  // when committed
};

enum class DeletionKind : char {
  kAutomatic = 'a',
  kSmtp = 'v',
  kManual = 'm',
};

struct OwedDeletion {
  JournalMail mail;
  DeletionKind kind = DeletionKind::kAutomatic;
  bool deleting = false;  // the client may have been asked already
};

class PassJournal {
 public:
  // Opens (creating when missing) and reads the journal at `path`. A new journal notes
  // `highestRecordedId`, the highest message id the seen-message list held before: how
  // those mails are learnt is not known. Raises PassJournalError.
  PassJournal(const std::string& path, uint64_t highestRecordedId);
  // Writes a long journal anew, short, as at open. Never raises.
  ~PassJournal();
  PassJournal(const PassJournal&) = delete;
  PassJournal& operator=(const PassJournal&) = delete;

  // The writers: each appends its record, or raises PassJournalError and changes
  // nothing.
  void Begin(const LearnStep& step);
  // The mail is learnt `way` (the commit of the open step when it is that mail's), and
  // owes `deletion` when given, in one write.
  void Commit(const std::string& id, LearnedWay way, const OwedDeletion* deletion = nullptr);
  void Owe(const OwedDeletion& deletion);
  void MarkDeleting(const std::string& id);
  void Settle(const std::string& id);  // the deletion owed for `id` is done or dropped
  void SetScanOpen(bool open);

  // The last step, committed or not; null when there was none.
  const LearnStep* LastStep() const { return lastStep_ ? &*lastStep_ : nullptr; }
  // How the mail of a recorded id is learnt: kUnknown for a mail judged before the
  // journal existed and not learnt since, kHam for every other mail not learnt as spam.
  LearnedWay WayOf(const std::string& id) const;
  const std::vector<OwedDeletion>& Owed() const { return owed_; }
  // A first-run scan began and has not finished.
  bool ScanOpen() const { return scanOpen_; }

  const std::string& Path() const { return path_; }

 private:
  void Load(const std::string& text);
  bool Apply(const std::vector<std::string>& fields);
  void Append(const std::string& records);
  LearnedWay DefaultWayOf(const std::string& id) const;
  std::string StateRecords() const;
  bool CompactionDue() const;
  void Compact();

  std::string path_;
  platform::File file_;
  uint64_t end_ = 0;
  size_t records_ = 0;
  uint64_t unknownUpTo_ = 0;
  bool scanOpen_ = false;
  std::optional<LearnStep> lastStep_;
  std::unordered_map<std::string, LearnedWay> ways_;
  std::vector<OwedDeletion> owed_;
};

// How `op` learnt its mail when the store's counters moved from (ham, spam) to (hamNow,
// spamNow) exactly as it moves them; kNotLearned otherwise (also when something else
// changed the store meanwhile, such as a backup put back: the mail is then judged anew).
LearnedWay OutcomeOf(LearnOp op, int32_t ham, int32_t spam, int32_t hamNow, int32_t spamNow);

}  // namespace kestrelon
