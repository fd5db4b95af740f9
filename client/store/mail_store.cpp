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
  auto messages = Snapshot(folder);
  auto it = std::lower_bound(messages->begin(), messages->end(), id,
                             [](const StoredMessage& m, uint32_t wanted) { return m.id < wanted; });
  if (it == messages->end() || it->id != id) return false;
  message = *it;
  return true;
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
    DbxWriter source(fromPath), target(toPath);
    // Both files stay locked for the whole move, so no other process moves or deletes
    // the same message meanwhile; every move takes the two locks in the same order.
    std::optional<DbxWriter::Edit> first, second;
    bool sourceFirst = DbxWriter::LockOrder(fromPath, toPath);
    first.emplace(sourceFirst ? source : target);
    second.emplace(sourceFirst ? target : source);
    DbxListEntry entry;
    if (!source.Find(id, entry)) return 0;
    StoredMessage message;
    {
      std::ifstream in(fromPath, std::ios::binary);
      message = ReadStoredMessage(in, entry.recordOffset);
    }
    std::string raw = RawText(from, message);
    // The copy goes in first: an edit cut short leaves the message in both folders
    // rather than in neither.
    uint32_t newId = target.Append(message.envelope, raw);
    target.Sync();  // on disk before the source lets go of it
    source.Delete(id);
    return newId;
  } catch (const DbxWriteError& e) {
    throw StoreError(e.what());
  } catch (const DbxException& e) {
    throw StoreError(fromPath + ": " + e.message);
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
