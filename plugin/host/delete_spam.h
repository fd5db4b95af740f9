// "Delete Spam": the messages selected in the client's message list are found through
// the seen-message list by their From and Subject texts, re-learnt as spam, logged and
// deleted from the Inbox.
#pragma once

#include "platform/mapi.h"

#include <string>

namespace kestrelon {

class MailSession;
class PluginData;

constexpr const char* kColumnsMissing = "Message not found!\r\nAt least From and Subject columns have to be shown!";

// The columns of the client's message list titled string 8 ("From") and string 9
// ("Subject"); -1 for a column that is not shown. False when the list is missing.
struct MessageColumns {
  int from = -1;
  int subject = -1;
};
bool FindMessageColumns(PluginData& data, MessageColumns& columns, bool& headerEmpty);

// The next message recorded under `key` that still exists and whose own key matches,
// with its id in the reserved word; deleted from the Inbox too when `deleteIt`. Null
// after the last one (the next call starts over). Free it with the session.
MapiMessage* FindByKey(MailSession& session, const std::string& key, bool deleteIt);
// Makes the next FindByKey start at the first entry of its key, also after a failure
// ended a lookup half-way.
void RestartKeyLookup();

// Re-learns as spam, logs and deletes every message found under `key`; true when there
// was at least one. Raises on a failing filter or log call.
bool DeleteByKey(PluginData& data, const std::string& key);

// The command. Never raises: a failure that ends it shows "Mail processing error!".
void DeleteSpam(PluginData& data);

}  // namespace kestrelon
