#include "plugin/host/win32/box_texts.h"

#include "plugin/host/win32/plugin_module.h"
#include "plugin/res/plugin_strings.h"

namespace kestrelon {

namespace {

constexpr size_t kBoxTextBuffer = 512;
constexpr unsigned kInitializationFailedText = 13;

std::string English(unsigned id) { return PluginStringText(id, UiLanguage::kEnglish); }
std::string Local(unsigned id) { return LoadPluginResourceText(id, kBoxTextBuffer); }

bool StartsWith(const std::string& text, const std::string& start) { return text.compare(0, start.size(), start) == 0; }

}  // namespace

std::string LocalizedBoxText(const std::string& text) {
  for (unsigned id = kFirstBoxText; id <= kLastBoxText; ++id) {
    if (text == English(id)) return Local(id);
  }
  // "GetInboxPath failed!\r\nIdentity: " <identity> "\r\nPath: " <path>
  const std::string inboxPath = English(kInboxPathFailedText), path = English(kPathText);
  size_t pathAt = text.find(path, inboxPath.size());
  if (StartsWith(text, inboxPath) && pathAt != std::string::npos) {
    return Local(kInboxPathFailedText) + text.substr(inboxPath.size(), pathAt - inboxPath.size()) + Local(kPathText) +
           text.substr(pathAt + path.size());
  }
  // String 13, already in the user's language, and "\r\nErrorCode: 0x" <code>
  const std::string failed = Local(kInitializationFailedText) + English(kErrorCodeText);
  if (StartsWith(text, failed)) {
    return Local(kInitializationFailedText) + Local(kErrorCodeText) + text.substr(failed.size());
  }
  return text;
}

}  // namespace kestrelon
