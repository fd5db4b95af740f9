// What the lexisift subcommands share: argument errors and reading input files.
#pragma once

#include <string>
#include <vector>

namespace lexisift {

// Exit code for unknown arguments and unreadable files.
constexpr int kUsageError = 64;
// Exit code when the engine failed: the store could not be opened, or a filter member
// reported an internal failure (S_FALSE), so the mail was not processed or learned.
constexpr int kEngineFailure = 74;
// Exit code when another program kept the store for longer than the engine waits for it.
constexpr int kStoreBusy = 75;

using Args = std::vector<std::string>;

// Prints "lexisift: <message>" on stderr and returns kUsageError.
int UsageError(const std::string& message);
// Prints "lexisift: <message>" on stderr and returns kEngineFailure, or kStoreBusy when
// `busy` (with the reason added).
int EngineFailure(const std::string& message, bool busy = false);

// Reads a whole file; false when it cannot be read.
bool ReadFileBytes(const std::string& path, std::string& bytes);

// Mail texts end at their first NUL byte, as the engine sees them.
std::string UpToFirstNul(std::string bytes);

int RunTokens(const Args& args);
int RunMatch(const Args& args);
int RunStats(const Args& args);
int RunDump(const Args& args);
int RunCheck(const Args& args);
int RunProcess(const Args& args);
int RunLearn(const Args& args);
int RunScore(const Args& args);
int RunProcessDir(const Args& args);
int RunMarker(const Args& args);

}  // namespace lexisift
