// What the options dialog does with the settings when it opens and when the user
// presses OK; shared by the dialog and the headless host.
#pragma once

#include <string>

namespace kestrelon {

class PluginData;

// The controls' state at OK.
struct OptionsInput {
  std::string httpScanTimeoutText;  // the edit control's text; only two characters are read
  bool verifySenders = false;       // check box 1020
  bool archiveSpam = false;         // check box 1018
};

// On opening: in timer mode sender verification is not offered, so it is switched off.
// Returns whether its check box is enabled.
bool PrepareOptions(PluginData& data);

// On OK: stores the three settings in memory. When the link scan or sender verification
// is wanted but the client hangs up after receiving, both stay off and string 15 is
// shown (caption "Info").
void StoreOptions(PluginData& data, const OptionsInput& input);

// Turning sender verification on shows string 19 (caption "Info").
void WarnAboutSenderVerification(PluginData& data);

}  // namespace kestrelon
