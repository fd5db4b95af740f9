// CReadOnlyPersistMap: an existing map file opened for lookups only (profile maps). It is
// never checked, locked, written or backed up; other openers may read it, none may write.
#pragma once

#include "Lexisift/store/persist_map.h"

namespace kestrelon {

class CReadOnlyPersistMap : public CPersistMap {
 public:
  explicit CReadOnlyPersistMap(const std::string& path);
};

}  // namespace kestrelon
