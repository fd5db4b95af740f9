// KestrelonHelper.dll: a system-wide window hook that brings the plug-in into the mail
// client's process. A starter program loads the library, calls SetHook once, keeps the
// library loaded while the client may be started, and calls DeleteHook at the end.
#pragma once

#include <windows.h>

extern "C" {

// The hook procedure; offers each newly activated client main window to Kestrelon.dll.
LRESULT CALLBACK CBTHookProc(int code, WPARAM wParam, LPARAM lParam);

// Removes the current hook, wherever it was set. 0 when there is none, else the result
// of UnhookWindowsHookEx.
BOOL WINAPI DeleteHook();

// Installs the hook for all threads of the desktop; returns its handle, null on failure.
HHOOK WINAPI SetHook();
}
