// corpus_bench: everything the speed of the filter is judged by, side by side in one run:
// our filters and bogofilter over the SpamAssassin corpus, in this process and through the
// command line, then the plug-in's new-mail pass. It compares accuracy, speed and peak
// memory, and checks that the store files and verdicts are the ones recorded for the
// code as it was.
//
//   corpus_bench --corpus DIR --work DIR [--repeat N] [--bogofilter PROGRAM | --no-bogofilter]
//                [--lexisift PROGRAM] [--phases corpus,grown,shared,cli,pipeline]
//                [--inbox N] [--new N] [--digests FILE] [--record-digests FILE]
//
// DIR holds the folders easy-ham-1, easy-ham-2, hard-ham-1, spam-1 and spam-2 of mail
// files (scripts/corpus-data.sh writes them). Every split learns easy-ham-1 as ham and
// spam-1 as spam, then classifies-and-learns easy-ham-2, hard-ham-1 and spam-2:
//   corpus    the single-writer store in this process, starting empty, and the tokenizer
//             alone over the classified mails;
//   grown     the same, starting from a store grown by 6000 synthetic mails of 120 random
//             words (about 800 000 items); bogofilter's database grown alike;
//   shared    the shared (file-locked) store in this process, opened afresh for every mail;
//   cli       the corpus and grown splits through `lexisift learn` and `lexisift process`,
//             one command per folder as a user runs them (needs --lexisift);
//   pipeline  the plug-in's new-mail pass over an Inbox of --inbox messages (10 000), the
//             last --new (1 000) of them new, against `lexisift process` on the same mails
//             (see bench/pipeline_runs.h; needs --lexisift).
// Each split runs N times (default 3), ours and bogofilter's alternately, and keeps each
// step's fastest time; the machine may be busy with other work. The last table gathers
// the ratios to bogofilter of every split.
#include "bench/child_process.h"
#include "bench/corpus_runs.h"
#include "bench/corpus_support.h"
#include "bench/pipeline_runs.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using namespace bench;

namespace {

constexpr int kSyntheticMails = 6000;
constexpr int kSyntheticWords = 120;
constexpr uint64_t kSyntheticSeed = 0x4b657374726c6f6eull;
const std::vector<std::string> kPhases = {"corpus", "grown", "shared", "cli", "pipeline"};

struct Options {
  fs::path corpus, work;
  std::string bogofilter = "bogofilter";
  std::string lexisift;
  bool withBogofilter = true;
  int repeats = 3;
  size_t inbox = 10000, fresh = 1000;
  std::vector<std::string> phases = kPhases;
  fs::path digests, recordDigests;
};

// The digests every repetition of every split must reproduce.
class DigestCheck {
 public:
  DigestCheck(const Options& options) : recording_(!options.recordDigests.empty()) {
    if (!options.digests.empty() && !expected_.Load(options.digests)) {
      std::fprintf(stderr, "cannot read the digests %s\n", options.digests.c_str());
      failed_ = true;
    }
    checking_ = !options.digests.empty();
  }
  void Check(const std::string& name, const std::string& digest) {
    std::string seen = seen_.Get(name);
    if (!seen.empty() && seen != digest) {
      std::printf("DIFFERENT between runs: %s %s, before %s\n", name.c_str(), digest.c_str(), seen.c_str());
      failed_ = true;
    }
    seen_.Put(name, digest);
    if (!checking_) return;
    std::string want = expected_.Get(name);
    if (want != digest) {
      std::printf("DIGEST MISMATCH %s: %s, recorded %s\n", name.c_str(), digest.c_str(),
                  want.empty() ? "nothing" : want.c_str());
      failed_ = true;
    }
  }
  // The store, its backup and the verdicts of a split's run.
  void CheckSplit(const std::string& name, const fs::path& store, const Run& run) {
    Check(name + ".store", FileDigest(store));
    Check(name + ".store.bak", FileDigest(store.string() + ".bak"));
    Check(name + ".verdicts", TextDigest(run.verdicts));
  }
  bool Finish(const Options& options) {
    if (recording_ && !seen_.Save(options.recordDigests)) failed_ = true;
    if (checking_ || recording_)
      std::printf("digests: %zu %s%s\n", seen_.Entries().size(), checking_ ? "checked" : "recorded",
                  failed_ ? ", FAILED" : ", all equal");
    return !failed_;
  }
  bool Failed() const { return failed_; }

