#include "tools/kestrelon-host/host_console.h"

#include "plugin/host/delete_spam.h"
#include "plugin/host/detection_mode.h"
#include "plugin/host/host_failure.h"
#include "plugin/host/new_mail.h"
#include "plugin/host/options_store.h"
#include "plugin/host/token_view.h"

#include <cstdlib>

namespace kestrelon::host {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// A log entry without the line end its format carries.
std::string WithoutLineEnd(std::string text) {
  if (text.size() >= 2 && text.compare(text.size() - 2, 2, "\r\n") == 0) text.resize(text.size() - 2);
  return text;
}

bool ParseOnOff(const std::string& word, bool& on) {
  if (word == "on" || word == "1") {
    on = true;
    return true;
  }
  if (word == "off" || word == "0") {
    on = false;
    return true;
  }
  return false;
}

}  // namespace

bool SplitWords(const std::string& line, std::vector<std::string>& words) {
  words.clear();
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && IsBlank(line[i])) ++i;
    if (i >= line.size()) break;
    std::string word;
    bool quoted = false;
    while (i < line.size() && (quoted || !IsBlank(line[i]))) {
      char c = line[i++];
      if (c == '"') {
        quoted = !quoted;
      } else if (c == '\\' && quoted) {
        if (i >= line.size()) return false;
        word += line[i++];
      } else {
        word += c;
      }
    }
    if (quoted) return false;
    words.push_back(word);
  }
  return true;
}

HostConsole::HostConsole(HeadlessClientWindow& window, std::function<void(const std::string&)> print,
                         AnswerMode answer, HeadlessClientWindow::Answerer ask)
    : window_(window), print_(std::move(print)), answer_(answer), ask_(std::move(ask)) {
  window_.SetPrinter(print_);
  window_.SetAnswerer([this](const HeadlessClientWindow::Box& box) {
    if (answer_ == AnswerMode::kYes) return BoxAnswer::kYes;
    if (answer_ == AnswerMode::kAsk && ask_) return ask_(box);
    return BoxAnswer::kNo;
  });
}

bool HostConsole::Attach(HostOptions options) {
  auto print = print_;
  options.logObserver = [print](const char* function, const std::string& text) {
    if (function)
      print("error\t" + OneLine(function) + "\t" + OneLine(text));
    else
      print("log\t" + OneLine(WithoutLineEnd(text)));
  };
  attached_ = StartPlugin(window_, std::move(options));
  if (attached_) {
    PluginData& data = *CurrentPluginData();
    print_("attached\t" + OneLine(data.storeFolder) + "\t" + (data.useTimer ? "timer" : "notification"));
  }
  return attached_;
}

void HostConsole::Detach() {
  if (!attached_) return;
  attached_ = false;
  DestroyPluginData();
  print_("detached");
}

void HostConsole::Fail(const std::string& message) { print_("error\t" + OneLine(message)); }

void HostConsole::Deliver(HeadlessClientWindow::Event event) {
  PluginData* data = CurrentPluginData();
  if (!attached_ || !data) return;
  if (event == HeadlessClientWindow::Event::kTimer) OnNewMailTimer(*data);
  if (event == HeadlessClientWindow::Event::kNotification) OnChangeNotification(*data, kUpdateDirectoryEvent);
}

bool HostConsole::Select(const std::vector<std::string>& words) {
  if (words.size() % 2 != 1) return false;
  std::vector<HeadlessClientWindow::Row> rows;
  for (size_t i = 1; i + 1 < words.size(); i += 2) rows.push_back({words[i], words[i + 1], ""});
  window_.SelectRows(rows);
  return true;
}

// The rows the client's list shows for these Inbox messages: the sender's display name,
// the subject and the date received, as Simple MAPI gives them.
bool HostConsole::SelectIds(const std::vector<std::string>& words) {
  MailSession& session = *CurrentPluginData()->mailSession;
  std::vector<HeadlessClientWindow::Row> rows;
  for (size_t i = 1; i < words.size(); ++i) {
    MapiMessage* message = session.ReadMessage(words[i], MAPI_ENVELOPE_ONLY);
    if (!message) {
      Fail("no Inbox message " + words[i]);
      return true;
    }
    const char* name = message->lpOriginator ? message->lpOriginator->lpszName : nullptr;
    rows.push_back({name ? name : "", message->lpszSubject ? message->lpszSubject : "",
                    message->lpszDateReceived ? message->lpszDateReceived : ""});
    session.FreeMessage(message);
  }
  window_.SelectRows(rows);
  for (const auto& row : rows)
    print_("selected\t" + OneLine(row.from) + "\t" + OneLine(row.subject) + "\t" + OneLine(row.received));
  return true;
}

