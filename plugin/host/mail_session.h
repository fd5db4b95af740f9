// The plug-in's binding to the mail client's Simple MAPI ("MSOE.DLL"), its seen-message
// list and the journal of what passes still owe: enumeration of new Inbox messages from
// the bookmark, reading and deleting messages.
#pragma once

#include "platform/mapi.h"
#include "plugin/dbx/dbx_reader.h"
#include "plugin/host/pass_journal.h"
#include "plugin/host/seen_message_list.h"

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace kestrelon {

// Why the session could not be made. After kLogonFailed the caller shows string 14
// ("no mail account"); the other two show nothing.
class MailSessionError : public std::runtime_error {
 public:
  enum Kind { kListFile, kNoLibrary, kLogonFailed };
  MailSessionError(Kind kind, const std::string& what) : std::runtime_error(what), kind(kind) {}
  Kind kind;
};

// Flag the plug-in sets on a message that it has seen before under another id.
constexpr ULONG kReturnedMailFlag = 0x8;

class MailSession {
 public:
  // Opens the seen-message list at `listPath` and the pass journal beside it (the list's
  // path with "jnl" for its last three characters), and logs on to Simple MAPI. Raises
  // MailSessionError; a failure of the list or the journal is raised as kListFile.
  explicit MailSession(const std::string& listPath);
  // Drops the Inbox reader, logs off, frees the library and closes the list (writing
  // the bookmark). Never raises.
  ~MailSession();
  MailSession(const MailSession&) = delete;
  MailSession& operator=(const MailSession&) = delete;

  // The next Inbox message not yet in the seen-message list, with its id in the
  // reserved word and kReturnedMailFlag set when it is returned mail: a message with
  // its key and date was recorded before, and none of those is in the Inbox any more.
  // Null at the end of a pass. The caller records the message once it is judged. Free
  // it with FreeMessage.
  MapiMessage* NextNewMessage(bool unreadOnly);
  // Records a judged message in the seen-message list and puts the bookmark on it.
  // Raises SeenListError; the message then counts as not judged.
  void RecordJudged(const std::string& key, const std::string& date, const std::string& id);
  // Ends a pass that failed: the next pass starts again from the bookmark, the last
  // message recorded, so the message being judged is judged then.
  void AbandonPass() { currentId_.clear(); }
  // Sets the reserved word to 0 and gives the message back to Simple MAPI.
  void FreeMessage(MapiMessage* message);

  // MAPIReadMail of a message with `flags` (MAPI_PEEK and MAPI_SUPPRESS_ATTACH are
  // added), its id in the reserved word; null when the Inbox does not hold it.
  MapiMessage* ReadMessage(const std::string& id, FLAGS flags);
  bool IsInInbox(const std::string& id);
  // MAPIDeleteMail: the client's result.
  ULONG DeleteMessage(const std::string& id);

  const std::string& CurrentId() const { return currentId_; }
  SeenMessageList& SeenList() { return *seenList_; }
  PassJournal& Journal() { return *journal_; }
  DbxReader* InboxReader() { return inboxReader_.get(); }
  void AttachInboxReader(std::unique_ptr<DbxReader> reader) { inboxReader_ = std::move(reader); }

 private:
  bool Position(std::string& id);
  ULONG FindNextInto(std::string& id, FLAGS flags);
  bool IsReturned(const std::string& key, const std::string& date);

  LPMAPILOGON logon_ = nullptr;
  LPMAPILOGOFF logoff_ = nullptr;
  LPMAPIFINDNEXT findNext_ = nullptr;
  LPMAPIREADMAIL readMail_ = nullptr;
  LPMAPIFREEBUFFER freeBuffer_ = nullptr;
  LPMAPIDELETEMAIL deleteMail_ = nullptr;
  void* module_ = nullptr;
  LHANDLE session_ = 0;
  std::string currentId_;
  std::unique_ptr<SeenMessageList> seenList_;
  std::unique_ptr<PassJournal> journal_;
  std::unique_ptr<DbxReader> inboxReader_;
};

// The journal's path for the list at `listPath`.
std::string JournalPathFor(const std::string& listPath);

}  // namespace kestrelon
