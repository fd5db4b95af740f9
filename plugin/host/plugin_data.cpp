#include "plugin/host/plugin_data.h"

#include "platform/com_activation.h"
#include "platform/folder_listing.h"
#include "platform/registry.h"
#include "plugin/dbx/dbx_reader.h"
#include "plugin/host/detection_mode.h"
#include "plugin/host/event_log.h"
#include "plugin/host/host_failure.h"
#include "plugin/host/mail_learning.h"

#include <cstdio>
#include <exception>

namespace kestrelon {

namespace {

uint32_t startupCode = 0;
PluginData* pluginData = nullptr;

constexpr const char* kStartupFunction = "InitPluginData";

// A failing ProgID leaves the reference empty: start-up then ends with 4102.
template <class T>
T* CreateByProgId(const char* progId, REFIID iid) {
  void* object = nullptr;
  if (FAILED(platform::CreateInstanceByProgId(progId, iid, &object))) return nullptr;
  return static_cast<T*>(object);
}

template <class T>
void Release(T*& reference) {
  if (reference) reference->Release();
  reference = nullptr;
}

// Warns when the client empties Deleted Items on exit while deleted spam is not kept:
// a mail wrongly judged would then be gone for good.
void CheckDeletedItems(PluginData& data) {
  platform::RegistryKey key;
  if (!key.Open(platform::Hive::CurrentUser, IdentityClientKey(CurrentIdentity()) + "\\Mail", true)) return;
  uint32_t emptyOnExit = 0;
  if (!key.ReadDword("Delete Wastebasket On Exit", emptyOnExit) || emptyOnExit != 1) return;
  if (data.settings->archiveSpam != 0) return;
  LogInfo(data, "Delete Items On Exit is active!\r\n");
  data.window.ShowBox(BoxOwner::kNone, "Kestrelon Spam Filter", data.window.LoadText(16, 512), BoxButtons::kOk,
                      BoxIcon::kExclamation);
}

void DisarmDetection(PluginData& data) {
  if (data.useTimer) {
    if (data.timerId) data.window.DisarmTimer(data.timerId);
    data.timerId = 0;
    return;
  }
  data.inboxFile.Close();
  data.window.DisarmChangeNotification(data.notificationId);
  data.notificationId = 0;
}

// Ends start-up: logs when the log object exists, destroys the state.
bool FailStartup(PluginData*& data, const char* text) {
  if (data && data->log && text) {
    try {
      LogError(*data, kStartupFunction, text);
    } catch (...) {
    }
  }
  delete data;
  data = nullptr;
  pluginData = nullptr;
  return false;
}

}  // namespace

uint32_t CurrentStartupCode() { return startupCode; }

PluginData* CurrentPluginData() { return pluginData; }

std::string StoreFilePath(const std::string& storeFolder, const std::string& file) {
  return platform::JoinPath(storeFolder, file);
}

PluginData::PluginData(IClientWindow& window, HostOptions hostOptions)
    : window(window), options(std::move(hostOptions)) {
  startupCode = kStartupConstructing;
  comInitialized_ = SUCCEEDED(platform::ComInitialize());
  try {
    useTimer = UseTimerDetection();
    addressBook = std::make_unique<AddressBook>();
    startupCode = kStartupCreatingFilter;
    filter = CreateByProgId<IMailFilter>("Lexisift.MailFilter", IID_IMailFilter);
    startupCode = kStartupCreatingLog;
    log = CreateByProgId<ILog>("Lexisift.Log", IID_ILog);
    startupCode = kStartupReadingSettings;
    settings = std::make_unique<PluginSettings>(filter);
    startupCode = kStartupCreatingVerifier;
    senderVerifier = std::make_unique<SenderVerifier>(settings->checkSmtp, options.verifier);
    startupCode = kStartupConstructed;
  } catch (...) {
    // No destructor runs for a constructor that raises: give back what was taken.
    Release(log);
    Release(filter);
    if (comInitialized_) platform::ComUninitialize();
    throw;
  }
}

PluginData::~PluginData() {
  senderVerifier.reset();
  if (settings) settings->Save();
  settings.reset();
  Release(log);
  Release(filter);
  addressBook.reset();
  mailSession.reset();
  if (comInitialized_) platform::ComUninitialize();
}

bool RegisterSHNotify(IClientWindow& window, const std::string& storeFolder, PluginData& data) {
  std::string inbox = StoreFilePath(storeFolder, window.LoadText(7, 256) + ".dbx");
  if (!platform::FileExists(inbox)) return false;
  data.inboxPath = inbox;
  try {
    data.mailSession->AttachInboxReader(std::make_unique<DbxReader>(inbox));
  } catch (...) {
    // The session then reads messages through Simple MAPI alone.
  }
  if (data.useTimer) {
    data.timerId = window.ArmTimer(kNewMailTimerId, kNewMailTimerInterval);
    return true;
  }
  data.inboxFile.Open(inbox, platform::Access::Read, platform::kShareRead | platform::kShareWrite,
                      platform::Disposition::OpenExisting);
  data.notificationId = window.ArmChangeNotification(storeFolder);
  if (data.notificationId == 0) window.ShowBox(BoxOwner::kNone, "Error", "Notification Handler Failed");
  return true;
}

bool InitPluginData(IClientWindow& window, HostOptions options) {
  pluginData = nullptr;
  PluginData* data = nullptr;
  try {
    data = new PluginData(window, std::move(options));
    pluginData = data;
    if (!data->filter || !data->log) {
      startupCode = kStartupNoObjects;
      return FailStartup(data, nullptr);
    }
    std::string folder;
    if (!GetInboxPath(folder)) {
      startupCode = kStartupNoStoreFolder;
      window.ShowBox(BoxOwner::kMainWindow, "Kestrelon Error",
                     "GetInboxPath failed!\r\nIdentity: " + CurrentIdentity() + "\r\nPath: " + folder);
      return FailStartup(data, nullptr);
    }
    data->storeFolder = folder;
    {
      platform::ScopedBstr path(StoreFilePath(folder, "Kestrelon.log"));
      if (FAILED(data->log->Init(path.value))) {
        startupCode = kStartupNoLogFile;
        Release(data->log);
        return FailStartup(data, nullptr);
      }
    }
    {
      platform::ScopedBstr path(StoreFilePath(folder, "Kestrelon.dat"));
      CheckResult(data->filter->Init(path.value), "IMailFilter::Init");
    }
    try {
      data->mailSession = std::make_unique<MailSession>(StoreFilePath(folder, "Kestrelon.msg"));
    } catch (const MailSessionError& e) {
      if (e.kind == MailSessionError::kLogonFailed)
        window.ShowBox(BoxOwner::kNone, "Error", window.LoadText(14, 256));
      startupCode = kStartupNoMailSession;
      return FailStartup(data, "SimpleMapi Init - Does any mail account exist?");
    } catch (...) {
      startupCode = kStartupNoMailSession;
      return FailStartup(data, "SimpleMapi Init - Does any mail account exist?");
    }
    // A step that an ended session left open is settled against the store as it was
    // opened, before anything can change the store; the first pass tries again.
    try {
      SettleLastStep(*data);
    } catch (...) {
    }
    CheckDeletedItems(*data);
    if (!RegisterSHNotify(window, folder, *data)) {
      startupCode = kStartupNoInboxFile;
      return FailStartup(data, "RegisterSHNotify - Does Inbox file exist?");
    }
    return true;
  } catch (const std::exception& e) {
    return FailStartup(data, e.what());
  } catch (...) {
    return FailStartup(data, "Unknown Error");
  }
}

bool StartPlugin(IClientWindow& window, HostOptions options) {
  if (InitPluginData(window, std::move(options))) return true;
  char code[32];
  std::snprintf(code, sizeof code, "\r\nErrorCode: 0x%04x", static_cast<unsigned>(CurrentStartupCode()));
  window.ShowBox(BoxOwner::kMainWindow, "Kestrelon Error", window.LoadText(13, 256) + code);
  return false;
}

void DestroyPluginData() {
  PluginData* data = pluginData;
  if (!data) return;
  try {
    DisarmDetection(*data);
  } catch (...) {
  }
  pluginData = nullptr;
  try {
    delete data;
  } catch (...) {
  }
}

}  // namespace kestrelon
