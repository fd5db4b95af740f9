// The options and token probabilities dialogs inside the client, and the German client.
#include "client/store/store_location.h"
#include "plugin/host/delete_spam.h"
#include "plugin/host/new_mail.h"
#include "plugin/host/win32/window_test_support.h"
#include "plugin/res/plugin_strings.h"
#include "plugin/res/version.h"

#include <regex>

namespace kestrelon::testing {
namespace {

class DialogsTest : public PluginWindowTest {
 protected:
  // Opens a dialog with a menu command and describes it; the command's reply comes when
  // the dialog is closed (CloseDialog).
  std::vector<std::string> OpenDialog(int command, const std::string& caption) {
    window_->Send("command " + std::to_string(command));
    std::string opened = window_->WaitDialog();
    EXPECT_EQ(opened.substr(0, opened.find('\t')), caption);
    return Run("dialog");
  }
  void CloseDialog(int button) {
    Run("click " + std::to_string(button));
    WindowReply command = window_->Finish();
    EXPECT_TRUE(command.ok) << command.error;
  }
  std::vector<std::string> Options() { return OpenDialog(30100, "Kestrelon Options"); }
};

const char kSmtpWarning[] =
    "Info|Verification of mail senders address via SMTP can severely decrease processing performance of the "
    "filter!\\r\\nUse it only in case of a low detection rate e.g. at the beginning.";
const char kHangUpWarning[] =
    "Info|Please clear 'Hang up after sending and receiving' in Tools->Options->Connection\\r\\nso that HTTP "
    "scanning or SMTP verification respectively functions properly!";

TEST_F(DialogsTest, OptionsShowTheStatisticsAndApplyTheirRulesOnOk) {
  ASSERT_NE(Open(), "0");
  Run("answer ok");
  Run("deliver " + Sample("ham/01-sprint-review") + " " + Sample("ham/02-lunch-friday"));
  std::vector<std::string> dialog = Options();
  EXPECT_EQ(ControlOf(dialog, 203), "Static\t2\t");
  EXPECT_EQ(ControlOf(dialog, 204), "Static\t0\t");
  EXPECT_EQ(ControlOf(dialog, 1009), "Edit\t0\t");
  EXPECT_EQ(ControlOf(dialog, 1019), std::string("Static\t") + KESTRELON_VERSION_TEXT + "\t");
  EXPECT_EQ(ControlOf(dialog, 1018), "Button\t&Backup deleted Spam Mails\t");
  EXPECT_EQ(ControlOf(dialog, 1020), "Button\t&Verify Senders Address (SMTP)\t");
  // Only two characters of the time-out are read.
  Run("set 1009 123");
  Run("click 1018");
  CloseDialog(1);
  dialog = Options();
  EXPECT_EQ(ControlOf(dialog, 1009), "Edit\t12\t");
  EXPECT_EQ(ControlOf(dialog, 1018), "Button\t&Backup deleted Spam Mails\tchecked");
  // Cancel keeps what was there.
  Run("set 1009 7");
  CloseDialog(2);
  dialog = Options();
  EXPECT_EQ(ControlOf(dialog, 1009), "Edit\t12\t");

  // A client that hangs up after receiving gets neither the link scan nor the SMTP check.
  platform::RegistryKey identity;
  ASSERT_TRUE(identity.Open(platform::Hive::CurrentUser, client::IdentityKey(client::CurrentIdentity()), true));
  ASSERT_TRUE(identity.WriteDword("Hangup After Spool", 1));
  ClosedBoxes();
  Run("answer ok");
  Run("click 1020");
  EXPECT_EQ(ClosedBoxes(), std::vector<std::string>{kSmtpWarning});
  Run("answer ok");
  CloseDialog(1);
  std::vector<std::string> boxes = ClosedBoxes();
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0], kHangUpWarning);
  dialog = Options();
  EXPECT_EQ(ControlOf(dialog, 1009), "Edit\t0\t");
  EXPECT_EQ(ControlOf(dialog, 1020), "Button\t&Verify Senders Address (SMTP)\t");
  EXPECT_EQ(ControlOf(dialog, 1018), "Button\t&Backup deleted Spam Mails\tchecked");
  CloseDialog(2);
}

TEST_F(DialogsTest, TimerModeOffersNoSenderVerification) {
  SetEnvironmentVariableA("KESTRELON_DETECTION", "timer");
  ASSERT_NE(Open(), "0");
  std::vector<std::string> dialog = Options();
  EXPECT_EQ(ControlOf(dialog, 1020), "Button\t&Verify Senders Address (SMTP)\tdisabled");
  CloseDialog(2);
}

