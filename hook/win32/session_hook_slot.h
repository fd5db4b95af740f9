// The hook handle of one user's session. Every process of the session that has the hook
// library loaded (the starter, the mail client) reads and writes the same handle, kept in
// a small named shared-memory object whose name holds the session id and the library's
// bitness. With fast user switching several users are logged on at once, each in a
// session of their own with their own starter: none of them touches another's hook.
#pragma once

#include <windows.h>

#include <string>

namespace hook {

// "Local\KestrelonHelper.Hook<bits>.<session id>": the object's name for `sessionId`.
std::string SessionHookSlotName(DWORD sessionId);

class SessionHookSlot {
 public:
  // Opens the slot of the calling process's session, creating it (holding null) when no
  // process of the session has it open yet. When it cannot be opened at all, the slot
  // lives in this process only.
  SessionHookSlot();
  ~SessionHookSlot();
  SessionHookSlot(const SessionHookSlot&) = delete;
  SessionHookSlot& operator=(const SessionHookSlot&) = delete;

  HHOOK Load() const { return *slot_; }
  // One aligned pointer-sized store, seen by every process of the session.
  void Store(HHOOK hook) { *slot_ = hook; }

 private:
  HANDLE mapping_ = nullptr;
  void* view_ = nullptr;
  HHOOK local_ = nullptr;
  HHOOK volatile* slot_ = &local_;
};

}  // namespace hook
