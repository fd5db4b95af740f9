#include "tests/hook_chain/chain_scenario.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

namespace kestrelon::testing {
namespace {

int Count(const std::string& text, const std::string& part) {
  int n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

}  // namespace

std::string SampleFiles(const std::string& kind, int first, int last) {
  std::string files;
  for (const auto& entry : std::filesystem::directory_iterator(std::string(KESTRELON_SAMPLES) + "/" + kind)) {
    int number = std::atoi(entry.path().filename().string().c_str());
    if (number >= first && number <= last) files += " " + entry.path().string();
  }
  return files;
}

void ExpectPluginAttached(client::WindowDriver& window) {
  std::vector<std::string> main = Lines(window, "window \"Outlook Express Browser Class\"", "window");
  ASSERT_EQ(main.size(), 1u);
  EXPECT_EQ(main[0].substr(main[0].find('\t')), "\torigproc=1\tsubclassed=1");
  EXPECT_EQ(Lines(window, "menu tools", "item").back(), "30100\tenabled\tSpam Filter Options...");
  std::vector<std::string> edit = Lines(window, "menu edit", "item");
  ASSERT_FALSE(edit.empty());
  EXPECT_EQ(edit.back().substr(edit.back().rfind('\t')), "\tDelete Spam");
  EXPECT_EQ(edit.back().substr(0, 6), "30101\t");
  // The plug-in adds its button when the client creates a child window, as the client
  // does while it is used; the double creates one on request.
  ASSERT_TRUE(window.Command("child").ok);
  int buttons = 0;
  for (const std::string& line : Lines(window, "toolbar", "button")) {
    std::vector<std::string> f = client::Fields(line);
    buttons += f.at(1) == "30101" && f.back() == "Delete Spam";
  }
  EXPECT_EQ(buttons, 1);
}

void ExpectMailJudged(client::WindowDriver& window, const std::string& storeFolder) {
  ASSERT_TRUE(window.Command("answer ok").ok);
  // The first pass learns the whole Inbox as real mail and closes with string 17.
  EXPECT_EQ(Lines(window, "deliver" + SampleFiles("ham", 1, 25), "delivered").size(), 25u);
  std::vector<std::string> closed = Lines(window, "closed", "closed");
  EXPECT_EQ(closed.size(), 2u);
  EXPECT_EQ(closed.empty() ? "" : closed.back(), "Kestrelon Spam Filter");

  EXPECT_EQ(Lines(window, "deliver" + SampleFiles("spam", 1, 8), "delivered").size(), 8u);
  ASSERT_EQ(Lines(window, "rows", "row").size(), 33u);
  ASSERT_TRUE(window.Command("select 25 26 27 28 29 30 31 32").ok);
  EXPECT_EQ(Lines(window, "press 30101", "command"), std::vector<std::string>{"30101"});
  EXPECT_EQ(Lines(window, "rows", "row").size(), 25u);

  // The same spam again is judged spam and moved to Deleted Items at the end of its pass.
  EXPECT_EQ(Lines(window, "deliver" + SampleFiles("spam", 1, 1), "delivered").size(), 1u);
  EXPECT_EQ(Lines(window, "rows", "row").size(), 25u);
  ASSERT_TRUE(window.Command("folder deleted").ok);
  EXPECT_EQ(Lines(window, "rows", "row").size(), 9u);
  std::string log = ReadAll(storeFolder + "\\Kestrelon.log");
  EXPECT_EQ(Count(log, "Spam Mail manually deleted - From: "), 8) << log;
  EXPECT_EQ(Count(log, "Spam Mail automatically deleted - From: "), 1) << log;
}

}  // namespace kestrelon::testing