 private:
  bool recording_;
  bool checking_ = false;
  bool failed_ = false;
  DigestBook expected_, seen_;
};

void Keep(const Run& run, Run& best, bool first) {
  if (first || !best.done) {
    best = run;
    return;
  }
  for (auto [mine, theirs] : {std::pair{&best.learn, &run.learn}, std::pair{&best.process, &run.process}}) {
    mine->wall = std::min(mine->wall, theirs->wall);
    mine->cpu = std::min(mine->cpu, theirs->cpu);
  }
  best.peakRssKb = std::max(best.peakRssKb, run.peakRssKb);
}

std::string Cell(const Run& run, const CheckedGroup& group) {
  if (!run.done) return "-";
  auto found = run.groups.find(group.name);
  if (found == run.groups.end()) return "-";
  const GroupVerdicts& v = found->second;
  char text[64];
  double percent = v.mails ? 100.0 * static_cast<double>(v.spam) / static_cast<double>(v.mails) : 0;
  if (v.unsure)
    std::snprintf(text, sizeof text, "%zu (%.1f%%) +%zu unsure", v.spam, percent, v.unsure);
  else
    std::snprintf(text, sizeof text, "%zu (%.1f%%)", v.spam, percent);
  return text;
}

std::string Number(bool known, double value, const char* format = "%.0f") {
  if (!known) return "-";
  char text[32];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

void Row(const std::string& what, const std::string& a, const std::string& b) {
  std::printf("%-34s %-24s %s\n", what.c_str(), a.c_str(), b.c_str());
}

double Ratio(double a, double b) { return b > 0 ? a / b : 0; }
double Megabytes(long kb) { return static_cast<double>(kb) / 1024.0; }

// One split's runs, ours and bogofilter's, with the name they go by in the summary.
struct Result {
  std::string name;
  Run ours, bogo;
};

void Table(const CorpusSplit& split, const Result& result) {
  const Run &ours = result.ours, &bogo = result.bogo;
  Row("", "kestrelon", "bogofilter");
  for (const auto& group : split.checked)
    Row(group.name + " (" + std::to_string(group.files.size()) + ") " + (group.spam ? "spam caught" : "taken for spam"),
        Cell(ours, group), Cell(bogo, group));
  auto rates = [&](const std::string& what, size_t mails, double (Run::*rate)() const) {
    Row(what + " (" + std::to_string(mails) + ")", Number(ours.done, (ours.*rate)()), Number(bogo.done, (bogo.*rate)()));
  };
  rates("learning, mails/s", split.Learned(), &Run::LearnRate);
  rates("  per processor second", split.Learned(), &Run::LearnCpuRate);
  rates("processing, mails/s", split.Checked(), &Run::ProcessRate);
  rates("  per processor second", split.Checked(), &Run::ProcessCpuRate);
  Row("peak RSS, MB", Number(ours.peakRssKb > 0, Megabytes(ours.peakRssKb), "%.1f"),
      Number(bogo.peakRssKb > 0, Megabytes(bogo.peakRssKb), "%.1f"));
}

// The ratios of every split, then ours between the grown and the corpus store.
void Summary(const std::vector<Result>& results) {
  std::printf("\n== kestrelon / bogofilter: mails per second, wall clock (processor time)\n");
  std::printf("%-40s %-16s %-16s %s\n", "", "learning", "processing", "peak RSS MB (ours, bogofilter)");
  auto pair = [](double wall, double cpu) {
    char text[40];
    std::snprintf(text, sizeof text, "%.2f (%.2f)", wall, cpu);
    return std::string(text);
  };
  for (const Result& r : results) {
    if (!r.ours.done || !r.bogo.done) continue;
    std::printf("%-40s %-16s %-16s %.1f, %.1f\n", r.name.c_str(),
                pair(Ratio(r.ours.LearnRate(), r.bogo.LearnRate()), Ratio(r.ours.LearnCpuRate(), r.bogo.LearnCpuRate()))
                    .c_str(),
                pair(Ratio(r.ours.ProcessRate(), r.bogo.ProcessRate()),
                     Ratio(r.ours.ProcessCpuRate(), r.bogo.ProcessCpuRate()))
                    .c_str(),
                Megabytes(r.ours.peakRssKb), Megabytes(r.bogo.peakRssKb));
  }
  auto find = [&](const std::string& name) -> const Run* {
    for (const Result& r : results)
      if (r.name == name && r.ours.done) return &r.ours;
    return nullptr;
  };
  for (const char* how : {"in this process", "lexisift commands"}) {
    const Run* corpus = find(std::string("corpus split, ") + how);
    const Run* grown = find(std::string("grown store, ") + how);
    if (!corpus || !grown) continue;
    std::printf("kestrelon, grown / corpus store per mail, %s: learning %s, processing %s\n", how,
                pair(Ratio(grown->LearnRate(), corpus->LearnRate()), Ratio(grown->LearnCpuRate(), corpus->LearnCpuRate()))
                    .c_str(),
                pair(Ratio(grown->ProcessRate(), corpus->ProcessRate()),
                     Ratio(grown->ProcessCpuRate(), corpus->ProcessCpuRate()))
                    .c_str());
  }
}

void Fresh(const fs::path& folder) {
  std::error_code error;
  fs::remove_all(folder, error);
  fs::create_directories(folder, error);
}

void CopyFolder(const fs::path& from, const fs::path& to) {
  Fresh(to);
  fs::copy(from, to, fs::copy_options::recursive | fs::copy_options::overwrite_existing);
}

double FileMb(const fs::path& path) {
  std::error_code error;
  auto size = fs::file_size(path, error);
  return error ? 0 : static_cast<double>(size) / 1e6;
}

// Runs `oursOnce` and bogofilter alternately, `repeats` times each. A run in this
// process counts this process's peak memory.
Result Repeat(const Options& options, const std::string& name, bool inProcess, const std::function<void(Run&)>& oursOnce,
              const std::function<void(Run&)>& bogoOnce) {
  Result result;
  result.name = name;
  for (int i = 0; i < options.repeats; ++i) {
    Run run;
    ResetPeakRss();
    oursOnce(run);
    if (inProcess) run.peakRssKb = PeakRssKb();
    Keep(run, result.ours, i == 0);
    if (!options.withBogofilter) continue;
    Run bogo;
    bogoOnce(bogo);
    Keep(bogo, result.bogo, i == 0);
  }
  return result;
}

int Usage() {
  std::fprintf(stderr,
               "usage: corpus_bench --corpus DIR --work DIR [--repeat N] [--bogofilter PROGRAM | --no-bogofilter]\n"
               "                    [--lexisift PROGRAM] [--phases corpus,grown,shared,cli,pipeline]\n"
               "                    [--inbox N] [--new N] [--digests FILE] [--record-digests FILE]\n");
  return 2;
}

bool Parse(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--no-bogofilter") {
      options.withBogofilter = false;
      continue;
    }
    if (i + 1 >= argc) return false;
    std::string value = argv[++i];
    if (arg == "--corpus") options.corpus = value;
    else if (arg == "--work") options.work = value;
    else if (arg == "--bogofilter") options.bogofilter = value;
    else if (arg == "--lexisift") options.lexisift = value;
    else if (arg == "--digests") options.digests = value;
    else if (arg == "--record-digests") options.recordDigests = value;
    else if (arg == "--inbox") options.inbox = std::strtoul(value.c_str(), nullptr, 10);
    else if (arg == "--new") options.fresh = std::strtoul(value.c_str(), nullptr, 10);
    else if (arg == "--repeat") {
      options.repeats = std::atoi(value.c_str());
      if (options.repeats < 1 || options.repeats > 100) return false;
    } else if (arg == "--phases") {
      options.phases.clear();
      std::stringstream list(value);
      for (std::string phase; std::getline(list, phase, ',');) {
        if (std::find(kPhases.begin(), kPhases.end(), phase) == kPhases.end()) return false;
        options.phases.push_back(phase);
      }
    } else {
      return false;
    }
  }
  if (options.fresh == 0 || options.inbox < options.fresh) return false;
  return !options.corpus.empty() && !options.work.empty();
}

