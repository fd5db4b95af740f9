// Where the mail client keeps its message files: the store folder of the current
// identity, read from the registry as the client itself reads it.
#pragma once

#include <string>

namespace kestrelon::client {

// HKEY_CURRENT_USER "Identities": "Last User ID", else "Default User ID"; empty when
// neither is there.
std::string CurrentIdentity();

// The identity's key below HKEY_CURRENT_USER.
std::string IdentityKey(const std::string& identity);

// The "Store Root" of the current identity with a leading %USERPROFILE% or
// %SYSTEMDRIVE% (any case) expanded and one trailing backslash removed; false when
// there is no identity or no store root.
bool StoreFolderOfCurrentIdentity(std::string& folder);

// Makes `folder` the store root of the current identity, creating an identity (and
// making it the current and default one) when there is none. False on registry failure.
bool RegisterStoreFolder(const std::string& folder);

// `folder` joined with a file name, with the separator of the system.
std::string PathInFolder(const std::string& folder, const std::string& file);

}  // namespace kestrelon::client
