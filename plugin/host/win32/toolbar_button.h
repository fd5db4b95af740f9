// The "Delete Spam" button on the client's main toolbar: found on every child window the
// main window creates, added with pictures that fit the toolbar's icon size, and kept
// enabled while the Inbox is shown.
#pragma once

#include "plugin/host/win32/win32_client_window.h"

namespace kestrelon {

constexpr int kDeleteSpamCommand = 30101;

// Finds the client's toolbars and status bar, adds the button when the toolbar lacks it
// and subclasses the toolbar once.
void SetUpToolbar(Win32ClientWindow& client);

// Adds the button's pictures, text and button to the main toolbar (replacing an earlier
// button of the same command).
void AddDeleteSpamButton(Win32ClientWindow& client);

}  // namespace kestrelon
