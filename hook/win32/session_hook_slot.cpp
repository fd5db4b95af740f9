#include "hook/win32/session_hook_slot.h"

namespace hook {

std::string SessionHookSlotName(DWORD sessionId) {
  return "Local\\KestrelonHelper.Hook" + std::to_string(sizeof(void*) * 8) + "." + std::to_string(sessionId);
}

SessionHookSlot::SessionHookSlot() {
  // Without the session service the process counts as the console's session 0.
  DWORD session = 0;
  if (!ProcessIdToSessionId(GetCurrentProcessId(), &session)) session = 0;
  mapping_ = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(HHOOK),
                                SessionHookSlotName(session).c_str());
  if (!mapping_) return;
  // A new mapping reads as zeros: no hook yet.
  view_ = MapViewOfFile(mapping_, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, sizeof(HHOOK));
  if (view_) slot_ = static_cast<HHOOK volatile*>(view_);
}

SessionHookSlot::~SessionHookSlot() {
  if (view_) UnmapViewOfFile(view_);
  if (mapping_) CloseHandle(mapping_);
}

}  // namespace hook
