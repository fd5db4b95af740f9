#include "plugin/host/mail_learning.h"

#include "plugin/dbx/spam_archive.h"
#include "plugin/host/event_log.h"
#include "plugin/host/host_failure.h"
#include "plugin/host/message_key.h"
#include "plugin/host/plugin_data.h"

namespace kestrelon {

namespace {

bool OwesDeletion(StepFollowUp followUp, LearnedWay way, DeletionKind& kind) {
  switch (followUp) {
    case StepFollowUp::kDeleteIfSpam: kind = DeletionKind::kAutomatic; return way == LearnedWay::kSpam;
    case StepFollowUp::kSmtpDeletion: kind = DeletionKind::kSmtp; return true;
    case StepFollowUp::kManualDeletion: kind = DeletionKind::kManual; return true;
    default: return false;
  }
}

Decision DeletionEntry(DeletionKind kind) {
  switch (kind) {
    case DeletionKind::kSmtp: return Decision::kSmtpDeleted;
    case DeletionKind::kManual: return Decision::kManuallyDeleted;
    case DeletionKind::kAutomatic: break;
  }
  return Decision::kSpamDeleted;
}

// What a step owes once its store change took effect: its commit (with the deletion it
// owes), its log line, and the mail's record as judged.
void FinishStep(PluginData& data, const LearnStep& step, LearnedWay way) {
  MailSession& session = *data.mailSession;
  DeletionKind kind = DeletionKind::kAutomatic;
  if (OwesDeletion(step.followUp, way, kind)) {
    OwedDeletion deletion{step.mail, kind, false};
    session.Journal().Commit(step.mail.id, way, &deletion);
  } else {
    session.Journal().Commit(step.mail.id, way);
  }
  if (step.followUp == StepFollowUp::kLogAddressBook)
    LogDecision(data, Decision::kAddressBook, step.mail.address.c_str(), step.mail.subject.c_str());
  if (step.followUp == StepFollowUp::kLogFalsePositive)
    LogDecision(data, Decision::kFalsePositive, step.mail.address.c_str(), step.mail.subject.c_str());
  if (step.record && !session.SeenList().IsSeen(step.mail.id))
    session.RecordJudged(step.mail.key, step.mail.date, step.mail.id);
}

LearnedWay Apply(FilterCalls& filter, LearnOp op, const MailContent& content) {
  switch (op) {
    case LearnOp::kProcess: return filter.Process(content) ? LearnedWay::kSpam : LearnedWay::kHam;
    case LearnOp::kAddHam: filter.Add(content, false); return LearnedWay::kHam;
    case LearnOp::kSwapToSpam: filter.Swap(content, true); return LearnedWay::kSpam;
    case LearnOp::kSwapToHam: filter.Swap(content, false); return LearnedWay::kHam;
  }
  return LearnedWay::kNotLearned;
}

// One owed deletion, settled unless a failure ends it.
void CarryOut(PluginData& data, const OwedDeletion& owed, bool& archiveFailed) {
  MailSession& session = *data.mailSession;
  PassJournal& journal = session.Journal();
  const JournalMail& mail = owed.mail;
  MapiMessage* message = session.ReadMessage(mail.id, MAPI_ENVELOPE_ONLY);
  bool present = message && MessageKeyOf(message) == mail.key &&
                 std::string(message->lpszDateReceived ? message->lpszDateReceived : "") == mail.date;
  if (!present) {
    session.FreeMessage(message);
    // Asked to delete it before and now gone: the client did, and the line is owed.
    if (owed.deleting) LogDecision(data, DeletionEntry(owed.kind), mail.address.c_str(), mail.subject.c_str());
    journal.Settle(mail.id);
    return;
  }
  if (owed.kind != DeletionKind::kManual && data.settings->archiveSpam != 0) {
    bool saved = SaveMessageAsEML(session.InboxReader(), message, data.settings->archiveFolder);
    if (!saved) {
      session.FreeMessage(message);
      LogDecision(data, Decision::kArchiveFailed, mail.address.c_str(), mail.subject.c_str());
      archiveFailed = true;
      journal.Settle(mail.id);
      return;
    }
  }
  session.FreeMessage(message);
  if (!owed.deleting) journal.MarkDeleting(mail.id);
  ULONG result = session.DeleteMessage(mail.id);
  // "Invalid message" after the message was there: a move that an ended process began
  // was finished on the way.
  if (result != SUCCESS_SUCCESS && result != MAPI_E_INVALID_MESSAGE)
    throw HostFailure("MAPIDeleteMail failed (" + std::to_string(result) + ")");
  LogDecision(data, DeletionEntry(owed.kind), mail.address.c_str(), mail.subject.c_str());
  journal.Settle(mail.id);
}

}  // namespace

JournalMail JournalMailOf(const MapiMessage* message) {
  JournalMail mail;
  mail.id = std::to_string(message->ulReserved);
  mail.key = MessageKeyOf(message);
  mail.date = message->lpszDateReceived ? message->lpszDateReceived : "";
  mail.address = message->lpOriginator && message->lpOriginator->lpszAddress ? message->lpOriginator->lpszAddress : "";
  mail.subject = message->lpszSubject ? message->lpszSubject : "";
  return mail;
}

void SettleLastStep(PluginData& data) {
  MailSession& session = *data.mailSession;
  const LearnStep* last = session.Journal().LastStep();
  if (!last) return;
  LearnStep step = *last;
  if (step.committed) {
    if (step.record && step.way != LearnedWay::kNotLearned && !session.SeenList().IsSeen(step.mail.id))
      session.RecordJudged(step.mail.key, step.mail.date, step.mail.id);
    return;
  }
  FilterCalls filter(data.filter);
  LearnedWay way = OutcomeOf(step.op, step.hamBefore, step.spamBefore, filter.ItemsCount(false), filter.ItemsCount(true));
  if (way == LearnedWay::kNotLearned) {
    // Never learnt: a pass judges the mail anew, a command is asked for again.
    session.Journal().Commit(step.mail.id, LearnedWay::kNotLearned);
    return;
  }
  FinishStep(data, step, way);
}

LearnedWay LearnMail(PluginData& data, const JournalMail& mail, const MailContent& content, LearnOp op, bool record,
                     StepFollowUp followUp) {
  SettleLastStep(data);
  FilterCalls filter(data.filter);
  LearnStep step;
  step.mail = mail;
  step.op = op;
  step.hamBefore = filter.ItemsCount(false);
  step.spamBefore = filter.ItemsCount(true);
  step.record = record;
  step.followUp = followUp;
  data.mailSession->Journal().Begin(step);
  LearnedWay way = Apply(filter, op, content);
  FinishStep(data, step, way);
  return way;
}

void CarryOutOwedDeletions(PluginData& data, bool& archiveFailed, const std::string& onlyId) {
  // Each carried out deletion changes the list: work on a copy.
  std::vector<OwedDeletion> owed = data.mailSession->Journal().Owed();
  for (const OwedDeletion& deletion : owed)
    if (onlyId.empty() || deletion.mail.id == onlyId) CarryOut(data, deletion, archiveFailed);
}

}  // namespace kestrelon
