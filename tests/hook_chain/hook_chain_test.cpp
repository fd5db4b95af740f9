// The whole chain in the build folder: the starter runs in one process, the stand-in
// client in another, and activating the client's main window brings the plug-in in.
#include "platform/process.h"
#include "plugin/host/win32/window_test_support.h"
#include "tests/hook_chain/chain_scenario.h"
#include "tools/kestrelon-starter/starter.h"

#include <algorithm>
#include <atomic>
#include <thread>

namespace kestrelon::testing {
namespace {

class HookChainTest : public PluginWindowTest {
 protected:
  void SetUp() override {
    PluginWindowTest::SetUp();
    ASSERT_TRUE(starter_.Start(client::ProgramFolder() + "KestrelonStarter.exe", {}));
    for (int i = 0; i < 600 && !FindWindowA(starter::kWindowClass, nullptr); ++i) Sleep(100);
    ASSERT_NE(FindWindowA(starter::kWindowClass, nullptr), nullptr);
  }
  void TearDown() override {
    platform::ChildProcess stop;
    int code = -1;
    ASSERT_TRUE(stop.Start(client::ProgramFolder() + "KestrelonStarter.exe", {"/stop"}));
    stop.Wait(code);
    EXPECT_EQ(code, starter::kDone);
    starter_.Wait(code);
  }

  platform::ChildProcess starter_;
};

TEST_F(HookChainTest, ActivatingTheClientAttachesThePlugin) {
  ASSERT_TRUE(window_->Start("--store " + store_));
  ExpectPluginAttached(*window_);
  ExpectMailJudged(*window_, store_);
  EXPECT_EQ(Close(), 0);
}

TEST_F(HookChainTest, ASecondMainWindowStaysFilteredWhenTheFirstCloses) {
  ASSERT_TRUE(window_->Start("--store " + store_));
  EXPECT_EQ(Lines("new-window", "window"), std::vector<std::string>{"2"});
  ASSERT_TRUE(window_->Command("close 1").ok);
  ExpectPluginAttached(*window_);
  ExpectMailJudged(*window_, store_);
  EXPECT_EQ(Close(), 0);
}

// Presses OK on every "Kestrelon Error" or "Error" box that opens (in any process) until
// stopped; what the boxes said, one line each.
class ErrorBoxCloser {
 public:
  ErrorBoxCloser() : thread_([this] { Run(); }) {}
  ~ErrorBoxCloser() { Stop(); }
  std::vector<std::string> Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    return texts_;
  }

 private:
  void Run() {
    std::vector<HWND> closed;  // a closed box may take a moment to go
    while (!stop_) {
      for (const char* caption : {"Kestrelon Error", "Error"}) {
        HWND box = FindWindowA("#32770", caption);
        if (!box || std::find(closed.begin(), closed.end(), box) != closed.end()) continue;
        EnumChildWindows(box, CollectText, reinterpret_cast<LPARAM>(&texts_));
        SendMessageA(box, WM_COMMAND, IDOK, 0);
        closed.push_back(box);
      }
      Sleep(50);
    }
  }
  static BOOL CALLBACK CollectText(HWND child, LPARAM texts) {
    char name[32] = {}, text[512] = {};
    GetClassNameA(child, name, sizeof name);
    if (lstrcmpiA(name, "Static") == 0 && GetWindowTextA(child, text, sizeof text) > 0)
      reinterpret_cast<std::vector<std::string>*>(texts)->push_back(text);
    return TRUE;
  }

  std::atomic<bool> stop_{false};
  std::vector<std::string> texts_;
  std::thread thread_;
};

// Activates a window of this process, then the client's main window again.
void ActivateAgain(HWND client) {
  HWND own = CreateWindowExA(0, "Static", "other", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr, nullptr, nullptr,
                             nullptr);
  ShowWindow(own, SW_SHOWNORMAL);
  SetForegroundWindow(own);
  SetForegroundWindow(client);
  DestroyWindow(own);
}

TEST_F(HookChainTest, AWindowWhoseStartUpFailedIsNotOfferedAgain) {
  // No identity, so the plug-in's start-up fails while the window is being activated; its
  // boxes are shown once, however often the window is activated afterwards.
  ErrorBoxCloser closer;
  ASSERT_TRUE(window_->Start(""));
  ASSERT_EQ(Lines("window \"Outlook Express Browser Class\"", "window").size(), 1u);
  ActivateAgain(FindWindowA("Outlook Express Browser Class", nullptr));
  std::vector<std::string> main = Lines("window \"Outlook Express Browser Class\"", "window");
  std::vector<std::string> boxes = closer.Stop();
  EXPECT_EQ(boxes, (std::vector<std::string>{"GetInboxPath failed!\r\nIdentity: \r\nPath: ",
                                              "Plugin Initialization failed!\r\nErrorCode: 0x1007"}));
  ASSERT_EQ(main.size(), 1u);
  EXPECT_EQ(main[0].substr(main[0].find('\t')), "\torigproc=1\tsubclassed=0");
  EXPECT_EQ(Close(), 0);
}

using ForeignWindowTest = PluginWindowTest;

TEST_F(ForeignWindowTest, TheExportLeavesAClientWindowOfAnotherProcessAlone) {
  ErrorBoxCloser closer;
  ASSERT_TRUE(window_->Start("--store " + store_));
  ASSERT_EQ(Lines("window \"Outlook Express Browser Class\"", "window").size(), 1u);  // the window is there
  HWND client = FindWindowA("Outlook Express Browser Class", nullptr);
  ASSERT_NE(client, nullptr);
  HMODULE plugin = LoadLibraryA(Plugin().c_str());
  ASSERT_NE(plugin, nullptr);
  auto attach = reinterpret_cast<LONG_PTR(WINAPI*)(HWND)>(
      reinterpret_cast<void*>(GetProcAddress(plugin, "AttachOutlookExpressPlugin")));
  ASSERT_NE(attach, nullptr);
  EXPECT_EQ(attach(client), 1);
  FreeLibrary(plugin);
  EXPECT_EQ(closer.Stop(), std::vector<std::string>{});
  EXPECT_EQ(Lines("window \"Outlook Express Browser Class\"", "window").at(0),
            "Inbox - Outlook Express\torigproc=0\tsubclassed=0");
  for (const char* file : {"Kestrelon.log", "Kestrelon.dat", "Kestrelon.msg"})
    EXPECT_EQ(GetFileAttributesA((store_ + "\\" + file).c_str()), INVALID_FILE_ATTRIBUTES) << file;
  // In the client's own process the window attaches as ever.
  std::vector<std::string> attached = Lines("attach " + Plugin(), "attach");
  ASSERT_EQ(attached.size(), 1u);
  EXPECT_NE(attached[0], "0");
  EXPECT_NE(attached[0], "1");
  EXPECT_EQ(Close(), 0);
}

}  // namespace
}  // namespace kestrelon::testing
