// corpus_bench: learns and filters the SpamAssassin corpus with the filter object and,
// in the same run, with bogofilter, then compares accuracy and speed.
//
//   corpus_bench --corpus DIR --work DIR [--repeat N] [--bogofilter PROGRAM | --no-bogofilter]
//
// DIR holds the folders easy-ham-1, easy-ham-2, hard-ham-1, spam-1 and spam-2 of mail
// files (scripts/corpus-data.sh writes them). Both filters learn easy-ham-1 as ham and
// spam-1 as spam, then classify-and-learn easy-ham-2, hard-ham-1 and spam-2 in that
// order. bogofilter runs in bulk mode (one process per phase, names read from stdin),
// its fastest way of taking many mails, with a throw-away home in the work folder.
#include "Lexisift/engine/mail_filter.h"

#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using kestrelon::CMailFilter;
using kestrelon::ComObject;
using kestrelon::IMailFilter;

namespace {

const char* const kLearnHam = "easy-ham-1";
const char* const kLearnSpam = "spam-1";
struct Checked {
  const char* group;
  bool spam;
};
const Checked kChecked[] = {{"easy-ham-2", false}, {"hard-ham-1", false}, {"spam-2", true}};

using Clock = std::chrono::steady_clock;
double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

std::vector<std::string> MailFiles(const fs::path& folder) {
  std::vector<std::string> files;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(folder, error))
    if (entry.is_regular_file() && entry.path().filename().string()[0] != '.') files.push_back(entry.path().string());
  std::sort(files.begin(), files.end());
  return files;
}

// The verdicts of one filter over one checked group.
struct Verdicts {
  size_t mails = 0;
  size_t spam = 0;
  size_t unsure = 0;  // bogofilter's third answer; it is neither caught nor a false alarm
};

struct Run {
  bool done = false;
  size_t learned = 0;
  double learnSeconds = 0;
  size_t processed = 0;
  double processSeconds = 0;
  std::map<std::string, Verdicts> groups;
  double LearnRate() const { return learnSeconds > 0 ? learned / learnSeconds : 0; }
  double ProcessRate() const { return processSeconds > 0 ? processed / processSeconds : 0; }
};

using Bstr = platform::ScopedBstr;

bool RunOurs(const fs::path& corpus, const fs::path& work, Run& run) {
  void* object = nullptr;
  if (FAILED(ComObject::Create<CMailFilter>(nullptr, kestrelon::IID_IMailFilter, &object))) {
    std::fprintf(stderr, "cannot create the filter\n");
    return false;
  }
  IMailFilter* filter = static_cast<IMailFilter*>(object);
  Bstr store((work / "kestrelon.store").string());
  if (filter->Init(store.value) != S_OK) {
    std::fprintf(stderr, "cannot open the store %s\n", (work / "kestrelon.store").c_str());
    filter->Release();
    return false;
  }
  bool ok = true;
  std::vector<std::string> ham = MailFiles(corpus / kLearnHam), spam = MailFiles(corpus / kLearnSpam);
  auto start = Clock::now();
  for (const auto* list : {&ham, &spam}) {
    VARIANT_BOOL flag = list == &spam ? VARIANT_TRUE : VARIANT_FALSE;
    for (const auto& file : *list) {
      Bstr name(file);
      if (filter->AddMailFile(name.value, flag) != S_OK) {
        std::fprintf(stderr, "cannot learn %s\n", file.c_str());
        ok = false;
      }
      ++run.learned;
    }
  }
  run.learnSeconds = SecondsSince(start);

  std::vector<std::vector<std::string>> checked;
  for (const auto& group : kChecked) checked.push_back(MailFiles(corpus / group.group));
  start = Clock::now();
  for (size_t g = 0; g < checked.size(); ++g) {
    Verdicts& verdicts = run.groups[kChecked[g].group];
    for (const auto& file : checked[g]) {
      Bstr name(file);
      VARIANT_BOOL bad = VARIANT_FALSE;
      if (filter->ProcessMailFile(name.value, &bad) != S_OK) {
        std::fprintf(stderr, "cannot process %s\n", file.c_str());
        ok = false;
      }
      ++verdicts.mails;
      if (bad == VARIANT_TRUE) ++verdicts.spam;
    }
    run.processed += verdicts.mails;
  }
  run.processSeconds = SecondsSince(start);
  filter->Release();
  run.done = ok;
  return ok;
}

