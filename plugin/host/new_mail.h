// The new-mail pipeline: whenever the Inbox may have changed, one pass over the Inbox
// messages the plug-in has not judged yet. Runs on the main window's thread, started by
// the change notification or the 5-second timer.
#pragma once

#include <cstdint>
#include <string>

namespace kestrelon {

class PluginData;

// The box that reports a failure that ended a pass.
constexpr const char* kMailProcessingError = "Mail processing error!";
constexpr const char* kFilterCaption = "Kestrelon Spam Filter";

// The notification handler: `eventCode` is the notification's event; only "update
// directory" (kUpdateDirectoryEvent) starts a pass, and only when the Inbox file's last
// write time changed and the client is not receiving mail. Never raises.
void OnChangeNotification(PluginData& data, uint32_t eventCode);

// The timer handler: a pass unless one is running or the client is receiving mail.
// Never raises.
void OnNewMailTimer(PluginData& data);

// True while the client's status bar part 2 reads string 21 ("Receiving mail..."),
// without regard to case.
bool IsClientReceiving(PluginData& data);

// One pass (or, on an empty token store, the first-run scan). Raises on failure; the
// handlers catch and report it.
void ProcessNewMail(PluginData& data);

// Reports a failure that ended a pass or a command: the reason as an error entry of the
// event log under `function`, then the box "Mail processing error!" (once: the entry is
// left out when the log itself fails).
void ReportFailure(PluginData& data, const char* function, const std::string& reason);

// Forgets the process-wide pass state (timer-busy flag, connection check), as a new
// process starts with it. For tests.
void ResetNewMailState();

}  // namespace kestrelon
