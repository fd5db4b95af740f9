// Test-only faults of the file layer: the Nth write, flush, truncate, rename or remove of
// a process fails as it would on a full or failing disk, so that a test can show what a
// caller leaves behind when any one of its file operations fails.
//
// Armed from outside the process by one environment variable:
//
//   KESTRELON_FILE_FAULT="KINDS;N;ERROR;CONTROL[;NAME]"
//
//   KINDS    what is counted, comma-separated: write, flush, truncate, rename, remove, or
//            all. A copy (CopyFileReplace) is one write of its target followed by one
//            rename of it.
//   N        the counted operation that fails, 1 for the first; "N+" fails that one and
//            every later one. 0 fails nothing (the operations are only counted).
//   ERROR    ENOSPC, EIO or EDQUOT: what the failed operation reports (errno on POSIX, the
//            matching Windows error code on Windows). A write failing with ENOSPC or
//            EDQUOT first stores its bytes up to the last 4096-byte boundary of the file
//            inside its range, as a disk that fills up does; other failures store nothing.
//   CONTROL  a small file holding the settings and the count. Each module of a process
//            (a DLL or shared object has its own copy of this layer) and each child that
//            inherits the variable maps it, so N counts over all of them. It is created,
//            with the settings above, when it does not exist; an existing one keeps its
//            settings and count, so remove it before arming a new run.
//   NAME     optional: only files whose path contains this text are counted.
//
// Example: the 5th write of kestrelon-host (and of anything it loads) fails, disk full:
//   rm -f /tmp/f.ctl
//   KESTRELON_FILE_FAULT="write;5;ENOSPC;/tmp/f.ctl" kestrelon-host ...
//   od -An -tu4 -j20 -N8 /tmp/f.ctl    # operations counted, failures made
//
// The control file: little-endian 32-bit words magic "KFF1", kinds (bits: write 1, flush
// 2, truncate 4, rename 8, remove 16), N, flags (1: persistent), error (1 ENOSPC, 2 EIO,
// 3 EDQUOT), counted, failed; then NAME, NUL-terminated, in at most 100 bytes.
//
// A file opened before the layer was attached is not watched. Without the variable every
// file operation pays one test of a flag. A test in one process may attach, arm, lift and
// read the count itself through the functions below.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace platform::file_fault {

enum Kind : unsigned {
  kWrite = 1,
  kFlush = 2,
  kTruncate = 4,
  kRename = 8,
  kRemove = 16,
  kAllKinds = 31,
};

enum class Error : uint32_t { NoSpace = 1, Io = 2, Quota = 3 };

struct Plan {
  unsigned kinds = kAllKinds;
  uint32_t failAt = 0;      // 0: nothing fails
  bool persistent = false;  // every counted operation after failAt fails too
  Error error = Error::NoSpace;
  std::string name;         // when not empty, only paths containing it are counted
};

// Parses the variable's value; false for a malformed one.
bool ParseVariable(const std::string& value, Plan& plan, std::string& controlFile);

// True when this module counts into a control file.
bool Attached();

// Sets KESTRELON_FILE_FAULT to count into `controlFile` (created with nothing armed when
// absent) and attaches this module to it; modules loaded later and child processes follow
// the variable. For a test that arms the layer in its own process.
bool Attach(const std::string& controlFile);
// Unsets the variable and releases the control file in this module.
void Detach();

// Sets the plan in the control file and restarts the count. False when not attached.
bool Arm(const Plan& plan);
// Nothing fails from now on; operations are still counted.
void Lift();
// Counted operations and failures made since the last Arm (or since the file was made).
uint32_t Counted();
uint32_t Failed();

// For the file layer: counts an operation of `kind` on `path` and tells whether it fails,
// and how. Nothing when not attached.
std::optional<Error> Hit(Kind kind, const std::string& path);

// How many of a failing write's `size` bytes at `offset` reach the file first.
size_t BytesWrittenBeforeFailing(Error error, uint64_t offset, size_t size);

}  // namespace platform::file_fault
