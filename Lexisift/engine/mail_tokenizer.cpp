#include "Lexisift/engine/mail_tokenizer.h"

#include "shared/pattern.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string>

namespace kestrelon {

namespace {

constexpr char kLinkPattern[] = "http.?://[^ /\r\n]*";
constexpr char kNumberPattern[] = "[0-9]+[.,]+[0-9]+[.,]*[0-9]*[.,]*[0-9]*";
constexpr char kFieldPattern[] = " *{[^\r\n]*}";  // after the field name
constexpr char kFirstLinkPattern[] = "(http.?://)|(www.)[^ \r\n]*";
constexpr char kMarkupPattern[] = "<[^>]*>";
constexpr std::array<const char*, 5> kHeaderFields = {"Reply-To:", "Return-Path:", "To:", "From:", "Subject:"};

// The bytes that end a word; 0xA7 is the section sign of the Western code page.
constexpr std::string_view kDelimiters = " \"\xa7%&/()=?{}[]\\+#*~<>|,.-;:@_^\n\t\r";

struct DelimiterTable {
  std::array<bool, 256> is{};
  constexpr DelimiterTable() {
    for (char c : kDelimiters) is[static_cast<uint8_t>(c)] = true;
  }
};
constexpr DelimiterTable kDelimiterTable;

bool OnlyDigits(std::string_view word) {
  return std::all_of(word.begin(), word.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::string_view CopiedPart(const char* text, size_t start, size_t end) {
  return std::string_view(text + start, std::min(end - start, MailTokenizer::kMaxCopiedMatch));
}

}  // namespace

void MailTokenizer::SplitIntoWords(std::string_view text, std::string_view prefix, TokenTable& table) {
  char key[2 + kMaxWordLength + 1];
  size_t prefixLength = std::min(prefix.size(), size_t{2});
  std::memcpy(key, prefix.data(), prefixLength);
  size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && kDelimiterTable.is[static_cast<uint8_t>(text[i])]) ++i;
    size_t start = i;
    while (i < text.size() && !kDelimiterTable.is[static_cast<uint8_t>(text[i])]) ++i;
    std::string_view word = text.substr(start, i - start);
    if (word.size() < kMinWordLength || word.size() > kMaxWordLength || OnlyDigits(word)) continue;
    std::memcpy(key + prefixLength, word.data(), word.size());
    table.Add(std::string_view(key, prefixLength + word.size()));
  }
}

MailTokenizer::MailTokenizer() {
  link_.Compile(kLinkPattern, false);
  number_.Compile(kNumberPattern, true);
  for (size_t i = 0; i < kHeaderFields.size(); ++i) fields_[i].Compile(std::string(kHeaderFields[i]) + kFieldPattern, false);
  firstLink_.Compile(kFirstLinkPattern, false);
  markup_.Compile(kMarkupPattern, false);
}

void MailTokenizer::CountLinks(char* text, size_t length, TokenTable& table) {
  PatternMatch m;
  std::string upper;
  for (size_t from = 0; link_.Search(std::string_view(text, length), from, m); from = m.end) {
    upper.assign(CopiedPart(text, m.start, m.end));
    for (char& c : upper)
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    SplitIntoWords(upper, "U*", table);
    std::memset(text + m.start, '*', m.end - m.start);
  }
}

void MailTokenizer::CountNumbers(const char* text, size_t length, TokenTable& table) {
  PatternMatch m;
  char key[2 + kMaxWordLength];
  key[0] = 'P';
  key[1] = '*';
  for (size_t from = 0; number_.Search(std::string_view(text, length), from, m); from = m.end) {
    std::string_view copy = CopiedPart(text, m.start, m.end);
    if (copy.size() >= kMinWordLength && copy.size() <= kMaxWordLength) {
      std::memcpy(key + 2, copy.data(), copy.size());
      table.Add(std::string_view(key, 2 + copy.size()));
    }
  }
}

void MailTokenizer::CountHeaderFields(char* text, size_t length, TokenTable& table) {
  for (Pattern& pattern : fields_) {
    PatternMatch m;
    if (!pattern.Search(std::string_view(text, length), 0, m) || !m.groups[0].TookPart()) continue;
    const char prefix[2] = {text[m.start], '*'};
    auto valueStart = static_cast<size_t>(m.groups[0].start);
    auto valueEnd = static_cast<size_t>(m.groups[0].end);
    SplitIntoWords(CopiedPart(text, valueStart, valueEnd), std::string_view(prefix, 2), table);
    std::memset(text + m.start, '*', m.end - m.start);
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
  PatternMatch m;
  if (!firstLink_.Search(text, 0, m)) return;
  std::string_view link = text.substr(m.start, m.end - m.start);
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
    PatternMatch m;
    for (size_t from = 0; markup_.Search(std::string_view(text, length), from, m); from = m.end)
      std::memset(text + m.start, '*', m.end - m.start);
  }
  SplitIntoWords(std::string_view(text, length), "", table);
}

}  // namespace kestrelon
