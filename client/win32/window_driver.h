// Drives the stand-in client's main window (oe-window.exe beside the calling program)
// through its command channel, for tests.
#pragma once

#include <windows.h>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace kestrelon::client {

struct WindowReply {
  bool ok = false;
  std::string error;               // the reason of an "error" reply, or what went wrong
  std::vector<std::string> lines;  // the lines before "ok"

  // The lines that start with `prefix` followed by a tab, without the prefix.
  std::vector<std::string> With(const std::string& prefix) const;
};

// The fields of a tab-separated line.
std::vector<std::string> Fields(const std::string& line);

class WindowDriver {
 public:
  WindowDriver() = default;
  WindowDriver(const WindowDriver&) = delete;
  WindowDriver& operator=(const WindowDriver&) = delete;
  ~WindowDriver();

  // Starts oe-window.exe with `arguments`; false when it cannot be started.
  bool Start(const std::string& arguments);

  // Sends a command and waits for its reply.
  WindowReply Command(const std::string& line);
  // Sends a command whose reply comes later (it opens a box or dialog); Finish waits for it.
  void Send(const std::string& line);
  WindowReply Finish();
  // Waits for the next "dialog" notice: "<caption>\t<text>"; empty after the time-out.
  std::string WaitDialog();

  // Closes the window ("quit") and returns the program's exit code (-1 when it hangs).
  int Quit();

 private:
  bool NextLine(std::string& line);
  void Write(const std::string& line);

  HANDLE process_ = nullptr, input_ = nullptr, output_ = nullptr;
  std::thread reader_;
  std::mutex mutex_;
  std::condition_variable arrived_;
  std::deque<std::string> lines_, dialogs_;
  bool ended_ = false;
};

// The folder of the running program, with a trailing backslash.
std::string ProgramFolder();

}  // namespace kestrelon::client
