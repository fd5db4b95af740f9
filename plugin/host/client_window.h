// What the plug-in's host logic asks of the mail client's user interface: the one seam
// between the portable host (start-up, new-mail passes, Delete Spam, the token view)
// and the client's windows. The Win32 side works on the real main window and its child
// controls; the headless side records what would be shown and answers boxes as a test
// or a user tells it. The host logic never knows which side it runs on.
//
// Every call is made on the thread that owns the main window. Implementations must not
// let an exception escape except where a call says it raises.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kestrelon {

// Whose a message box is: owned by the client's main window, or without owner.
enum class BoxOwner { kNone, kMainWindow };
enum class BoxButtons { kOk, kYesNo };
enum class BoxIcon { kNone, kExclamation };
enum class BoxAnswer { kOk, kYes, kNo };

// The id of the 5-second new-mail timer and the message the shell notification posts
// (WM_USER+5); the same value by design.
constexpr unsigned kNewMailTimerId = 0x405;
constexpr unsigned kNewMailTimerInterval = 5000;
// Event code of a shell notification that a folder's contents changed
// (SHCNE_UPDATEDIR), the second parameter of the notification message.
constexpr uint32_t kUpdateDirectoryEvent = 0x1000;

class IClientWindow {
 public:
  virtual ~IClientWindow() = default;

  // String `id` of the plug-in's string table in the language of the user interface,
  // as LoadString gives it into a buffer of `bufferChars` characters (so at most
  // bufferChars - 1 characters); empty for an id the table lacks.
  virtual std::string LoadText(unsigned id, size_t bufferChars) = 0;

  // A modal message box; returns the button pressed (kOk for an OK box).
  virtual BoxAnswer ShowBox(BoxOwner owner, const std::string& caption, const std::string& text,
                            BoxButtons buttons = BoxButtons::kOk, BoxIcon icon = BoxIcon::kNone) = 0;

  // The client's status bar (msctls_statusbar32). False when none is known yet.
  virtual bool HasStatusBar() = 0;
  // The text of part `part` (SB_GETTEXT into a zeroed 256-byte buffer, so at most 255
  // characters); empty without a status bar.
  virtual std::string StatusText(int part) = 0;
  // Sets the text of part `part` (SB_SETTEXT); does nothing without a status bar.
  virtual void SetStatusText(int part, const std::string& text) = 0;

  // The modeless progress dialog of the first-run scan (dialog 32, caption
  // "Kestrelon", static 1004, progress bar 1012), owned by the main window.
  virtual void OpenProgress() = 0;
  virtual void SetProgressText(const std::string& text) = 0;
  // Range 0 to `maximum` (16 bits, as PBM_SETRANGE takes it) and the step size.
  virtual void SetProgressRange(uint16_t maximum, int step) = 0;
  virtual void StepProgress() = 0;
  virtual void CloseProgress() = 0;

  // The hourglass while a pass or a command runs; RestoreCursor puts back the cursor
  // that ShowWaitCursor replaced.
  virtual void ShowWaitCursor() = 0;
  virtual void RestoreCursor() = 0;

  // The client's message list (the ATL:SysListView32 inside "Outlook Express Message
  // List" inside "Outlook Express Message View"). False when any of them is missing.
  virtual bool HasMessageList() = 0;
  // The header items' texts in column order, each at most 255 characters; empty when
  // the header has no items (or there is no list).
  virtual std::vector<std::string> HeaderTexts() = 0;
  // The next selected row after `row` (LVM_GETNEXTITEM with LVNI_SELECTED; -1 starts
  // at the top); -1 when there is none.
  virtual int NextSelectedRow(int row) = 0;
  // The text of one cell, read into a 512-byte buffer (so at most 511 characters).
  virtual std::string CellText(int row, int column) = 0;

  // Whether the folder tree shows the Inbox selected (its selected item reads string 7).
  virtual bool IsInboxSelected() = 0;

  // New-mail detection. In timer mode a timer on the main window with `id` fires every
  // `intervalMs`; the side calls the host's timer handler for it. Returns the timer's
  // id, 0 when it could not be started.
  virtual uintptr_t ArmTimer(unsigned id, unsigned intervalMs) = 0;
  virtual void DisarmTimer(uintptr_t timerId) = 0;
  // Notification mode: changes anywhere below `storeFolder` (recursive) reach the
  // host's notification handler with kUpdateDirectoryEvent. Returns the registration
  // id, 0 when registration failed.
  virtual unsigned long ArmChangeNotification(const std::string& storeFolder) = 0;
  virtual void DisarmChangeNotification(unsigned long registrationId) = 0;
};

}  // namespace kestrelon
