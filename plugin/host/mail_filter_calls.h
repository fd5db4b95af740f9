// The filter object's calls as the host makes them: every failing result raises
// HostFailure, for the counters and the calls that learn also S_FALSE; mail texts are
// handed over in fresh buffers, since the engine may overwrite the texts it is given.
#pragma once

#include "plugin/host/mail_session.h"
#include "shared/mail_filter_interface.h"

#include <string>

namespace kestrelon {

// The header and body texts of one message, and whether the body is HTML.
struct MailContent {
  std::string header;
  std::string body;
  bool html = false;
};

// GetMessageContent through the session's Inbox reader (Simple MAPI fields without one).
MailContent ReadContent(MailSession& session, const MapiMessage* message);

class FilterCalls {
 public:
  explicit FilterCalls(IMailFilter* filter);

  long ItemsCount(bool spam);
  void SetHttpScanTimeout(long seconds);
  // CONTENT_TYPE_HTML for an HTML body, else CONTENT_TYPE_PLAIN.
  void SetContentType(bool html);
  // ProcessMailStream: true when the mail was judged spam (and learnt as such).
  bool Process(const MailContent& content);
  void Add(const MailContent& content, bool spam);
  void Swap(const MailContent& content, bool toSpam);

 private:
  IMailFilter* filter_;
};

// A Simple MAPI message that is given back (reserved word 0, MAPIFreeBuffer) when the
// holder ends, also when a failure ends a pass.
class ScopedMessage {
 public:
  ScopedMessage(MailSession& session, MapiMessage* message) : session_(session), message_(message) {}
  ~ScopedMessage() { Free(); }
  ScopedMessage(const ScopedMessage&) = delete;
  ScopedMessage& operator=(const ScopedMessage&) = delete;
  void Free() {
    if (message_) session_.FreeMessage(message_);
    message_ = nullptr;
  }

 private:
  MailSession& session_;
  MapiMessage* message_;
};

}  // namespace kestrelon
