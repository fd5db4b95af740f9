// dbxtool: creates, fills and reads the mail client's message files.
#include "platform/console.h"
#include "tools/dbxtool/commands.h"

#include <map>

int main(int argc, char** argv) {
  platform::UseBinaryStdout();
  using Command = int (*)(const dbxtool::Args&);
  static const std::map<std::string, Command> commands = {
      {"create", dbxtool::RunCreate}, {"append", dbxtool::RunAppend}, {"delete", dbxtool::RunDelete},
      {"list", dbxtool::RunList},     {"read", dbxtool::RunRead},     {"save", dbxtool::RunSave},
  };
  if (argc < 2) return dbxtool::UsageError("usage: dbxtool COMMAND [ARGS...]; commands: create, append, delete, list, read, save");
  auto it = commands.find(argv[1]);
  if (it == commands.end()) return dbxtool::UsageError(std::string("unknown command: ") + argv[1]);
  return it->second(dbxtool::Args(argv + 2, argv + argc));
}
