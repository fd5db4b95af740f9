// Waiting for a file that another handle holds: the open and the lock are tried again
// with growing pauses until they succeed or the time is up.
#include "platform/file.h"

#include <chrono>
#include <thread>

namespace platform {
namespace {

class Deadline {
 public:
  explicit Deadline(uint32_t waitMs)
      : end_(std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs)) {}
  // Pauses before the next try; false when the time is up.
  bool Pause() {
    auto now = std::chrono::steady_clock::now();
    if (now >= end_) return false;
    std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(pause_, end_ - now));
    if (pause_ < std::chrono::milliseconds(25)) pause_ *= 2;
    return true;
  }

 private:
  std::chrono::steady_clock::time_point end_;
  std::chrono::steady_clock::duration pause_ = std::chrono::milliseconds(1);
};

}  // namespace

bool File::OpenWaiting(const std::string& path, Access access, unsigned share, Disposition disposition,
                       bool randomAccess, uint32_t waitMs) {
  Deadline deadline(waitMs);
  for (;;) {
    if (Open(path, access, share, disposition, randomAccess)) return true;
    if (openError_ != OpenError::InUse || !deadline.Pause()) return false;
  }
}

LockResult File::LockWithin(uint64_t offset, uint64_t length, uint32_t waitMs) {
  Deadline deadline(waitMs);
  for (;;) {
    LockResult result = TryLock(offset, length);
    if (result != LockResult::Busy || !deadline.Pause()) return result;
  }
}

}  // namespace platform
