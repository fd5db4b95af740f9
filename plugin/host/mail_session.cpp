#include "plugin/host/mail_session.h"

#include "platform/library.h"
#include "platform/library_names.h"
#include "plugin/host/message_key.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace kestrelon {

namespace {

// Ids are decimal numbers that fit 64 bits; the buffer is the size Simple MAPI asks
// for with long ids.
constexpr size_t kIdBuffer = 512;
// Deleted messages stepped over one by one before positioning starts over.
constexpr size_t kMaxStepsBack = 1000;

template <class T>
T Bind(void* module, const char* name) {
  return reinterpret_cast<T>(platform::LibraryExport(module, name));
}

}  // namespace

std::string JournalPathFor(const std::string& listPath) {
  return listPath.size() >= 3 ? listPath.substr(0, listPath.size() - 3) + "jnl" : listPath + ".jnl";
}

MailSession::MailSession(const std::string& listPath) {
  try {
    seenList_ = std::make_unique<SeenMessageList>(listPath);
    uint64_t highest = 0;
    for (const auto& [key, entry] : seenList_->Entries()) {
      if (entry.id.empty() || entry.id.size() > 19 || entry.id.find_first_not_of("0123456789") != std::string::npos)
        continue;
      highest = std::max<uint64_t>(highest, std::strtoull(entry.id.c_str(), nullptr, 10));
    }
    journal_ = std::make_unique<PassJournal>(JournalPathFor(listPath), highest);
  } catch (const SeenListError& e) {
    throw MailSessionError(MailSessionError::kListFile, e.what());
  } catch (const PassJournalError& e) {
    throw MailSessionError(MailSessionError::kListFile, e.what());
  }
  currentId_.clear();

  module_ = platform::LoadLibraryByName("MSOE.DLL");
  if (!module_) throw MailSessionError(MailSessionError::kNoLibrary, "MSOE.DLL cannot be loaded");
  logon_ = Bind<LPMAPILOGON>(module_, "MAPILogon");
  logoff_ = Bind<LPMAPILOGOFF>(module_, "MAPILogoff");
  findNext_ = Bind<LPMAPIFINDNEXT>(module_, "MAPIFindNext");
  readMail_ = Bind<LPMAPIREADMAIL>(module_, "MAPIReadMail");
  freeBuffer_ = Bind<LPMAPIFREEBUFFER>(module_, "MAPIFreeBuffer");
  deleteMail_ = Bind<LPMAPIDELETEMAIL>(module_, "MAPIDeleteMail");
  if (!logon_ || !logoff_ || !findNext_ || !readMail_ || !freeBuffer_ || !deleteMail_) {
    platform::FreeLoadedLibrary(module_);
    module_ = nullptr;
    throw MailSessionError(MailSessionError::kNoLibrary, "MSOE.DLL lacks a Simple MAPI call");
  }
  if (logon_(0, nullptr, nullptr, MAPI_NEW_SESSION, 0, &session_) != SUCCESS_SUCCESS) {
    session_ = 0;
    platform::FreeLoadedLibrary(module_);
    module_ = nullptr;
    throw MailSessionError(MailSessionError::kLogonFailed, "Simple MAPI logon failed");
  }
}

MailSession::~MailSession() {
  inboxReader_.reset();
  if (module_) {
    logoff_(session_, 0, 0, 0);
    platform::FreeLoadedLibrary(module_);
  }
  journal_.reset();
  seenList_.reset();  // closes the list, writing the bookmark
}

ULONG MailSession::FindNextInto(std::string& id, FLAGS flags) {
  char buffer[kIdBuffer] = {};
  if (id.size() >= sizeof buffer) return MAPI_E_INVALID_MESSAGE;
  std::memcpy(buffer, id.data(), id.size());
  ULONG rc = findNext_(session_, 0, nullptr, buffer, flags, 0, buffer);
  if (rc == SUCCESS_SUCCESS) {
    buffer[sizeof buffer - 1] = '\0';
    id = buffer;
  }
  return rc;
}

