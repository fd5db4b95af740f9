// Holds the tokenizer's finders to the general matcher: used by the unit test and the
// fuzzer alike.
#pragma once

#include <string>
#include <string_view>

namespace kestrelon::testing {

// Searches `text` with every fixed pattern of the tokenizer twice, through the general
// matcher and through its finder, match after match from `from` on (the header fields
// from the start). Returns "" when all agree, else a description of the first difference.
std::string TokenPatternDifference(std::string_view text, size_t from);

}  // namespace kestrelon::testing
