#include "client/store/mail_store.h"

#include "client/envelope.h"

#include "client/store/note_text.h"
#include "client/store/store_location.h"
#include "plugin/dbx/dbx_message_info.h"
#include "plugin/dbx/dbx_message_text.h"
#include "plugin/dbx/dbx_reader.h"
#include "platform/file.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <optional>

namespace kestrelon::client {

namespace {

// Attributes of a message record.
constexpr uint32_t kAttrFlags = 0x01;
constexpr uint32_t kAttrSent = 0x02;
constexpr uint32_t kAttrMessageId = 0x07;
constexpr uint32_t kAttrSubject = 0x08;
constexpr uint32_t kAttrSenderName = 0x0D;
constexpr uint32_t kAttrSenderAddress = 0x0E;
constexpr uint32_t kAttrReceived = 0x12;
constexpr uint32_t kAttrReceiverName = 0x13;
constexpr uint32_t kAttrReceiverAddress = 0x14;

std::string TextValue(const DbxMessageInfo& info, uint32_t index) {
  const unsigned char* start = info.ValueStart(index);
  if (!start || !info.IsPresent(index)) return {};
  std::string text(reinterpret_cast<const char*>(start), info.ValueLength(index));
  size_t nul = text.find('\0');
  if (nul != std::string::npos) text.resize(nul);
  return text;
}

uint64_t TimeValue(const DbxMessageInfo& info, uint32_t index) {
  const unsigned char* start = info.ValueStart(index);
  if (!start || !info.IsPresent(index) || info.ValueLength(index) < 8) return 0;
  uint64_t value = 0;
  for (int i = 7; i >= 0; --i) value = value << 8 | start[i];
  return value;
}

StoredMessage ReadRecord(DbxReader& reader, uint32_t recordOffset) {
  DbxMessageInfo info(reader.Stream(), recordOffset);
  StoredMessage m;
  m.id = info.IndexValue(DbxMessageInfo::kIndexMessageIndex);
  m.recordOffset = recordOffset;
  m.textAddress = info.IndexValue(DbxMessageInfo::kIndexMessageAddress);
  m.envelope.flags = info.IndexValue(kAttrFlags);
  m.envelope.sentTime = TimeValue(info, kAttrSent);
  m.envelope.receivedTime = TimeValue(info, kAttrReceived);
  m.envelope.subject = TextValue(info, kAttrSubject);
  m.envelope.senderName = TextValue(info, kAttrSenderName);
  m.envelope.senderAddress = TextValue(info, kAttrSenderAddress);
  m.envelope.receiverName = TextValue(info, kAttrReceiverName);
  m.envelope.receiverAddress = TextValue(info, kAttrReceiverAddress);
  m.envelope.messageId = TextValue(info, kAttrMessageId);
  return m;
}

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

std::string MailStore::FilePath(Folder folder) const {
  return PathInFolder(folder_, folder == Folder::Inbox ? kInboxFile : kDeletedFile);
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

std::vector<StoredMessage> MailStore::List(Folder folder) const {
  std::vector<StoredMessage> messages;
  std::string path = FilePath(folder);
  if (!platform::FileExists(path)) return messages;
  try {
    DbxReader reader(path);
    uint32_t count = reader.LoadIndex();
    messages.reserve(count);
    for (uint32_t i = 0; i < count; ++i) messages.push_back(ReadRecord(reader, reader.IndexAt(i)));
  } catch (const DbxException& e) {
    throw StoreError(path + ": " + e.message);
  }
  return messages;
}

bool MailStore::Find(Folder folder, uint32_t id, StoredMessage& message) const {
  for (StoredMessage& m : List(folder)) {
    if (m.id == id) {
      message = std::move(m);
      return true;
    }
  }
  return false;
}

std::string MailStore::RawText(Folder folder, const StoredMessage& message) const {
  if (message.textAddress == 0) return {};
  try {
    DbxReader reader(FilePath(folder));
    DbxMessageText text(reader.Stream(), message.textAddress);
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
      DbxReader reader(fromPath);
      message = ReadRecord(reader, entry.recordOffset);
    }
    std::string raw = RawText(from, message);
    // The copy goes in first: an edit cut short leaves the message in both folders
    // rather than in neither.
    uint32_t newId = target.Append(message.envelope, raw);
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
