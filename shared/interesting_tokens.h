// The tokens of the last scored mail, most telling first.
//
// Shared by the engine, which fills it, and the plug-in, which reads it in place after
// asking the filter for it; both must see the same layout, so both compile this one
// declaration with the same compiler.
#pragma once

#include <functional>
#include <map>
#include <string>

namespace kestrelon {

struct InterestingToken {
  std::string token;
  float probability;
};

// Keyed by interest, highest first. Entries of equal interest keep their insertion order
// (a multimap inserts equal keys after the ones already there).
using InterestingTokens = std::multimap<float, InterestingToken, std::greater<float>>;

}  // namespace kestrelon
