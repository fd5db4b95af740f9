// The plug-in's string table compiled into the program, for the headless host and for
// every build that has no resources to load them from. The texts are the ones the
// resource script's string tables carry (plugin_strings.inc).
#pragma once

#include <string>

namespace kestrelon {

// Ids of the texts that the plug-in's code names in English (plugin_strings.inc).
enum CodeTextId : unsigned {
  kSpamProbabilitiesText = 101,
  kTokenColumnText = 102,
  kProbabilityColumnText = 103,
  kFirstBoxText = 104,  // 104 to 109: captions and whole messages of boxes
  kLastBoxText = 109,
  kInboxPathFailedText = 110,  // "GetInboxPath failed!\r\nIdentity: " <identity> "\r\nPath: " <path>
  kPathText = 111,
  kErrorCodeText = 112,  // follows string 13: "\r\nErrorCode: 0x" <code>
};

// The two languages of the string table, by their Windows language ids.
enum class UiLanguage : unsigned short { kEnglish = 1033, kGerman = 1031 };

// The text of string `id` in `language` (Windows-1252), or nullptr for an id the table
// lacks (0, 10, 12, 23 to 100, above 112).
const char* PluginStringText(unsigned id, UiLanguage language);

// The text as LoadString gives it into a buffer of `bufferChars` characters: cut to
// bufferChars - 1 characters; empty for a missing id or a buffer of 0.
std::string LoadPluginString(unsigned id, UiLanguage language, size_t bufferChars);

// "en"/"english"/"1033" and "de"/"german"/"1031", ignoring case; false for anything else.
bool ParseUiLanguage(const std::string& text, UiLanguage& language);

}  // namespace kestrelon
