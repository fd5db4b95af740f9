// Programs run to their end, measured by the system: wall-clock time, processor time
// (user and system) and peak resident memory, with standard input and output in files.
#pragma once

#include <string>
#include <vector>

namespace bench {

struct ChildRun {
  bool started = false;
  int exitCode = -1;  // -1 when the program did not exit by itself
  double wall = 0;
  double cpu = 0;
  long peakRssKb = 0;
};

// Linux counts in a program's peak memory the memory of the process it was started
// from, so programs are started by a small launcher process that this call forks off
// while the caller is still small: call it first in main. Without it RunChild starts
// programs itself.
void StartLauncher();

// Runs argv[0] (looked up on PATH) with its arguments; an empty path leaves that stream
// as it is. The output and error files are replaced.
ChildRun RunChild(const std::vector<std::string>& argv, const std::string& inputPath, const std::string& outputPath,
                  const std::string& errorPath);

}  // namespace bench
