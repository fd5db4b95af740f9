// The plug-in's three user settings (HKEY_CURRENT_USER "Software\\Kestrelon\\OEPlugin")
// and the reads of the mail client's own configuration that start-up needs: the current
// identity, its store folder and whether the client hangs up after sending and receiving.
#pragma once

#include "shared/mail_filter_interface.h"

#include <cstdint>
#include <string>

namespace kestrelon {

constexpr const char* kSettingsKey = "Software\\Kestrelon\\OEPlugin";
// The longest time-out a setting holds, in seconds: its milliseconds fit a signed 32-bit
// count, as the waits and sockets that use them take them.
constexpr uint32_t kMaxTimeoutSeconds = 2147483;
// Longest store folder and archive folder text (a 255-byte buffer with its NUL).
constexpr size_t kMaxFolderText = 254;

// HKEY_CURRENT_USER "Identities": "Last User ID", else "Default User ID"; empty when the
// key or both values are missing.
std::string CurrentIdentity();

// The key of the current identity's client settings below HKEY_CURRENT_USER.
std::string IdentityClientKey(const std::string& identity);

// The store folder of the current identity from its "Store Root". A leading
// "%USERPROFILE%" or "%SYSTEMDRIVE%" is replaced by the environment variable of that
// name, and one trailing separator is removed. On Windows the value is upper-cased
// first, as the client's file system ignores case; elsewhere file names are
// case-sensitive, so the prefixes are matched without regard to case and the rest is kept
// as written. True when the folder exists; `folder` holds what was found either way.
bool GetInboxPath(std::string& folder);

// Whether the client hangs up a dial-up connection after sending and receiving: true
// when the identity's key cannot be opened or "Hangup After Spool" is a non-zero DWORD.
bool IsHangUpAfterSpool();

class PluginSettings {
 public:
  // Reads the registry (DWORD values only, time-outs cut to kMaxTimeoutSeconds), turns
  // the link scan and sender verification off when the client hangs up after receiving,
  // and creates the archive folder in the store folder.
  explicit PluginSettings(IMailFilter* filter);

  // Writes the three values back; a key that cannot be created loses them silently.
  // Values held off because the client hangs up are written as the user chose them.
  void Save() const;

  // Sets the link scan time-out (seconds) and the SMTP time-out (milliseconds) the user
  // chose. While the client hangs up after receiving, both are held at 0 and false is
  // returned when one was asked for; Save still writes the values chosen, so the hold
  // never outlives the client's setting. Asking for both off while they are held
  // changes nothing: that is how they show.
  bool ChooseNetworkFeatures(uint32_t httpScanSeconds, uint32_t smtpMilliseconds);
  // Sender verification off, also as saved.
  void TurnOffSenderVerification();

  IMailFilter* Filter() const { return filter_; }

  uint32_t httpScanTimeout = 0;  // seconds, 0 = no link scan
  uint32_t archiveSpam = 0;      // 0 or 1
  uint32_t checkSmtp = 0;        // milliseconds, 0 = no sender verification
  std::string archiveFolder;     // the store folder's "SpamArchive", empty without store folder

 private:
  IMailFilter* filter_;
  bool heldOff_ = false;  // the two network features are held at 0 by the hang-up
  uint32_t chosenHttpScanTimeout_ = 0;
  uint32_t chosenCheckSmtp_ = 0;
};

}  // namespace kestrelon
