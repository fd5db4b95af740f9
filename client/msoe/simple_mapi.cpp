// The stand-in client's Simple MAPI ("MSOE.DLL"): logon to the current identity's store
// folder, and enumerate, read and delete the messages of its Inbox.
//
// Message ids are the decimal message indexes of the Inbox records. MAPIFindNext walks
// the Inbox in ascending id: 17 (invalid message) when the seed is not an Inbox message,
// 16 (no messages) when nothing follows it. MAPIReadMail hands out one block per
// message, freed with MAPIFreeBuffer; with MAPI_PEEK it leaves the read state alone.
// MAPIDeleteMail moves the message into Deleted Items; a move that a process ended
// half-way is finished or forgotten at the next logon or move. The Inbox's message list
// is kept between calls and read again only when the file has changed (folder_snapshot.h).
#include "client/store/mail_store.h"
#include "client/store/note_text.h"
#include "client/store/store_location.h"
#include "platform/mapi.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#ifndef _WIN32
#define WINAPI
#define MSOE_EXPORT extern "C" __attribute__((visibility("default")))
#else
#define MSOE_EXPORT extern "C"
#endif

namespace {

using kestrelon::client::Folder;
using kestrelon::client::MailStore;
using kestrelon::client::StoredMessage;

// Longest id text with MAPI_LONG_MSGID is 512 characters; ours have at most 10 digits.
constexpr size_t kShortIdBuffer = 64;

struct Session {
  std::string folder;
};

// One block per message handed out: the structure first, then what it points to.
struct MessageBlock {
  MapiMessage message{};
  MapiRecipDesc originator{};
  MapiRecipDesc recipient{};
  std::string subject, noteText, type, date, conversation;
  std::string senderName, senderAddress, receiverName, receiverAddress;
};

std::mutex mutex;
std::map<LHANDLE, Session> sessions;
LHANDLE nextSession = 1;
std::map<void*, MessageBlock*> blocks;

bool SessionFolder(LHANDLE handle, std::string& folder) {
  std::lock_guard<std::mutex> lock(mutex);
  auto it = sessions.find(handle);
  if (it == sessions.end()) return false;
  folder = it->second.folder;
  return true;
}

// A message id: 1 to 10 decimal digits naming a number above 0 that fits 32 bits.
bool ParseId(const char* text, uint32_t& id) {
  if (!text) return false;
  size_t n = strnlen(text, 16);
  if (n == 0 || n > 10) return false;
  uint64_t value = 0;
  for (size_t i = 0; i < n; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    value = value * 10 + uint64_t(text[i] - '0');
  }
  if (value == 0 || value > 0xFFFFFFFFull) return false;
  id = static_cast<uint32_t>(value);
  return true;
}

}  // namespace

MSOE_EXPORT ULONG WINAPI MAPILogon(ULONG_PTR, LPSTR, LPSTR, FLAGS, ULONG, LPLHANDLE session) {
  if (!session) return MAPI_E_FAILURE;
  *session = 0;
  try {
    std::string folder;
    if (!kestrelon::client::StoreFolderOfCurrentIdentity(folder) || !MailStore(folder).HasInbox())
      return MAPI_E_LOGON_FAILURE;
    try {
      MailStore(folder).FinishInterruptedMove();
    } catch (const kestrelon::client::StoreError&) {
      // The next move tries again.
    }
    std::lock_guard<std::mutex> lock(mutex);
    LHANDLE handle = nextSession++;
    sessions[handle] = Session{folder};
    *session = handle;
    return SUCCESS_SUCCESS;
  } catch (...) {
    return MAPI_E_LOGON_FAILURE;
  }
}

MSOE_EXPORT ULONG WINAPI MAPILogoff(LHANDLE session, ULONG_PTR, FLAGS, ULONG) {
  std::lock_guard<std::mutex> lock(mutex);
  return sessions.erase(session) ? SUCCESS_SUCCESS : MAPI_E_INVALID_SESSION;
}

