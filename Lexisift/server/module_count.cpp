#include "Lexisift/server/module_count.h"

#include <atomic>

namespace kestrelon::module {

namespace {
std::atomic<long> count{0};
}

void ObjectCreated() { count.fetch_add(1); }
void ObjectDestroyed() { count.fetch_sub(1); }
void Lock() { count.fetch_add(1); }
void Unlock() { count.fetch_sub(1); }
bool CanUnload() { return count.load() == 0; }

}  // namespace kestrelon::module
