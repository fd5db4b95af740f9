// kestrelon-verify: shows what the sender check decides for each address given.
//   kestrelon-verify [--timeout SECONDS] ADDRESS...
// prints "exists\t<address>" or "missing\t<address>" per address, the address as the check
// lower-cased it.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/console.h"
#include "platform/worker.h"
#include "plugin/verify/sender_verifier.h"

namespace {

constexpr int kUsageError = 64;
constexpr uint32_t kDefaultTimeoutSeconds = 10;
constexpr uint32_t kMaxTimeoutSeconds = 3600;

int Usage(const std::string& message) {
  std::fprintf(stderr, "kestrelon-verify: %s\nusage: kestrelon-verify [--timeout SECONDS] ADDRESS...\n",
               message.c_str());
  return kUsageError;
}

// Whole seconds from 0 to kMaxTimeoutSeconds.
bool ParseSeconds(const std::string& text, uint32_t& seconds) {
  if (text.empty() || text.size() > 4) return false;
  uint32_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<uint32_t>(c - '0');
  }
  if (value > kMaxTimeoutSeconds) return false;
  seconds = value;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  platform::UseBinaryStdout();
  uint32_t seconds = kDefaultTimeoutSeconds;
  std::vector<std::string> addresses;
  bool options = true;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (options && arg == "--") {
      options = false;
    } else if (options && arg == "--timeout") {
      if (i + 1 >= argc || !ParseSeconds(argv[i + 1], seconds)) {
        return Usage("--timeout needs a number of seconds from 0 to 3600");
      }
      ++i;
    } else if (options && arg.size() > 1 && arg[0] == '-') {
      return Usage("unknown option: " + arg);
    } else {
      addresses.push_back(arg);
    }
  }
  if (addresses.empty()) return Usage("no address given");

  uint32_t timeoutMs = seconds * 1000;
  kestrelon::SenderVerifierOptions verifierOptions;
  // For tests against a mail server on another port than 25.
  if (const char* port = std::getenv("KESTRELON_SMTP_PORT"); port != nullptr && *port != '\0') {
    verifierOptions.smtpService = port;
  }
  kestrelon::SenderVerifier verifier(timeoutMs, verifierOptions);
  for (std::string& address : addresses) {
    bool exists = verifier.VerifySender(address);
    std::printf("%s\t%s\n", exists ? "exists" : "missing", address.c_str());
    std::fflush(stdout);
  }
  // Give workers that were given up on a moment to end before the process does.
  platform::WaitForWorkers(1000);
  return 0;
}
