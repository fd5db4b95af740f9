// Whether the machine is connected to the Internet.
//
// The environment variable KESTRELON_ONLINE ("0" or "1") overrides the system's answer.
#pragma once

namespace platform {

// Asks the system now (InternetGetConnectedState on Windows; on Linux an interface other than
// loopback that is up and has an address).
bool IsConnected();

// The process-wide connection check: the answer of IsConnected is reused for 10 seconds after
// it was asked, and shared by every caller.
bool IsConnectedCached();

// Forgets the reused answer, so that the next IsConnectedCached asks again (for tests).
void ResetConnectedCache();

}  // namespace platform
