#include "plugin/host/token_view.h"

#include "plugin/host/delete_spam.h"
#include "plugin/host/host_failure.h"
#include "plugin/host/mail_filter_calls.h"
#include "plugin/host/message_key.h"
#include "plugin/host/plugin_data.h"
#include "shared/interesting_tokens.h"

#include <cstdio>

namespace kestrelon {

std::string PercentText(float probability) {
  char text[64];
  std::snprintf(text, sizeof text, "%2.2f%%", static_cast<double>(probability * 100));
  return text;
}

TokenView FillTokenView(PluginData& data) {
  TokenView view;
  MessageColumns columns;
  bool headerEmpty = false;
  if (!FindMessageColumns(data, columns, headerEmpty) || columns.from < 0 || columns.subject < 0) return view;
  IClientWindow& window = data.window;
  int row = window.NextSelectedRow(-1);
  if (row < 0) return view;
  std::string from = window.CellText(row, columns.from);
  std::string subject = window.CellText(row, columns.subject);
  std::string key = MessageKey(from, subject, false);
  if (!data.filter) throw HostFailure("The filter object is missing");
  MailSession& session = *data.mailSession;
  RestartKeyLookup();
  while (MapiMessage* message = FindByKey(session, key, false)) {
    view = TokenView{};
    MailContent content;
    {
      ScopedMessage held(session, message);
      content = ReadContent(session, message);
    }
    platform::ScopedBstr header(content.header), body(content.body);
    float probability = 0;
    LONG address = 0;
    HRESULT result = data.filter->TokensMap(header.value, body.value, &probability, &address);
    CheckResult(result, "IMailFilter::TokensMap");
    // S_FALSE: the filter could not hand the table over; the probability still holds.
    if (result == S_OK && address != 0) {
      const auto* tokens =
          reinterpret_cast<const InterestingTokens*>(static_cast<uintptr_t>(static_cast<uint32_t>(address)));
      for (const auto& entry : *tokens) view.rows.push_back({entry.second.token, PercentText(entry.second.probability)});
    }
    view.filled = true;
    view.from = from;
    view.subject = subject;
    view.probability = PercentText(probability);
  }
  return view;
}

}  // namespace kestrelon
