// The entries the plug-in writes to its event log ("Kestrelon.log"), always through the
// log object, which owns the file, its time stamps and its line layout.
#pragma once

#include <string>

namespace kestrelon {

class PluginData;

// The address the "not found" entry asks the user to write to.
constexpr const char* kSupportAddress = "support@kestrelon.com";

enum class Decision {
  kSpamDeleted,      // "Spam Mail automatically deleted - ..."
  kSmtpDeleted,      // "Spam Mail deleted by SMTP verification - ..."
  kAddressBook,      // "Mail Sender in Address Book - ..."
  kFalsePositive,    // "False Positive Mail - ..."
  kManuallyDeleted,  // "Spam Mail manually deleted - ..."
  kArchiveFailed,    // "Spam Mail kept in the Inbox, archive copy failed - ..."
};

// The entry of a decision about one mail: its format with the sender address and the
// subject (at most 259 characters of it); null fields count as empty.
std::string DecisionEntry(Decision decision, const char* address, const char* subject);

// "Messages to be deleted as spam not found! ..." with "Off" in timer mode, else "On".
std::string NotFoundEntry(bool useTimer);

// ILog::LogInfo and ILog::LogError on the plug-in's log object. Raise HostFailure when
// the object is missing or the call fails.
void LogInfo(PluginData& data, const std::string& text);
void LogError(PluginData& data, const char* function, const std::string& text);

void LogDecision(PluginData& data, Decision decision, const char* address, const char* subject);

}  // namespace kestrelon
