#include "shared/pattern.h"

#include <gtest/gtest.h>

#include <string>

using kestrelon::Pattern;
using kestrelon::PatternMatch;

namespace {

// "start end" of the first match from `from`, or "nomatch"; groups appended as "g:s-e".
std::string Find(const std::string& pattern, const std::string& text, size_t from = 0, bool caseSensitive = true) {
  Pattern p;
  int code = p.Compile(pattern, caseSensitive);
  if (code != 0) return "error " + std::to_string(code);
  PatternMatch m;
  if (!p.Search(text, from, m)) return "nomatch";
  std::string out = std::to_string(m.start) + " " + std::to_string(m.end);
  for (size_t g = 0; g < m.groups.size(); ++g)
    if (m.groups[g].TookPart())
      out += " " + std::to_string(g) + ":" + std::to_string(m.groups[g].start) + "-" + std::to_string(m.groups[g].end);
  return out;
}

int CompileCode(const std::string& pattern, bool caseSensitive = true) {
  Pattern p;
  return p.Compile(pattern, caseSensitive);
}

}  // namespace

TEST(Pattern, AlternationBindsTighterThanConcatenation) {
  EXPECT_EQ(Find("ab|cd", "abd"), "0 3");
  EXPECT_EQ(Find("ab|cd", "acd"), "0 3");
  EXPECT_EQ(Find("ab|cd", "ab"), "nomatch");
  EXPECT_EQ(Find("T|the", "The"), "0 3");
  EXPECT_EQ(Find("T|the", "the"), "0 3");
  EXPECT_EQ(Find("a|b|c", "xc"), "1 2");  // chains to the right
  EXPECT_EQ(Find("(ab)|(cd)", "xcd"), "1 3");
  EXPECT_EQ(Find("a|", "xa"), "0 0");  // an empty alternative matches the empty text
}

TEST(Pattern, LinkPatternsTakeTheWholeLink) {
  const std::string link = "(http.?://)|(www.)[^ \r\n]*";
  EXPECT_EQ(Find(link, "see www.example.com/x now", 0, false), "4 21");
  EXPECT_EQ(Find(link, "go http://a.b/c?d=1 x", 0, false), "3 19");
  EXPECT_EQ(Find(link, "line\r\nwww.a.b\r\nmore", 0, false), "6 13");

  const std::string host = "http.?://[^ /\r\n]*";
  std::string text = "Visit HTTPS://WWW.EXAMPLE.COM/path today";
  Pattern p;
  ASSERT_EQ(p.Compile(host, false), 0);
  PatternMatch m;
  ASSERT_TRUE(p.Search(text, 0, m));
  EXPECT_EQ(text.substr(m.start, m.end - m.start), "HTTPS://WWW.EXAMPLE.COM");
}

TEST(Pattern, HeaderFieldGroupReportsTheValueInTheCallersCase) {
  std::string text = "x\r\nsubject:   Hello\r\nTo: a";
  Pattern p;
  ASSERT_EQ(p.Compile("Subject: *{[^\r\n]*}", false), 0);
  PatternMatch m;
  ASSERT_TRUE(p.Search(text, 0, m));
  EXPECT_EQ(m.start, 3u);
  EXPECT_EQ(m.end, 19u);
  ASSERT_EQ(m.groups.size(), 1u);
  EXPECT_EQ(text.substr(m.groups[0].start, m.groups[0].end - m.groups[0].start), "Hello");
}

TEST(Pattern, NumbersAreFoundOneAfterTheOther) {
  const std::string number = "[0-9]+[.,]+[0-9]+[.,]*[0-9]*[.,]*[0-9]*";
  std::string text = "a1.5 b2,50";
  Pattern p;
  ASSERT_EQ(p.Compile(number, true), 0);
  PatternMatch m;
  ASSERT_TRUE(p.Search(text, 0, m));
  EXPECT_EQ(text.substr(m.start, m.end - m.start), "1.5");
  ASSERT_TRUE(p.Search(text, m.end, m));
  EXPECT_EQ(text.substr(m.start, m.end - m.start), "2,50");
  EXPECT_FALSE(p.Search(text, m.end, m));
}

TEST(Pattern, SingleCharacterConstructs) {
  EXPECT_EQ(Find("x.y", "x\ny"), "0 3");  // the dot matches a line feed
  EXPECT_EQ(Find("x.y", "x\ry"), "0 3");
  EXPECT_EQ(Find("x.", "x"), "nomatch");  // but not the end of the text
  EXPECT_EQ(Find("[a-c]+", "xxbcay"), "2 5");
  EXPECT_EQ(Find("[^a-c]+", "abxyc"), "2 4");
  EXPECT_EQ(Find("[\\t]", "a\tb"), "1 2");
  EXPECT_EQ(Find("[\\]]", "a]"), "1 2");
  EXPECT_EQ(Find("[-a]+", "x-a-"), "1 4");
  EXPECT_EQ(Find("\\.", "ab.c"), "2 3");
  EXPECT_EQ(Find("\\t", "at"), "1 2");  // outside a set \t is the letter t
  EXPECT_EQ(Find("a\\*", "aa*"), "1 3");
  EXPECT_EQ(Find("[\x80-\xff]", "ab\xe9"), "2 3");  // sets are sets of bytes
}

