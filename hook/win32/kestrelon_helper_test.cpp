// The hook set here is injected into window programs started as separate processes, the
// way the starter's hook reaches the mail client.
#include "hook/win32/helper_library.h"

#include <gtest/gtest.h>

#include "hook/win32/hook_test_support.h"

namespace {

constexpr char kClientClass[] = "Outlook Express Browser Class";

class HookTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(helper_.Loaded());
    ASSERT_NE(helper_.SetHook(), nullptr);
  }
  void TearDown() override { helper_.DeleteHook(); }

  hook::HelperLibrary helper_{hook::ProgramFolder()};
};

TEST_F(HookTest, OffersEachClientMainWindowOnceAndPassesEveryActivationOn) {
  hook_test::ClientFolder client(true);
  ASSERT_EQ(client.Run("A", {"open", "Other Class", "open", kClientClass, "activate", "1", "activate", "2",
                             "open-marked", kClientClass, "open", "Outlook Express Browser Clas",
                             "open", "Outlook Express Browser Class 2"}),
            0);
  // A class name is read into 30 bytes, so a longer name that starts with the client's
  // class qualifies; one character short does not.
  EXPECT_EQ(client.Log(),
            "A opened 1 active=1 helper=1\n"
            "A attach Outlook Express Browser Class\n"
            "A opened 2 active=1 helper=1\n"
            "A activated 1 active=1\n"
            "A activated 2 active=1\n"
            "A opened 3 active=1 helper=1\n"
            "A opened 4 active=1 helper=1\n"
            "A attach Outlook Express Browser Class 2\n"
            "A opened 5 active=1 helper=1\n");
}

TEST_F(HookTest, FirstAttachNarrowsTheHookToTheClientThreadUntilDeleteHook) {
  hook_test::ClientFolder client(true);
  auto a = client.Start("A", {"open", kClientClass, "signal", "narrow.attached", "wait", "narrow.other-done", "open",
                              kClientClass, "signal", "narrow.second", "wait", "narrow.deleted", "open", kClientClass});
  ASSERT_TRUE(a);
  ASSERT_TRUE(client.WaitFor("narrow.attached"));
  EXPECT_EQ(client.Run("B", {"open", kClientClass}), 0);
  client.Signal("narrow.other-done");
  ASSERT_TRUE(client.WaitFor("narrow.second"));
  // The shared handle now names A's thread hook, and this process can remove it.
  EXPECT_TRUE(helper_.DeleteHook());
  EXPECT_FALSE(helper_.DeleteHook());
  client.Signal("narrow.deleted");
  int code = -1;
  a->Wait(code);
  EXPECT_EQ(code, 0);
  EXPECT_EQ(client.Log(),
            "A attach Outlook Express Browser Class\n"
            "A opened 1 active=1 helper=1\n"
            "B opened 1 active=1 helper=0\n"
            "A attach Outlook Express Browser Class\n"
            "A opened 2 active=1 helper=1\n"
            "A opened 3 active=1 helper=1\n");
}

TEST_F(HookTest, AClientWindowOfAnotherProcessIsOnlyPassedOn) {
  // A's window is not attached: the plug-in is missing while A opens it.
  hook_test::ClientFolder client(false);
  auto a = client.Start("A", {"open", kClientClass, "signal", "foreign.open", "wait", "foreign.done"});
  ASSERT_TRUE(a);
  ASSERT_TRUE(client.WaitFor("foreign.open"));
  ASSERT_TRUE(client.AddPlugin());
  // B runs the hook for A's window, as the starter does on 64-bit Windows for a client of
  // the other bitness: nothing is loaded or marked, and the system-wide hook stays.
  EXPECT_EQ(client.Run("B", {"offer", kClientClass}), 0);
  EXPECT_EQ(GetPropA(FindWindowA(kClientClass, nullptr), "OrigProc"), nullptr);
  EXPECT_EQ(client.Run("C", {"open", kClientClass}), 0);
  client.Signal("foreign.done");
  int code = -1;
  a->Wait(code);
  EXPECT_EQ(code, 0);
  EXPECT_EQ(client.Log(),
            "A opened 1 active=1 helper=1\n"
            "B offered\n"
            "C attach Outlook Express Browser Class\n"
            "C opened 1 active=1 helper=1\n");
}

TEST_F(HookTest, MissingPluginLeavesTheWindowToALaterActivation) {
  hook_test::ClientFolder client(false);
  auto a = client.Start("A", {"open", kClientClass, "open", "Other Class", "signal", "missing.unattached", "wait",
                              "missing.added", "activate", "1"});
  ASSERT_TRUE(a);
  ASSERT_TRUE(client.WaitFor("missing.unattached"));
  ASSERT_TRUE(client.AddPlugin());
  client.Signal("missing.added");
  int code = -1;
  a->Wait(code);
  EXPECT_EQ(code, 0);
  EXPECT_EQ(client.Log(),
            "A opened 1 active=1 helper=1\n"
            "A opened 2 active=1 helper=1\n"
            "A attach Outlook Express Browser Class\n"
            "A activated 1 active=1\n");
}

}  // namespace
