// The starter as the user's session runs it: one resident instance that arms the hook for
// window programs started later, ended by /stop or by the end of the session.
#include <windows.h>

#include <gtest/gtest.h>

#include "hook/win32/helper_library.h"
#include "hook/win32/hook_test_support.h"
#include "hook/win32/session_hook_slot.h"
#include "tools/kestrelon-starter/starter.h"

namespace {

constexpr char kClientClass[] = "Outlook Express Browser Class";

std::string StarterPath() { return hook::ProgramFolder() + "\\KestrelonStarter.exe"; }

// Waits at most a minute for the process to end; its exit code, or -2 when it runs on.
int ExitCode(platform::ChildProcess& process) {
  for (int i = 0; i < 600 && process.Running(); ++i) Sleep(100);
  int code = -2;
  if (!process.Running()) process.Wait(code);
  return code;
}

int RunStarter(const std::vector<std::string>& args) {
  platform::ChildProcess starter;
  return starter.Start(StarterPath(), args) ? ExitCode(starter) : -1;
}

// The resident starter's window, once it is there (at most a minute).
HWND StarterWindow() {
  for (int i = 0; i < 600; ++i) {
    if (HWND window = FindWindowA(starter::kWindowClass, nullptr)) return window;
    Sleep(100);
  }
  return nullptr;
}

class StarterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(resident_.Start(StarterPath(), {}));
    ASSERT_NE(StarterWindow(), nullptr);
  }
  void TearDown() override {
    if (resident_.Running()) RunStarter({"/stop"});
  }

  platform::ChildProcess resident_;
};

TEST_F(StarterTest, OneStarterArmsTheHookUntilStopped) {
  EXPECT_EQ(RunStarter({}), starter::kDone);  // a second start leaves at once
  EXPECT_TRUE(resident_.Running());
  EXPECT_EQ(RunStarter({"/restart"}), starter::kBadArguments);

  hook_test::ClientFolder client(true);
  EXPECT_EQ(client.Run("A", {"open", kClientClass}), 0);
  EXPECT_EQ(RunStarter({"/STOP"}), starter::kDone);
  EXPECT_EQ(ExitCode(resident_), starter::kDone);
  EXPECT_EQ(FindWindowA(starter::kWindowClass, nullptr), nullptr);
  EXPECT_EQ(RunStarter({"/stop"}), starter::kDone);  // nothing left to stop
  EXPECT_EQ(client.Run("B", {"open", kClientClass}), 0);
  EXPECT_EQ(client.Log(),
            "A attach Outlook Express Browser Class\n"
            "A opened 1 active=1 helper=1\n"
            "B opened 1 active=1 helper=0\n");
}

TEST_F(StarterTest, EndsWithTheSession) {
  HWND window = StarterWindow();
  EXPECT_EQ(SendMessageA(window, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF), TRUE);
  SendMessageA(window, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF);
  EXPECT_EQ(ExitCode(resident_), starter::kDone);
  hook_test::ClientFolder client(true);
  EXPECT_EQ(client.Run("A", {"open", kClientClass}), 0);
  EXPECT_EQ(client.Log(), "A opened 1 active=1 helper=0\n");
}

TEST_F(StarterTest, ArmsTheHookAgainWhenTheClientHasEnded) {
  hook_test::ClientFolder client(true);
  ASSERT_EQ(client.Run("A", {"open", kClientClass}), 0);
  // A's attach left only a hook on A's thread, which ended with A; the starter sets the
  // system-wide hook again shortly after.
  bool attached = false;
  for (int i = 0; i < 60 && !attached; ++i) {
    Sleep(250);
    ASSERT_EQ(client.Run("B", {"open", kClientClass}), 0);
    attached = client.Log().find("B attach") != std::string::npos;
  }
  EXPECT_TRUE(attached) << client.Log();
}

}  // namespace

namespace {

// The hook slot of another user's session, filled as that user's starter would fill it.
// Wine runs every process in one session, so the other user is played by this slot alone.
class OtherSessionsSlot {
 public:
  explicit OtherSessionsSlot(HHOOK hook) {
    DWORD session = 0;
    ProcessIdToSessionId(GetCurrentProcessId(), &session);
    mapping_ = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(HHOOK),
                                  hook::SessionHookSlotName(session + 1).c_str());
    view_ = mapping_ ? static_cast<HHOOK*>(MapViewOfFile(mapping_, FILE_MAP_WRITE, 0, 0, sizeof(HHOOK))) : nullptr;
    if (view_) *view_ = hook;
  }
  ~OtherSessionsSlot() {
    if (view_) UnmapViewOfFile(view_);
    if (mapping_) CloseHandle(mapping_);
  }
  HHOOK Hook() const { return view_ ? *view_ : nullptr; }

 private:
  HANDLE mapping_ = nullptr;
  HHOOK* view_ = nullptr;
};

TEST(StarterSessions, TheStarterKeepsToTheHookOfItsOwnSession) {
  const HHOOK theirs = reinterpret_cast<HHOOK>(static_cast<INT_PTR>(0x7a5e));
  OtherSessionsSlot other(theirs);
  ASSERT_EQ(other.Hook(), theirs);
  hook::SessionHookSlot ours;
  ASSERT_EQ(ours.Load(), nullptr);

  platform::ChildProcess resident;
  ASSERT_TRUE(resident.Start(StarterPath(), {}));
  ASSERT_NE(StarterWindow(), nullptr);
  for (int i = 0; i < 600 && !ours.Load(); ++i) Sleep(100);  // the window comes before the hook
  EXPECT_NE(ours.Load(), nullptr);
  // The client's attach narrows the hook in our slot to its own thread.
  hook_test::ClientFolder client(true);
  ASSERT_EQ(client.Run("A", {"open", kClientClass}), 0);
  EXPECT_EQ(client.Log(),
            "A attach Outlook Express Browser Class\n"
            "A opened 1 active=1 helper=1\n");
  EXPECT_EQ(RunStarter({"/stop"}), starter::kDone);
  EXPECT_EQ(ExitCode(resident), starter::kDone);
  EXPECT_EQ(ours.Load(), nullptr);
  EXPECT_EQ(other.Hook(), theirs);
}

}  // namespace