void HostConsole::Tokens() {
  TokenView view;
  try {
    view = FillTokenView(*CurrentPluginData());
  } catch (const std::exception& e) {
    Fail(e.what());
    return;
  }
  if (!view.filled) {
    print_("tokens\tnone");
    return;
  }
  print_("tokens\t" + OneLine(view.from) + "\t" + OneLine(view.subject) + "\t" + view.probability);
  for (const TokenRow& row : view.rows) print_("token\t" + OneLine(row.token) + "\t" + row.probability);
}

void HostConsole::PrintSettings() {
  const PluginSettings& settings = *CurrentPluginData()->settings;
  print_("setting\tHttpScanTimeout\t" + std::to_string(settings.httpScanTimeout));
  print_("setting\tArchiveSpam\t" + std::to_string(settings.archiveSpam));
  print_("setting\tCheckSMTP\t" + std::to_string(settings.checkSmtp));
  print_("setting\tArchiveFolder\t" + OneLine(settings.archiveFolder));
}

// As the options dialog: open (timer mode turns sender verification off), change one
// control, OK.
bool HostConsole::Set(const std::vector<std::string>& words) {
  if (words.size() != 3) return false;
  PluginData& data = *CurrentPluginData();
  bool smtpEnabled = PrepareOptions(data);
  OptionsInput input{std::to_string(data.settings->httpScanTimeout), data.settings->checkSmtp != 0,
                     data.settings->archiveSpam != 0};
  bool on = false;
  if (words[1] == "http") {
    input.httpScanTimeoutText = words[2];
  } else if (words[1] == "smtp" && ParseOnOff(words[2], on)) {
    if (!smtpEnabled) {
      Fail("sender verification is not offered in timer mode");
      return true;
    }
    if (on && !input.verifySenders) WarnAboutSenderVerification(data);
    input.verifySenders = on;
  } else if (words[1] == "archive" && ParseOnOff(words[2], on)) {
    input.archiveSpam = on;
  } else {
    return false;
  }
  StoreOptions(data, input);
  PrintSettings();
  return true;
}

bool HostConsole::Execute(const std::string& line) {
  std::vector<std::string> words;
  if (!SplitWords(line, words)) {
    Fail("unbalanced quotes");
    return true;
  }
  if (words.empty()) return true;
  const std::string& command = words[0];
  if (command == "quit") {
    Detach();
    return false;
  }
  if (command == "echo") {
    std::string text;
    for (size_t i = 1; i < words.size(); ++i) text += (i > 1 ? " " : "") + words[i];
    print_("echo\t" + OneLine(text));
    return true;
  }
  if (command == "answer") {
    if (words.size() == 2 && words[1] == "yes")
      answer_ = AnswerMode::kYes;
    else if (words.size() == 2 && words[1] == "no")
      answer_ = AnswerMode::kNo;
    else if (words.size() == 2 && words[1] == "ask")
      answer_ = AnswerMode::kAsk;
    else
      Fail("bad command: " + line);
    return true;
  }
  PluginData* data = CurrentPluginData();
  if (!attached_ || !data) {
    Fail("not attached");
    return true;
  }
  bool ok = true;
  if (command == "pass" && words.size() == 1) {
    OnNewMailTimer(*data);
  } else if (command == "notify" && words.size() == 1) {
    OnChangeNotification(*data, kUpdateDirectoryEvent);
  } else if (command == "select") {
    ok = Select(words);
  } else if (command == "select-id" && words.size() >= 2) {
    ok = SelectIds(words);
  } else if (command == "columns") {
    window_.SetHeaderTexts(std::vector<std::string>(words.begin() + 1, words.end()));
  } else if (command == "list" && words.size() == 2 && (words[1] == "on" || words[1] == "off")) {
    window_.SetMessageListPresent(words[1] == "on");
  } else if (command == "delete-spam" && words.size() == 1) {
    DeleteSpam(*data);
  } else if (command == "tokens" && words.size() == 1) {
    Tokens();
  } else if (command == "settings" && words.size() == 1) {
    PrintSettings();
  } else if (command == "set") {
    ok = Set(words);
  } else if (command == "status" && words.size() == 3) {
    char* end = nullptr;
    long part = std::strtol(words[1].c_str(), &end, 10);
    ok = *end == '\0' && part >= 0 && part < 256;
    if (ok) window_.SetStatusText(static_cast<int>(part), words[2]);
  } else {
    ok = false;
  }
  if (!ok) Fail("bad command: " + line);
  return true;
}

}  // namespace kestrelon::host
