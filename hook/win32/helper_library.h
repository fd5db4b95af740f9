// KestrelonHelper.dll loaded at run time, the way the starter holds it: by full path from
// a folder, so that no other copy on the library search path is taken, and with the
// plain export names that every build of the library has.
#pragma once

#include <windows.h>

#include <string>

namespace hook {

class HelperLibrary {
 public:
  // Loads KestrelonHelper.dll from `folder`; Loaded() says whether it and its exports
  // were found. The library stays loaded as long as this object lives.
  explicit HelperLibrary(const std::string& folder);
  ~HelperLibrary();
  HelperLibrary(const HelperLibrary&) = delete;
  HelperLibrary& operator=(const HelperLibrary&) = delete;

  bool Loaded() const { return setHook_ && deleteHook_; }
  HMODULE Module() const { return module_; }
  HHOOK SetHook() const { return setHook_(); }
  BOOL DeleteHook() const { return deleteHook_(); }

 private:
  HMODULE module_ = nullptr;
  HHOOK(WINAPI* setHook_)() = nullptr;
  BOOL(WINAPI* deleteHook_)() = nullptr;
};

// The folder of the running program.
std::string ProgramFolder();

}  // namespace hook
