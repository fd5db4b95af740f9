#include "bench/pipeline_runs.h"

#include "bench/child_process.h"
#include "bench/corpus_support.h"
#include "client/store/mail_store.h"
#include "client/store/store_location.h"
#include "plugin/dbx/dbx_reader.h"
#include "plugin/dbx/message_content.h"
#include "plugin/host/headless_client_window.h"
#include "plugin/host/mail_session.h"
#include "plugin/host/new_mail.h"
#include "plugin/host/plugin_data.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>
#include <vector>

namespace fs = std::filesystem;
using kestrelon::client::Folder;
using kestrelon::client::MailStore;

namespace bench {

namespace {

using Clock = std::chrono::steady_clock;

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream all;
  all << in.rdbuf();
  return all.str();
}

// The new mails in delivery order, and which of them are spam.
struct NewMails {
  std::vector<std::string> files;
  size_t spam = 0;
};

NewMails PickNewMails(const fs::path& corpus, size_t count) {
  const std::vector<std::string> ham = MailFiles(corpus / "easy-ham-2"), hard = MailFiles(corpus / "hard-ham-1"),
                                 spam = MailFiles(corpus / "spam-2");
  // Five easy ham, one hard ham and four spam in every ten.
  const char pattern[] = "esesehesese";
  size_t next[3] = {0, 0, 0};
  NewMails mails;
  for (size_t i = 0; i < count; ++i) {
    char kind = pattern[i % 10];
    const std::vector<std::string>& from = kind == 'e' ? ham : kind == 'h' ? hard : spam;
    size_t& n = next[kind == 'e' ? 0 : kind == 'h' ? 1 : 2];
    mails.files.push_back(from[n++ % from.size()]);
    if (kind == 's') ++mails.spam;
  }
  return mails;
}

bool Lexisift(const PipelineOptions& options, std::vector<std::string> args, ChildRun* measured = nullptr) {
  args.insert(args.begin(), options.lexisift);
  ChildRun run = RunChild(args, "", "/dev/null", (options.work / "lexisift.stderr").string());
  if (measured) *measured = run;
  return run.started && run.exitCode == 0;
}

// The store folder every run starts from.
bool BuildStore(const PipelineOptions& options, const fs::path& folder, const NewMails& mails,
                std::vector<uint32_t>& newIds) {
  MailStore store(folder.string());
  store.Create();
  if (!kestrelon::client::RegisterStoreFolder(folder.string())) {
    std::fprintf(stderr, "pipeline: cannot register the store folder\n");
    return false;
  }
  std::vector<std::string> all;
  for (const char* group : {"easy-ham-1", "easy-ham-2", "hard-ham-1", "spam-1", "spam-2"})
    for (auto& file : MailFiles(options.corpus / group)) all.push_back(std::move(file));
  // The older messages, delivered in batches of a thousand.
  uint64_t now = kestrelon::client::FileTimeNow();
  uint32_t lastOld = 0;
  for (size_t done = 0; done < options.inbox - options.fresh;) {
    std::vector<std::string> batch;
    for (; batch.size() < 1000 && done < options.inbox - options.fresh; ++done)
      batch.push_back(ReadFile(all[done % all.size()]));
    lastOld = store.DeliverMany(batch, now).back();
  }
  std::vector<std::string> texts;
  for (const auto& file : mails.files) texts.push_back(ReadFile(file));
  newIds = store.DeliverMany(texts, now);

  // The seen-message list: only its bookmark, the last message judged before.
  char line[600];
  std::snprintf(line, sizeof line, "%-512s\r\n", lastOld ? std::to_string(lastOld).c_str() : "");
  std::ofstream((folder / "Kestrelon.msg").string(), std::ios::binary) << line;

  std::vector<std::string> ham = MailFiles(options.corpus / "easy-ham-1"), spam = MailFiles(options.corpus / "spam-1");
  ham.resize(std::min<size_t>(ham.size(), 1000));
  std::string dat = (folder / "Kestrelon.dat").string();
  std::vector<std::string> learnHam = {"learn", "--store", dat, "--ham"}, learnSpam = {"learn", "--store", dat, "--spam"};
  learnHam.insert(learnHam.end(), ham.begin(), ham.end());
  learnSpam.insert(learnSpam.end(), spam.begin(), spam.end());
  if (!Lexisift(options, learnHam) || !Lexisift(options, learnSpam)) {
    std::fprintf(stderr, "pipeline: cannot learn the training mails with %s\n", options.lexisift.c_str());
    return false;
  }
  return true;
}

// A fresh copy of the prepared folder, registered as the store of the current identity.
bool FreshCopy(const fs::path& from, const fs::path& to) {
  std::error_code error;
  fs::remove_all(to, error);
  fs::copy(from, to, fs::copy_options::recursive, error);
  if (error || !kestrelon::client::RegisterStoreFolder(to.string())) {
    std::fprintf(stderr, "pipeline: cannot copy %s to %s\n", from.c_str(), to.c_str());
    return false;
  }
  return true;
}

// The plug-in's pass: attached as in the client, then one ProcessNewMail.
bool PluginPass(Seconds& seconds, std::string& failure) {
  kestrelon::HeadlessClientWindow window;
  window.SetAnswerer([](const kestrelon::HeadlessClientWindow::Box&) { return kestrelon::BoxAnswer::kNo; });
  if (!kestrelon::InitPluginData(window)) {
    failure = "start-up failed at step " + std::to_string(kestrelon::CurrentStartupCode());
    return -1;
  }
  kestrelon::PluginData& data = *kestrelon::CurrentPluginData();
  Stopwatch watch;
  try {
    kestrelon::ProcessNewMail(data);
  } catch (const std::exception& e) {
    failure = e.what();
  } catch (...) {
    failure = "the pass failed";
  }
  watch.AddTo(seconds);
  for (const auto& box : window.Boxes()) failure += (failure.empty() ? "" : "; ") + box.text;
  kestrelon::DestroyPluginData();
  return failure.empty();
}

// The pass without the classifier: every new message enumerated, read from the Inbox
// file as the pipeline reads it, and the spam among them deleted at the end.
struct StandInTimes {
  Seconds enumerate, read, remove;
  size_t seen = 0, deleted = 0;
};

bool StandInPass(const fs::path& folder, const std::set<uint32_t>& spamIds, StandInTimes& times) {
  times = {};
  try {
    kestrelon::MailSession session((folder / "Kestrelon.msg").string());
    session.AttachInboxReader(
        std::make_unique<kestrelon::DbxReader>(MailStore(folder.string()).FilePath(Folder::Inbox)));
    std::vector<std::string> spam;
    for (;;) {
      Stopwatch next;
      MapiMessage* message = session.NextNewMessage(false);
      next.AddTo(times.enumerate);
      if (!message) break;
      Stopwatch read;
      std::string header, body;
      kestrelon::GetMessageContent(session.InboxReader(), message, header, body);
      read.AddTo(times.read);
      ++times.seen;
      if (spamIds.count(message->ulReserved)) spam.push_back(std::to_string(message->ulReserved));
      session.FreeMessage(message);
    }
    // Deleted at the end of the pass, as the pipeline does.
    Stopwatch remove;
    for (const std::string& id : spam) times.deleted += session.DeleteMessage(id) == SUCCESS_SUCCESS ? 1 : 0;
    remove.AddTo(times.remove);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "pipeline: stand-in pass failed: %s\n", e.what());
    return false;
  }
  return true;
}

