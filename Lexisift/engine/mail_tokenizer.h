// Turns the text of one mail into its TokenTable.
//
// Words from links, numbers and the main header fields carry a two-character prefix
// ("U*", "P*", "S*" ...) that keeps them apart from the same word in running text. The
// tokenizer works on the caller's text in place: it blanks links and header fields with
// asterisks, so callers pass text they do not read afterwards. Texts end at their NUL.
#pragma once

#include "Lexisift/engine/link_scanner.h"
#include "Lexisift/engine/token_table.h"
#include "shared/filter_enums.h"

#include <cstddef>
#include <string>
#include <string_view>

namespace kestrelon {

class MailTokenizer {
 public:
  static constexpr size_t kMinWordLength = 3;
  static constexpr size_t kMaxWordLength = 20;
  static constexpr size_t kMaxCopiedMatch = 255;
  static constexpr size_t kShortMailLimit = 200;
  static constexpr size_t kFileShortMailLimit = 1200;  // while a mail file is read

  // The header passes: links, numbers, the five header fields, then plain words.
  void TokenizeHeader(char* text, TokenTable& table);

  // The link detection, then the body passes: links, numbers, then plain words.
  void TokenizeBody(char* text, TokenTable& table);

  // Counts every word of `text` that is 3 to 20 bytes long and not only digits,
  // with `prefix` in front. Words are cut at the delimiter bytes.
  static void SplitIntoWords(std::string_view text, std::string_view prefix, TokenTable& table);

  // Remembers the first link of a short mail for FetchAndTokenizeLink; never goes to the
  // network and never changes the text. Resets the link status to 200.
  void DetectLink(std::string_view text);

  // Fetches the remembered link and adds the page's tokens to `table`; false when no
  // link was remembered. The link status then tells how the fetch went.
  bool FetchAndTokenizeLink(TokenTable& table);

  // The status of the last fetch (200 after a detection): a server's status, or -1 when
  // the fetch timed out.
  int32_t LinkStatus() const { return linkStatus_; }
  const std::string& PendingLink() const { return pendingLink_; }

  CONTENT_TYPE ContentType() const { return contentType_; }
  void SetContentType(CONTENT_TYPE type) { contentType_ = type; }
  // Mail files are longer than the text of a mail body; their short-mail limit is raised.
  void SetReadingFile(bool reading) { shortMailLimit_ = reading ? kFileShortMailLimit : kShortMailLimit; }
  LinkScanner& Scanner() { return scanner_; }

 private:
  void TokenizePage(char* text, TokenTable& table);

  void CountLinks(char* text, size_t length, TokenTable& table);
  void CountNumbers(const char* text, size_t length, TokenTable& table);
  void CountHeaderFields(char* text, size_t length, TokenTable& table);

  LinkScanner scanner_;
  CONTENT_TYPE contentType_ = CONTENT_TYPE_PLAIN;
  size_t shortMailLimit_ = kShortMailLimit;
  std::string pendingLink_;
  int32_t linkStatus_ = 200;
};

}  // namespace kestrelon
