#include "Lexisift/engine/mail_tokenizer.h"

#include "Lexisift/engine/token_patterns.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string>

namespace kestrelon {

namespace {

// The bytes that end a word; 0xA7 is the section sign of the Western code page.
constexpr std::string_view kDelimiters = " \"\xa7%&/()=?{}[]\\+#*~<>|,.-;:@_^\n\t\r";

struct ByteTable {
  std::array<bool, 256> has{};
  constexpr ByteTable(std::string_view bytes) {
    for (char c : bytes) has[static_cast<uint8_t>(c)] = true;
  }
  bool operator()(char c) const { return has[static_cast<uint8_t>(c)]; }
};
constexpr ByteTable kIsDelimiter(kDelimiters);
constexpr ByteTable kIsDigit("0123456789");

char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }

std::string_view CopiedPart(const char* text, const TextSpan& span) {
  return std::string_view(text + span.start, std::min(span.Length(), MailTokenizer::kMaxCopiedMatch));
}

void Blank(char* text, const TextSpan& span) { std::memset(text + span.start, '*', span.Length()); }

}  // namespace

void MailTokenizer::SplitIntoWords(std::string_view text, std::string_view prefix, TokenTable& table) {
  char key[2 + kMaxWordLength];
  size_t prefixLength = std::min(prefix.size(), size_t{2});
  std::memcpy(key, prefix.data(), prefixLength);
  const uint32_t prefixHash = TokenTable::Hash(std::string_view(key, prefixLength));
  const char* p = text.data();
  const char* const end = p + text.size();
  while (p < end) {
    while (p < end && kIsDelimiter(*p)) ++p;
    const char* word = p;
    // The key's hash, and whether the word is only digits, as the word is read.
    uint32_t hash = prefixHash;
    bool digits = true;
    for (; p < end && !kIsDelimiter(*p); ++p) {
      hash = TokenTable::HashStep(hash, *p);
      digits &= kIsDigit(*p);
    }
    auto length = static_cast<size_t>(p - word);
    if (length < kMinWordLength || length > kMaxWordLength || digits) continue;
    if (prefixLength == 0) {
      table.AddHashed(std::string_view(word, length), hash);
    } else {
      std::memcpy(key + prefixLength, word, length);
      table.AddHashed(std::string_view(key, prefixLength + length), hash);
    }
  }
}

void MailTokenizer::CountLinks(char* text, size_t length, TokenTable& table) {
  std::string_view all(text, length);
  char upper[kMaxCopiedMatch];
  TextSpan m;
  for (size_t from = 0; token_patterns::FindLink(all, from, m); from = m.end) {
    std::string_view copy = CopiedPart(text, m);
    for (size_t i = 0; i < copy.size(); ++i) upper[i] = AsciiUpper(copy[i]);
    SplitIntoWords(std::string_view(upper, copy.size()), "U*", table);
    Blank(text, m);
  }
}

void MailTokenizer::CountNumbers(const char* text, size_t length, TokenTable& table) {
  std::string_view all(text, length);
  char key[2 + kMaxWordLength];
  key[0] = 'P';
  key[1] = '*';
  TextSpan m;
  for (size_t from = 0; token_patterns::FindNumber(all, from, m); from = m.end) {
    std::string_view copy = CopiedPart(text, m);
    if (copy.size() >= kMinWordLength && copy.size() <= kMaxWordLength) {
      std::memcpy(key + 2, copy.data(), copy.size());
      table.Add(std::string_view(key, 2 + copy.size()));
    }
  }
}

void MailTokenizer::CountHeaderFields(char* text, size_t length, TokenTable& table) {
  for (std::string_view name : token_patterns::kHeaderFields) {
    TextSpan m, value;
    if (!token_patterns::FindHeaderField(std::string_view(text, length), name, m, value)) continue;
    const char prefix[2] = {text[m.start], '*'};
    SplitIntoWords(CopiedPart(text, value), std::string_view(prefix, 2), table);
    Blank(text, m);
  }
}

void MailTokenizer::TokenizeHeader(char* text, TokenTable& table) {
  size_t length = std::strlen(text);
  if (length == 0) return;
  CountLinks(text, length, table);
  CountNumbers(text, length, table);
  CountHeaderFields(text, length, table);
  SplitIntoWords(std::string_view(text, length), "", table);
}

void MailTokenizer::TokenizeBody(char* text, TokenTable& table) {
  size_t length = std::strlen(text);
  DetectLink(std::string_view(text, length));
  if (length == 0) return;
  CountLinks(text, length, table);
  CountNumbers(text, length, table);
  SplitIntoWords(std::string_view(text, length), "", table);
}

void MailTokenizer::DetectLink(std::string_view text) {
  linkStatus_ = 200;
  pendingLink_.clear();
  size_t limit = (contentType_ == CONTENT_TYPE_HTML || contentType_ == CONTENT_TYPE_RTF) ? 3 * shortMailLimit_ : shortMailLimit_;
  if (text.empty() || scanner_.TimeoutMilliseconds() < 1000 || text.size() >= limit) return;
  TextSpan m;
  if (!token_patterns::FindFirstLink(text, m)) return;
  std::string_view link = text.substr(m.start, m.Length());
  // Only the scheme alternative can begin with an h; the other one is written from www on.
  if (link[0] != 'h' && link[0] != 'H') pendingLink_ = "http://";
  pendingLink_.append(link);
}

bool MailTokenizer::FetchAndTokenizeLink(TokenTable& table) {
  if (pendingLink_.empty()) return false;
  std::string page = scanner_.Fetch(pendingLink_);
  linkStatus_ = scanner_.Status();
  if (!page.empty()) TokenizePage(page.data(), table);
  pendingLink_.clear();
  return true;
}

void MailTokenizer::TokenizePage(char* text, TokenTable& table) {
  size_t length = std::strlen(text);
  CountLinks(text, length, table);
  CountNumbers(text, length, table);
  // Markup gives no words for plain-text mails; for the other types its words count too.
  if (contentType_ == CONTENT_TYPE_PLAIN) {
    TextSpan m;
    for (size_t from = 0; token_patterns::FindMarkup(std::string_view(text, length), from, m); from = m.end)
      Blank(text, m);
  }
  SplitIntoWords(std::string_view(text, length), "", table);
}

}  // namespace kestrelon
