// Fuzzes compile and search: random patterns over random texts must compile or fail with
// a valid code, and every match must lie inside the text.
#include "shared/pattern.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  bool caseSensitive = data[0] & 1;
  size_t startHint = data[1];
  std::string_view rest(reinterpret_cast<const char*>(data + 2), size - 2);
  size_t cut = rest.find('\0');
  std::string_view patternText = rest.substr(0, cut);
  std::string_view text = cut == std::string_view::npos ? std::string_view() : rest.substr(cut + 1);

  kestrelon::Pattern pattern;
  int code = pattern.Compile(patternText, caseSensitive);
  if (code < 0 || code > 10) std::abort();
  kestrelon::PatternMatch m;
  size_t start = text.empty() ? 0 : startHint % text.size();
  for (int i = 0; i < 4 && pattern.Search(text, start, m); ++i) {
    if (m.start < start || m.end < m.start || m.end > text.size()) std::abort();
    for (const auto& g : m.groups)
      if (g.TookPart() && (g.end > static_cast<ptrdiff_t>(text.size()))) std::abort();
    if (m.end == m.start) break;
    start = m.end;
  }
  return 0;
}
