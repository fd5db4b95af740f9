// The plug-in's state for one attached main window of the mail client, its start-up
// (InitPluginData) and its tear-down.
//
// There is one PluginData per process, reached through CurrentPluginData(); it is null
// while no plug-in is attached. The window handles of the client (menus, toolbars,
// folder tree, status bar, the toolbar button's indexes) are kept by the Win32 side of
// the client-window seam, which is the only code that needs them.
#pragma once

#include "platform/file.h"
#include "plugin/host/address_book.h"
#include "plugin/host/client_window.h"
#include "plugin/host/mail_session.h"
#include "plugin/host/plugin_settings.h"
#include "plugin/verify/sender_verifier.h"
#include "shared/log_interface.h"
#include "shared/mail_filter_interface.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace kestrelon {

// The step start-up was at: the failure message shows it as "ErrorCode: 0x%04x".
enum StartupCode : uint32_t {
  kStartupConstructing = 0x1000,     // COM initialised, address book opened
  kStartupCreatingFilter = 0x1001,   // before creating "Lexisift.MailFilter"
  kStartupCreatingLog = 0x1002,      // before creating "Lexisift.Log"
  kStartupReadingSettings = 0x1003,  // before reading the settings
  kStartupCreatingVerifier = 0x1004,
  kStartupConstructed = 0x1005,
  kStartupNoObjects = 0x1006,      // the filter or the log object could not be created
  kStartupNoStoreFolder = 0x1007,  // GetInboxPath failed
  kStartupNoLogFile = 0x1008,      // the log object refused its file
  kStartupNoMailSession = 0x1009,  // Simple MAPI or the seen-message list could not be opened
  kStartupNoInboxFile = 0x100A,    // RegisterSHNotify failed
};

uint32_t CurrentStartupCode();

// Called with every entry the host hands to the log object: `function` is null for
// LogInfo, the function name for LogError. For diagnosis (the headless host prints them).
using LogObserver = std::function<void(const char* function, const std::string& text)>;

// What a caller may set beyond the system's own configuration.
struct HostOptions {
  SenderVerifierOptions verifier;  // the SMTP service and DNS of sender verification
  LogObserver logObserver;
};

class PluginData {
 public:
  // Initialises COM, opens the address book, creates the filter and log objects by
  // ProgID (a failure leaves the reference null), reads the settings and creates the
  // sender verifier, setting the start-up code before each step. Raises what a step
  // raises.
  PluginData(IClientWindow& window, HostOptions options);
  // Destroys in this order: sender verifier; settings (saved to the registry); log and
  // filter references; address book; mail session (bookmark written, Simple MAPI logged
  // off); COM. Detection must have been disarmed before.
  ~PluginData();
  PluginData(const PluginData&) = delete;
  PluginData& operator=(const PluginData&) = delete;

  bool firstRunStarted = false;
  bool useTimer = false;
  IClientWindow& window;
  uint64_t inboxLastWriteTime = 0;
  unsigned long notificationId = 0;
  platform::File inboxFile;  // held open (sharing read and write) in notification mode
  std::string inboxPath;
  uintptr_t timerId = 0;
  std::unique_ptr<MailSession> mailSession;
  std::unique_ptr<AddressBook> addressBook;
  std::unique_ptr<PluginSettings> settings;
  std::unique_ptr<SenderVerifier> senderVerifier;
  IMailFilter* filter = nullptr;
  ILog* log = nullptr;
  std::string storeFolder;
  HostOptions options;

 private:
  bool comInitialized_ = false;
};

// The attached plug-in's state, or null.
PluginData* CurrentPluginData();

// Start-up for the client's main window: true when the plug-in is attached and new-mail
// detection is armed. On false CurrentStartupCode() tells the failed step, the state is
// destroyed and CurrentPluginData() is null. Never raises.
bool InitPluginData(IClientWindow& window, HostOptions options = {});

// InitPluginData, and on failure the box the user sees: string 13 followed by
// "\r\nErrorCode: 0x%04x", caption "Kestrelon Error", owned by the main window.
bool StartPlugin(IClientWindow& window, HostOptions options = {});

// Arms new-mail detection on the Inbox file of `storeFolder`: false when the file does
// not exist. Gives the mail session a reader of the Inbox file.
bool RegisterSHNotify(IClientWindow& window, const std::string& storeFolder, PluginData& data);

// The main window is being destroyed: disarm detection, destroy the state, clear the
// process-wide pointer. Does nothing when no plug-in is attached. Never raises.
void DestroyPluginData();

// The path "%s\\%s" of a file in the store folder, with the system's separator.
std::string StoreFilePath(const std::string& storeFolder, const std::string& file);

}  // namespace kestrelon
