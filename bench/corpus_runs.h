// One timed run of a filter over the corpus split: learn the ham and spam folders, then
// classify-and-learn the checked folders in order. Our single-writer filter takes the
// mail files, in this process or through `lexisift` as a user runs it (one command per
// folder); the shared (file-locked) filter takes header and body texts and opens its
// store for every mail; bogofilter runs in bulk mode, one process per folder.
#pragma once

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace bench {

struct CheckedGroup {
  std::string name;
  bool spam;
  std::vector<std::string> files;
};

struct CorpusSplit {
  std::vector<std::string> learnHam;
  std::vector<std::string> learnSpam;
  std::vector<CheckedGroup> checked;
  size_t Learned() const { return learnHam.size() + learnSpam.size(); }
  size_t Checked() const;
};

struct GroupVerdicts {
  size_t mails = 0;
  size_t spam = 0;
  size_t unsure = 0;  // bogofilter's third answer: neither caught nor a false alarm
};

// Seconds of wall-clock time and of processor time (this process's, or for bogofilter
// its processes'): the machine is shared, and processor time shows the work itself.
struct Seconds {
  double wall = 0;
  double cpu = 0;
};

// Measures this process from its making until AddTo: wall-clock and processor time.
class Stopwatch {
 public:
  Stopwatch();
  void AddTo(Seconds& seconds) const;

 private:
  std::chrono::steady_clock::time_point wall_;
  double cpu_;
};

struct Run {
  bool done = false;
  long peakRssKb = 0;  // of this process for runs in it, else of the largest command
  size_t learned = 0;
  Seconds learn;
  size_t processed = 0;
  Seconds process;
  std::string verdicts;  // one letter per checked mail: S, H or U
  std::map<std::string, GroupVerdicts> groups;
  static double Rate(size_t mails, double seconds) { return seconds > 0 ? static_cast<double>(mails) / seconds : 0; }
  double LearnRate() const { return Rate(learned, learn.wall); }
  double ProcessRate() const { return Rate(processed, process.wall); }
  double LearnCpuRate() const { return Rate(learned, learn.cpu); }
  double ProcessCpuRate() const { return Rate(processed, process.cpu); }
};

// Learns `files` into the single-writer store at `store`, even-numbered ones as ham and
// odd-numbered ones as spam; returns the seconds taken, or a negative value on failure.
double GrowSingleWriter(const std::string& store, const std::vector<std::string>& files);

bool RunSingleWriter(const std::string& store, const CorpusSplit& split, Run& run);
bool RunShared(const std::string& store, const CorpusSplit& split, Run& run);
// The same as RunSingleWriter through the `lexisift` program: `learn` once per learned
// folder, `process` once per checked folder; its outputs go to `scratch`.
bool RunCommandLine(const std::string& lexisift, const std::string& store, const CorpusSplit& split,
                    const std::filesystem::path& scratch, Run& run);

// The tokenizer alone over the checked folders' files as the filter reads them: the
// seconds of processor time and the bytes tokenized.
double TokenizerSeconds(const CorpusSplit& split, size_t& bytes);

// bogofilter with its database in `home`.
class Bogofilter {
 public:
  Bogofilter(std::string program, std::filesystem::path home) : program_(std::move(program)), home_(std::move(home)) {}
  // Learns the files of `list` (one name a line) as ham (-n) or spam (-s).
  bool Learn(const std::filesystem::path& list, bool spam, Run* run = nullptr);
  bool RunSplit(const CorpusSplit& split, const std::filesystem::path& lists, Run& run);

 private:
  // Runs bogofilter over the files of `list`; its output lines go to `lines`, its times
  // and memory to `seconds` and `run` when given.
  bool Bulk(const std::vector<std::string>& options, const std::filesystem::path& list,
            std::vector<std::string>& lines, Seconds* seconds, Run* run);

  std::string program_;
  std::filesystem::path home_;
};

bool WriteList(const std::filesystem::path& path, const std::vector<std::string>& files);

}  // namespace bench
