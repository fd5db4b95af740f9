#include "platform/console.h"

#include <fcntl.h>
#include <io.h>
#include <stdio.h>

namespace platform {

void UseBinaryStdout() {
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
}

}  // namespace platform
