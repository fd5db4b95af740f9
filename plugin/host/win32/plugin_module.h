// The module handle of Kestrelon.dll, kept by its entry point: every string, dialog,
// bitmap and cursor of the plug-in is loaded from it.
#pragma once

#include <windows.h>

#include <string>

namespace kestrelon {

HMODULE PluginModule();

// String `id` of the plug-in's string table in the thread's language, as LoadString gives
// it into a buffer of `bufferChars` characters; empty for a missing id.
std::string LoadPluginResourceText(unsigned id, size_t bufferChars);

}  // namespace kestrelon
