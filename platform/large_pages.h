// Large tables that are filled at random (an index built at every opening of a store)
// cost a page fault per small page touched, and a miss of the address cache per access.
// Where the system offers it, their memory is asked to be backed by large pages instead.
#pragma once

#include <cstddef>

namespace platform {

// A hint for the block [block, block + bytes): nothing happens where the system has no
// such pages for ordinary allocations, or the block is too small to hold one.
void PreferLargePages(void* block, size_t bytes);

// The size of the large pages PreferLargePages asks for, at whose multiples they begin;
// 0 where it asks for none. A table that starts at such a multiple can be covered whole.
size_t LargePageSize();

// Gives the whole pages of [block, block + bytes) their memory now, in one call, instead of
// a fault at the first touch of each: for a table about to be filled all over. A hint
// too: nothing happens where the system cannot.
void FillPagesNow(void* block, size_t bytes);

}  // namespace platform
