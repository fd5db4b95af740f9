// What the token probabilities view shows for the first selected row of the client's
// message list: every token the filter took from the message with its spam probability,
// most telling first, and the message's overall probability. Changes nothing.
#pragma once

#include <string>
#include <vector>

namespace kestrelon {

class PluginData;

struct TokenRow {
  std::string token;
  std::string probability;  // "%2.2f%%" of the probability times 100
};

struct TokenView {
  bool filled = false;  // false: the controls keep what the dialog resource gives them
  std::vector<TokenRow> rows;
  std::string from;
  std::string subject;
  std::string probability;  // "%2.2f%%"
};

// "%2.2f%%" of `probability` times 100 ("50.00%" for 0.5).
std::string PercentText(float probability);

// Scores the messages recorded under the first selected row's key; when several share
// the key the view is the last one's. Raises HostFailure when the filter fails.
TokenView FillTokenView(PluginData& data);

}  // namespace kestrelon
