#include "plugin/host/options_store.h"

#include "plugin/host/plugin_data.h"

#include <cstdlib>

namespace kestrelon {

namespace {

// The SMTP time-out the check box stands for.
constexpr uint32_t kSenderVerificationTimeoutMs = 5000;

}  // namespace

bool PrepareOptions(PluginData& data) {
  if (!data.useTimer) return true;
  data.settings->TurnOffSenderVerification();
  return false;
}

void StoreOptions(PluginData& data, const OptionsInput& input) {
  PluginSettings& settings = *data.settings;
  std::string digits = input.httpScanTimeoutText.substr(0, 2);
  int seconds = std::atoi(digits.c_str());
  if (!settings.ChooseNetworkFeatures(seconds > 0 ? static_cast<uint32_t>(seconds) : 0,
                                      input.verifySenders ? kSenderVerificationTimeoutMs : 0))
    data.window.ShowBox(BoxOwner::kMainWindow, "Info", data.window.LoadText(15, 256));
  settings.archiveSpam = input.archiveSpam ? 1 : 0;
}

void WarnAboutSenderVerification(PluginData& data) {
  data.window.ShowBox(BoxOwner::kMainWindow, "Info", data.window.LoadText(19, 256));
}

}  // namespace kestrelon
