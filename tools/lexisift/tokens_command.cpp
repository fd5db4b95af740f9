// lexisift tokens [--header FILE] [--body FILE]
// One token table: the header passes over the header file, then the body passes over the
// body file. Prints "<count>\t<token>" per entry in the table's iteration order.
#include "Lexisift/engine/mail_tokenizer.h"
#include "tools/lexisift/cli.h"

#include <cstdio>

namespace lexisift {

int RunTokens(const Args& args) {
  std::string headerPath, bodyPath;
  for (size_t i = 0; i < args.size(); ++i) {
    std::string* target = args[i] == "--header" ? &headerPath : args[i] == "--body" ? &bodyPath : nullptr;
    if (!target || i + 1 >= args.size()) return UsageError("tokens: unexpected argument: " + args[i]);
    *target = args[++i];
  }
  std::string header, body;
  if (!headerPath.empty() && !ReadFileBytes(headerPath, header)) return UsageError("cannot read " + headerPath);
  if (!bodyPath.empty() && !ReadFileBytes(bodyPath, body)) return UsageError("cannot read " + bodyPath);

  kestrelon::TokenTable table;
  kestrelon::MailTokenizer tokenizer;
  tokenizer.TokenizeHeader(header.data(), table);
  tokenizer.TokenizeBody(body.data(), table);
  table.ForEach([](const kestrelon::TokenTable::Entry& e) { std::printf("%u\t%.*s\n", e.count, static_cast<int>(e.key.size()), e.key.data()); });
  return 0;
}

}  // namespace lexisift
