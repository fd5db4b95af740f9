// The failure the token store raises: its what() is the exact message text.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace kestrelon {

class StoreError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The store could not be opened because another program kept it for longer than an
// opener waits (kStoreWaitMs). Its what() is the opening's usual message text.
class StoreBusy : public StoreError {
 public:
  using StoreError::StoreError;
};

// How long an opener waits for a store that another program has open or locked.
inline constexpr uint32_t kStoreWaitMs = 5000;

// The message texts.
inline constexpr const char* kErrFileNotFound = "GetKeyPos(): File not Found";
inline constexpr const char* kErrSeek = "Error while seeking in File.";
inline constexpr const char* kErrRead = "GetKeyPos(): Error while reading from File.";
inline constexpr const char* kErrSave = "SetItem(): Error while saving Key to Disk.";
inline constexpr const char* kErrOpen = "CPersistMap(): Can't open or create the MapFile on Disk.";
inline constexpr const char* kErrSize = "CPersistMap(): Can't determine MapFile Size.";
inline constexpr const char* kErrLockedOpen = "CreateLockedPersistMap(): Can't open or create the MapFile on Disk.";
inline constexpr const char* kErrLockedSize = "CreateLockedPersistMap(): Can't determine MapFile Size.";
inline constexpr const char* kErrReadOnlyOpen =
    "CReadOnlyPersistMap(): Can't open existing the MapFile read-only on Disk.";
// Keys must be 1 to 22 bytes; the store refuses others before touching the file.
inline constexpr const char* kErrKeyLength = "GetKeyPos(): Key length out of range.";

}  // namespace kestrelon
