// Pattern matcher: depth-first backtracking over the compiled program with an explicit
// stack, so that neither the pattern nor the text can exhaust the machine stack.
//
// Without back-references, whether the program can reach its end from instruction pc at
// text position pos does not depend on how it got there, so each (pc, pos) pair that was
// tried once and failed is not tried again (the search keeps one bit per pair). That
// keeps a search polynomial in the text length whatever the pattern. Patterns with
// back-references, and the sub-matches of negations, are bounded by the step budget.

#include "shared/pattern.h"

#include "shared/pattern_program.h"

#include <algorithm>
#include <new>

namespace kestrelon {

namespace {

constexpr size_t kMaxMemoBits = size_t{1} << 28;  // 32 MiB of visited bits at most

struct Frame {
  enum Type : uint8_t { kBranch, kRestore, kRunGreedy, kRunLazy };
  Type type;
  uint32_t pc;    // resume instruction, or the slot to restore
  size_t pos;     // resume position
  ptrdiff_t aux;  // old slot value, or the far end of a run
};

}  // namespace

struct Pattern::Matcher {
  const PatternProgram& prog;
  const uint8_t* text = nullptr;
  size_t length = 0;
  size_t base = 0;  // the search's start position
  bool memoize;
  uint64_t budget = 0;
  uint64_t steps = 0;
  bool exhausted = false;
  // Kept between searches so that repeated searches do not allocate.
  std::vector<ptrdiff_t> slots;
  std::vector<Frame> stack;
  std::vector<uint64_t> visited;
  size_t visitedUsed = 0;  // words of `visited` that may hold bits of this search

  explicit Matcher(const PatternProgram& p) : prog(p), memoize(!p.hasBackrefs) {}

  void Begin(std::string_view t, size_t start) {
    text = reinterpret_cast<const uint8_t*>(t.data());
    length = t.size();
    base = start;
    budget = kBaseStepBudget + kStepsPerTextByte * (t.size() - start);
    steps = 0;
    exhausted = false;
    stack.clear();
    std::fill(visited.begin(), visited.begin() + static_cast<ptrdiff_t>(visitedUsed), 0);
    visitedUsed = 0;
  }

  void ResetSlots() { slots.assign(2 * static_cast<size_t>(prog.groupCount), -1); }

  uint8_t At(size_t pos) const { return prog.caseSensitive ? text[pos] : LowerAscii(text[pos]); }

  bool InClass(uint32_t cls, size_t pos) const { return pos < length && prog.classes[cls].test(At(pos)); }

  // Marks (pc, pos) as tried; false when it was tried before (and so cannot succeed).
  bool FirstVisit(uint32_t pc, size_t pos) {
    size_t bit = (pos - base) * prog.code.size() + pc;
    if (bit >= kMaxMemoBits) return true;  // beyond the memo's reach: just try it
    size_t word = bit / 64;
    if (word >= visited.size()) visited.resize(std::max(word + 1, visited.size() * 2), 0);
    visitedUsed = std::max(visitedUsed, word + 1);
    uint64_t mask = uint64_t{1} << (bit % 64);
    if (visited[word] & mask) return false;
    visited[word] |= mask;
    return true;
  }

  bool Push(Frame frame) {
    if (stack.size() >= kMaxBacktrackEntries) {
      exhausted = true;
      return false;
    }
    stack.push_back(frame);
    return true;
  }

  void SetSlot(uint32_t slot, ptrdiff_t value) {
    Push({Frame::kRestore, slot, 0, slots[slot]});
    slots[slot] = value;
  }

  // Pops back to `floor`, undoing captures; used when a negation's sub-match succeeded.
  void Unwind(size_t floor) {
    while (stack.size() > floor) {
      const Frame& f = stack.back();
      if (f.type == Frame::kRestore) slots[f.pc] = f.aux;
      stack.pop_back();
    }
  }

  // Takes the next alternative from the stack; false when none is left above `floor`.
  bool Backtrack(size_t floor, uint32_t& pc, size_t& pos) {
    while (stack.size() > floor) {
      Frame& f = stack.back();
      switch (f.type) {
        case Frame::kRestore:
          slots[f.pc] = f.aux;
          stack.pop_back();
          continue;
        case Frame::kBranch:
          pc = f.pc;
          pos = f.pos;
          stack.pop_back();
          return true;
        case Frame::kRunGreedy:  // one repetition fewer
          pc = f.pc;
          pos = --f.pos;
          if (f.pos <= static_cast<size_t>(f.aux)) stack.pop_back();
          return true;
        case Frame::kRunLazy:  // one repetition more
          pc = f.pc;
          pos = ++f.pos;
          if (f.pos >= static_cast<size_t>(f.aux)) stack.pop_back();
          return true;
      }
    }
    return false;
  }

