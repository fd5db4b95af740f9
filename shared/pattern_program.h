// The compiled form of a pattern: a small instruction program run by a backtracking
// matcher. Private to the pattern implementation.
#pragma once

#include "shared/pattern.h"

#include <array>
#include <bitset>
#include <cstdint>
#include <vector>

namespace kestrelon {

using ByteSet = std::bitset<256>;

enum class Op : uint8_t {
  kByte,     // one given byte
  kClass,    // one byte of classes[arg]
  kRun,      // repetition of classes[arg], at least `min`, greedy or lazy
  kSplit,    // try x first, then y
  kJump,     // continue at x
  kSave,     // record the position in capture slot arg
  kBackref,  // the text of group arg again
  kNegate,   // run the sub-program from here+1; fail if it matches, else continue at x
  kNegateOk, // end of a negation's sub-program: it matched
  kTextEnd,  // only at the end of the text
  kMatch,    // the whole pattern matched
};

struct Inst {
  Op op;
  bool greedy = true;
  uint8_t byte = 0;
  uint32_t min = 0;
  uint32_t arg = 0;
  uint32_t x = 0;
  uint32_t y = 0;
};

struct PatternProgram {
  std::vector<Inst> code;
  std::vector<ByteSet> classes;
  bool caseSensitive = true;
  bool anchoredAtStart = false;
  bool hasBackrefs = false;
  // Text bytes, as written, that a match can begin with; all bytes when unknown.
  std::array<bool, 256> canStartWith{};
  int groupCount = 0;
};

// Lowers ASCII A-Z only, as case-insensitive matching is defined.
inline uint8_t LowerAscii(uint8_t c) { return (c >= 'A' && c <= 'Z') ? static_cast<uint8_t>(c + 32) : c; }

// Compiles `text` into `program`; returns a PatternError code.
int CompilePattern(std::string_view text, bool caseSensitive, PatternProgram& program);

}  // namespace kestrelon
