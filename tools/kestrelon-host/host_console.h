// The headless host's commands: one line of text in, the lines of what it caused out.
#pragma once

#include "plugin/host/headless_client_window.h"
#include "plugin/host/plugin_data.h"

#include <functional>
#include <string>
#include <vector>

namespace kestrelon::host {

// Splits a command line into words: blanks separate, double quotes group (a backslash
// inside quotes takes the next character as it is).
bool SplitWords(const std::string& line, std::vector<std::string>& words);

// How a box with Yes and No is answered: always the same, or by asking the user.
enum class AnswerMode { kYes, kNo, kAsk };

class HostConsole {
 public:
  // `print` receives every output line (without line end); `ask` answers boxes in
  // AnswerMode::kAsk.
  HostConsole(HeadlessClientWindow& window, std::function<void(const std::string&)> print, AnswerMode answer,
              HeadlessClientWindow::Answerer ask = {});

  // Attaches to the current identity as the plug-in does; false (after the start-up
  // failure box) when start-up failed.
  bool Attach(HostOptions options = {});

  // Runs one command line; false when it was "quit" (the plug-in is then torn down).
  // Unknown or malformed commands print "error\t<message>".
  bool Execute(const std::string& line);

  // Delivers one detection event from the window's loop.
  void Deliver(HeadlessClientWindow::Event event);

  // Tears the plug-in down (as the main window's WM_DESTROY does) once.
  void Detach();

 private:
  void Fail(const std::string& message);
  bool Select(const std::vector<std::string>& words);
  bool SelectIds(const std::vector<std::string>& words);
  void Tokens();
  void PrintSettings();
  bool Set(const std::vector<std::string>& words);

  HeadlessClientWindow& window_;
  std::function<void(const std::string&)> print_;
  AnswerMode answer_;
  HeadlessClientWindow::Answerer ask_;
  bool attached_ = false;
};

}  // namespace kestrelon::host
