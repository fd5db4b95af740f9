// inotify on the folder itself (not recursive: the Inbox file lies directly in it).
#include "plugin/host/folder_watch.h"

#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

namespace kestrelon {

FolderWatch::~FolderWatch() { Stop(); }

bool FolderWatch::Start(const std::string& folder) {
  Stop();
  fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (fd_ < 0) return false;
  const uint32_t events = IN_MODIFY | IN_CLOSE_WRITE | IN_CREATE | IN_DELETE | IN_MOVED_TO | IN_MOVED_FROM | IN_ATTRIB;
  if (inotify_add_watch(fd_, folder.c_str(), events) < 0) {
    Stop();
    return false;
  }
  return true;
}

void FolderWatch::Stop() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

bool FolderWatch::Active() const { return fd_ >= 0; }

bool FolderWatch::Wait(uint32_t timeoutMs) {
  if (fd_ < 0) {
    poll(nullptr, 0, static_cast<int>(timeoutMs));
    return false;
  }
  pollfd entry{fd_, POLLIN, 0};
  if (poll(&entry, 1, static_cast<int>(timeoutMs)) <= 0) return false;
  alignas(inotify_event) char buffer[4096];
  bool changed = false;
  while (read(fd_, buffer, sizeof buffer) > 0) changed = true;
  return changed;
}

}  // namespace kestrelon
