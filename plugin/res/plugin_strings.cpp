#include "plugin/res/plugin_strings.h"

#include <algorithm>
#include <cctype>

namespace kestrelon {

namespace {

struct StringEntry {
  unsigned id;
  const char* english;
  const char* german;
};

constexpr StringEntry kStrings[] = {
#define KESTRELON_STRING(id, english, german) {id, english, german},
#include "plugin/res/plugin_strings.inc"
#undef KESTRELON_STRING
};

}  // namespace

const char* PluginStringText(unsigned id, UiLanguage language) {
  for (const StringEntry& entry : kStrings)
    if (entry.id == id) return language == UiLanguage::kGerman ? entry.german : entry.english;
  return nullptr;
}

std::string LoadPluginString(unsigned id, UiLanguage language, size_t bufferChars) {
  const char* text = PluginStringText(id, language);
  if (!text || bufferChars == 0) return {};
  std::string result = text;
  if (result.size() > bufferChars - 1) result.resize(bufferChars - 1);
  return result;
}

bool ParseUiLanguage(const std::string& text, UiLanguage& language) {
  std::string lower = text;
  std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
  if (lower == "en" || lower == "english" || lower == "1033") {
    language = UiLanguage::kEnglish;
    return true;
  }
  if (lower == "de" || lower == "german" || lower == "1031") {
    language = UiLanguage::kGerman;
    return true;
  }
  return false;
}

}  // namespace kestrelon
