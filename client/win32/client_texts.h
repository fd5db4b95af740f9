// The texts the stand-in client shows, in the two languages the plug-in knows. Several of
// them must equal the plug-in's own strings (last menu items, pane title, Inbox, column
// titles, the receiving status), because the plug-in recognises the client by them.
#pragma once

#include <string>

namespace kestrelon::client {

enum class Language { English, German };

enum class TextId {
  Title,
  MenuFile, MenuEdit, MenuView, MenuTools, MenuHelp,
  FileSaveAs, FilePrint, FileExit,
  EditCopy, EditSelectAll, EditDelete, EditMarkRead, EditMarkUnread, EditMarkAllRead,
  ViewStatusBar, ViewToolbar, ViewRefresh,
  ToolsSendReceive, ToolsAddressBook, ToolsOptions,
  HelpContents, HelpAbout,
  ButtonCreateMail, ButtonReply, ButtonReplyAll, ButtonForward, ButtonPrint, ButtonDelete,
  ButtonSendReceive, ButtonAddresses, ButtonFind,
  ViewsLabel, ViewsAllMessages, ViewsHideRead,
  FoldersTitle, LocalFolders, Inbox, Outbox, SentItems, DeletedItems, Drafts,
  ContactsTitle, NoContacts,
  ColumnFrom, ColumnSubject, ColumnReceived,
  StatusMessages,  // printf format: count, unread
  StatusOnline, StatusReceiving,
};

const wchar_t* Text(Language language, TextId id);

// "en" or "de"; false for anything else.
bool ParseLanguage(const std::string& name, Language& language);

// The language of the user's interface: German for a German user language, else English.
Language UserLanguage();

}  // namespace kestrelon::client
