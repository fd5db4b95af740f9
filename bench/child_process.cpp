#include "bench/child_process.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

extern char** environ;

namespace bench {

namespace {

// The pipes to and from the launcher; -1 while there is none.
int toLauncher = -1;
int fromLauncher = -1;

bool WriteAll(int fd, const void* data, size_t size) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    ssize_t n = write(fd, p, size);
    if (n <= 0) return false;
    p += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

bool ReadAll(int fd, void* data, size_t size) {
  char* p = static_cast<char*>(data);
  while (size > 0) {
    ssize_t n = read(fd, p, size);
    if (n <= 0) return false;
    p += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

bool WriteStrings(int fd, const std::vector<std::string>& strings) {
  uint64_t count = strings.size();
  if (!WriteAll(fd, &count, sizeof count)) return false;
  for (const auto& s : strings) {
    uint64_t size = s.size();
    if (!WriteAll(fd, &size, sizeof size) || !WriteAll(fd, s.data(), s.size())) return false;
  }
  return true;
}

bool ReadStrings(int fd, std::vector<std::string>& strings) {
  uint64_t count = 0;
  if (!ReadAll(fd, &count, sizeof count)) return false;
  strings.assign(count, {});
  for (auto& s : strings) {
    uint64_t size = 0;
    if (!ReadAll(fd, &size, sizeof size)) return false;
    s.resize(size);
    if (!ReadAll(fd, s.data(), size)) return false;
  }
  return true;
}

void Redirect(const std::string& path, int fd, int flags) {
  if (path.empty()) return;
  int opened = open(path.c_str(), flags, 0644);
  if (opened < 0 || dup2(opened, fd) < 0) _exit(127);
  close(opened);
}

// Starts and waits for one program; the request is the three paths, then argv, and the
// environment the program gets.
ChildRun Run(const std::vector<std::string>& request, const std::vector<std::string>& environment) {
  ChildRun run;
  if (request.size() < 4) return run;
  std::vector<char*> args, env;
  for (size_t i = 3; i < request.size(); ++i) args.push_back(const_cast<char*>(request[i].c_str()));
  args.push_back(nullptr);
  for (const auto& e : environment) env.push_back(const_cast<char*>(e.c_str()));
  env.push_back(nullptr);
  auto start = std::chrono::steady_clock::now();
  pid_t pid = fork();
  if (pid < 0) return run;
  if (pid == 0) {
    Redirect(request[0], 0, O_RDONLY);
    Redirect(request[1], 1, O_WRONLY | O_CREAT | O_TRUNC);
    Redirect(request[2], 2, O_WRONLY | O_CREAT | O_TRUNC);
    execvpe(args[0], args.data(), env.data());
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  if (wait4(pid, &status, 0, &usage) != pid) return run;
  run.started = !(WIFEXITED(status) && WEXITSTATUS(status) == 127);
  run.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  run.cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
            static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  run.peakRssKb = usage.ru_maxrss;
  if (WIFEXITED(status)) run.exitCode = WEXITSTATUS(status);
  return run;
}

}  // namespace

void StartLauncher() {
  int request[2], reply[2];
  if (pipe(request) != 0 || pipe(reply) != 0) return;
  pid_t pid = fork();
  if (pid < 0) return;
  if (pid == 0) {
    close(request[1]);
    close(reply[0]);
    // Serves requests until the caller closes its end (when it exits).
    for (std::vector<std::string> strings, environment;
         ReadStrings(request[0], strings) && ReadStrings(request[0], environment);) {
      ChildRun run = Run(strings, environment);
      if (!WriteAll(reply[1], &run, sizeof run)) break;
    }
    _exit(0);
  }
  close(request[0]);
  close(reply[1]);
  toLauncher = request[1];
  fromLauncher = reply[0];
}

ChildRun RunChild(const std::vector<std::string>& argv, const std::string& inputPath, const std::string& outputPath,
                  const std::string& errorPath) {
  std::vector<std::string> request = {inputPath, outputPath, errorPath};
  request.insert(request.end(), argv.begin(), argv.end());
  // The environment as it is now, which the launcher's own is not.
  std::vector<std::string> environment;
  for (char** e = environ; *e; ++e) environment.emplace_back(*e);
  ChildRun run;
  if (toLauncher < 0) {
    run = Run(request, environment);
  } else if (!WriteStrings(toLauncher, request) || !WriteStrings(toLauncher, environment) ||
             !ReadAll(fromLauncher, &run, sizeof run)) {
    run = {};
  }
  if (!run.started) std::fprintf(stderr, "cannot start %s\n", argv.empty() ? "" : argv[0].c_str());
  return run;
}

}  // namespace bench
