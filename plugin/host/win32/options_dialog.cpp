#include "plugin/host/win32/options_dialog.h"

#include "plugin/host/mail_filter_calls.h"
#include "plugin/host/plugin_data.h"
#include "plugin/host/plugin_settings.h"
#include "plugin/host/win32/plugin_module.h"
#include "plugin/res/resource.h"
#include "platform/registry.h"

#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace kestrelon {

namespace {

constexpr uint32_t kCheckSmtpMilliseconds = 5000;
constexpr COLORREF kLinkColor = 0xFF0000;  // blue

struct DialogState {
  PluginData* data = nullptr;
  HFONT linkFont = nullptr;
};

void SetNumber(HWND dialog, int id, unsigned long number) {
  SetDlgItemTextA(dialog, id, std::to_string(number).c_str());
}

void ShowHelp() {
  platform::RegistryKey key;
  std::string programFiles;
  if (key.Open(platform::Hive::LocalMachine, "Software\\Microsoft\\Windows\\CurrentVersion"))
    key.ReadString("ProgramFilesDir", programFiles);
  if (programFiles.size() > 1023) programFiles.resize(1023);
  std::string path = ManualPath(programFiles);
  if (path.empty()) return;
  ShellExecuteA(nullptr, nullptr, "iexplore.exe", path.c_str(), nullptr, SW_SHOWNORMAL);
}

void OpenLogFile() {
  std::string folder;
  if (!GetInboxPath(folder)) return;
  std::string path = folder + "\\kestrelon.log";
  ShellExecuteA(nullptr, nullptr, "notepad.exe", path.c_str(), nullptr, SW_SHOWNORMAL);
}

void OnInit(HWND dialog, DialogState& state) {
  PluginData& data = *state.data;
  PluginSettings& settings = *data.settings;
  // Sender verification needs the shell's notification: not offered in timer mode.
  if (data.useTimer) {
    settings.TurnOffSenderVerification();
    EnableWindow(GetDlgItem(dialog, IDC_CHECK_SMTP), FALSE);
  }
  try {
    FilterCalls filter(settings.Filter());
    SetNumber(dialog, IDC_REAL_MAILS, static_cast<unsigned long>(filter.ItemsCount(false)));
    SetNumber(dialog, IDC_SPAM_MAILS, static_cast<unsigned long>(filter.ItemsCount(true)));
  } catch (const std::exception&) {
    // The statistics keep the dialog's "0".
  }
  SetNumber(dialog, IDC_HTTP_TIMEOUT, settings.httpScanTimeout);
  SetDlgItemTextA(dialog, IDC_VERSION, FileVersionText(PluginModule()).c_str());
  CheckDlgButton(dialog, IDC_ARCHIVE_SPAM, settings.archiveSpam != 0 ? BST_CHECKED : BST_UNCHECKED);
  CheckDlgButton(dialog, IDC_CHECK_SMTP, settings.checkSmtp != 0 ? BST_CHECKED : BST_UNCHECKED);
  // The link shows in the dialog's font, underlined.
  LOGFONTA font{};
  auto dialogFont = reinterpret_cast<HFONT>(SendMessageA(dialog, WM_GETFONT, 0, 0));
  if (dialogFont && GetObjectA(dialogFont, sizeof font, &font)) {
    font.lfUnderline = TRUE;
    state.linkFont = CreateFontIndirectA(&font);
    SendDlgItemMessageA(dialog, IDC_WEB_LINK, WM_SETFONT, reinterpret_cast<WPARAM>(state.linkFont), FALSE);
  }
}

void OnOk(HWND dialog, PluginData& data) {
  PluginSettings& settings = *data.settings;
  char timeout[3] = {};  // two digits at most
  GetDlgItemTextA(dialog, IDC_HTTP_TIMEOUT, timeout, sizeof timeout);
  if (!settings.ChooseNetworkFeatures(
          static_cast<uint32_t>(std::strtoul(timeout, nullptr, 10)),
          IsDlgButtonChecked(dialog, IDC_CHECK_SMTP) == BST_CHECKED ? kCheckSmtpMilliseconds : 0))
    MessageBoxA(dialog, data.window.LoadText(15, 512).c_str(), "Info", MB_OK);
  settings.archiveSpam = IsDlgButtonChecked(dialog, IDC_ARCHIVE_SPAM) == BST_CHECKED ? 1 : 0;
  EndDialog(dialog, IDOK);
}

HCURSOR LinkCursor() {
  HCURSOR hand = LoadCursor(nullptr, IDC_HAND);
  return hand ? hand : LoadCursorA(PluginModule(), MAKEINTRESOURCEA(IDC_LINK_CURSOR));
}

bool IsClick(UINT mouseMessage) {
  return mouseMessage == WM_LBUTTONDOWN || mouseMessage == WM_RBUTTONDOWN || mouseMessage == WM_LBUTTONDBLCLK ||
         mouseMessage == WM_RBUTTONDBLCLK;
}

INT_PTR CALLBACK OptionsProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* state = reinterpret_cast<DialogState*>(GetWindowLongPtrA(dialog, DWLP_USER));
  try {
    switch (message) {
      case WM_INITDIALOG:
        SetWindowLongPtrA(dialog, DWLP_USER, lParam);
        OnInit(dialog, *reinterpret_cast<DialogState*>(lParam));
        return TRUE;
      case WM_CTLCOLORSTATIC:
        if (reinterpret_cast<HWND>(lParam) != GetDlgItem(dialog, IDC_WEB_LINK)) return FALSE;
        SetTextColor(reinterpret_cast<HDC>(wParam), kLinkColor);
        SetBkMode(reinterpret_cast<HDC>(wParam), TRANSPARENT);
        return reinterpret_cast<INT_PTR>(GetStockObject(NULL_BRUSH));
      case WM_SETCURSOR: {
        HWND link = GetDlgItem(dialog, IDC_WEB_LINK);
        if (reinterpret_cast<HWND>(wParam) != link) return FALSE;
        // The hand is set here rather than as the class cursor, which every static
        // control of the process shares.
        SetCursor(LinkCursor());
        if (IsClick(HIWORD(lParam))) {
          char address[512] = {};
          GetWindowTextA(link, address, sizeof address);
          ShellExecuteA(dialog, "open", address, nullptr, nullptr, SW_SHOWNORMAL);
        }
        SetWindowLongPtrA(dialog, DWLP_MSGRESULT, TRUE);
        return TRUE;
      }
      case WM_COMMAND:
        if (!state) return FALSE;
        switch (LOWORD(wParam)) {
          case IDC_CHECK_SMTP:
            if (HIWORD(wParam) == BN_CLICKED && IsDlgButtonChecked(dialog, IDC_CHECK_SMTP) == BST_CHECKED)
              MessageBoxA(dialog, state->data->window.LoadText(19, 512).c_str(), "Info", MB_OK);
            return TRUE;
          case IDC_HELP_BUTTON:
            ShowHelp();
            return TRUE;
          case IDC_LOG_FILE:
            OpenLogFile();
            return TRUE;
          case IDC_ARCHIVE:
            ShellExecuteA(nullptr, nullptr, "explorer.exe", state->data->settings->archiveFolder.c_str(), nullptr,
                          SW_SHOWNORMAL);
            return TRUE;
          case IDOK:
            OnOk(dialog, *state->data);
            return TRUE;
          case IDCANCEL:
            EndDialog(dialog, IDCANCEL);
            return TRUE;
        }
        return FALSE;
      case WM_DESTROY:
        if (state && state->linkFont) DeleteObject(state->linkFont);
        return FALSE;
    }
  } catch (...) {
    // The dialog stays usable; nothing leaves its procedure.
  }
  return FALSE;
}

}  // namespace

