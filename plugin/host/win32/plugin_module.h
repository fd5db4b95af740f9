// The module handle of Kestrelon.dll, kept by its entry point: every string, dialog,
// bitmap and cursor of the plug-in is loaded from it.
#pragma once

#include <windows.h>

namespace kestrelon {

HMODULE PluginModule();

}  // namespace kestrelon
