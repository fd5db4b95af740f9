// Conversions between the texts of windows (UTF-16), the command channel (UTF-8) and
// the store and plug-in (the ANSI code page).
#pragma once

#include <string>

namespace kestrelon::client {

std::string Utf8(const std::wstring& text);
std::wstring FromUtf8(const std::string& text);
std::wstring FromAnsi(const std::string& text);
std::string ToAnsi(const std::wstring& text);

}  // namespace kestrelon::client
