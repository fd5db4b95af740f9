// The token probabilities dialog (Edit > "Spam Probabilities", only with DebugLevel above
// 2): the tokens of the first selected message with their spam probabilities.
#pragma once

#include <windows.h>

namespace kestrelon {

class PluginData;

// Modal, owned by `owner`. A failure of the filter is shown in a message box and leaves
// the dialog as far as it was filled.
void ShowTokenDialog(HWND owner, PluginData& data);

}  // namespace kestrelon
