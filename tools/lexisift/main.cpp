// lexisift: the classification engine from the command line.
#include "platform/console.h"
#include "platform/com_activation.h"
#include "tools/lexisift/cli.h"
#include "tools/lexisift/server_access.h"

#include <cstring>
#include <map>

int main(int argc, char** argv) {
  platform::UseBinaryStdout();
  using Command = int (*)(const lexisift::Args&);
  static const std::map<std::string, Command> commands = {
      {"tokens", lexisift::RunTokens},
      {"match", lexisift::RunMatch},
      {"stats", lexisift::RunStats},
      {"dump", lexisift::RunDump},
      {"check", lexisift::RunCheck},
      {"process", lexisift::RunProcess},
      {"learn", lexisift::RunLearn},
      {"score", lexisift::RunScore},
      {"process-dir", lexisift::RunProcessDir},
      {"marker", lexisift::RunMarker},
      {"register", lexisift::RunRegister},
      {"unregister", lexisift::RunUnregister},
  };
  if (argc < 2)
    return lexisift::UsageError(
        "usage: lexisift COMMAND [ARGS...]; commands: tokens, match, stats, dump, check, process, learn, score, "
        "process-dir, marker, register, unregister");
  auto it = commands.find(argv[1]);
  if (it == commands.end()) return lexisift::UsageError(std::string("unknown command: ") + argv[1]);
  platform::ComInitialize();
  int status = it->second(lexisift::Args(argv + 2, argv + argc));
  platform::ComUninitialize();
  return status;
}