size_t CountMessages(const fs::path& folder, Folder which) { return MailStore(folder.string()).List(which).size(); }

}  // namespace

bool RunPipeline(const PipelineOptions& options, PipelineResult& result) {
  result = {};
  if (options.fresh == 0 || options.inbox < options.fresh) return false;
  setenv("KESTRELON_DETECTION", "notification", 1);
  if (!Lexisift(options, {"register"})) {
    std::fprintf(stderr, "pipeline: lexisift register failed\n");
    return false;
  }
  NewMails mails = PickNewMails(options.corpus, options.fresh);
  result.spam = mails.spam;
  fs::path prepared = options.work / "pipeline-prepared", run = options.work / "pipeline";
  std::vector<uint32_t> newIds;
  auto start = Clock::now();
  if (!BuildStore(options, prepared, mails, newIds)) return false;
  result.prepareSeconds = std::chrono::duration<double>(Clock::now() - start).count();
  std::set<uint32_t> spamIds;
  for (size_t i = 0; i < newIds.size(); ++i)
    if (mails.files[i].find("/spam-2/") != std::string::npos) spamIds.insert(newIds[i]);

  auto keep = [](Seconds& best, const Seconds& seconds, int r) {
    best.wall = r == 0 ? seconds.wall : std::min(best.wall, seconds.wall);
    best.cpu = r == 0 ? seconds.cpu : std::min(best.cpu, seconds.cpu);
  };
  for (int r = 0; r < options.repeats; ++r) {
    if (!FreshCopy(prepared, run)) return false;
    std::vector<std::string> process = {"process", "--store", (run / "Kestrelon.dat").string()};
    process.insert(process.end(), mails.files.begin(), mails.files.end());
    ChildRun classifier;
    if (!Lexisift(options, process, &classifier)) {
      std::fprintf(stderr, "pipeline: lexisift process failed\n");
      return false;
    }
    keep(result.classifier, Seconds{classifier.wall, classifier.cpu}, r);
    result.classifierRssKb = std::max(result.classifierRssKb, classifier.peakRssKb);

    if (!FreshCopy(prepared, run)) return false;
    std::string failure;
    ResetPeakRss();
    Seconds pass;
    bool passed = PluginPass(pass, failure);
    result.pipelineRssKb = std::max(result.pipelineRssKb, PeakRssKb());
    if (!passed) {
      std::fprintf(stderr, "pipeline: the plug-in's pass failed: %s\n", failure.c_str());
      return false;
    }
    keep(result.pipeline, pass, r);
    result.pipelineDeleted = CountMessages(run, Folder::Deleted);

    if (!FreshCopy(prepared, run)) return false;
    StandInTimes times;
    if (!StandInPass(run, spamIds, times)) return false;
    if (times.seen != options.fresh) {
      std::fprintf(stderr, "pipeline: the stand-in pass saw %zu of %zu new messages\n", times.seen, options.fresh);
      return false;
    }
    keep(result.enumerate, times.enumerate, r);
    keep(result.read, times.read, r);
    keep(result.remove, times.remove, r);
    result.standInDeleted = times.deleted;
  }
  return true;
}

