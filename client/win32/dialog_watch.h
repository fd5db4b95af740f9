// Watches the dialog boxes and message boxes that open on the client's user-interface
// thread (the plug-in's among them): answers a box with a button queued beforehand,
// reports a box that nobody answered, and keeps what every closed box showed.
#pragma once

#include <windows.h>

#include <deque>
#include <string>
#include <vector>

namespace kestrelon::client {

class DialogWatch {
 public:
  // Hooks the calling thread; activations are posted to `notify` as kDialogMessage.
  bool Install(HWND notify);
  void Uninstall();

  // The button (IDOK, IDYES, ...) to press on the next box that has such a button.
  void QueueAnswer(int buttonId) { answers_.push_back(buttonId); }
  size_t QueuedAnswers() const { return answers_.size(); }

  // Handles kDialogMessage: presses a queued answer when the box has that button and
  // returns true; otherwise returns false and the box stays open.
  bool OnActivated(HWND dialog);

  // The open dialog on top (the last activated that still exists and is enabled).
  HWND Top() const;

  // Lines describing each dialog closed since the last call (see Describe), oldest first.
  std::vector<std::string> TakeClosed();

  // "<caption>" followed by one line per control: "control\t<id>\t<class>\t<text>\t<flags>"
  // (flags: checked, disabled, hidden, range=LO-HI, pos=N), and for a list view its
  // columns and rows ("column\t<n>\t<text>\t<width>", "row\t<n>\t<cell>\t<cell>...").
  static std::vector<std::string> Describe(HWND dialog);

 private:
  static LRESULT CALLBACK Hook(int code, WPARAM wParam, LPARAM lParam);
  void OnDestroy(HWND dialog);

  HHOOK hook_ = nullptr;
  HWND notify_ = nullptr;
  std::deque<int> answers_;
  std::vector<HWND> open_;
  std::vector<std::pair<HWND, int>> answered_;
  std::vector<std::string> closed_;
};

// A window's text as UTF-8 with tabs, line ends and backslashes escaped (\t \r \n \\).
std::string EscapedText(const std::wstring& text);
std::string WindowTextOf(HWND window);

}  // namespace kestrelon::client
