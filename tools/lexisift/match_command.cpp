// lexisift match [--icase] PATTERN FILE [START]
// Exit 0 with "match" and "group" lines, 1 for no match, 2 when the pattern does not compile,
// 3 with "steplimit" when the search gave up at its step limit (the text may still match).
#include "shared/pattern.h"
#include "tools/lexisift/cli.h"

#include <cstdio>

namespace lexisift {

namespace {

bool ParsePosition(const std::string& text, size_t& value) {
  if (text.empty() || text.size() > 18) return false;
  value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<size_t>(c - '0');
  }
  return true;
}

}  // namespace

int RunMatch(const Args& args) {
  bool caseSensitive = true;
  Args positional;
  for (const std::string& arg : args) {
    if (arg == "--icase" && positional.empty())
      caseSensitive = false;
    else if (arg.size() > 2 && arg.compare(0, 2, "--") == 0 && positional.empty())
      return UsageError("match: unknown option: " + arg);
    else
      positional.push_back(arg);
  }
  if (positional.size() < 2 || positional.size() > 3)
    return UsageError("usage: lexisift match [--icase] PATTERN FILE [START]");
  size_t start = 0;
  if (positional.size() == 3 && !ParsePosition(positional[2], start))
    return UsageError("match: START must be a byte offset: " + positional[2]);
  std::string bytes;
  if (!ReadFileBytes(positional[1], bytes)) return UsageError("cannot read " + positional[1]);
  std::string text = UpToFirstNul(std::move(bytes));

  kestrelon::Pattern pattern;
  if (int code = pattern.Compile(positional[0], caseSensitive); code != kestrelon::kPatternOk) {
    std::printf("error %d\n", code);
    return 2;
  }
  kestrelon::PatternMatch m;
  if (!pattern.Search(text, start, m)) {
    if (pattern.HitSearchLimit()) {
      std::printf("steplimit\n");
      return 3;
    }
    std::printf("nomatch\n");
    return 1;
  }
  std::printf("match %zu %zu\n", m.start, m.end);
  for (size_t g = 0; g < m.groups.size(); ++g)
    if (m.groups[g].TookPart())
      std::printf("group %zu %td %td\n", g, m.groups[g].start, m.groups[g].end);
  return 0;
}

}  // namespace lexisift
