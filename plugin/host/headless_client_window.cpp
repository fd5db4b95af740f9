#include "plugin/host/headless_client_window.h"

#include "platform/time.h"

#include <algorithm>

namespace kestrelon {

namespace {

const char* ButtonsName(BoxButtons buttons) { return buttons == BoxButtons::kYesNo ? "yesno" : "ok"; }

const char* AnswerName(BoxAnswer answer) {
  switch (answer) {
    case BoxAnswer::kYes: return "yes";
    case BoxAnswer::kNo: return "no";
    case BoxAnswer::kOk: break;
  }
  return "ok";
}

// The status bar of the client holds 255 characters a part.
constexpr size_t kStatusText = 255;

}  // namespace

std::string OneLine(const std::string& text) {
  std::string line;
  line.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '\\': line += "\\\\"; break;
      case '\r': line += "\\r"; break;
      case '\n': line += "\\n"; break;
      case '\t': line += "\\t"; break;
      default: line += c;
    }
  }
  return line;
}

HeadlessClientWindow::HeadlessClientWindow(UiLanguage language) : language_(language) {
  headers_ = {LoadPluginString(8, language, 255), LoadPluginString(9, language, 255), kReceivedTitle};
}

void HeadlessClientWindow::Print(const std::string& line) {
  if (printer_) printer_(line);
}

void HeadlessClientWindow::SelectRows(const std::vector<Row>& rows) {
  std::string from = LoadPluginString(8, language_, 255), subject = LoadPluginString(9, language_, 255);
  rows_.clear();
  for (const Row& row : rows) {
    std::vector<std::string> cells(headers_.size());
    for (size_t i = 0; i < headers_.size(); ++i) {
      if (headers_[i] == from)
        cells[i] = row.from;
      else if (headers_[i] == subject)
        cells[i] = row.subject;
      else if (headers_[i] == kReceivedTitle)
        cells[i] = row.received;
    }
    rows_.push_back(std::move(cells));
  }
}

std::string HeadlessClientWindow::LoadText(unsigned id, size_t bufferChars) {
  return LoadPluginString(id, language_, bufferChars);
}

BoxAnswer HeadlessClientWindow::ShowBox(BoxOwner owner, const std::string& caption, const std::string& text,
                                        BoxButtons buttons, BoxIcon icon) {
  Box box{owner, caption, text, buttons, icon, BoxAnswer::kOk};
  if (buttons == BoxButtons::kYesNo) box.answer = answerer_ ? answerer_(box) : BoxAnswer::kNo;
  boxes_.push_back(box);
  std::string line = "box\t" + OneLine(caption) + "\t" + OneLine(text);
  if (buttons == BoxButtons::kYesNo) line += std::string("\t") + ButtonsName(buttons) + "\t" + AnswerName(box.answer);
  Print(line);
  return box.answer;
}

std::string HeadlessClientWindow::StatusText(int part) {
  if (!statusBarPresent_) return {};
  auto it = statusParts_.find(part);
  return it == statusParts_.end() ? std::string() : it->second;
}

void HeadlessClientWindow::SetStatusText(int part, const std::string& text) {
  if (!statusBarPresent_) return;
  statusParts_[part] = text.substr(0, kStatusText);
  Print("status\t" + std::to_string(part) + "\t" + OneLine(statusParts_[part]));
}

void HeadlessClientWindow::OpenProgress() {
  progressOpen_ = true;
  ++progressOpenings_;
  progressSteps_ = 0;
  Print("progress\topen");
}

void HeadlessClientWindow::SetProgressText(const std::string& text) { Print("progress\ttext\t" + OneLine(text)); }

void HeadlessClientWindow::SetProgressRange(uint16_t maximum, int step) {
  progressMaximum_ = maximum;
  Print("progress\trange\t" + std::to_string(maximum) + "\t" + std::to_string(step));
}

void HeadlessClientWindow::StepProgress() {
  ++progressSteps_;
  Print("progress\tstep\t" + std::to_string(progressSteps_));
}

void HeadlessClientWindow::CloseProgress() {
  progressOpen_ = false;
  Print("progress\tclose");
}

void HeadlessClientWindow::ShowWaitCursor() {
  cursorIsWait_ = true;
  ++waitCursors_;
  Print("cursor\twait");
}

void HeadlessClientWindow::RestoreCursor() {
  cursorIsWait_ = false;
  Print("cursor\trestore");
}

std::vector<std::string> HeadlessClientWindow::HeaderTexts() {
  if (!listPresent_) return {};
  std::vector<std::string> titles = headers_;
  for (std::string& title : titles)
    if (title.size() > 255) title.resize(255);
  return titles;
}

int HeadlessClientWindow::NextSelectedRow(int row) {
  if (!listPresent_) return -1;
  int next = row < 0 ? 0 : row + 1;
  return next < static_cast<int>(rows_.size()) ? next : -1;
}

std::string HeadlessClientWindow::CellText(int row, int column) {
  if (row < 0 || row >= static_cast<int>(rows_.size())) return {};
  const std::vector<std::string>& cells = rows_[row];
  if (column < 0 || column >= static_cast<int>(cells.size())) return {};
  return cells[column].substr(0, 511);
}

uintptr_t HeadlessClientWindow::ArmTimer(unsigned id, unsigned intervalMs) {
  timerArmed_ = true;
  timerInterval_ = intervalMs;
  timerDue_ = platform::TickCount() + intervalMs;
  return id;
}

void HeadlessClientWindow::DisarmTimer(uintptr_t) { timerArmed_ = false; }

unsigned long HeadlessClientWindow::ArmChangeNotification(const std::string& storeFolder) {
  if (!watch_.Start(storeFolder)) return 0;
  watchedFolder_ = storeFolder;
  notificationId_ = 1;
  return notificationId_;
}

void HeadlessClientWindow::DisarmChangeNotification(unsigned long) {
  watch_.Stop();
  notificationId_ = 0;
}

HeadlessClientWindow::Event HeadlessClientWindow::WaitForEvent(uint32_t timeoutMs) {
  uint32_t wait = timeoutMs;
  if (timerArmed_) {
    // Signed distance to the due tick, so that a wrap of the tick count is harmless.
    int32_t left = static_cast<int32_t>(timerDue_ - platform::TickCount());
    if (left <= 0) {
      timerDue_ = platform::TickCount() + timerInterval_;
      return Event::kTimer;
    }
    wait = std::min<uint32_t>(wait, static_cast<uint32_t>(left));
  }
  if (watch_.Wait(wait)) return Event::kNotification;
  if (timerArmed_ && static_cast<int32_t>(timerDue_ - platform::TickCount()) <= 0) {
    timerDue_ = platform::TickCount() + timerInterval_;
    return Event::kTimer;
  }
  return Event::kNone;
}

}  // namespace kestrelon
