#include "plugin/host/mail_session.h"

#include "platform/library.h"
#include "platform/library_names.h"
#include "plugin/host/message_key.h"

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

MailSession::MailSession(const std::string& listPath) {
  try {
    seenList_ = std::make_unique<SeenMessageList>(listPath);
  } catch (const SeenListError& e) {
    throw MailSessionError(MailSessionError::kListFile, e.what());
  }
  pendingDeletions_.clear();
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
  pendingDeletions_.clear();
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

void MailSession::EndOfPass() {
  currentId_.clear();
  QueueDeletion();
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
  if (FindNextInto(currentId_, flags) != SUCCESS_SUCCESS) {
    EndOfPass();
    return nullptr;
  }
  MapiMessage* message = nullptr;
  for (;;) {
    if (!seenList_->IsSeen(currentId_)) {
      std::string id = currentId_;
      if (readMail_(session_, 0, id.data(), MAPI_PEEK | MAPI_SUPPRESS_ATTACH, 0, &message) == SUCCESS_SUCCESS &&
          message)
        break;
      message = nullptr;
    }
    if (FindNextInto(currentId_, flags) != SUCCESS_SUCCESS) {
      EndOfPass();
      return nullptr;
    }
  }
  const char* name = message->lpOriginator ? message->lpOriginator->lpszName : nullptr;
  std::string key = MessageKey(name, message->lpszSubject, false);
  std::string date = message->lpszDateReceived ? message->lpszDateReceived : "";
  if (seenList_->IsReturned(key, date)) message->flFlags |= kReturnedMailFlag;
  try {
    seenList_->Record(key, date, currentId_);
  } catch (...) {
    FreeMessage(message);
    throw;
  }
  seenList_->SetBookmark(currentId_);
  message->ulReserved = static_cast<ULONG>(std::strtoul(currentId_.c_str(), nullptr, 10));
  return message;
}

void MailSession::FreeMessage(MapiMessage* message) {
  if (!message) return;
  message->ulReserved = 0;
  freeBuffer_(message);
}

void MailSession::QueueDeletion() {
  if (!currentId_.empty()) {
    pendingDeletions_.push_back(currentId_);
    return;
  }
  for (std::string& id : pendingDeletions_) deleteMail_(session_, 0, id.data(), 0, 0);
  pendingDeletions_.clear();
}

}  // namespace kestrelon
