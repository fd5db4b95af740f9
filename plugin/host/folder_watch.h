// Changes in one folder, for the headless host's loop: the stand-in for the shell's
// change notification that the client's main window receives on Windows.
#pragma once

#include <cstdint>
#include <string>

namespace kestrelon {

class FolderWatch {
 public:
  FolderWatch() = default;
  ~FolderWatch();
  FolderWatch(const FolderWatch&) = delete;
  FolderWatch& operator=(const FolderWatch&) = delete;

  // Starts watching the files of `folder` (writes, creations, renames, deletions).
  bool Start(const std::string& folder);
  void Stop();
  bool Active() const;

  // Waits at most `timeoutMs` for changes; true when there were some (all pending
  // changes are taken at once).
  bool Wait(uint32_t timeoutMs);

 private:
#ifdef _WIN32
  void* handle_ = nullptr;
#else
  int fd_ = -1;
#endif
};

}  // namespace kestrelon
