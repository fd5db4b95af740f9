// corpus_bench: learns and filters the SpamAssassin corpus with our filters and, side by
// side in the same run, with bogofilter; compares accuracy and speed, and checks that the
// store files and verdicts are the ones recorded for the code as it was.
//
//   corpus_bench --corpus DIR --work DIR [--repeat N] [--bogofilter PROGRAM | --no-bogofilter]
//                [--phases corpus,grown,shared] [--digests FILE] [--record-digests FILE]
//
// DIR holds the folders easy-ham-1, easy-ham-2, hard-ham-1, spam-1 and spam-2 of mail
// files (scripts/corpus-data.sh writes them). Every phase learns easy-ham-1 as ham and
// spam-1 as spam, then classifies-and-learns easy-ham-2, hard-ham-1 and spam-2:
//   corpus  the single-writer store, starting empty;
//   grown   the single-writer store, starting from a store grown by 6000 synthetic mails
//           of 120 random words (about 800 000 items); bogofilter's database grown alike;
//   shared  the shared (file-locked) store, opened afresh for every mail.
// Each phase runs N times (default 3), ours and bogofilter's alternately, and keeps each
// step's fastest time; the machine may be busy with other work.
#include "bench/corpus_runs.h"
#include "bench/corpus_support.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using namespace bench;

namespace {

constexpr int kSyntheticMails = 6000;
constexpr int kSyntheticWords = 120;
constexpr uint64_t kSyntheticSeed = 0x4b657374726c6f6eull;

struct Options {
  fs::path corpus, work;
  std::string bogofilter = "bogofilter";
  bool withBogofilter = true;
  int repeats = 3;
  std::vector<std::string> phases = {"corpus", "grown", "shared"};
  fs::path digests, recordDigests;
};

// The digests every repetition of every phase must reproduce.
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
      std::printf("DIFFERENT between repetitions: %s %s, before %s\n", name.c_str(), digest.c_str(), seen.c_str());
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

void Table(const CorpusSplit& split, const Run& ours, const Run& bogo, long rssKb) {
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
  Row("peak RSS, MB", Number(rssKb > 0, static_cast<double>(rssKb) / 1024.0, "%.1f"), "-");
  if (ours.done && bogo.done)
    std::printf("ratio kestrelon / bogofilter: learning %.2f, processing %.2f (processor time: %.2f, %.2f)\n",
                Ratio(ours.LearnRate(), bogo.LearnRate()), Ratio(ours.ProcessRate(), bogo.ProcessRate()),
                Ratio(ours.LearnCpuRate(), bogo.LearnCpuRate()), Ratio(ours.ProcessCpuRate(), bogo.ProcessCpuRate()));
}

double FileMb(const fs::path& path) {
  std::error_code error;
  auto size = fs::file_size(path, error);
  return error ? 0 : static_cast<double>(size) / 1e6;
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

struct PhaseResult {
  Run ours, bogo;
  long rssKb = 0;
};

// Runs `oursOnce` and bogofilter alternately, `repeats` times each.
template <typename Ours, typename Bogo>
PhaseResult Repeat(const Options& options, Ours oursOnce, Bogo bogoOnce) {
  PhaseResult result;
  for (int i = 0; i < options.repeats; ++i) {
    Run run;
    ResetPeakRss();
    oursOnce(run);
    result.rssKb = std::max(result.rssKb, PeakRssKb());
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
               "                    [--phases corpus,grown,shared] [--digests FILE] [--record-digests FILE]\n");
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
    else if (arg == "--digests") options.digests = value;
    else if (arg == "--record-digests") options.recordDigests = value;
    else if (arg == "--repeat") {
      options.repeats = std::atoi(value.c_str());
      if (options.repeats < 1 || options.repeats > 100) return false;
    } else if (arg == "--phases") {
      options.phases.clear();
      std::stringstream list(value);
      for (std::string phase; std::getline(list, phase, ',');) {
        if (phase != "corpus" && phase != "grown" && phase != "shared") return false;
        options.phases.push_back(phase);
      }
    } else {
      return false;
    }
  }
  return !options.corpus.empty() && !options.work.empty();
}

bool Wanted(const Options& options, const std::string& phase) {
  for (const auto& p : options.phases)
    if (p == phase) return true;
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!Parse(argc, argv, options)) return Usage();
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
  // The shared store reads its profile from the registry: give it an empty one.
  setenv("KESTRELON_REGISTRY", (work / "registry").c_str(), 1);
  DigestCheck digests(options);
  bool ok = !digests.Failed();
  std::printf("best of %d runs each\n", options.repeats);

