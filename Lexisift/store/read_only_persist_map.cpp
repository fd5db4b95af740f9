#include "Lexisift/store/read_only_persist_map.h"

namespace kestrelon {

CReadOnlyPersistMap::CReadOnlyPersistMap(const std::string& path) : CPersistMap(Unopened{}) {
  if (!file_.Open(path, platform::Access::Read, platform::kShareRead, platform::Disposition::OpenExisting, true))
    throw StoreError(kErrReadOnlyOpen);
  file_.SkipLockChecks();  // it denies writing to others, so no writer can hold a lock
  file_.MapWrittenPart();
  uint64_t size = 0;
  if (file_.Size(size) && size != 0) ReadMailCounters();
}

}  // namespace kestrelon
