// Pattern compiler: a recursive-descent parser builds a syntax tree, which is checked
// (empty repetitions, first bytes) and emitted as a program for the matcher.
//
// Grammar, tightest first:
//   atom := literal | '.' | set | '(' seq ')' | '{' seq '}' | '\' x | '!' atom
//   term := atom quantifier*          quantifier := ('*' | '+' | '?') '?'?
//   alt  := term ('|' alt)?           alternation chains to the right
//   seq  := alt*                      concatenation binds loosest

#include "shared/pattern_program.h"

#include <memory>
#include <string>

namespace kestrelon {
namespace {

enum class Kind { kEmpty, kByte, kClass, kSeq, kAlt, kCapture, kStar, kPlus, kOpt, kNegate, kBackref, kTextEnd };

struct Node {
  Kind kind = Kind::kEmpty;
  uint8_t byte = 0;
  uint32_t arg = 0;  // class index, group number
  bool greedy = true;
  std::vector<std::unique_ptr<Node>> kids;
};
using NodePtr = std::unique_ptr<Node>;

NodePtr MakeNode(Kind kind) {
  auto node = std::make_unique<Node>();
  node->kind = kind;
  return node;
}

struct CompileError {
  int code;
};

// The abbreviations a backslash and letter stand for, each one item.
const char* Abbreviation(char letter) {
  switch (letter) {
    case 'a': return "([a-zA-Z0-9])";
    case 'b': return "([ \t])";
    case 'c': return "([a-zA-Z])";
    case 'd': return "([0-9])";
    case 'h': return "([0-9a-fA-F])";
    case 'n': return "(\r|(\r?\n))";
    case 'q': return "(\"[^\"]*\")|('[^']*')";
    case 'w': return "([a-zA-Z]+)";
    case 'z': return "([0-9]+)";
    default: return nullptr;
  }
}

class Parser {
 public:
  Parser(std::string_view text, PatternProgram& program, int& groupCount, int depth)
      : text_(text), program_(program), groupCount_(groupCount), depth_(depth) {}

  // Parses the whole text; `topLevel` enables the ^ and $ anchors.
  NodePtr ParseAll(bool topLevel) {
    if (topLevel && !text_.empty() && text_[0] == '^') {
      program_.anchoredAtStart = true;
      pos_ = 1;
    }
    topLevel_ = topLevel;
    return ParseSeq('\0');
  }

 private:
  bool AtEnd() const { return pos_ >= text_.size(); }
  char Peek() const { return text_[pos_]; }

  void Enter() {
    if (++depth_ > Pattern::kMaxNesting) throw CompileError{kPatternOutOfMemory};
  }
  void Leave() { --depth_; }

  // A sequence up to `close` (consumed by the caller) or the end of the text.
  NodePtr ParseSeq(char close) {
    auto seq = MakeNode(Kind::kSeq);
    while (!AtEnd() && !(close && Peek() == close)) seq->kids.push_back(ParseAlt(close));
    return seq;
  }

  NodePtr ParseAlt(char close) {
    Enter();
    NodePtr left = (Peek() == '|') ? MakeNode(Kind::kEmpty) : ParseTerm();
    if (!AtEnd() && Peek() == '|') {
      ++pos_;
      auto alt = MakeNode(Kind::kAlt);
      alt->kids.push_back(std::move(left));
      if (AtEnd() || (close && Peek() == close))
        alt->kids.push_back(MakeNode(Kind::kEmpty));
      else
        alt->kids.push_back(ParseAlt(close));
      left = std::move(alt);
    }
    Leave();
    return left;
  }

