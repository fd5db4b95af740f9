#include "bench/corpus_runs.h"

#include "Lexisift/engine/locked_mail_filter.h"
#include "Lexisift/engine/mail_filter.h"
#include "bench/sample_mails.h"

#include <sys/resource.h>
#include <sys/wait.h>

#include <chrono>
#include <ctime>
#include <cstdio>
#include <fstream>
#include <iterator>

namespace fs = std::filesystem;
using kestrelon::CLockedMailFilter;
using kestrelon::CMailFilter;
using kestrelon::ComObject;
using kestrelon::ILockedMailFilter;
using kestrelon::IMailFilter;
using Bstr = platform::ScopedBstr;

namespace bench {
namespace {

using Clock = std::chrono::steady_clock;

double ProcessorSeconds(int who) {
  if (who == RUSAGE_SELF) {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
  }
  rusage usage{};
  getrusage(who, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Measures from its making until Add: wall-clock time and the processor time of this
// process or, for bogofilter, of the child processes waited for.
class Stopwatch {
 public:
  explicit Stopwatch(int who = RUSAGE_SELF) : who_(who), wall_(Clock::now()), cpu_(ProcessorSeconds(who)) {}
  void AddTo(Seconds& seconds) const {
    seconds.wall += std::chrono::duration<double>(Clock::now() - wall_).count();
    seconds.cpu += ProcessorSeconds(who_) - cpu_;
  }

 private:
  int who_;
  Clock::time_point wall_;
  double cpu_;
};

// A filter object, released when it goes.
template <typename Interface>
class Filter {
 public:
  template <typename Class>
  static Filter Make(REFIID iid) {
    Filter filter;
    void* object = nullptr;
    if (SUCCEEDED(ComObject::Create<Class>(nullptr, iid, &object))) filter.object_ = static_cast<Interface*>(object);
    return filter;
  }
  Filter(Filter&& other) noexcept : object_(other.object_) { other.object_ = nullptr; }
  ~Filter() {
    if (object_) object_->Release();
  }
  Interface* operator->() const { return object_; }
  explicit operator bool() const { return object_ != nullptr; }

 private:
  Filter() = default;
  Interface* object_ = nullptr;
};

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void Count(Run& run, const CheckedGroup& group, char verdict) {
  GroupVerdicts& verdicts = run.groups[group.name];
  ++verdicts.mails;
  if (verdict == 'S') ++verdicts.spam;
  if (verdict == 'U') ++verdicts.unsure;
  run.verdicts += verdict;
  ++run.processed;
}

std::string Quoted(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

}  // namespace

size_t CorpusSplit::Checked() const {
  size_t n = 0;
  for (const auto& group : checked) n += group.files.size();
  return n;
}

double GrowSingleWriter(const std::string& store, const std::vector<std::string>& files) {
  auto filter = Filter<IMailFilter>::Make<CMailFilter>(kestrelon::IID_IMailFilter);
  Bstr path(store);
  if (!filter || filter->Init(path.value) != S_OK) return -1;
  Stopwatch watch;
  for (size_t i = 0; i < files.size(); ++i) {
    Bstr name(files[i]);
    if (filter->AddMailFile(name.value, i % 2 ? VARIANT_TRUE : VARIANT_FALSE) != S_OK) return -1;
  }
  Seconds seconds;
  watch.AddTo(seconds);
  return seconds.wall;
}

bool RunSingleWriter(const std::string& store, const CorpusSplit& split, Run& run) {
  auto filter = Filter<IMailFilter>::Make<CMailFilter>(kestrelon::IID_IMailFilter);
  Bstr path(store);
  if (!filter || filter->Init(path.value) != S_OK) {
    std::fprintf(stderr, "cannot open the store %s\n", store.c_str());
    return false;
  }
  bool ok = true;
  Stopwatch learning;
  for (const auto* list : {&split.learnHam, &split.learnSpam}) {
    VARIANT_BOOL flag = list == &split.learnSpam ? VARIANT_TRUE : VARIANT_FALSE;
    for (const auto& file : *list) {
      Bstr name(file);
      if (filter->AddMailFile(name.value, flag) != S_OK) ok = false;
      ++run.learned;
    }
  }
  learning.AddTo(run.learn);
  Stopwatch processing;
  for (const auto& group : split.checked) {
    for (const auto& file : group.files) {
      Bstr name(file);
      VARIANT_BOOL bad = VARIANT_FALSE;
      if (filter->ProcessMailFile(name.value, &bad) != S_OK) ok = false;
      Count(run, group, bad == VARIANT_TRUE ? 'S' : 'H');
    }
  }
  processing.AddTo(run.process);
  if (!ok) std::fprintf(stderr, "the single-writer filter failed on some mails\n");
  run.done = ok;
  return ok;
}

bool RunShared(const std::string& store, const CorpusSplit& split, Run& run) {
  auto filter = Filter<ILockedMailFilter>::Make<CLockedMailFilter>(kestrelon::IID_ILockedMailFilter);
  if (!filter) return false;
  Bstr path(store);
  // Each mail's texts are read and converted outside the clock, as a caller hands them over.
  auto each = [](const std::vector<std::string>& files, Seconds& seconds, auto&& call) {
    bool ok = true;
    for (const auto& file : files) {
      SampleMail mail = SplitMail(ReadFile(file));
      Bstr header(mail.header), body(mail.body);
      Stopwatch watch;
      if (!call(header.value, body.value)) ok = false;
      watch.AddTo(seconds);
    }
    return ok;
  };
  bool ok = true;
  for (const auto* list : {&split.learnHam, &split.learnSpam}) {
    VARIANT_BOOL flag = list == &split.learnSpam ? VARIANT_TRUE : VARIANT_FALSE;
    ok = each(*list, run.learn, [&](BSTR header, BSTR body) {
           return filter->AddMailStream(path.value, header, body, flag) == S_OK;
         }) && ok;
    run.learned += list->size();
  }
  for (const auto& group : split.checked) {
    ok = each(group.files, run.process, [&](BSTR header, BSTR body) {
           VARIANT_BOOL bad = VARIANT_FALSE;
           bool done = filter->ProcessMailStream(path.value, header, body, &bad) == S_OK;
           Count(run, group, bad == VARIANT_TRUE ? 'S' : 'H');
           return done;
         }) && ok;
  }
  if (!ok) std::fprintf(stderr, "the shared filter failed on some mails\n");
  run.done = ok;
  return ok;
}

bool WriteList(const fs::path& path, const std::vector<std::string>& files) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  for (const auto& file : files) out << file << '\n';
  return static_cast<bool>(out);
}

bool Bogofilter::Bulk(const std::string& options, const fs::path& list, std::vector<std::string>& lines) {
  std::string command = Quoted(program_) + " -d " + Quoted(home_.string()) + " " + options + " -b < " +
                        Quoted(list.string()) + " 2>> " + Quoted((home_ / "stderr.log").string());
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return false;
  char line[4096];
  while (std::fgets(line, sizeof line, pipe)) lines.emplace_back(line);
  int status = pclose(pipe);
  // Exit codes 0, 1 and 2 are the spam, ham and unsure of the last mail; 3 is an error.
  return WIFEXITED(status) && WEXITSTATUS(status) <= 2;
}

bool Bogofilter::Learn(const fs::path& list, bool spam) {
  std::vector<std::string> ignored;
  return Bulk(spam ? "-s" : "-n", list, ignored);
}

bool Bogofilter::RunSplit(const CorpusSplit& split, const fs::path& lists, Run& run) {
  fs::create_directories(home_);
  if (!WriteList(lists / "learn-ham.list", split.learnHam) || !WriteList(lists / "learn-spam.list", split.learnSpam))
    return false;
  for (const auto& group : split.checked)
    if (!WriteList(lists / (group.name + ".list"), group.files)) return false;

  Stopwatch learning(RUSAGE_CHILDREN);
  if (!Learn(lists / "learn-ham.list", false) || !Learn(lists / "learn-spam.list", true)) {
    std::fprintf(stderr, "bogofilter failed to learn\n");
    return false;
  }
  learning.AddTo(run.learn);
  run.learned = split.Learned();

  std::vector<std::vector<std::string>> output(split.checked.size());
  Stopwatch processing(RUSAGE_CHILDREN);
  for (size_t g = 0; g < split.checked.size(); ++g) {
    if (!Bulk("-u -T", lists / (split.checked[g].name + ".list"), output[g])) {
      std::fprintf(stderr, "bogofilter failed on %s\n", split.checked[g].name.c_str());
      return false;
    }
  }
  processing.AddTo(run.process);

  // Each output line is "<file> <S|H|U> <score>".
  for (size_t g = 0; g < split.checked.size(); ++g) {
    for (const auto& line : output[g]) {
      size_t cut = line.rfind(' ', line.size() >= 2 ? line.size() - 2 : 0);
      if (cut == std::string::npos || cut < 2) continue;
      Count(run, split.checked[g], line[cut - 1]);
    }
    if (run.groups[split.checked[g].name].mails != split.checked[g].files.size()) {
      std::fprintf(stderr, "bogofilter answered %zu of %zu mails of %s\n", run.groups[split.checked[g].name].mails,
                   split.checked[g].files.size(), split.checked[g].name.c_str());
      return false;
    }
  }
  run.done = true;
  return true;
}

}  // namespace bench
