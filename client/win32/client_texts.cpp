#include "client/win32/client_texts.h"

#include <windows.h>

namespace kestrelon::client {

namespace {

struct TextPair {
  TextId id;
  const wchar_t* english;
  const wchar_t* german;
};

// Each menu's last item is what the plug-in looks for: Options in Tools, Mark All Read
// in Edit.
constexpr TextPair kTexts[] = {
    {TextId::Title, L"%ls - Outlook Express", L"%ls - Outlook Express"},
    {TextId::MenuFile, L"&File", L"&Datei"},
    {TextId::MenuEdit, L"&Edit", L"&Bearbeiten"},
    {TextId::MenuView, L"&View", L"&Ansicht"},
    {TextId::MenuTools, L"&Tools", L"E&xtras"},
    {TextId::MenuHelp, L"&Help", L"&?"},
    {TextId::FileSaveAs, L"Save &As...", L"Speichern &unter..."},
    {TextId::FilePrint, L"&Print...\tCtrl+P", L"&Drucken...\tStrg+P"},
    {TextId::FileExit, L"E&xit", L"&Beenden"},
    {TextId::EditCopy, L"&Copy\tCtrl+C", L"&Kopieren\tStrg+C"},
    {TextId::EditSelectAll, L"Select &All\tCtrl+A", L"Alles &markieren\tStrg+A"},
    {TextId::EditDelete, L"&Delete\tCtrl+D", L"&Löschen\tStrg+D"},
    {TextId::EditMarkRead, L"Mark as &Read\tCtrl+Q", L"Als &gelesen markieren\tStrg+Q"},
    {TextId::EditMarkUnread, L"Mark as &Unread", L"Als &ungelesen markieren"},
    {TextId::EditMarkAllRead, L"Mark All R&ead\tCtrl+Shift+A", L"&Alle als gelesen markieren\tStrg+Umschalt+A"},
    {TextId::ViewStatusBar, L"&Status Bar", L"&Statusleiste"},
    {TextId::ViewToolbar, L"&Toolbar", L"&Symbolleiste"},
    {TextId::ViewRefresh, L"&Refresh\tF5", L"A&ktualisieren\tF5"},
    {TextId::ToolsSendReceive, L"Send and Recei&ve", L"&Senden und empfangen"},
    {TextId::ToolsAddressBook, L"&Address Book...\tCtrl+Shift+B", L"&Adressbuch...\tStrg+Umschalt+B"},
    {TextId::ToolsOptions, L"&Options...", L"&Optionen..."},
    {TextId::HelpContents, L"&Contents and Index", L"&Inhalt und Index"},
    {TextId::HelpAbout, L"&About", L"&Info"},
    {TextId::ButtonCreateMail, L"Create Mail", L"E-Mail erstellen"},
    {TextId::ButtonReply, L"Reply", L"Antworten"},
    {TextId::ButtonReplyAll, L"Reply All", L"Allen antworten"},
    {TextId::ButtonForward, L"Forward", L"Weiterleiten"},
    {TextId::ButtonPrint, L"Print", L"Drucken"},
    {TextId::ButtonDelete, L"Delete", L"Löschen"},
    {TextId::ButtonSendReceive, L"Send/Recv", L"Senden/Empf."},
    {TextId::ButtonAddresses, L"Addresses", L"Adressen"},
    {TextId::ButtonFind, L"Find", L"Suchen"},
    {TextId::ViewsLabel, L"Views:", L"Ansichten:"},
    {TextId::ViewsAllMessages, L"Show All Messages", L"Alle Nachrichten anzeigen"},
    {TextId::ViewsHideRead, L"Hide Read Messages", L"Gelesene Nachrichten ausblenden"},
    {TextId::FoldersTitle, L"Folders", L"Ordner"},
    {TextId::LocalFolders, L"Local Folders", L"Lokale Ordner"},
    {TextId::Inbox, L"Inbox", L"Posteingang"},
    {TextId::Outbox, L"Outbox", L"Postausgang"},
    {TextId::SentItems, L"Sent Items", L"Gesendete Objekte"},
    {TextId::DeletedItems, L"Deleted Items", L"Gelöschte Objekte"},
    {TextId::Drafts, L"Drafts", L"Entwürfe"},
    {TextId::ContactsTitle, L"Contacts", L"Kontakte"},
    {TextId::NoContacts, L"There are no contacts to display.", L"Es sind keine Kontakte vorhanden."},
    {TextId::ColumnFrom, L"From", L"Von"},
    {TextId::ColumnSubject, L"Subject", L"Betreff"},
    {TextId::ColumnReceived, L"Received", L"Erhalten"},
    {TextId::StatusMessages, L"%d message(s), %d unread", L"%d Nachricht(en), %d ungelesen"},
    {TextId::StatusOnline, L"Working Online", L"Onlinebetrieb"},
    {TextId::StatusReceiving, L"Receiving mail...", L"E-Mail abrufen..."},
};

}  // namespace

const wchar_t* Text(Language language, TextId id) {
  for (const TextPair& text : kTexts) {
    if (text.id == id) return language == Language::German ? text.german : text.english;
  }
  return L"";
}

bool ParseLanguage(const std::string& name, Language& language) {
  if (name == "en") language = Language::English;
  else if (name == "de") language = Language::German;
  else return false;
  return true;
}

Language UserLanguage() {
  return PRIMARYLANGID(GetUserDefaultUILanguage()) == LANG_GERMAN ? Language::German : Language::English;
}

}  // namespace kestrelon::client
