// The state indicator: a chain of frame pockets from the current frame down to the immediate-
// execution frame. Nesting levels save the evaluator's registers; execution levels save the caller's
// token stream, cursor and symbol list; localisation frames hold the LocalRecords of shadowed names;
// service frames carry the state of operators that call back into APL.
#pragma once
#include <cstdint>

#include "memory/memory1.h"

namespace vantor {

enum StackRootWord : uint32_t {
  kRootCurrentFrame = kRootStackWords,
};

// Frame classes (type-word bits 12-15 of a kind-5 frame) and sub-types (bits 4-11).
enum FrameClass : uint32_t {
  kFrameImmediate = 0,
  kFrameNesting = 2,
  kFrameExecution = 3,
  kFrameLocalisation = 4,
  kFrameService = 5,
  kFrameTemporary = 6,
};
enum FrameSubType : uint32_t {
  kNestingOther = 0,
  kNestingParenthesis = 1,
  kNestingBracket = 2,
  kExecutionEvaluatedInput = 3,
  kExecutionExecute = 4,
  kExecutionSuspended = 8,
  kExecutionRunning = 9,
  kServiceDfn = 20,
};

inline constexpr uint32_t kFrameLinkWord = 3;

inline Ref CurrentFrame() { return RootWordAt(kRootCurrentFrame); }
inline uint32_t FrameClassOf(Ref frame) { return (TypeWord(frame) >> 12) & 0xF; }
inline uint32_t FrameSubTypeOf(Ref frame) { return (TypeWord(frame) >> 4) & 0xFF; }
inline Ref FrameBelow(Ref frame) { return Words(frame)[kFrameLinkWord]; }

// Creates the immediate-execution frame at the bottom of an empty chain.
void InitialiseStack();

// Appends a LocalRecord (entry, saved value, saved state) to the localisation frame that belongs
// to the current execution level (creating it directly below that level when it has none). The
// entry is counted by the record.
void AppendLocalRecord(Ref entry, uint32_t savedValue, uint32_t savedState);

// Discards every frame above `frame`, undoing localisations in reverse order.
void CutBackTo(Ref frame);

}  // namespace vantor
