// pipeline_bench: what the plug-in's new-mail pass over the stand-in client costs next
// to the classifier alone, on the same corpus mails in the same run.
//
//   pipeline_bench --corpus DIR --work DIR --lexisift PROGRAM [--inbox N] [--new N] [--repeat N]
//
// DIR holds the corpus folders that scripts/corpus-data.sh writes. The bench builds a
// store folder whose Inbox holds N messages (10 000), of which the last --new (1 000)
// are new corpus mails: easy-ham-2, hard-ham-1 and spam-2 mixed five, one and four in
// ten. The older ones are corpus mails already judged (the seen-message list's bookmark
// stands at the last of them). The token store has learned 1 000 mails of easy-ham-1
// as ham and spam-1 as spam; the settings are a new installation's (no link scan, no
// sender verification, no archive). Every run starts from a copy of that folder:
//
//   classifier   `lexisift process` over the new mails' files (no link scan either)
//   pipeline     the plug-in attached through the headless client window (the Lexisift
//                server registered, Simple MAPI the stand-in's library) and one
//                ProcessNewMail: enumeration, Inbox reads, classification, deletions
//   stand-in     the same pass without the classifier, in three parts: Simple MAPI
//                enumeration with the seen-message list, the plug-in's Inbox reads, and
//                the deletion of the spam through Simple MAPI at the end
//
// Each is run --repeat times (3) and the fastest counts, since the machine is shared.
// Prints mails per second and the ratio to the classifier's time.
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
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using kestrelon::client::Folder;
using kestrelon::client::MailStore;

namespace {

using Clock = std::chrono::steady_clock;
double SecondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

struct Options {
  fs::path corpus, work;
  std::string lexisift;
  size_t inbox = 10000, fresh = 1000, repeat = 3;
};

bool ParseOptions(int argc, char** argv, Options& options) {
  for (int i = 1; i + 1 < argc; i += 2) {
    std::string name = argv[i], value = argv[i + 1];
    if (name == "--corpus") options.corpus = value;
    else if (name == "--work") options.work = value;
    else if (name == "--lexisift") options.lexisift = value;
    else if (name == "--inbox") options.inbox = std::strtoul(value.c_str(), nullptr, 10);
    else if (name == "--new") options.fresh = std::strtoul(value.c_str(), nullptr, 10);
    else if (name == "--repeat") options.repeat = std::strtoul(value.c_str(), nullptr, 10);
    else return false;
  }
  return argc % 2 == 1 && !options.corpus.empty() && !options.work.empty() && !options.lexisift.empty() &&
         options.fresh > 0 && options.inbox >= options.fresh && options.repeat > 0;
}

std::vector<std::string> MailFiles(const fs::path& folder) {
  std::vector<std::string> files;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(folder, error))
    if (entry.is_regular_file() && entry.path().filename().string()[0] != '.') files.push_back(entry.path().string());
  std::sort(files.begin(), files.end());
  return files;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream all;
  all << in.rdbuf();
  return all.str();
}

