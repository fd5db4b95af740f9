#include "plugin/host/delete_spam.h"

#include "plugin/host/event_log.h"
#include "plugin/host/mail_filter_calls.h"
#include "plugin/host/message_key.h"
#include "plugin/host/new_mail.h"
#include "plugin/host/plugin_data.h"

#include <cstdlib>
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

MapiMessage* ReadMessage(MailSession& session, std::string id, FLAGS flags) {
  MapiMessage* message = nullptr;
  if (session.ReadMail()(session.Session(), 0, id.data(), flags, 0, &message) != SUCCESS_SUCCESS) return nullptr;
  return message;
}

void DeleteMessage(MailSession& session, std::string id) {
  session.DeleteMail()(session.Session(), 0, id.data(), 0, 0);
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
  }
  return true;
}

MapiMessage* FindByKey(MailSession& session, const std::string& key, bool deleteIt) {
  std::string id;
  while (NextIdUnderKey(session.SeenList(), key, id)) {
    MapiMessage* envelope = ReadMessage(session, id, MAPI_ENVELOPE_ONLY | MAPI_PEEK | MAPI_SUPPRESS_ATTACH);
    if (!envelope) continue;
    session.FreeMessage(envelope);
    MapiMessage* message = ReadMessage(session, id, MAPI_PEEK | MAPI_SUPPRESS_ATTACH);
    if (!message) continue;
    const char* name = message->lpOriginator ? message->lpOriginator->lpszName : nullptr;
    if (MessageKey(name, message->lpszSubject, false) != key) {
      session.FreeMessage(message);
      continue;
    }
    if (deleteIt) DeleteMessage(session, id);
    message->ulReserved = static_cast<ULONG>(std::strtoul(id.c_str(), nullptr, 10));
    return message;
  }
  return nullptr;
}

bool DeleteByKey(PluginData& data, const std::string& key) {
  MailSession& session = *data.mailSession;
  FilterCalls filter(data.filter);
  bool found = false;
  RestartKeyLookup();
  while (MapiMessage* message = FindByKey(session, key, false)) {
    ScopedMessage held(session, message);
    found = true;
    MailContent content = ReadContent(session, message);
    filter.SetContentType(content.html);
    filter.Swap(content, true);
    LogDecision(data, Decision::kManuallyDeleted, message->lpOriginator ? message->lpOriginator->lpszAddress : nullptr,
                message->lpszSubject);
    if (message->ulReserved != 0) DeleteMessage(session, std::to_string(message->ulReserved));
  }
  return found;
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
    if (data.settings->httpScanTimeout != 0) filter.SetHttpScanTimeout(data.settings->httpScanTimeout);
    window.ShowWaitCursor();
    bool found = false;
    for (int row = window.NextSelectedRow(-1); row >= 0; row = window.NextSelectedRow(row)) {
      std::string from = window.CellText(row, columns.from);
      std::string subject = window.CellText(row, columns.subject);
      if (DeleteByKey(data, MessageKey(from, subject, false)) || DeleteByKey(data, MessageKey(from, subject, true)))
        found = true;
    }
    if (!found) {
      LogInfo(data, NotFoundEntry(data.useTimer));
      OnNewMailTimer(data);
      window.ShowBox(BoxOwner::kMainWindow, kFilterCaption, window.LoadText(22, 256));
    }
    window.RestoreCursor();
    filter.SetHttpScanTimeout(0);
  } catch (...) {
    window.ShowBox(BoxOwner::kMainWindow, kFilterCaption, kMailProcessingError);
  }
}

}  // namespace kestrelon
