#include "plugin/host/new_mail.h"

#include "platform/online.h"
#include "platform/time.h"
#include "plugin/dbx/message_content.h"
#include "plugin/host/event_log.h"
#include "plugin/host/host_failure.h"
#include "plugin/host/mail_filter_calls.h"
#include "plugin/host/mail_learning.h"
#include "plugin/host/plugin_data.h"
#include "shared/ascii_text.h"

namespace kestrelon {

namespace {

// Process-wide pass state.
bool timerBusy = false;
bool connected = false;
constexpr uint32_t kConnectionCheckInterval = 10000;
uint32_t lastConnectionCheck = static_cast<uint32_t>(-10000);

// Whether the machine is online, asked again only when no message reached this check for
// 10 seconds.
bool ConnectedNow() {
  uint32_t now = platform::TickCount();
  if (platform::TicksBetween(lastConnectionCheck, now) > kConnectionCheckInterval) connected = platform::IsConnected();
  lastConnectionCheck = now;
  return connected;
}

// A failure ends the pass: the message being judged was not recorded and is judged
// by the next pass, which starts from the bookmark; the event log gets the reason.
void RunPassReportingFailure(PluginData& data) {
  try {
    ProcessNewMail(data);
  } catch (const std::exception& e) {
    if (data.mailSession) data.mailSession->AbandonPass();
    ReportFailure(data, "ProcessNewMail", e.what());
  } catch (...) {
    if (data.mailSession) data.mailSession->AbandonPass();
    ReportFailure(data, "ProcessNewMail", "Unknown Error");
  }
}

void FirstRunScan(PluginData& data) {
  data.firstRunStarted = true;
  IClientWindow& window = data.window;
  MailSession& session = *data.mailSession;
  // A scan that a failure or an ended process cut short goes on at the next pass.
  if (!session.Journal().ScanOpen()) session.Journal().SetScanOpen(true);
  window.OpenProgress();
  // A failure ends the scan; the dialog is modeless and would otherwise stay open.
  try {
    window.SetProgressText(window.LoadText(11, 256));
    uint16_t count = 100;
    if (DbxReader* reader = session.InboxReader()) {
      try {
        count = static_cast<uint16_t>(reader->LoadIndex());
      } catch (...) {
        count = 100;
      }
    }
    window.SetProgressRange(count, 1);
    FilterCalls filter(data.filter);
    filter.SetHttpScanTimeout(0);
    while (MapiMessage* message = session.NextNewMessage(false)) {
      ScopedMessage held(session, message);
      MailContent content = ReadContent(session, message);
      filter.SetContentType(content.html);
      LearnMail(data, JournalMailOf(message), content, LearnOp::kAddHam, true, StepFollowUp::kNothing);
      held.Free();
      window.StepProgress();
    }
    session.Journal().SetScanOpen(false);
  } catch (...) {
    window.CloseProgress();
    throw;
  }
  window.CloseProgress();
  window.ShowBox(BoxOwner::kNone, kFilterCaption, window.LoadText(17, 512));
}

// A returned mail is never learnt again: it keeps the way its earlier self is learnt,
// and with `remove` is deleted again as spam.
void KeepReturned(PluginData& data, const JournalMail& mail, LearnedWay way, bool remove) {
  MailSession& session = *data.mailSession;
  OwedDeletion deletion{mail, DeletionKind::kAutomatic, false};
  if (way != LearnedWay::kHam || remove) session.Journal().Commit(mail.id, way, remove ? &deletion : nullptr);
  session.RecordJudged(mail.key, mail.date, mail.id);
}

// How the mail that `mail` returns as is learnt: the one recorded last with its key and
// date.
LearnedWay ReturnedMailWay(MailSession& session, const JournalMail& mail) {
  std::vector<std::string> earlier = session.SeenList().IdsRecordedWith(mail.key, mail.date);
  return earlier.empty() ? LearnedWay::kUnknown : session.Journal().WayOf(earlier.back());
}

// The pass proper; `archiveFailed` is set when a spam mail stayed because its archive
// copy failed.
void JudgeNewMail(PluginData& data, bool& archiveFailed) {
  IClientWindow& window = data.window;
  MailSession& session = *data.mailSession;
  FilterCalls filter(data.filter);
  // What earlier passes still owe goes first.
  CarryOutOwedDeletions(data, archiveFailed);
  int counter = 1;
  bool asked = false, answer = false;
  bool first = true;
  std::string savedStatus;
  while (MapiMessage* message = session.NextNewMessage(false)) {
    ScopedMessage held(session, message);
    if (first) {
      if (data.settings->httpScanTimeout != 0) filter.SetHttpScanTimeout(data.settings->httpScanTimeout);
      window.ShowWaitCursor();
      savedStatus = window.StatusText(0);
    }
    window.SetStatusText(0, window.LoadText(18, 256) + std::to_string(counter));
    ++counter;
    MailContent content = ReadContent(session, message);
    filter.SetContentType(content.html);
    JournalMail mail = JournalMailOf(message);
    bool returned = (message->flFlags & kReturnedMailFlag) != 0;
    bool read = (message->flFlags & MAPI_UNREAD) == 0;
    if (returned) {
      LearnedWay way = ReturnedMailWay(session, mail);
      // Read and learnt as spam: the user moved it back on purpose. Asked once, at the
      // first such mail of a pass; the answer holds for the pass.
      bool question = read && (way == LearnedWay::kSpam || way == LearnedWay::kUnknown);
      if (question && !asked) {
        answer = window.ShowBox(BoxOwner::kMainWindow, kFilterCaption, window.LoadText(20, 256),
                                BoxButtons::kYesNo) == BoxAnswer::kYes;
        asked = true;
      }
      // Unread, it is judged as its earlier self was, without learning it again: a
      // spam mail sent once more in the same minute goes as the first did.
      if (question && answer)
        LearnMail(data, mail, content, LearnOp::kSwapToHam, true, StepFollowUp::kLogFalsePositive);
      else
        KeepReturned(data, mail, way, !read && way == LearnedWay::kSpam);
    } else if (data.addressBook->IsSenderInAddressBook(mail.address)) {
      LearnMail(data, mail, content, LearnOp::kAddHam, true, StepFollowUp::kLogAddressBook);
    } else if (LearnMail(data, mail, content, LearnOp::kProcess, true, StepFollowUp::kDeleteIfSpam) ==
                   LearnedWay::kHam &&
               data.settings->checkSmtp > 0 && ConnectedNow() && message->lpOriginator &&
               !data.senderVerifier->VerifySender(message->lpOriginator->lpszAddress)) {
      // Logged as the verifier left the address: lower-cased.
      mail.address = message->lpOriginator->lpszAddress ? message->lpOriginator->lpszAddress : "";
      LearnMail(data, mail, content, LearnOp::kSwapToSpam, false, StepFollowUp::kSmtpDeletion);
    }
    held.Free();
    first = false;
  }
  // Deleted only now, so that the enumeration's position stays valid while it runs.
  CarryOutOwedDeletions(data, archiveFailed);
  if (!first) {
    filter.SetHttpScanTimeout(0);
    window.SetStatusText(0, savedStatus);
    window.RestoreCursor();
  }
}

void NormalPass(PluginData& data) {
  bool archiveFailed = false;
  try {
    JudgeNewMail(data, archiveFailed);
  } catch (...) {
    // Told also when a failure ends the pass afterwards.
    if (archiveFailed) data.window.ShowBox(BoxOwner::kMainWindow, kFilterCaption, kArchiveFailedBox);
    throw;
  }
  if (archiveFailed) data.window.ShowBox(BoxOwner::kMainWindow, kFilterCaption, kArchiveFailedBox);
}

}  // namespace

bool IsClientReceiving(PluginData& data) {
  if (!data.window.HasStatusBar()) return false;
  return EqualsNoCase(data.window.StatusText(2), data.window.LoadText(21, 256));
}

void ProcessNewMail(PluginData& data) {
  FilterCalls filter(data.filter);
  SettleLastStep(data);
  bool emptyStore = filter.ItemsCount(false) == 0 && filter.ItemsCount(true) == 0;
  if (data.mailSession->Journal().ScanOpen() || (emptyStore && !data.firstRunStarted)) {
    FirstRunScan(data);
    return;
  }
  NormalPass(data);
}

void ReportFailure(PluginData& data, const char* function, const std::string& reason) {
  try {
    LogError(data, function, reason);
  } catch (...) {
    // The box still tells the user.
  }
  data.window.ShowBox(BoxOwner::kMainWindow, kFilterCaption, kMailProcessingError);
}

void OnChangeNotification(PluginData& data, uint32_t eventCode) {
  if (eventCode != kUpdateDirectoryEvent || !data.inboxFile.IsOpen()) return;
  uint64_t lastWrite = 0;
  if (!platform::LastWriteTime(data.inboxPath, lastWrite) || lastWrite == data.inboxLastWriteTime) return;
  if (IsClientReceiving(data)) return;  // the next notification tries again
  data.inboxLastWriteTime = lastWrite;
  RunPassReportingFailure(data);
}

void OnNewMailTimer(PluginData& data) {
  if (timerBusy || IsClientReceiving(data)) return;
  timerBusy = true;
  RunPassReportingFailure(data);
  timerBusy = false;
}

void ResetNewMailState() {
  timerBusy = false;
  connected = false;
  lastConnectionCheck = static_cast<uint32_t>(-10000);
}

}  // namespace kestrelon
