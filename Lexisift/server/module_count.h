// The server's count of live objects and class-factory locks, which decides whether the
// library may be unloaded. Objects of different apartments come and go on different
// threads, so the count is atomic.
#pragma once

namespace kestrelon::module {

void ObjectCreated();
void ObjectDestroyed();
void Lock();
void Unlock();

// True when no object lives and no lock is held.
bool CanUnload();

}  // namespace kestrelon::module
