// The whole chain in the build folder: the starter runs in one process, the stand-in
// client in another, and activating the client's main window brings the plug-in in.
#include "platform/process.h"
#include "plugin/host/win32/window_test_support.h"
#include "tests/hook_chain/chain_scenario.h"
#include "tools/kestrelon-starter/starter.h"

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

// Presses OK on every "Kestrelon Error" box that opens in the client until stopped; what
// the boxes said, one line each.
class ErrorBoxCloser {
 public:
  ErrorBoxCloser() : thread_([this] { Run(); }) {}
  std::vector<std::string> Stop() {
    stop_ = true;
    thread_.join();
    return texts_;
  }

 private:
  void Run() {
    while (!stop_) {
      if (HWND box = FindWindowA("#32770", "Kestrelon Error")) {
        EnumChildWindows(box, CollectText, reinterpret_cast<LPARAM>(&texts_));
        SendMessageA(box, WM_COMMAND, IDOK, 0);
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

}  // namespace
}  // namespace kestrelon::testing