TEST(Pattern, AnchorsOnlyAtTheEndsOfThePattern) {
  EXPECT_EQ(Find("^ab", "xab"), "nomatch");
  EXPECT_EQ(Find("^ab", "xab", 1), "1 3");  // anchored at the search's start position
  EXPECT_EQ(Find("a^b", "a^b"), "0 3");
  EXPECT_EQ(Find("ab$", "abab"), "2 4");
  EXPECT_EQ(Find("a$b", "a$b"), "0 3");
  EXPECT_EQ(Find("a\\$", "a$"), "0 2");
}

TEST(Pattern, RepetitionsGreedyAndLazy) {
  EXPECT_EQ(Find("a+", "baaa"), "1 4");
  EXPECT_EQ(Find("a+?", "baaa"), "1 2");
  EXPECT_EQ(Find("a*?b", "aab"), "0 3");
  EXPECT_EQ(Find("{a*}a", "aaa"), "0 3 0:0-2");
  EXPECT_EQ(Find("{a*?}a", "aaa"), "0 1 0:0-0");
  EXPECT_EQ(Find("{a?}a", "a"), "0 1 0:0-0");
  EXPECT_EQ(Find("{a??}a", "aa"), "0 1 0:0-0");
  EXPECT_EQ(Find("<{.*}>", "<a><b>"), "0 6 0:1-5");
  EXPECT_EQ(Find("<{.*?}>", "<a><b>"), "0 3 0:1-2");
  EXPECT_EQ(Find("(ab)+c", "xababc"), "1 6");
  EXPECT_EQ(Find("(ab)+?", "abab"), "0 2");
  EXPECT_EQ(Find("a+*", "aaa"), "0 3");  // a repetition of a repetition that cannot be empty
}

TEST(Pattern, MatchesAreLeftmostNotLongest) {
  EXPECT_EQ(Find("(a)|(ab)", "ab"), "0 1");
  EXPECT_EQ(Find("((a)|(ab))((c)|(bcd))", "abcd"), "0 4");
  EXPECT_EQ(Find("a|ab", "ab"), "0 2");  // (a|a)b
  EXPECT_EQ(Find("(a|ab)(c|bcd)", "abcd"), "nomatch");  // (a|a)b then (c|b)cd
  EXPECT_EQ(Find("b+", "abbb ab"), "1 4");
}

TEST(Pattern, OnlyBraceGroupsAreReported) {
  Pattern p;
  ASSERT_EQ(p.Compile("(x){a}(y){b}", true), 0);
  EXPECT_EQ(p.GroupCount(), 2);
  EXPECT_EQ(Find("(x){a}(y){b}", "xayb"), "0 4 0:1-2 1:3-4");
  EXPECT_EQ(Find("{a}|{b}", "b"), "0 1 1:0-1");  // group 0 took no part
  EXPECT_EQ(Find("{{a}b}", "ab"), "0 2 0:0-2 1:0-1");  // numbered by opening brace
  EXPECT_EQ(Find("({[a-z]})+", "abc"), "0 3 0:2-3");  // last iteration
}

TEST(Pattern, BackReferences) {
  EXPECT_EQ(Find("{[a-z]+}-\\0", "ab-ab"), "0 5 0:0-2");
  EXPECT_EQ(Find("{[a-z]+}-\\0", "ab-ac"), "nomatch");
  EXPECT_EQ(Find("<{\\w}>.*</\\0>", "<b>x</b>"), "0 8 0:1-2");
  EXPECT_EQ(Find("{a}-\\0", "A-a", 0, false), "0 3 0:0-1");  // compared without case
  EXPECT_EQ(Find("{a}-\\0", "a-A", 0, true), "nomatch");
  EXPECT_EQ(Find("{x}?y\\0", "y"), "nomatch");  // a group that did not match repeats nothing
}

TEST(Pattern, Negation) {
  EXPECT_EQ(Find("!ab", "aab"), "2 3");  // not an a here, then b
  EXPECT_EQ(Find("a!b", "abac"), "2 3");
  EXPECT_EQ(Find("!(http)[a-z]+", "http x"), "1 4");
  EXPECT_EQ(Find("a!{b}", "ab"), "nomatch");
}