  PhaseResult corpus;
  if (ok && Wanted(options, "corpus")) {
    const fs::path store = work / "corpus" / "kestrelon.store";
    corpus = Repeat(
        options,
        [&](Run& run) {
          Fresh(work / "corpus");
          ok = RunSingleWriter(store.string(), split, run) && ok;
          digests.Check("corpus.store", FileDigest(store));
          digests.Check("corpus.store.bak", FileDigest(store.string() + ".bak"));
          digests.Check("corpus.verdicts", TextDigest(run.verdicts));
        },
        [&](Run& run) {
          Fresh(work / "corpus-bogofilter");
          ok = Bogofilter(options.bogofilter, work / "corpus-bogofilter").RunSplit(split, work, run) && ok;
        });
    std::printf("\n== corpus split: the single-writer store from empty to %.1f MB\n", FileMb(store));
    Table(split, corpus.ours, corpus.bogo, corpus.rssKb);
  }

  if (ok && Wanted(options, "grown")) {
    std::vector<std::string> synthetic =
        WriteSyntheticMails(work / "synthetic", kSyntheticMails, kSyntheticWords, kSyntheticSeed);
    const fs::path base = work / "grown-base" / "kestrelon.store";
    Fresh(work / "grown-base");
    ResetPeakRss();
    double growSeconds = GrowSingleWriter(base.string(), synthetic);
    long growRssKb = PeakRssKb();
    ok = growSeconds >= 0 && ok;
    digests.Check("grown-base.store", FileDigest(base));
    if (options.withBogofilter) {
      std::vector<std::string> even, odd;
      for (size_t i = 0; i < synthetic.size(); ++i) (i % 2 ? odd : even).push_back(synthetic[i]);
      Fresh(work / "grown-bogofilter-base");
      Bogofilter grow(options.bogofilter, work / "grown-bogofilter-base");
      ok = WriteList(work / "synthetic-ham.list", even) && WriteList(work / "synthetic-spam.list", odd) &&
           grow.Learn(work / "synthetic-ham.list", false) && grow.Learn(work / "synthetic-spam.list", true) && ok;
    }
    const fs::path store = work / "grown" / "kestrelon.store";
    PhaseResult grown = Repeat(
        options,
        [&](Run& run) {
          Fresh(work / "grown");
          fs::copy_file(base, store);
          ok = RunSingleWriter(store.string(), split, run) && ok;
          digests.Check("grown.store", FileDigest(store));
          digests.Check("grown.store.bak", FileDigest(store.string() + ".bak"));
          digests.Check("grown.verdicts", TextDigest(run.verdicts));
        },
        [&](Run& run) {
          CopyFolder(work / "grown-bogofilter-base", work / "grown-bogofilter");
          ok = Bogofilter(options.bogofilter, work / "grown-bogofilter").RunSplit(split, work, run) && ok;
        });
    std::printf("\n== grown store: %d synthetic mails learned in %.1f s (peak RSS %.1f MB), %.1f MB; then the split\n",
                kSyntheticMails, growSeconds, static_cast<double>(growRssKb) / 1024.0, FileMb(base));
    Table(split, grown.ours, grown.bogo, grown.rssKb);
    if (corpus.ours.done && grown.ours.done)
      std::printf("ratio grown / corpus store, kestrelon: learning %.2f, processing %.2f (processor time: %.2f, %.2f)\n",
                  Ratio(grown.ours.LearnRate(), corpus.ours.LearnRate()),
                  Ratio(grown.ours.ProcessRate(), corpus.ours.ProcessRate()),
                  Ratio(grown.ours.LearnCpuRate(), corpus.ours.LearnCpuRate()),
                  Ratio(grown.ours.ProcessCpuRate(), corpus.ours.ProcessCpuRate()));
  }

  if (ok && Wanted(options, "shared")) {
    const fs::path store = work / "shared" / "kestrelon.store";
    PhaseResult shared = Repeat(
        options,
        [&](Run& run) {
          Fresh(work / "shared");
          ok = RunShared(store.string(), split, run) && ok;
          digests.Check("shared.store", FileDigest(store));
          digests.Check("shared.verdicts", TextDigest(run.verdicts));
        },
        [](Run&) {});
    std::printf("\n== shared store, opened for every mail: the split from empty to %.1f MB\n", FileMb(store));
    Table(split, shared.ours, corpus.bogo, shared.rssKb);
    std::printf("(bogofilter's column is its run of the corpus phase)\n");
  }

  ok = digests.Finish(options) && ok;
  return ok ? 0 : 1;
}
