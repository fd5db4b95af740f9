#include "client/win32/command_channel.h"

#include "client/win32/main_window.h"

#include <thread>

namespace kestrelon::client {

void CommandChannel::Start(HWND window) {
  std::thread([window] {
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    std::string pending;
    char buffer[4096];
    DWORD read = 0;
    while (input && input != INVALID_HANDLE_VALUE && ReadFile(input, buffer, sizeof buffer, &read, nullptr) &&
           read > 0) {
      pending.append(buffer, read);
      for (size_t end; (end = pending.find('\n')) != std::string::npos;) {
        std::string line = pending.substr(0, end);
        pending.erase(0, end + 1);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        PostMessageW(window, kCommandMessage, 0, reinterpret_cast<LPARAM>(new std::string(std::move(line))));
      }
    }
    PostMessageW(window, kInputEndedMessage, 0, 0);
  }).detach();
}

void CommandChannel::Write(const std::string& line) {
  HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
  std::string text = line + "\n";
  DWORD written = 0;
  WriteFile(output, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

}  // namespace kestrelon::client
