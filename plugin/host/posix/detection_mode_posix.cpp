// Linux: inotify sees every change made through the local kernel. On network file
// systems other machines' writes are not reported, and FUSE file systems report what
// their daemon chooses, so those stand where Windows sees a non-NTFS drive.
#include "plugin/host/detection_mode.h"

#include <sys/vfs.h>

#include <cstdint>

namespace kestrelon {

namespace {

// f_type magic numbers (linux/magic.h and the file systems' own headers).
constexpr uint32_t kUnreliableFileSystems[] = {
    0x6969,      // NFS
    0x517B,      // SMB
    0xFF534D42,  // CIFS
    0xFE534D42,  // SMB2
    0x65735546,  // FUSE
    0x01021997,  // 9P
    0x5346414F,  // AFS
    0x73757245,  // Coda
    0x00C36400,  // Ceph
    0x47504653,  // GPFS
    0x0BD00BD0,  // Lustre
};

}  // namespace

bool SystemNeedsTimerDetection() {
  struct statfs info {};
  if (statfs(".", &info) != 0) return true;
  uint32_t type = static_cast<uint32_t>(info.f_type);
  for (uint32_t unreliable : kUnreliableFileSystems)
    if (type == unreliable) return true;
  return false;
}

}  // namespace kestrelon
