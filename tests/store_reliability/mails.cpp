#include "tests/store_reliability/mails.h"

namespace kestrelon::reliability {

std::string MailToken(const std::string& worker, int mail, int token) {
  return worker + "m" + std::to_string(mail) + "t" + std::to_string(token);
}

TokenTable Mail(const std::string& worker, int mail) {
  TokenTable table;
  table.Add("common");
  for (int t = 0; t < kTokensPerMail; ++t)
    for (int r = 0; r <= t % 3; ++r) table.Add(MailToken(worker, mail, t));
  return table;
}

}  // namespace kestrelon::reliability
