#include "plugin/res/plugin_strings.h"

#include <gtest/gtest.h>

#include <cstring>

#ifdef _WIN32
#include <windows.h>
#endif

namespace kestrelon {
namespace {

TEST(PluginStrings, ClientTextsMatchInBothLanguages) {
  struct Expected {
    unsigned id;
    const char* english;
    const char* german;
  };
  const Expected client[] = {
      {1, "&Options...", "&Optionen..."},
      {2, "Mark All R&ead\tCtrl+Shift+A", "&Alle als gelesen markieren\tStrg+Umschalt+A"},
      {6, "Folders", "Ordner"},
      {7, "Inbox", "Posteingang"},
      {8, "From", "Von"},
      {9, "Subject", "Betreff"},
      {21, "Receiving mail...", "E-Mail abrufen..."},
  };
  for (const Expected& e : client) {
    EXPECT_STREQ(PluginStringText(e.id, UiLanguage::kEnglish), e.english) << e.id;
    EXPECT_STREQ(PluginStringText(e.id, UiLanguage::kGerman), e.german) << e.id;
  }
  EXPECT_STREQ(PluginStringText(16, UiLanguage::kEnglish),
               "The checkbox \"Empty messages from the 'Deleted Items' folder on exit\" is set\r\n"
               "so inadvertently misidentified mail might be deleted on exit!\r\n\r\n"
               "Please set \"Backup deleted Spam Mails\" in Tools->Spam Filter Options... or clear this "
               "checkbox in Tools->Options->Maintenance!");
  // German texts are Windows-1252: o umlaut is one byte 0xF6.
  EXPECT_STREQ(PluginStringText(4, UiLanguage::kGerman), "Spam l\xF6schen");
}

TEST(PluginStrings, EveryIdFromOneToTwentyTwoExceptTenAndTwelveAndTheCodesTexts) {
  for (unsigned id = 0; id <= 113; ++id) {
    bool used = (id >= 1 && id <= 22 && id != 10 && id != 12) || (id >= 101 && id <= 112);
    for (UiLanguage language : {UiLanguage::kEnglish, UiLanguage::kGerman}) {
      const char* text = PluginStringText(id, language);
      EXPECT_EQ(text != nullptr, used) << id;
      if (text) {
        EXPECT_GT(std::strlen(text), 0u) << id;
      }
    }
  }
}

TEST(PluginStrings, LoadCutsToTheBufferAsLoadStringDoes) {
  EXPECT_EQ(LoadPluginString(7, UiLanguage::kEnglish, 256), "Inbox");
  EXPECT_EQ(LoadPluginString(7, UiLanguage::kEnglish, 4), "Inb");
  EXPECT_EQ(LoadPluginString(7, UiLanguage::kEnglish, 1), "");
  EXPECT_EQ(LoadPluginString(7, UiLanguage::kEnglish, 0), "");
  EXPECT_EQ(LoadPluginString(10, UiLanguage::kGerman, 256), "");
}

TEST(PluginStrings, LanguageNames) {
  UiLanguage language = UiLanguage::kEnglish;
  EXPECT_TRUE(ParseUiLanguage("DE", language));
  EXPECT_EQ(language, UiLanguage::kGerman);
  EXPECT_TRUE(ParseUiLanguage("1033", language));
  EXPECT_EQ(language, UiLanguage::kEnglish);
  EXPECT_FALSE(ParseUiLanguage("fr", language));
  EXPECT_FALSE(ParseUiLanguage("", language));
}

#ifdef _WIN32
// The resource script's string tables must carry the same bytes as the compiled table:
// the two read the escapes of one source, and a difference would break the match with
// the client's own texts.
std::string ResourceString(unsigned id, WORD language) {
  HMODULE module = GetModuleHandleW(nullptr);
  HRSRC block = FindResourceExW(module, MAKEINTRESOURCEW(6), MAKEINTRESOURCEW(id / 16 + 1), language);
  if (!block) return "<no block>";
  const WCHAR* p = static_cast<const WCHAR*>(LockResource(LoadResource(module, block)));
  for (unsigned i = 0; i < id % 16; ++i) p += 1 + *p;
  int length = *p++;
  if (length == 0) return "<missing>";
  std::string text(length * 2, '\0');
  int n = WideCharToMultiByte(1252, 0, p, length, text.data(), static_cast<int>(text.size()), nullptr, nullptr);
  text.resize(n);
  return text;
}

TEST(PluginStrings, ResourceTablesEqualTheCompiledTable) {
  for (unsigned id = 1; id <= kErrorCodeText; ++id) {
    if (!PluginStringText(id, UiLanguage::kEnglish)) continue;
    EXPECT_EQ(ResourceString(id, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US)), PluginStringText(id, UiLanguage::kEnglish))
        << id;
    EXPECT_EQ(ResourceString(id, MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN)), PluginStringText(id, UiLanguage::kGerman))
        << id;
  }
}
#endif

}  // namespace
}  // namespace kestrelon
