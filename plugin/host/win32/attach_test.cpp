// Attaching to the client's main window, the menus and the toolbar button.
#include "client/win32/image_digest.h"
#include "plugin/host/win32/window_test_support.h"

namespace kestrelon::testing {
namespace {

using AttachTest = PluginWindowTest;

std::vector<std::string> ItemsWithId(const std::vector<std::string>& items, int id) {
  std::vector<std::string> found;
  for (const std::string& item : items) {
    if (Fields(item).at(0) == std::to_string(id)) found.push_back(item);
  }
  return found;
}

TEST_F(AttachTest, MarksEveryWindowAndSubclassesOnlyTheClientsMainWindow) {
  ASSERT_TRUE(window_->Start("--store " + store_));
  EXPECT_EQ(Lines("attach " + Plugin() + " msctls_statusbar32", "attach"), std::vector<std::string>{"1"});
  EXPECT_EQ(Lines("window msctls_statusbar32", "window").at(0), "0 message(s), 0 unread\torigproc=1\tsubclassed=0");
  EXPECT_EQ(Button(30101), "");

  std::vector<std::string> attach = Lines("attach " + Plugin(), "attach");
  ASSERT_EQ(attach.size(), 1u);
  EXPECT_NE(attach[0], "0");
  EXPECT_NE(attach[0], "1");
  EXPECT_EQ(Lines("window \"Outlook Express Browser Class\"", "window").at(0),
            "Inbox - Outlook Express\torigproc=1\tsubclassed=1");
  // The client created a child window after the attach: the button is on the toolbar and
  // the toolbar is subclassed.
  EXPECT_EQ(Button(30101), "11\t30101\t9\t4\tDelete Spam");
  EXPECT_EQ(Lines("window ToolbarWindow32", "window").at(0), "\torigproc=1\tsubclassed=1");
  // A main window offered again, or a second main window of the process, is left alone;
  // closing the second one leaves the plug-in of the first at work.
  EXPECT_EQ(Lines("attach " + Plugin(), "attach"), std::vector<std::string>{"1"});
  EXPECT_EQ(CountButtons(30101), 1);
  EXPECT_EQ(Lines("new-window", "window"), std::vector<std::string>{"2"});
  EXPECT_EQ(Lines("attach " + Plugin() + " second", "attach"), std::vector<std::string>{"1"});
  Run("close 2");
  Run("answer ok");
  Run("deliver " + Sample("ham/01-sprint-review"));
  EXPECT_EQ(ClosedBoxes().size(), 2u);  // the first-run scan's progress dialog and its box
  Run("menus");
  EXPECT_EQ(Lines("menu edit", "item").back(), "30101\tenabled\tDelete Spam");
}

TEST_F(AttachTest, ASecondMainWindowTakesThePluginOverWhenTheAttachedOneCloses) {
  ASSERT_NE(Open(), "0");
  EXPECT_EQ(Lines("new-window", "window"), std::vector<std::string>{"2"});
  EXPECT_EQ(Lines("attach " + Plugin() + " second", "attach"), std::vector<std::string>{"1"});
  Run("close 1");  // the commands go to window 2 from now on
  EXPECT_EQ(Lines("window \"Outlook Express Browser Class\"", "window").at(0),
            "Inbox - Outlook Express\torigproc=1\tsubclassed=1");
  EXPECT_EQ(CountButtons(30101), 1);
  EXPECT_EQ(Lines("menu edit", "item").back(), "30101\tenabled\tDelete Spam");
  // New mail is judged in window 2: the first pass is the first-run scan.
  Run("answer ok");
  Run("deliver " + Sample("ham/01-sprint-review"));
  std::vector<std::string> boxes = ClosedBoxes();
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[1].substr(0, boxes[1].find('|')), "Kestrelon Spam Filter");
  EXPECT_EQ(Close(), 0);
}

TEST_F(AttachTest, MenusAreExtendedOnceAndProbabilitiesOnlyAboveDebugLevelTwo) {
  ASSERT_NE(Open(), "0");
  std::vector<std::string> edit = Lines("menu edit", "item");
  EXPECT_EQ(edit.back(), "30101\tenabled\tDelete Spam");
  EXPECT_EQ(Run("menu edit").size(), 10u);  // eight of the client's, a separator, Delete Spam
  EXPECT_EQ(Lines("menu tools", "item").back(), "30100\tenabled\tSpam Filter Options...");
  EXPECT_EQ(Run("menu tools").size(), 6u);
  EXPECT_TRUE(ItemsWithId(Lines("menu edit", "item"), 30102).empty());

  // The client greys commands it does not know; the plug-in enables its own while the
  // Inbox is shown.
  Run("folder deleted");
  EXPECT_EQ(ItemsWithId(Lines("menu edit", "item"), 30101), std::vector<std::string>{"30101\tgrayed\tDelete Spam"});
  Run("folder inbox");
  EXPECT_EQ(ItemsWithId(Lines("menu edit", "item"), 30101), std::vector<std::string>{"30101\tenabled\tDelete Spam"});
  // Menus the client builds anew are recognised by their last items again.
  Run("menus");
  EXPECT_EQ(ItemsWithId(Lines("menu edit", "item"), 30101).size(), 1u);
  EXPECT_EQ(ItemsWithId(Lines("menu tools", "item"), 30100).size(), 1u);

  SetDebugLevel(2);
  ASSERT_NE(Reopen(), "0");
  EXPECT_TRUE(ItemsWithId(Lines("menu edit", "item"), 30102).empty());
  SetDebugLevel(3);
  ASSERT_NE(Reopen(), "0");
  EXPECT_EQ(Lines("menu edit", "item").back(), "30102\tenabled\tSpam Probabilities");
}

class ToolbarTest : public PluginWindowTest {
 protected:
  static void SetUpTestSuite() {
    PluginWindowTest::SetUpTestSuite();
    plugin_ = LoadLibraryA(Plugin().c_str());
  }
  // The digests of the normal and hot pictures the button should show.
  static std::string Expected(int normal, int hot, int size) {
    auto digest = [size](int id) {
      HBITMAP bitmap = LoadBitmapA(plugin_, MAKEINTRESOURCEA(id));
      std::string d = client::MaskedBitmapDigest(bitmap, size, size);
      DeleteObject(bitmap);
      return d;
    };
    return digest(normal) + "\t" + digest(hot);
  }
  static HMODULE plugin_;
};
HMODULE ToolbarTest::plugin_ = nullptr;

TEST_F(ToolbarTest, ButtonPicturesFitTheIconSize) {
  ASSERT_NE(plugin_, nullptr);
  struct Case {
    int size, normal, hot;
    std::string images, image;
  };
  // Small toolbars: the hot list is five pictures shorter, so the strip of four and the hot
  // picture again line it up with the normal list.
  const Case cases[] = {{16, 103, 101, "15\t15\t16x16", "14"},
                        {22, 34, 35, "10\t10\t22x22", "9"},
                        {24, 102, 100, "10\t10\t24x24", "9"}};
  for (const Case& c : cases) {
    ASSERT_NE(Open("--icons " + std::to_string(c.size)), "0");
    EXPECT_EQ(Lines("toolbar", "images").at(0), c.images) << c.size;
    EXPECT_EQ(Fields(Button(30101)).at(2), c.image) << c.size;
    EXPECT_EQ(Lines("image 30101", "image").at(0), Expected(c.normal, c.hot, c.size)) << c.size;
    EXPECT_EQ(Close(), 0);
  }
}

TEST_F(ToolbarTest, ButtonFollowsBitmapSizeChangesAndStaysEnabledOnTheInbox) {
  ASSERT_NE(Open(), "0");
  Run("icons 16");
  EXPECT_EQ(CountButtons(30101), 1);
  EXPECT_EQ(Lines("image 30101", "image").at(0), Expected(103, 101, 16));
  Run("icons 22");
  EXPECT_EQ(Lines("image 30101", "image").at(0), Expected(34, 35, 22));

  // The client greys the button on other folders; on the Inbox the plug-in keeps it enabled.
  Run("folder deleted");
  EXPECT_EQ(Fields(Button(30101)).at(3), "0");
  EXPECT_TRUE(Lines("press 30101", "command").empty());
  Run("folder inbox");
  EXPECT_EQ(Fields(Button(30101)).at(3), "4");
  Run("state 30101 0");
  EXPECT_EQ(Fields(Button(30101)).at(3), "4");
  // Pressed with nothing selected: a pass (here the first-run scan) and string 22.
  Run("answer ok");
  Run("answer ok");
  EXPECT_EQ(Lines("press 30101", "command"), std::vector<std::string>{"30101"});
  std::vector<std::string> boxes = ClosedBoxes();
  ASSERT_EQ(boxes.size(), 3u);
  EXPECT_EQ(boxes[0], "Kestrelon|");
  EXPECT_EQ(boxes[2], "Kestrelon Spam Filter|Selected message(s) not found!\\r\\nPlease try again.");
}

TEST_F(ToolbarTest, ButtonWaitsForTheButtonToolbarAndComplainsWithoutHotPictures) {
  ASSERT_NE(Open("--combo"), "0");
  EXPECT_EQ(Button(30101), "");
  Run("combo-off");
  EXPECT_EQ(CountButtons(30101), 1);
  EXPECT_EQ(Close(), 0);

  ASSERT_TRUE(window_->Start("--no-hot --store " + store_));
  Run("answer ok");
  Run("attach " + Plugin());
  EXPECT_EQ(ClosedBoxes(), std::vector<std::string>{"Error|Problem with 24x24 bitmaps"});
  EXPECT_EQ(CountButtons(30101), 1);
}

}  // namespace
}  // namespace kestrelon::testing
