// SMTP replies: where one whole reply ends in the bytes received, and what a reply to RCPT TO
// says about the mailbox.
//
// A reply is one or more lines, each ended by LF (normally CR LF) and beginning with the same
// three-digit code; a '-' after the code announces another line, a space (or the line's end)
// marks the last one.
#pragma once

#include <cstddef>
#include <string_view>

namespace kestrelon {

// The most bytes one reply may take, all its lines together. A server that goes on sending
// lines beyond this is not listened to any further.
inline constexpr size_t kSmtpMaxReply = 8192;

enum class SmtpReplyScan {
  Incomplete,  // no last line yet: more bytes are needed
  Complete,    // a whole reply begins the bytes
  Malformed    // not a reply (a line without a code, codes that differ, or too long)
};

struct SmtpReplyEnd {
  SmtpReplyScan scan = SmtpReplyScan::Incomplete;
  size_t length = 0;  // Complete: the reply's bytes, the last line end included
};

// Looks for one whole reply at the start of `bytes`.
SmtpReplyEnd FindSmtpReplyEnd(std::string_view bytes);

// True when `reply` begins with the three characters of `code`.
bool SmtpReplyHasCode(std::string_view reply, std::string_view code);

// The judgement of a whole reply to RCPT TO: false (the mailbox does not exist) only for a
// "550" reply that speaks of the mailbox. A reply that names spam, dynamic addresses, a
// rejection, a block, a denial or a policy, or whose enhanced status is 5.7.x (security or
// policy), concerns the asking machine rather than the mailbox and means true.
bool SmtpRcptReplySaysExists(std::string_view reply);

}  // namespace kestrelon