std::string ManualPath(const std::string& programFiles) {
  if (programFiles.empty()) return {};
  const char* language = programFiles.find("Programme") != std::string::npos ? "de-de" : "en-us";
  return programFiles + "\\Kestrelon\\Manual\\" + language + "\\kestrelon.htm";
}

std::string FileVersionText(HMODULE module) {
  char path[MAX_PATH] = {};
  if (!GetModuleFileNameA(module, path, MAX_PATH)) return {};
  DWORD handle = 0;
  DWORD size = GetFileVersionInfoSizeA(path, &handle);
  if (size == 0) return {};
  std::vector<char> info(size);
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  if (!GetFileVersionInfoA(path, 0, size, info.data()) ||
      !VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &length) || !fixed)
    return {};
  char text[64];
  std::snprintf(text, sizeof text, "%d.%d.%d.%d", static_cast<int>(HIWORD(fixed->dwFileVersionMS)),
                static_cast<int>(LOWORD(fixed->dwFileVersionMS)), static_cast<int>(HIWORD(fixed->dwFileVersionLS)),
                static_cast<int>(LOWORD(fixed->dwFileVersionLS)));
  return text;
}

void ShowOptionsDialog(HWND owner, PluginData& data) {
  DialogState state;
  state.data = &data;
  DialogBoxParamA(PluginModule(), MAKEINTRESOURCEA(IDD_OPTIONS), owner, OptionsProc, reinterpret_cast<LPARAM>(&state));
}

}  // namespace kestrelon
