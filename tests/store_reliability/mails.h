// The mails the reliability tests learn: each has ten tokens of its own and one token,
// "common", that every mail shares, so a store shows exactly which mails reached it.
#pragma once

#include "Lexisift/engine/token_table.h"

#include <string>

namespace kestrelon::reliability {

constexpr int kTokensPerMail = 10;

std::string MailToken(const std::string& worker, int mail, int token);
TokenTable Mail(const std::string& worker, int mail);

}  // namespace kestrelon::reliability
