// How new mail is detected: by the system's change notification on the store folder,
// or by polling every 5 seconds where notifications cannot be trusted.
#pragma once

#include <string>

namespace kestrelon {

// Environment variable that forces a mode on every system: "timer" or "notification"
// (any other value is ignored). For tests and diagnosis, since Wine always reports an
// NTFS drive and a recent Windows.
constexpr const char* kDetectionVariable = "KESTRELON_DETECTION";

// The system's own answer. Windows: timer mode on a system older than major version 5
// or when the current drive's file system is not NTFS (unreadable volume information
// counts as FAT). Linux: timer mode when the current folder lies on a file system whose
// changes inotify does not reliably report (network and FUSE file systems), or whose type
// cannot be read.
bool SystemNeedsTimerDetection();

// The detection-mode test: the override of KESTRELON_DETECTION, else the system's answer.
bool UseTimerDetection();

}  // namespace kestrelon
