// The plug-in's binding to the mail client's Simple MAPI ("MSOE.DLL") and its seen-message
// list: enumeration of new Inbox messages from the bookmark, and deletion at the end of
// a pass.
#pragma once

#include "platform/mapi.h"
#include "plugin/dbx/dbx_reader.h"
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
  // Opens the seen-message list at `listPath` and logs on to Simple MAPI. Raises
  // MailSessionError; a SeenListError from the list is raised as kListFile.
  explicit MailSession(const std::string& listPath);
  // Drops the Inbox reader, logs off, frees the library, empties the pending deletions
  // and closes the list (writing the bookmark). Never raises.
  ~MailSession();
  MailSession(const MailSession&) = delete;
  MailSession& operator=(const MailSession&) = delete;

  // The next Inbox message not yet in the seen-message list, recorded there and with
  // its id in the reserved word; nullptr at the end of a pass (which carries out the
  // pending deletions). Free it with FreeMessage. Raises SeenListError when the list
  // cannot be written.
  MapiMessage* NextNewMessage(bool unreadOnly);
  // Sets the reserved word to 0 and gives the message back to Simple MAPI.
  void FreeMessage(MapiMessage* message);
  // Queues the current message for deletion; between passes, deletes the queued ones.
  void QueueDeletion();

  const std::string& CurrentId() const { return currentId_; }
  const std::vector<std::string>& PendingDeletions() const { return pendingDeletions_; }
  SeenMessageList& SeenList() { return *seenList_; }
  DbxReader* InboxReader() { return inboxReader_.get(); }
  void AttachInboxReader(std::unique_ptr<DbxReader> reader) { inboxReader_ = std::move(reader); }

  // The bound calls, for the commands that read and delete messages themselves.
  LHANDLE Session() const { return session_; }
  LPMAPIFINDNEXT FindNext() const { return findNext_; }
  LPMAPIREADMAIL ReadMail() const { return readMail_; }
  LPMAPIDELETEMAIL DeleteMail() const { return deleteMail_; }

 private:
  bool Position(std::string& id);
  ULONG FindNextInto(std::string& id, FLAGS flags);
  void EndOfPass();

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
  std::vector<std::string> pendingDeletions_;
  std::unique_ptr<DbxReader> inboxReader_;
};

}  // namespace kestrelon
