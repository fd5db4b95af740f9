// Turns the text of one mail into its TokenTable.
//
// Words from links, numbers and the main header fields carry a two-character prefix
// ("U*", "P*", "S*" ...) that keeps them apart from the same word in running text. The
// tokenizer works on the caller's text in place: it blanks links and header fields with
// asterisks, so callers pass text they do not read afterwards. Texts end at their NUL.
#pragma once

#include "Lexisift/engine/token_table.h"
#include "shared/pattern.h"

#include <array>

#include <cstddef>
#include <string_view>

namespace kestrelon {

// Sees a mail body before its words are counted; the link scan attaches here.
class BodyLinkDetector {
 public:
  virtual ~BodyLinkDetector() = default;
  virtual void DetectLink(std::string_view body) = 0;
};

class MailTokenizer {
 public:
  static constexpr size_t kMinWordLength = 3;
  static constexpr size_t kMaxWordLength = 20;
  static constexpr size_t kMaxCopiedMatch = 255;

  MailTokenizer();

  // The header passes: links, numbers, the five header fields, then plain words.
  void TokenizeHeader(char* text, TokenTable& table);

  // The link detection, then the body passes: links, numbers, then plain words.
  void TokenizeBody(char* text, TokenTable& table);

  // Counts every word of `text` that is 3 to 20 bytes long and not only digits,
  // with `prefix` in front. Words are cut at the delimiter bytes.
  static void SplitIntoWords(std::string_view text, std::string_view prefix, TokenTable& table);

  void SetLinkDetector(BodyLinkDetector* detector) { linkDetector_ = detector; }

 private:
  void CountLinks(char* text, size_t length, TokenTable& table);
  void CountNumbers(const char* text, size_t length, TokenTable& table);
  void CountHeaderFields(char* text, size_t length, TokenTable& table);

  // Compiled once per tokenizer; a tokenizer belongs to one filter object and thread.
  Pattern link_;
  Pattern number_;
  std::array<Pattern, 5> fields_;
  BodyLinkDetector* linkDetector_ = nullptr;
};

}  // namespace kestrelon
