// "Delete Spam": each message selected in the client's message list is found through
// the seen-message list by its From, Subject and Received texts, re-learnt as spam
// unless it is learnt as spam already, deleted from the Inbox and logged.
#pragma once

#include "platform/mapi.h"

#include <set>
#include <string>

namespace kestrelon {

class MailSession;
class PluginData;

constexpr const char* kColumnsMissing = "Message not found!\r\nAt least From and Subject columns have to be shown!";

// The columns of the client's message list titled string 8 ("From"), string 9
// ("Subject") and the client's date-received column ("Received"); -1 for a column that
// is not shown. False when the list is missing.
struct MessageColumns {
  int from = -1;
  int subject = -1;
  int received = -1;
};
bool FindMessageColumns(PluginData& data, MessageColumns& columns, bool& headerEmpty);

// Whether a date-received text as the client's list shows it (its own date and time
// format: day, month, year, hours and minutes in any order, a year of two digits, a
// 12-hour clock) names the same minute as Simple MAPI's "YYYY/MM/DD HH:MM".
bool RowDateMatches(const std::string& rowText, const std::string& dateReceived);

// The next message recorded under `key` that still exists and whose own key matches,
// with its id in the reserved word; deleted from the Inbox too when `deleteIt`. Null
// after the last one (the next call starts over). Free it with the session.
MapiMessage* FindByKey(MailSession& session, const std::string& key, bool deleteIt);
// Makes the next FindByKey start at the first entry of its key, also after a failure
// ended a lookup half-way.
void RestartKeyLookup();

// The message of one selected row: the newest recorded under `key` that is still in the
// Inbox with its key, has the row's date received (unless `received` is empty) and is
// not in `taken`. Null when there is none. Free it with the session.
MapiMessage* FindRowMessage(MailSession& session, const std::string& key, const std::string& received,
                            const std::set<std::string>& taken);

// Re-learns a message as spam, unless it is learnt as spam already, deletes it and logs
// it. Raises on a failure.
void DeleteAsSpam(PluginData& data, const MapiMessage* message);

// The command. Never raises: a failure that ends it is logged and shows "Mail
// processing error!".
void DeleteSpam(PluginData& data);

}  // namespace kestrelon
