#include "client/store/stored_message.h"

#include "plugin/dbx/dbx_message_info.h"

#include <string>

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

}  // namespace

StoredMessage ReadStoredMessage(std::istream& in, uint32_t recordOffset) {
  DbxMessageInfo info(in, recordOffset);
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

}  // namespace kestrelon::client
