// The oe-client subcommands: the stand-in mail client's side of the store folder.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace oeclient {

using Args = std::vector<std::string>;

// Exit codes: 0 done, 1 no such message, 2 failure, 64 bad arguments.
constexpr int kNotFound = 1;
constexpr int kFailure = 2;
constexpr int kUsageError = 64;

// Runs `command` with its arguments; output to `out`, messages to `err`.
int Run(const std::string& command, const Args& args, std::ostream& out, std::ostream& err);

extern const char* const kUsage;

}  // namespace oeclient
