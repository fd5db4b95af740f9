#include "plugin/host/new_mail.h"

#include "platform/online.h"
#include "platform/time.h"
#include "plugin/dbx/message_content.h"
#include "plugin/dbx/spam_archive.h"
#include "plugin/host/event_log.h"
#include "plugin/host/host_failure.h"
#include "plugin/host/mail_filter_calls.h"
#include "plugin/host/plugin_data.h"
#include "shared/ascii_text.h"

namespace kestrelon {

namespace {

// Process-wide pass state.
bool timerBusy = false;
bool connected = false;
constexpr uint32_t kConnectionCheckInterval = 10000;
uint32_t lastConnectionCheck = static_cast<uint32_t>(-10000);

const char* AddressOf(const MapiMessage* message) {
  return message->lpOriginator ? message->lpOriginator->lpszAddress : nullptr;
}

// Whether the machine is online, asked again only when no message reached this check for
// 10 seconds.
bool ConnectedNow() {
  uint32_t now = platform::TickCount();
  if (platform::TicksBetween(lastConnectionCheck, now) > kConnectionCheckInterval) connected = platform::IsConnected();
  lastConnectionCheck = now;
  return connected;
}

void RunPassReportingFailure(PluginData& data) {
  try {
    ProcessNewMail(data);
  } catch (...) {
    data.window.ShowBox(BoxOwner::kMainWindow, kFilterCaption, kMailProcessingError);
  }
}

void FirstRunScan(PluginData& data) {
  data.firstRunStarted = true;
  IClientWindow& window = data.window;
  MailSession& session = *data.mailSession;
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
      filter.Add(content, false);
      held.Free();
      window.StepProgress();
    }
  } catch (...) {
    window.CloseProgress();
    throw;
  }
  window.CloseProgress();
  window.ShowBox(BoxOwner::kNone, kFilterCaption, window.LoadText(17, 512));
}

// Archives the current message when spam is kept, and queues it for deletion at the end
// of the pass.
void Remove(PluginData& data, const MapiMessage* message) {
  if (data.settings->archiveSpam != 0)
    SaveMessageAsEML(data.mailSession->InboxReader(), message, data.settings->archiveFolder);
  data.mailSession->QueueDeletion();
}

void NormalPass(PluginData& data) {
  IClientWindow& window = data.window;
  MailSession& session = *data.mailSession;
  FilterCalls filter(data.filter);
  int counter = 1;
  bool answer = false;
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
    const char* subject = message->lpszSubject;
    bool returned = (message->flFlags & kReturnedMailFlag) != 0;
    bool read = (message->flFlags & MAPI_UNREAD) == 0;
    if (returned && read) {
      // Asked once, at the first message of a pass; the answer holds for the pass.
      if (first)
        answer = window.ShowBox(BoxOwner::kMainWindow, kFilterCaption, window.LoadText(20, 256),
                                BoxButtons::kYesNo) == BoxAnswer::kYes;
      if (answer) {
        filter.Swap(content, false);
        LogDecision(data, Decision::kFalsePositive, AddressOf(message), subject);
      }
    } else if (data.addressBook->IsSenderInAddressBook(AddressOf(message) ? AddressOf(message) : "")) {
      filter.Add(content, false);
      LogDecision(data, Decision::kAddressBook, AddressOf(message), subject);
    } else if (filter.Process(content)) {
      LogDecision(data, Decision::kSpamDeleted, AddressOf(message), subject);
      Remove(data, message);
    } else if (data.settings->checkSmtp > 0 && ConnectedNow() && message->lpOriginator &&
               !data.senderVerifier->VerifySender(message->lpOriginator->lpszAddress)) {
      filter.Swap(content, true);
      LogDecision(data, Decision::kSmtpDeleted, AddressOf(message), subject);
      Remove(data, message);
    }
    held.Free();
    first = false;
  }
  if (!first) {
    filter.SetHttpScanTimeout(0);
    window.SetStatusText(0, savedStatus);
    window.RestoreCursor();
  }
}

}  // namespace

bool IsClientReceiving(PluginData& data) {
  if (!data.window.HasStatusBar()) return false;
  return EqualsNoCase(data.window.StatusText(2), data.window.LoadText(21, 256));
}

void ProcessNewMail(PluginData& data) {
  FilterCalls filter(data.filter);
  if (filter.ItemsCount(false) == 0 && filter.ItemsCount(true) == 0 && !data.firstRunStarted) {
    FirstRunScan(data);
    return;
  }
  NormalPass(data);
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
