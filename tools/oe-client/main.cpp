// oe-client: the stand-in mail client's command line over a store folder.
#include "platform/console.h"
#include "tools/oe-client/commands.h"

#include <iostream>

int main(int argc, char** argv) {
  platform::UseBinaryStdout();
  if (argc < 2) {
    std::cerr << oeclient::kUsage;
    return oeclient::kUsageError;
  }
  int rc = oeclient::Run(argv[1], oeclient::Args(argv + 2, argv + argc), std::cout, std::cerr);
  std::cout.flush();
  return rc;
}
