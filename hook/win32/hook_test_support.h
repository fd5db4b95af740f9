// What the hook's tests share: a scratch folder that plays the mail client's program
// folder (the window program, with or without the stand-in plug-in as Kestrelon.dll), the
// test log, and the named events that order steps across processes.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/process.h"

namespace hook_test {

class ClientFolder {
 public:
  // A fresh folder holding the window program; the stand-in plug-in too when `withPlugin`.
  // The log starts empty and is what KESTRELON_HOOK_TEST_LOG names from now on.
  explicit ClientFolder(bool withPlugin);
  ~ClientFolder();
  ClientFolder(const ClientFolder&) = delete;
  ClientFolder& operator=(const ClientFolder&) = delete;

  // Copies the stand-in plug-in in as Kestrelon.dll.
  bool AddPlugin();
  // Starts the window program as `name` with `steps` (see test_window.cpp).
  std::unique_ptr<platform::ChildProcess> Start(const std::string& name, const std::vector<std::string>& steps);
  // Runs the window program to its end; its exit code, -1 if it could not be started.
  int Run(const std::string& name, const std::vector<std::string>& steps);
  std::string Log() const;

  // Sets the named event "KestrelonHookTest.NAME" that a window program waits for; waits
  // (at most a minute) for one it sets. The folder keeps its events open until it goes.
  void Signal(const std::string& name);
  bool WaitFor(const std::string& name);

 private:
  void* Event(const std::string& name);

  std::string folder_;
  std::map<std::string, void*> events_;
};

}  // namespace hook_test
