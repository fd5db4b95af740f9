#include "hook/win32/hook_test_support.h"

#include <windows.h>

#include <fstream>
#include <sstream>

#include "hook/win32/hook_test_log.h"
#include "hook/win32/helper_library.h"

namespace hook_test {
namespace {

std::string LogPath(const std::string& folder) { return folder + "\\test.log"; }

}  // namespace

ClientFolder::ClientFolder(bool withPlugin) {
  char temp[MAX_PATH];
  GetTempPathA(sizeof temp, temp);
  static int count = 0;
  folder_ = std::string(temp) + "kestrelon-hook-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++count);
  CreateDirectoryA(folder_.c_str(), nullptr);
  CopyFileA((hook::ProgramFolder() + "\\hook_test_window.exe").c_str(), (folder_ + "\\hook_test_window.exe").c_str(), FALSE);
  if (withPlugin) AddPlugin();
  DeleteFileA(LogPath(folder_).c_str());
  SetEnvironmentVariableA(kLogVariable, LogPath(folder_).c_str());
  SetEnvironmentVariableA(kProgramVariable, "driver");
  SetEnvironmentVariableA(kHelperVariable, (hook::ProgramFolder() + "\\KestrelonHelper.dll").c_str());
}

ClientFolder::~ClientFolder() {
  for (auto& [name, event] : events_) CloseHandle(event);
  for (const char* name : {"hook_test_window.exe", "Kestrelon.dll", "test.log"}) DeleteFileA((folder_ + "\\" + name).c_str());
  RemoveDirectoryA(folder_.c_str());
}

bool ClientFolder::AddPlugin() {
  return CopyFileA((hook::ProgramFolder() + "\\hook_test_plugin.dll").c_str(), (folder_ + "\\Kestrelon.dll").c_str(), FALSE);
}

std::unique_ptr<platform::ChildProcess> ClientFolder::Start(const std::string& name,
                                                            const std::vector<std::string>& steps) {
  std::vector<std::string> args{name};
  args.insert(args.end(), steps.begin(), steps.end());
  auto child = std::make_unique<platform::ChildProcess>();
  if (!child->Start(folder_ + "\\hook_test_window.exe", args)) return nullptr;
  return child;
}

int ClientFolder::Run(const std::string& name, const std::vector<std::string>& steps) {
  auto child = Start(name, steps);
  int code = -1;
  if (child) child->Wait(code);
  return code;
}

std::string ClientFolder::Log() const {
  std::ifstream in(LogPath(folder_), std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void* ClientFolder::Event(const std::string& name) {
  void*& event = events_[name];
  if (!event) event = CreateEventA(nullptr, TRUE, FALSE, ("KestrelonHookTest." + name).c_str());
  return event;
}

void ClientFolder::Signal(const std::string& name) { SetEvent(Event(name)); }

bool ClientFolder::WaitFor(const std::string& name) { return WaitForSingleObject(Event(name), 60000) == WAIT_OBJECT_0; }

}  // namespace hook_test
