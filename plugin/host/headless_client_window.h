// The headless side of the client-window seam: no windows, only a record of what the
// plug-in would have shown (boxes, status bar texts, progress dialog, cursor), a message
// list that the caller fills, and new-mail detection by a folder watch and a software
// timer that the caller's loop waits on. Boxes with a choice are answered by a function
// the caller sets (a test, or a user at the console).
#pragma once

#include "plugin/host/client_window.h"
#include "plugin/host/folder_watch.h"
#include "plugin/res/plugin_strings.h"

#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace kestrelon {

// `text` on one line: backslash, CR, LF and TAB written as \\, \r, \n and \t.
std::string OneLine(const std::string& text);

// The title of the list's date-received column.
constexpr const char* kReceivedTitle = "Received";

class HeadlessClientWindow : public IClientWindow {
 public:
  struct Box {
    BoxOwner owner;
    std::string caption;
    std::string text;
    BoxButtons buttons;
    BoxIcon icon;
    BoxAnswer answer;
  };
  // What a box with Yes and No is answered with.
  using Answerer = std::function<BoxAnswer(const Box& box)>;
  // Receives one line for everything shown (see the README of kestrelon-host).
  using Printer = std::function<void(const std::string& line)>;

  enum class Event { kNone, kTimer, kNotification };

  explicit HeadlessClientWindow(UiLanguage language = UiLanguage::kEnglish);

  void SetAnswerer(Answerer answerer) { answerer_ = std::move(answerer); }
  void SetPrinter(Printer printer) { printer_ = std::move(printer); }
  UiLanguage Language() const { return language_; }

  // The message list: present or not, its column titles (by default string 8 and
  // string 9 of the language, then kReceivedTitle), and its rows, all selected.
  void SetMessageListPresent(bool present) { listPresent_ = present; }
  void SetHeaderTexts(std::vector<std::string> titles) { headers_ = std::move(titles); }
  const std::vector<std::string>& Headers() const { return headers_; }
  // Rows given by their From, Subject and Received texts (the columns with these
  // titles); other columns are empty.
  struct Row {
    Row(std::string from, std::string subject, std::string received = {})
        : from(std::move(from)), subject(std::move(subject)), received(std::move(received)) {}
    std::string from;
    std::string subject;
    std::string received;
  };
  void SelectRows(const std::vector<Row>& rows);
  void SetStatusBarPresent(bool present) { statusBarPresent_ = present; }
  void SetInboxSelected(bool selected) { inboxSelected_ = selected; }

  // Waits at most `timeoutMs` for the next detection event: the armed timer falling
  // due, or a change in the watched folder.
  Event WaitForEvent(uint32_t timeoutMs);

  // The record.
  const std::vector<Box>& Boxes() const { return boxes_; }
  void ClearBoxes() { boxes_.clear(); }
  bool ProgressOpen() const { return progressOpen_; }
  int ProgressSteps() const { return progressSteps_; }
  uint16_t ProgressMaximum() const { return progressMaximum_; }
  int ProgressOpenings() const { return progressOpenings_; }
  int WaitCursors() const { return waitCursors_; }
  bool CursorIsWait() const { return cursorIsWait_; }
  bool TimerArmed() const { return timerArmed_; }
  bool NotificationArmed() const { return notificationId_ != 0; }
  const std::string& WatchedFolder() const { return watchedFolder_; }

  // IClientWindow
  std::string LoadText(unsigned id, size_t bufferChars) override;
  BoxAnswer ShowBox(BoxOwner owner, const std::string& caption, const std::string& text, BoxButtons buttons,
                    BoxIcon icon) override;
  bool HasStatusBar() override { return statusBarPresent_; }
  std::string StatusText(int part) override;
  void SetStatusText(int part, const std::string& text) override;
  void OpenProgress() override;
  void SetProgressText(const std::string& text) override;
  void SetProgressRange(uint16_t maximum, int step) override;
  void StepProgress() override;
  void CloseProgress() override;
  void ShowWaitCursor() override;
  void RestoreCursor() override;
  bool HasMessageList() override { return listPresent_; }
  std::vector<std::string> HeaderTexts() override;
  int NextSelectedRow(int row) override;
  std::string CellText(int row, int column) override;
  bool IsInboxSelected() override { return inboxSelected_; }
  uintptr_t ArmTimer(unsigned id, unsigned intervalMs) override;
  void DisarmTimer(uintptr_t timerId) override;
  unsigned long ArmChangeNotification(const std::string& storeFolder) override;
  void DisarmChangeNotification(unsigned long registrationId) override;

 private:
  void Print(const std::string& line);

  UiLanguage language_;
  Answerer answerer_;
  Printer printer_;
  std::vector<Box> boxes_;
  bool statusBarPresent_ = true;
  std::map<int, std::string> statusParts_;
  bool progressOpen_ = false;
  int progressOpenings_ = 0;
  int progressSteps_ = 0;
  uint16_t progressMaximum_ = 0;
  bool cursorIsWait_ = false;
  int waitCursors_ = 0;
  bool listPresent_ = true;
  std::vector<std::string> headers_;
  std::vector<std::vector<std::string>> rows_;
  bool inboxSelected_ = true;
  bool timerArmed_ = false;
  uint32_t timerInterval_ = 0;
  uint32_t timerDue_ = 0;
  unsigned long notificationId_ = 0;
  std::string watchedFolder_;
  FolderWatch watch_;
};

}  // namespace kestrelon
