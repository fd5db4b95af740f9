#include "plugin/host/mail_filter_calls.h"

#include "plugin/dbx/message_content.h"
#include "plugin/host/host_failure.h"

#include <vector>

namespace kestrelon {

namespace {

std::vector<char> Buffer(const std::string& text) {
  std::vector<char> buffer(text.begin(), text.end());
  buffer.push_back('\0');
  return buffer;
}

}  // namespace

MailContent ReadContent(MailSession& session, const MapiMessage* message) {
  MailContent content;
  content.html = GetMessageContent(session.InboxReader(), message, content.header, content.body);
  return content;
}

FilterCalls::FilterCalls(IMailFilter* filter) : filter_(filter) {
  if (!filter_) throw HostFailure("The filter object is missing");
}

long FilterCalls::ItemsCount(bool spam) {
  LONG count = 0;
  CheckDone(filter_->get_ItemsCount(spam ? VARIANT_TRUE : VARIANT_FALSE, &count), "IMailFilter::ItemsCount");
  return count;
}

void FilterCalls::SetHttpScanTimeout(long seconds) {
  CheckResult(filter_->put_HTTPScanTimeout(static_cast<LONG>(seconds)), "IMailFilter::HTTPScanTimeout");
}

void FilterCalls::SetContentType(bool html) {
  CheckResult(filter_->put_ContentType(html ? CONTENT_TYPE_HTML : CONTENT_TYPE_PLAIN), "IMailFilter::ContentType");
}

bool FilterCalls::Process(const MailContent& content) {
  std::vector<char> header = Buffer(content.header), body = Buffer(content.body);
  VARIANT_BOOL spam = VARIANT_FALSE;
  CheckDone(filter_->ProcessMailStream(header.data(), body.data(), &spam), "IMailFilter::ProcessMailStream");
  return spam == VARIANT_TRUE;
}

void FilterCalls::Add(const MailContent& content, bool spam) {
  std::vector<char> header = Buffer(content.header), body = Buffer(content.body);
  CheckDone(filter_->AddMailStream(header.data(), body.data(), spam ? VARIANT_TRUE : VARIANT_FALSE),
            "IMailFilter::AddMailStream");
}

void FilterCalls::Swap(const MailContent& content, bool toSpam) {
  std::vector<char> header = Buffer(content.header), body = Buffer(content.body);
  CheckDone(filter_->SwapMailStream(header.data(), body.data(), toSpam ? VARIANT_TRUE : VARIANT_FALSE),
            "IMailFilter::SwapMailStream");
}

}  // namespace kestrelon
