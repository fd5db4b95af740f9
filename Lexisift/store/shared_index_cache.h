// The chain indexes of the stores this process opens for one operation at a time (the
// shared store and its profile), kept between openings. Building an index reads the
// whole file, which costs more than the operation itself. Store operations change a file
// only by appending records (and linking them) or by starting it over; a file that has
// the same size and still holds the same last record as when its index was put back has
// had neither since, and counters changed in place do not touch an index.
#pragma once

#include "Lexisift/store/chain_index.h"

#include <memory>
#include <string>

namespace kestrelon {

// The index kept for `path`, or nullptr; the caller validates it against its open file.
std::unique_ptr<ChainIndex> TakeSharedIndex(const std::string& path);

// Keeps `index` for `path`, replacing an older one; only the few most recent are kept.
void KeepSharedIndex(const std::string& path, std::unique_ptr<ChainIndex> index);

// Drops every kept index. A kept index assumes that between two openings only store
// operations change the file; tests that change a store by hand start over with this,
// as a new process would.
void ForgetSharedIndexes();

// True when `file` of `size` bytes still matches `index`: the same size, and the index's
// last record read back unchanged (its length byte, key and terminator).
bool IndexStillHolds(const ChainIndex& index, platform::File& file, uint64_t size);

}  // namespace kestrelon
