// lexisift: the classification engine from the command line.
#include "platform/console.h"
#include "tools/lexisift/cli.h"

#include <cstring>
#include <map>

int main(int argc, char** argv) {
  platform::UseBinaryStdout();
  using Command = int (*)(const lexisift::Args&);
  static const std::map<std::string, Command> commands = {
      {"tokens", lexisift::RunTokens},
      {"match", lexisift::RunMatch},
      {"process", lexisift::RunProcess},
      {"learn", lexisift::RunLearn},
      {"score", lexisift::RunScore},
      {"process-dir", lexisift::RunProcessDir},
      {"marker", lexisift::RunMarker},
  };
  if (argc < 2) return lexisift::UsageError("usage: lexisift COMMAND [ARGS...]; commands: tokens, match, process, learn, score, process-dir, marker");
  auto it = commands.find(argv[1]);
  if (it == commands.end()) return lexisift::UsageError(std::string("unknown command: ") + argv[1]);
  return it->second(lexisift::Args(argv + 2, argv + argc));
}
