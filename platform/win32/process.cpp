#include "platform/process.h"

#include <windows.h>

namespace platform {
namespace {

// Quotes one argument the way the C runtime's command-line parser reads it back.
std::string Quote(const std::string& arg) {
  if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) return arg;
  std::string out = "\"";
  size_t slashes = 0;
  for (char c : arg) {
    if (c == '\\') {
      ++slashes;
    } else if (c == '"') {
      out.append(slashes * 2 + 1, '\\');
      slashes = 0;
    } else {
      slashes = 0;
    }
    out += c;
  }
  out.append(slashes, '\\');
  return out + "\"";
}

}  // namespace

ChildProcess::~ChildProcess() {
  if (process_) {
    int code;
    Kill();
    Wait(code);
  }
}

bool ChildProcess::Start(const std::string& program, const std::vector<std::string>& args) {
  if (process_) return false;
  std::string line = Quote(program);
  for (const std::string& a : args) line += " " + Quote(a);
  STARTUPINFOA si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessA(program.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
    return false;
  CloseHandle(pi.hThread);
  process_ = pi.hProcess;
  return true;
}

bool ChildProcess::Wait(int& exitCode) {
  if (!process_) return false;
  WaitForSingleObject(static_cast<HANDLE>(process_), INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(static_cast<HANDLE>(process_), &code);
  CloseHandle(static_cast<HANDLE>(process_));
  process_ = nullptr;
  exitCode = code == 0xDEAD ? -1 : static_cast<int>(code);
  return true;
}

bool ChildProcess::Kill() { return process_ && TerminateProcess(static_cast<HANDLE>(process_), 0xDEAD); }

bool ChildProcess::Running() const {
  return process_ && WaitForSingleObject(static_cast<HANDLE>(process_), 0) == WAIT_TIMEOUT;
}

std::string CurrentExecutablePath() {
  char buffer[MAX_PATH * 4];
  DWORD n = GetModuleFileNameA(nullptr, buffer, sizeof buffer);
  return std::string(buffer, n);
}

}  // namespace platform
