#include "plugin/host/delete_spam.h"

#include "plugin/host/event_log.h"
#include "plugin/host/mail_filter_calls.h"
#include "plugin/host/mail_learning.h"
#include "plugin/host/message_key.h"
#include "plugin/host/new_mail.h"
#include "plugin/host/plugin_data.h"

#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <vector>

namespace kestrelon {

namespace {

// Where the lookup under one key stands between calls. It belongs to one list and one
// key: a call for another key or another list (after a failure ended a lookup half-way)
// starts over instead of walking entries of the wrong key or of a list that is gone.
struct KeyIteration {
  const SeenMessageList* list = nullptr;
  std::string key;
  SeenMessageList::KeyCursor cursor;
  bool active = false;
};
KeyIteration iteration;

bool NextIdUnderKey(SeenMessageList& list, const std::string& key, std::string& id) {
  if (!iteration.active || iteration.list != &list || iteration.key != key) {
    iteration.list = &list;
    iteration.key = key;
    iteration.cursor = list.CursorFor(key);
    iteration.active = true;
  }
  if (iteration.cursor.Next(id)) return true;
  iteration.active = false;
  return false;
}

// The client's titles of its date-received column, in English and German: texts of the
// client that the plug-in's string table does not hold.
const char* const kReceivedTitles[] = {"Received", "Erhalten"};

std::vector<int> NumbersIn(const std::string& text) {
  std::vector<int> numbers;
  int n = -1;
  for (char c : text) {
    if (c >= '0' && c <= '9') {
      n = n < 0 ? c - '0' : std::min(n * 10 + (c - '0'), 100000);
    } else if (n >= 0) {
      numbers.push_back(n);
      n = -1;
    }
  }
  if (n >= 0) numbers.push_back(n);
  return numbers;
}

std::string Trimmed(const std::string& text) {
  size_t b = text.find_first_not_of(" \t");
  if (b == std::string::npos) return {};
  return text.substr(b, text.find_last_not_of(" \t") - b + 1);
}

}  // namespace

void RestartKeyLookup() { iteration.active = false; }

bool FindMessageColumns(PluginData& data, MessageColumns& columns, bool& headerEmpty) {
  IClientWindow& window = data.window;
  columns = {};
  headerEmpty = false;
  if (!window.HasMessageList()) return false;
  std::string from = window.LoadText(8, 255), subject = window.LoadText(9, 255);
  std::vector<std::string> titles = window.HeaderTexts();
  headerEmpty = titles.empty();
  for (size_t i = 0; i < titles.size(); ++i) {
    if (titles[i] == from)
      columns.from = static_cast<int>(i);
    else if (titles[i] == subject)
      columns.subject = static_cast<int>(i);
    else if (std::find(std::begin(kReceivedTitles), std::end(kReceivedTitles), titles[i]) != std::end(kReceivedTitles))
      columns.received = static_cast<int>(i);
  }
  return true;
}

MapiMessage* FindByKey(MailSession& session, const std::string& key, bool deleteIt) {
  std::string id;
  while (NextIdUnderKey(session.SeenList(), key, id)) {
    MapiMessage* envelope = session.ReadMessage(id, MAPI_ENVELOPE_ONLY);
    if (!envelope) continue;
    session.FreeMessage(envelope);
    MapiMessage* message = session.ReadMessage(id, 0);
    if (!message) continue;
    if (MessageKeyOf(message) != key) {
      session.FreeMessage(message);
      continue;
    }
    if (deleteIt) session.DeleteMessage(id);
    return message;
  }
  return nullptr;
}

MapiMessage* FindRowMessage(MailSession& session, const std::string& key, const std::string& received,
                            const std::set<std::string>& taken) {
  // Rows that look alike are taken for the newest messages first: the mail that just
  // came in, rather than an older copy.
  std::vector<std::string> ids;
  SeenMessageList::KeyCursor cursor = session.SeenList().CursorFor(key);
  for (std::string id; cursor.Next(id);) ids.push_back(id);
  for (auto it = ids.rbegin(); it != ids.rend(); ++it) {
    const std::string& id = *it;
    if (taken.count(id)) continue;
    MapiMessage* message = session.ReadMessage(id, 0);
    if (!message) continue;
    if (MessageKeyOf(message) == key &&
        (Trimmed(received).empty() ||
         RowDateMatches(received, message->lpszDateReceived ? message->lpszDateReceived : "")))
      return message;
    session.FreeMessage(message);
  }
  return nullptr;
}

bool RowDateMatches(const std::string& rowText, const std::string& dateReceived) {
  if (Trimmed(rowText) == Trimmed(dateReceived)) return true;
  std::vector<int> date = NumbersIn(dateReceived), row = NumbersIn(rowText);
  if (date.size() != 5 || row.size() != 5) return false;
  std::sort(row.begin(), row.end());
  for (bool shortYear : {false, true}) {
    for (bool twelveHours : {false, true}) {
      std::vector<int> wanted = date;
      if (shortYear) wanted[0] %= 100;
      if (twelveHours) wanted[3] = wanted[3] % 12 == 0 ? 12 : wanted[3] % 12;
      std::sort(wanted.begin(), wanted.end());
      if (wanted == row) return true;
    }
  }
  return false;
}

void DeleteAsSpam(PluginData& data, const MapiMessage* message) {
  MailSession& session = *data.mailSession;
  JournalMail mail = JournalMailOf(message);
  if (session.Journal().WayOf(mail.id) == LearnedWay::kSpam) {
    // Learnt as spam already (a deletion that did not happen, a copy that could not be
    // archived): only deleted.
    session.Journal().Owe({mail, DeletionKind::kManual, false});
  } else {
    FilterCalls filter(data.filter);
    MailContent content = ReadContent(session, message);
    filter.SetContentType(content.html);
    LearnMail(data, mail, content, LearnOp::kSwapToSpam, false, StepFollowUp::kManualDeletion);
  }
  bool archiveFailed = false;
  CarryOutOwedDeletions(data, archiveFailed, mail.id);
}

void DeleteSpam(PluginData& data) {
  IClientWindow& window = data.window;
  try {
    MessageColumns columns;
    bool headerEmpty = false;
    if (!FindMessageColumns(data, columns, headerEmpty)) return;
    if (headerEmpty || columns.from < 0 || columns.subject < 0) {
      window.ShowBox(BoxOwner::kNone, "Error", kColumnsMissing);
      return;
    }
    FilterCalls filter(data.filter);
    SettleLastStep(data);
    if (data.settings->httpScanTimeout != 0) filter.SetHttpScanTimeout(data.settings->httpScanTimeout);
    window.ShowWaitCursor();
    MailSession& session = *data.mailSession;
    // Each row is one message: rows with the same texts are different messages.
    std::set<std::string> taken;
    bool anyRow = false, missing = false;
    for (int row = window.NextSelectedRow(-1); row >= 0; row = window.NextSelectedRow(row)) {
      anyRow = true;
      std::string from = window.CellText(row, columns.from);
      std::string subject = window.CellText(row, columns.subject);
      std::string received = columns.received >= 0 ? window.CellText(row, columns.received) : std::string();
      MapiMessage* message = FindRowMessage(session, MessageKey(from, subject, false), received, taken);
      if (!message) message = FindRowMessage(session, MessageKey(from, subject, true), received, taken);
      if (!message) {
        missing = true;
        continue;
      }
      ScopedMessage held(session, message);
      taken.insert(std::to_string(message->ulReserved));
      DeleteAsSpam(data, message);
    }
    if (missing || !anyRow) {
      LogInfo(data, NotFoundEntry(data.useTimer));
      OnNewMailTimer(data);
      window.ShowBox(BoxOwner::kMainWindow, kFilterCaption, window.LoadText(22, 256));
    }
    window.RestoreCursor();
    filter.SetHttpScanTimeout(0);
  } catch (const std::exception& e) {
    ReportFailure(data, "DeleteSpam", e.what());
  } catch (...) {
    ReportFailure(data, "DeleteSpam", "Unknown Error");
  }
}

}  // namespace kestrelon