  NodePtr ParseTerm() {
    NodePtr item = ParseAtom();
    int stacked = 0;  // each quantifier nests the tree one level deeper
    while (!AtEnd() && (Peek() == '*' || Peek() == '+' || Peek() == '?')) {
      Enter();
      ++stacked;
      char q = text_[pos_++];
      bool greedy = true;
      if (!AtEnd() && Peek() == '?') {
        greedy = false;
        ++pos_;
      }
      Kind kind = q == '*' ? Kind::kStar : q == '+' ? Kind::kPlus : Kind::kOpt;
      if (kind != Kind::kOpt && CanMatchEmpty(*item)) throw CompileError{kPatternEmptyRepeat};
      auto rep = MakeNode(kind);
      rep->greedy = greedy;
      rep->kids.push_back(std::move(item));
      item = std::move(rep);
    }
    depth_ -= stacked;
    return item;
  }

  NodePtr ParseAtom() {
    Enter();
    NodePtr node;
    char c = text_[pos_++];
    switch (c) {
      case '.': node = ClassNode(ByteSet().set()); break;
      case '[': node = ParseSet(); break;
      case '(': {
        node = ParseSeq(')');
        if (AtEnd()) throw CompileError{kPatternParenExpected};
        ++pos_;
        break;
      }
      case '{': {
        auto capture = MakeNode(Kind::kCapture);
        capture->arg = static_cast<uint32_t>(groupCount_++);
        capture->kids.push_back(ParseSeq('}'));
        if (AtEnd()) throw CompileError{kPatternBraceExpected};
        ++pos_;
        closedGroups_.resize(groupCount_, nullptr);
        closedGroups_[capture->arg] = capture->kids[0].get();
        node = std::move(capture);
        break;
      }
      case '\\': node = ParseEscape(); break;
      case '!':
        if (AtEnd()) {
          node = ByteNode('!');
        } else {
          node = MakeNode(Kind::kNegate);
          node->kids.push_back(ParseAtom());
        }
        break;
      case '$':
        node = (topLevel_ && pos_ == text_.size()) ? MakeNode(Kind::kTextEnd) : ByteNode('$');
        break;
      default: node = ByteNode(static_cast<uint8_t>(c)); break;
    }
    Leave();
    return node;
  }

  NodePtr ParseEscape() {
    if (AtEnd()) return ByteNode('\\');
    char c = text_[pos_++];
    if (c >= '0' && c <= '9') {
      int group = c - '0';
      if (group >= groupCount_) throw CompileError{kPatternBadGroup};
      auto ref = MakeNode(Kind::kBackref);
      ref->arg = static_cast<uint32_t>(group);
      program_.hasBackrefs = true;
      // Whether the reference can match the empty text depends on its group; a group
      // still open (a reference inside itself) is taken as possibly empty.
      const Node* target = group < static_cast<int>(closedGroups_.size()) ? closedGroups_[group] : nullptr;
      ref->byte = (!target || CanMatchEmpty(*target)) ? 1 : 0;
      return ref;
    }
    if (const char* abbreviation = Abbreviation(c)) {
      int noGroups = 0;
      Parser inner(abbreviation, program_, noGroups, depth_);
      try {
        return inner.ParseAll(false);
      } catch (const CompileError&) {
        throw CompileError{kPatternBadAbbreviation};
      }
    }
    return ByteNode(static_cast<uint8_t>(c));
  }

  NodePtr ParseSet() {
    ByteSet set;
    bool negated = false;
    if (!AtEnd() && Peek() == '^') {
      negated = true;
      ++pos_;
    }
    if (!AtEnd() && Peek() == ']') throw CompileError{kPatternEmptySet};
    for (;;) {
      if (AtEnd()) throw CompileError{kPatternBracketExpected};
      char c = text_[pos_++];
      if (c == ']') break;
      if (c == '\\') {
        if (AtEnd()) throw CompileError{kPatternBracketExpected};
        c = text_[pos_++];
        if (c == 't') c = '\t';
      }
      uint8_t first = static_cast<uint8_t>(c);
      uint8_t last = first;
      if (!AtEnd() && Peek() == '-') {
        if (pos_ + 1 >= text_.size() || text_[pos_ + 1] == ']') throw CompileError{kPatternBracketExpected};
        last = static_cast<uint8_t>(text_[pos_ + 1]);  // the end of a range is never an escape
        pos_ += 2;
        if (last < first) throw CompileError{kPatternBadRange};
      }
      for (int b = first; b <= last; ++b) set.set(static_cast<size_t>(b));
    }
    if (negated) set.flip();
    return ClassNode(set);
  }

