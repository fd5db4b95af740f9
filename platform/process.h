// Child processes: start a program, wait for it, or end it at once (as a crash would).
#pragma once

#include <string>
#include <vector>

namespace platform {

class ChildProcess {
 public:
  ChildProcess() = default;
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Starts `program` with `args` (not including the program name).
  bool Start(const std::string& program, const std::vector<std::string>& args);
  // Waits for the end; `exitCode` is the program's exit code, or -1 when it was killed.
  bool Wait(int& exitCode);
  // Ends the process at once without letting it clean up (SIGKILL, TerminateProcess).
  bool Kill();
  bool Running() const;

 private:
#ifdef _WIN32
  void* process_ = nullptr;
#else
  int pid_ = -1;
#endif
};

// The full path of the running executable.
std::string CurrentExecutablePath();

}  // namespace platform
