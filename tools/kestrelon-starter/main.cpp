// KestrelonStarter.exe: a Windows program without a console (see starter.h).
#include <windows.h>

#include <string>

#include "tools/kestrelon-starter/starter.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
  std::string args = commandLine ? commandLine : "";
  size_t first = args.find_first_not_of(" \t");
  args = first == std::string::npos ? std::string() : args.substr(first, args.find_last_not_of(" \t") - first + 1);
  if (args.empty()) return starter::RunStarter(instance);
  if (lstrcmpiA(args.c_str(), starter::kStopSwitch) == 0) return starter::StopRunningStarter();
  return starter::kBadArguments;
}