void PrintPipeline(const PipelineOptions& options, const PipelineResult& result) {
  std::printf("\n== plug-in pass: an Inbox of %zu messages, %zu of them new (%zu spam), prepared in %.1f s\n",
              options.inbox, options.fresh, result.spam, result.prepareSeconds);
  std::printf("%-50s %9s %8s %8s  %s\n", "", "mails/s", "wall s", "cpu s", "x classifier (cpu)");
  auto line = [&](const std::string& what, const Seconds& s) {
    std::printf("%-50s %9.0f %8.2f %8.2f  %.2f (%.2f)\n", what.c_str(), static_cast<double>(options.fresh) / s.wall,
                s.wall, s.cpu, s.wall / result.classifier.wall, s.cpu / result.classifier.cpu);
  };
  Seconds standIn{result.enumerate.wall + result.read.wall + result.remove.wall,
                  result.enumerate.cpu + result.read.cpu + result.remove.cpu};
  line("classifier alone (lexisift process)", result.classifier);
  line("pipeline pass (" + std::to_string(result.pipelineDeleted) + " deleted)", result.pipeline);
  line("  stand-in pass without classifier", standIn);
  line("    Simple MAPI enumeration and seen-message list", result.enumerate);
  line("    the plug-in's Inbox reads", result.read);
  line("    " + std::to_string(result.standInDeleted) + " deletions through Simple MAPI", result.remove);
  // The deletions are the client's work; the plug-in only asks for them.
  double share = result.standInDeleted
                     ? static_cast<double>(result.pipelineDeleted) / static_cast<double>(result.standInDeleted)
                     : 0;
  std::printf("the pipeline adds %.0f %% to the classifier's time, %.0f %% without the client's deletions\n",
              100 * (result.pipeline.wall / result.classifier.wall - 1),
              100 * ((result.pipeline.wall - result.remove.wall * share) / result.classifier.wall - 1));
  std::printf("peak RSS: classifier %.1f MB, pipeline pass %.1f MB (this process)\n",
              static_cast<double>(result.classifierRssKb) / 1024.0, static_cast<double>(result.pipelineRssKb) / 1024.0);
}

}  // namespace bench
