#include "Lexisift/engine/test_support/token_pattern_check.h"

#include "Lexisift/engine/token_patterns.h"
#include "shared/pattern.h"

#include <string>

namespace kestrelon::testing {

namespace {

using Finder = bool (*)(std::string_view, size_t, TextSpan&);

// The sweep from every position costs one general search per byte: over longer subjects
// it took the fuzzer below a hundred inputs a second.
constexpr size_t kEveryPositionLimit = 256;

std::string Describe(const char* pattern, size_t from, bool general, size_t gs, size_t ge, bool fast, size_t fs, size_t fe) {
  auto span = [](bool found, size_t s, size_t e) {
    return found ? "[" + std::to_string(s) + ", " + std::to_string(e) + ")" : std::string("none");
  };
  return std::string(pattern) + " from " + std::to_string(from) + ": general " + span(general, gs, ge) + ", finder " +
         span(fast, fs, fe);
}

// The pattern and its finder searching `subject` from `at`.
std::string CompareAt(Pattern& pattern, const char* text, Finder finder, std::string_view subject, size_t at,
                      size_t& end) {
  PatternMatch m;
  TextSpan fast;
  bool general = pattern.Search(subject, at, m);
  bool found = finder(subject, at, fast);
  end = general ? m.end : subject.size();
  if (pattern.HitSearchLimit()) return "";  // the general matcher gave up: nothing to compare
  if (general != found || (general && (m.start != fast.start || m.end != fast.end)))
    return Describe(text, at, general, m.start, m.end, found, fast.start, fast.end);
  return "";
}

// Every match from `from` on, each search starting where the last match ended (as the
// tokenizer searches); for short subjects, a search from every position too.
std::string Compare(const char* text, bool caseSensitive, Finder finder, std::string_view subject, size_t from) {
  Pattern pattern;
  if (pattern.Compile(text, caseSensitive) != kPatternOk) return std::string("cannot compile ") + text;
  size_t end = 0;
  for (size_t at = from; at < subject.size(); at = end)
    if (std::string d = CompareAt(pattern, text, finder, subject, at, end); !d.empty() || end <= at) return d;
  if (subject.size() > kEveryPositionLimit) return "";
  for (size_t at = from; at <= subject.size(); ++at)
    if (std::string d = CompareAt(pattern, text, finder, subject, at, end); !d.empty()) return d;
  return "";
}

// The first link is only ever looked for from the start of the text.
bool FirstLinkFromStart(std::string_view text, size_t, TextSpan& match) {
  return token_patterns::FindFirstLink(text, match);
}

}  // namespace

std::string TokenPatternDifference(std::string_view text, size_t from) {
  using namespace token_patterns;
  std::string difference = Compare(kLink, false, FindLink, text, from);
  if (difference.empty()) difference = Compare(kNumber, true, FindNumber, text, from);
  if (difference.empty()) difference = Compare(kMarkup, false, FindMarkup, text, from);
  if (difference.empty()) {
    Pattern firstLink;
    firstLink.Compile(kFirstLink, false);
    size_t end = 0;
    difference = CompareAt(firstLink, kFirstLink, FirstLinkFromStart, text, 0, end);
  }
  for (std::string_view name : kHeaderFields) {
    if (!difference.empty()) break;
    std::string full = std::string(name) + kFieldValue;
    Pattern pattern;
    pattern.Compile(full, false);
    PatternMatch m;
    TextSpan match, value;
    bool general = pattern.Search(text, 0, m);
    bool found = FindHeaderField(text, name, match, value);
    if (pattern.HitSearchLimit()) continue;
    if (general != found ||
        (general && (m.start != match.start || m.end != match.end ||
                     m.groups[0].start != static_cast<ptrdiff_t>(value.start) ||
                     m.groups[0].end != static_cast<ptrdiff_t>(value.end))))
      difference = Describe(full.c_str(), 0, general, m.start, m.end, found, match.start, match.end);
  }
  return difference;
}

}  // namespace kestrelon::testing
