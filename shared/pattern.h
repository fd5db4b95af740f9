// The pattern dialect used by every regular expression of the system.
//
// A small backtracking matcher over 8-bit text. Two features differ from the usual
// dialects and are relied on by callers: alternation binds tighter than concatenation
// («ab|cd» is a, b or c, d), and only `{ }` groups are reported; `( )` only groups.
// Case-insensitive patterns match as if pattern and text were lowered (ASCII A-Z only),
// while positions always refer to the caller's text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

namespace kestrelon {

struct PatternProgram;

// Compile results. 0 is success; the others are the dialect's fixed error codes.
enum PatternError : int {
  kPatternOk = 0,
  kPatternOutOfMemory = 1,      // also: nesting too deep to compile safely
  kPatternBraceExpected = 2,    // a `{` without its `}`
  kPatternParenExpected = 3,    // a `(` without its `)`
  kPatternBracketExpected = 4,  // an unterminated set, or a range without an end
  kPatternBadAbbreviation = 5,  // a backslash abbreviation that does not compile
  kPatternEmptySet = 6,         // `[]`
  kPatternBadGroup = 7,         // a back-reference to a group not opened yet
  kPatternBadRange = 8,         // a range whose end is below its start
  kPatternEmptyRepeat = 9,      // `*` or `+` on an item that can match the empty text
  kPatternNoPattern = 10,       // no pattern text
};

// Where one successful search matched. Positions are byte offsets into the searched
// text; ends are exclusive. A group that took no part in the match has start -1.
struct PatternMatch {
  struct Span {
    ptrdiff_t start = -1;
    ptrdiff_t end = -1;
    bool TookPart() const { return start >= 0 && end >= start; }
  };
  size_t start = 0;
  size_t end = 0;
  std::vector<Span> groups;
};

class Pattern {
 public:
  // Upper bounds that keep a hostile pattern or text from hanging the caller or
  // exhausting memory. A search that reaches one stops and reports no match, and
  // HitSearchLimit() tells the caller why.
  static constexpr int kMaxNesting = 256;
  static constexpr uint64_t kBaseStepBudget = 20'000'000;
  static constexpr uint64_t kStepsPerTextByte = 64;
  static constexpr size_t kMaxBacktrackEntries = 2'000'000;

  Pattern();
  ~Pattern();
  Pattern(const Pattern&) = delete;
  Pattern& operator=(const Pattern&) = delete;

  // Compiles `text` (its bytes exactly). Returns kPatternOk or an error code; a pattern
  // that failed to compile finds nothing.
  int Compile(std::string_view text, bool caseSensitive);

  // Looks for the leftmost match beginning at or after `start`. The text ends at
  // `text.size()`; a match never begins at the end of the text.
  bool Search(std::string_view text, size_t start, PatternMatch& match);

  bool IsCompiled() const { return compiled_; }
  int GroupCount() const { return groupCount_; }
  bool HitSearchLimit() const { return hitLimit_; }

 private:
  struct Matcher;

  std::unique_ptr<PatternProgram> program_;
  std::unique_ptr<Matcher> matcher_;
  bool compiled_ = false;
  bool hitLimit_ = false;
  int groupCount_ = 0;
};

}  // namespace kestrelon
