// kestrelon-host: the plug-in without the mail client's windows. It attaches to the
// current identity of the mail client as the plug-in does, watches the Inbox, runs
// passes as mail arrives, and takes commands on standard input; everything the plug-in
// shows is printed on standard output, one line each.
#include "platform/console.h"
#include "plugin/host/headless_client_window.h"
#include "tools/kestrelon-host/host_console.h"

#include <atomic>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <deque>
#include <iostream>
#include <mutex>
#include <string>
#include <thread>

namespace {

using kestrelon::BoxAnswer;
using kestrelon::HeadlessClientWindow;
using kestrelon::host::AnswerMode;

constexpr int kUsage = 64;
constexpr uint32_t kPollMs = 100;

const char* const kUsageText =
    "usage: kestrelon-host [--language en|de] [--answer yes|no]\n"
    "commands on standard input: pass, notify, select FROM SUBJECT..., select-id ID..., columns [TITLE...],\n"
    "  list on|off, delete-spam, tokens, settings, set http|smtp|archive VALUE, status PART TEXT,\n"
    "  answer yes|no|ask, echo TEXT, quit\n";

std::atomic<bool> interrupted{false};

void OnSignal(int) { interrupted = true; }

// Lines of standard input, read on their own thread so that the loop can watch for mail
// meanwhile. The end of the input reads as "quit".
class InputLines {
 public:
  void Start() {
    std::thread([this] {
      std::string line;
      while (std::getline(std::cin, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        Push(line, false);
      }
      Push("quit", true);
    }).detach();
  }

  bool TryPop(std::string& line) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (lines_.empty()) return false;
    line = lines_.front();
    lines_.pop_front();
    return true;
  }

  // The next line, waiting for it; false at the end of the input.
  bool Pop(std::string& line) {
    std::unique_lock<std::mutex> lock(mutex_);
    ready_.wait(lock, [this] { return !lines_.empty() || ended_; });
    if (lines_.empty() || (ended_ && lines_.size() == 1 && lines_.front() == "quit")) return false;
    line = lines_.front();
    lines_.pop_front();
    return true;
  }

  bool Waiting() {
    std::lock_guard<std::mutex> lock(mutex_);
    return !lines_.empty();
  }

 private:
  void Push(const std::string& line, bool end) {
    std::lock_guard<std::mutex> lock(mutex_);
    lines_.push_back(line);
    ended_ = ended_ || end;
    ready_.notify_all();
  }

  std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<std::string> lines_;
  bool ended_ = false;
};

void PrintLine(const std::string& line) {
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  platform::UseBinaryStdout();
  kestrelon::UiLanguage language = kestrelon::UiLanguage::kEnglish;
  AnswerMode answer = AnswerMode::kAsk;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--language" && i + 1 < argc && kestrelon::ParseUiLanguage(argv[i + 1], language)) {
      ++i;
    } else if (arg == "--answer" && i + 1 < argc && (std::string(argv[i + 1]) == "yes" || std::string(argv[i + 1]) == "no")) {
      answer = std::string(argv[++i]) == "yes" ? AnswerMode::kYes : AnswerMode::kNo;
    } else {
      std::fputs(kUsageText, stderr);
      return kUsage;
    }
  }

  InputLines input;
  HeadlessClientWindow window(language);
  auto ask = [&input](const HeadlessClientWindow::Box& box) {
    for (;;) {
      std::fprintf(stderr, "%s: %s [yes/no]? ", box.caption.c_str(), kestrelon::OneLine(box.text).c_str());
      std::string line;
      if (!input.Pop(line)) return BoxAnswer::kNo;
      if (line == "yes" || line == "y") return BoxAnswer::kYes;
      if (line == "no" || line == "n") return BoxAnswer::kNo;
    }
  };
  kestrelon::host::HostConsole console(window, PrintLine, answer, ask);
  std::signal(SIGINT, OnSignal);
  std::signal(SIGTERM, OnSignal);
  if (!console.Attach()) return 1;

  input.Start();
  bool running = true;
  while (running && !interrupted) {
    console.Deliver(window.WaitForEvent(input.Waiting() ? 0 : kPollMs));
    std::string line;
    while (running && input.TryPop(line)) running = console.Execute(line);
  }
  console.Detach();
  return 0;
}
