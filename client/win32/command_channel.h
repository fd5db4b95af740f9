// The stand-in client's command channel: one command a line on standard input, answered
// on standard output. Commands run on the user-interface thread, in order, also while a
// box or dialog of the plug-in is open (its modal loop dispatches them).
#pragma once

#include <windows.h>

#include <string>

namespace kestrelon::client {

class CommandChannel {
 public:
  // Starts reading standard input; each line is posted to `window` as kCommandMessage, the
  // end of input as kInputEndedMessage.
  void Start(HWND window);
  // Writes one line (a line end is added) unbuffered.
  void Write(const std::string& line);
};

}  // namespace kestrelon::client