bool Wanted(const Options& options, const std::string& phase) {
  return std::find(options.phases.begin(), options.phases.end(), phase) != options.phases.end();
}

}  // namespace

int main(int argc, char** argv) {
  StartLauncher();
  Options options;
  if (!Parse(argc, argv, options)) return Usage();
  if ((Wanted(options, "cli") || Wanted(options, "pipeline")) && options.lexisift.empty()) {
    std::fprintf(stderr, "the phases cli and pipeline need --lexisift PROGRAM\n");
    return Usage();
  }
  CorpusSplit split;
  split.learnHam = MailFiles(options.corpus / "easy-ham-1");
  split.learnSpam = MailFiles(options.corpus / "spam-1");
  split.checked = {{"easy-ham-2", false, MailFiles(options.corpus / "easy-ham-2")},
                   {"hard-ham-1", false, MailFiles(options.corpus / "hard-ham-1")},
                   {"spam-2", true, MailFiles(options.corpus / "spam-2")}};
  if (split.learnHam.empty() || split.learnSpam.empty() || split.checked[0].files.empty() ||
      split.checked[1].files.empty() || split.checked[2].files.empty()) {
    std::fprintf(stderr, "no mails in the corpus folders of %s\n", options.corpus.c_str());
    return 1;
  }
  const fs::path& work = options.work;
  fs::create_directories(work);
  // The shared store reads its profile from the registry, and the command line and the
  // plug-in find the server there: give them a registry of their own.
  setenv("KESTRELON_REGISTRY", (work / "registry").c_str(), 1);
  DigestCheck digests(options);
  bool ok = !digests.Failed();
  std::printf("best of %d runs each\n", options.repeats);
  std::vector<Result> results;

  auto bogofilterSplit = [&](const std::string& folder, const fs::path& base) {
    return [&, folder, base](Run& run) {
      if (base.empty()) Fresh(work / folder);
      else CopyFolder(base, work / folder);
      ok = Bogofilter(options.bogofilter, work / folder).RunSplit(split, work, run) && ok;
    };
  };

  if (ok && Wanted(options, "corpus")) {
    const fs::path store = work / "corpus" / "kestrelon.store";
    results.push_back(Repeat(
        options, "corpus split, in this process", true,
        [&](Run& run) {
          Fresh(work / "corpus");
          ok = RunSingleWriter(store.string(), split, run) && ok;
          digests.CheckSplit("corpus", store, run);
        },
        bogofilterSplit("corpus-bogofilter", {})));
    std::printf("\n== corpus split: the single-writer store from empty to %.1f MB\n", FileMb(store));
    Table(split, results.back());
    double best = 0;
    size_t bytes = 0;
    for (int i = 0; i < options.repeats; ++i) {
      double seconds = TokenizerSeconds(split, bytes);
      best = i == 0 ? seconds : std::min(best, seconds);
    }
    std::printf("tokenizer alone over the %zu classified mails: %.0f MB/s, %.1f us per mail (processor time)\n",
                split.Checked(), static_cast<double>(bytes) / 1e6 / best,
                best * 1e6 / static_cast<double>(split.Checked()));
  }

  // The grown store and bogofilter's grown database, built once for the splits that start there.
  const fs::path grownBase = work / "grown-base" / "kestrelon.store";
  bool grownBuilt = false;
  auto growBases = [&]() {
    if (grownBuilt) return;
    grownBuilt = true;
    std::vector<std::string> synthetic =
        WriteSyntheticMails(work / "synthetic", kSyntheticMails, kSyntheticWords, kSyntheticSeed);
    Fresh(work / "grown-base");
    ResetPeakRss();
    double growSeconds = GrowSingleWriter(grownBase.string(), synthetic);
    long growRssKb = PeakRssKb();
    ok = growSeconds >= 0 && ok;
    digests.Check("grown-base.store", FileDigest(grownBase));
    std::printf("\n(grown store: %d synthetic mails learned in %.1f s, peak RSS %.1f MB, %.1f MB)\n", kSyntheticMails,
                growSeconds, Megabytes(growRssKb), FileMb(grownBase));
    if (options.withBogofilter) {
      std::vector<std::string> even, odd;
      for (size_t i = 0; i < synthetic.size(); ++i) (i % 2 ? odd : even).push_back(synthetic[i]);
      Fresh(work / "grown-bogofilter-base");
      Bogofilter grow(options.bogofilter, work / "grown-bogofilter-base");
      ok = WriteList(work / "synthetic-ham.list", even) && WriteList(work / "synthetic-spam.list", odd) &&
           grow.Learn(work / "synthetic-ham.list", false) && grow.Learn(work / "synthetic-spam.list", true) && ok;
    }
  };

  if (ok && Wanted(options, "grown")) {
    growBases();
    const fs::path store = work / "grown" / "kestrelon.store";
    results.push_back(Repeat(
        options, "grown store, in this process", true,
        [&](Run& run) {
          Fresh(work / "grown");
          fs::copy_file(grownBase, store);
          ok = RunSingleWriter(store.string(), split, run) && ok;
          digests.CheckSplit("grown", store, run);
        },
        bogofilterSplit("grown-bogofilter", work / "grown-bogofilter-base")));
    std::printf("\n== grown store: the split from the grown store\n");
    Table(split, results.back());
  }

  if (ok && Wanted(options, "shared")) {
    const fs::path store = work / "shared" / "kestrelon.store";
    Result shared = Repeat(
        options, "shared store, in this process", true,
        [&](Run& run) {
          Fresh(work / "shared");
          ok = RunShared(store.string(), split, run) && ok;
          digests.Check("shared.store", FileDigest(store));
          digests.Check("shared.verdicts", TextDigest(run.verdicts));
        },
        [](Run&) {});
    // bogofilter's column is its run of the corpus split, when there was one.
    for (const Result& r : results)
      if (r.name == "corpus split, in this process") shared.bogo = r.bogo;
    results.push_back(shared);
    std::printf("\n== shared store, opened for every mail: the split from empty to %.1f MB\n", FileMb(store));
    Table(split, results.back());
    std::printf("(bogofilter's column is its run of the corpus split)\n");
  }

  if (ok && Wanted(options, "cli")) {
    growBases();
    for (bool grown : {false, true}) {
      const std::string folder = grown ? "grown-cli" : "corpus-cli";
      const fs::path store = work / folder / "kestrelon.store";
      results.push_back(Repeat(
          options, grown ? "grown store, lexisift commands" : "corpus split, lexisift commands", false,
          [&](Run& run) {
            Fresh(work / folder);
            if (grown) fs::copy_file(grownBase, store);
            ok = RunCommandLine(options.lexisift, store.string(), split, work / folder, run) && ok;
            // The same store, backup and verdicts as in this process.
            digests.CheckSplit(grown ? "grown" : "corpus", store, run);
          },
          grown ? bogofilterSplit("grown-bogofilter", work / "grown-bogofilter-base")
                : bogofilterSplit("corpus-bogofilter", {})));
      std::printf("\n== %s through lexisift learn and lexisift process, one command per folder\n",
                  grown ? "grown store" : "corpus split");
      Table(split, results.back());
    }
  }

  if (ok && Wanted(options, "pipeline")) {
    PipelineOptions pipeline{options.corpus, work, options.lexisift, options.inbox, options.fresh, options.repeats};
    PipelineResult result;
    ok = RunPipeline(pipeline, result) && ok;
    if (ok) PrintPipeline(pipeline, result);
  }

  Summary(results);
  ok = digests.Finish(options) && ok;
  return ok ? 0 : 1;
}
