#include "client/store/mail_store.h"

#include "client/envelope.h"

#include "client/store/folder_snapshot.h"
#include "client/store/note_text.h"
#include "client/store/store_location.h"
#include "plugin/dbx/dbx_exception.h"
#include "plugin/dbx/dbx_message_text.h"
#include "plugin/res/plugin_strings.h"
#include "platform/file.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <algorithm>
#include <mutex>
#include <optional>

namespace kestrelon::client {

namespace {

// std::localtime shares one buffer for the process.
std::mutex localTimeMutex;

// The move journal: one line "<from> <id> <to> <index of the copy>", the folders as
// I (Inbox) and D (Deleted Items).
constexpr const char* kMoveJournalFile = "Move.jnl";

struct PendingMove {
  Folder from = Folder::Inbox;
  Folder to = Folder::Deleted;
  uint32_t id = 0;
  uint32_t copyIndex = 0;
};

char FolderLetter(Folder folder) { return folder == Folder::Inbox ? 'I' : 'D'; }

bool FolderOfLetter(char letter, Folder& folder) {
  if (letter != 'I' && letter != 'D') return false;
  folder = letter == 'I' ? Folder::Inbox : Folder::Deleted;
  return true;
}

// False for a missing journal and for one cut short by an ended process (which was
// written before the move changed anything).
bool ReadPendingMove(const std::string& path, PendingMove& move) {
  std::ifstream in(path, std::ios::binary);
  std::string line;
  if (!in || !std::getline(in, line)) return false;
  char from = 0, to = 0, end = 0;
  unsigned long id = 0, index = 0;
  if (std::sscanf(line.c_str(), "%c %lu %c %lu%c", &from, &id, &to, &index, &end) != 5 || end != ';') return false;
  if (!FolderOfLetter(from, move.from) || !FolderOfLetter(to, move.to) || from == to) return false;
  if (id == 0 || index == 0 || id > 0xFFFFFFFFul || index > 0xFFFFFFFFul) return false;
  move.id = uint32_t(id);
  move.copyIndex = uint32_t(index);
  return true;
}

void WritePendingMove(const std::string& path, const PendingMove& move) {
  char text[64];
  int n = std::snprintf(text, sizeof text, "%c %lu %c %lu;\n", FolderLetter(move.from), (unsigned long)move.id,
                        FolderLetter(move.to), (unsigned long)move.copyIndex);
  platform::File file;
  if (!file.Open(path, platform::Access::ReadWrite, platform::kShareRead, platform::Disposition::CreateAlways) ||
      !file.WriteAt(0, text, size_t(n)))
    throw StoreError("cannot write " + path);
}

StoredMessage ReadMessageAt(const std::string& path, DbxWriter& writer, uint32_t id, bool& found) {
  DbxListEntry entry;
  found = writer.Find(id, entry);
  if (!found) return {};
  std::ifstream in(path, std::ios::binary);
  return ReadStoredMessage(in, entry.recordOffset);
}

// The Inbox and Deleted Items files, both locked for as long as this lives, so that no
// other process moves or deletes a message of either meanwhile; every mover takes the two
// locks in the same order.
struct LockedFolders {
  DbxWriter inbox, deleted;
  std::optional<DbxWriter::Edit> first, second;

