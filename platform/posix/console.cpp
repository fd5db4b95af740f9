#include "platform/console.h"

namespace platform {

void UseBinaryStdout() {}

}  // namespace platform
