// The commands a test or script gives the stand-in client (one a line, words separated
// by spaces, "double quotes" around a word with spaces). Each command answers with its
// lines and then "ok" or "error\t<why>"; "dialog\t<caption>\t<text>" appears on its own
// whenever a box opens that no queued answer closes.
//
//   attach DLL [CLASS|second]
//                           load the plug-in and call AttachOutlookExpressPlugin with the main
//                           window (or the first window of CLASS in it, or main window 2):
//                           "attach\t<result in hex>"; a child window follows, as in the client
//   new-window              open another main window over the same store, as File > New >
//                           Window does: "window\t<number>" (the first window is 1)
//   use N                   let the commands act on main window N
//   close N                 close main window N, as its File > Exit does; the commands move
//                           to the first window still open, and the program ends with the last
//   window CLASS            "window\t<text>\torigproc=0|1\tsubclassed=0|1" of the first window
//   tree                    the window tree, one "<indent><class>\t<text>" a window
//   menu NAME               let the window initialise popup NAME (file edit view tools help) as
//                           on opening it; "item\t<id>\tenabled|grayed\t<text>" or "separator"
//   popup NAME | endmenu    open popup NAME on the screen (for pictures) | close it
//   menus                   replace the menu bar with new menus
//   toolbar                 "images\t<normal count>\t<hot count, -1 without>\t<W>x<H>", then
//                           "button\t<index>\t<id>\t<image>\t<state>\t<text>" each
//   image ID                "image\t<normal digest>\t<hot digest>" of the button's picture
//   press ID                click the toolbar button; "command\t<id>" when the window got it
//   command ID              send the menu command ID to the main window
//   state ID STATE          set a toolbar button's state as the client does
//   icons N                 switch the toolbar to N-pixel pictures
//   combo-off | child       drop the combo box from the toolbar | create a child window
//   folder NAME             select inbox, outbox, sent, deleted, drafts or local
//   rows                    "row\t<n>\t<id>\t<selected>\t<from>\t<subject>\t<received>"
//   select N...             select exactly these rows
//   deliver FILE...         receive mail files; "delivered\t<id>" each
//   receiving on|off        status part 2 shows the receiving text, or not (off notifies)
//   status                  "part\t<n>\t<text>" of the status bar
//   answer BUTTON           yes, no, ok or cancel for the next box with that button
//   dialog                  the open dialog: "open\t<caption>" and its controls
//   click ID | set ID TEXT  press a control of the open dialog | set its text
//   closed                  what the boxes closed since the last call showed
//   rect                    "rect\t<left>\t<top>\t<right>\t<bottom>" on the screen of the open
//                           dialog, or of the main window
//   quit                    close every main window and end
#pragma once

#include "client/win32/command_channel.h"
#include "client/win32/dialog_watch.h"
#include "client/win32/main_window.h"

#include <memory>
#include <string>
#include <vector>

namespace kestrelon::client {

class CommandInterpreter {
 public:
  // Commands act on `window` (main window 1) until told otherwise; dialog notices and
  // popup requests reach the program through `commandWindow`.
  CommandInterpreter(MainWindow& window, HWND commandWindow, DialogWatch& dialogs, CommandChannel& channel)
      : windows_{&window}, commandWindow_(commandWindow), dialogs_(dialogs), channel_(channel) {}

  void Execute(const std::string& line);
  // Loads the plug-in and attaches it to `target`; the result of the export, or an error.
  bool Attach(const std::wstring& library, HWND target, LONG_PTR& result, std::string& error);
  void NoteCommand(int id) { commandsSeen_.push_back(id); }
  void OpenPopup(int position);
  void OnDialog(HWND dialog);

 private:
  void Run(const std::vector<std::string>& words, const std::string& line);
  void Out(const std::string& line) { channel_.Write(line); }
  // The window the commands act on: the chosen one, or the first still open after it closed.
  MainWindow& Window();
  MainWindow& Numbered(const std::vector<std::string>& words);

  std::vector<MainWindow*> windows_;
  std::vector<std::unique_ptr<MainWindow>> opened_;
  size_t current_ = 0;
  HWND commandWindow_;
  DialogWatch& dialogs_;
  CommandChannel& channel_;
  HMODULE plugin_ = nullptr;
  std::vector<int> commandsSeen_;
};

}  // namespace kestrelon::client