bool MailSession::Position(std::string& id) {
  unsigned long long n = std::strtoull(id.c_str(), nullptr, 10);
  std::string probe = id;
  ULONG rc = FindNextInto(probe, MAPI_LONG_MSGID);
  // Step back over messages deleted since the bookmark was written, one id at a time,
  // and fall back to the beginning of the Inbox. A damaged bookmark (a huge number)
  // would take billions of steps, each a read of the Inbox: after kMaxStepsBack the
  // search starts at the beginning, where the seen ids are skipped anyway.
  size_t steps = 0;
  while (rc == MAPI_E_NO_MESSAGES || rc == MAPI_E_INVALID_MESSAGE) {
    if (++steps > kMaxStepsBack && !id.empty()) {
      n = 0;
      id.clear();
    } else if (n != 0) {
      --n;
      id = std::to_string(n);
    } else if (id.empty()) {
      return false;
    } else {
      id.clear();
    }
    probe = id;
    rc = FindNextInto(probe, MAPI_LONG_MSGID);
  }
  return rc == SUCCESS_SUCCESS;
}

bool MailSession::IsReturned(const std::string& key, const std::string& date) {
  std::vector<std::string> earlier = seenList_->IdsRecordedWith(key, date);
  if (earlier.empty()) return false;
  // A second copy of a mail that is still there is not a mail moved back.
  for (const std::string& id : earlier)
    if (IsInInbox(id)) return false;
  return true;
}

MapiMessage* MailSession::NextNewMessage(bool unreadOnly) {
  if (currentId_.empty()) {
    currentId_ = seenList_->Bookmark();
    bool valid = Position(currentId_);
    seenList_->SetBookmark(currentId_);
    if (!valid) {
      currentId_.clear();
      return nullptr;
    }
  }
  FLAGS flags = MAPI_LONG_MSGID | (unreadOnly ? MAPI_UNREAD_ONLY : 0);
  MapiMessage* message = nullptr;
  for (;;) {
    if (FindNextInto(currentId_, flags) != SUCCESS_SUCCESS) {
      currentId_.clear();
      return nullptr;
    }
    if (seenList_->IsSeen(currentId_)) continue;
    message = ReadMessage(currentId_, 0);
    if (message) break;
  }
  const char* name = message->lpOriginator ? message->lpOriginator->lpszName : nullptr;
  std::string key = MessageKey(name, message->lpszSubject, false);
  std::string date = message->lpszDateReceived ? message->lpszDateReceived : "";
  if (IsReturned(key, date)) message->flFlags |= kReturnedMailFlag;
  return message;
}

void MailSession::RecordJudged(const std::string& key, const std::string& date, const std::string& id) {
  seenList_->Record(key, date, id);
  seenList_->SetBookmark(id);
}

MapiMessage* MailSession::ReadMessage(const std::string& id, FLAGS flags) {
  std::string text = id;
  MapiMessage* message = nullptr;
  if (readMail_(session_, 0, text.data(), flags | MAPI_PEEK | MAPI_SUPPRESS_ATTACH, 0, &message) != SUCCESS_SUCCESS ||
      !message)
    return nullptr;
  message->ulReserved = static_cast<ULONG>(std::strtoul(id.c_str(), nullptr, 10));
  return message;
}

bool MailSession::IsInInbox(const std::string& id) {
  MapiMessage* message = ReadMessage(id, MAPI_ENVELOPE_ONLY);
  FreeMessage(message);
  return message != nullptr;
}

ULONG MailSession::DeleteMessage(const std::string& id) {
  std::string text = id;
  return deleteMail_(session_, 0, text.data(), 0, 0);
}

void MailSession::FreeMessage(MapiMessage* message) {
  if (!message) return;
  message->ulReserved = 0;
  freeBuffer_(message);
}

}  // namespace kestrelon
