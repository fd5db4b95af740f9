// The stand-in client's main window, driven through its command channel.
#include "client/win32/window_driver.h"
#include "plugin/dbx/dbx_test_support.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kestrelon::client {
namespace {

using testing::TempDir;

std::string Classes(const std::vector<std::string>& tree) {
  std::string classes;
  for (const std::string& line : tree) classes += line.substr(0, line.find('\t')) + "\n";
  return classes;
}

TEST(MainWindowDouble, NestsTheClientsWindowClasses) {
  TempDir dir;
  WindowDriver window;
  ASSERT_TRUE(window.Start("--store " + dir.File("store")));
  WindowReply tree = window.Command("tree");
  ASSERT_TRUE(tree.ok) << tree.error;
  EXPECT_EQ(Classes(tree.lines),
            "Outlook Express Browser Class\n"
            "  SizableRebar\n"
            "    ReBarWindow32\n"
            "      ToolbarWindow32\n"
            "      ToolbarWindow32\n"
            "        Static\n"
            "        ComboBox\n"
            "  Outlook Express Navigation Pane\n"
            "    Outlook Express Pane Frame\n"
            "      ThorTreeViewWndClass\n"
            "        SysTreeView32\n"
            "  Outlook Express Message View\n"
            "    Outlook Express Message List\n"
            "      ATL:SysListView32\n"
            "        SysHeader32\n"
            "  msctls_statusbar32\n"
            "  Outlook Express Pane Frame\n"
            "    Static\n");
  EXPECT_EQ(tree.lines[8], "    Outlook Express Pane Frame\tFolders");
  EXPECT_EQ(tree.lines[16], "  Outlook Express Pane Frame\tContacts");
  EXPECT_EQ(window.Command("menu edit").lines.back(), "item\t40009\tenabled\tMark All R&ead\\tCtrl+Shift+A");
  EXPECT_EQ(window.Command("menu tools").lines.back(), "item\t40015\tenabled\t&Options...");
  // Children created later, as after a plug-in attached, are direct children of the main window.
  ASSERT_TRUE(window.Command("child").ok);
  tree = window.Command("tree");
  EXPECT_EQ(tree.lines.at(18), "  Outlook Express Hidden Window\t");
  EXPECT_EQ(window.Quit(), 0);
}

TEST(MainWindowDouble, SpeaksGerman) {
  TempDir dir;
  WindowDriver window;
  ASSERT_TRUE(window.Start("--lang de --store " + dir.File("store")));
  EXPECT_EQ(window.Command("menu edit").lines.back(),
            "item\t40009\tenabled\t&Alle als gelesen markieren\\tStrg+Umschalt+A");
  EXPECT_EQ(window.Command("menu tools").lines.back(), "item\t40015\tenabled\t&Optionen...");
  EXPECT_EQ(window.Command("tree").lines.at(8), "    Outlook Express Pane Frame\tOrdner");
  EXPECT_EQ(window.Command("status").With("part").at(2), "2\tOnlinebetrieb");
  EXPECT_EQ(window.Command("window \"Outlook Express Browser Class\"").With("window").at(0),
            "Posteingang - Outlook Express\torigproc=0\tsubclassed=0");
}

TEST(MainWindowDouble, ToolbarImageListsFollowTheIconSize) {
  TempDir dir;
  const std::pair<std::string, std::string> cases[] = {
      {"--icons 16", "14\t9\t16x16"}, {"--icons 22", "9\t9\t22x22"}, {"--no-hot", "9\t-1\t24x24"}};
  for (const auto& [arguments, images] : cases) {
    WindowDriver window;
    ASSERT_TRUE(window.Start(arguments + " --store " + dir.File("store")));
    WindowReply toolbar = window.Command("toolbar");
    EXPECT_EQ(toolbar.With("images").at(0), images) << arguments;
    EXPECT_EQ(toolbar.With("button").size(), 9u);
  }
}

TEST(MainWindowDouble, DeliversIntoTheInboxWhileSayingSo) {
  TempDir dir;
  testing::WriteAll(dir.File("a.eml"), "From: Alice <alice@example.com>\r\nSubject: Lunch\r\n\r\nNoon?\r\n");
  testing::WriteAll(dir.File("b.eml"), "From: offers@pills.example\r\nSubject: Best prices\r\n\r\nBuy!\r\n");
  WindowDriver window;
  ASSERT_TRUE(window.Start("--store " + dir.File("store")));
  WindowReply delivered = window.Command("deliver " + dir.File("a.eml") + " " + dir.File("b.eml"));
  ASSERT_TRUE(delivered.ok) << delivered.error;
  EXPECT_EQ(delivered.With("delivered"), (std::vector<std::string>{"1", "2"}));
  ASSERT_TRUE(window.Command("select 1").ok);
  std::vector<std::string> rows = window.Command("rows").With("row");
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].substr(0, rows[0].rfind('\t')), "0\t1\t0\tAlice\tLunch");
  EXPECT_EQ(rows[1].substr(0, rows[1].rfind('\t')), "1\t2\t1\toffers@pills.example\tBest prices");
  EXPECT_EQ(window.Command("status").lines,
            (std::vector<std::string>{"part\t0\t2 message(s), 2 unread", "part\t1\t", "part\t2\tWorking Online"}));

  ASSERT_TRUE(window.Command("receiving on").ok);
  ASSERT_TRUE(window.Command("deliver " + dir.File("a.eml")).ok);
  EXPECT_EQ(window.Command("status").lines.at(2), "part\t2\tReceiving mail...");
  EXPECT_EQ(window.Command("rows").lines.size(), 3u);
  ASSERT_TRUE(window.Command("folder deleted").ok);
  EXPECT_TRUE(window.Command("rows").lines.empty());
  EXPECT_EQ(window.Command("select 0").error, "no such row");
}

}  // namespace
}  // namespace kestrelon::client
