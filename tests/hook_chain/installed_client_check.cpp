// The client's half of the installer's test. It runs from the stand-in client's own folder
// in the installer test's Wine prefix, where the filter has been installed: the client,
// started afresh, gets the installed plug-in through the installed starter's hook.
// KESTRELON_CHECK_STORE names the client's store folder.
#include "tests/hook_chain/chain_scenario.h"

#include <windows.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

namespace kestrelon::testing {
namespace {

// The file the client's process loaded Kestrelon.dll from, or "".
std::string LoadedPluginPath() {
  DWORD process = 0;
  GetWindowThreadProcessId(FindWindowA("Outlook Express Browser Class", nullptr), &process);
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, process);
  if (snapshot == INVALID_HANDLE_VALUE) return "no snapshot";
  std::string path;
  MODULEENTRY32 module{};
  module.dwSize = sizeof module;
  for (BOOL more = Module32First(snapshot, &module); more; more = Module32Next(snapshot, &module)) {
    if (lstrcmpiA(module.szModule, "Kestrelon.dll") == 0) path = module.szExePath;
  }
  CloseHandle(snapshot);
  return path;
}

TEST(InstalledFilter, TheClientStartedAfreshGetsThePluginThroughTheStartersHook) {
  char store[MAX_PATH] = {};
  ASSERT_GT(GetEnvironmentVariableA("KESTRELON_CHECK_STORE", store, sizeof store), 0u);
  // Nothing of the filter lies beside the client: its library search finds the plug-in.
  ASSERT_EQ(GetFileAttributesA((client::ProgramFolder() + "Kestrelon.dll").c_str()), INVALID_FILE_ATTRIBUTES);

  client::WindowDriver window;
  ASSERT_TRUE(window.Start(std::string("--store ") + store));
  ExpectPluginAttached(window);
  char system[MAX_PATH] = {};
  GetSystemDirectoryA(system, sizeof system);
  std::string loaded = LoadedPluginPath();
  EXPECT_EQ(lstrcmpiA(loaded.c_str(), (std::string(system) + "\\Kestrelon.dll").c_str()), 0) << loaded;
  ExpectMailJudged(window, store);
  EXPECT_EQ(window.Quit(), 0);
}

}  // namespace
}  // namespace kestrelon::testing
