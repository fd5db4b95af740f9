#include "hook/win32/hook_test_log.h"

#include <windows.h>

namespace hook_test {
namespace {

std::string Variable(const char* name) {
  char value[MAX_PATH * 2] = {};
  DWORD n = GetEnvironmentVariableA(name, value, sizeof value);
  return n < sizeof value ? std::string(value, n) : std::string();
}

}  // namespace

void AppendLogLine(const std::string& text) {
  std::string path = Variable(kLogVariable);
  if (path.empty()) return;
  HANDLE file = CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  std::string line = Variable(kProgramVariable) + " " + text + "\n";
  DWORD written = 0;
  WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  CloseHandle(file);
}

}  // namespace hook_test
