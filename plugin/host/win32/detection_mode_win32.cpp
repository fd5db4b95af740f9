// Windows: the shell's change notification is used on NT 5 and later with an NTFS
// current drive; everywhere else the 5-second timer.
#include "plugin/host/detection_mode.h"

#include <windows.h>

#include <algorithm>
#include <cctype>
#include <string>

namespace kestrelon {

bool SystemNeedsTimerDetection() {
  OSVERSIONINFOA version{};
  version.dwOSVersionInfoSize = sizeof version;
  if (GetVersionExA(&version) && version.dwMajorVersion < 5) return true;
  char name[MAX_PATH + 1] = {};
  std::string fileSystem = "FAT";
  if (GetVolumeInformationA(nullptr, nullptr, 0, nullptr, nullptr, nullptr, name, sizeof name)) fileSystem = name;
  std::transform(fileSystem.begin(), fileSystem.end(), fileSystem.begin(),
                 [](unsigned char c) { return char(std::tolower(c)); });
  return fileSystem.find("ntfs") == std::string::npos;
}

}  // namespace kestrelon