std::string Quoted(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

int RunCommand(const std::string& command) {
  int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
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

// The store folder every run starts from.
bool BuildStore(const Options& options, const fs::path& folder, const NewMails& mails, std::vector<uint32_t>& newIds) {
  MailStore store(folder.string());
  store.Create();
  if (!kestrelon::client::RegisterStoreFolder(folder.string())) {
    std::fprintf(stderr, "pipeline_bench: cannot register the store folder\n");
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
  std::string dat = Quoted((folder / "Kestrelon.dat").string());
  std::string learnHam = Quoted(options.lexisift) + " learn --store " + dat + " --ham", learnSpam =
      Quoted(options.lexisift) + " learn --store " + dat + " --spam";
  for (const auto& f : ham) learnHam += " " + Quoted(f);
  for (const auto& f : spam) learnSpam += " " + Quoted(f);
  if (RunCommand(learnHam + " > /dev/null") != 0 || RunCommand(learnSpam + " > /dev/null") != 0) {
    std::fprintf(stderr, "pipeline_bench: cannot learn the training mails with %s\n", options.lexisift.c_str());
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
    std::fprintf(stderr, "pipeline_bench: cannot copy %s to %s\n", from.c_str(), to.c_str());
    return false;
  }
  return true;
}

double RunClassifier(const Options& options, const fs::path& folder, const NewMails& mails) {
  std::string command = Quoted(options.lexisift) + " process --store " + Quoted((folder / "Kestrelon.dat").string());
  for (const auto& f : mails.files) command += " " + Quoted(f);
  auto start = Clock::now();
  if (RunCommand(command + " > /dev/null") != 0) return -1;
  return SecondsSince(start);
}

// The plug-in's pass: attached as in the client, then one ProcessNewMail.
double RunPipeline(std::string& failure) {
  kestrelon::HeadlessClientWindow window;
  window.SetAnswerer([](const kestrelon::HeadlessClientWindow::Box&) { return kestrelon::BoxAnswer::kNo; });
  if (!kestrelon::InitPluginData(window)) {
    failure = "start-up failed at step " + std::to_string(kestrelon::CurrentStartupCode());
    return -1;
  }
  kestrelon::PluginData& data = *kestrelon::CurrentPluginData();
  auto start = Clock::now();
  try {
    kestrelon::ProcessNewMail(data);
  } catch (const std::exception& e) {
    failure = e.what();
  } catch (...) {
    failure = "the pass failed";
  }
  double seconds = SecondsSince(start);
  for (const auto& box : window.Boxes()) failure += (failure.empty() ? "" : "; ") + box.text;
  kestrelon::DestroyPluginData();
  return failure.empty() ? seconds : -1;
}

// The pass without the classifier: every new message enumerated, read from the Inbox
// file as the pipeline reads it, and the spam among them deleted at the end.
struct StandInTimes {
  double enumerate = 0, read = 0, remove = 0;
  size_t seen = 0, deleted = 0;
  double Total() const { return enumerate + read + remove; }
};

bool RunStandIn(const fs::path& folder, const std::set<uint32_t>& spamIds, StandInTimes& times) {
  times = {};
  try {
    kestrelon::MailSession session((folder / "Kestrelon.msg").string());
    session.AttachInboxReader(
        std::make_unique<kestrelon::DbxReader>(MailStore(folder.string()).FilePath(Folder::Inbox)));
    std::vector<std::string> spam;
    for (;;) {
      auto start = Clock::now();
      MapiMessage* message = session.NextNewMessage(false);
      times.enumerate += SecondsSince(start);
      if (!message) break;
      start = Clock::now();
      std::string header, body;
      kestrelon::GetMessageContent(session.InboxReader(), message, header, body);
      times.read += SecondsSince(start);
      ++times.seen;
      if (spamIds.count(message->ulReserved)) spam.push_back(std::to_string(message->ulReserved));
      session.FreeMessage(message);
    }
    // Deleted at the end of the pass, as the pipeline does.
    auto start = Clock::now();
    for (const std::string& id : spam) times.deleted += session.DeleteMessage(id) == SUCCESS_SUCCESS ? 1 : 0;
    times.remove += SecondsSince(start);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "pipeline_bench: stand-in pass failed: %s\n", e.what());
    return false;
  }
  return true;
}

size_t CountMessages(const fs::path& folder, Folder which) { return MailStore(folder.string()).List(which).size(); }

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, options)) {
    std::fprintf(stderr,
                 "usage: pipeline_bench --corpus DIR --work DIR --lexisift PROGRAM [--inbox N] [--new N] [--repeat N]\n");
    return 64;
  }
  fs::create_directories(options.work);
  setenv("KESTRELON_REGISTRY", (options.work / "registry").c_str(), 1);
  setenv("KESTRELON_DETECTION", "notification", 1);
  if (RunCommand(Quoted(options.lexisift) + " register") != 0) {
    std::fprintf(stderr, "pipeline_bench: lexisift register failed\n");
    return 1;
  }
  NewMails mails = PickNewMails(options.corpus, options.fresh);
  fs::path prepared = options.work / "prepared", run = options.work / "run";
  std::vector<uint32_t> newIds;
  auto start = Clock::now();
  if (!BuildStore(options, prepared, mails, newIds)) return 1;
  std::set<uint32_t> spamIds;
  for (size_t i = 0; i < newIds.size(); ++i)
    if (mails.files[i].find("/spam-2/") != std::string::npos) spamIds.insert(newIds[i]);
  std::printf("Inbox of %zu messages, %zu of them new (%zu spam); prepared in %.1f s; best of %zu runs\n",
              options.inbox, options.fresh, mails.spam, SecondsSince(start), options.repeat);

  double classifier = 1e9, pipeline = 1e9;
  StandInTimes standIn;
  standIn.enumerate = standIn.read = standIn.remove = 1e9;
  size_t pipelineDeleted = 0;
  for (size_t r = 0; r < options.repeat; ++r) {
    if (!FreshCopy(prepared, run)) return 1;
    double seconds = RunClassifier(options, run, mails);
    if (seconds < 0) {
      std::fprintf(stderr, "pipeline_bench: lexisift process failed\n");
      return 1;
    }
    classifier = std::min(classifier, seconds);

    if (!FreshCopy(prepared, run)) return 1;
    std::string failure;
    seconds = RunPipeline(failure);
    if (seconds < 0) {
      std::fprintf(stderr, "pipeline_bench: the pipeline's pass failed: %s\n", failure.c_str());
      return 1;
    }
    pipeline = std::min(pipeline, seconds);
    pipelineDeleted = CountMessages(run, Folder::Deleted);

    if (!FreshCopy(prepared, run)) return 1;
    StandInTimes times;
    if (!RunStandIn(run, spamIds, times)) return 1;
    if (times.seen != options.fresh) {
      std::fprintf(stderr, "pipeline_bench: the stand-in pass saw %zu of %zu new messages\n", times.seen, options.fresh);
      return 1;
    }
    standIn.enumerate = std::min(standIn.enumerate, times.enumerate);
    standIn.read = std::min(standIn.read, times.read);
    standIn.remove = std::min(standIn.remove, times.remove);
    standIn.seen = times.seen;
    standIn.deleted = times.deleted;
  }

  auto line = [&](const std::string& what, double seconds) {
    std::printf("%-52s %8.1f mails/s %7.2f s %6.2f x classifier\n", what.c_str(), options.fresh / seconds, seconds,
                seconds / classifier);
  };
  line("classifier alone (lexisift process)", classifier);
  line("pipeline pass (" + std::to_string(pipelineDeleted) + " deleted)", pipeline);
  line("  stand-in pass without classifier", standIn.Total());
  line("    Simple MAPI enumeration and seen-message list", standIn.enumerate);
  line("    the plug-in's Inbox reads", standIn.read);
  line("    " + std::to_string(standIn.deleted) + " deletions through Simple MAPI", standIn.remove);
  // The deletions are the client's work; the plug-in only asks for them.
  double deletions = standIn.deleted ? standIn.remove / standIn.deleted * pipelineDeleted : 0;
  std::printf("the pipeline adds %.0f %% to the classifier's time, %.0f %% without the client's deletions\n",
              100 * (pipeline / classifier - 1), 100 * ((pipeline - deletions) / classifier - 1));
  return 0;
}
