// The client main window the plug-in is attached to in this process, with the export the
// hook loader calls to attach it.
#pragma once

#include "plugin/host/win32/win32_client_window.h"

#include <windows.h>

// Attaches the plug-in to a main window of the mail client. Every window of the calling
// process that is given is marked with the property "OrigProc" (its window procedure), so
// the hook loader offers it only once; a window of another process is left untouched.
// Returns 1 for a window of another process, for a window that is not a client main
// window, for a window that already carries the mark, or for a second main window while
// the plug-in is attached to another one in this process (it waits, subclassed, and the
// plug-in moves to it when the attached window closes); 0 when start-up failed (its
// message box was shown); on success the window procedure that the plug-in's replaced.
extern "C" LONG_PTR WINAPI AttachOutlookExpressPlugin(HWND window);

namespace kestrelon {

// The client window the plug-in is attached to, or null.
Win32ClientWindow* AttachedClientWindow();

}  // namespace kestrelon
