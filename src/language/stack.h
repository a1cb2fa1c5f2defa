// The state indicator: a chain of frame pockets from the current frame down to the immediate-
// execution frame. Nesting levels save the evaluator's registers; execution levels save the caller's
// token stream, cursor and symbol list; localisation frames hold the LocalRecords of shadowed names;
// service frames carry the state of operators that call back into APL.
#pragma once
#include <cstdint>
#include <string>

#include "primitives/dispatch.h"
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
inline constexpr uint32_t kExecutionFrameBit = 1u << 28;

// Nesting-level frame: the registers of the enclosing level.
enum NestingWord : uint32_t {
  kNestSavedLeft = 4,
  kNestSavedRight = 5,
  kNestSavedPendingFunction = 6,
  kNestItemList = 7,    // an index-bracket level's items so far; a member lookup's symbol index
  kNestSavedPendingItem = 8,
  kNestSavedState = 9,  // five words of evaluator state, 9-13
  kNestingFrameWords = 14,
};

// Execution-level frame: the state of the code that was running when it was pushed.
// Words 10, 13, 15, 16 and 19 are the evaluator's (a result and its flags, the caller's registers).
enum ExecutionWord : uint32_t {
  kExecLineNumber = 5,
  kExecFunction = 6,
  kExecCallerTokens = 7,
  kExecCallerCursor = 8,  // an offset into the caller's token stream
  kExecCallerSymbols = 9,
  kExecCallerPendingItem = 11,
  kExecCallerNamespace = 12,
  kExecControlState = 14,
  kExecTracerState = 17,
  kExecOwnSymbols = 18,
  kExecCallerState = 20,  // five words of evaluator state, 20-24
  kExecutionFrameWords = 26,
};

// Localisation frame: a count and the LocalRecords (entry, saved value, saved state).
// A dfn frame (class 5, sub-type 20) keeps what an execution-level frame keeps of its caller in the
// same words (7 to 24), and its own arguments, operands and statement position. Dfn objects (the
// values that braces make) share the frame's low type bits, so the two are told apart by a flag.
inline constexpr uint32_t kDfnFrameFlag = 1u << 24;
enum DfnFrameWord : uint32_t {
  kDfnAlpha = 4,          // ⍺, 0 until it has a value
  kDfnOmega = 5,          // ⍵
  kDfnAlphaAlpha = 6,     // ⍺⍺ (a function code or reference, or an array)
  kDfnOmegaOmega = 14,    // ⍵⍵
  kDfnSelf = 17,          // the dfn object (∇)
  kDfnMode = 18,          // what the current statement is: plain, guard condition, guard result
  kDfnOpen = 25,          // offsets of the braces' structure tokens in the token bytes
  kDfnClose = 26,
  kDfnStatementStart = 27,  // offset of the boundary token left of the current statement
  kDfnStatementEnd = 28,    // and of the one right of it
  kDfnFrameWords = 29,
};
enum DfnObjectWord : uint32_t {
  kDfnObjectStream = 3,     // the token stream that holds the braces
  kDfnObjectSymbols = 4,    // its symbol list
  kDfnObjectNamespace = 5,  // the namespace the dfn was made in
  kDfnObjectOpen = 6,       // offsets of the braces' structure tokens in the token bytes
  kDfnObjectClose = 7,
  kDfnObjectKind = 8,       // 0 dfn, 1 monadic operator (⍺⍺), 2 dyadic operator (⍵⍵)
  kDfnObjectWords = 9,
};

// Operator service frame (class 5, sub-type the operator's token code, or a train's code): an
// operator that calls a dfn or defined function, between those calls. It keeps what an
// execution-level frame keeps of its caller in the same words (7 to 24), and the operator's state.
enum ServiceFrameWord : uint32_t {
  kServiceFunction = 4,  // the derived function being applied
  kServiceLeft = 5,      // its arguments (the left 0 for a monadic call)
  kServiceRight = 6,
  kServiceState = 10,    // a value the operator keeps (the results so far, the value so far)
  kServiceIndex = 13,    // numbers the operator keeps (the item whose call runs, a phase)
  kServiceCount = 14,
  kServiceExtra = 17,    // a second value
  kServiceFrameWords = 25,
};
// The sub-types of operator service frames: ∘ / ⌿ ¨ ⍣ ⍨ ⍤ and the two kinds of train.
inline constexpr uint32_t kOperatorServiceTypes[] = {56, 64, 65, 71, 72, 74, 85, 232, 233};
bool IsOperatorServiceFrame(Ref frame);

enum LocalisationWord : uint32_t {
  kLocalCountWord = 4,
  kLocalFirstWord = 5,
  kLocalisationFrameWords = 5,
};

inline Ref CurrentFrame() { return RootWordAt(kRootCurrentFrame); }
inline uint32_t FrameClassOf(Ref frame) { return (TypeWord(frame) >> 12) & 0xF; }
inline uint32_t FrameSubTypeOf(Ref frame) { return (TypeWord(frame) >> 4) & 0xFF; }
inline Ref FrameBelow(Ref frame) { return Words(frame)[kFrameLinkWord]; }

// True for the frames that keep their caller's state in words 7 to 24: execution levels, dfn
// frames and operator service frames.
bool KeepsCaller(Ref frame);

// Registers the frame layouts and creates the immediate-execution frame.
void InitialiseStack();

// A new frame of the given class and sub-type (count 1, all words 0). May compact.
Ref NewFrame(uint32_t frameClass, uint32_t subType);
// Links `frame` on top of the chain; the chain takes over the caller's count.
void PushFrame(Ref frame);
// The frame `depth` frames below the top (0: the current frame). Depths stay valid across an
// allocation, which may move the frames.
Ref FrameAtDepth(uint32_t depth);
// Changes the sub-type of a frame (a defined function's frame is suspended and resumed in place).
void SetFrameSubType(Ref frame, uint32_t subType);
// Unlinks the top frame and hands its count to the caller. The immediate frame cannot be popped.
Ref PopFrame();

// Appends a LocalRecord (entry, saved value, saved state) to the localisation frame that belongs
// to the current execution level (creating it directly below that level when it has none). The
// record counts the entry and the saved value (both borrowed).
void AppendLocalRecord(Ref entry, uint32_t savedValue, uint32_t savedState);

// Interrupts. The first request (the console's break signal) is a weak interrupt; a second one
// while the first is still pending is a strong interrupt, acted on at the next allocation or
// immediate-execution step with INTERRUPT. Safe to call from a signal handler.
void RequestInterrupt();
// Drops any interrupt requested and not yet acted on.
void ClearInterrupts();
// At the start of a line of a defined function or of a dfn statement, while interrupts are enabled:
// a pending strong interrupt signals INTERRUPT, a weak one error 1002.
void CheckInterruptAtLine();
// Installs the console break handler.
void InstallInterruptHandler();

// The state-indicator reports (niladic system functions).
// The name and line of the innermost function the state indicator reports (a dfn under the
// function in whose lines it stands); false when there is none or it has no name.
bool CurrentFunctionPlace(std::u32string& name, uint32_t& line);
Ref QuadSI();
Ref QuadLC();
Ref QuadXSI();
Ref QuadNSI();
Ref QuadRSI();
Ref QuadSTACK();

// Discards every frame above `frame` (0: down to the immediate-execution frame), undoing the
// localisations of the frames it removes in reverse order.
void CutBackTo(Ref frame);

}  // namespace vantor