  LockedFolders(const std::string& inboxPath, const std::string& deletedPath) : inbox(inboxPath), deleted(deletedPath) {
    bool inboxFirst = DbxWriter::LockOrder(inboxPath, deletedPath);
    first.emplace(inboxFirst ? inbox : deleted);
    second.emplace(inboxFirst ? deleted : inbox);
  }
  DbxWriter& Of(Folder folder) { return folder == Folder::Inbox ? inbox : deleted; }
};

}  // namespace

std::string DateReceivedText(uint64_t fileTime) {
  constexpr uint64_t kUnixEpoch = 116444736000000000ull;  // 1970-01-01 as a FILETIME
  if (fileTime < kUnixEpoch) return {};
  std::time_t seconds = static_cast<std::time_t>((fileTime - kUnixEpoch) / 10000000ull);
  std::lock_guard<std::mutex> lock(localTimeMutex);
  const std::tm* t = std::localtime(&seconds);
  if (!t) return {};
  char text[64];
  std::snprintf(text, sizeof text, "%04d/%02d/%02d %02d:%02d", t->tm_year + 1900, t->tm_mon + 1, t->tm_mday,
                t->tm_hour, t->tm_min);
  return text;
}

uint64_t FileTimeNow() {
  auto now = std::chrono::system_clock::now().time_since_epoch();
  return FileTimeFromUnix(std::chrono::duration_cast<std::chrono::seconds>(now).count());
}

std::string FolderFileName(Folder folder, UiLanguage language) {
  if (folder == Folder::Inbox) {
    const char* inbox = PluginStringText(kInboxNameString, language);
    return std::string(inbox ? inbox : "Inbox") + ".dbx";
  }
  return language == UiLanguage::kGerman ? "Gel\366schte Objekte.dbx" : "Deleted Items.dbx";
}

MailStore::MailStore(std::string folder) : folder_(std::move(folder)), language_(UiLanguage::kEnglish) {
  // A store speaks the language its Inbox file is named in.
  for (UiLanguage language : {UiLanguage::kEnglish, UiLanguage::kGerman}) {
    if (platform::FileExists(PathInFolder(folder_, FolderFileName(Folder::Inbox, language)))) {
      language_ = language;
      break;
    }
  }
}

MailStore::MailStore(std::string folder, UiLanguage language) : folder_(std::move(folder)), language_(language) {}

std::string MailStore::FilePath(Folder folder) const {
  return PathInFolder(folder_, FolderFileName(folder, language_));
}

bool MailStore::HasInbox() const { return platform::FileExists(FilePath(Folder::Inbox)); }

void MailStore::Create() const {
  if (!platform::CreateFolder(folder_)) throw StoreError("cannot create the store folder " + folder_);
  for (Folder f : {Folder::Inbox, Folder::Deleted}) {
    try {
      DbxWriter::CreateIfMissing(FilePath(f));
    } catch (const DbxWriteError& e) {
      throw StoreError(e.what());
    }
  }
}

std::shared_ptr<const MessageList> MailStore::Snapshot(Folder folder) const { return FolderSnapshot(FilePath(folder)); }

std::vector<StoredMessage> MailStore::List(Folder folder) const { return *Snapshot(folder); }

bool MailStore::Find(Folder folder, uint32_t id, StoredMessage& message) const {
  return FindInFolder(FilePath(folder), id, message);
}

std::string MailStore::RawText(Folder folder, const StoredMessage& message) const {
  if (message.textAddress == 0) return {};
  try {
    std::ifstream in(FilePath(folder), std::ios::binary);
    DbxMessageText text(in, message.textAddress);
    return std::string(text.Text(), text.Length());
  } catch (const DbxException& e) {
    throw StoreError(FilePath(folder) + ": " + e.message);
  }
}

uint32_t MailStore::Deliver(std::string_view mail) const { return Deliver(mail, FileTimeNow()); }

uint32_t MailStore::Deliver(std::string_view mail, uint64_t receivedTime) const {
  return DeliverMany({std::string(mail)}, receivedTime).front();
}

std::vector<uint32_t> MailStore::DeliverMany(const std::vector<std::string>& mails, uint64_t receivedTime) const {
  std::vector<DbxNewMessage> messages;
  messages.reserve(mails.size());
  for (const std::string& mail : mails) {
    DbxEnvelope envelope = EnvelopeFromMail(mail, receivedTime);
    envelope.subject = DecodeEncodedWords(envelope.subject);
    envelope.senderName = DecodeEncodedWords(envelope.senderName);
    envelope.receiverName = DecodeEncodedWords(envelope.receiverName);
    envelope.flags = kDbxFlagUnread;
    envelope.receivedTime = receivedTime;
    messages.push_back({std::move(envelope), mail});
  }
  try {
    DbxWriter writer(FilePath(Folder::Inbox));
    return writer.AppendMany(messages);
  } catch (const DbxWriteError& e) {
    throw StoreError(e.what());
  }
}

uint32_t MailStore::Move(Folder from, Folder to, uint32_t id) const {
  std::string fromPath = FilePath(from), toPath = FilePath(to);
  if (!platform::FileExists(fromPath)) return 0;
  try {
    DbxWriter::CreateIfMissing(toPath);
    // Both files stay locked for the whole move.
    LockedFolders folders(FilePath(Folder::Inbox), FilePath(Folder::Deleted));
    DbxWriter& source = folders.Of(from);
    DbxWriter& target = folders.Of(to);
    std::string journal = PathInFolder(folder_, kMoveJournalFile);
    PendingMove interrupted;
    bool wasInterrupted = ReadPendingMove(journal, interrupted);
    if (platform::FileExists(journal)) FinishMoveLocked(folders.inbox, folders.deleted);
    DbxListEntry entry;
    if (!source.Find(id, entry)) {
      // The move that an ended process began for this very message is the one asked for.
      if (wasInterrupted && interrupted.from == from && interrupted.id == id) {
        DbxListEntry copy;
        if (target.Find(interrupted.copyIndex, copy)) return interrupted.copyIndex;
      }
      return 0;
    }
    StoredMessage message;
    {
      std::ifstream in(fromPath, std::ios::binary);
      message = ReadStoredMessage(in, entry.recordOffset);
    }
    std::string raw = RawText(from, message);
    WritePendingMove(journal, {from, to, id, target.HighestIndex() + 1});
    // The copy goes in first: an edit cut short leaves the message in both folders
    // rather than in neither, and the journal tells the next mover which to keep.
    uint32_t newId = target.Append(message.envelope, raw);
    target.Sync();  // on disk before the source lets go of it
    source.Delete(id);
    platform::RemoveFile(journal);
    return newId;
  } catch (const DbxWriteError& e) {
    throw StoreError(e.what());
  } catch (const DbxException& e) {
    throw StoreError(fromPath + ": " + e.message);
  }
}

void MailStore::FinishMoveLocked(DbxWriter& inbox, DbxWriter& deleted) const {
  std::string journal = PathInFolder(folder_, kMoveJournalFile);
  PendingMove move;
  if (ReadPendingMove(journal, move)) {
    DbxWriter& source = move.from == Folder::Inbox ? inbox : deleted;
    DbxWriter& target = move.to == Folder::Inbox ? inbox : deleted;
    bool haveOriginal = false, haveCopy = false;
    StoredMessage original = ReadMessageAt(FilePath(move.from), source, move.id, haveOriginal);
    StoredMessage copy = ReadMessageAt(FilePath(move.to), target, move.copyIndex, haveCopy);
    // The index the copy was to get may have gone to a mail delivered since.
    if (haveOriginal && haveCopy && original.envelope.receivedTime == copy.envelope.receivedTime &&
        original.envelope.subject == copy.envelope.subject &&
        original.envelope.senderAddress == copy.envelope.senderAddress &&
        RawText(move.from, original) == RawText(move.to, copy)) {
      source.Delete(move.id);
    }
  }
  if (!platform::RemoveFile(journal) && platform::FileExists(journal))
    throw StoreError("cannot remove " + journal);
}

void MailStore::FinishInterruptedMove() const {
  if (!platform::FileExists(PathInFolder(folder_, kMoveJournalFile))) return;
  std::string inboxPath = FilePath(Folder::Inbox), deletedPath = FilePath(Folder::Deleted);
  if (!platform::FileExists(inboxPath)) return;
  try {
    DbxWriter::CreateIfMissing(deletedPath);
    LockedFolders folders(inboxPath, deletedPath);
    FinishMoveLocked(folders.inbox, folders.deleted);
  } catch (const DbxWriteError& e) {
    throw StoreError(e.what());
  } catch (const DbxException& e) {
    throw StoreError(folder_ + ": " + e.message);
  }
}

bool MailStore::Delete(uint32_t id) const { return Move(Folder::Inbox, Folder::Deleted, id) != 0; }

uint32_t MailStore::MoveBack(uint32_t id) const { return Move(Folder::Deleted, Folder::Inbox, id); }

bool MailStore::SetRead(Folder folder, uint32_t id, bool read) const {
  try {
    DbxWriter writer(FilePath(folder));
    return read ? writer.ChangeFlags(id, 0, kDbxFlagUnread) : writer.ChangeFlags(id, kDbxFlagUnread, 0);
  } catch (const DbxWriteError& e) {
    throw StoreError(e.what());
  }
}

}  // namespace kestrelon::client
