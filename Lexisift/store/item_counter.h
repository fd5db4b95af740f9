// The mail counters of any map file, read without taking the shared store's lock.
#pragma once

#include <cstdint>
#include <string>

namespace kestrelon {

// Opens `path` read-only (sharing reading and writing) and packs its first eight bytes:
// low half hamMails, high half spamMails. 0 when the file cannot be opened, its size
// cannot be read, it is empty, or the counters cannot be read (as while a shared-store
// operation holds them locked).
int64_t ReadItemCounter(const std::string& path);

}  // namespace kestrelon
