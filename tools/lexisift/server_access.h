// How lexisift reaches the engine's server: by ProgID, as every client does, and the
// server file that lies beside the tool for registering it.
#pragma once

#include "platform/com.h"

#include <string>
#include <vector>

namespace lexisift {

// Exit status when the server's objects cannot be created.
constexpr int kNoServer = 1;

// The server library beside this program.
std::string ServerBesideTool();

// Calls DllRegisterServer or DllUnregisterServer of the server beside this program.
HRESULT CallServerEntry(const char* entry);

// Creates an object of the server by ProgID. When the classes are not registered yet it
// registers the server beside the tool first where that is allowed, and otherwise says
// on stderr how to register it.
HRESULT CreateServerObject(const std::string& progId, REFIID iid, void** object);

int RunRegister(const std::vector<std::string>& args);
int RunUnregister(const std::vector<std::string>& args);

}  // namespace lexisift
