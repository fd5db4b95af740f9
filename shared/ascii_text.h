// ASCII rules for protocol and file-format text, the same under every locale:
// comparisons (header names, path variables, status texts) that ignore the case of ASCII
// letters only, and the control characters kept out of line-based files.
#pragma once

#include <string>
#include <string_view>

namespace kestrelon {

inline char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

inline bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  return true;
}

inline bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && EqualsNoCase(text.substr(0, prefix.size()), prefix);
}

// The C0 control characters and DEL.
inline bool IsAsciiControl(char c) {
  auto u = static_cast<unsigned char>(c);
  return u < 0x20 || u == 0x7F;
}

// `text` with every control character written as a space, one for one: outside text
// (a sender, a subject) stays on one line of a line-based file and carries nothing that
// a viewer of the file would act on (ESC, BEL, a bare CR).
inline std::string ControlsAsSpaces(std::string text) {
  for (char& c : text)
    if (IsAsciiControl(c)) c = ' ';
  return text;
}

inline bool ContainsNoCase(std::string_view text, std::string_view word) {
  for (size_t i = 0; i + word.size() <= text.size(); ++i)
    if (EqualsNoCase(text.substr(i, word.size()), word)) return true;
  return false;
}

}  // namespace kestrelon