  NodePtr ByteNode(uint8_t byte) {
    auto node = MakeNode(Kind::kByte);
    node->byte = byte;
    return node;
  }

  NodePtr ClassNode(const ByteSet& set) {
    auto node = MakeNode(Kind::kClass);
    node->arg = static_cast<uint32_t>(program_.classes.size());
    program_.classes.push_back(set);
    return node;
  }

 public:
  static bool CanMatchEmpty(const Node& node) {
    switch (node.kind) {
      case Kind::kEmpty:
      case Kind::kStar:
      case Kind::kOpt:
      case Kind::kNegate:
      case Kind::kTextEnd: return true;
      case Kind::kByte:
      case Kind::kClass: return false;
      case Kind::kBackref: return node.byte != 0;
      case Kind::kAlt: return CanMatchEmpty(*node.kids[0]) || CanMatchEmpty(*node.kids[1]);
      case Kind::kCapture:
      case Kind::kPlus: return CanMatchEmpty(*node.kids[0]);
      case Kind::kSeq:
        for (const auto& kid : node.kids)
          if (!CanMatchEmpty(*kid)) return false;
        return true;
    }
    return true;
  }

 private:
  std::string_view text_;
  size_t pos_ = 0;
  PatternProgram& program_;
  int& groupCount_;
  int depth_;
  bool topLevel_ = false;
  std::vector<const Node*> closedGroups_;
};

// Bytes that can begin a match of `node`; `nullable` tells whether it can match the
// empty text (then what follows may begin the match too). `exact` turns false when the
// node's start cannot be told from its first byte (negation, back-reference).
struct FirstBytes {
  ByteSet bytes;
  bool nullable = false;
  bool exact = true;
};

FirstBytes First(const Node& node, const PatternProgram& program) {
  FirstBytes out;
  switch (node.kind) {
    case Kind::kEmpty:
    case Kind::kTextEnd: out.nullable = true; break;
    case Kind::kByte: out.bytes.set(node.byte); break;
    case Kind::kClass: out.bytes = program.classes[node.arg]; break;
    case Kind::kNegate:
      out.nullable = true;
      break;
    case Kind::kBackref:
      out.nullable = true;
      out.exact = false;
      break;
    case Kind::kCapture:
    case Kind::kPlus: out = First(*node.kids[0], program); break;
    case Kind::kStar:
    case Kind::kOpt:
      out = First(*node.kids[0], program);
      out.nullable = true;
      break;
    case Kind::kAlt: {
      FirstBytes a = First(*node.kids[0], program), b = First(*node.kids[1], program);
      out.bytes = a.bytes | b.bytes;
      out.nullable = a.nullable || b.nullable;
      out.exact = a.exact && b.exact;
      break;
    }
    case Kind::kSeq:
      out.nullable = true;
      for (const auto& kid : node.kids) {
        FirstBytes k = First(*kid, program);
        out.bytes |= k.bytes;
        out.exact = out.exact && k.exact;
        if (!k.nullable) {
          out.nullable = false;
          break;
        }
      }
      break;
  }
  return out;
}

class Emitter {
 public:
  explicit Emitter(PatternProgram& program) : program_(program) {}

