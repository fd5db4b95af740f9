// The dbxtool subcommands.
#pragma once

#include <string>
#include <vector>

namespace dbxtool {

using Args = std::vector<std::string>;

// Exit codes: 0 done, 1 not found or unreadable message, 2 failure, 64 bad arguments.
constexpr int kNotFound = 1;
constexpr int kFailure = 2;
constexpr int kUsageError = 64;

int UsageError(const std::string& message);

int RunCreate(const Args& args);
int RunAppend(const Args& args);
int RunDelete(const Args& args);
int RunList(const Args& args);
int RunRead(const Args& args);
int RunSave(const Args& args);

}  // namespace dbxtool