  // Runs the program from (pc, pos) until kMatch (or kNegateOk in a sub-match).
  bool Run(uint32_t pc, size_t pos, size_t& end, bool memo) {
    const size_t floor = stack.size();
    for (;;) {
      if (exhausted || ++steps > budget) {
        exhausted = true;
        Unwind(floor);
        return false;
      }
      bool ok = true;
      if (memo && !FirstVisit(pc, pos)) {
        ok = false;
      } else {
        const Inst& in = prog.code[pc];
        switch (in.op) {
          case Op::kByte:
            ok = pos < length && At(pos) == in.byte;
            ++pc, ++pos;
            break;
          case Op::kClass:
            ok = InClass(in.arg, pos);
            ++pc, ++pos;
            break;
          case Op::kRun: {
            size_t from = pos;
            size_t to = pos;
            while (InClass(in.arg, to)) ++to;
            // A greedy run tries its continuations from `to` down; entering it again
            // anywhere inside [from, to] could only retry a subset of them, in the same
            // order, so those entries are spent too. (A lazy run tries them upward; there
            // the shortcut could change which groups are reported, so it is left out.)
            if (memo && in.greedy)
              for (size_t p = from + 1; p <= to; ++p) FirstVisit(pc, p);
            size_t least = from + in.min;
            if (to < least) {
              ok = false;
              break;
            }
            ++pc;
            if (in.greedy) {
              if (to > least) ok = Push({Frame::kRunGreedy, pc, to, static_cast<ptrdiff_t>(least)});
              pos = to;
            } else {
              if (to > least) ok = Push({Frame::kRunLazy, pc, least, static_cast<ptrdiff_t>(to)});
              pos = least;
            }
            break;
          }
          case Op::kSplit:
            ok = Push({Frame::kBranch, in.y, pos, 0});
            pc = in.x;
            break;
          case Op::kJump: pc = in.x; break;
          case Op::kSave:
            SetSlot(in.arg, static_cast<ptrdiff_t>(pos));
            ++pc;
            break;
          case Op::kBackref: {
            ptrdiff_t s = slots[2 * in.arg], e = slots[2 * in.arg + 1];
            if (s < 0 || e < s) {  // the group has not matched (yet): nothing to repeat
              ok = false;
              break;
            }
            size_t n = static_cast<size_t>(e - s);
            ok = pos + n <= length;
            for (size_t i = 0; ok && i < n; ++i) ok = At(static_cast<size_t>(s) + i) == At(pos + i);
            pos += n;
            ++pc;
            break;
          }
          case Op::kNegate: {
            size_t ignored;
            size_t mark = stack.size();
            bool matched = Run(pc + 1, pos, ignored, false);
            Unwind(mark);
            ok = !matched && !exhausted;
            pc = in.x;
            break;
          }
          case Op::kNegateOk:
          case Op::kMatch:
            end = pos;
            return true;
          case Op::kTextEnd:
            ok = pos == length;
            ++pc;
            break;
        }
      }
      if (!ok && !Backtrack(floor, pc, pos)) return false;
    }
  }
};

Pattern::Pattern() = default;
Pattern::~Pattern() = default;

int Pattern::Compile(std::string_view text, bool caseSensitive) {
  compiled_ = false;
  matcher_.reset();
  groupCount_ = 0;
  try {
    auto program = std::make_unique<PatternProgram>();
    int code = CompilePattern(text, caseSensitive, *program);
    if (code != kPatternOk) {
      program_.reset();
      return code;
    }
    groupCount_ = program->groupCount;
    program_ = std::move(program);
  } catch (const std::bad_alloc&) {
    program_.reset();
    return kPatternOutOfMemory;
  }
  compiled_ = true;
  return kPatternOk;
}

bool Pattern::Search(std::string_view text, size_t start, PatternMatch& match) {
  hitLimit_ = false;
  if (!compiled_ || start >= text.size()) return false;
  try {
    if (!matcher_) matcher_ = std::make_unique<Matcher>(*program_);
    Matcher& m = *matcher_;
    m.Begin(text, start);
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    for (size_t at = start; at < text.size(); ++at) {
      if (program_->anchoredAtStart && at != start) break;
      if (!program_->canStartWith[bytes[at]]) continue;
      m.ResetSlots();
      size_t end = 0;
      if (m.Run(0, at, end, m.memoize)) {
        match.start = at;
        match.end = end;
        match.groups.assign(static_cast<size_t>(groupCount_), {});
        for (size_t g = 0; g < match.groups.size(); ++g) {
          match.groups[g].start = m.slots[2 * g];
          match.groups[g].end = m.slots[2 * g + 1];
          if (!match.groups[g].TookPart()) match.groups[g] = {};
        }
        return true;
      }
      if (m.exhausted) {
        hitLimit_ = true;
        return false;
      }
    }
  } catch (const std::bad_alloc&) {
    hitLimit_ = true;
  }
  return false;
}

}  // namespace kestrelon