TEST_F(DialogsTest, TokenDialogShowsTheFirstSelectedMessage) {
  SetDebugLevel(3);
  ASSERT_NE(Open(), "0");
  Run("answer ok");
  Run("deliver " + Sample("ham/01-sprint-review") + " " + Sample("ham/04-dentist"));

  // Nothing selected: the dialog as the resource has it, with its two columns.
  std::vector<std::string> dialog = OpenDialog(30102, "Kestrelon - Token Probabilities");
  EXPECT_EQ(dialog.at(0), "open\tKestrelon - Token Probabilities");
  for (int id : {1015, 1016, 1017}) EXPECT_EQ(ControlOf(dialog, id), "Static\t|\t") << id;
  std::vector<std::string> columns, rows;
  for (const std::string& line : dialog) {
    if (line.rfind("column\t", 0) == 0) columns.push_back(line);
    if (line.rfind("row\t", 0) == 0) rows.push_back(line);
  }
  EXPECT_EQ(columns, (std::vector<std::string>{"column\t0\tToken\t200\tleft", "column\t1\tProbability\t70\tleft"}));
  EXPECT_TRUE(rows.empty());
  CloseDialog(1);

  Run("select 1");
  std::vector<std::string> row = Fields(Lines("rows", "row").at(1));
  dialog = OpenDialog(30102, "Kestrelon - Token Probabilities");
  EXPECT_EQ(ControlOf(dialog, 1015), "Static\t" + row.at(3) + "\t");
  EXPECT_EQ(ControlOf(dialog, 1016), "Static\t" + row.at(4) + "\t");
  const std::regex percent("[0-9]+\\.[0-9][0-9]%");
  EXPECT_TRUE(std::regex_match(Fields(ControlOf(dialog, 1017)).at(1), percent)) << ControlOf(dialog, 1017);
  rows.clear();
  for (const std::string& line : dialog) {
    if (line.rfind("row\t", 0) == 0) rows.push_back(line);
  }
  ASSERT_GT(rows.size(), 5u);
  for (const std::string& line : rows) EXPECT_TRUE(std::regex_match(Fields(line).at(3), percent)) << line;
  CloseDialog(1);
}

// A German client finds the code's English box texts in the string table by their words.
TEST(BoxTexts, TheCodesEnglishTextsAreInTheStringTable) {
  std::vector<std::string> english;
  for (unsigned id = kFirstBoxText; id <= kLastBoxText; ++id) english.push_back(PluginStringText(id, UiLanguage::kEnglish));
  for (const char* text : {kMailProcessingError, kColumnsMissing, "Error", "Kestrelon Error"})
    EXPECT_NE(std::find(english.begin(), english.end(), text), english.end()) << text;
}

TEST_F(DialogsTest, GermanClientGetsGermanTexts) {
  ASSERT_NE(Open("--lang de"), "0");
  EXPECT_EQ(Lines("menu edit", "item").back(), "30101\tenabled\tSpam löschen");
  EXPECT_EQ(Lines("menu tools", "item").back(), "30100\tenabled\tSpamfilter-Optionen...");
  EXPECT_EQ(Fields(Button(30101)).at(4), "Spam löschen");
  Run("answer ok");
  Run("deliver " + Sample("ham/01-sprint-review"));
  std::vector<std::string> boxes = ClosedBoxes();
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[1].rfind("Kestrelon Spam Filter|Die Durchsuchung des Posteingangs ist beendet.", 0), 0u) << boxes[1];
  std::vector<std::string> dialog = OpenDialog(30100, "Kestrelon-Optionen");
  EXPECT_EQ(ControlOf(dialog, 203), "Static\t1\t");
  EXPECT_EQ(ControlOf(dialog, 2), "Button\tAbbrechen\t");
  CloseDialog(2);

  // The texts the plug-in's code names in English: the debug menu item, the token dialog's
  // columns, the start-up failure boxes.
  SetDebugLevel(3);
  ASSERT_NE(Reopen("--lang de"), "0");
  EXPECT_EQ(Lines("menu edit", "item").back(), "30102\tenabled\tSpam-Wahrscheinlichkeiten");
  dialog = OpenDialog(30102, "Kestrelon - Token-Wahrscheinlichkeiten");
  std::vector<std::string> columns;
  for (const std::string& line : dialog) {
    if (line.rfind("column\t", 0) == 0) columns.push_back(line);
  }
  ASSERT_EQ(columns.size(), 2u);
  EXPECT_EQ(columns[0], "column\t0\tToken\t200\tleft");
  EXPECT_EQ(Fields(columns[1]).at(2), "Wahrscheinlichkeit");
  EXPECT_GE(std::stoi(Fields(columns[1]).at(3)), 70);
  CloseDialog(1);
  EXPECT_EQ(Close(), 0);
  platform::RegistryKey::DeleteTree(platform::Hive::CurrentUser, "Identities");
  ASSERT_TRUE(window_->Start("--lang de"));
  Run("answer ok");
  Run("answer ok");
  EXPECT_EQ(Lines("attach " + Plugin(), "attach"), std::vector<std::string>{"0"});
  EXPECT_EQ(ClosedBoxes(), (std::vector<std::string>{
                               "Kestrelon-Fehler|GetInboxPath fehlgeschlagen!\\r\\nIdentität: \\r\\nPfad: ",
                               "Kestrelon-Fehler|Initialisierung des Plugins fehlgeschlagen!\\r\\nFehlercode: 0x1007"}));
}

}  // namespace
}  // namespace kestrelon::testing
