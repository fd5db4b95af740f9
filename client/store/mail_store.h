// The client's store folder: the Inbox and Deleted Items message files, and the
// operations the client performs on them (deliver, delete into Deleted Items, move back,
// mark read). A message's id is the message index of its record; ids grow with arrival,
// and a message moved back into the Inbox gets a new one.
//
// Nothing is cached: every call reads the files again, since other processes (the
// client's tools, a second client session) change them too.
#pragma once

#include "client/dbx_writer.h"

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace kestrelon::client {

class StoreError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

enum class Folder { Inbox, Deleted };

constexpr const char* kInboxFile = "Inbox.dbx";
constexpr const char* kDeletedFile = "Deleted Items.dbx";

// What the client keeps of one message besides its text.
struct StoredMessage {
  uint32_t id = 0;
  uint32_t recordOffset = 0;
  uint32_t textAddress = 0;
  DbxEnvelope envelope;

  bool Unread() const { return (envelope.flags & kDbxFlagUnread) != 0; }
};

// "YYYY/MM/DD HH:MM" in local time of a FILETIME; empty for 0 or a time the system
// cannot convert.
std::string DateReceivedText(uint64_t fileTime);

// The current time as a FILETIME.
uint64_t FileTimeNow();

class MailStore {
 public:
  explicit MailStore(std::string folder) : folder_(std::move(folder)) {}

  // Creates the folder and empty message files for both folders where they are missing.
  void Create() const;

  const std::string& FolderPath() const { return folder_; }
  std::string FilePath(Folder folder) const;
  bool HasInbox() const;

  // The messages of a folder in ascending id; an absent file lists nothing. Raises
  // StoreError for a file that cannot be read.
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

 private:
  uint32_t Move(Folder from, Folder to, uint32_t id) const;

  std::string folder_;
};

}  // namespace kestrelon::client
