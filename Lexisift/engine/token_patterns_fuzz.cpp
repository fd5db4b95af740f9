// Fuzzes the tokenizer's finders against the general matcher: for any text, each finder
// must give the general matcher's match for its pattern.
#include "Lexisift/engine/test_support/token_pattern_check.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
  std::string difference = kestrelon::testing::TokenPatternDifference(text, text.empty() ? 0 : data[0] % text.size());
  if (!difference.empty()) {
    std::fprintf(stderr, "%s\n", difference.c_str());
    std::abort();
  }
  return 0;
}
