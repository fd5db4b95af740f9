#include "plugin/host/detection_mode.h"

#include <cstdlib>
#include <cstring>

namespace kestrelon {

bool UseTimerDetection() {
  if (const char* forced = std::getenv(kDetectionVariable)) {
    if (std::strcmp(forced, "timer") == 0) return true;
    if (std::strcmp(forced, "notification") == 0) return false;
  }
  return SystemNeedsTimerDetection();
}

}  // namespace kestrelon