TEST(Pattern, Abbreviations) {
  EXPECT_EQ(Find("\\d+", "ab123c"), "2 5");
  EXPECT_EQ(Find("\\z", "ab123c"), "2 5");
  EXPECT_EQ(Find("\\w", "12abc3"), "2 5");
  EXPECT_EQ(Find("\\h+", "xyzBEEFq"), "3 7");
  EXPECT_EQ(Find("\\a+", "--a1B--"), "2 5");
  EXPECT_EQ(Find("\\c+", "1aB2"), "1 3");
  EXPECT_EQ(Find("x\\by", "x\ty"), "0 3");
  EXPECT_EQ(Find("a\\nb", "a\r\nb"), "0 4");
  EXPECT_EQ(Find("a\\nb", "a\rb"), "0 3");
  EXPECT_EQ(Find("a\\nb", "a\nb"), "0 3");
  EXPECT_EQ(Find("\\q", "say 'hi' now"), "4 8");
  EXPECT_EQ(Find("\\q", "x\"a b\""), "1 6");
  EXPECT_EQ(Find("\\D", "x5", 0, false), "1 2");  // lowered with the pattern
}

TEST(Pattern, CaseInsensitiveKeepsTheCallersText) {
  EXPECT_EQ(Find("abc", "xABC", 0, false), "1 4");
  EXPECT_EQ(Find("ABC", "xabc", 0, false), "1 4");
  EXPECT_EQ(Find("ABC", "xabc", 0, true), "nomatch");
  EXPECT_EQ(Find("[A-C]+", "zzBCA", 0, false), "2 5");
  EXPECT_EQ(Find("\xc9", "\xe9", 0, false), "nomatch");  // only ASCII letters fold
}

TEST(Pattern, CompileErrors) {
  EXPECT_EQ(CompileCode("[]"), 6);
  EXPECT_EQ(CompileCode("[^]"), 6);
  EXPECT_EQ(CompileCode("a**"), 9);
  EXPECT_EQ(CompileCode("(a*)*"), 9);
  EXPECT_EQ(CompileCode("(a?)+"), 9);
  EXPECT_EQ(CompileCode("(!a)*"), 9);
  EXPECT_EQ(CompileCode("{a"), 2);
  EXPECT_EQ(CompileCode("(a"), 3);
  EXPECT_EQ(CompileCode("({a)}"), 3);
  EXPECT_EQ(CompileCode("[ab"), 4);
  EXPECT_EQ(CompileCode("[a-"), 4);
  EXPECT_EQ(CompileCode("[a-]"), 4);
  EXPECT_EQ(CompileCode("[z-a]"), 8);
  EXPECT_EQ(CompileCode("\\0"), 7);
  EXPECT_EQ(CompileCode("{a}\\1"), 7);
  EXPECT_EQ(CompileCode("{a\\0}"), 0);  // opened earlier, even if not closed
  EXPECT_EQ(CompileCode("{a\\0*}"), 9);
  EXPECT_EQ(CompileCode(""), 10);
  EXPECT_EQ(CompileCode("a?"), 0);
  EXPECT_EQ(CompileCode("(a?)?"), 0);
  EXPECT_EQ(CompileCode("{a}\\0+"), 0);
  EXPECT_EQ(CompileCode(std::string(10000, '(')), 1);  // too deep to compile safely
  EXPECT_EQ(CompileCode("a" + std::string(10000, '?')), 1);
  EXPECT_EQ(CompileCode(std::string(10000, '!') + "a"), 1);
}

TEST(Pattern, FailedPatternFindsNothingAndBadPositionsAreSafe) {
  Pattern p;
  PatternMatch m;
  EXPECT_EQ(p.Compile("(x", true), 3);
  EXPECT_FALSE(p.Search("xxx", 0, m));
  ASSERT_EQ(p.Compile("a?", true), 0);
  EXPECT_FALSE(p.Search("", 0, m));  // never a match at the end of the text
  EXPECT_FALSE(p.Search("abc", 3, m));
  EXPECT_FALSE(p.Search("abc", 99, m));
  EXPECT_TRUE(p.Search("abc", 1, m));
  EXPECT_EQ(m.start, 1u);
  EXPECT_EQ(m.end, 1u);
}

TEST(Pattern, HostileInputsFinishWithoutExhaustingTheStack) {
  // Exponential without memoization; the visited set keeps it linear.
  std::string as(5000, 'a');
  EXPECT_EQ(Find("((a)|(aa))+b", as), "nomatch");
  EXPECT_EQ(Find("((a+)+)+b", as), "nomatch");
  // Quadratic with plain backtracking over a long digit run.
  std::string digits(200000, '7');
  EXPECT_EQ(Find("[0-9]+[.,]+[0-9]+", digits), "nomatch");
  // Long runs and many iterations use heap state, not machine stack.
  std::string ab;
  for (int i = 0; i < 200000; ++i) ab += "ab";
  EXPECT_EQ(Find("(ab)+c", ab + "c"), "0 400001");

  // A back-reference pattern cannot be memoized; the step budget ends the search.
  Pattern p;
  ASSERT_EQ(p.Compile("{((a)|(aa))+}\\0b", true), 0);
  PatternMatch m;
  EXPECT_FALSE(p.Search(std::string(3000, 'a'), 0, m));
  EXPECT_TRUE(p.HitSearchLimit());
  EXPECT_TRUE(p.Search("aab", 0, m));
  EXPECT_FALSE(p.HitSearchLimit());
}
