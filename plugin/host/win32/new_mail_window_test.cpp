// New mail reaching the plug-in inside the client's window, through the shell's
// notification and through the timer; Delete Spam on selected rows; the tear-down.
#include "plugin/host/win32/window_test_support.h"

#include <cstdlib>
#include <filesystem>

namespace kestrelon::testing {
namespace {

using NewMailWindowTest = PluginWindowTest;

// The sample mails of `kind` ("ham" or "spam") numbered `first` to `last`, as arguments.
std::string Samples(const char* kind, int first, int last) {
  std::string files;
  for (const auto& entry : std::filesystem::directory_iterator(std::string(KESTRELON_SAMPLES) + "/" + kind)) {
    int number = std::atoi(entry.path().filename().string().c_str());
    if (number >= first && number <= last) files += " " + entry.path().string();
  }
  return files;
}

int Count(const std::string& text, const std::string& part) {
  int n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

const char kScanFinished[] =
    "Kestrelon Spam Filter|Inbox scan has finished. Kestrelon Filter has to know what is Spam.\\r\\n"
    "Your inbox must not contain any spam mails for proper filter functioning!\\r\\n"
    "So please remove now all spam mails using \"Delete Spam\" button or menu.";

TEST_F(NewMailWindowTest, NotifiedPassesLearnJudgeAndDeleteAndTheEndSavesTheState) {
  ASSERT_NE(Open(), "0");
  Run("answer ok");
  EXPECT_EQ(Lines("deliver" + Samples("ham", 1, 25), "delivered").size(), 25u);
  // The first-run scan ran once receiving had ended: its progress dialog, then string 17.
  std::vector<std::string> closed = Run("closed");
  ASSERT_GE(closed.size(), 4u);
  EXPECT_EQ(closed[0], "closed\tKestrelon");
  EXPECT_EQ(ControlOf(closed, 1004), "Static\tKestrelon is scanning your Inbox!\t");
  EXPECT_EQ(ControlOf(closed, 1012), "msctls_progress32\t\trange=0-25 pos=25");
  EXPECT_EQ(closed.back(), "answered\t1");

  // Spam arrives, is not known yet, and is taught with Delete Spam on its rows.
  EXPECT_EQ(Lines("deliver" + Samples("spam", 1, 8), "delivered").size(), 8u);
  ASSERT_EQ(Lines("rows", "row").size(), 33u);
  Run("select 25 26 27 28 29 30 31 32");
  EXPECT_EQ(Lines("press 30101", "command"), std::vector<std::string>{"30101"});
  EXPECT_EQ(Lines("rows", "row").size(), 25u);
  std::string log = ReadAll(store_ + "\\Kestrelon.log");
  EXPECT_EQ(Count(log, "Spam Mail manually deleted - From: "), 8) << log;

  // The same spam mail sent again is judged spam and deleted at the end of its pass.
  EXPECT_EQ(Lines("deliver" + Samples("spam", 1, 1), "delivered").size(), 1u);
  EXPECT_EQ(Lines("rows", "row").size(), 25u);
  Run("folder deleted");
  EXPECT_EQ(Lines("rows", "row").size(), 9u);
  log = ReadAll(store_ + "\\Kestrelon.log");
  EXPECT_EQ(Count(log, "Spam Mail automatically deleted - From: "), 1) << log;
  EXPECT_TRUE(ClosedBoxes().empty());

  // Closing the client tears the plug-in down: bookmark written, store copied.
  EXPECT_EQ(Close(), 0);
  std::string bookmark = ReadAll(store_ + "\\Kestrelon.msg").substr(0, 512);
  EXPECT_EQ(bookmark.substr(0, bookmark.find(' ')), "34");
  EXPECT_TRUE(std::filesystem::exists(store_ + "\\Kestrelon.dat.bak"));
}

TEST_F(NewMailWindowTest, TimerPassesWaitForReceivingToEnd) {
  SetEnvironmentVariableA("KESTRELON_DETECTION", "timer");
  ASSERT_NE(Open(), "0");
  Run("answer ok");
  Run("receiving on");
  Run("deliver" + Samples("ham", 1, 3));
  // The 5-second timer starts the pass once the status bar no longer says the client is
  // receiving; wait for it to come round.
  Sleep(6000);
  std::vector<std::string> boxes = ClosedBoxes();
  EXPECT_TRUE(boxes.empty()) << "a pass ran while the client was receiving";
  Run("receiving off");
  for (int tries = 0; tries < 20 && boxes.size() < 2; ++tries) {
    Sleep(1000);
    for (const std::string& box : ClosedBoxes()) boxes.push_back(box);
  }
  EXPECT_EQ(boxes, (std::vector<std::string>{"Kestrelon|", kScanFinished}));
}

}  // namespace
}  // namespace kestrelon::testing
