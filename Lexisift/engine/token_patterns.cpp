#include "Lexisift/engine/token_patterns.h"

#include "shared/ascii_text.h"

#include <cstdint>
#include <cstring>

namespace kestrelon::token_patterns {

namespace {

// A character class as a table of the 256 byte values. None of the classes below holds
// a letter, so a case-insensitive pattern, which lowers the text before testing it,
// tests the original byte alike.
struct ByteClass {
  std::array<bool, 256> has{};
  constexpr ByteClass(std::string_view bytes, bool negated) {
    for (auto& b : has) b = negated;
    for (char c : bytes) has[static_cast<uint8_t>(c)] = !negated;
  }
  bool operator()(char c) const { return has[static_cast<uint8_t>(c)]; }
};

constexpr ByteClass kDigit("0123456789", false);
constexpr ByteClass kSeparator(".,", false);
constexpr ByteClass kLinkHost(" /\r\n", true);      // [^ /\r\n]
constexpr ByteClass kLinkRest(" \r\n", true);       // [^ \r\n]
constexpr ByteClass kLineRest("\r\n", true);        // [^\r\n]
constexpr ByteClass kSpace(" ", false);

// The end of the run of `cls` that begins at `at`.
size_t RunEnd(std::string_view text, size_t at, const ByteClass& cls) {
  while (at < text.size() && cls(text[at])) ++at;
  return at;
}

// The first position at or after `from` that holds `c`, or the text's size.
size_t Next(std::string_view text, size_t from, char c) {
  if (from >= text.size()) return text.size();
  const void* found = std::memchr(text.data() + from, c, text.size() - from);
  return found ? static_cast<size_t>(static_cast<const char*>(found) - text.data()) : text.size();
}

bool HasAt(std::string_view text, size_t at, std::string_view literal) {
  return at <= text.size() && text.size() - at >= literal.size() && EqualsNoCase(text.substr(at, literal.size()), literal);
}

// "http.?://" at `at`, compared without case: the end of the scheme, or 0. The optional
// byte is tried first, as the greedy `?` does.
size_t SchemeEnd(std::string_view text, size_t at) {
  if (!HasAt(text, at, "http")) return 0;
  if (at + 4 < text.size() && HasAt(text, at + 5, "://")) return at + 8;
  if (HasAt(text, at + 4, "://")) return at + 7;
  return 0;
}

}  // namespace

bool FindLink(std::string_view text, size_t from, TextSpan& match) {
  // Every match holds "://" four or five bytes after its start; the colons are rare, so
  // the search goes from colon to colon and tries the two starts each one allows. A
  // start that fits is found at the first colon that allows it, so the leftmost match
  // comes first.
  for (size_t colon = Next(text, from + 4, ':'); colon < text.size(); colon = Next(text, colon + 1, ':')) {
    for (size_t back : {size_t{5}, size_t{4}}) {
      if (colon < from + back) continue;
      size_t start = colon - back;
      if (size_t host = SchemeEnd(text, start)) {
        match = {start, RunEnd(text, host, kLinkHost)};
        return true;
      }
    }
  }
  return false;
}

bool FindNumber(std::string_view text, size_t from, TextSpan& match) {
  // A match is a run of digits followed by separators and a digit. Any start inside
  // such a digit run gives the same continuation, so the leftmost match starts at the
  // run's first digit (or at `from`). The search goes from separator to separator: the
  // two kinds are found separately and taken in order.
  size_t dot = Next(text, from, '.'), comma = Next(text, from, ',');
  while (dot < text.size() || comma < text.size()) {
    size_t sep = dot < comma ? dot : comma;
    if (sep > from && kDigit(text[sep - 1])) {
      size_t digits = RunEnd(text, sep, kSeparator);
      if (digits < text.size() && kDigit(text[digits])) {
        size_t start = sep - 1;
        while (start > from && kDigit(text[start - 1])) --start;
        size_t end = RunEnd(text, digits, kDigit);
        end = RunEnd(text, end, kSeparator);
        end = RunEnd(text, end, kDigit);
        end = RunEnd(text, end, kSeparator);
        end = RunEnd(text, end, kDigit);
        match = {start, end};
        return true;
      }
    }
    if (sep == dot) dot = Next(text, dot + 1, '.');
    else comma = Next(text, comma + 1, ',');
  }
  return false;
}

bool FindMarkup(std::string_view text, size_t from, TextSpan& match) {
  size_t open = Next(text, from, '<');
  if (open >= text.size()) return false;
  // The tag ends at the first '>'; without one no later '<' has one either.
  size_t close = Next(text, open + 1, '>');
  if (close >= text.size()) return false;
  match = {open, close + 1};
  return true;
}

bool FindFirstLink(std::string_view text, TextSpan& match) {
  for (size_t at = 0; at < text.size(); ++at) {
    size_t rest = SchemeEnd(text, at);
    if (rest == 0 && HasAt(text, at, "www") && at + 3 < text.size()) rest = at + 4;
    if (rest == 0) continue;
    match = {at, RunEnd(text, rest, kLinkRest)};
    return true;
  }
  return false;
}

bool FindHeaderField(std::string_view text, std::string_view name, TextSpan& match, TextSpan& value) {
  // Every name ends with its colon, so the leftmost match ends at the first colon that
  // has the rest of the name before it.
  if (name.empty() || text.size() < name.size()) return false;
  for (size_t colon = Next(text, name.size() - 1, ':'); colon < text.size(); colon = Next(text, colon + 1, ':')) {
    size_t start = colon + 1 - name.size();
    if (!EqualsNoCase(text.substr(start, name.size()), name)) continue;
    value.start = RunEnd(text, colon + 1, kSpace);
    value.end = RunEnd(text, value.start, kLineRest);
    match = {start, value.end};
    return true;
  }
  return false;
}

}  // namespace kestrelon::token_patterns
