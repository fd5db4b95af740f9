// The fixed patterns of the tokenizer's passes, each matched by code written for it.
//
// The pattern texts below are in the dialect of shared/pattern.h, and each finder returns
// exactly the match that the general matcher returns for its pattern when searching the
// same text from the same position (the token tables, and so every store, depend on it;
// a differential test and a fuzzer hold the two together). Their character classes are
// tables built at compile time, and each finder runs in time linear in the text without
// allocating. The general matcher stays for every other pattern of the system.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

namespace kestrelon {

// Where a pattern matched: [start, end) of the searched text.
struct TextSpan {
  size_t start = 0;
  size_t end = 0;
  size_t Length() const { return end - start; }
};

namespace token_patterns {

// Case-insensitive: a link's scheme and host part.
constexpr char kLink[] = "http.?://[^ /\r\n]*";
// Case-sensitive: a number with a decimal or thousands separator.
constexpr char kNumber[] = "[0-9]+[.,]+[0-9]+[.,]*[0-9]*[.,]*[0-9]*";
// Case-insensitive, after a field name: the field's value on its first line.
constexpr char kFieldValue[] = " *{[^\r\n]*}";
// Case-insensitive: the link that a short mail's page is fetched from.
constexpr char kFirstLink[] = "(http.?://)|(www.)[^ \r\n]*";
// Case-insensitive: one markup tag.
constexpr char kMarkup[] = "<[^>]*>";
// The header fields read in the header passes, in this order.
constexpr std::array<std::string_view, 5> kHeaderFields = {"Reply-To:", "Return-Path:", "To:", "From:", "Subject:"};

// The leftmost match beginning at or after `from`; false when there is none. A match
// never begins at the end of the text.
bool FindLink(std::string_view text, size_t from, TextSpan& match);
bool FindNumber(std::string_view text, size_t from, TextSpan& match);
bool FindMarkup(std::string_view text, size_t from, TextSpan& match);
bool FindFirstLink(std::string_view text, TextSpan& match);

// The first match of `name` followed by kFieldValue (the name is one of kHeaderFields,
// compared without case): `match` from the name to the end of the value, `value` the
// value alone.
bool FindHeaderField(std::string_view text, std::string_view name, TextSpan& match, TextSpan& value);

}  // namespace token_patterns
}  // namespace kestrelon
