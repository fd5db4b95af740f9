// KestrelonStarter.exe: keeps the hook loader armed for the user's session, so that the
// plug-in is brought into the mail client whenever its main window is activated.
//   KestrelonStarter          arm the hook and stay resident, without a visible window
//   KestrelonStarter /stop    end the running starter (and with it the hook)
// One starter runs per session; a second plain start ends at once. The starter also
// ends at log-off.
#pragma once

#include <windows.h>

namespace starter {

// The starter's hidden window: /stop and log-off reach the running starter through it.
inline constexpr char kWindowClass[] = "KestrelonStarter";
inline constexpr char kStopSwitch[] = "/stop";

// Exit codes.
inline constexpr int kDone = 0;
inline constexpr int kHookFailed = 1;     // the hook could not be set
inline constexpr int kStillRunning = 2;   // /stop: the running starter did not end in time
inline constexpr int kBadArguments = 64;

// Arms the hook and runs until stopped; kDone at once when a starter already runs.
int RunStarter(HINSTANCE instance);

// Asks the running starter to end and waits for it; kDone also when none runs.
int StopRunningStarter();

}  // namespace starter
