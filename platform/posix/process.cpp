#include "platform/process.h"

#include <cerrno>
#include <csignal>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace platform {

ChildProcess::~ChildProcess() {
  if (pid_ > 0) {
    int code;
    Kill();
    Wait(code);
  }
}

bool ChildProcess::Start(const std::string& program, const std::vector<std::string>& args) {
  if (pid_ > 0) return false;
  std::vector<std::string> all{program};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid;
  if (posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ) != 0) return false;
  pid_ = pid;
  return true;
}

bool ChildProcess::Wait(int& exitCode) {
  if (pid_ <= 0) return false;
  int status = 0;
  while (waitpid(pid_, &status, 0) < 0)
    if (errno != EINTR) return false;
  pid_ = -1;
  exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return true;
}

bool ChildProcess::Kill() { return pid_ > 0 && kill(pid_, SIGKILL) == 0; }

bool ChildProcess::Running() const {
  if (pid_ <= 0) return false;
  siginfo_t info{};
  if (waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) != 0) return false;
  return info.si_pid == 0;
}

std::string CurrentExecutablePath() {
  char buffer[4096];
  ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
}

}  // namespace platform
