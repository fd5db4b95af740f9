// Creating COM objects by ProgID: COM itself on Windows; elsewhere the same path through
// the platform registry (ProgID -> CLSID -> InprocServer32) and the server's
// DllGetClassObject.
#pragma once

#include "platform/com.h"

#include <string>

namespace platform {

// Enters and leaves a single-threaded apartment on the calling thread.
HRESULT ComInitialize();
void ComUninitialize();

// Creates an in-process object of the class registered under `progId`.
HRESULT CreateInstanceByProgId(const std::string& progId, REFIID iid, void** object);

}  // namespace platform
