// The evaluator's own state and the operations its units share: the token classes, the registers and
// the per-level state, the layout of token streams, and the functions that one unit of the evaluator
// (parse, aplfun, ctrl, trap, session) calls in another. Only those units include it.
#pragma once
#include <algorithm>
#include <array>
#include <cstring>
#include <new>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "base/errors.h"
#include "base/startup.h"
#include "format/disp.h"
#include "host/aplio.h"
#include "language/ctrl.h"
#include "language/dmx.h"
#include "language/fixapfns.h"
#include "language/parse.h"
#include "language/session.h"
#include "language/qem.h"
#include "language/qsym.h"
#include "language/quadsignal.h"
#include "language/scan.h"
#include "language/shadow.h"
#include "language/space.h"
#include "language/stack.h"
#include "language/tokenise.h"
#include "memory/memory3.h"
#include "memory/partner.h"
#include "primitives/cat.h"
#include "primitives/iass.h"
#include "primitives/index.h"
#include "primitives/key.h"
#include "primitives/op.h"
#include "sysfns/qsys.h"
#include "sysfns/quadcons.h"
#include "sysfns/quadvar.h"

namespace vantor {

// Operator codes of derived functions that are not token codes.
enum EvaluatorCode : uint32_t {
  kVariantOperatorCode = 252,
  kInNamespaceCode = 138,  // the operator of ns.⎕F: ⎕F applied with ns as the executing namespace
};

// Functions that need a left argument: SYNTAX ERROR "The function requires a left argument" when
// called monadically.
inline constexpr bool NeedsLeftArgument(uint32_t code) {
  return (code >= 15 && code <= 24) || code == 45 || code == 46 || code == 53 || code == 54 || code == kPrimJot;
}

// ---- Per-level state ---------------------------------------------------------------------------------

enum StateFlag : uint32_t {
  kFlagAssign = 1,         // names read now are assignment targets
  kFlagShy = 2,            // the value so far is shy
  kFlagLeftSingle = 4,     // LeftSlot holds a single item for stranding
  kFlagAwaitStep = 8,      // the operator chain in PendingItem becomes a function step once complete
  kFlagSlashOperand = 16,  // the awaited operand is a / ⌿ \ ⍀ still waiting for its own operand
  kFlagSelectTarget = 32,  // selective assignment: the next name read at this level is the target
  kFlagSelecting = 64,     // selective assignment: this level's value is the selection
};

// What the caller of a deferred application does with its result when the execution level ends.
enum ResumeAction : uint32_t {
  kResumeNone = 0,
  kResumeFunctionStep = 7,  // the result is the right argument; the pending item becomes pending
  kResumeValueStep = 9,     // the result is a value read (⎕ input)
  kResumeBoundary = 10,     // the result is the value so far; the boundary is read again
  kResumeNative = 11,       // the result goes back to C++ code that called the function
  kResumeService = 12,      // the result goes to the operator whose service frame is current
};

// A function run for C++ code (an operator's operand) leaves its result here and stops the loop
// that runs it.
inline constexpr uint32_t kSlotNativeResult = kSlotScratch + 1;

// Five words of evaluator state, saved in nesting and execution frames. The resume action of a
// deferred application rides in the top byte of the flags word.
struct LevelState {
  uint32_t flags = 0;
  uint32_t statementEnd = 0;   // offset in the stream of the current statement's right end
  uint32_t functionToken = 0;  // end offset of the pending function's token (for the error caret)
  uint32_t itemToken = 0;      // end offset of the function read while an application is deferred
  uint32_t memberStop = 0;     // in a member expression's level: the offset where that expression starts
};

struct TrapAction {
  char32_t action = 0;
  std::u32string expression;
  // The function whose ⎕TRAP value decided (took the error, or stopped the search with S): the frames
  // above it, or the session's own value. Error guards and :Trap in that function and above it come
  // first; those below it are not reached.
  uint32_t ownerDepth = 0;
  bool ownerIsSession = true;
};

// The evaluator's state outside the heap: one instance, shared by its units. (The registers and the
// token stream are root-block slots, so that compaction keeps them current.)
struct EvaluatorState {
  LevelState level;              // the running level's state; saved in nesting and execution frames
  bool nativeCallDone = false;   // a function run for C++ code has left its result in kSlotNativeResult
  uint32_t nativeDepth = 0;      // dfns running for C++ callers, one inside the other
  bool abandonLine = false;      // the rest of the line is abandoned (→ in immediate execution, escape)
  bool escapePending = false;    // → with nothing to its right: the latest suspension is cut back too
  uint32_t tokenEnd = 0;         // end offset of the token being read
  // End offset (in the running stream) of the token an error is shown under: token starts are only
  // worked out when an error is shown.
  uint32_t errorToken = 0;
  uint32_t branchLine = 0;       // a branch's target line, taken when the statement ends
  bool branchPending = false;
  bool atDfnStatementStart = false;  // the application completes a dfn statement
  uint32_t offNumber = 0;        // the system-function number of ⎕OFF
  TrapAction trap;               // the ⎕TRAP action chosen by the search, carried out after unwinding
  bool trappingSuppressed = false;  // while a trap's own expression runs
  SystemCommandHandler systemCommandHandler = nullptr;
  std::u32string pendingLatentExpression;
};
extern EvaluatorState g_evaluator;
inline constexpr uint32_t kResumeShift = 24;
inline uint32_t Resume(const LevelState& level) { return level.flags >> kResumeShift; }
inline void SetResume(uint32_t action) {
  g_evaluator.level.flags = (g_evaluator.level.flags & ((1u << kResumeShift) - 1)) | (action << kResumeShift);
}
// A member that is a system name (ns.⎕FX, ns.⎕IO) is kept as this flag, the name's token code and k.
inline constexpr uint32_t kSystemMemberFlag = 1u << 31;

// Execution-level words this unit uses besides the saved caller state.
enum ExecutionResultWord : uint32_t {
  kExecResult = 10,       // the value of the level's last statement
  kExecResultFlags = 13,  // 1 when that value is shy
  kExecCallerLeft = 15,   // the caller's registers, when the level opened in the middle of a statement
  kExecCallerRight = 16,
  kExecCallerPendingFunction = 19,
};

// ⎕OFF is read as a function with its own dispatch code, above the system functions', so that the
// value to its right is complete when it acts.
inline constexpr uint32_t kCodeOff = 223;

// System variables 11 and 12 stand for ⎕ and ⍞ as assignment targets (output).
inline constexpr uint32_t kQuadOutputVariable = 11;
inline constexpr uint32_t kQuoteOutputVariable = 12;

// Derived-function type-word flags: complete (nothing further left extends it) and, internally,
// waiting for its left operand.
inline constexpr uint32_t kDerivedCompleteFlag = 1u << 7;
inline constexpr uint32_t kDerivedAwaitingFlag = 1u << 8;
// A four-word record naming a system variable as an assignment target.
inline constexpr uint32_t kSystemTargetRecord = kKindRecord4 | (1u << 4);
// A four-word record naming an indexed assignment target A[I]: word 3 the name entry, word 4 the
// index list.
inline constexpr uint32_t kIndexedTargetRecord = kKindRecord4 | (3u << 4);

// ---- Registers -------------------------------------------------------------------------------------

inline Ref& Left() { return WorkingSlot(kSlotLeft); }
inline Ref& Right() { return WorkingSlot(kSlotRight); }
inline Ref& NewValue() { return WorkingSlot(kSlotNewValue); }
inline Ref& PendingFunction() { return WorkingSlot(kSlotPendingFunction); }
inline Ref& PendingItem() { return WorkingSlot(kSlotPendingItem); }
inline Ref& Tokens() { return WorkingSlot(kSlotTokens); }
inline uint32_t& Cursor() { return WorkingCursor(kSlotTokens); }

inline Ref Take(Ref& slot) {
  Ref value = slot;
  slot = 0;
  return value;
}
inline void Put(Ref& slot, Ref value) {
  Release(slot);
  slot = value;
}

inline constexpr uint32_t kStreamDataOffset = 16;  // pocket header and shape word
inline uint32_t StreamEnd() { return Tokens() + kStreamDataOffset + ShapeOf(Tokens())[0]; }
inline uint32_t StreamFirstToken() { return Tokens() + kStreamDataOffset + 16; }
inline uint8_t ByteAt(uint32_t offset) { return g_heapBase[offset]; }
inline uint8_t ReadByte() { return g_heapBase[--Cursor()]; }
inline uint32_t CursorOffset() { return Cursor() - Tokens(); }

inline void SaveState(uint32_t* words) {
  words[0] = g_evaluator.level.flags;
  words[1] = g_evaluator.level.statementEnd;
  words[2] = g_evaluator.level.functionToken;
  words[3] = g_evaluator.level.itemToken;
  words[4] = g_evaluator.level.memberStop;
}
inline void RestoreState(const uint32_t* words) { g_evaluator.level = {words[0], words[1], words[2], words[3], words[4]}; }

inline void ClearRegisters() {
  Release(Left());
  Release(Right());
  Release(NewValue());
  Release(PendingFunction());
  Release(PendingItem());
  // Left over only when a handler was abandoned by an error.
  Release(WorkingSlot(kSlotAxis));
  Release(WorkingSlot(kSlotCallLeft));
  Release(WorkingSlot(kSlotCallRight));
  g_evaluator.level.flags = 0;
}

// ---- Token layout ----------------------------------------------------------------------------------

// The offset of the start of the token that ends just before `end`.
inline uint32_t TokenStartBefore(uint32_t end) { return end - TokenLengthBefore(g_heapBase, end); }

// The right end of the statement that starts at `from`: the start of the next ⋄ token, or the end
// of the stream.
inline uint32_t StatementEndFrom(uint32_t from) {
  uint32_t statementEnd = StreamEnd();
  // Most lines hold one statement: without a diamond code byte anywhere after `from` there is no ⋄.
  if (from >= statementEnd || !std::memchr(g_heapBase + from, kTokDiamond, statementEnd - from)) return statementEnd;
  for (uint32_t p = StreamEnd(); p > from;) {
    uint32_t start = TokenStartBefore(p);
    if (ByteAt(p - 1) == kTokDiamond && start >= from) statementEnd = start;
    p = start;
  }
  return statementEnd;
}

// Moves on to the statement after the current one (after the ⋄ that ends it); false at the end of
// the stream.
inline bool NextStatement() {
  uint32_t end = Tokens() + g_evaluator.level.statementEnd;
  if (end >= StreamEnd()) return false;
  uint32_t next = StatementEndFrom(end + 3);
  g_evaluator.level.statementEnd = next - Tokens();
  Cursor() = next;
  return true;
}

// Positions the cursor at the end of the first statement of the current stream.
inline void StartStream() {
  uint32_t end = StatementEndFrom(StreamFirstToken() + 1);
  g_evaluator.level.statementEnd = end - Tokens();
  Cursor() = end;
}

using argcheck::IsArrayValue;

struct KeywordAt {
  uint32_t line;
  uint32_t r;  // offset of the structure token's last byte in the line's token bytes
  uint8_t code;
};

struct ServiceOperator {
  uint32_t code;
  bool (*runs)(Ref fn, const Ref& left, const Ref& right);
  void (*start)();
  bool (*next)(Temporaries& call);
  void (*accept)(Ref result);  // counted, 0 for none
  Ref (*finish)();
};

inline constexpr uint32_t kExecClauseEntry = 25;  // the clause keyword a jump went to evaluate

enum DfnMode : uint32_t { kDfnPlain = 0, kDfnGuardCondition = 1, kDfnGuardResult = 2, kDfnErrorNumbers = 3 };
// An error guard that has been passed: its error numbers (a reference word the dfn does not use
// otherwise) and the offset of its :: token.
inline constexpr uint32_t kDfnGuardNumbers = kExecResult;
inline constexpr uint32_t kDfnGuardPosition = kExecResultFlags;

// ---- Shared between the evaluator's units ------------------------------------------------------

void FunctionStep(Ref item);
void ValueStep(Ref value, bool single);
void Escape();
void WriteOutputValue(uint32_t k, Ref value);
void ScanImmediateText(const std::u32string& text);
void StartMember(uint32_t memberIndex);
bool BeforeNamespaceDot();
bool AtMemberExpressionStart();
void FinishMember();
[[noreturn]] void QuadOff(Ref argument);
Ref NamespaceOfArgument(Ref argument);
bool TakesTarget(Ref fn);

// parse.cpp
void CheckFunctionTreeDepth();
Ref BoundEntry(uint32_t index);
bool IsDerived(Ref r);
bool IsDfnObject(Ref r);
bool IsFunction(Ref r);
bool IsArgumentValue(Ref r);
Ref MakeDerived(Ref leftOperand, uint32_t op, Ref rightOperand);
void DerivedChildren(Ref, FieldRuns& out);
Ref FunctionAsValue(Ref fn);
Ref UnwrapFunction(Ref fn);
void MonadicOperatorStep(uint32_t op);
void DyadicOperatorStep(uint32_t op);
[[noreturn]] void SignalNeedsLeft();
[[noreturn]] void SignalTakesNoLeft();
void BuildSystemFunctionTable();
void BuildNiladicTable();
void InstallPrimitives(std::span<const PrimitiveRow> rows);
CallResult CallPrimitive(uint32_t code, const Ref& left, const Ref& right);
CallResult CallFunctionValue(Ref fn, const Ref& left, const Ref& right);
void InstallOperators(std::span<const OperatorRow> rows);
void FunctionItem(Ref item);
bool CompleteAtBoundary(uint32_t boundaryEnd);
void SaveCaller(Ref frame);
void EnterExecutionLevel(uint32_t subType, const std::u32string& text);
std::u32string ExecutedText(Ref right);
void EnterExecute(const std::u32string& text, Ref space);
void ReinstateCaller(Ref frame);
void ResumeCaller(Ref frame, Ref result, bool shy);
void Branch(Ref target);
void DisplayValue(Ref value);
bool StatementEndStep(uint32_t boundaryEnd);
void RunLine();
CallResult ApplyInNamespace(const Ref& derived, const Ref& left, const Ref& right);

// aplfun.cpp
bool IsRunningTradfn(Ref frame);
bool IsSuspendedTradfn(Ref frame);
bool IsInputOrExecuteLevel(Ref frame);
bool IsSessionLevel(Ref frame);
Ref SessionLevel();
void StartTradfnLine(uint32_t n);
void LeaveTradfn();
void TradfnStatementDone(bool shy);
void CallNiladic(Ref fn);
uint32_t TokenBase();
uint8_t StructureCodeAt(uint32_t r);
bool IsDfnFrame(Ref frame);
bool IsDfnCall(Ref fn);
bool IsInNamespaceCall(Ref fn);
bool IsTradfnCall(Ref fn);
uint32_t StatementEndBefore(uint32_t r);
uint32_t NextDfnBoundary(uint32_t close, uint32_t after);
void WriteDfn(Ref dfn, TransferWriter& out);
Ref ReadDfn(TransferReader& in, uint32_t size, uint32_t type);
void FinishTransferredDfn(const Ref& dfn, const Ref&, bool completed);
void DopStep(Ref op);
Ref InnermostDfnFrame();
void StartDefinedCall();
bool GuardHolds(Ref value);
void DfnStatementDone(bool shy);
bool StructureStep(uint32_t tokenEnd);
void DfnNameStep();
Ref CurrentFrameBelowNesting();
void LocaliseInDfn(Ref entry);
void LocaliseDmx();
CallResult RunDefinedForNative(const Ref& fn, const Ref& left, const Ref& right);
CallResult RunExecuteForNative(const Ref& left, const Ref& right);
const ServiceOperator* RunsInServiceFrame(Ref fn, const Ref& left, const Ref& right);
void RunService(bool given, Ref result);
void StartPendingService(const ServiceOperator& op);

// ctrl.cpp
bool Opens(uint8_t c);
bool Closes(uint8_t c);
const std::vector<KeywordAt>& FunctionKeywords(Ref fn);
uint32_t RecordLine(Ref record);
uint32_t RecordR(Ref record);
void ReplaceControlRecords(const KeywordAt& k, Ref record);
Ref MakeControlRecord(const KeywordAt& k, const Ref& values, const std::vector<uint32_t>& names);
void NextCase(const std::vector<KeywordAt>& all, size_t k);
void ControlStep(uint8_t code, uint32_t tokenEnd, uint32_t r);
void EvaluatedInputStep();
void QuoteInputStep();

// trap.cpp
bool SearchTraps(const AplError& error);
void PopFramesAbove(Ref target);
void RunTrapping(const Ref& stop);

// session.cpp

// ---- Templates shared between the units ---------------------------------------------------------

// True when `test` holds for the function value or for a function or array it is built from: the
// operands of derived functions (an axis is not a part), the tines of trains.
template <typename Test>
bool SomePartIs(Ref fn, Test test) {
  if (test(fn)) return true;
  if (!IsDerived(fn)) return false;
  CheckFunctionTreeDepth();
  return SomePartIs(Words(fn)[3], test) || (Words(fn)[4] != kPrimLeftBracket && SomePartIs(Words(fn)[5], test));
}

// True when the localisation frame of the execution level `frame` has a record whose entry passes
// `test`.
template <typename Test>
bool FindLocalRecord(Ref frame, Test test) {
  Ref below = FrameBelow(frame);
  if (!IsRef(below) || FrameClassOf(below) != kFrameLocalisation) return false;
  uint32_t* w = Words(below);
  for (uint32_t i = 0; i < w[kLocalCountWord]; ++i)
    if (test(w[kLocalFirstWord + 3 * i])) return true;
  return false;
}

// The index of the next keyword after k at k's nesting depth that satisfies `wanted`; a closer of
// the enclosing structure ends the search. Returns the list's size when there is none.
template <typename Wanted>
size_t ForwardKeyword(const std::vector<KeywordAt>& all, size_t k, Wanted wanted) {
  int depth = 0;
  for (size_t i = k + 1; i < all.size(); ++i) {
    uint8_t c = all[i].code;
    if (depth == 0 && wanted(c)) return i;
    if (Opens(c)) ++depth;
    else if (Closes(c) && depth-- == 0) return all.size();
  }
  return all.size();
}

}  // namespace vantor
