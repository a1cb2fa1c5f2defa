// Traditional defined functions: fixing a function from lines of text (⎕FX), the header grammar and
// the descriptor derived from it, the function object (its name list, the token stream of every
// line, the parsed header), and the representations ⎕NR, ⎕CR and ⎕VR regenerated from the tokens.
// Calling a function is the evaluator's: it reads the header and the lines through this interface.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "primitives/dispatch.h"
#include "memory/pockutil.h"

namespace vantor {

// The function object: a pocket of kind 3. Bits 4-15 of its type word hold the low twelve bits of
// the header descriptor; bit 30 marks a fixed function.
enum TradfnWord : uint32_t {
  kTradfnNames = 3,   // the function's name list (a symbol list shared by all its lines)
  kTradfnLines = 4,   // nested vector: the token stream of the header (item 0) and of each line
  kTradfnHeader = 5,  // int32 vector: the parsed header (TradfnHeaderItem)
  kTradfnSerial = 6,   // a number no other fixed function has had (keys caches of derived data)
  kTradfnMonitor = 7,  // four words for statistics, cleared at fixing
  kTradfnWords = 11,
};
inline constexpr uint32_t kTradfnFixedFlag = 1u << 30;

// Header descriptor bits.
enum HeaderBit : uint32_t {
  kHeaderValid = 1u << 0,
  kHeaderClash = 1u << 1,
  kHeaderRight = 1u << 2,
  kHeaderLeft = 1u << 3,
  kHeaderLeftOptional = 1u << 4,
  kHeaderResult = 1u << 5,
  kHeaderShyResult = 1u << 6,
  kHeaderLeftOperand = 1u << 7,
  kHeaderRightOperand = 1u << 8,
  kHeaderAlwaysSet = 1u << 10,
  kHeaderRightList = 1u << 11,
  kHeaderResultList = 1u << 12,
};

// The parsed header: the descriptor, then symbol indexes into the name list (kNoHeaderName where
// the header has none; the first name of a list), the lengths of the result and right-argument
// lists (0 without a list), then the locals, then every name of the result list and of the right
// argument list. A local that is a system variable is written as kSystemLocal plus its number.
enum TradfnHeaderItem : uint32_t {
  kHeaderDescriptor = 0,
  kHeaderFunctionName,
  kHeaderResultName,
  kHeaderLeftName,
  kHeaderRightName,
  kHeaderLeftOperandName,
  kHeaderRightOperandName,
  kHeaderResultCount,
  kHeaderRightCount,
  kHeaderFirstLocal,
};
inline constexpr uint32_t kNoHeaderName = 0xFFFF;
inline constexpr uint32_t kSystemLocal = 0x10000;

bool IsTradfn(Ref r);
inline uint32_t TradfnLineCount(Ref fn) { return static_cast<uint32_t>(ElementCount(Words(fn)[kTradfnLines])) - 1; }
// The token stream of line n (0: the header).
inline Ref TradfnLine(Ref fn, uint32_t n) { return DataOf<Ref>(Words(fn)[kTradfnLines])[n]; }
inline uint32_t TradfnHeaderValue(Ref fn, uint32_t item) { return DataOf<uint32_t>(Words(fn)[kTradfnHeader])[item]; }
inline uint32_t TradfnLocalCount(Ref fn) {
  return static_cast<uint32_t>(ElementCount(Words(fn)[kTradfnHeader])) - kHeaderFirstLocal -
         TradfnHeaderValue(fn, kHeaderResultCount) - TradfnHeaderValue(fn, kHeaderRightCount);
}
// Name i of the result list (`count` kHeaderResultCount) or of the right argument list
// (kHeaderRightCount), as a symbol index.
inline uint32_t TradfnListName(Ref fn, TradfnHeaderItem count, uint32_t i) {
  uint32_t at = kHeaderFirstLocal + TradfnLocalCount(fn) + i;
  if (count == kHeaderRightCount) at += TradfnHeaderValue(fn, kHeaderResultCount);
  return TradfnHeaderValue(fn, at);
}

// The function's name, as its header gives it.
std::u32string TradfnName(Ref fn);

// Fixes a function from its lines and binds it to its name in the executing namespace. On failure
// `failedLine` is the index (origin 0) of the line that could not be tokenised, or 0 when the lines
// do not form a function (bad header, limits, a name in use for something that is not a function).
struct FixOutcome {
  bool fixed = false;
  uint32_t failedLine = 0;
  std::u32string name;
};
FixOutcome FixFunction(const std::vector<std::u32string>& lines);

// ⎕FX, ⎕NR, ⎕CR and ⎕VR.
CallResult QuadFX(const Ref& left, const Ref& right);
CallResult QuadNR(const Ref& left, const Ref& right);
CallResult QuadCR(const Ref& left, const Ref& right);
CallResult QuadVR(const Ref& left, const Ref& right);

// The lines of a function regenerated from its tokens (header first).
std::vector<std::u32string> FunctionLines(Ref fn);

// Registers the function kind's layout. Called once at start-up.
void InitialiseFunctions();

}  // namespace vantor
