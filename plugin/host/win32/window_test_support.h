// Tests of the plug-in inside the stand-in client's main window: oe-window.exe with the
// real Kestrelon.dll, Lexisift.dll, MSOE.dll and WAB32.dll built beside the test, in the
// test's own Wine prefix.
#pragma once

#include "client/win32/window_driver.h"
#include "platform/registry.h"
#include "plugin/dbx/dbx_test_support.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

namespace kestrelon::testing {

using client::Fields;
using client::WindowDriver;
using client::WindowReply;

// The lines with `prefix` of a command that must succeed.
inline std::vector<std::string> Lines(WindowDriver& window, const std::string& command, const std::string& prefix) {
  WindowReply reply = window.Command(command);
  EXPECT_TRUE(reply.ok) << command << ": " << reply.error;
  return reply.With(prefix);
}

class PluginWindowTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    HMODULE server = LoadLibraryA((client::ProgramFolder() + "Lexisift.dll").c_str());
    auto registerServer = server ? reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(
                                       reinterpret_cast<void*>(GetProcAddress(server, "DllRegisterServer")))
                                 : nullptr;
    ASSERT_TRUE(registerServer && registerServer() == S_OK);
  }

  void SetUp() override {
    SetEnvironmentVariableA("KESTRELON_DETECTION", "notification");
    platform::RegistryKey::DeleteTree(platform::Hive::CurrentUser, "Software\\Kestrelon");
    platform::RegistryKey::DeleteTree(platform::Hive::CurrentUser, "Identities");
    store_ = dir_.File("store");
  }

  static std::string Plugin() { return client::ProgramFolder() + "Kestrelon.dll"; }
  static std::string Sample(const std::string& name) { return std::string(KESTRELON_SAMPLES) + "/" + name + ".eml"; }

  // Starts the client on the test's store and attaches the plug-in; returns the export's
  // result in hex.
  std::string Open(const std::string& arguments = "") {
    if (!window_->Start("--store " + store_ + " " + arguments)) return "not started";
    WindowReply attach = window_->Command("attach " + Plugin());
    return attach.ok ? attach.With("attach").at(0) : attach.error;
  }
  // Closes the client (its exit code) and starts it again on the same store.
  int Close() {
    int code = window_->Quit();
    window_ = std::make_unique<WindowDriver>();
    return code;
  }
  std::string Reopen(const std::string& arguments = "") {
    EXPECT_EQ(Close(), 0);
    return Open(arguments);
  }

  static void SetDebugLevel(uint32_t level) {
    platform::RegistryKey key;
    ASSERT_TRUE(key.Create(platform::Hive::CurrentUser, "Software\\Kestrelon\\OEPlugin"));
    ASSERT_TRUE(key.WriteDword("DebugLevel", level));
  }

  // A command that must succeed; its lines.
  std::vector<std::string> Run(const std::string& command) {
    WindowReply reply = window_->Command(command);
    EXPECT_TRUE(reply.ok) << command << ": " << reply.error;
    return reply.lines;
  }
  std::vector<std::string> Lines(const std::string& command, const std::string& prefix) {
    return kestrelon::testing::Lines(*window_, command, prefix);
  }

  // The toolbar line of the button with `id` ("<index>\t<id>\t<image>\t<state>\t<text>"), or "".
  std::string Button(int id) {
    for (const std::string& line : Lines("toolbar", "button")) {
      if (Fields(line).at(1) == std::to_string(id)) return line;
    }
    return {};
  }
  int CountButtons(int id) {
    int n = 0;
    for (const std::string& line : Lines("toolbar", "button")) n += Fields(line).at(1) == std::to_string(id);
    return n;
  }

  // The boxes and dialogs closed since the last call: one string each, "<caption>|<text of
  // the first label>" for a message box.
  std::vector<std::string> ClosedBoxes() {
    std::vector<std::string> boxes;
    std::vector<std::string> lines = Run("closed");
    for (size_t i = 0; i < lines.size(); ++i) {
      if (lines[i].rfind("closed\t", 0) != 0) continue;
      std::string caption = lines[i].substr(7), text;
      for (size_t j = i + 1; j < lines.size() && lines[j].rfind("closed\t", 0) != 0 && text.empty(); ++j) {
        std::vector<std::string> f = Fields(lines[j]);
        if (f[0] == "control" && f[1] == "-1" && f[2] == "Static" && !f[3].empty()) text = f[3];
      }
      boxes.push_back(caption + "|" + text);
    }
    return boxes;
  }

  TempDir dir_;
  std::string store_;
  std::unique_ptr<WindowDriver> window_ = std::make_unique<WindowDriver>();
};

// A control line of a dialog description: "<class>\t<text>\t<flags>" of control `id`.
inline std::string ControlOf(const std::vector<std::string>& lines, int id) {
  for (const std::string& line : lines) {
    std::vector<std::string> f = Fields(line);
    if (f[0] == "control" && f[1] == std::to_string(id)) return f[2] + "\t" + f[3] + "\t" + f[4];
  }
  return "missing";
}

}  // namespace kestrelon::testing