MSOE_EXPORT ULONG WINAPI MAPIFindNext(LHANDLE session, ULONG_PTR, LPSTR, LPSTR seed, FLAGS flags, ULONG,
                                      LPSTR messageId) {
  std::string folder;
  if (!SessionFolder(session, folder)) return MAPI_E_INVALID_SESSION;
  if (!messageId) return MAPI_E_FAILURE;
  try {
    bool fromStart = !seed || seed[0] == '\0';
    uint32_t seedId = 0;
    if (!fromStart && !ParseId(seed, seedId)) return MAPI_E_INVALID_MESSAGE;
    auto inbox = MailStore(folder).Snapshot(Folder::Inbox);
    if (inbox->empty()) return MAPI_E_NO_MESSAGES;
    auto it = inbox->begin();
    if (!fromStart) {
      it = std::lower_bound(inbox->begin(), inbox->end(), seedId,
                            [](const StoredMessage& m, uint32_t id) { return m.id < id; });
      if (it == inbox->end() || it->id != seedId) return MAPI_E_INVALID_MESSAGE;
      ++it;
    }
    for (; it != inbox->end(); ++it) {
      if ((flags & MAPI_UNREAD_ONLY) && !it->Unread()) continue;
      // Seed and result may share one buffer; the seed has been read by now.
      std::snprintf(messageId, kShortIdBuffer, "%u", static_cast<unsigned>(it->id));
      return SUCCESS_SUCCESS;
    }
    return MAPI_E_NO_MESSAGES;
  } catch (...) {
    return MAPI_E_FAILURE;
  }
}

MSOE_EXPORT ULONG WINAPI MAPIReadMail(LHANDLE session, ULONG_PTR, LPSTR messageId, FLAGS flags, ULONG,
                                      lpMapiMessage* result) {
  std::string folder;
  if (!SessionFolder(session, folder)) return MAPI_E_INVALID_SESSION;
  if (!result) return MAPI_E_FAILURE;
  *result = nullptr;
  uint32_t id = 0;
  if (!ParseId(messageId, id)) return MAPI_E_INVALID_MESSAGE;
  try {
    MailStore store(folder);
    StoredMessage m;
    if (!store.Find(Folder::Inbox, id, m)) return MAPI_E_INVALID_MESSAGE;
    auto block = std::make_unique<MessageBlock>();
    block->subject = m.envelope.subject;
    if (!(flags & MAPI_ENVELOPE_ONLY)) block->noteText = kestrelon::client::PlainTextOf(store.RawText(Folder::Inbox, m));
    block->date = kestrelon::client::DateReceivedText(m.envelope.receivedTime);
    // The From column shows the display name, or the address of a sender without one.
    block->senderName = m.envelope.senderName.empty() ? m.envelope.senderAddress : m.envelope.senderName;
    block->senderAddress = m.envelope.senderAddress;
    block->receiverName = m.envelope.receiverName.empty() ? m.envelope.receiverAddress : m.envelope.receiverName;
    block->receiverAddress = m.envelope.receiverAddress;

    MapiMessage& msg = block->message;
    msg.lpszSubject = block->subject.data();
    msg.lpszNoteText = block->noteText.data();
    msg.lpszMessageType = block->type.data();
    msg.lpszDateReceived = block->date.data();
    msg.lpszConversationID = block->conversation.data();
    msg.flFlags = m.Unread() ? MAPI_UNREAD : 0;
    block->originator.ulRecipClass = MAPI_ORIG;
    block->originator.lpszName = block->senderName.data();
    block->originator.lpszAddress = block->senderAddress.data();
    msg.lpOriginator = &block->originator;
    if (!block->receiverAddress.empty()) {
      block->recipient.ulRecipClass = MAPI_TO;
      block->recipient.lpszName = block->receiverName.data();
      block->recipient.lpszAddress = block->receiverAddress.data();
      msg.nRecipCount = 1;
      msg.lpRecips = &block->recipient;
    }
    if (!(flags & MAPI_PEEK) && m.Unread()) store.SetRead(Folder::Inbox, id, true);

    std::lock_guard<std::mutex> lock(mutex);
    blocks[&block->message] = block.get();
    *result = &block.release()->message;
    return SUCCESS_SUCCESS;
  } catch (...) {
    return MAPI_E_FAILURE;
  }
}

MSOE_EXPORT ULONG WINAPI MAPIFreeBuffer(LPVOID buffer) {
  if (!buffer) return SUCCESS_SUCCESS;
  MessageBlock* block = nullptr;
  {
    std::lock_guard<std::mutex> lock(mutex);
    auto it = blocks.find(buffer);
    if (it == blocks.end()) return MAPI_E_FAILURE;
    block = it->second;
    blocks.erase(it);
  }
  delete block;
  return SUCCESS_SUCCESS;
}

MSOE_EXPORT ULONG WINAPI MAPIDeleteMail(LHANDLE session, ULONG_PTR, LPSTR messageId, FLAGS, ULONG) {
  std::string folder;
  if (!SessionFolder(session, folder)) return MAPI_E_INVALID_SESSION;
  uint32_t id = 0;
  if (!ParseId(messageId, id)) return MAPI_E_INVALID_MESSAGE;
  try {
    return MailStore(folder).Delete(id) ? SUCCESS_SUCCESS : MAPI_E_INVALID_MESSAGE;
  } catch (...) {
    return MAPI_E_FAILURE;
  }
}
