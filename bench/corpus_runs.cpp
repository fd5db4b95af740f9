#include "bench/corpus_runs.h"

#include "Lexisift/engine/locked_mail_filter.h"
#include "Lexisift/engine/mail_filter.h"
#include "Lexisift/engine/mail_tokenizer.h"
#include "bench/child_process.h"
#include "bench/sample_mails.h"

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

double ProcessorSeconds() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// Runs one command, adding its times to `seconds` and its memory to `run`; false when it
// did not end with one of the exit codes in `success`.
bool Measured(const std::vector<std::string>& argv, const std::string& input, const std::string& output,
              const std::string& errors, Seconds& seconds, Run& run, int success = 0) {
  ChildRun child = RunChild(argv, input, output, errors);
  seconds.wall += child.wall;
  seconds.cpu += child.cpu;
  run.peakRssKb = std::max(run.peakRssKb, child.peakRssKb);
  return child.started && child.exitCode >= 0 && child.exitCode <= success;
}

std::vector<std::string> Lines(const fs::path& path) {
  std::vector<std::string> lines;
  std::ifstream in(path, std::ios::binary);
  for (std::string line; std::getline(in, line);) lines.push_back(line + "\n");
  return lines;
}

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

}  // namespace

Stopwatch::Stopwatch() : wall_(std::chrono::steady_clock::now()), cpu_(ProcessorSeconds()) {}

void Stopwatch::AddTo(Seconds& seconds) const {
  seconds.wall += std::chrono::duration<double>(std::chrono::steady_clock::now() - wall_).count();
  seconds.cpu += ProcessorSeconds() - cpu_;
}

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

bool RunCommandLine(const std::string& lexisift, const std::string& store, const CorpusSplit& split,
                    const fs::path& scratch, Run& run) {
  const std::string errors = (scratch / "lexisift.stderr").string();
  bool ok = true;
  for (const auto* list : {&split.learnHam, &split.learnSpam}) {
    std::vector<std::string> argv = {lexisift, "learn", "--store", store, list == &split.learnSpam ? "--spam" : "--ham"};
    argv.insert(argv.end(), list->begin(), list->end());
    ok = Measured(argv, "", "", errors, run.learn, run) && ok;
    run.learned += list->size();
  }
  for (const auto& group : split.checked) {
    std::vector<std::string> argv = {lexisift, "process", "--store", store};
    argv.insert(argv.end(), group.files.begin(), group.files.end());
    fs::path output = scratch / (group.name + ".verdicts");
    ok = Measured(argv, "", output.string(), errors, run.process, run) && ok;
    // "spam\t<file>" or "ham\t<file>" per mail, in the order given.
    std::vector<std::string> lines = Lines(output);
    for (const auto& line : lines) Count(run, group, line.rfind("spam\t", 0) == 0 ? 'S' : 'H');
    ok = lines.size() == group.files.size() && ok;
  }
  if (!ok) std::fprintf(stderr, "lexisift failed on some mails (see %s)\n", errors.c_str());
  run.done = ok;
  return ok;
}

double TokenizerSeconds(const CorpusSplit& split, size_t& bytes) {
  std::vector<std::string> texts;
  for (const auto& group : split.checked)
    for (const auto& file : group.files) {
      texts.emplace_back();
      kestrelon::ReadMailFileText(file, texts.back());
    }
  kestrelon::MailTokenizer tokenizer;
  Seconds seconds;
  bytes = 0;
  Stopwatch watch;
  for (std::string& text : texts) {
    kestrelon::TokenTable table;
    tokenizer.TokenizeHeader(text.data(), table);  // as a mail file is read
    bytes += text.size();
  }
  watch.AddTo(seconds);
  return seconds.cpu;
}

bool WriteList(const fs::path& path, const std::vector<std::string>& files) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  for (const auto& file : files) out << file << '\n';
  return static_cast<bool>(out);
}

bool Bogofilter::Bulk(const std::vector<std::string>& options, const fs::path& list, std::vector<std::string>& lines,
                      Seconds* seconds, Run* run) {
  std::vector<std::string> argv = {program_, "-d", home_.string()};
  argv.insert(argv.end(), options.begin(), options.end());
  argv.push_back("-b");
  fs::path output = home_ / "output.txt";
  Seconds ignoredSeconds;
  Run ignoredRun;
  // Exit codes 0, 1 and 2 are the spam, ham and unsure of the last mail; 3 is an error.
  bool ok = Measured(argv, list.string(), output.string(), (home_ / "stderr.log").string(),
                     seconds ? *seconds : ignoredSeconds, run ? *run : ignoredRun, 2);
  lines = Lines(output);
  return ok;
}

bool Bogofilter::Learn(const fs::path& list, bool spam, Run* run) {
  std::vector<std::string> ignored;
  return Bulk({spam ? "-s" : "-n"}, list, ignored, run ? &run->learn : nullptr, run);
}

bool Bogofilter::RunSplit(const CorpusSplit& split, const fs::path& lists, Run& run) {
  fs::create_directories(home_);
  if (!WriteList(lists / "learn-ham.list", split.learnHam) || !WriteList(lists / "learn-spam.list", split.learnSpam))
    return false;
  for (const auto& group : split.checked)
    if (!WriteList(lists / (group.name + ".list"), group.files)) return false;

  if (!Learn(lists / "learn-ham.list", false, &run) || !Learn(lists / "learn-spam.list", true, &run)) {
    std::fprintf(stderr, "bogofilter failed to learn\n");
    return false;
  }
  run.learned = split.Learned();

  std::vector<std::vector<std::string>> output(split.checked.size());
  for (size_t g = 0; g < split.checked.size(); ++g) {
    if (!Bulk({"-u", "-T"}, lists / (split.checked[g].name + ".list"), output[g], &run.process, &run)) {
      std::fprintf(stderr, "bogofilter failed on %s\n", split.checked[g].name.c_str());
      return false;
    }
  }

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
