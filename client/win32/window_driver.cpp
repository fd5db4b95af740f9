#include "client/win32/window_driver.h"

#include <chrono>

namespace kestrelon::client {

namespace {

// Long enough for any command under Wine; a box nobody answers ends the wait.
constexpr auto kReplyTimeout = std::chrono::seconds(60);

}  // namespace

std::vector<std::string> WindowReply::With(const std::string& prefix) const {
  std::vector<std::string> found;
  for (const std::string& line : lines) {
    if (line.size() > prefix.size() && line.compare(0, prefix.size(), prefix) == 0 && line[prefix.size()] == '\t')
      found.push_back(line.substr(prefix.size() + 1));
  }
  return found;
}

std::vector<std::string> Fields(const std::string& line) {
  std::vector<std::string> fields;
  size_t start = 0;
  for (size_t tab; (tab = line.find('\t', start)) != std::string::npos; start = tab + 1)
    fields.push_back(line.substr(start, tab - start));
  fields.push_back(line.substr(start));
  return fields;
}

std::string ProgramFolder() {
  char path[MAX_PATH];
  DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string folder(path, n);
  return folder.substr(0, folder.find_last_of('\\') + 1);
}

WindowDriver::~WindowDriver() {
  if (input_) CloseHandle(input_);  // the window ends when its input ends
  if (process_ && WaitForSingleObject(process_, 30000) != WAIT_OBJECT_0) TerminateProcess(process_, 1);
  if (reader_.joinable()) reader_.join();
  if (output_) CloseHandle(output_);
  if (process_) CloseHandle(process_);
}

bool WindowDriver::Start(const std::string& arguments) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE childInput = nullptr, childOutput = nullptr;
  if (!CreatePipe(&childInput, &input_, &inherit, 0) || !CreatePipe(&output_, &childOutput, &inherit, 0)) return false;
  SetHandleInformation(input_, HANDLE_FLAG_INHERIT, 0);
  SetHandleInformation(output_, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = childInput;
  startup.hStdOutput = childOutput;
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  std::string command = "\"" + ProgramFolder() + "oe-window.exe\" " + arguments;
  PROCESS_INFORMATION info{};
  BOOL started = CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &info);
  CloseHandle(childInput);
  CloseHandle(childOutput);
  if (!started) return false;
  CloseHandle(info.hThread);
  process_ = info.hProcess;
  reader_ = std::thread([this] {
    std::string pending;
    char buffer[4096];
    DWORD read = 0;
    while (ReadFile(output_, buffer, sizeof buffer, &read, nullptr) && read > 0) {
      pending.append(buffer, read);
      std::lock_guard<std::mutex> lock(mutex_);
      for (size_t end; (end = pending.find('\n')) != std::string::npos; pending.erase(0, end + 1)) {
        std::string line = pending.substr(0, end);
        if (line.rfind("dialog\t", 0) == 0) dialogs_.push_back(line.substr(7));
        else lines_.push_back(line);
      }
      arrived_.notify_all();
    }
    std::lock_guard<std::mutex> lock(mutex_);
    ended_ = true;
    arrived_.notify_all();
  });
  return true;
}

void WindowDriver::Write(const std::string& line) {
  std::string text = line + "\n";
  DWORD written = 0;
  WriteFile(input_, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

bool WindowDriver::NextLine(std::string& line) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (!arrived_.wait_for(lock, kReplyTimeout, [this] { return !lines_.empty() || ended_; }) || lines_.empty())
    return false;
  line = std::move(lines_.front());
  lines_.pop_front();
  return true;
}

void WindowDriver::Send(const std::string& line) { Write(line); }

WindowReply WindowDriver::Finish() {
  WindowReply reply;
  std::string line;
  while (NextLine(line)) {
    if (line == "ok") {
      reply.ok = true;
      return reply;
    }
    if (line.rfind("error\t", 0) == 0) {
      reply.error = line.substr(6);
      return reply;
    }
    reply.lines.push_back(line);
  }
  std::lock_guard<std::mutex> lock(mutex_);
  reply.error = ended_ ? "the window ended" : "no reply in time";
  for (const std::string& dialog : dialogs_) reply.error += "; dialog open: " + dialog;
  return reply;
}

WindowReply WindowDriver::Command(const std::string& line) {
  Write(line);
  return Finish();
}

std::string WindowDriver::WaitDialog() {
  std::unique_lock<std::mutex> lock(mutex_);
  if (!arrived_.wait_for(lock, kReplyTimeout, [this] { return !dialogs_.empty() || ended_; }) || dialogs_.empty())
    return {};
  std::string dialog = std::move(dialogs_.front());
  dialogs_.pop_front();
  return dialog;
}

int WindowDriver::Quit() {
  if (!process_) return -1;
  Write("quit");
  Finish();
  if (WaitForSingleObject(process_, 30000) != WAIT_OBJECT_0) return -1;
  DWORD code = 0;
  GetExitCodeProcess(process_, &code);
  return static_cast<int>(code);
}

}  // namespace kestrelon::client
