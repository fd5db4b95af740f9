// oe-window: the stand-in mail client's main window, driven by commands on standard input.
//   oe-window [--store DIR] [--lang en|de] [--icons 16|22|24] [--no-hot] [--combo] [--attach DLL]
#include "client/store/mail_store.h"
#include "client/store/store_location.h"
#include "client/win32/commands.h"
#include "client/win32/text_convert.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

using namespace kestrelon::client;

namespace {

CommandInterpreter* interpreter = nullptr;

bool OnMainWindowMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  if (!interpreter) return false;
  switch (message) {
    case kCommandMessage: {
      std::unique_ptr<std::string> line(reinterpret_cast<std::string*>(lParam));
      interpreter->Execute(*line);
      return true;
    }
    case kInputEndedMessage:
      interpreter->Execute("quit");
      return true;
    case kDialogMessage:
      interpreter->OnDialog(reinterpret_cast<HWND>(lParam));
      return true;
    case kPopupMessage:
      interpreter->OpenPopup(static_cast<int>(wParam));
      return true;
    case WM_COMMAND:
      interpreter->NoteCommand(LOWORD(wParam));
      break;
  }
  result = 0;
  return false;
}

// The program's own message-only window: commands, dialog notices and popup requests
// reach it whichever main windows are open, also while a modal box runs.
LRESULT CALLBACK CommandWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  LRESULT result = 0;
  if (OnMainWindowMessage(message, wParam, lParam, result)) return result;
  return DefWindowProcW(window, message, wParam, lParam);
}

HWND CreateCommandWindow() {
  WNDCLASSW wc{};
  wc.lpfnWndProc = CommandWindowProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"oe-window commands";
  if (!RegisterClassW(&wc)) return nullptr;
  return CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
}

int Usage(const char* why) {
  fprintf(stderr, "oe-window: %s\nusage: oe-window [--store DIR] [--lang en|de] [--icons 16|22|24] [--no-hot] "
                  "[--combo] [--attach DLL]\n", why);
  return 64;
}

}  // namespace

int main(int argc, char** argv) {
  WindowOptions options;
  options.language = UserLanguage();
  std::string attach;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    bool hasValue = i + 1 < argc;
    if (arg == "--store" && hasValue) {
      options.storeFolder = argv[++i];
    } else if (arg == "--lang" && hasValue) {
      if (!ParseLanguage(argv[++i], options.language)) return Usage("--lang takes en or de");
    } else if (arg == "--icons" && hasValue) {
      options.iconSize = atoi(argv[++i]);
      if (options.iconSize != 16 && options.iconSize != 22 && options.iconSize != 24)
        return Usage("--icons takes 16, 22 or 24");
    } else if (arg == "--no-hot") {
      options.hotImages = false;
    } else if (arg == "--combo") {
      options.comboInToolbar = true;
    } else if (arg == "--attach" && hasValue) {
      attach = argv[++i];
    } else {
      return Usage(("unknown argument " + arg).c_str());
    }
  }
  // A German client runs on a German system: its thread locale picks German resources,
  // for the client and for the plug-in inside it.
  if (options.language == Language::German) {
    SetThreadLocale(MAKELCID(MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN), SORT_DEFAULT));
  }
  if (!options.storeFolder.empty()) {
    try {
      MailStore(options.storeFolder, options.language == Language::German ? kestrelon::UiLanguage::kGerman
                                                                          : kestrelon::UiLanguage::kEnglish)
          .Create();
    } catch (const std::exception& e) {
      fprintf(stderr, "oe-window: %s\n", e.what());
      return 2;
    }
    if (!RegisterStoreFolder(options.storeFolder)) {
      fprintf(stderr, "oe-window: cannot register the store folder\n");
      return 2;
    }
  }

  MainWindow window(options);
  if (!window.Create()) {
    fprintf(stderr, "oe-window: cannot create the main window\n");
    return 2;
  }
  HWND commandWindow = CreateCommandWindow();
  if (!commandWindow) {
    fprintf(stderr, "oe-window: cannot create the command window\n");
    return 2;
  }
  DialogWatch dialogs;
  dialogs.Install(commandWindow);
  CommandChannel channel;
  CommandInterpreter commands(window, commandWindow, dialogs, channel);
  interpreter = &commands;
  SetMainWindowHook(OnMainWindowMessage);
  if (!attach.empty()) {
    LONG_PTR result = 0;
    std::string error;
    if (!commands.Attach(FromUtf8(attach), window.Handle(), result, error)) fprintf(stderr, "oe-window: %s\n", error.c_str());
  }
  channel.Start(commandWindow);

  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  interpreter = nullptr;
  dialogs.Uninstall();
  return 0;
}