std::string Quoted(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

bool WriteList(const fs::path& path, const std::vector<std::string>& files) {
  std::ofstream out(path, std::ios::binary);
  for (const auto& file : files) out << file << '\n';
  return static_cast<bool>(out);
}

// Runs one bulk bogofilter over the names in `list`; its standard output goes to `lines`.
bool Bogofilter(const std::string& program, const fs::path& home, const std::string& options, const fs::path& list,
                std::vector<std::string>& lines) {
  std::string command =
      Quoted(program) + " -d " + Quoted(home.string()) + " " + options + " -b < " + Quoted(list.string()) + " 2>> " +
      Quoted((home / "stderr.log").string());
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return false;
  char line[4096];
  while (std::fgets(line, sizeof line, pipe)) lines.emplace_back(line);
  int status = pclose(pipe);
  // Exit codes 0, 1 and 2 are the spam, ham and unsure of the last mail; 3 is an error.
  return WIFEXITED(status) && WEXITSTATUS(status) <= 2;
}

bool RunBogofilter(const std::string& program, const fs::path& corpus, const fs::path& work, Run& run) {
  fs::path home = work / "bogofilter";
  fs::remove_all(home);
  fs::create_directories(home);
  std::vector<std::string> ham = MailFiles(corpus / kLearnHam), spam = MailFiles(corpus / kLearnSpam);
  if (!WriteList(work / "learn-ham.list", ham) || !WriteList(work / "learn-spam.list", spam)) return false;
  std::vector<std::vector<std::string>> checked;
  for (const auto& group : kChecked) {
    checked.push_back(MailFiles(corpus / group.group));
    if (!WriteList(work / (std::string(group.group) + ".list"), checked.back())) return false;
  }

  std::vector<std::string> ignored;
  auto start = Clock::now();
  if (!Bogofilter(program, home, "-n", work / "learn-ham.list", ignored) ||
      !Bogofilter(program, home, "-s", work / "learn-spam.list", ignored)) {
    std::fprintf(stderr, "bogofilter failed to learn\n");
    return false;
  }
  run.learnSeconds = SecondsSince(start);
  run.learned = ham.size() + spam.size();

  std::vector<std::vector<std::string>> output(checked.size());
  start = Clock::now();
  for (size_t g = 0; g < checked.size(); ++g) {
    if (!Bogofilter(program, home, "-u -T", work / (std::string(kChecked[g].group) + ".list"), output[g])) {
      std::fprintf(stderr, "bogofilter failed on %s\n", kChecked[g].group);
      return false;
    }
  }
  run.processSeconds = SecondsSince(start);

  // Each output line is "<file> <S|H|U> <score>".
  for (size_t g = 0; g < checked.size(); ++g) {
    Verdicts& verdicts = run.groups[kChecked[g].group];
    for (const auto& line : output[g]) {
      size_t cut = line.rfind(' ', line.size() >= 2 ? line.size() - 2 : 0);
      if (cut == std::string::npos || cut < 2) continue;
      char mark = line[cut - 1];
      ++verdicts.mails;
      if (mark == 'S') ++verdicts.spam;
      if (mark == 'U') ++verdicts.unsure;
    }
    if (verdicts.mails != checked[g].size()) {
      std::fprintf(stderr, "bogofilter answered %zu of %zu mails of %s\n", verdicts.mails, checked[g].size(),
                   kChecked[g].group);
      return false;
    }
    run.processed += verdicts.mails;
  }
  run.done = true;
  return true;
}

std::string Cell(const Run& run, const Checked& group) {
  if (!run.done) return "-";
  auto found = run.groups.find(group.group);
  if (found == run.groups.end()) return "-";
  const Verdicts& v = found->second;
  char text[64];
  double percent = v.mails ? 100.0 * static_cast<double>(v.spam) / static_cast<double>(v.mails) : 0;
  if (v.unsure)
    std::snprintf(text, sizeof text, "%zu (%.1f%%) +%zu unsure", v.spam, percent, v.unsure);
  else
    std::snprintf(text, sizeof text, "%zu (%.1f%%)", v.spam, percent);
  return text;
}

std::string Rate(const Run& run, double rate) {
  if (!run.done) return "-";
  char text[32];
  std::snprintf(text, sizeof text, "%.0f", rate);
  return text;
}

void Report(const Run& ours, const Run& bogo) {
  auto row = [](const std::string& what, const std::string& a, const std::string& b) {
    std::printf("%-32s %-24s %s\n", what.c_str(), a.c_str(), b.c_str());
  };
  row("", "kestrelon", "bogofilter");
  for (const auto& group : kChecked) {
    size_t mails = ours.groups.count(group.group) ? ours.groups.at(group.group).mails : 0;
    std::string what = std::string(group.group) + " (" + std::to_string(mails) + ") " +
                       (group.spam ? "spam caught" : "taken for spam");
    row(what, Cell(ours, group), Cell(bogo, group));
  }
  row("learning, mails/s (" + std::to_string(ours.learned) + ")", Rate(ours, ours.LearnRate()),
      Rate(bogo, bogo.LearnRate()));
  row("processing, mails/s (" + std::to_string(ours.processed) + ")", Rate(ours, ours.ProcessRate()),
      Rate(bogo, bogo.ProcessRate()));
  if (ours.done && bogo.done && bogo.LearnRate() > 0 && bogo.ProcessRate() > 0)
    std::printf("\nrate ratio kestrelon / bogofilter: learning %.2f, processing %.2f\n",
                ours.LearnRate() / bogo.LearnRate(), ours.ProcessRate() / bogo.ProcessRate());
}

void Keep(const Run& run, Run& best, bool first) {
  if (first) {
    best = run;
    return;
  }
  best.learnSeconds = std::min(best.learnSeconds, run.learnSeconds);
  best.processSeconds = std::min(best.processSeconds, run.processSeconds);
}

int Usage() {
  std::fprintf(stderr,
               "usage: corpus_bench --corpus DIR --work DIR [--repeat N] [--bogofilter PROGRAM | --no-bogofilter]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  fs::path corpus, work;
  std::string bogofilter = "bogofilter";
  bool withBogofilter = true;
  int repeats = 3;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if ((arg == "--corpus" || arg == "--work" || arg == "--bogofilter" || arg == "--repeat") && i + 1 < argc) {
      std::string value = argv[++i];
      if (arg == "--corpus") corpus = value;
      else if (arg == "--work") work = value;
      else if (arg == "--bogofilter") bogofilter = value;
      else if ((repeats = std::atoi(value.c_str())) < 1 || repeats > 100) return Usage();
    } else if (arg == "--no-bogofilter") {
      withBogofilter = false;
    } else {
      return Usage();
    }
  }
  if (corpus.empty() || work.empty()) return Usage();
  for (const char* group : {kLearnHam, kLearnSpam, kChecked[0].group, kChecked[1].group, kChecked[2].group}) {
    if (MailFiles(corpus / group).empty()) {
      std::fprintf(stderr, "no mails in %s\n", (corpus / group).c_str());
      return 1;
    }
  }
  std::error_code error;
  fs::create_directories(work, error);

  // The machine may be busy with other work: each side runs `repeats` times from an empty
  // store, and each phase keeps its fastest time. The verdicts are the same every run.
  Run ours, bogo;
  bool ok = true;
  for (int i = 0; ok && i < repeats; ++i) {
    Run run;
    fs::remove(work / "kestrelon.store", error);
    fs::remove(work / "kestrelon.store.bak", error);
    ok = RunOurs(corpus, work, run);
    Keep(run, ours, i == 0);
  }
  for (int i = 0; ok && withBogofilter && i < repeats; ++i) {
    Run run;
    ok = RunBogofilter(bogofilter, corpus, work, run);
    Keep(run, bogo, i == 0);
  }
  std::printf("best of %d runs each\n", repeats);
  Report(ours, bogo);
  return ok ? 0 : 1;
}
