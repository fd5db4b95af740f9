// What makes a single-writer store file usable, and the recovery of one that is not.
#pragma once

#include "platform/file.h"

#include <cstdint>
#include <string>

namespace kestrelon {

enum class Recovery {
  None,
  RestoredBackup,  // the damaged file was replaced by its sound backup
  MovedAside,      // no sound backup: the damaged file became "<path>.corrupt"
};

// A store file that can be used as it is: it passes the consistency check, or it is the
// bucket table of a store that holds no records yet (which the check, counting records,
// calls damaged). `size` is the file's size.
bool IsSoundMapFile(platform::File& file, uint64_t size);
// The same for the file at `path`; false when it cannot be read.
bool IsSoundMapFile(const std::string& path);

// For a damaged store at `path` that nobody has open: puts "<path>.bak" in its place when
// the backup is sound, else moves the file to "<path>.corrupt", replacing an older one.
// Raises StoreError when the one due cannot be done; the files then stay as they are.
Recovery RecoverMapFile(const std::string& path);

// What a recovery of the store at `path` did, in a sentence for the event log.
std::string RecoveryNotice(const std::string& path, Recovery recovery);

}  // namespace kestrelon
