// The changes of the token store that the new-mail pass and Delete Spam make for one
// mail, each a step of the pass journal (pass_journal.h), and the deletions they owe.
// Whatever ends them half-way (a failing call, a full disk, an ended process), the next
// pass or command settles them first: a mail is learnt once or not at all, recorded as
// judged only once learnt, and logged as deleted only once the client deleted it.
#pragma once

#include "platform/mapi.h"
#include "plugin/host/mail_filter_calls.h"
#include "plugin/host/pass_journal.h"

#include <string>

namespace kestrelon {

class PluginData;

// The box shown once in a pass in which spam stayed in the Inbox because its archive
// copy could not be written.
constexpr const char* kArchiveFailedBox =
    "Spam mail could not be copied into the spam archive and was left in the Inbox!\r\n"
    "See the filter's log file.";

// The journal's name for a message read through Simple MAPI (its id in the reserved
// word).
JournalMail JournalMailOf(const MapiMessage* message);

// Learns `mail` by `op` as one step and returns how it is learnt. With `record` the mail
// is then recorded as judged; the step's follow-up (a log line, or a deletion owed) is
// done or owed before this returns. Settles an earlier step first. Raises on a failure;
// the step is then settled later.
LearnedWay LearnMail(PluginData& data, const JournalMail& mail, const MailContent& content, LearnOp op, bool record,
                     StepFollowUp followUp);

// Settles the last step: without its commit, by the store's counters; with it, by
// recording its mail as judged when that did not happen yet. Raises on a failure.
void SettleLastStep(PluginData& data);

// Carries out the owed deletions in the order they were owed: the archive copy for
// spam deleted by a pass when ArchiveSpam is on, the client's deletion, then the log
// line. A mail whose copy fails stays in the Inbox, its failure logged, and
// `archiveFailed` is set. A mail that left the Inbox otherwise is dropped without a
// line. `onlyId`, when not empty, limits it to that mail. Raises on a failure.
void CarryOutOwedDeletions(PluginData& data, bool& archiveFailed, const std::string& onlyId = {});

}  // namespace kestrelon