  void Emit(const Node& node) {
    switch (node.kind) {
      case Kind::kEmpty: break;
      case Kind::kByte: Add({.op = Op::kByte, .byte = node.byte}); break;
      case Kind::kClass: Add({.op = Op::kClass, .arg = node.arg}); break;
      case Kind::kTextEnd: Add({.op = Op::kTextEnd}); break;
      case Kind::kBackref: Add({.op = Op::kBackref, .arg = node.arg}); break;
      case Kind::kSeq:
        for (const auto& kid : node.kids) Emit(*kid);
        break;
      case Kind::kCapture:
        Add({.op = Op::kSave, .arg = 2 * node.arg});
        Emit(*node.kids[0]);
        Add({.op = Op::kSave, .arg = 2 * node.arg + 1});
        break;
      case Kind::kAlt: {
        uint32_t split = Add({.op = Op::kSplit});
        code()[split].x = Here();
        Emit(*node.kids[0]);
        uint32_t jump = Add({.op = Op::kJump});
        code()[split].y = Here();
        Emit(*node.kids[1]);
        code()[jump].x = Here();
        break;
      }
      case Kind::kNegate: {
        uint32_t negate = Add({.op = Op::kNegate});
        Emit(*node.kids[0]);
        Add({.op = Op::kNegateOk});
        code()[negate].x = Here();
        break;
      }
      case Kind::kStar:
      case Kind::kPlus:
      case Kind::kOpt: EmitRepeat(node); break;
    }
  }

 private:
  void EmitRepeat(const Node& node) {
    const Node& item = *node.kids[0];
    // A repeated single byte or class runs as one instruction: far fewer steps and
    // one backtracking entry however long the run.
    if (node.kind != Kind::kOpt && (item.kind == Kind::kByte || item.kind == Kind::kClass)) {
      uint32_t cls = item.arg;
      if (item.kind == Kind::kByte) {
        cls = static_cast<uint32_t>(program_.classes.size());
        ByteSet one;
        one.set(item.byte);
        program_.classes.push_back(one);
      }
      Add({.op = Op::kRun, .greedy = node.greedy, .min = node.kind == Kind::kPlus ? 1u : 0u, .arg = cls});
      return;
    }
    if (node.kind == Kind::kPlus) {
      uint32_t top = Here();
      Emit(item);
      uint32_t split = Add({.op = Op::kSplit});
      Branch(split, top, Here(), node.greedy);
      return;
    }
    uint32_t split = Add({.op = Op::kSplit});
    Emit(item);
    if (node.kind == Kind::kStar) Add({.op = Op::kJump, .x = split});
    Branch(split, split + 1, Here(), node.greedy);
  }

  // Sets a split to prefer `more` (greedy) or `done` (lazy).
  void Branch(uint32_t split, uint32_t more, uint32_t done, bool greedy) {
    code()[split].x = greedy ? more : done;
    code()[split].y = greedy ? done : more;
  }

  std::vector<Inst>& code() { return program_.code; }
  uint32_t Here() const { return static_cast<uint32_t>(program_.code.size()); }
  uint32_t Add(Inst inst) {
    program_.code.push_back(inst);
    return Here() - 1;
  }

  PatternProgram& program_;
};

}  // namespace

int CompilePattern(std::string_view text, bool caseSensitive, PatternProgram& program) {
  if (text.empty()) return kPatternNoPattern;
  std::string lowered;
  if (!caseSensitive) {
    lowered.assign(text);
    for (char& c : lowered) c = static_cast<char>(LowerAscii(static_cast<uint8_t>(c)));
    text = lowered;
  }
  program.caseSensitive = caseSensitive;
  try {
    int groupCount = 0;
    Parser parser(text, program, groupCount, 0);
    NodePtr root = parser.ParseAll(true);
    program.groupCount = groupCount;
    FirstBytes first = First(*root, program);
    bool anyByte = first.nullable || !first.exact;
    for (int b = 0; b < 256; ++b) {
      uint8_t seen = caseSensitive ? static_cast<uint8_t>(b) : LowerAscii(static_cast<uint8_t>(b));
      program.canStartWith[static_cast<size_t>(b)] = anyByte || first.bytes.test(seen);
    }
    Emitter(program).Emit(*root);
    program.code.push_back({.op = Op::kMatch});
  } catch (const CompileError& error) {
    return error.code;
  } catch (const std::bad_alloc&) {
    return kPatternOutOfMemory;
  }
  return kPatternOk;
}

}  // namespace kestrelon
