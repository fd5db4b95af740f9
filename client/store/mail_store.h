// The client's store folder: the Inbox and Deleted Items message files, and the
// operations the client performs on them (deliver, delete into Deleted Items, move back,
// mark read). A message's id is the message index of its record; ids grow with arrival,
// and a message moved back into the Inbox gets a new one. The files are named in the
// client's language, which is the plug-in's.
//
// Other processes (the client's tools, a second client session) change the files too:
// every edit works on the file as it is under the file's edit lock, and every listing
// first checks whether the file changed since the list the process keeps of it.
#pragma once

#include "client/store/folder_snapshot.h"
#include "client/store/stored_message.h"
#include "plugin/res/plugin_strings.h"

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace kestrelon::client {

enum class Folder { Inbox, Deleted };

// The Inbox is named by the plug-in's string 7, which the client shows for it.
constexpr unsigned kInboxNameString = 7;

// The file of a folder in the client's language: "Inbox.dbx" and "Deleted Items.dbx" in
// English.
std::string FolderFileName(Folder folder, UiLanguage language);

// "YYYY/MM/DD HH:MM" in local time of a FILETIME; empty for 0 or a time the system
// cannot convert.
std::string DateReceivedText(uint64_t fileTime);

// The current time as a FILETIME.
uint64_t FileTimeNow();

class MailStore {
 public:
  // The store in the language its files are named in (English for a store without files).
  explicit MailStore(std::string folder);
  MailStore(std::string folder, UiLanguage language);

  // Creates the folder and empty message files for both folders where they are missing.
  void Create() const;

  const std::string& FolderPath() const { return folder_; }
  UiLanguage Language() const { return language_; }
  std::string FilePath(Folder folder) const;
  bool HasInbox() const;

  // The messages of a folder in ascending id; an absent file lists nothing. Raises
  // StoreError for a file that cannot be read. Snapshot shares the list the process
  // keeps of the file (see folder_snapshot.h); List copies it.
  std::shared_ptr<const MessageList> Snapshot(Folder folder) const;
  std::vector<StoredMessage> List(Folder folder) const;
  bool Find(Folder folder, uint32_t id, StoredMessage& message) const;
  // The raw text of a message as delivered. Raises StoreError.
  std::string RawText(Folder folder, const StoredMessage& message) const;

  // Appends a mail to the Inbox as received now (unread); returns its id.
  uint32_t Deliver(std::string_view mail) const;
  uint32_t Deliver(std::string_view mail, uint64_t receivedTime) const;
  // Appends several mails in one edit; returns their ids in order.
  std::vector<uint32_t> DeliverMany(const std::vector<std::string>& mails, uint64_t receivedTime) const;
  // Moves an Inbox message into Deleted Items; false when the Inbox has no such id.
  bool Delete(uint32_t id) const;
  // Moves a Deleted Items message back into the Inbox; returns its new id, 0 when
  // Deleted Items has no such id. Sender, subject, date received and flags stay.
  uint32_t MoveBack(uint32_t id) const;
  // Sets or clears the read state; false when the folder has no such id.
  bool SetRead(Folder folder, uint32_t id, bool read) const;

  // Finishes or forgets a move that a process ended half-way (see Move). Every move
  // does it first; the Simple MAPI does it at logon. Raises StoreError.
  void FinishInterruptedMove() const;

 private:
  // A move is two edits, the copy into the target and the removal from the source.
  // It is written down first in the store folder's move journal, so that a process
  // ended between the two never leaves the message in both folders for long: whoever
  // next holds both files' locks removes the source message when its copy is in the
  // target, and forgets the move otherwise.
  uint32_t Move(Folder from, Folder to, uint32_t id) const;
  void FinishMoveLocked(DbxWriter& inbox, DbxWriter& deleted) const;

  std::string folder_;
  UiLanguage language_;
};

}  // namespace kestrelon::client
