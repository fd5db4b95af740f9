// The options dialog (Tools > "Spam Filter Options..."): the three settings, the filter's
// statistics, the event log, the spam archive, the manual and the maker's web site.
#pragma once

#include <windows.h>

#include <string>

namespace kestrelon {

class PluginData;

// Modal, owned by `owner`; changes the settings in memory on OK.
void ShowOptionsDialog(HWND owner, PluginData& data);

// The manual for the program files folder `programFiles`: German when the folder's name
// is the German one ("Programme"), else English. Empty for an empty folder.
std::string ManualPath(const std::string& programFiles);

// "%d.%d.%d.%d" of a module's fixed file version, most significant part first; empty when
// the module has no version resource.
std::string FileVersionText(HMODULE module);

}  // namespace kestrelon
