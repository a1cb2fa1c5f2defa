// The evaluator: reads each statement's token bytes from right to left and reduces them with the
// registers of the root block (stranding, function and operator binding, assignment, brackets and
// parentheses as nesting levels), applies functions through the dispatch tables, and runs the outer
// loop that reads, scans and executes lines. ⍎ and ⎕ input run their text in an execution-level frame
// on the state indicator, so nested execution never recurses on the C++ stack.
#include "language/parse.h"

#include <algorithm>
#include <array>
#include <span>
#include <cstring>
#include <new>
#include <stdexcept>
#include <string>
#include <optional>
#include <utility>
#include <vector>

#include "format/disp.h"
#include "host/aplio.h"
#include "base/startup.h"
#include "language/ctrl.h"
#include "language/dmx.h"
#include "language/fixapfns.h"
#include "language/qem.h"
#include "language/quadsignal.h"
#include "language/qsym.h"
#include "language/shadow.h"
#include "language/scan.h"
#include "language/space.h"
#include "language/stack.h"
#include "language/tokenise.h"
#include "base/errors.h"
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

static constexpr char kUnit[] = "parse";

// ---- Token classes -----------------------------------------------------------------------------

enum TokenClass : uint8_t {
  kTcReject,          // codes the scanner never writes: SYNTAX ERROR
  kTcNonce,           // codes of facilities this interpreter does not have
  kTcSystemError,     // code 70
  kTcConstant01,      // the shared 0 and 1
  kTcFunction,        // primitive functions
  kTcSkip0,
  kTcSkip1,           // one operand byte
  kTcSkip2,           // two operand bytes
  kTcIdiom,           // [o][k][27]
  kTcNamespaceDot,    // [h][l][28]
  kTcSegment,         // [h][l][29]
  kTcJot,
  kTcBranch,
  kTcAssign,
  kTcQuadInput,       // ⎕
  kTcQuoteInput,      // ⍞
  kTcSystemName,      // [k][61/62/63/69]
  kTcDyadicOperator,
  kTcMonadicOperator,
  kTcDfnName,         // [n][76]
  kTcRootSpace,
  kTcParentSpace,
  kTcUnknown,         // [h][l][81]
  kTcConstant,        // [i][86/87]
  kTcExtension,       // [.. h l 95]
  kTcOpenParen,
  kTcCloseParen,
  kTcOpenBracket,
  kTcCloseBracket,
  kTcSemicolon,
  kTcStatementEnd,    // ⋄ [l][h][102], label mark [i][106]
  kTcLineStart,       // 103
  kTcZilde,
  kTcStructure,       // [0][h][l][c][111]
};

static constexpr std::array<TokenClass, 112> MakeTokenClasses() {
  std::array<TokenClass, 112> t{};
  for (auto& c : t) c = kTcReject;
  t[0] = t[1] = kTcConstant01;
  for (int c = 2; c <= 12; ++c) t[c] = kTcFunction;
  for (int c = 14; c <= 24; ++c) t[c] = kTcFunction;
  for (int c = 30; c <= 55; ++c) t[c] = kTcFunction;
  for (int c = 64; c <= 67; ++c) t[c] = kTcFunction;
  t[82] = t[83] = kTcFunction;
  t[13] = t[26] = kTcSkip2;
  t[25] = t[101] = t[94] = kTcSkip1;
  t[104] = kTcSkip0;
  t[27] = kTcIdiom;
  t[28] = kTcNamespaceDot;
  t[29] = kTcSegment;
  t[56] = kTcJot;
  t[57] = kTcBranch;
  t[58] = kTcAssign;
  t[59] = kTcQuadInput;
  t[60] = kTcQuoteInput;
  t[61] = t[62] = t[63] = t[69] = kTcSystemName;
  t[68] = t[72] = t[85] = t[84] = kTcDyadicOperator;
  t[71] = t[73] = t[74] = t[75] = t[89] = kTcMonadicOperator;
  t[76] = kTcDfnName;
  t[77] = kTcRootSpace;
  t[78] = kTcParentSpace;
  t[81] = kTcUnknown;
  t[86] = t[87] = kTcConstant;
  t[95] = kTcExtension;
  t[96] = kTcOpenParen;
  t[97] = kTcCloseParen;
  t[98] = kTcOpenBracket;
  t[99] = kTcCloseBracket;
  t[100] = kTcSemicolon;
  t[102] = t[106] = kTcStatementEnd;
  t[103] = kTcLineStart;
  t[107] = kTcZilde;
  t[111] = kTcStructure;
  t[70] = kTcSystemError;
  for (int c : {80, 88, 90, 91, 92, 93}) t[c] = kTcNonce;
  return t;
}
static constexpr std::array<TokenClass, 112> kTokenClass = MakeTokenClasses();

// Operator codes of derived functions that are not token codes.
enum EvaluatorCode : uint32_t {
  kVariantOperatorCode = 252,
  kInNamespaceCode = 138,  // the operator of ns.⎕F: ⎕F applied with ns as the executing namespace
};

// Functions that need a left argument: SYNTAX ERROR "The function requires a left argument" when
// called monadically.
static constexpr bool NeedsLeftArgument(uint32_t code) {
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
static bool g_nativeCallDone = false;
static bool g_abandonLine = false;  // the rest of the line is abandoned (→ in immediate execution, escape)
static uint32_t g_nativeDepth = 0;  // dfns running for C++ callers, one inside the other

// Five words of evaluator state, saved in nesting and execution frames. The resume action of a
// deferred application rides in the top byte of the flags word.
struct LevelState {
  uint32_t flags = 0;
  uint32_t statementEnd = 0;   // offset in the stream of the current statement's right end
  uint32_t functionToken = 0;  // end offset of the pending function's token (for the error caret)
  uint32_t itemToken = 0;      // end offset of the function read while an application is deferred
  uint32_t memberStop = 0;     // in a member expression's level: the offset where that expression starts
};
static LevelState g_level;
inline constexpr uint32_t kResumeShift = 24;
static uint32_t Resume(const LevelState& level) { return level.flags >> kResumeShift; }
static void SetResume(uint32_t action) {
  g_level.flags = (g_level.flags & ((1u << kResumeShift) - 1)) | (action << kResumeShift);
}
// End offset (in the running stream) of the token an error is shown under: token starts are only
// worked out when an error is shown.
static uint32_t g_errorToken = 0;

static void FunctionStep(Ref item);
static void ValueStep(Ref value, bool single);
static void Escape();
static void WriteOutputValue(uint32_t k, Ref value);
static void ScanImmediateText(const std::u32string& text);
static void StartMember(uint32_t memberIndex);
// A member that is a system name (ns.⎕FX, ns.⎕IO) is kept as this flag, the name's token code and k.
inline constexpr uint32_t kSystemMemberFlag = 1u << 31;
static bool BeforeNamespaceDot();
static bool AtMemberExpressionStart();
static void FinishMember();
[[noreturn]] static void QuadOff(Ref argument);
static Ref NamespaceOfArgument(Ref argument);
static bool TakesTarget(Ref fn);

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

static Ref& Left() { return WorkingSlot(kSlotLeft); }
static Ref& Right() { return WorkingSlot(kSlotRight); }
static Ref& NewValue() { return WorkingSlot(kSlotNewValue); }
static Ref& PendingFunction() { return WorkingSlot(kSlotPendingFunction); }
static Ref& PendingItem() { return WorkingSlot(kSlotPendingItem); }
static Ref& Tokens() { return WorkingSlot(kSlotTokens); }
static uint32_t& Cursor() { return WorkingCursor(kSlotTokens); }

static Ref Take(Ref& slot) {
  Ref value = slot;
  slot = 0;
  return value;
}
static void Put(Ref& slot, Ref value) {
  Release(slot);
  slot = value;
}

static constexpr uint32_t kStreamDataOffset = 16;  // pocket header and shape word
static uint32_t StreamEnd() { return Tokens() + kStreamDataOffset + ShapeOf(Tokens())[0]; }
static uint32_t StreamFirstToken() { return Tokens() + kStreamDataOffset + 16; }
static uint8_t ByteAt(uint32_t offset) { return g_heapBase[offset]; }
static uint8_t ReadByte() { return g_heapBase[--Cursor()]; }
static uint32_t CursorOffset() { return Cursor() - Tokens(); }

static void SaveState(uint32_t* words) {
  words[0] = g_level.flags;
  words[1] = g_level.statementEnd;
  words[2] = g_level.functionToken;
  words[3] = g_level.itemToken;
  words[4] = g_level.memberStop;
}
static void RestoreState(const uint32_t* words) { g_level = {words[0], words[1], words[2], words[3], words[4]}; }

static void ClearRegisters() {
  Release(Left());
  Release(Right());
  Release(NewValue());
  Release(PendingFunction());
  Release(PendingItem());
  // Left over only when a handler was abandoned by an error.
  Release(WorkingSlot(kSlotAxis));
  Release(WorkingSlot(kSlotCallLeft));
  Release(WorkingSlot(kSlotCallRight));
  g_level.flags = 0;
}

// ---- Token layout ----------------------------------------------------------------------------------

// The offset of the start of the token that ends just before `end`.
static uint32_t TokenStartBefore(uint32_t end) {
  uint8_t code = ByteAt(end - 1);
  if (code >= 112) return end - 1;
  switch (code) {
    case 95: {
      uint8_t inner = ByteAt(end - 4);
      return (inner == 86 || inner == 87 || inner == 94) ? end - 5 : end - 4;
    }
    case 86: case 87: case 94: case 106: case 76: case 61: case 62: case 63: case 69: case 25: case 101:
      return end - 2;
    case 28: case 29: case 81: case 13: case 26: case 102: case 27:
      return end - 3;
    case 111:
      return end - 5;
    default:
      return end - 1;
  }
}

// The right end of the statement that starts at `from`: the start of the next ⋄ token, or the end
// of the stream.
static uint32_t StatementEndFrom(uint32_t from) {
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
static bool NextStatement() {
  uint32_t end = Tokens() + g_level.statementEnd;
  if (end >= StreamEnd()) return false;
  uint32_t next = StatementEndFrom(end + 3);
  g_level.statementEnd = next - Tokens();
  Cursor() = next;
  return true;
}

// Positions the cursor at the end of the first statement of the current stream.
static void StartStream() {
  uint32_t end = StatementEndFrom(StreamFirstToken() + 1);
  g_level.statementEnd = end - Tokens();
  Cursor() = end;
}

// ---- Symbols and names -------------------------------------------------------------------------------

static Ref& SymbolSlot(uint32_t index) {
  Ref list = RootWordAt(kRootSymbolList);
  if (!IsRef(list) || index >= ((TypeWord(list) >> 4) & 0xFFF)) SystemError(11);
  return Words(list)[3 + index];
}

// A symbol list that others share is copied before one of its entries is rebound.
static void MakeSymbolListPrivate() {
  Ref& list = RootWordAt(kRootSymbolList);
  if (RefCount(list) <= 1) return;
  uint32_t words = PocketWords(list);
  Ref copy = GetSpace(words);
  std::memcpy(Words(copy) + 1, Words(list) + 1, 4ull * (words - 1));
  RefCount(copy) = 1;
  uint32_t count = (TypeWord(copy) >> 4) & 0xFFF;
  for (uint32_t i = 0; i < count; ++i) Retain(Words(copy)[3 + i]);
  Put(list, copy);
}

// The entry a name token stands for in the namespace the code now runs in: an entry bound to another
// namespace is looked up afresh by its text, and the list is rebound to it.
static Ref BoundEntry(uint32_t index) {
  Ref entry = SymbolSlot(index);
  if (Words(entry)[kEntryOwner] == Words(ExecutingNamespace())[kNsSelf]) return entry;
  Ref fresh = LookupName(EntryName(entry), LookupMode::Create);
  MakeSymbolListPrivate();
  Retain(fresh);
  Put(SymbolSlot(index), fresh);
  return fresh;
}

// ---- Functions as values ---------------------------------------------------------------------------

static bool IsDerived(Ref r) { return IsRef(r) && KindOf(TypeWord(r)) == kKindDerived; }
static bool IsNameEntry(Ref r) { return IsRef(r) && KindOf(TypeWord(r)) == kKindName; }

static bool IsDfnObject(Ref r) {
  return IsRef(r) && (TypeWord(r) & 0xFFFF) == kDfnObjectClass && !(TypeWord(r) & kDfnFrameFlag);
}

static void LocaliseInDfn(Ref entry);
template <typename Test>
static bool FindLocalRecord(Ref frame, Test test);
static void DopStep(Ref dop);
static bool StatementEndStep(uint32_t boundaryEnd);
static void RunLine();
static bool IsDfnFrame(Ref frame);
static void DfnStatementDone(bool shy);
static bool IsRunningTradfn(Ref frame);
static void TradfnStatementDone(bool shy);
static void CallNiladic(Ref fn);
static void FunctionFoundIn(Ref fn, const Ref& home);
static Ref CurrentFrameBelowNesting();
static void DisplayValue(Ref value);

static bool IsFunction(Ref r) {
  if (!IsRef(r)) return r >= 2;
  uint32_t kind = KindOf(TypeWord(r));
  return kind == kKindDerived || kind == kKindDefinedFunction || kind == kKindExternal ||
         (kind == kKindObject && (TypeWord(r) & 0xFFFF) == kDfnObjectClass);
}

static void CheckFunctionTreeDepth();

// True when `test` holds for the function value or for a function or array it is built from: the
// operands of derived functions (an axis is not a part), the tines of trains.
template <typename Test>
static bool SomePartIs(Ref fn, Test test) {
  if (test(fn)) return true;
  if (!IsDerived(fn)) return false;
  CheckFunctionTreeDepth();
  return SomePartIs(Words(fn)[3], test) || (Words(fn)[4] != kPrimLeftBracket && SomePartIs(Words(fn)[5], test));
}

// A value that may be an argument: an array (also a hashed one) or a namespace reference.
static bool IsArgumentValue(Ref r) {
  return IsRef(r) && (IsArrayKind(KindOf(TypeWord(r))) || IsNamespaceObject(r) || IsHashedArray(r));
}

// A new derived function: left operand, operator, right operand (codes or counted references).
static Ref MakeDerived(Ref leftOperand, uint32_t op, Ref rightOperand) {
  Temporaries hold;
  hold[0] = leftOperand;
  hold[1] = op;
  hold[2] = rightOperand;
  Ref d = GetSpace(6);
  uint32_t* w = Words(d);
  w[1] = 1;
  w[2] = kKindDerived;
  w[3] = hold.Take(0);
  w[4] = hold.Take(1);
  w[5] = hold.Take(2);
  return d;
}

static void DerivedChildren(Ref, FieldRuns& out) {
  out.Add(3, 1);
  out.Add(4, 1);
  out.Add(5, 1);
}

// A function held as a value (assigned, or a statement's value): a complete derived pocket, or a
// complete wrapper (operator 0) around a primitive or system-function code.
static Ref FunctionAsValue(Ref fn) {
  if (!IsRef(fn)) fn = MakeDerived(fn, 0, 0);
  if (IsDerived(fn)) TypeWord(fn) |= kDerivedCompleteFlag;
  return fn;
}

// A function value ready to be applied: a wrapper gives way to the function it wraps.
static Ref UnwrapFunction(Ref fn) {
  if (!IsDerived(fn) || Words(fn)[4] != 0) return fn;
  Ref inner = Words(fn)[3];
  Retain(inner);
  Release(fn);
  return inner;
}

// The function a name's value stands for: a wrapper stands for what it wraps.
static Ref FunctionFromValue(Ref value) {
  Ref fn = IsDerived(value) && Words(value)[4] == 0 ? Words(value)[3] : value;
  Retain(fn);
  return fn;
}

// ---- Stranding ---------------------------------------------------------------------------------------
// Adjacent values form a strand. A value read as a single item (a name, a single constant, a
// parenthesised result) is one item; a strand (a numeric strand constant, or a strand already built)
// contributes its elements. Any item that is not a simple scalar, or characters mixed with numbers,
// make a nested vector; otherwise the widest character or number type present wins. When a strand
// starts, the values further to the left that can only join it (constants, and names of variables
// holding simple scalars) are gathered at once, so that a long strand is built in one allocation.

namespace {

// One part of a strand; the references live in a registered buffer so that they follow compaction.
struct StrandParts {
  std::vector<Ref> values;     // counted, in source order once gathered
  std::vector<uint8_t> single;

  uint64_t Items(size_t p) const { return single[p] ? 1 : ElementCount(values[p]); }
  // The simple scalar array holding item i of part p (and its index there), or 0 when it is not one.
  std::pair<Ref, uint64_t> Scalar(size_t p, uint64_t i) const {
    Ref v = values[p];
    bool simpleArray = KindOf(TypeWord(v)) == kKindSimple;
    if (single[p]) return {simpleArray && RankOf(TypeWord(v)) == 0 ? v : 0, 0};
    if (simpleArray) return {v, i};
    Ref item = DataOf<Ref>(v)[i];
    bool simpleScalar = IsRef(item) && KindOf(TypeWord(item)) == kKindSimple && RankOf(TypeWord(item)) == 0;
    return {simpleScalar ? item : 0, 0};
  }
};

int NumberRank(ElementType t) {
  switch (t) {
    case kBool: return 0;
    case kInt8: return 1;
    case kInt16: return 2;
    case kInt32: return 3;
    case kInt64: return 4;
    case kFloat64: return 5;
    case kDecimal128: return 6;
    default: return 7;  // complex
  }
}
int CharacterWidth(ElementType t) { return t == kChar32 ? 3 : t == kChar16 ? 2 : 1; }

ElementType StrandType(const StrandParts& parts) {
  bool characters = false, numbers = false;
  ElementType number = kBool, character = kChar8;
  for (size_t p = 0; p < parts.values.size(); ++p) {
    for (uint64_t i = 0; i < parts.Items(p); ++i) {
      Ref array = parts.Scalar(p, i).first;
      if (!array) return kRefElement;
      ElementType t = ElementOf(TypeWord(array));
      if (kElementInfo[t].classes & kClassCharacter) {
        characters = true;
        if (t != kCharAv && CharacterWidth(t) > CharacterWidth(character)) character = t;
      } else {
        numbers = true;
        if (NumberRank(t) > NumberRank(number)) number = t;
      }
      if (characters && numbers) return kRefElement;
    }
  }
  if (characters) return character;
  return number == kInt64 ? kFloat64 : number;
}

}  // namespace

static bool IsSimpleScalarValue(Ref r) {
  return IsRef(r) && KindOf(TypeWord(r)) == kKindSimple && RankOf(TypeWord(r)) == 0;
}

// Gathers, right to left, the constants and the names of variables holding simple scalars that stand
// to the left of the strand being formed, moving the cursor past them. Stops at anything else, and at
// a name that still has to be bound to this namespace or is followed by a namespace dot. Allocates
// nothing.
static void GatherStrandLookAhead(StrandParts& parts) {
  Ref home = Words(ExecutingNamespace())[kNsSelf];
  while (Cursor() > StreamFirstToken() + 1) {
    uint8_t code = ByteAt(Cursor() - 1);
    if (code == kTokConstant || code == kTokStrand) {
      Ref constant = SymbolSlot(ByteAt(Cursor() - 2));
      Retain(constant);
      parts.values.push_back(constant);
      parts.single.push_back(code == kTokConstant);
      Cursor() -= 2;
      continue;
    }
    if (code < kTokFirstName) return;
    Ref entry = SymbolSlot(code - kTokFirstName);
    if (Words(entry)[kEntryOwner] != home || EntryClass(entry) != kNameVariable) return;
    if (Cursor() - 1 > StreamFirstToken() && ByteAt(Cursor() - 2) == kTokNamespaceDot) return;
    Ref value = EntryValue(entry);
    if (!IsSimpleScalarValue(value)) return;
    Retain(value);
    parts.values.push_back(value);
    parts.single.push_back(true);
    Cursor() -= 1;
  }
}

// The strand of the parts, in order from the left (counted references, taken over).
static Ref BuildStrand(StrandParts& parts) {
  Temporaries hold;
  hold.SetBuffer(parts.values.data(), static_cast<uint32_t>(parts.values.size()));
  uint64_t total = 0;
  for (size_t p = 0; p < parts.values.size(); ++p) total += parts.Items(p);
  if (total > 0xFFFFFFFFull) SIGNAL(kLimitError);
  ElementType type = StrandType(parts);
  hold[0] = AllocVector(type, static_cast<uint32_t>(total));
  uint64_t out = 0;
  for (size_t p = 0; p < parts.values.size(); ++p) {
    for (uint64_t i = 0; i < parts.Items(p); ++i, ++out) {
      if (type != kRefElement) {
        auto [array, index] = parts.Scalar(p, i);
        CopyElement(hold[0], out, array, index);
      } else if (parts.single[p]) {
        Retain(parts.values[p]);
        DataOf<Ref>(hold[0])[out] = parts.values[p];
      } else {
        Ref item = ElementAsScalar(parts.values[p], i);  // may move every pocket
        DataOf<Ref>(hold[0])[out] = item;
      }
    }
  }
  return hold.Take(0);
}

// Gathers the look-ahead in order from the left, unless names are being read as assignment targets.
static void GatherLeftParts(StrandParts& parts) {
  if (!(g_level.flags & kFlagAssign)) GatherStrandLookAhead(parts);
  std::reverse(parts.values.begin(), parts.values.end());
  std::reverse(parts.single.begin(), parts.single.end());
}

// Forms the strand of NewValue (on the left) and LeftSlot, with whatever further values the look-ahead
// gathers, and leaves it in LeftSlot.
static void StrandIntoLeft(bool newSingle) {
  StrandParts parts;
  GatherLeftParts(parts);
  parts.values.push_back(TakePlainArray(Take(NewValue())));  // a strand holds arrays, never hashed ones
  parts.single.push_back(newSingle);
  parts.values.push_back(TakePlainArray(Take(Left())));
  parts.single.push_back((g_level.flags & kFlagLeftSingle) != 0);
  Left() = BuildStrand(parts);
  g_level.flags &= ~kFlagLeftSingle;
}

// An operator's array operand is a whole strand: the value read (counted, taken over) with the
// constants that stand to its left ('a' 'b'⎕R'x', 1 2∘+).
static Ref OperandStrand(Ref value, bool single) {
  StrandParts parts;
  GatherLeftParts(parts);
  if (parts.values.empty()) return value;
  parts.values.push_back(TakePlainArray(value));
  parts.single.push_back(single);
  return BuildStrand(parts);
}

// ---- Operator chains ---------------------------------------------------------------------------------
// A monadic operator, or a dyadic operator whose right operand is known, waits for its left operand:
// the chain of waiting derived functions hangs in PendingItem, each waiting one in its predecessor's
// left-operand word. The next function or value read completes the innermost, which completes them all.

static bool IsAwaiting(Ref r) { return IsDerived(r) && (TypeWord(r) & kDerivedAwaitingFlag); }
static bool OperatorAwaiting() { return IsAwaiting(PendingItem()); }

static Ref InnermostAwaiting() {
  Ref d = PendingItem();
  while (IsAwaiting(Words(d)[3])) d = Words(d)[3];
  return d;
}

// Hangs a new waiting derived function on the chain (or starts a chain that becomes a function step
// when complete).
static void AwaitLeftOperand(Ref derived, bool becomesFunctionStep) {
  TypeWord(derived) |= kDerivedAwaitingFlag;
  if (OperatorAwaiting()) {
    Words(InnermostAwaiting())[3] = derived;
    return;
  }
  PendingItem() = derived;
  if (becomesFunctionStep) g_level.flags |= kFlagAwaitStep;
  else g_level.flags &= ~kFlagAwaitStep;
}

static bool IsSlashCode(Ref r) { return r >= kPrimSlash && r <= kPrimBackslashBar; }

static void CompleteOperatorChain();
static void SettleSlashOperand();

// Gives the innermost waiting operator its left operand (a function or an array; counted).
static void FillOperand(Ref operand) {
  if (operand == kPrimAssign) SettleSlashOperand();
  if (!OperatorAwaiting()) return FunctionStep(operand);
  if (g_level.flags & kFlagSlashOperand) {
    // The operand so far is a bare / ⌿ \ ⍀: with the function read now it forms a reduction or scan.
    g_level.flags &= ~kFlagSlashOperand;
    Ref inner = InnermostAwaiting();
    uint32_t slash = Words(inner)[3];
    Words(inner)[3] = 0;
    operand = MakeDerived(operand, slash, 0);
    inner = InnermostAwaiting();
    Words(inner)[3] = operand;
  } else if (IsSlashCode(operand)) {
    Words(InnermostAwaiting())[3] = operand;
    g_level.flags |= kFlagSlashOperand;
    return;
  } else {
    Words(InnermostAwaiting())[3] = operand;
  }
  CompleteOperatorChain();
}

// Every operator of the chain has its left operand: the chain becomes a function.
static void CompleteOperatorChain() {
  for (Ref d = PendingItem(); IsAwaiting(d); d = Words(d)[3]) TypeWord(d) &= ~kDerivedAwaitingFlag;
  Ref head = Take(PendingItem());
  if (g_level.flags & kFlagAwaitStep) {
    g_level.flags &= ~kFlagAwaitStep;
    FunctionStep(head);
  } else {
    Release(head);  // the chain is already the pending function
  }
}

// A bare / ⌿ \ ⍀ waiting as an operand is the function operand itself (replicate or expand) when
// what stands to its left cannot be its own operand: a value ('abc'/⍨mask), ← (f←/⍨) or the start
// of the statement.
static void SettleSlashOperand() {
  if (!(g_level.flags & kFlagSlashOperand)) return;
  g_level.flags &= ~kFlagSlashOperand;
  CompleteOperatorChain();
}

static void MonadicOperatorStep(uint32_t op) { AwaitLeftOperand(MakeDerived(0, op, 0), true); }

// An unfinished derived function: an operator application that a dyadic operator to its left may
// still reach into (not a wrapper, not marked complete).
static bool IsUnfinished(Ref r) {
  return IsDerived(r) && !(TypeWord(r) & kDerivedCompleteFlag) && Words(r)[4] != 0;
}

static Ref InnermostOfPendingChain() {
  Ref d = PendingFunction();
  while (IsUnfinished(Words(d)[3])) d = Words(d)[3];
  return d;
}

// A dyadic operator takes the array to its right, or the function pending to its right; when that
// function is an unfinished operator chain it takes the innermost left operand of the chain and its
// place in it, so that operators bind long left scope: f∘g¨ is (f∘g)¨ and +.×/ is (+.×)/.
static void DyadicOperatorStep(uint32_t op) {
  if (OperatorAwaiting()) SIGNAL(kSyntaxError);  // two operators side by side
  if (op == kPrimVariant) op = kVariantOperatorCode;
  if (Left()) {
    Ref operand = Take(Left());
    AwaitLeftOperand(MakeDerived(0, op, operand), true);
    return;
  }
  if (!PendingFunction()) SIGNAL(kSyntaxError);  // an operator without its right operand
  Ref d = MakeDerived(0, op, 0);
  if (IsUnfinished(PendingFunction())) {
    Ref inner = InnermostOfPendingChain();
    Words(d)[5] = Words(inner)[3];
    Words(inner)[3] = d;
  } else {
    Words(d)[5] = Take(PendingFunction());
    PendingFunction() = d;
  }
  Retain(d);
  AwaitLeftOperand(d, false);
}

// ---- Dispatch ------------------------------------------------------------------------------------------

[[noreturn]] static void SignalNeedsLeft() {
  SIGNAL_MESSAGE(kSyntaxError, U"The function requires a left argument");
}
[[noreturn]] static void SignalTakesNoLeft() {
  SIGNAL_MESSAGE(kSyntaxError, U"The function does not take a left argument");
}

static CallResult RightArgument(const Ref&, const Ref& right) {
  Retain(right);
  return {right, false};
}
static CallResult LeftArgument(const Ref& left, const Ref&) {
  Retain(left);
  return {left, false};
}

// The system functions whose units exist, by registry name. The table indexed by dispatch code is
// built from it once.
struct SystemFunctionRow {
  std::u32string_view name;
  FunctionHandler monadic;
  FunctionHandler dyadic;
};
static constexpr SystemFunctionRow kSystemFunctionRows[] = {
    {U"CR", QuadCR, nullptr},
    {U"CS", QuadCS, nullptr},
    {U"EM", QuadEM, nullptr},
    {U"EX", QuadEX, nullptr},
    {U"FX", QuadFX, nullptr},
    {U"NC", QuadNC, nullptr},
    {U"NL", QuadNL, QuadNL},
    {U"NR", QuadNR, nullptr},
    {U"NS", QuadNS, QuadNS},
    {U"SHADOW", QuadSHADOW, nullptr},
    {U"SIGNAL", QuadSignal, QuadSignal},
    {U"SIZE", QuadSIZE, nullptr},
    {U"VR", QuadVR, nullptr},
};

struct SystemFunctionEntry {
  FunctionHandler monadic = nullptr;
  FunctionHandler dyadic = nullptr;
};
static std::array<SystemFunctionEntry, kLastSystemFunctionCode + 1> g_systemFunctions;

void InstallSystemFunction(std::u32string_view name, FunctionHandler monadic, FunctionHandler dyadic) {
  const SystemNameEntry* entry = FindSystemName(name);
  if (!entry || entry->cls != kSystemFunction) SystemError(11);
  g_systemFunctions[SystemFunctionCode(entry->code & 0xFF)] = {monadic, dyadic};
}

static void BuildSystemFunctionTable() {
  for (const SystemFunctionRow& row : kSystemFunctionRows) InstallSystemFunction(row.name, row.monadic, row.dyadic);
}

// Niladic system functions whose units exist, by registry name.
struct NiladicRow {
  std::u16string_view name;
  NiladicHandler handler;
};
static constexpr NiladicRow kNiladicRows[] = {
    {u"A", QuadA},   {u"AI", QuadAI}, {u"AN", QuadAN},         {u"AV", QuadAV},   {u"D", QuadD},
    {u"DM", QuadDM}, {u"EN", QuadEN},      {u"FAVAIL", QuadFAVAIL}, {u"NULL", QuadNULL},
    {u"OLDDMX", QuadOLDDMX}, {u"TC", QuadTC}, {u"THIS", QuadTHIS}, {u"TS", QuadTS}, {u"WA", QuadWA},
    {u"\u00C1", QuadUnderscoredA}, {u"SI", QuadSI}, {u"LC", QuadLC}, {u"XSI", QuadXSI}, {u"NSI", QuadNSI},
    {u"RSI", QuadRSI}, {u"STACK", QuadSTACK},
};
static std::array<NiladicHandler, 256> g_niladics;
static uint32_t g_offNumber = 0;

void InstallNiladicFunction(std::u32string_view name, NiladicHandler handler) {
  const SystemNameEntry* entry = FindSystemName(name);
  if (!entry || entry->cls != kSystemNiladic) SystemError(11);
  g_niladics[entry->code & 0xFF] = handler;
}

static void BuildNiladicTable() {
  for (const NiladicRow& row : kNiladicRows)
    InstallNiladicFunction(std::u32string(row.name.begin(), row.name.end()), row.handler);
  g_offNumber = FindSystemName(U"OFF")->code & 0xFF;
}

// The dispatch tables of the primitives below the system-function codes, filled by the units that
// implement them (InstallPrimitives).
inline constexpr uint32_t kPrimitiveTableSize = 224;
struct PrimitiveEntry {
  FunctionHandler monadic = nullptr;
  FunctionHandler dyadic = nullptr;
  uint32_t flags = 0;
};
static std::array<PrimitiveEntry, kPrimitiveTableSize> g_primitives;

void InstallPrimitives(std::span<const PrimitiveRow> rows) {
  for (const PrimitiveRow& row : rows) {
    if (row.code >= kPrimitiveTableSize) SystemError(11);
    PrimitiveEntry& entry = g_primitives[row.code];
    if (row.monadic) entry.monadic = row.monadic;
    if (row.dyadic) entry.dyadic = row.dyadic;
    entry.flags |= row.flags;
  }
}

static constexpr PrimitiveRow kEvaluatorRows[] = {
    {kPrimLeft, RightArgument, LeftArgument, 0},
    {kPrimRight, RightArgument, RightArgument, 0},
    {kPrimFormat, FormatMonadic, nullptr, 0},
};

static FunctionHandler PrimitiveHandler(uint32_t code, bool dyadic) {
  const PrimitiveEntry& entry = g_primitives[code];
  FunctionHandler handler = dyadic ? entry.dyadic : entry.monadic;
  if (handler) return handler;
  if (!dyadic && (entry.dyadic || NeedsLeftArgument(code))) SignalNeedsLeft();
  if (dyadic && entry.monadic) SignalTakesNoLeft();
  SIGNAL(kNonceError);  // a primitive whose unit is not built yet
}

// Primitives, system functions and derived functions are applied to arguments held in root slots:
// the evaluator's registers, or the call registers of CallPrimitive and CallFunctionValue.
static CallResult ApplyPrimitive(uint32_t code, const Ref& left, const Ref& right) {
  bool dyadic = left != 0;
  FunctionHandler handler = PrimitiveHandler(code, dyadic);
  uint32_t flags = g_primitives[code].flags;
  if (!(flags & kTakesHashed) && (IsHashedArray(left) || IsHashedArray(right))) {
    PlainArguments plain(left, right);
    return ApplyPrimitive(code, plain.Left(), plain.Right());
  }
  if (AxisArgument() && !(flags & (dyadic ? kDyadicAxis : kMonadicAxis))) SIGNAL_MESSAGE(kSyntaxError, U"Invalid axis");
  if (IsSelection(right) || IsSelection(left)) {
    // Only the structural functions that select pass a selective assignment's selection through.
    if (IsSelection(left) || !(flags & (dyadic ? kDyadicSelects : kMonadicSelects))) SIGNAL(kSyntaxError);
    return ApplyToSelection(handler, left, right);
  }
  return handler(left, right);
}

// Holds the arguments of a call made from C++ in the call registers for its duration; a call made
// while another runs keeps the outer call's arguments and axis, and the new call starts without an
// axis.
class CallRegisters {
 public:
  CallRegisters(const Ref& left, const Ref& right) {
    const Ref l = left, r = right;  // read first: an operator may pass on the registers it was called with
    saved_[0] = Take(WorkingSlot(kSlotCallLeft));
    saved_[1] = Take(WorkingSlot(kSlotCallRight));
    saved_[2] = Take(WorkingSlot(kSlotAxis));
    WorkingSlot(kSlotCallLeft) = l;
    Retain(l);
    WorkingSlot(kSlotCallRight) = r;
    Retain(r);
  }
  ~CallRegisters() {
    Release(WorkingSlot(kSlotCallLeft));
    Release(WorkingSlot(kSlotCallRight));
    Release(WorkingSlot(kSlotAxis));
    WorkingSlot(kSlotCallLeft) = saved_.Take(0);
    WorkingSlot(kSlotCallRight) = saved_.Take(1);
    WorkingSlot(kSlotAxis) = saved_.Take(2);
  }
  CallRegisters(const CallRegisters&) = delete;
  CallRegisters& operator=(const CallRegisters&) = delete;
  const Ref& Left() const { return WorkingSlot(kSlotCallLeft); }
  const Ref& Right() const { return WorkingSlot(kSlotCallRight); }

 private:
  Temporaries saved_;
};

CallResult CallPrimitive(uint32_t code, const Ref& left, const Ref& right) {
  CallRegisters call(left, right);
  return ApplyPrimitive(code, call.Left(), call.Right());
}

static CallResult ApplySystemFunction(uint32_t code, const Ref& left, const Ref& right) {
  if (IsHashedArray(left) || IsHashedArray(right)) {
    PlainArguments plain(left, right);
    return ApplySystemFunction(code, plain.Left(), plain.Right());
  }
  bool dyadic = left != 0;
  const SystemFunctionEntry& entry = g_systemFunctions[code];
  // System functions see their simple arguments at their narrowest type.
  if (IsRef(right) && RefCount(right) == 1) Narrow(right);
  if (dyadic && IsRef(left) && RefCount(left) == 1) Narrow(left);
  FunctionHandler handler = dyadic ? entry.dyadic : entry.monadic;
  if (handler) return handler(left, right);
  if (dyadic && entry.monadic) SignalTakesNoLeft();
  if (!dyadic && entry.dyadic) SignalNeedsLeft();
  SIGNAL(kNonceError);  // a system function whose unit is not built yet
}

// ---- Assignment ---------------------------------------------------------------------------------------

// Makes `ns` the executing namespace until the end of the scope.
class ExecutingIn {
 public:
  explicit ExecutingIn(Ref ns) {
    saved_[0] = ExecutingNamespace();
    Retain(saved_[0]);
    SetExecutingNamespace(ns);
  }
  ~ExecutingIn() { SetExecutingNamespace(saved_[0]); }
  ExecutingIn(const ExecutingIn&) = delete;
  ExecutingIn& operator=(const ExecutingIn&) = delete;

 private:
  Temporaries saved_;
};

static uint32_t NameClassOfValue(Ref value) {
  if (IsNamespaceObject(value)) return kNameNamespace;
  if (IsDfnObject(value) && Words(value)[kDfnObjectKind] != 0) return kNameOperator;
  if (IsFunction(value)) return kNameFunction;
  return kNameVariable;
}

static void AssignEntry(Ref entry, Ref value) {
  uint32_t current = EntryClass(entry);
  uint32_t wanted = NameClassOfValue(value);
  if (current == kNameSystemVariable) {
    AssignSystemVariable(EntrySystemVariable(entry), PlainArray(value));
    return;
  }
  if (current == kNameLabel) SIGNAL_MESSAGE(kSyntaxError, U"Can't change nameclass on assignment");
  SetEntry(entry, wanted, value);  // the entry counts the value
}

// Assigns `given` to `target` (both root slots): a name, a system variable, or a strand of names.
static void AssignTarget(const Ref& target, const Ref& given) {
  if (IsNameEntry(target)) return AssignEntry(target, given);
  // Everything held here is kept where compaction updates it: assigning allocates.
  Temporaries hold;
  hold[0] = Retained(PlainArray(given));  // only a name keeps a hashed array as it is
  const Ref& value = hold[0];
  if (IsSelection(target)) return AssignSelection(target, value);
  if (IsRef(target) && TypeWord(target) == kIndexedTargetRecord) {
    hold[1] = Retained(Words(target)[4]);
    return AssignIndexed(Words(target)[3], hold[1], value);
  }
  if (IsRef(target) && TypeWord(target) == kSystemTargetRecord) {
    uint32_t k = Words(target)[3];
    if (k == kQuadOutputVariable || k == kQuoteOutputVariable) return WriteOutputValue(k, value);
    if (Ref ns = Words(target)[4]) {  // ns.⎕V←
      ExecutingIn scope(ns);
      return AssignSystemVariable(k, value);
    }
    return AssignSystemVariable(k, value);
  }
  if (!IsRef(target) || KindOf(TypeWord(target)) != kKindNested || RankOf(TypeWord(target)) != 1)
    SIGNAL(kSyntaxError);
  uint64_t names = ElementCount(target);
  for (uint64_t i = 0; i < names; ++i)
    if (!IsNameEntry(DataOf<Ref>(target)[i])) SIGNAL(kSyntaxError);
  bool scalarValue = !IsArrayKind(KindOf(TypeWord(value))) || ElementCount(value) == 1;
  if (!scalarValue && (RankOf(TypeWord(value)) != 1 || ElementCount(value) != names)) SIGNAL(kLengthError);
  for (uint64_t i = 0; i < names; ++i) {
    hold[2] = scalarValue && RankOf(TypeWord(value)) == 0 ? Retained(value) : ElementAsScalar(value, scalarValue ? 0 : i);
    AssignEntry(DataOf<Ref>(target)[i], hold[2]);
    Release(hold[2]);
  }
}

// ← applied: LeftSlot the target, RightSlot the value. The value is the (shy) result.
static CallResult Assign(const Ref& target, const Ref& value) {
  if (!target) SIGNAL(kSyntaxError);  // nothing to assign to
  if (!IsArgumentValue(value) && !IsFunction(value)) SIGNAL(kSyntaxError);
  AssignTarget(target, value);
  Retain(value);
  return {value, true};
}

static CallResult ApplyFunction(const Ref& fn, const Ref& left, const Ref& right);
static bool IsDfnCall(Ref fn);
static bool IsTradfnCall(Ref fn);
static bool IsInNamespaceCall(Ref fn);
static CallResult RunDefinedForNative(const Ref& fn, const Ref& left, const Ref& right);
static void StartDefinedCall();

CallResult CallFunctionValue(Ref fn, const Ref& left, const Ref& right) {
  Temporaries hold;
  hold[0] = fn;
  Retain(fn);
  CallRegisters call(left, right);
  CallResult result = ApplyFunction(hold[0], call.Left(), call.Right());
  result.value = TakePlainArray(result.value);  // C++ callers work on arrays
  return result;
}

// A[I] f← V: the selected items f V, assigned back to the same places.
static CallResult ModifiedAssignIndexed(Ref fn, const Ref& target, const Ref& value) {
  Ref entry = Words(target)[3];
  if (EntryClass(entry) != kNameVariable)
    SIGNAL_MESSAGE(kSyntaxError, U"Invalid modified assignment, or an attempt was made to change nameclass on assignment");
  Temporaries hold;
  hold[0] = target;
  Retain(target);
  hold[1] = value;
  Retain(value);
  Ref current = EntryValue(Words(hold[0])[3]);
  hold[2] = CallPrimitive(kPrimLeftBracket, Words(hold[0])[4], current).value;
  CallResult result = CallFunctionValue(fn, hold[2], hold[1]);
  Release(hold[2]);
  hold[2] = result.value;
  AssignIndexed(Words(hold[0])[3], Words(hold[0])[4], hold[2]);
  return {hold.Take(1), true};
}

using argcheck::IsArrayValue;

// name,←X: the variable's array, taken out of the name so that nothing else holds it, grows where
// it lies when it can (with headroom, so that a loop of appends takes linear time).
static CallResult AppendToVariable(Ref entry, const Ref& value) {
  Temporaries name;
  name[0] = Retained(entry);
  const Ref& target = name[0];
  Temporaries hold;
  hold[0] = Retained(value);
  hold[1] = std::exchange(Words(target)[kEntryValue], 0);
  try {
    hold[2] = Catenated(hold[1], hold[0]);
  } catch (const AplError&) {
    Words(target)[kEntryValue] = hold.Take(1);  // the name keeps its value
    throw;
  }
  Words(target)[kEntryValue] = hold.Take(1);
  AssignEntry(target, hold[2]);
  return {hold.Take(2), true};
}

// A modified assignment (f←, the monadic use of ←): the target's value f the value, assigned back.
static CallResult ModifiedAssign(Ref fn, const Ref& target, const Ref& value) {
  if (IsRef(target) && TypeWord(target) == kIndexedTargetRecord) return ModifiedAssignIndexed(fn, target, value);
  if (!IsNameEntry(target) || EntryClass(target) != kNameVariable)
    SIGNAL_MESSAGE(kSyntaxError, U"Invalid modified assignment, or an attempt was made to change nameclass on assignment");
  if (fn == kPrimComma && IsArrayValue(EntryValue(target)) && IsArrayValue(value)) return AppendToVariable(target, value);
  CallResult result = CallFunctionValue(fn, EntryValue(target), value);
  Temporaries hold;
  hold[0] = result.value;
  AssignEntry(target, hold[0]);
  return {hold.Take(0), true};
}

// ---- Applying the pending function ---------------------------------------------------------------------

enum class Applied { Now, Later };

static void StartExecute();
namespace {
struct ServiceOperator;
}
static const ServiceOperator* RunsInServiceFrame(Ref fn, const Ref& left, const Ref& right);
static void StartPendingService(const ServiceOperator& op);
static CallResult RunExecuteForNative(const Ref& left, const Ref& right);
static void Branch(Ref target);

static CallResult ApplyDerived(const Ref& fn, const Ref& left, const Ref& right);

// Derived functions are walked on the C++ stack, a level per operand that is itself derived: a tree
// built too deep stops with an error before the stack runs out.
static void CheckFunctionTreeDepth() {
  if (NativeStackLow()) SIGNAL_MESSAGE(kLimitError, U"Function tree too deep or contains cycle");
}

// The operators, by operator code, filled by the units that implement them.
static std::array<OperatorRow, 256> g_operators;

void InstallOperators(std::span<const OperatorRow> rows) {
  for (const OperatorRow& row : rows) {
    if (row.code >= g_operators.size()) SystemError(11);
    g_operators[row.code] = row;
  }
}

// f[K] applied: the axis sits in its register while the function runs.
static CallResult ApplyWithAxis(const Ref& fn, const Ref& left, const Ref& right) {
  Temporaries hold;
  hold[0] = Words(fn)[3];
  Retain(hold[0]);
  Ref inner = hold[0];
  if (IsRef(inner) ? !IsDerived(inner) || Words(inner)[4] == kPrimLeftBracket : inner >= kFirstSystemFunctionCode)
    SIGNAL_MESSAGE(kSyntaxError, U"Invalid axis");
  Release(WorkingSlot(kSlotAxis));
  WorkingSlot(kSlotAxis) = Words(fn)[5];
  Retain(WorkingSlot(kSlotAxis));
  CallResult result = IsRef(inner) ? ApplyDerived(hold[0], left, right) : ApplyPrimitive(inner, left, right);
  Release(WorkingSlot(kSlotAxis));
  return result;
}

static CallResult ApplyDerived(const Ref& fn, const Ref& left, const Ref& right) {
  CheckFunctionTreeDepth();
  uint32_t op = Words(fn)[4];
  if (op == kPrimLeftBracket) return ApplyWithAxis(fn, left, right);
  if (op == 0) {
    Temporaries hold;
    hold[0] = Words(fn)[3];
    Retain(hold[0]);
    return ApplyFunction(hold[0], left, right);
  }
  if (op == kPrimAssign) {
    if (!left) SIGNAL(kSyntaxError);
    return ModifiedAssign(Words(fn)[3], left, right);
  }
  const OperatorRow& row = g_operators[op];
  if (!row.handler) SIGNAL(kNonceError);  // an operator whose unit is not built yet
  if (!row.takesHashed && (IsHashedArray(left) || IsHashedArray(right))) {
    PlainArguments plain(left, right);
    return row.handler(fn, plain.Left(), plain.Right());
  }
  return row.handler(fn, left, right);
}

// Applies a function value (root-held) to arguments in root slots.
static CallResult ApplyFunction(const Ref& fn, const Ref& left, const Ref& right) {
  if (!IsRef(fn)) {
    if (fn == kPrimExecute) return RunExecuteForNative(left, right);
    if (fn < kFirstSystemFunctionCode) return ApplyPrimitive(fn, left, right);
    if (fn <= kLastSystemFunctionCode) return ApplySystemFunction(fn, left, right);
    SIGNAL(kSyntaxError);
  }
  if (IsDfnCall(fn) || IsTradfnCall(fn)) return RunDefinedForNative(fn, left, right);
  if (IsDerived(fn)) return ApplyDerived(fn, left, right);
  SIGNAL(kNonceError);  // traditional functions are called by their own unit
}

static Ref InnermostDfnFrame();

// name←name,X: when the catenation about to be applied has as its left argument the array of the
// variable that ← (next to the left) assigns, held by nothing but the name and the left register,
// the variable's entry: the append can then grow the array where it lies. In a dfn the name must
// already be local, since the assignment would otherwise make a new local and leave the outer array
// as it was.
static Ref AppendTarget() {
  if (PendingItem() != kPrimAssign || ByteAt(Cursor()) != kPrimAssign) return 0;
  if (RefCount(Left()) != 2 || !IsArrayValue(Left())) return 0;
  const uint32_t nameAt = Cursor() - 1;
  if (nameAt < StreamFirstToken() || ByteAt(nameAt) < kTokFirstName) return 0;
  if (nameAt > StreamFirstToken() && ByteAt(nameAt - 1) == kTokNamespaceDot) return 0;  // ns.name←
  Ref entry = BoundEntry(ByteAt(nameAt) - kTokFirstName);
  if (EntryClass(entry) != kNameVariable || EntryValue(entry) != Left()) return 0;
  Ref dfn = InnermostDfnFrame();
  if (dfn && dfn == CurrentFrameBelowNesting() && !FindLocalRecord(dfn, [&](Ref local) { return local == entry; }))
    return 0;
  return entry;
}

// Applies PendingFunction to RightSlot, and to LeftSlot as left argument when it holds a value. The
// result goes to NewValue (0 when there is none) and the shy flag. ⍎ and ⎕ input continue in an
// execution level: Later.
static Applied ApplyPending() {
  g_errorToken = g_level.functionToken;
  Ref fn = PendingFunction();
  bool dyadic = Left() != 0;
  if (!Right()) SIGNAL(kSyntaxError);  // a function without its right argument
  if (!IsArgumentValue(Right()) && !(fn == kPrimAssign && IsFunction(Right())) && !IsSelection(Right()))
    SIGNAL(kSyntaxError);
  if (dyadic && !TakesTarget(fn) && !IsArgumentValue(Left())) SIGNAL(kSyntaxError);
  if (fn == kPrimExecute || fn == kPrimBranch || fn == kCodeOff) {
    // The evaluator's own functions read their arguments as arrays.
    Left() = TakePlainArray(Left());
    Right() = TakePlainArray(Right());
  }
  if (fn == kPrimExecute) {
    StartExecute();
    return Applied::Later;
  }
  if (IsDfnCall(fn) || IsTradfnCall(fn)) {
    StartDefinedCall();
    return Applied::Later;
  }
  if (const ServiceOperator* op = RunsInServiceFrame(fn, Left(), Right())) {
    StartPendingService(*op);
    return Applied::Later;
  }
  if (fn == kCodeOff) {
    if (dyadic) SignalTakesNoLeft();
    QuadOff(Right());
  }
  CallResult result;
  if (fn == kPrimAssign) result = dyadic ? Assign(Left(), Right()) : CallResult{};
  else if (fn == kPrimBranch) {
    if (dyadic) SignalTakesNoLeft();
    Branch(Right());
    result = {};
  } else if (Ref entry = fn == kPrimComma && dyadic ? AppendTarget() : 0) {
    Release(Left());  // the name is then the array's only holder
    result = AppendToVariable(entry, Right());
  } else {
    result = ApplyFunction(PendingFunction(), Left(), Right());
  }
  Release(Left());
  Release(Right());
  Release(PendingFunction());
  Put(NewValue(), result.value);
  if (result.shy) g_level.flags |= kFlagShy;
  else g_level.flags &= ~kFlagShy;
  return Applied::Now;
}

// ---- Steps ---------------------------------------------------------------------------------------------

static uint32_t g_tokenEnd = 0;  // end offset of the token being read

static bool IsAxisDerived(Ref fn) { return IsDerived(fn) && Words(fn)[4] == kPrimLeftBracket; }

// / ⌿ \ ⍀ (also with an axis, /[K]) and ← act as operators when a function stands to their left.
static bool IsOperatorLike(Ref fn) {
  if (IsAxisDerived(fn)) fn = Words(fn)[3];
  return IsSlashCode(fn) || fn == kPrimAssign;
}

// The derived function of an operator-like symbol with the function to its left: f/ f⌿ f\ f⍀ f←,
// and for f/[K] the reduction with the axis, (f/)[K]. `op` is counted and taken over.
static Ref OperatorLikeDerived(Ref item, Ref op) {
  if (!IsAxisDerived(op)) return MakeDerived(item, op, 0);
  Temporaries hold;
  hold[0] = op;
  Ref axis = Words(op)[5];
  Retain(axis);
  hold[1] = axis;
  Ref inner = MakeDerived(item, Words(hold[0])[3], 0);
  return MakeDerived(inner, kPrimLeftBracket, hold.Take(1));
}

// True when the function takes an assignment target (a name, not a value) as its left argument.
static bool TakesTarget(Ref fn) {
  return fn == kPrimAssign || (IsDerived(fn) && Words(fn)[4] == kPrimAssign);
}

static void FinishFunctionStep() {
  if (!NewValue()) SIGNAL_MESSAGE(kValueError, U"No result was provided when the context expected one");
  Right() = Take(NewValue());
  PendingFunction() = Take(PendingItem());
  g_level.functionToken = g_level.itemToken;
  g_level.flags &= ~kFlagAssign;
  if (PendingFunction() == kPrimAssign) g_level.flags |= kFlagAssign;
}

// ---- Trains ----------------------------------------------------------------------------------------------
// Functions side by side with no value between them form a train, read from the right: the function
// at the right end, a middle function and a left tine (a function or an array) make a fork, which is
// the right part of what stands further left; a middle function left over makes an atop with it.
// While a train is read, RightSlot holds its record: the right part so far (word 5) and the middle
// function waiting for its left tine (word 3; 0 while the pending function is the middle).

static bool BuildingTrain() { return IsDerived(Right()) && Words(Right())[4] == kTrainBuilding; }

// The left tine (the array read, else the pending function), the middle and the right part become a
// fork, the train's right part from now on.
static void CloseFork() {
  Temporaries hold;  // the left tine, the middle
  uint32_t* train = Words(Right());
  if (train[3] && Left()) SIGNAL(kSyntaxError);  // an array standing left of a whole fork
  if (train[3]) {
    hold[0] = Take(PendingFunction());
    hold[1] = std::exchange(train[3], 0);
  } else {
    hold[0] = Take(Left());
    hold[1] = Take(PendingFunction());
  }
  Ref pair = MakeDerived(hold.Take(1), kTrainForkPair, std::exchange(Words(Right())[5], 0));
  Words(Right())[5] = MakeDerived(hold.Take(0), kTrainFork, pair);
}

// A function read with the pending function and no value to its right.
static void TrainStep(Ref item) {
  if (!BuildingTrain()) {
    if (Left()) SIGNAL(kSyntaxError);  // an array between two functions
    Right() = MakeDerived(0, kTrainBuilding, Take(PendingFunction()));
  } else if (!Words(Right())[3] && !Left()) {
    Words(Right())[3] = Take(PendingFunction());
  } else {
    CloseFork();
  }
  PendingFunction() = item;
  g_level.functionToken = g_tokenEnd;
}

// The train read so far is complete (at a boundary or ←) and becomes the pending function: a middle
// function without a left tine makes an atop.
static void FinishTrain() {
  if (!BuildingTrain()) return;
  if (Words(Right())[3] || Left()) {
    CloseFork();
  } else {
    Ref atop = MakeDerived(Take(PendingFunction()), kTrainAtop, std::exchange(Words(Right())[5], 0));
    Words(Right())[5] = atop;
  }
  PendingFunction() = std::exchange(Words(Right())[5], 0);
  Release(Right());
}

// A function has been read (a code or a counted reference).
static void FunctionStep(Ref item) {
  if (item == kPrimAssign) FinishTrain();
  if (item == kPrimAssign && PendingFunction() && !Right() && !Left()) {
    // f←+/ : the function standing alone to the right of ← is the value assigned.
    Right() = FunctionAsValue(Take(PendingFunction()));
    PendingFunction() = item;
    g_level.functionToken = g_tokenEnd;
    g_level.flags |= kFlagAssign;
    return;
  }
  if (PendingFunction()) {
    if (!Left() && IsOperatorLike(PendingFunction())) {
      // / ⌿ \ ⍀ and ← with a function to their left and no value: they act as operators.
      Ref op = Take(PendingFunction());
      PendingFunction() = OperatorLikeDerived(item, op);
      g_level.functionToken = g_tokenEnd;
      return;
    }
    if (!Right() || BuildingTrain()) return TrainStep(item);
    PendingItem() = item;
    g_level.itemToken = g_tokenEnd;
    SetResume(kResumeFunctionStep);
    if (ApplyPending() == Applied::Later) return;
    FinishFunctionStep();
    return;
  }
  Right() = Take(Left());
  g_level.flags &= ~kFlagLeftSingle;
  PendingFunction() = item;
  g_level.functionToken = g_tokenEnd;
  if (item == kPrimAssign) g_level.flags |= kFlagAssign;
}

// After ] ... [ the index list waits in PendingItem for what stands to its left.
static bool IndexPending() { return IsRef(PendingItem()) && KindOf(TypeWord(PendingItem())) == kKindNested; }

// f[K]: the bracket list, which must hold one expression, becomes the axis of a derived function.
static Ref WithAxis(Ref fn) {
  Temporaries hold;
  hold[0] = fn;
  hold[1] = Take(PendingItem());
  if (ElementCount(hold[1]) != 1 || !IsRef(DataOf<Ref>(hold[1])[0])) SIGNAL_MESSAGE(kSyntaxError, U"Invalid axis");
  Ref axis = DataOf<Ref>(hold[1])[0];
  Retain(axis);
  return MakeDerived(hold.Take(0), kPrimLeftBracket, axis);
}

static void FunctionItem(Ref item) {
  if (IndexPending()) item = WithAxis(item);
  if (OperatorAwaiting()) return FillOperand(item);
  FunctionStep(item);
}

static void ValueStep(Ref value, bool single);

// A[I]← : the name entry (counted, taken over) and the pending index list as an assignment target.
static Ref IndexedTarget(Ref entry) {
  Temporaries hold;
  hold[0] = entry;
  Ref record = GetSpace(7);
  uint32_t* w = Words(record);
  w[1] = 1;
  w[2] = kIndexedTargetRecord;
  w[3] = hold.Take(0);
  w[4] = Take(PendingItem());
  w[5] = w[6] = 0;
  return record;
}

// V[I;J]: the pending index list applied to the value just read (counted).
static void IndexStep(Ref value) {
  if (IsNameEntry(value)) return ValueStep(IndexedTarget(value), true);
  NewValue() = TakePlainArray(value);
  FunctionHandler index = PrimitiveHandler(kPrimLeftBracket, true);
  CallResult result = IsSelection(NewValue()) ? ApplyToSelection(index, PendingItem(), NewValue())
                                              : index(PendingItem(), NewValue());
  Release(NewValue());
  Release(PendingItem());
  ValueStep(result.value, true);
}

// A value has been read (counted).
static void ValueStep(Ref value, bool single) {
  if (IndexPending()) return IndexStep(value);
  SettleSlashOperand();
  if (OperatorAwaiting()) return FillOperand(OperandStrand(value, single));
  g_level.flags &= ~kFlagShy;
  if (Left()) {
    NewValue() = value;
    StrandIntoLeft(single);
    return;
  }
  Left() = value;
  if (single) g_level.flags |= kFlagLeftSingle;
  else g_level.flags &= ~kFlagLeftSingle;
}

// A four-word record that names system variable k as an assignment target (word 4: the namespace
// whose variable it is, for ns.⎕V←; 0 for the executing one).
static Ref SystemVariableTarget(uint32_t k) {
  Ref record = GetSpace(7);
  uint32_t* w = Words(record);
  w[1] = 1;
  w[2] = kSystemTargetRecord;
  w[3] = k;
  w[4] = w[5] = w[6] = 0;
  return record;
}

static void NameStep(uint32_t index) {
  g_errorToken = g_tokenEnd;
  if (BeforeNamespaceDot()) return StartMember(index);
  Ref entry = BoundEntry(index);
  if (g_level.flags & kFlagSelectTarget) {
    g_level.flags = (g_level.flags & ~kFlagSelectTarget) | kFlagSelecting;
    return ValueStep(MakeSelection(entry), true);
  }
  if (g_level.flags & kFlagAssign) {
    // A plain or strand assignment in a dfn assigns a local name; indexed and modified ones change
    // the name as it is.
    if (!IndexPending() && !IsDerived(PendingFunction())) LocaliseInDfn(entry);
    Retain(entry);
    return ValueStep(entry, true);
  }
  switch (EntryClass(entry)) {
    case kNameVariable:
    case kNameNamespace:
    case kNameLabel: {
      Ref value = EntryValue(entry);
      Retain(value);
      return ValueStep(value, true);
    }
    case kNameFunction: {
      Ref fn = EntryValue(entry);
      if (IsTradfn(fn) && !(TradfnHeaderValue(fn, kHeaderDescriptor) & kHeaderRight)) return CallNiladic(fn);
      return FunctionItem(FunctionFromValue(fn));
    }
    case kNameSystemVariable:
      return ValueStep(ReadSystemVariable(EntrySystemVariable(entry)), true);
    case kNameUndefined: {
      Ref found = ResolveUndefinedName(entry, true);
      if (found && EntryClass(found) == kNameFunction) {  // through ⎕PATH: it runs where it was found
        Temporaries hold;
        hold[0] = EntryNamespace(found);
        Retain(hold[0]);
        return FunctionFoundIn(FunctionFromValue(EntryValue(found)), hold[0]);
      }
      SIGNAL(kValueError);
    }
    case kNameOperator: {
      Ref op = EntryValue(entry);
      Retain(op);
      return DopStep(op);
    }
    default:
      SIGNAL(kNonceError);  // object members are built by their own units
  }
}


[[noreturn]] static void QuadOff(Ref argument) {
  if (!IsRef(argument)) ExitApl(0);
  if (!IsArrayKind(KindOf(TypeWord(argument))) || ElementCount(argument) != 1) SIGNAL(kLengthError);
  std::vector<int64_t> code;
  if (!ReadIntegers(argument, code) || code[0] < 0 || code[0] > 255) SIGNAL(kDomainError);
  ExitApl(static_cast<int>(code[0]));
}

// The value of system variable k (counted); ⎕DMX, the error record, is kept by the errors unit.
static Ref SystemVariableValue(uint32_t k) { return k == kQuadDMX ? DmxValue() : ReadSystemVariable(k); }

// The result of niladic system function k (counted).
static Ref NiladicValue(uint32_t k) {
  NiladicHandler handler = g_niladics[k];
  if (!handler) SIGNAL(kNonceError);  // a niladic function whose unit is not built yet
  return handler();
}

static void SystemNameStep(uint8_t tokenCode) {
  uint32_t k = ReadByte();
  g_errorToken = g_tokenEnd;
  if (BeforeNamespaceDot()) return StartMember(kSystemMemberFlag | tokenCode << 8 | k);
  switch (tokenCode) {
    case 61: return FunctionItem(SystemFunctionCode(k));
    case 62:
      if (g_level.flags & kFlagAssign) return ValueStep(SystemVariableTarget(k), true);
      return ValueStep(SystemVariableValue(k), true);
    case 63:
      if (k == g_offNumber) return FunctionItem(kCodeOff);
      return ValueStep(NiladicValue(k), true);
    default:  // a system operator (⎕R, ⎕S, ⎕OPT, ⎕VARIANT) binds like any dyadic operator
      return DyadicOperatorStep(240 + k);
  }
}

static void ConstantStep(uint32_t index, bool single) {
  Ref value = SymbolSlot(index);
  Retain(value);
  ValueStep(value, single);
}

// The token 95 extends the index of the token to its left to 16 bits.
static void ExtensionStep() {
  uint32_t low = ReadByte();
  uint32_t high = ReadByte();
  uint32_t index = high * 256 + low;
  uint8_t inner = ReadByte();
  if (inner == 86 || inner == 87) {
    ReadByte();
    return ConstantStep(index, inner == 87);
  }
  if (inner == 94) {
    ReadByte();
    return;
  }
  NameStep(index);
}

// ---- Nesting levels: parentheses and index brackets -------------------------------------------------

static void PushNesting(uint32_t subType, bool keepAssignment) {
  Ref frame = NewFrame(kFrameNesting, subType);
  uint32_t* w = Words(frame);
  w[kNestSavedLeft] = Take(Left());
  w[kNestSavedRight] = Take(Right());
  w[kNestSavedPendingFunction] = Take(PendingFunction());
  w[kNestSavedPendingItem] = Take(PendingItem());
  SaveState(w + kNestSavedState);
  PushFrame(frame);
  g_level.flags = keepAssignment ? uint32_t{kFlagAssign} : 0u;
  g_level.memberStop = 0;
}

// Pops the nesting level on top (which must be of `subType`) and restores the enclosing registers.
static void PopNesting(uint32_t subType) {
  Ref frame = CurrentFrame();
  if (FrameClassOf(frame) != kFrameNesting || FrameSubTypeOf(frame) != subType) SIGNAL(kSyntaxError);
  ClearRegisters();
  frame = PopFrame();
  uint32_t* w = Words(frame);
  Left() = Take(w[kNestSavedLeft]);
  Right() = Take(w[kNestSavedRight]);
  PendingFunction() = Take(w[kNestSavedPendingFunction]);
  PendingItem() = Take(w[kNestSavedPendingItem]);
  RestoreState(w + kNestSavedState);
  Release(frame);
}

// A parenthesised target of ← is a strand of names when nothing but names stands inside.
static bool ParenthesesHoldOnlyNames() {
  for (uint32_t p = Cursor(); p > StreamFirstToken();) {
    uint8_t code = ByteAt(p - 1);
    uint32_t start = TokenStartBefore(p);
    if (code == 96) return true;
    bool name = code >= 112 || (code == 95 && ByteAt(p - 4) == 112);
    if (!name) return false;
    p = start;
  }
  return false;
}

// For a parenthesised target that is not a strand of names: true when a name is met, going left
// inside the parentheses, before any value — that name is the target of a selective assignment.
static bool ParenthesesSelect() {
  int depth = 0;
  for (uint32_t p = Cursor(); p > StreamFirstToken();) {
    uint8_t code = ByteAt(p - 1);
    uint32_t start = TokenStartBefore(p);
    p = start;
    if (code == kPrimRightBracket || code == kPrimRightParen) {
      if (code == kPrimRightParen && depth == 0) return false;  // a parenthesised value comes first
      ++depth;
      continue;
    }
    if (code == kPrimLeftBracket || code == kPrimLeftParen) {
      if (depth-- == 0) return false;
      continue;
    }
    if (depth > 0) continue;
    if (code >= 112 || (code == kTokExtension && ByteAt(start) == 112)) return true;
    if (kTokenClass[code] == kTcConstant || kTokenClass[code] == kTcZilde) return false;
  }
  return false;
}

static void CloseParenthesisStep() {
  bool assigning = (g_level.flags & kFlagAssign) != 0;
  if (!assigning || ParenthesesHoldOnlyNames()) return PushNesting(kNestingParenthesis, assigning);
  bool selective = ParenthesesSelect();
  g_level.flags &= ~kFlagAssign;
  PushNesting(kNestingParenthesis, false);
  if (selective) g_level.flags |= kFlagSelectTarget;
}

// Applies what is pending at a boundary ( ( [ ; ⋄ and the line start), leaving the value so far in
// LeftSlot. Returns false when the application continues in an execution level: the boundary token
// is read again when that level ends.
static bool CompleteAtBoundary(uint32_t boundaryEnd) {
  SettleSlashOperand();
  FinishTrain();
  if (OperatorAwaiting()) SIGNAL(kSyntaxError);  // an operator without its left operand
  if (IndexPending()) SIGNAL(kSyntaxError);      // an index list with nothing to index
  if (!PendingFunction()) return true;
  if (!Right()) {
    if (PendingFunction() == kCodeOff) QuadOff(0);
    if (PendingFunction() == kPrimBranch && !Left()) {
      Release(PendingFunction());
      Escape();
      return true;
    }
    if (Left()) {
      g_errorToken = g_level.functionToken;
      SIGNAL(kSyntaxError);  // a value left over before a function
    }
    Left() = FunctionAsValue(Take(PendingFunction()));
    g_level.flags |= kFlagLeftSingle;
    return true;
  }
  uint32_t boundaryStart = CursorOffset();  // relative: the application may move the token stream
  Cursor() = boundaryEnd;
  SetResume(kResumeBoundary);
  if (ApplyPending() == Applied::Later) return false;
  Cursor() = Tokens() + boundaryStart;
  Left() = Take(NewValue());
  g_level.flags |= kFlagLeftSingle;
  g_level.flags &= ~kFlagAssign;
  return true;
}

static void OpenParenthesisStep(uint32_t boundaryEnd) {
  Ref frame = CurrentFrame();
  if (FrameClassOf(frame) != kFrameNesting || FrameSubTypeOf(frame) != kNestingParenthesis) SIGNAL(kSyntaxError);
  if (!CompleteAtBoundary(boundaryEnd)) return;
  bool selecting = (g_level.flags & kFlagSelecting) != 0;
  Ref value = Take(Left());
  if (selecting != IsSelection(value)) {
    Release(value);
    SIGNAL(kSyntaxError);  // a selection that escaped its target, or a target that selected nothing
  }
  PopNesting(kNestingParenthesis);
  if (selecting) g_level.flags |= kFlagAssign;
  if (!value) SIGNAL_MESSAGE(kValueError, U"No result was provided when the context expected one");
  if (IsFunction(value)) return FunctionItem(UnwrapFunction(value));
  ValueStep(value, true);
}

static void CloseBracketStep() { PushNesting(kNestingBracket, false); }

// Adds the value of the index item just finished (0 when elided) in front of the level's list.
static void CollectIndexItem() {
  Temporaries hold;
  hold[0] = TakePlainArray(Take(Left()));
  Ref frame = CurrentFrame();
  Ref list = Words(frame)[kNestItemList];
  uint32_t count = IsRef(list) ? static_cast<uint32_t>(ElementCount(list)) : 0;
  Ref grown = AllocVector(kRefElement, count + 1);
  frame = CurrentFrame();
  list = Words(frame)[kNestItemList];
  DataOf<Ref>(grown)[0] = hold.Take(0);
  for (uint32_t i = 0; i < count; ++i) {
    Ref item = DataOf<Ref>(list)[i];
    Retain(item);
    DataOf<Ref>(grown)[i + 1] = item;
  }
  Put(Words(frame)[kNestItemList], grown);
}

// ; and [ belong to an index-bracket level: anywhere else they are SYNTAX ERROR.
static void RequireBracketLevel() {
  Ref frame = CurrentFrame();
  if (FrameClassOf(frame) != kFrameNesting || FrameSubTypeOf(frame) != kNestingBracket) SIGNAL(kSyntaxError);
}

static void SemicolonStep(uint32_t boundaryEnd) {
  RequireBracketLevel();
  if (!CompleteAtBoundary(boundaryEnd)) return;
  CollectIndexItem();
  ClearRegisters();
}

static void OpenBracketStep(uint32_t boundaryEnd) {
  RequireBracketLevel();
  if (!CompleteAtBoundary(boundaryEnd)) return;
  CollectIndexItem();
  Ref frame = CurrentFrame();
  Ref list = Take(Words(frame)[kNestItemList]);
  PopNesting(kNestingBracket);
  if (PendingItem()) SIGNAL(kSyntaxError);
  PendingItem() = list;
}

// ---- Execution levels: ⍎ and ⎕ input -----------------------------------------------------------------

// Pushes an execution level that saves the running code's stream, cursor, symbol list, pending item,
// namespace and state, then makes `text` (scanned with a fresh symbol list) the running code.
// Moves the running code's stream, cursor, symbol list, registers, namespace and state into a new
// execution-level or dfn frame.
static void SaveCaller(Ref frame) {
  uint32_t* w = Words(frame);
  w[kExecCallerCursor] = CursorOffset();
  w[kExecCallerTokens] = Take(Tokens());
  w[kExecCallerSymbols] = Take(RootWordAt(kRootSymbolList));
  w[kExecCallerPendingItem] = Take(PendingItem());
  w[kExecCallerLeft] = Take(Left());
  w[kExecCallerRight] = Take(Right());
  w[kExecCallerPendingFunction] = Take(PendingFunction());
  w[kExecCallerNamespace] = ExecutingNamespace();
  Retain(w[kExecCallerNamespace]);
  SaveState(w + kExecCallerState);
}

static void ReinstateCaller(Ref frame);

static void EnterExecutionLevel(uint32_t subType, const std::u32string& text) {
  Ref frame = NewFrame(kFrameExecution, subType);
  SaveCaller(frame);
  PushFrame(frame);
  ClearRegisters();
  g_level = {};
  try {
    ScanImmediateText(text);
  } catch (const AplError&) {
    // A text that cannot be scanned fails in its caller, which the error display then shows.
    Temporaries hold;
    hold[0] = PopFrame();
    ClearRegisters();
    ReinstateCaller(hold[0]);
    throw;
  }
  StartStream();
}

// The text ⍎ runs: a simple character scalar or vector, or an empty array.
static std::u32string ExecutedText(Ref right) {
  if (!IsSimpleCharacterArray(right) && !(IsArrayKind(KindOf(TypeWord(right))) && ElementCount(right) == 0))
    SIGNAL(kDomainError);
  if (RankOf(TypeWord(right)) > 1) SIGNAL(kRankError);
  return ElementCount(right) ? CharacterText(right) : std::u32string();
}

// Opens the ⍎ level that runs `text`, in `space` (counted, taken over) when it is not 0.
static void EnterExecute(const std::u32string& text, Ref space) {
  Temporaries hold;
  hold[0] = space;
  EnterExecutionLevel(kExecutionExecute, text);
  if (hold[0]) SetExecutingNamespace(hold[0]);
}

// ⍎ applied: RightSlot the text; LeftSlot, when given, the namespace to run it in.
static void StartExecute() {
  std::u32string text = ExecutedText(Right());
  Ref space = Left() ? NamespaceOfArgument(Left()) : 0;  // counted; VALUE or DOMAIN ERROR when it is none
  Release(Left());
  Release(Right());
  Release(PendingFunction());
  EnterExecute(text, space);
}

// Ends the execution level on top and continues its caller with the level's result.
// Reinstates the caller saved in a popped execution-level or dfn frame (held by the caller of this)
// and continues it with the level's result (counted, taken over) as the resume action says.
static void ResumeCaller(Ref frame, Ref result, bool shy);

static void LeaveExecutionLevel() {
  Temporaries hold;
  hold[0] = PopFrame();
  ClearRegisters();
  uint32_t* w = Words(hold[0]);
  Ref result = Take(w[kExecResult]);
  bool shy = w[kExecResultFlags] & 1;
  ResumeCaller(hold[0], result, shy);
}

// Puts back the caller that SaveCaller kept in `frame` (held by the caller of this): its stream,
// cursor, symbols, registers, level state and namespace.
static void ReinstateCaller(Ref frame) {
  uint32_t* w = Words(frame);
  Put(Tokens(), Take(w[kExecCallerTokens]));
  Cursor() = Tokens() + w[kExecCallerCursor];
  Put(RootWordAt(kRootSymbolList), Take(w[kExecCallerSymbols]));
  PendingItem() = Take(w[kExecCallerPendingItem]);
  Left() = Take(w[kExecCallerLeft]);
  Right() = Take(w[kExecCallerRight]);
  PendingFunction() = Take(w[kExecCallerPendingFunction]);
  RestoreState(w + kExecCallerState);
  Ref caller = w[kExecCallerNamespace];
  if (caller != ExecutingNamespace()) SetExecutingNamespace(caller);
}

static void RunService(bool given, Ref result);

static void ResumeCaller(Ref frame, Ref result, bool shy) {
  Temporaries hold;
  hold[0] = frame;
  Retain(frame);
  hold[1] = result;
  ReinstateCaller(hold[0]);
  result = hold.Take(1);
  uint32_t resume = Resume(g_level);
  SetResume(kResumeNone);
  if (resume == kResumeFunctionStep) {
    NewValue() = result;
    FinishFunctionStep();
  } else if (resume == kResumeValueStep) {
    // A niladic function without a result may stand alone; anything waiting for a value fails.
    if (!result && (Left() || Right() || PendingFunction() || PendingItem())) SIGNAL(kValueError);
    if (result) ValueStep(result, true);
  } else if (resume == kResumeNative) {
    Put(WorkingSlot(kSlotNativeResult), result);
    g_nativeCallDone = true;
  } else if (resume == kResumeService) {
    RunService(true, result);
  } else {
    Left() = result;
    g_level.flags |= kFlagLeftSingle;
    if (shy) g_level.flags |= kFlagShy;
    else g_level.flags &= ~kFlagShy;
  }
}



// ---- Defined functions ---------------------------------------------------------------------------------
// A call pushes an execution-level frame that saves the caller, localises the function's names (the
// locals from the last to the first, the labels from the last line to the first, then the right
// argument, the left argument and the result) and runs the lines one after another. A branch
// chooses the next line; running off the end, or a branch to a line that does not exist, returns.

static bool IsRunningTradfn(Ref frame) {
  return FrameClassOf(frame) == kFrameExecution && FrameSubTypeOf(frame) == kExecutionRunning;
}

static bool IsSuspendedTradfn(Ref frame) {
  return FrameClassOf(frame) == kFrameExecution && FrameSubTypeOf(frame) == kExecutionSuspended;
}

// A ⎕ or ⍎ level: its statements' values go back to the code that opened it.
static bool IsInputOrExecuteLevel(Ref frame) {
  uint32_t sub = FrameSubTypeOf(frame);
  return FrameClassOf(frame) == kFrameExecution && (sub == kExecutionEvaluatedInput || sub == kExecutionExecute);
}

// Lines typed by the user run at the session level: on top of the most recently suspended function,
// or in immediate execution when nothing is suspended.
static bool IsSessionLevel(Ref frame) { return FrameClassOf(frame) == kFrameImmediate || IsSuspendedTradfn(frame); }

static Ref SessionLevel() {
  Ref f = CurrentFrame();
  while (!IsSessionLevel(f)) f = FrameBelow(f);
  return f;
}

static uint32_t g_branchLine = 0;
static bool g_branchPending = false;

static void LocaliseHeaderName(Ref fn, uint32_t item, uint32_t nameClass, Ref value) {
  uint32_t index = TradfnHeaderValue(fn, item);
  if (index == kNoHeaderName) return;
  LocaliseName(BoundEntry(index), nameClass, value);
}

// The function of the frame on top, read again after anything that allocates (compaction moves it).
static Ref RunningFunction() { return Words(CurrentFrame())[kExecFunction]; }

// The right argument's name, or the names of a list (A B C), which take its items as a strand
// assignment gives them.
static void LocaliseRightNames(const Ref& omega) {
  const uint32_t names = TradfnHeaderValue(RunningFunction(), kHeaderRightCount);
  if (names == 0 || !omega)
    return LocaliseHeaderName(RunningFunction(), kHeaderRightName, omega ? kNameVariable : kNameUndefined, omega);
  const uint64_t count = ElementCount(omega);
  for (uint32_t i = 0; i < names; ++i) {
    Temporaries hold;
    hold[0] = ElementAsScalar(omega, count == 1 ? 0 : i);
    LocaliseName(BoundEntry(TradfnListName(RunningFunction(), kHeaderRightCount, i)), kNameVariable, hold[0]);
  }
}

static void LocaliseFunctionNames(const Ref& alpha, const Ref& omega) {
  for (uint32_t i = TradfnLocalCount(RunningFunction()); i-- > 0;) {
    uint32_t code = TradfnHeaderValue(RunningFunction(), kHeaderFirstLocal + i);
    if (code == kNoHeaderName) continue;
    if (code >= kSystemLocal) {
      Temporaries hold;
      hold[0] = ReadSystemVariable(code - kSystemLocal);
      LocaliseName(SystemVariableEntry(code - kSystemLocal), kNameSystemVariable, hold[0]);
    } else {
      LocaliseName(BoundEntry(code), kNameUndefined, 0);
    }
  }
  for (uint32_t n = TradfnLineCount(RunningFunction()); n >= 1; --n) {
    uint32_t label = HeaderField16(TradfnLine(RunningFunction(), n), kHeaderLabel);
    if (label == kNoLabel) continue;
    Temporaries hold;
    hold[0] = MakeIntScalar(static_cast<int32_t>(n));
    LocaliseName(BoundEntry(label), kNameLabel, hold[0]);
  }
  LocaliseRightNames(omega);
  LocaliseHeaderName(RunningFunction(), kHeaderLeftName, alpha ? kNameVariable : kNameUndefined, alpha);
  const uint32_t results = TradfnHeaderValue(RunningFunction(), kHeaderResultCount);
  if (results == 0) LocaliseHeaderName(RunningFunction(), kHeaderResultName, kNameUndefined, 0);
  for (uint32_t i = 0; i < results; ++i)
    LocaliseName(BoundEntry(TradfnListName(RunningFunction(), kHeaderResultCount, i)), kNameUndefined, 0);
}

static void LeaveTradfn();

// Runs line n of the function in the frame on top; past the last line the function returns.
static void StartTradfnLine(uint32_t n) {
  Ref frame = CurrentFrame();
  Ref fn = Words(frame)[kExecFunction];
  if (n < 1 || n > TradfnLineCount(fn)) return LeaveTradfn();
  Words(frame)[kExecLineNumber] = n;
  Ref line = TradfnLine(fn, n);
  Retain(line);
  Put(Tokens(), line);
  g_level = {};
  StartStream();
  CheckInterruptAtLine();  // an interrupt stops the function before the line runs
}

// An operand of a defined operator becomes the value of its header name: a function (a primitive
// as its wrapper) or an array.
static void LocaliseOperand(uint32_t item, Ref operand) {
  Temporaries hold;
  Retain(operand);
  bool function = IsFunction(operand);
  hold[0] = function ? FunctionAsValue(operand) : operand;
  LocaliseHeaderName(RunningFunction(), item, function ? kNameFunction : kNameVariable, hold[0]);
}

// Enters a defined function, or a defined operator's derived function: `call` root-held; ⍺ and ⍵
// counted references taken over (0 when absent).
static void EnterTradfn(const Ref& given, Ref alpha, Ref omega) {
  Temporaries hold;
  hold[0] = alpha;
  hold[1] = omega;
  Temporaries home;  // a function called in its own namespace (ns.F): [0] the function, [1] ns
  if (IsInNamespaceCall(given)) {
    home[0] = Words(given)[3];
    Retain(home[0]);
    home[1] = Words(given)[5];
    Retain(home[1]);
  }
  const Ref& call = home[0] ? home[0] : given;
  Ref fn = IsDerived(call) ? Words(call)[4] : call;
  uint32_t descriptor = TradfnHeaderValue(fn, kHeaderDescriptor);
  if (bool(descriptor & kHeaderLeftOperand) != IsDerived(call)) SIGNAL(kSyntaxError);  // an operator needs operands
  if (alpha && !(descriptor & kHeaderLeft)) SignalTakesNoLeft();
  if (!alpha && (descriptor & kHeaderLeft) && !(descriptor & kHeaderLeftOptional)) SignalNeedsLeft();
  if (omega && !(descriptor & kHeaderRight)) SIGNAL(kSyntaxError);
  if (!omega && (descriptor & kHeaderRight)) SIGNAL(kSyntaxError);
  if (const uint32_t names = TradfnHeaderValue(fn, kHeaderRightCount)) {  // (A B C) takes a strand
    if (RankOf(TypeWord(omega)) > 1) SIGNAL(kRankError);
    if (ElementCount(omega) != 1 && ElementCount(omega) != names) SIGNAL(kLengthError);
  }
  Ref frame = NewFrame(kFrameExecution, kExecutionRunning);
  hold[2] = frame;
  SaveCaller(frame);
  fn = IsDerived(call) ? Words(call)[4] : call;  // read again: the allocation may have moved it
  Words(frame)[kExecFunction] = fn;
  Retain(fn);
  PushFrame(hold.Take(2));
  if (home[1] && home[1] != ExecutingNamespace()) SetExecutingNamespace(home[1]);
  ClearRegisters();
  g_level = {};
  RootWordAt(kRootSymbolList) = Words(fn)[kTradfnNames];
  Retain(RootWordAt(kRootSymbolList));
  Tokens() = TradfnLine(fn, 0);
  Retain(Tokens());
  StartStream();  // an error while the names are localised is shown on the header line
  LocaliseFunctionNames(hold[0], hold[1]);
  if (IsDerived(call)) {
    LocaliseOperand(kHeaderLeftOperandName, Words(call)[3]);
    if (descriptor & kHeaderRightOperand) LocaliseOperand(kHeaderRightOperandName, Words(call)[5]);
  }
  StartTradfnLine(1);
}

// A result name holds a value: an array or a namespace reference.
static bool HoldsValue(Ref entry) {
  uint32_t cls = EntryClass(entry);
  return cls == kNameVariable || cls == kNameNamespace;
}

// The values of a result list (R1 R2) as a vector (counted); none unless every name has one.
static Ref ResultListValue() {
  const uint32_t names = TradfnHeaderValue(RunningFunction(), kHeaderResultCount);
  for (uint32_t i = 0; i < names; ++i)
    if (!HoldsValue(BoundEntry(TradfnListName(RunningFunction(), kHeaderResultCount, i)))) return 0;
  Ref list = NewArray(kRefElement, {names});
  for (uint32_t i = 0; i < names; ++i) {
    Ref value = EntryValue(BoundEntry(TradfnListName(RunningFunction(), kHeaderResultCount, i)));
    Retain(value);
    DataOf<Ref>(list)[i] = value;
  }
  return Simplified(list);
}

// The function on top returns: the value of its result name (if any) goes to the caller.
static void LeaveTradfn() {
  Ref fn = RunningFunction();
  Temporaries hold;
  bool shy = (TradfnHeaderValue(fn, kHeaderDescriptor) & kHeaderShyResult) != 0;
  uint32_t resultIndex = TradfnHeaderValue(fn, kHeaderResultName);
  if (TradfnHeaderValue(fn, kHeaderResultCount)) {
    hold[0] = ResultListValue();
  } else if (resultIndex != kNoHeaderName) {
    Ref entry = BoundEntry(resultIndex);
    if (HoldsValue(entry)) {
      hold[0] = EntryValue(entry);
      Retain(hold[0]);
    }
  }
  hold[1] = PopFrame();
  ClearRegisters();
  if (FrameClassOf(CurrentFrame()) == kFrameLocalisation) CutBackTo(FrameBelow(CurrentFrame()));
  ResumeCaller(hold[1], hold.Take(0), shy);
}

// A statement of the running function has finished (its value in LeftSlot): an unassigned value is
// shown, and the next statement, the next line, or the line a branch chose follows.
static void TradfnStatementDone(bool shy) {
  if (Left() && !shy) DisplayValue(Left());
  Release(Left());
  if (g_branchPending) {
    g_branchPending = false;
    return StartTradfnLine(g_branchLine);
  }
  if (!NextStatement()) StartTradfnLine(Words(CurrentFrame())[kExecLineNumber] + 1);
}

// A niladic defined function named in running code is called at once; its result is a value.
static void CallNiladic(Ref fn) {
  Temporaries hold;
  hold[0] = fn;
  Retain(fn);
  SetResume(kResumeValueStep);
  EnterTradfn(hold[0], 0, 0);
}


// ---- Dfns ---------------------------------------------------------------------------------------------
// Braces make a dfn object that refers to the token stream they stand in. Calling it pushes a dfn
// frame that saves the caller like an execution level, holds ⍺ ⍵ ⍺⍺ ⍵⍵ and ∇, and runs the dfn's
// statements left to right, each right to left from the boundary (⋄, guard, closing brace) that
// ends it. The structure tokens of a line are chained backwards, so the boundaries of a dfn are
// found by walking that chain from its closing brace, counting nested braces.

enum DfnMode : uint32_t { kDfnPlain = 0, kDfnGuardCondition = 1, kDfnGuardResult = 2, kDfnErrorNumbers = 3 };
// An error guard that has been passed: its error numbers (a reference word the dfn does not use
// otherwise) and the offset of its :: token.
inline constexpr uint32_t kDfnGuardNumbers = kExecResult;
inline constexpr uint32_t kDfnGuardPosition = kExecResultFlags;

static uint32_t TokenBase() { return StreamFirstToken(); }
// A structure token [0][h][l][c][111] is known by the offset r of its last byte in the token bytes.
static uint8_t StructureCodeAt(uint32_t r) { return ByteAt(TokenBase() + r - 1); }
static uint32_t StructureChainAt(uint32_t r) {
  return ByteAt(TokenBase() + r - 3) * 256u + ByteAt(TokenBase() + r - 2);
}
static bool IsDfnClose(uint8_t c) { return c >= kStructDfnEnd && c <= kStructDyadicDopEnd; }

static bool IsDfnFrame(Ref frame) { return (TypeWord(frame) & kDfnFrameFlag) != 0; }

// A dfn object, or a derived function whose operator is a dfn (a dop with its operands).
static bool IsDfnCall(Ref fn) {
  return IsDfnObject(fn) || (IsDerived(fn) && IsDfnObject(Words(fn)[4]));
}
// A defined function, or a derived function whose operator is a defined operator.
// ns.F for a defined function F: F is called with ns as its executing namespace.
static bool IsInNamespaceCall(Ref fn) {
  return IsDerived(fn) && Words(fn)[4] == kInNamespaceCode && IsTradfn(Words(fn)[3]);
}
static bool IsTradfnCall(Ref fn) {
  return IsTradfn(fn) || (IsDerived(fn) && IsTradfn(Words(fn)[4])) || IsInNamespaceCall(fn);
}

static uint32_t MatchingDfnOpen(uint32_t close) {
  int depth = 0;
  for (uint32_t p = StructureChainAt(close); p != 0; p = StructureChainAt(p)) {
    uint8_t c = StructureCodeAt(p);
    if (IsDfnClose(c)) ++depth;
    else if (c == kStructDfnOpen && depth-- == 0) return p;
  }
  SIGNAL(kSyntaxError);  // a closing brace without its opening one
}

// Where the statement to the left of the boundary structure token at `r` ends: the token's first
// byte (a line break in a dfn has two more bytes before it).
static uint32_t StatementEndBefore(uint32_t r) { return r - (StructureCodeAt(r) == kStructDfnContinues ? 6 : 4); }

// The first boundary of the dfn's own statements after token offset `after`: a ⋄, a guard, an
// error guard or the closing brace.
static uint32_t NextDfnBoundary(uint32_t close, uint32_t after) {
  uint32_t next = close;
  int depth = 0;
  for (uint32_t p = StructureChainAt(close); p > after; p = StructureChainAt(p)) {
    uint8_t c = StructureCodeAt(p);
    if (IsDfnClose(c)) ++depth;
    else if (c == kStructDfnOpen) --depth;
    else if (depth == 0 && (c == kStructDfnDiamond || c == kStructDfnContinues || c == kStructGuard ||
                            c == kStructErrorGuard))
      next = p;
  }
  return next;
}

// A dfn travels as the offsets of its braces, its token stream and its symbol list; it arrives in
// the namespace being read into, as if it had been made there.
static void WriteDfn(Ref dfn, TransferWriter& out) {
  if (TypeWord(dfn) & kDfnFrameFlag) out.Fail(kDomainError, MessageRow(U"Array cannot be serialised"));
  const uint32_t* w = Words(dfn);
  out.Word(kDfnObjectWords);
  out.Word(kDfnObjectClass);
  out.Word(w[kDfnObjectOpen]);
  out.Word(w[kDfnObjectClose]);
  out.Word(w[kDfnObjectKind]);
  out.Child(w[kDfnObjectStream]);
  out.Child(w[kDfnObjectSymbols]);
}

static Ref ReadDfn(TransferReader& in, uint32_t size, uint32_t type) {
  if (size != kDfnObjectWords || type != kDfnObjectClass) TransferReader::Invalid();
  uint32_t open = in.Word(), close = in.Word(), kind = in.Word();
  if (kind > 2 || open >= close) TransferReader::Invalid();
  Ref dfn = GetSpace(kDfnObjectWords);
  uint32_t* w = Words(dfn);
  w[1] = 1;
  w[2] = kDfnObjectClass;
  w[kDfnObjectStream] = 0;
  w[kDfnObjectSymbols] = 0;
  w[kDfnObjectNamespace] = Retained(ExecutingNamespace());
  w[kDfnObjectOpen] = open;
  w[kDfnObjectClose] = close;
  w[kDfnObjectKind] = kind;
  in.ChildrenToWords(kDfnObjectStream, 2);
  return dfn;
}

// The braces must lie inside a token stream of bytes, with a symbol list beside it.
static void FinishTransferredDfn(const Ref& dfn, const Ref&, bool completed) {
  if (!completed) return;
  const uint32_t* w = Words(dfn);
  Ref stream = w[kDfnObjectStream], symbols = w[kDfnObjectSymbols];
  if (!IsRef(stream) || KindOf(TypeWord(stream)) != kKindSimple || kElementInfo[ElementOf(TypeWord(stream))].bytes != 1 ||
      w[kDfnObjectClose] >= ElementCount(stream) || !IsRef(symbols) || KindOf(TypeWord(symbols)) != kKindRefList)
    TransferReader::Invalid();
}

static Ref MakeDfn(uint32_t open, uint32_t close, uint32_t kind) {
  Ref dfn = GetSpace(kDfnObjectWords);
  uint32_t* w = Words(dfn);
  w[1] = 1;
  w[2] = kDfnObjectClass;
  w[kDfnObjectStream] = Tokens();
  w[kDfnObjectSymbols] = RootWordAt(kRootSymbolList);
  w[kDfnObjectNamespace] = ExecutingNamespace();
  for (uint32_t k = kDfnObjectStream; k <= kDfnObjectNamespace; ++k) Retain(w[k]);
  w[kDfnObjectOpen] = open;
  w[kDfnObjectClose] = close;
  w[kDfnObjectKind] = kind;
  return dfn;
}

// A closing brace read in running code: the braces become a dfn object (or a dop, which acts as an
// operator) and reading continues left of the opening brace.
static void DfnLiteralStep(uint32_t tokenEnd, uint8_t code) {
  uint32_t close = tokenEnd - 1 - TokenBase();
  uint32_t open = MatchingDfnOpen(close);
  Cursor() = TokenBase() + open - 4;
  uint32_t kind = code - kStructDfnEnd;
  Ref dfn = MakeDfn(open, close, kind);
  // A dop directly right of ← is the value assigned; anywhere else it takes its operands.
  if (kind == 0 || ByteAt(Cursor() - 1) == kPrimAssign) return FunctionItem(dfn);
  DopStep(dfn);
}

// A dop or defined operator (counted) read in running code: an operator waiting for its operands.
static void DopStep(Ref op) {
  bool dyadic = IsTradfn(op) ? (TradfnHeaderValue(op, kHeaderDescriptor) & kHeaderRightOperand) != 0
                             : Words(op)[kDfnObjectKind] == 2;
  if (dyadic) return DyadicOperatorStep(op);
  MonadicOperatorStep(op);
}

// The dfn frame that ⍺, ⍵, ∇ and assignments refer to: the innermost one, unless a defined
// function or immediate execution comes first.
static Ref InnermostDfnFrame() {
  for (Ref f = CurrentFrame(); IsRef(f); f = FrameBelow(f)) {
    if (IsDfnFrame(f)) return f;
    uint32_t c = FrameClassOf(f);
    if (c == kFrameImmediate || (c == kFrameExecution && FrameSubTypeOf(f) >= kExecutionSuspended)) return 0;
  }
  return 0;
}

// Positions the running dfn at the statement that follows the boundary at token offset
// `leftBoundary`; at the closing brace the dfn ends without a result.
static void LeaveDfn(Ref result, bool shy = false);
static void StartDfnStatement(uint32_t leftBoundary) {
  Ref frame = CurrentFrame();
  uint32_t close = Words(frame)[kDfnClose];
  for (;;) {
    if (leftBoundary == close) return LeaveDfn(0);
    uint32_t right = NextDfnBoundary(close, leftBoundary);
    uint32_t first = leftBoundary + 5;  // the last byte of the statement's first token, if a structure
    bool defaultAlpha = first < right && ByteAt(TokenBase() + first) == kTokStructure &&
                        StructureCodeAt(first) == kStructDefaultAlpha;
    if (defaultAlpha && Words(frame)[kDfnAlpha]) {
      leftBoundary = right;  // ⍺← runs only when the dfn was called without a left argument
      continue;
    }
    Words(frame)[kDfnStatementStart] = leftBoundary;
    Words(frame)[kDfnStatementEnd] = right;
    uint8_t boundary = StructureCodeAt(right);
    Words(frame)[kDfnMode] = boundary == kStructGuard        ? kDfnGuardCondition
                             : boundary == kStructErrorGuard ? kDfnErrorNumbers
                                                             : kDfnPlain;
    Cursor() = TokenBase() + StatementEndBefore(right);
    g_level.statementEnd = CursorOffset();
    return CheckInterruptAtLine();  // so that a dfn that never ends can be stopped
  }
}

// Enters a dfn: `fn` (root-held) is the dfn or a dop's derived function; ⍺ and ⍵ are counted
// references taken over (⍺ 0 for a monadic call).
// Gives a dfn frame (on top) the dfn or dop `fn` (root-held), its operands and ⍺ ⍵ (counted, taken
// over), and starts its first statement.
static void RunDfnInFrame(const Ref& fn, Ref alpha, Ref omega) {
  uint32_t* w = Words(CurrentFrame());
  Ref dfn = fn;
  Put(w[kDfnAlphaAlpha], 0);
  Put(w[kDfnOmegaOmega], 0);
  if (IsDerived(fn)) {
    dfn = Words(fn)[4];
    w[kDfnAlphaAlpha] = Words(fn)[3];
    w[kDfnOmegaOmega] = Words(fn)[5];
    Retain(w[kDfnAlphaAlpha]);
    Retain(w[kDfnOmegaOmega]);
  }
  Retain(dfn);
  Put(w[kDfnSelf], dfn);
  Put(w[kDfnAlpha], alpha);
  Put(w[kDfnOmega], omega);
  Put(w[kDfnGuardNumbers], 0);
  w[kDfnOpen] = Words(dfn)[kDfnObjectOpen];
  w[kDfnClose] = Words(dfn)[kDfnObjectClose];
  ClearRegisters();
  g_level = {};
  uint32_t* d = Words(dfn);
  Tokens() = d[kDfnObjectStream];
  Retain(Tokens());
  RootWordAt(kRootSymbolList) = d[kDfnObjectSymbols];
  Retain(RootWordAt(kRootSymbolList));
  Ref space = d[kDfnObjectNamespace];
  if (IsRef(space) && space != ExecutingNamespace()) SetExecutingNamespace(space);
  StartDfnStatement(Words(CurrentFrame())[kDfnOpen]);
}

static void EnterDfn(const Ref& fn, Ref alpha, Ref omega) {
  Temporaries hold;
  hold[0] = alpha;
  hold[1] = omega;
  Ref frame = NewFrame(kFrameService, kServiceDfn);
  hold[2] = frame;
  SaveCaller(frame);
  PushFrame(hold.Take(2));
  RunDfnInFrame(fn, hold.Take(0), hold.Take(1));
}

// A dfn call whose result is the result of the running dfn (the last thing its last statement, or
// a guard's expression, does) reuses the running dfn's frame when that dfn has no locals and no
// armed error guard: the frame keeps what it saved of its own caller, so tail recursion runs in
// constant space.
static bool g_atDfnStatementStart = false;  // the application completes a dfn statement
static bool IsTailCall(Ref fn) {
  if (!g_atDfnStatementStart || !IsDfnCall(fn)) return false;
  Ref frame = CurrentFrame();
  if (!IsDfnFrame(frame) || PendingItem() || Resume(g_level) != kResumeBoundary) return false;
  uint32_t* w = Words(frame);
  if (IsRef(w[kDfnGuardNumbers])) return false;  // the dfn's error guard must still see the callee's errors
  if (FrameClassOf(FrameBelow(frame)) == kFrameLocalisation) return false;  // the callee may read its locals
  return w[kDfnMode] == kDfnGuardResult || (w[kDfnMode] == kDfnPlain && w[kDfnStatementEnd] == w[kDfnClose]);
}


static void EnterTradfn(const Ref& fn, Ref alpha, Ref omega);
static void ControlStep(uint8_t code, uint32_t tokenEnd, uint32_t r);
static void RunTrapping(const Ref& stop);

// The pending function is a dfn or a defined function: it runs in its own frame with the registers'
// arguments.
static void StartDefinedCall() {
  Temporaries hold;
  hold[0] = Take(PendingFunction());
  Ref alpha = Take(Left());
  hold[1] = alpha;
  Ref omega = Take(Right());
  hold[2] = omega;
  hold.Take(1);
  hold.Take(2);
  if (IsTradfnCall(hold[0])) EnterTradfn(hold[0], alpha, omega);
  else if (IsTailCall(hold[0])) RunDfnInFrame(hold[0], alpha, omega);
  else EnterDfn(hold[0], alpha, omega);
}

// Ends the running dfn with `result` (counted, 0 for none): its frame and localisations go, and
// the caller continues.
static void LeaveDfn(Ref result, bool shy) {
  Temporaries hold;
  hold[0] = result;
  hold[1] = PopFrame();
  ClearRegisters();
  if (FrameClassOf(CurrentFrame()) == kFrameLocalisation) CutBackTo(FrameBelow(CurrentFrame()));
  ResumeCaller(hold[1], hold.Take(0), shy);
}

[[noreturn]] static void SignalGuardError(uint32_t error) {
  SIGNAL_MESSAGE(error, U"Boolean singleton value required");
}

// A guard's or a control structure's condition: a single Boolean.
static bool GuardHolds(Ref value) {
  value = PlainArray(value);
  if (value == RootWordAt(kRootScalarOne)) return true;  // what comparisons give
  if (value == RootWordAt(kRootScalarZero)) return false;
  if (!value || !IsArgumentValue(value)) SignalGuardError(kSyntaxError);
  if (!IsArrayKind(KindOf(TypeWord(value))) || ElementCount(value) != 1) SignalGuardError(kLengthError);
  std::vector<int64_t> n;
  if (!ReadIntegers(value, n) || (n[0] != 0 && n[0] != 1)) SignalGuardError(kDomainError);
  return n[0] == 1;
}

// A statement of the running dfn has finished with its value in LeftSlot.
static void DfnStatementDone(bool shy) {
  Ref frame = CurrentFrame();
  uint32_t* w = Words(frame);
  uint32_t close = w[kDfnClose];
  uint32_t right = w[kDfnStatementEnd];
  switch (w[kDfnMode]) {
    case kDfnGuardCondition: {
      bool holds = GuardHolds(Left());
      Release(Left());
      if (!holds) return StartDfnStatement(NextDfnBoundary(close, right));
      w = Words(CurrentFrame());
      w[kDfnMode] = kDfnGuardResult;
      w[kDfnStatementStart] = right;
      w[kDfnStatementEnd] = NextDfnBoundary(close, right);
      Cursor() = TokenBase() + StatementEndBefore(w[kDfnStatementEnd]);
      g_level.statementEnd = CursorOffset();
      return;
    }
    case kDfnGuardResult: return LeaveDfn(Take(Left()));
    case kDfnErrorNumbers:
      // The guard is armed; its expression runs only when a listed error happens later.
      if (!Left()) SIGNAL(kSyntaxError);
      Put(w[kDfnGuardNumbers], Take(Left()));
      w = Words(CurrentFrame());
      w[kDfnGuardPosition] = right;
      return StartDfnStatement(NextDfnBoundary(close, right));
    default:
      if (Left() && !shy) return LeaveDfn(Take(Left()));
      // A dfn whose statements all end in assignments gives the last one's value, shy.
      if (Left() && right == close) return LeaveDfn(Take(Left()), true);
      Release(Left());
      StartDfnStatement(right);
  }
}

static bool DfnStatementEndStep(uint32_t tokenEnd) {
  g_atDfnStatementStart = true;
  struct Clear {
    ~Clear() { g_atDfnStatementStart = false; }
  } clear;
  return StatementEndStep(tokenEnd);
}

// ⍺←: the value to its right becomes ⍺ (the statement only runs when ⍺ has none).
static void DefaultAlphaStep(uint32_t tokenEnd) {
  if (!CompleteAtBoundary(tokenEnd)) return;
  Ref frame = InnermostDfnFrame();
  if (!frame || !Left()) SIGNAL(kSyntaxError);
  Put(Words(frame)[kDfnAlpha], Take(Left()));
  g_level.flags |= kFlagShy;
}

// A structure token in running code. Returns true when the line immediate execution runs is done.
static bool StructureStep(uint32_t tokenEnd) {
  uint8_t code = ByteAt(tokenEnd - 2);
  Cursor() = tokenEnd - 5;
  if (IsDfnClose(code)) {
    DfnLiteralStep(tokenEnd, code);
    return false;
  }
  switch (code) {
    case kStructDfnOpen:
    case kStructDfnDiamond:
    case kStructDfnContinues:
    case kStructGuard:
    case kStructErrorGuard:
      if (!IsDfnFrame(CurrentFrame()) && FrameClassOf(CurrentFrame()) != kFrameNesting) SIGNAL(kSyntaxError);
      return DfnStatementEndStep(tokenEnd);
    case kStructDefaultAlpha: DefaultAlphaStep(tokenEnd); return false;
    case kKeyIn:
    case kKeyInEach: {
      // :For names :In values: the :For token is the structure token before it.
      uint32_t forR = StructureChainAt(tokenEnd - 1 - TokenBase());
      if (forR == 0 || StructureCodeAt(forR) != kKeyFor) SIGNAL(kSyntaxError);
      ControlStep(kKeyFor, tokenEnd, forR);
      return false;
    }
    case kKeyFor: SIGNAL(kSyntaxError);  // a :For without :In
    default: ControlStep(code, tokenEnd, tokenEnd - 1 - TokenBase()); return false;
  }
}

// ⍺ ⍵ ∇ ⍺⍺ ⍵⍵ ∇∇ read in a dfn.
static void DfnNameStep() {
  uint32_t n = ReadByte();
  Ref frame = InnermostDfnFrame();
  if (!frame) SIGNAL(kSyntaxError);  // outside any dfn
  uint32_t* w = Words(frame);
  switch (n) {
    case kSpecialAlpha:
    case kSpecialOmega: {
      Ref value = w[n == kSpecialAlpha ? kDfnAlpha : kDfnOmega];
      if (!value) SIGNAL(kValueError);
      Retain(value);
      return ValueStep(value, true);
    }
    case kSpecialAlphaAlpha:
    case kSpecialOmegaOmega: {
      Ref operand = w[n == kSpecialAlphaAlpha ? kDfnAlphaAlpha : kDfnOmegaOmega];
      if (!operand) SIGNAL(kValueError);
      Retain(operand);
      if (IsFunction(operand)) return FunctionItem(UnwrapFunction(operand));
      return ValueStep(operand, true);
    }
    case kSpecialDel: {
      Ref self = w[kDfnSelf];
      if (Words(self)[kDfnObjectKind] == 0) {
        Retain(self);
        return FunctionItem(self);
      }
      // In an operator ∇ is the derived function: the operator with the operands it was given.
      Ref left = w[kDfnAlphaAlpha], right = w[kDfnOmegaOmega];
      Retain(left);
      Retain(self);
      Retain(right);
      return FunctionItem(MakeDerived(left, self, right));
    }
    default: {
      // ∇∇: the operator itself, waiting for operands.
      Ref self = w[kDfnSelf];
      if (Words(self)[kDfnObjectKind] == 0) SIGNAL(kSyntaxError);
      Retain(self);
      return DopStep(self);
    }
  }
}

// The innermost frame that is not a nesting level.
static Ref CurrentFrameBelowNesting() {
  Ref f = CurrentFrame();
  while (FrameClassOf(f) == kFrameNesting) f = FrameBelow(f);
  return f;
}

// An assignment in a running dfn first makes the target local to the dfn, once: the value being
// assigned was computed with the outer meaning.
static void LocaliseInDfn(Ref entry) {
  Ref frame = InnermostDfnFrame();
  if (!frame || frame != CurrentFrameBelowNesting()) return;
  if (FindLocalRecord(frame, [&](Ref local) { return local == entry; })) return;
  LocaliseName(entry, kNameUndefined, 0);
}

// True when the localisation frame of the execution level `frame` has a record whose entry passes
// `test`.
template <typename Test>
static bool FindLocalRecord(Ref frame, Test test) {
  Ref below = FrameBelow(frame);
  if (!IsRef(below) || FrameClassOf(below) != kFrameLocalisation) return false;
  uint32_t* w = Words(below);
  for (uint32_t i = 0; i < w[kLocalCountWord]; ++i)
    if (test(w[kLocalFirstWord + 3 * i])) return true;
  return false;
}

// A function that traps errors has ⎕DMX of its own: the caller's record comes back when it ends.
static void LocaliseDmx() {
  Ref frame = CurrentFrameBelowNesting();
  auto isDmx = [](Ref entry) {
    return EntryClass(entry) == kNameSystemVariable && EntrySystemVariable(entry) == kQuadDMX;
  };
  if (FindLocalRecord(frame, isDmx)) return;
  LocaliseName(SystemVariableEntry(kQuadDMX), kNameSystemVariable, 0);
}

// Runs the code that `enter` opens (a dfn, a defined function, or ⍎ of a text) for C++ code (an
// operator applying its operand) to completion and returns its result. Each such call nests one run
// of the statement loop on the C++ stack, so their depth is limited.
inline constexpr uint32_t kMaxNativeDepth = 1000;
template <typename Enter>
static CallResult RunForNative(Enter enter) {
  if (g_nativeDepth >= kMaxNativeDepth) SIGNAL(kLimitError);
  uint32_t resume = Resume(g_level);
  SetResume(kResumeNative);
  Temporaries stop;  // the frame the run ends at, kept up to date by compaction
  stop[0] = Retained(CurrentFrame());
  enter();
  struct DepthCount {
    DepthCount() { ++g_nativeDepth; }
    ~DepthCount() { --g_nativeDepth; }
  } depth;
  RunTrapping(stop[0]);
  // An escape (or a branch out of the line) in the function ends the C++ caller's work too.
  if (g_abandonLine) RaiseRecordedError(AplError(kSilentUnwind, 0, 0, 0, kUnit, __LINE__));
  g_nativeCallDone = false;
  SetResume(resume);
  return {Take(WorkingSlot(kSlotNativeResult)), false};
}

static CallResult RunDefinedForNative(const Ref& fn, const Ref& left, const Ref& right) {
  return RunForNative([&] {
    Retain(left);
    Retain(right);
    if (IsTradfnCall(fn)) EnterTradfn(fn, left, right);
    else EnterDfn(fn, left, right);
  });
}

static CallResult RunExecuteForNative(const Ref& left, const Ref& right) {
  Temporaries plain;
  plain[0] = TakePlainArray(Retained(left));
  plain[1] = TakePlainArray(Retained(right));
  std::u32string text = ExecutedText(plain[1]);
  Ref space = plain[0] ? NamespaceOfArgument(plain[0]) : 0;
  return RunForNative([&] { EnterExecute(text, space); });
}

// ---- Operators that call defined functions ------------------------------------------------------------------
// An operator whose operand is (or holds) a dfn or defined function runs from a service frame that
// keeps its state: it names the next call it needs, the call returns its result to the frame, and
// the operator takes it and names the next, until it gives its own result to the code that applied
// it. No C++ recursion is involved, so ∇¨ and the like nest as deep as the workspace holds frames,
// and interrupts, errors, traps, suspension and the state indicator see every call. The operators
// that run so are a table by operator code; the others (scan, n-wise and reduction of higher ranks,
// the products, key) call their operands from C++.

static bool CallsDefined(Ref fn) {
  return SomePartIs(fn, [](Ref part) { return IsDfnCall(part) || IsTradfnCall(part); });
}

namespace {

uint32_t* Service() { return Words(CurrentFrame()); }
Ref ServiceOperand(uint32_t word) { return Words(Service()[kServiceFunction])[word]; }
bool IsNonEmptyArray(Ref r) { return IsArrayValue(r) && ElementCount(r) != 0; }

// The next call an operator needs: call[0] the function, call[1] ⍺ (0 for none), call[2] ⍵.
void NameCall(Temporaries& call, Ref fn, Ref alpha, Ref omega) {
  call[0] = Retained(fn);
  call[1] = alpha;
  call[2] = omega;
}

Ref RequiredResult(Ref result) {
  if (!result) SIGNAL_MESSAGE(kValueError, U"No result was provided when the context expected one");
  return TakePlainArray(result);
}

void KeepState(uint32_t word, Ref value) {
  Ref old = std::exchange(Service()[word], value);
  ReleaseRef(old);
}

// f¨: f applied to the items in ravel order, the results gathered into an array of their shape.
bool EachRuns(Ref fn, const Ref& left, const Ref& right) {
  return IsNonEmptyArray(right) && (!left || IsNonEmptyArray(left)) && CallsDefined(Words(fn)[3]);
}
void EachStart() {
  Ref results = NewArray(kRefElement, ItemsShape(Service()[kServiceLeft], Service()[kServiceRight]));
  Service()[kServiceState] = results;
  Service()[kServiceCount] = static_cast<uint32_t>(ElementCount(results));
}
bool EachNext(Temporaries& call) {
  const uint32_t i = Service()[kServiceIndex];
  if (i == Service()[kServiceCount]) return false;
  Temporaries items;
  if (Service()[kServiceLeft]) items[0] = ItemAt(Service()[kServiceLeft], i);
  items[1] = ItemAt(Service()[kServiceRight], i);
  NameCall(call, ServiceOperand(3), items.Take(0), items.Take(1));
  return true;
}
void EachAccept(Ref result) {
  Ref item = RequiredResult(result);
  DataOf<Ref>(Service()[kServiceState])[Service()[kServiceIndex]++] = item;
}
Ref EachFinish() { return Simplified(std::exchange(Service()[kServiceState], 0)); }

// f⍤k: f applied to the cells as each applies it to items, the results mixed into one array.
bool RankRuns(Ref fn, const Ref& left, const Ref& right) { return EachRuns(fn, left, right); }
void RankStart() {
  Temporaries cells;
  RankCells(Service()[kServiceFunction], Service()[kServiceLeft], Service()[kServiceRight], cells[0], cells[1]);
  KeepState(kServiceLeft, cells.Take(0));
  KeepState(kServiceRight, cells.Take(1));
  EachStart();
}
Ref RankFinish() {
  Temporaries hold;
  hold[0] = EachFinish();
  return MixItems(hold[0], 0);
}

// f/ of a vector: the items folded from the right, the result enclosed unless a simple scalar.
bool ReduceRuns(Ref fn, const Ref& left, const Ref& right) {
  return !left && IsArrayValue(right) && RankOf(TypeWord(right)) == 1 && ElementCount(right) >= 2 &&
         CallsDefined(Words(fn)[3]);
}
void ReduceStart() {
  const uint32_t n = static_cast<uint32_t>(ElementCount(Service()[kServiceRight]));
  Ref last = ItemAt(Service()[kServiceRight], n - 1);
  Service()[kServiceState] = last;
  Service()[kServiceIndex] = n - 1;
}
bool ReduceNext(Temporaries& call) {
  const uint32_t i = Service()[kServiceIndex];
  if (i == 0) return false;
  Temporaries item;
  item[0] = ItemAt(Service()[kServiceRight], i - 1);
  NameCall(call, ServiceOperand(3), item.Take(0), Retained(Service()[kServiceState]));
  return true;
}
void ReduceAccept(Ref result) {
  KeepState(kServiceState, RequiredResult(result));
  --Service()[kServiceIndex];
}
Ref ReduceFinish() {
  Temporaries hold;
  hold[0] = Retained(Service()[kServiceState]);
  return CallPrimitive(kPrimEnclose, 0, hold[0]).value;
}

// The operators that make one or two calls in a fixed order keep a phase in the index word and
// their values in the state and extra words.
uint32_t Phase() { return Service()[kServiceIndex]; }
void NextPhase() { ++Service()[kServiceIndex]; }
constexpr uint32_t kDone = 9;
Ref StateFinish() { return std::exchange(Service()[kServiceState], 0); }

// f⍨: f with its arguments swapped (⍵ on both sides in a monadic call).
bool CommuteRuns(Ref fn, const Ref&, const Ref&) { return CallsDefined(Words(fn)[3]); }
void NoStart() {}
bool CommuteNext(Temporaries& call) {
  if (Phase() == kDone) return false;
  Ref left = Service()[kServiceLeft], right = Service()[kServiceRight];
  NameCall(call, ServiceOperand(3), Retained(right), Retained(left ? left : right));
  return true;
}
void StoreFinalResult(Ref result) {
  KeepState(kServiceState, result ? TakePlainArray(result) : 0);
  Service()[kServiceIndex] = kDone;
}

// A∘f, f∘B and f∘g: f with a bound argument, or f applied to the result of g.
bool ComposeRuns(Ref fn, const Ref& left, const Ref&) {
  const Ref f = Words(fn)[3], g = Words(fn)[5];
  const bool fArray = IsArrayOperand(f), gArray = IsArrayOperand(g);
  if (fArray && gArray) return false;
  if ((fArray || gArray) && left) return false;
  return CallsDefined(fArray ? g : f) || (!fArray && !gArray && CallsDefined(g));
}
bool ComposeNext(Temporaries& call) {
  const Ref f = ServiceOperand(3), g = ServiceOperand(5);
  Ref left = Service()[kServiceLeft], right = Service()[kServiceRight];
  switch (Phase()) {
    case 0:
      if (IsArrayOperand(f)) NameCall(call, g, Retained(f), Retained(right));
      else if (IsArrayOperand(g)) NameCall(call, f, Retained(right), Retained(g));
      else NameCall(call, g, 0, Retained(right));
      return true;
    case 1: NameCall(call, f, Retained(left), Retained(Service()[kServiceExtra])); return true;
    default: return false;
  }
}
void ComposeAccept(Ref result) {
  if (Phase() == 0 && !IsArrayOperand(ServiceOperand(3)) && !IsArrayOperand(ServiceOperand(5))) {
    KeepState(kServiceExtra, RequiredResult(result));
    return NextPhase();
  }
  StoreFinalResult(result);
}

// f⍣n (a count from 0 up) and f⍣g: f applied again and again, ⍺ staying the left argument.
bool PowerRuns(Ref fn, const Ref&, const Ref&) {
  const Ref f = Words(fn)[3], g = Words(fn)[5];
  if (!IsArrayOperand(g)) return CallsDefined(f) || CallsDefined(g);
  if (!IsArrayValue(g) || RankOf(TypeWord(g)) != 0) return false;
  std::vector<int64_t> n;
  return ReadIntegers(g, n) && n[0] >= 0 && n[0] <= INT32_MAX && CallsDefined(f);
}
void PowerStart() {
  Service()[kServiceState] = Retained(Service()[kServiceRight]);
  if (IsArrayOperand(ServiceOperand(5))) {
    std::vector<int64_t> n;
    ReadIntegers(ServiceOperand(5), n);
    Service()[kServiceCount] = static_cast<uint32_t>(n[0]);
  }
}
// The count form counts calls in the index word; the until form alternates f (phase 0) and g (1).
bool PowerNext(Temporaries& call) {
  Ref left = Service()[kServiceLeft];
  if (IsArrayOperand(ServiceOperand(5))) {
    if (Service()[kServiceIndex] == Service()[kServiceCount]) return false;
    NameCall(call, ServiceOperand(3), Retained(left), Retained(Service()[kServiceState]));
    return true;
  }
  if (Phase() == kDone) return false;
  if (Phase() == 0) NameCall(call, ServiceOperand(3), Retained(left), Retained(Service()[kServiceState]));
  else NameCall(call, ServiceOperand(5), Retained(Service()[kServiceExtra]), Retained(Service()[kServiceState]));
  return true;
}
void PowerAccept(Ref result) {
  Ref value = RequiredResult(result);
  if (IsArrayOperand(ServiceOperand(5))) {
    KeepState(kServiceState, value);
    return NextPhase();
  }
  if (Phase() == 0) {
    KeepState(kServiceExtra, value);
    return NextPhase();
  }
  Temporaries hold;
  hold[0] = value;
  const bool done = PowerTestPasses(hold[0]);
  KeepState(kServiceState, std::exchange(Service()[kServiceExtra], 0));
  Service()[kServiceIndex] = done ? kDone : 0;
}

// (g h): g of the result of h. (f g h): g between the results of f and h (h first; an array f is
// its own result).
bool TrainRuns(Ref fn, const Ref&, const Ref&) { return CallsDefined(fn); }
bool AtopNext(Temporaries& call) {
  Ref left = Service()[kServiceLeft], right = Service()[kServiceRight];
  switch (Phase()) {
    case 0: NameCall(call, ServiceOperand(5), Retained(left), Retained(right)); return true;
    case 1: NameCall(call, ServiceOperand(3), 0, Retained(Service()[kServiceExtra])); return true;
    default: return false;
  }
}
void AtopAccept(Ref result) {
  if (Phase() == 1) return StoreFinalResult(result);
  KeepState(kServiceExtra, RequiredResult(result));
  NextPhase();
}
bool ForkNext(Temporaries& call) {
  Ref left = Service()[kServiceLeft], right = Service()[kServiceRight];
  const Ref f = ServiceOperand(3), pair = ServiceOperand(5);
  switch (Phase()) {
    case 0: NameCall(call, Words(pair)[5], Retained(left), Retained(right)); return true;
    case 1:
      if (IsArrayOperand(f)) {
        KeepState(kServiceState, Retained(f));
        NextPhase();
        return ForkNext(call);
      }
      NameCall(call, f, Retained(left), Retained(right));
      return true;
    case 2:
      NameCall(call, Words(pair)[3], Retained(Service()[kServiceState]), Retained(Service()[kServiceExtra]));
      return true;
    default: return false;
  }
}
void ForkAccept(Ref result) {
  switch (Phase()) {
    case 0: KeepState(kServiceExtra, RequiredResult(result)); break;
    case 1: KeepState(kServiceState, RequiredResult(result)); break;
    default: return StoreFinalResult(result);
  }
  NextPhase();
}

struct ServiceOperator {
  uint32_t code;
  bool (*runs)(Ref fn, const Ref& left, const Ref& right);
  void (*start)();
  bool (*next)(Temporaries& call);
  void (*accept)(Ref result);  // counted, 0 for none
  Ref (*finish)();
};

constexpr ServiceOperator kServiceOperators[] = {
    {kPrimEach, EachRuns, EachStart, EachNext, EachAccept, EachFinish},
    {kPrimSlash, ReduceRuns, ReduceStart, ReduceNext, ReduceAccept, ReduceFinish},
    {kPrimSlashBar, ReduceRuns, ReduceStart, ReduceNext, ReduceAccept, ReduceFinish},
    {kPrimCommute, CommuteRuns, NoStart, CommuteNext, StoreFinalResult, StateFinish},
    {kPrimJot, ComposeRuns, NoStart, ComposeNext, ComposeAccept, StateFinish},
    {kPrimPower, PowerRuns, PowerStart, PowerNext, PowerAccept, StateFinish},
    {kPrimRank, RankRuns, RankStart, EachNext, EachAccept, RankFinish},
    {kTrainAtop, TrainRuns, NoStart, AtopNext, AtopAccept, StateFinish},
    {kTrainFork, TrainRuns, NoStart, ForkNext, ForkAccept, StateFinish},
};

const ServiceOperator* ServiceOperatorFor(uint32_t code) {
  for (const ServiceOperator& op : kServiceOperators)
    if (op.code == code) return &op;
  return nullptr;
}

}  // namespace

// The table row that applies `fn` to these arguments from a service frame, or null when it runs in C++.
static const ServiceOperator* RunsInServiceFrame(Ref fn, const Ref& left, const Ref& right) {
  if (!IsDerived(fn)) return nullptr;
  const ServiceOperator* op = ServiceOperatorFor(Words(fn)[4]);
  return op && op->runs(fn, left, right) ? op : nullptr;
}

// Takes the service frame off the stack and puts its caller back (an error is then shown there).
static void AbandonService() {
  Temporaries hold;
  hold[0] = PopFrame();
  ClearRegisters();
  ReinstateCaller(hold[0]);
  g_errorToken = g_level.functionToken;
}

static void StartService(const ServiceOperator& op, const Ref& fn, Ref left, Ref right);

// Starts the call the operator named: a dfn or defined function, or an operator that runs in a
// frame of its own, returns its result later through ResumeCaller (false); anything else is applied
// now and its result is in `result` (true).
static bool StartOperandCall(Temporaries& call, Ref& result) {
  if (IsDfnCall(call[0]) || IsTradfnCall(call[0])) {
    SetResume(kResumeService);
    if (IsTradfnCall(call[0])) EnterTradfn(call[0], call.Take(1), call.Take(2));
    else EnterDfn(call[0], call.Take(1), call.Take(2));
    return false;
  }
  if (const ServiceOperator* op = RunsInServiceFrame(call[0], call[1], call[2])) {
    SetResume(kResumeService);
    StartService(*op, call[0], call.Take(1), call.Take(2));
    return false;
  }
  result = CallFunctionValue(call[0], call[1], call[2]).value;
  return true;
}

// Runs the operator of the service frame on top, first taking `result` (counted) when `given`,
// until it waits for a call of APL code or gives its own result to its caller.
static void RunService(bool given, Ref result) {
  const ServiceOperator& op = *ServiceOperatorFor(FrameSubTypeOf(CurrentFrame()));
  try {
    for (;;) {
      if (given) op.accept(result);
      CheckStrongInterrupt();  // an operator that never ends can be stopped, as its C++ loops can
      Temporaries call;
      if (!op.next(call)) break;
      given = StartOperandCall(call, result);
      if (!given) return;
    }
  } catch (const AplError&) {
    if (IsOperatorServiceFrame(CurrentFrame())) AbandonService();
    throw;
  }
  Temporaries hold;
  hold[0] = op.finish();
  hold[1] = PopFrame();
  ClearRegisters();
  ResumeCaller(hold[1], hold.Take(0), false);
}

// Pushes the service frame of `op` applying `fn` (borrowed, root-held) to `left` and `right` (counted, taken
// over) and runs it.
static void StartService(const ServiceOperator& op, const Ref& fn, Ref left, Ref right) {
  Temporaries hold;
  hold[0] = left;
  hold[1] = right;
  hold[2] = NewFrame(kFrameService, op.code);
  uint32_t* w = Words(hold[2]);
  w[kServiceFunction] = Retained(fn);
  w[kServiceLeft] = hold.Take(0);
  w[kServiceRight] = hold.Take(1);
  SaveCaller(hold[2]);
  PushFrame(hold.Take(2));
  ClearRegisters();
  g_level = {};
  try {
    op.start();
  } catch (const AplError&) {
    AbandonService();
    throw;
  }
  RunService(false, 0);
}

// The pending function runs from a service frame: the frame takes over the registers' arguments.
static void StartPendingService(const ServiceOperator& op) {
  Temporaries hold;
  hold[0] = Take(PendingFunction());
  Ref left = Take(Left());
  StartService(op, hold[0], left, Take(Right()));
}

// ---- Control structures ----------------------------------------------------------------------------------
// A keyword statement of a running defined function is executed when its structure token, at the
// statement's left end, is read: the expression to its right is its value (a condition, the array of
// a :For, the value of a :Select or :Case). The keywords of the function are listed in order and
// matched by nesting depth to find where execution goes next. Active :For and :Select records live
// in the frame's control-state word as a stack.

inline constexpr uint32_t kExecClauseEntry = 25;  // the clause keyword a jump went to evaluate

struct KeywordAt {
  uint32_t line;
  uint32_t r;  // offset of the structure token's last byte in the line's token bytes
  uint8_t code;
};

static bool IsBlockKeyword(uint8_t c) {
  return c <= kKeyEndRepeat || (c >= kKeyFor && c <= kKeyEnd && c != kKeyIn && c != kKeyClauseVariant) ||
         (c >= kKeyGoTo && c <= kKeyLeave) || (c >= kKeyTrap && c <= kKeyEndWith) || c == kKeyDisposable ||
         c == kKeyEndDisposable;
}
static bool Opens(uint8_t c) {
  return c == kKeyIf || c == kKeyWhile || c == kKeyRepeat || c == kKeyFor || c == kKeySelect || c == kKeyTrap ||
         c == kKeyHold || c == kKeyWith || c == kKeyDisposable;
}
static bool Closes(uint8_t c) {
  return c == kKeyEndIf || c == kKeyEndWhile || c == kKeyUntil || c == kKeyEndRepeat || c == kKeyEndFor ||
         c == kKeyEndSelect || c == kKeyEndTrap || c == kKeyEndHold || c == kKeyEndWith || c == kKeyEndDisposable ||
         c == kKeyEnd;
}

// Keywords that stand alone: an expression after one is a SYNTAX ERROR.
static bool TakesNoValue(uint8_t c) {
  return (Closes(c) && c != kKeyUntil) || c == kKeyElse || c == kKeyRepeat || c == kKeyReturn || c == kKeyContinue ||
         c == kKeyLeave;
}

// Every keyword of the function's lines, in order (dfn punctuation and :In are not listed). The list
// of the function used last is kept, keyed by the function's serial number.
static const std::vector<KeywordAt>& FunctionKeywords(Ref fn) {
  static uint32_t cachedSerial = 0;
  static std::vector<KeywordAt> all;
  if (Words(fn)[kTradfnSerial] == cachedSerial) return all;
  all.clear();
  for (uint32_t n = 1; n <= TradfnLineCount(fn); ++n) {
    Ref line = TradfnLine(fn, n);
    const uint8_t* bytes = TokenBytes(line);
    size_t first = all.size();
    for (uint32_t r = HeaderField16(line, kHeaderStructureChain); r != 0; r = bytes[r - 3] * 256u + bytes[r - 2])
      if (IsBlockKeyword(bytes[r - 1])) all.push_back({n, r, bytes[r - 1]});
    std::reverse(all.begin() + static_cast<ptrdiff_t>(first), all.end());
  }
  cachedSerial = Words(fn)[kTradfnSerial];
  return all;
}

// The index of the next keyword after k at k's nesting depth that satisfies `wanted`; a closer of
// the enclosing structure ends the search. Returns the list's size when there is none.
template <typename Wanted>
static size_t ForwardKeyword(const std::vector<KeywordAt>& all, size_t k, Wanted wanted) {
  int depth = 0;
  for (size_t i = k + 1; i < all.size(); ++i) {
    uint8_t c = all[i].code;
    if (depth == 0 && wanted(c)) return i;
    if (Opens(c)) ++depth;
    else if (Closes(c) && depth-- == 0) return all.size();
  }
  return all.size();
}
// The opener of the structure that keyword k belongs to (for a closer or clause), or of the
// innermost enclosing structure that satisfies `wanted`.
template <typename Wanted>
static size_t BackwardKeyword(const std::vector<KeywordAt>& all, size_t k, Wanted wanted) {
  int depth = 0;
  for (size_t i = k; i-- > 0;) {
    uint8_t c = all[i].code;
    if (Closes(c)) ++depth;
    else if (Opens(c) && depth-- == 0 && wanted(c)) return i;
    if (depth < 0) depth = 0;
  }
  SIGNAL(kSyntaxError);  // a clause or closer without its structure
}
static size_t OpenerOf(const std::vector<KeywordAt>& all, size_t k) {
  return BackwardKeyword(all, k, [](uint8_t) { return true; });
}
static size_t CloserOf(const std::vector<KeywordAt>& all, size_t opener) {
  size_t i = ForwardKeyword(all, opener, [](uint8_t c) { return Closes(c); });
  if (i == all.size()) SIGNAL(kSyntaxError);  // a structure without its end
  return i;
}

// Puts the running function at line `line`, reading from the end of the statement that holds the
// token whose last byte is at `r` (0: the first statement).
static void GoToStatement(uint32_t line, uint32_t r) {
  StartTradfnLine(line);
  if (r == 0 || !IsRunningTradfn(CurrentFrame()) || Words(CurrentFrame())[kExecLineNumber] != line) return;
  uint32_t end = StatementEndFrom(StreamFirstToken() + r);
  g_level.statementEnd = end - Tokens();
  Cursor() = end;
}
// Runs keyword k's statement (a clause whose expression must be evaluated).
static void EnterKeyword(const KeywordAt& k) {
  Words(CurrentFrame())[kExecClauseEntry] = (k.line << 16) | k.r;
  GoToStatement(k.line, k.r);
}
// Continues after keyword k's statement.
static void ContinueAfter(const KeywordAt& k) {
  GoToStatement(k.line, k.r);
  if (!IsRunningTradfn(CurrentFrame())) return;
  if (!NextStatement()) StartTradfnLine(k.line + 1);
}

// ---- The control-state stack: records of the active :For and :Select structures.
// A record is a nested pair: the values (the :For array, or the :Select value) and an int32 vector
// [line, r, next index, name indexes...].

static Ref& ControlStack() { return Words(CurrentFrame())[kExecControlState]; }

static uint32_t RecordLine(Ref record) { return DataOf<uint32_t>(DataOf<Ref>(record)[1])[0]; }
static uint32_t RecordR(Ref record) { return DataOf<uint32_t>(DataOf<Ref>(record)[1])[1]; }

// Drops the records of structures at or inside the keyword (line, r), then pushes `record`
// (counted, taken over; 0 pushes nothing).
static void ReplaceControlRecords(const KeywordAt& k, Ref record) {
  Temporaries hold;
  hold[0] = record;
  Ref stack = ControlStack();
  uint32_t keep = IsRef(stack) ? static_cast<uint32_t>(ElementCount(stack)) : 0;
  for (uint32_t i = 0; i < keep; ++i) {
    Ref r = DataOf<Ref>(stack)[i];
    if (RecordLine(r) == k.line && RecordR(r) == k.r) {
      keep = i;
      break;
    }
  }
  uint32_t total = keep + (record ? 1 : 0);
  hold[1] = AllocVector(kRefElement, total);
  stack = ControlStack();
  for (uint32_t i = 0; i < keep; ++i) {
    DataOf<Ref>(hold[1])[i] = DataOf<Ref>(stack)[i];
    Retain(DataOf<Ref>(stack)[i]);
  }
  if (record) DataOf<Ref>(hold[1])[keep] = hold.Take(0);
  if (total == 0) Release(hold[1]);
  Put(ControlStack(), hold.Take(1));
}

static Ref FindControlRecord(const KeywordAt& k) {
  Ref stack = ControlStack();
  if (!IsRef(stack)) return 0;
  for (uint64_t i = ElementCount(stack); i-- > 0;) {
    Ref r = DataOf<Ref>(stack)[i];
    if (RecordLine(r) == k.line && RecordR(r) == k.r) return r;
  }
  return 0;
}

// A control record's numbers: line and position of its keyword, the next :For index, the first value
// of a :For over ⍳n (whose values item is then the count n, the vector never being made), and the
// :For names.
inline constexpr uint32_t kRecordProgression = 3;
inline constexpr uint32_t kRecordFirstName = 4;
inline constexpr uint32_t kNoProgression = 0xFFFFFFFF;

static Ref MakeControlRecord(const KeywordAt& k, const Ref& values, const std::vector<uint32_t>& names) {
  Temporaries hold;
  hold[0] = AllocRecordVector(kRecordFirstName + static_cast<uint32_t>(names.size()));
  uint32_t* v = DataOf<uint32_t>(hold[0]);
  v[0] = k.line;
  v[1] = k.r;
  v[2] = 0;
  v[kRecordProgression] = kNoProgression;
  for (size_t i = 0; i < names.size(); ++i) v[kRecordFirstName + i] = names[i];
  hold[1] = AllocVector(kRefElement, 2);
  DataOf<Ref>(hold[1])[0] = values;
  Retain(values);
  DataOf<Ref>(hold[1])[1] = hold.Take(0);
  return hold.Take(1);
}

// The names between :For and :In on the current line.
static std::vector<uint32_t> ForNames(uint32_t forR, uint32_t inR) {
  std::vector<uint32_t> names;
  uint32_t base = StreamFirstToken();
  for (uint32_t p = base + inR - 4; p > base + forR + 1;) {
    uint32_t start = TokenStartBefore(p);
    uint8_t code = ByteAt(p - 1);
    if (code >= 112) names.push_back(code - 112);
    else if (code == kTokExtension && ByteAt(start) == 112) names.push_back(ByteAt(start + 1) * 256u + ByteAt(start + 2));
    else if (code != kPrimLeftParen && code != kPrimRightParen && code != kTokSegmentStart)
      SIGNAL(kSyntaxError);  // (a b) is a b
    p = start;
  }
  std::reverse(names.begin(), names.end());
  if (names.empty()) SIGNAL(kSyntaxError);
  return names;
}

// Gives the :For names item i of the values: one name takes the item, several names its items.
static void AssignForItem(Ref record, uint64_t i) {
  Temporaries hold;
  hold[0] = record;
  Retain(record);
  Ref values = DataOf<Ref>(record)[0];
  uint32_t first = DataOf<uint32_t>(DataOf<Ref>(record)[1])[kRecordProgression];
  hold[1] = first == kNoProgression ? ElementAsScalar(values, i) : MakeIntScalar(static_cast<int32_t>(first + i));
  uint32_t* v = DataOf<uint32_t>(DataOf<Ref>(hold[0])[1]);
  uint32_t names = static_cast<uint32_t>(ElementCount(DataOf<Ref>(hold[0])[1])) - kRecordFirstName;
  for (uint32_t k = 0; k < names; ++k) {
    v = DataOf<uint32_t>(DataOf<Ref>(hold[0])[1]);
    Ref entry = BoundEntry(v[kRecordFirstName + k]);
    if (EntryClass(entry) != kNameUndefined && EntryClass(entry) != kNameVariable) SIGNAL(kSyntaxError);
    if (names == 1) {
      SetEntry(entry, kNameVariable, hold[1]);
      continue;
    }
    Ref item = hold[1];
    bool whole = !IsArrayKind(KindOf(TypeWord(item))) || ElementCount(item) == 1;
    if (!whole && ElementCount(item) != names) SIGNAL(kLengthError);
    hold[2] = ElementAsScalar(item, whole ? 0 : k);
    SetEntry(entry, kNameVariable, hold[2]);
    Release(hold[2]);
  }
}

// :For a b :InEach x y takes element i of each of x y in turn: the same as :For a b :In over the
// vector whose item i holds those elements. A scalar is taken as a one-item vector.
static Ref InEachValues(const Ref& values, size_t names) {
  uint32_t type = TypeWord(values);
  if (!IsArrayKind(KindOf(type))) SIGNAL(kDomainError);
  if (RankOf(type) > 1) SIGNAL(kRankError);
  if (ElementCount(values) == 0) SIGNAL(kLengthError);
  Temporaries hold;
  hold[0] = ElementCount(values) == 1 && RankOf(type) == 0 ? CallPrimitive(50, 0, values).value : values;
  if (hold[0] == values) Retain(values);
  uint64_t items = ElementCount(hold[0]);
  if (items != names) SIGNAL(kLengthError);
  std::vector<Ref> arrays;
  for (uint64_t i = 0; i < items; ++i) {
    Ref item = KindOf(TypeWord(hold[0])) == kKindNested ? DataOf<Ref>(hold[0])[i] : 0;
    if (!IsRef(item) || !IsArrayKind(KindOf(TypeWord(item)))) SIGNAL(kDomainError);
    Ref first = DataOf<Ref>(hold[0])[0];
    if (RankOf(TypeWord(item)) != RankOf(TypeWord(first))) SIGNAL(kRankError);
    for (uint32_t a = 0; a < RankOf(TypeWord(item)); ++a)
      if (ShapeOf(item)[a] != ShapeOf(first)[a]) SIGNAL(kLengthError);
  }
  if (items == 1) {
    Ref only = DataOf<Ref>(hold[0])[0];
    Retain(only);
    return only;
  }
  uint64_t count = ElementCount(DataOf<Ref>(hold[0])[0]);
  return MakeNested({static_cast<uint32_t>(count)}, [&](uint64_t i) {
    return MakeNested({static_cast<uint32_t>(items)}, [&](uint64_t k) { return ElementAsScalar(DataOf<Ref>(hold[0])[k], i); });
  });
}

// :For names :In values — the first pass.
// Starts a :For over `given`, or over ⍳`progression` when that is not negative.
static void StartFor(const std::vector<KeywordAt>& all, size_t k, uint32_t inR, const Ref& given, int64_t progression) {
  std::vector<uint32_t> names = ForNames(all[k].r, inR);
  Temporaries hold;
  hold[0] = given;
  Retain(given);
  if (progression >= 0) Put(hold[0], MakeIntScalar(static_cast<int32_t>(progression)));
  if (StructureCodeAt(inR) == kKeyInEach) Put(hold[0], InEachValues(given, names.size()));
  const Ref& values = hold[0];
  if (!IsArrayKind(KindOf(TypeWord(values)))) SIGNAL(kDomainError);
  if (progression == 0 || (progression < 0 && ElementCount(values) == 0)) {
    ReplaceControlRecords(all[k], 0);
    return ContinueAfter(all[CloserOf(all, k)]);
  }
  ReplaceControlRecords(all[k], MakeControlRecord(all[k], values, names));
  Ref record = FindControlRecord(all[k]);
  if (progression >= 0) DataOf<uint32_t>(DataOf<Ref>(record)[1])[kRecordProgression] = IndexOrigin();
  DataOf<uint32_t>(DataOf<Ref>(record)[1])[2] = 1;
  AssignForItem(record, 0);
  ContinueAfter(all[k]);
}

// How many values a :For record goes through.
static uint64_t ForCount(Ref record) {
  Ref values = DataOf<Ref>(record)[0];
  if (DataOf<uint32_t>(DataOf<Ref>(record)[1])[kRecordProgression] == kNoProgression) return ElementCount(values);
  return static_cast<uint64_t>(IntegersOf(values)[0]);
}

// :For i :In ⍳n with n a single whole number below 2*31 − 1: the ⍳ still waiting at the :In is
// taken back and n returned, so that the loop counts without making the vector; −1 otherwise.
static int64_t TakePendingIota() {
  if (PendingFunction() != kPrimIota || Left() || PendingItem() || WorkingSlot(kSlotAxis)) return -1;
  Ref n = Right();
  if (!IsRef(n) || KindOf(TypeWord(n)) != kKindSimple || ElementCount(n) != 1 || RankOf(TypeWord(n)) > 1) return -1;
  ElementType type = ElementOf(TypeWord(n));
  if (type != kBool && type != kInt8 && type != kInt16 && type != kInt32) return -1;
  int64_t count = IntegersOf(n)[0];
  if (count < 0 || count >= INT32_MAX - 1) return -1;
  Release(Right());
  Release(PendingFunction());
  return count;
}

// :EndFor (opener k): the next item, or the loop is done.
static void NextFor(const std::vector<KeywordAt>& all, size_t opener, size_t closer) {
  Ref record = FindControlRecord(all[opener]);
  if (!record) SIGNAL(kSyntaxError);
  uint32_t next = DataOf<uint32_t>(DataOf<Ref>(record)[1])[2];
  if (next >= ForCount(record)) {
    ReplaceControlRecords(all[opener], 0);
    return ContinueAfter(all[closer]);
  }
  DataOf<uint32_t>(DataOf<Ref>(record)[1])[2] = next + 1;
  AssignForItem(record, next);
  ContinueAfter(all[opener]);
}

// After a false condition at keyword k: the next :OrIf, :ElseIf or :Else of the structure, or its
// end. :AndIf clauses of the failed branch are passed over.
static void SkipFalseBranch(const std::vector<KeywordAt>& all, size_t k) {
  size_t i = ForwardKeyword(all, k, [](uint8_t c) {
    return c == kKeyOrIf || c == kKeyElseIf || c == kKeyElse || Closes(c);
  });
  if (i == all.size()) SIGNAL(kSyntaxError);
  uint8_t c = all[i].code;
  if (c == kKeyOrIf || c == kKeyElseIf) return EnterKeyword(all[i]);
  ContinueAfter(all[i]);
}

// A condition and the :AndIf and :OrIf clauses that follow it form one chain, headed by :If, :ElseIf,
// :While or :Until.
static bool IsChainClause(uint8_t c) { return c == kKeyAndIf || c == kKeyOrIf; }
static size_t ChainHead(const std::vector<KeywordAt>& all, size_t k) {
  while (k > 0 && IsChainClause(all[k].code)) --k;
  return k;
}
static size_t ChainEnd(const std::vector<KeywordAt>& all, size_t k) {
  while (k + 1 < all.size() && IsChainClause(all[k + 1].code)) ++k;
  return k;
}

// The whole chain of keyword k has been decided: an :If or :ElseIf runs its block or goes on to the
// next clause, a :While enters its body or leaves, an :Until leaves the loop or repeats it.
static void ChainDecided(const std::vector<KeywordAt>& all, size_t k, bool holds) {
  const size_t head = ChainHead(all, k), end = ChainEnd(all, k);
  switch (all[head].code) {
    case kKeyWhile: return ContinueAfter(holds ? all[end] : all[CloserOf(all, head)]);
    case kKeyUntil: return ContinueAfter(holds ? all[end] : all[OpenerOf(all, head)]);
    default: return holds ? ContinueAfter(all[end]) : SkipFalseBranch(all, end);
  }
}

// After a true condition at keyword k: :OrIf clauses that follow are passed over, :AndIf ones run.
static void TakeTrueBranch(const std::vector<KeywordAt>& all, size_t k) {
  size_t i = k;
  while (i + 1 < all.size() && all[i + 1].code == kKeyOrIf) ++i;
  if (i + 1 < all.size() && all[i + 1].code == kKeyAndIf) return EnterKeyword(all[i + 1]);
  ChainDecided(all, k, true);
}

// After a false condition at keyword k: :AndIf clauses that follow are passed over, an :OrIf runs.
static void TakeFalseBranch(const std::vector<KeywordAt>& all, size_t k) {
  size_t i = k;
  while (i + 1 < all.size() && all[i + 1].code == kKeyAndIf) ++i;
  if (i + 1 < all.size() && all[i + 1].code == kKeyOrIf) return EnterKeyword(all[i + 1]);
  ChainDecided(all, k, false);
}

static size_t InnermostLoop(const std::vector<KeywordAt>& all, size_t k) {
  return BackwardKeyword(all, k, [](uint8_t c) { return c == kKeyFor || c == kKeyWhile || c == kKeyRepeat; });
}

// :Case / :CaseList entered with its value: a match runs the case.
static bool CaseMatches(uint8_t code, const Ref& selected, const Ref& value) {
  if (code == kKeyCase) return CallPrimitive(30, selected, value).value == RootWordAt(kRootScalarOne);
  if (!IsArrayKind(KindOf(TypeWord(value)))) return false;
  for (uint64_t i = 0; i < ElementCount(value); ++i) {
    Temporaries hold;
    hold[0] = ElementAsScalar(value, i);
    hold[1] = CallPrimitive(30, selected, hold[0]).value;
    if (hold[1] == RootWordAt(kRootScalarOne)) return true;
  }
  return false;
}

static void NextCase(const std::vector<KeywordAt>& all, size_t k) {
  size_t i = ForwardKeyword(all, k, [](uint8_t c) {
    return c == kKeyCase || c == kKeyCaseList || c == kKeyElse || Closes(c);
  });
  if (i == all.size()) SIGNAL(kSyntaxError);
  if (all[i].code == kKeyCase || all[i].code == kKeyCaseList) return EnterKeyword(all[i]);
  ContinueAfter(all[i]);
}

// :Hold's tokens: a scalar or vector of numbers or character vectors.
static void CheckHoldTokens(Ref tokens) {
  uint32_t type = TypeWord(tokens);
  if (!IsArrayKind(KindOf(type))) SIGNAL(kDomainError);
  if (RankOf(type) > 1) SIGNAL(kRankError);
  if (KindOf(type) == kKindSimple) return;
  for (uint64_t i = 0; i < ElementCount(tokens); ++i) {
    Ref item = DataOf<Ref>(tokens)[i];
    bool text = IsRef(item) && IsSimpleCharacterArray(item) && RankOf(TypeWord(item)) <= 1;
    bool number = IsRef(item) && KindOf(TypeWord(item)) == kKindSimple && RankOf(TypeWord(item)) == 0;
    if (!text && !number) SIGNAL(kDomainError);
  }
}

// A keyword statement: `tokenEnd` ends the structure token that closes its expression (the
// keyword's own, or the :In of a :For), `r` locates the keyword's token.
static void ControlStep(uint8_t code, uint32_t tokenEnd, uint32_t r) {
  if (!IsRunningTradfn(CurrentFrameBelowNesting()) || FrameClassOf(CurrentFrame()) == kFrameNesting)
    SIGNAL(kSyntaxError);  // control structures belong to defined functions
  uint32_t boundaryR = tokenEnd - 1 - StreamFirstToken();  // relative: the expression may move the stream
  const int64_t progression = code == kKeyFor && StructureCodeAt(boundaryR) == kKeyIn ? TakePendingIota() : -1;
  if (!CompleteAtBoundary(tokenEnd)) return;
  Ref frame = CurrentFrame();
  Ref fn = Words(frame)[kExecFunction];
  uint32_t line = Words(frame)[kExecLineNumber];
  bool entered = Words(frame)[kExecClauseEntry] == ((line << 16) | r);
  Words(frame)[kExecClauseEntry] = 0;
  Temporaries hold;
  hold[0] = TakePlainArray(Take(Left()));
  ClearRegisters();
  const std::vector<KeywordAt>& all = FunctionKeywords(fn);
  size_t k = 0;
  while (k < all.size() && !(all[k].line == line && all[k].r == r)) ++k;
  if (k == all.size()) SIGNAL(kSyntaxError);
  if (hold[0] && TakesNoValue(code)) SIGNAL(kSyntaxError);
  switch (code) {
    case kKeyIf:
    case kKeyWhile:
      return GuardHolds(hold[0]) ? TakeTrueBranch(all, k) : TakeFalseBranch(all, k);
    case kKeyElseIf:
    case kKeyOrIf:
    case kKeyAndIf:
      if (!entered) {
        if (code == kKeyElseIf) return ContinueAfter(all[CloserOf(all, OpenerOf(all, k))]);
        SIGNAL(kSyntaxError);
      }
      return GuardHolds(hold[0]) ? TakeTrueBranch(all, k) : TakeFalseBranch(all, k);
    case kKeyElse: {
      // Reached from a branch or case that ran (or the end of a :Trap body): the structure is done.
      size_t opener = OpenerOf(all, k);
      if (all[opener].code != kKeyIf) ReplaceControlRecords(all[opener], 0);
      return ContinueAfter(all[CloserOf(all, opener)]);
    }
    case kKeyRepeat: return ContinueAfter(all[k]);
    case kKeyUntil: return GuardHolds(hold[0]) ? TakeTrueBranch(all, k) : TakeFalseBranch(all, k);
    case kKeyFor: return StartFor(all, k, boundaryR, hold[0], progression);
    case kKeySelect:
      ReplaceControlRecords(all[k], MakeControlRecord(all[k], hold[0], {}));
      return NextCase(all, k);
    case kKeyCase:
    case kKeyCaseList: {
      size_t opener = OpenerOf(all, k);
      if (!entered) {
        ReplaceControlRecords(all[opener], 0);
        return ContinueAfter(all[CloserOf(all, opener)]);
      }
      Ref record = FindControlRecord(all[opener]);
      if (!record) SIGNAL(kSyntaxError);
      hold[1] = DataOf<Ref>(record)[0];
      Retain(hold[1]);
      if (CaseMatches(code, hold[1], hold[0])) return ContinueAfter(all[k]);
      return NextCase(all, k);
    }
    case kKeyTrap: {
      Ref numbers = hold[0];
      if (!numbers) SIGNAL(kSyntaxError);
      if (!IsArrayKind(KindOf(TypeWord(numbers))) || KindOf(TypeWord(numbers)) != kKindSimple) SIGNAL(kDomainError);
      if (RankOf(TypeWord(numbers)) > 1) SIGNAL(kRankError);
      std::vector<int64_t> list;
      if (!ReadIntegers(numbers, list)) SIGNAL(kDomainError);
      LocaliseDmx();
      ReplaceControlRecords(all[k], MakeControlRecord(all[k], numbers, {}));
      return ContinueAfter(all[k]);
    }
    case kKeyWith: {
      // The namespace given becomes the executing one until :EndWith; the record keeps the previous.
      if (!hold[0]) SIGNAL(kSyntaxError);
      Ref ns = IsNamespaceObject(hold[0]) ? hold[0] : 0;
      if (!ns && IsSimpleCharacterArray(hold[0])) ns = ResolveNamespacePath(CharacterText(hold[0]), false);
      if (!ns) SIGNAL(kDomainError);
      hold[1] = ns;
      Retain(ns);
      hold[2] = ExecutingNamespace();
      Retain(hold[2]);
      ReplaceControlRecords(all[k], MakeControlRecord(all[k], hold[2], {}));
      SetExecutingNamespace(hold[1]);
      return ContinueAfter(all[k]);
    }
    case kKeyHold:
      // With one APL thread every token is free at once: the tokens are checked and the body runs.
      if (!hold[0]) SIGNAL(kSyntaxError);
      CheckHoldTokens(hold[0]);
      return ContinueAfter(all[k]);
    case kKeyGoTo:
      Branch(hold[0]);
      g_branchPending = false;
      return StartTradfnLine(g_branchLine);
    case kKeyReturn: return LeaveTradfn();
    case kKeyLeave: {
      size_t loop = InnermostLoop(all, k);
      ReplaceControlRecords(all[loop], 0);
      return ContinueAfter(all[CloserOf(all, loop)]);
    }
    case kKeyContinue: {
      size_t closer = CloserOf(all, InnermostLoop(all, k));
      return GoToStatement(all[closer].line, all[closer].r);
    }
    default:
      if (!Closes(code)) SIGNAL(kNonceError);  // :Disposable: no disposable objects exist here
      size_t opener = OpenerOf(all, k);
      switch (all[opener].code) {
        case kKeyWhile: return EnterKeyword(all[opener]);
        case kKeyRepeat: return ContinueAfter(all[opener]);
        case kKeyFor: return NextFor(all, opener, k);
        case kKeySelect:
        case kKeyTrap: ReplaceControlRecords(all[opener], 0); return ContinueAfter(all[k]);
        case kKeyWith: {
          Ref record = FindControlRecord(all[opener]);
          if (record) {
            hold[1] = DataOf<Ref>(record)[0];
            Retain(hold[1]);
            ReplaceControlRecords(all[opener], 0);
            SetExecutingNamespace(hold[1]);
          }
          return ContinueAfter(all[k]);
        }
        default: return ContinueAfter(all[k]);
      }
  }
}

// ⎕ read as a value: a line of input evaluated in a new level.
static void EvaluatedInputStep() {
  if (!(Startup().startupFlags & kFlagConsole)) SIGNAL(kDomainError);
  std::u32string line;
  if (!ReadInputLine(line, InputKind::Evaluated)) ExitApl(0);
  SetResume(kResumeValueStep);
  EnterExecutionLevel(kExecutionEvaluatedInput, line);
}

// ⍞ read as a value: a line of input as a character vector.
static void QuoteInputStep() {
  if (!(Startup().startupFlags & kFlagConsole)) SIGNAL(kDomainError);
  std::u32string line;
  if (!ReadInputLine(line, InputKind::QuoteQuad)) ExitApl(0);
  ValueStep(MakeText(line), true);
}

// ---- Branch --------------------------------------------------------------------------------------------


static void Branch(Ref target) {
  if (!IsArrayKind(KindOf(TypeWord(target)))) SIGNAL(kDomainError);
  if (RankOf(TypeWord(target)) >= 2) SIGNAL(kRankError);
  if (IsDfnFrame(CurrentFrameBelowNesting())) SIGNAL(kSyntaxError);  // a dfn has no lines to go to
  if (ElementCount(target) == 0) return;
  std::vector<int64_t> lines;
  if (!ReadIntegers(target, lines)) SIGNAL(kDomainError);
  Ref f = CurrentFrame();
  while (FrameClassOf(f) == kFrameNesting || (FrameClassOf(f) == kFrameExecution && FrameSubTypeOf(f) == kExecutionExecute))
    f = FrameBelow(f);
  if (IsDfnFrame(f)) SIGNAL(kSyntaxError);  // also from a ⍎ inside a dfn
  if (IsRunningTradfn(f) || IsSuspendedTradfn(f)) {
    // The statement ends here (and any ⍎ it runs in); the function's line machinery then goes to the
    // line chosen (none: return). A suspended function resumes there.
    g_branchLine = lines[0] >= 1 && lines[0] <= 0xFFFF ? static_cast<uint32_t>(lines[0]) : 0;
    g_branchPending = true;
    return;
  }
  for (Ref f = CurrentFrame(); IsRef(f); f = FrameBelow(f)) {
    uint32_t c = FrameClassOf(f);
    if (c == kFrameNesting || c == kFrameLocalisation) SIGNAL(kSyntaxError);
    if (c == kFrameImmediate || (c == kFrameExecution && FrameSubTypeOf(f) == kExecutionEvaluatedInput)) break;
  }
  // No defined function is running: the rest of the line is abandoned.
  g_abandonLine = true;
}

// The escape → (nothing to its right): the rest of the line is abandoned, and the most recent
// suspension is cut back when the line's frames are discarded.
static bool g_escapePending = false;
static void Escape() {
  g_abandonLine = true;
  g_escapePending = true;
}

// ---- Statements ---------------------------------------------------------------------------------------

// The text of a function built from primitives, system functions and operators, as it would be
// written: +/  +.×  ∘.=  ⌽[1]  2∘+.
static std::u32string FunctionText(Ref fn);


// A dfn's text: the tokens from its opening to its closing brace.
static std::u32string DfnText(Ref dfn) {
  uint32_t* w = Words(dfn);
  Ref stream = w[kDfnObjectStream];
  const uint8_t* bytes = TokenBytes(stream);
  uint32_t first = w[kDfnObjectOpen] - 4, last = w[kDfnObjectClose];
  return TokensText(std::span<const uint8_t>(bytes + first, last + 1 - first), w[kDfnObjectSymbols]);
}

// An operand: a function, or an array written on one line (parenthesised unless it is a scalar).
static std::u32string OperandText(Ref operand, bool rightOperand) {
  if (IsFunction(operand)) {
    std::u32string text = FunctionText(operand);
    bool compound = IsDerived(operand) && Words(operand)[4] != 0 && Words(operand)[4] != kPrimLeftBracket;
    return compound && rightOperand ? U"(" + text + U")" : text;
  }
  operand = PlainArray(operand);
  std::vector<std::u32string> lines = DisplayLines(operand, CurrentDisplaySettings());
  std::u32string text = lines.size() == 1 ? lines[0] : U"";
  return IsRef(operand) && RankOf(TypeWord(operand)) == 0 ? text : U"(" + text + U")";
}

static std::u32string OperatorText(uint32_t op) {
  if (op == kVariantOperatorCode) return U"⍠";
  if (op >= 240) return SystemNameText(SystemOperatorNumber(op), kSystemOperator);
  return std::u32string(1, PrimitiveCharacter(static_cast<uint8_t>(op)));
}

static std::u32string FunctionText(Ref fn) {
  if (!IsRef(fn)) {
    if (fn >= kFirstSystemFunctionCode && fn <= kLastSystemFunctionCode)
      return SystemNameText(SystemFunctionNumber(fn), kSystemFunction);
    return std::u32string(1, PrimitiveCharacter(static_cast<uint8_t>(fn)));
  }
  if (IsDfnObject(fn)) return DfnText(fn);
  if (!IsDerived(fn)) return U"";  // defined functions show their own text
  CheckFunctionTreeDepth();
  // Showing an array operand allocates: the operands are held where compaction keeps them current.
  Temporaries operands;
  operands[0] = Retained(Words(fn)[3]);
  operands[1] = Retained(Words(fn)[4]);
  operands[2] = Retained(Words(fn)[5]);
  const Ref &left = operands[0], &op = operands[1], &right = operands[2];
  if (op == 0 || op == kInNamespaceCode) return FunctionText(left);
  if (op == kPrimLeftBracket) return FunctionText(left) + U"[" + OperandText(right, true) + U"]";
  if (IsRef(op)) {
    std::u32string name = IsDfnObject(op) ? DfnText(op) : IsTradfn(op) ? TradfnName(op) : U"";
    return (left ? OperandText(left, false) : U"") + name + (right ? OperandText(right, true) : U"");
  }
  if (op == kPrimDot && left == kPrimJot) return U"∘." + OperandText(right, true);
  if (op == kTrainAtop) return U"(" + OperandText(left, false) + OperandText(right, false) + U")";
  if (op == kTrainFork) {
    const Ref g = Words(right)[3], h = Words(right)[5];
    return U"(" + OperandText(left, false) + FunctionText(g) + OperandText(h, false) + U")";
  }
  std::u32string text = left ? OperandText(left, false) : U"";
  text += OperatorText(op);
  if (right) text += OperandText(right, true);
  return text;
}

std::u32string FunctionValueText(Ref fn) { return FunctionText(fn); }

// ---- Trains drawn as trees --------------------------------------------------------------------------------
// A function that holds a train is shown as a tree: each node is a block of lines whose first line
// holds the node's root at column `root`. Operators stand above their operands, trains join their
// tines with a line of box characters above them.

namespace {

struct TreeBlock {
  std::vector<std::u32string> lines;
  size_t root = 0;
  size_t Width() const {
    size_t w = 0;
    for (const std::u32string& line : lines) w = std::max(w, line.size());
    return w;
  }
};

bool HoldsTrain(Ref fn) {
  return SomePartIs(fn, [](Ref part) {
    return IsDerived(part) && (Words(part)[4] == kTrainAtop || Words(part)[4] == kTrainFork);
  });
}

void PutAt(std::u32string& line, size_t column, char32_t c) {
  if (line.size() <= column) line.resize(column + 1, U' ');
  line[column] = c;
}

// The blocks side by side, one blank apart, under a line of box characters that joins their roots:
// ┌ at the first, ┐ at the last, and `junction` at the joined block's root, which is the root of
// `middleChild` when given, else midway.
TreeBlock JoinBelow(const std::vector<TreeBlock>& children, std::optional<size_t> middleChild, char32_t junction) {
  TreeBlock joined;
  std::vector<size_t> roots;
  size_t offset = 0;
  for (const TreeBlock& child : children) {
    roots.push_back(offset + child.root);
    for (size_t row = 0; row < child.lines.size(); ++row) {
      if (joined.lines.size() <= row + 1) joined.lines.resize(row + 2);
      std::u32string& line = joined.lines[row + 1];
      line.resize(offset, U' ');
      line += child.lines[row];
    }
    offset += child.Width() + 1;
  }
  joined.root = middleChild ? roots[*middleChild] : (roots.front() + roots.back() + 1) / 2;
  std::u32string& connector = joined.lines[0];
  for (size_t c = roots.front(); c <= roots.back(); ++c) PutAt(connector, c, U'─');
  PutAt(connector, roots.front(), U'┌');
  PutAt(connector, roots.back(), U'┐');
  PutAt(connector, joined.root, junction);
  return joined;
}

// A function's text or an array's display as a leaf, its root in the middle of its first line.
TreeBlock Leaf(std::vector<std::u32string> lines) {
  TreeBlock leaf;
  leaf.lines = std::move(lines);
  if (leaf.lines.empty()) leaf.lines.emplace_back();
  leaf.root = leaf.lines[0].empty() ? 0 : (leaf.lines[0].size() - 1) / 2;
  return leaf;
}

}  // namespace

static TreeBlock TreeOf(Ref fn) {
  CheckFunctionTreeDepth();
  if (!IsDerived(fn))
    return Leaf(IsFunction(fn) ? std::vector{FunctionText(fn)} : DisplayLines(PlainArray(fn), CurrentDisplaySettings()));
  Temporaries parts;
  parts[0] = Retained(Words(fn)[3]);
  parts[1] = Retained(Words(fn)[4]);
  parts[2] = Retained(Words(fn)[5]);
  const uint32_t op = parts[1];
  if (op == 0 || op == kInNamespaceCode) return TreeOf(parts[0]);
  if (op == kTrainAtop) return JoinBelow({TreeOf(parts[0]), TreeOf(parts[2])}, std::nullopt, U'┴');
  if (op == kTrainFork) {
    Ref pair = parts[2];
    return JoinBelow({TreeOf(parts[0]), TreeOf(Words(pair)[3]), TreeOf(Words(pair)[5])}, 1, U'┼');
  }
  const std::u32string symbol = op == kPrimLeftBracket ? U"[" + OperandText(parts[2], true) + U"]"
                                : IsRef(op) ? FunctionText(op) : OperatorText(op);
  TreeBlock node;
  if (parts[2] && op != kPrimLeftBracket) {
    node = JoinBelow({TreeOf(parts[0]), TreeOf(parts[2])}, std::nullopt, U'┴');
  } else {
    TreeBlock below = TreeOf(parts[0]);
    node.root = below.root + 2;
    node.lines.push_back(std::u32string(below.root, U' ') + U"┌─┘");
    for (std::u32string& line : below.lines) node.lines.push_back(std::move(line));
  }
  node.lines.insert(node.lines.begin(), std::u32string(node.root, U' ') + symbol);
  return node;
}

// The lines that show a function value: a tree when it holds a train, else one line of text.
static std::vector<std::u32string> FunctionDisplayLines(Ref fn) {
  if (!HoldsTrain(fn)) return {FunctionText(fn)};
  std::vector<std::u32string> lines = TreeOf(fn).lines;
  for (std::u32string& line : lines) line.erase(line.find_last_not_of(U' ') + 1);
  return lines;
}

// Shows a statement's value in immediate execution.
static void DisplayValue(Ref value) {
  if (!ResultsDisplayed()) return;
  value = PlainArray(value);
  if (IsDerived(value) || IsDfnObject(value)) {
    for (const std::u32string& line : FunctionDisplayLines(value)) WriteSessionLine(line);
    return;
  }
  if (!IsArgumentValue(value)) return;
  for (const std::u32string& line : DisplayLines(value, CurrentDisplaySettings())) WriteSessionLine(line);
}

static void WriteOutputValue(uint32_t k, Ref value) {
  if (k == kQuoteOutputVariable) {
    std::vector<std::u32string> lines = DisplayLines(value, CurrentDisplaySettings());
    for (size_t i = 0; i < lines.size(); ++i) {
      if (i + 1 < lines.size()) WriteSessionLine(lines[i]);
      else WriteSessionText(lines[i]);
    }
    return;
  }
  DisplayValue(value);
}

// A branch typed at a suspension: the suspended function runs again from the line chosen (past its
// end, it returns); the rest of the typed line is abandoned.
static void ResumeSuspendedFunction() {
  Ref frame = CurrentFrame();
  ClearRegisters();
  Release(Tokens());
  Cursor() = 0;
  SetFrameSubType(frame, kExecutionRunning);
  Release(Words(frame)[kExecControlState]);
  Words(frame)[kExecClauseEntry] = 0;
  Put(RootWordAt(kRootSymbolList), Words(Words(frame)[kExecFunction])[kTradfnNames]);
  Retain(RootWordAt(kRootSymbolList));
  g_branchPending = false;
  StartTradfnLine(g_branchLine);
}

// A statement is complete with its value in LeftSlot (0 for none): the level it ran in decides what
// happens to it.
// Returns true when the line that immediate execution runs is finished.
static bool DeliverStatementValue(bool shy) {
  Ref frame = CurrentFrame();
  if (IsDfnFrame(frame)) {
    DfnStatementDone(shy);
    return false;
  }
  if (IsRunningTradfn(frame)) {
    TradfnStatementDone(shy);
    return false;
  }
  if (g_branchPending && IsSuspendedTradfn(frame)) {
    ResumeSuspendedFunction();
    return false;
  }
  if (IsInputOrExecuteLevel(frame)) {
    Put(Words(frame)[kExecResult], Take(Left()));
    Words(frame)[kExecResultFlags] = shy ? 1 : 0;
  } else {
    if (Left() && !shy) DisplayValue(Left());
    Release(Left());
  }
  if (NextStatement()) return false;
  if (IsInputOrExecuteLevel(CurrentFrame())) {
    LeaveExecutionLevel();
    return false;
  }
  return true;
}

// ⋄, a label mark or the line start ends the statement. Returns true when the line is finished.
static bool StatementEndStep(uint32_t boundaryEnd) {
  if (FrameClassOf(CurrentFrame()) == kFrameNesting) SIGNAL(kSyntaxError);  // a ) or ] never opened
  if (!CompleteAtBoundary(boundaryEnd)) return false;
  if (g_abandonLine) return true;
  bool shy = (g_level.flags & kFlagShy) != 0;
  Release(Right());
  Release(NewValue());
  Release(PendingFunction());
  Release(PendingItem());
  g_level.flags = 0;
  return DeliverStatementValue(shy);  // the value stays in LeftSlot, where compaction sees it
}

// ## : the parent of the executing namespace (a root is its own parent).
static void ParentNamespaceStep() {
  Ref parent = ParentNamespace(ExecutingNamespace());
  if (!parent) parent = ExecutingNamespace();
  Retain(parent);
  ValueStep(parent, true);
}

// The namespace a left argument of ⍎ names: a reference, or a name resolved as ⎕CS resolves it.
static Ref NamespaceOfArgument(Ref argument) {
  if (IsNamespaceObject(argument)) {
    Retain(argument);
    return argument;
  }
  if (!IsSimpleCharacterArray(argument)) SIGNAL(kDomainError);
  Ref ns = ResolveNamespacePath(CharacterText(argument), false);
  if (!ns) SIGNAL(kValueError);
  Retain(ns);
  return ns;
}

// ---- The statement loop ----------------------------------------------------------------------------------

// Executes tokens until the line that immediate execution started is finished, including every
// execution level it opened.
static void RunLine() {
  for (;;) {
    if (g_abandonLine || g_nativeCallDone) return;
    if (AtMemberExpressionStart()) {
      FinishMember();
      continue;
    }
    uint32_t tokenEnd = Cursor();
    g_tokenEnd = tokenEnd - Tokens();
    uint8_t code = ReadByte();
    if (code >= 112) {
      NameStep(code - 112);
      continue;
    }
    switch (kTokenClass[code]) {
      case kTcConstant01: ValueStep(MakeIntScalar(code), true); break;
      case kTcFunction: FunctionItem(code); break;
      case kTcSkip0: break;
      case kTcSkip1: ReadByte(); break;
      case kTcSkip2: Cursor() -= 2; break;
      case kTcIdiom: Cursor() -= 2; break;  // the idiom's tokens run as they stand
      case kTcSegment: Cursor() -= 2; break;
      case kTcNamespaceDot: SIGNAL(kNonceError);  // a dot after something other than a name
      case kTcJot:
        if (OperatorAwaiting() && Words(InnermostAwaiting())[4] == kPrimDot) FillOperand(kPrimJot);
        else DyadicOperatorStep(kPrimJot);
        break;
      case kTcBranch: FunctionItem(kPrimBranch); break;
      case kTcAssign: FunctionItem(kPrimAssign); break;
      case kTcQuadInput:
        if (g_level.flags & kFlagAssign) ValueStep(SystemVariableTarget(kQuadOutputVariable), true);
        else EvaluatedInputStep();
        break;
      case kTcQuoteInput:
        if (g_level.flags & kFlagAssign) ValueStep(SystemVariableTarget(kQuoteOutputVariable), true);
        else QuoteInputStep();
        break;
      case kTcSystemName: SystemNameStep(code); break;
      case kTcDyadicOperator: DyadicOperatorStep(code); break;
      case kTcMonadicOperator: MonadicOperatorStep(code); break;
      case kTcRootSpace: {
        Ref root = RootNamespace();
        Retain(root);
        ValueStep(root, true);
        break;
      }
      case kTcParentSpace: ParentNamespaceStep(); break;
      case kTcUnknown:
        Cursor() -= 2;
        g_errorToken = g_tokenEnd;
        SIGNAL(kSyntaxError);
      case kTcConstant: ConstantStep(ReadByte(), code == 87); break;
      case kTcExtension: ExtensionStep(); break;
      case kTcZilde: {
        Ref zilde = RootWordAt(kRootEmptyNumericVector);
        Retain(zilde);
        ValueStep(zilde, true);
        break;
      }
      case kTcCloseParen: CloseParenthesisStep(); break;
      case kTcOpenParen: OpenParenthesisStep(tokenEnd); break;
      case kTcCloseBracket: CloseBracketStep(); break;
      case kTcSemicolon: SemicolonStep(tokenEnd); break;
      case kTcOpenBracket: OpenBracketStep(tokenEnd); break;
      case kTcStatementEnd:
        Cursor() = TokenStartBefore(tokenEnd);
        if (StatementEndStep(tokenEnd)) return;
        break;
      case kTcLineStart:
        if (StatementEndStep(tokenEnd)) return;
        break;
      case kTcDfnName: DfnNameStep(); break;
      case kTcStructure:
        if (StructureStep(tokenEnd)) return;
        break;
      case kTcNonce: SIGNAL(kNonceError);
      case kTcSystemError: SystemError(11);
      case kTcReject: SIGNAL(kSyntaxError);
    }
  }
}

// ---- Namespace members ------------------------------------------------------------------------------------
// In a.b the name b is read first; the dot token before it gives the start of the expression a,
// which is evaluated in a nesting level. When the cursor reaches that start the level yields the
// namespace, and b is looked up in it.

inline constexpr uint32_t kNestMemberName = kNestItemList;  // the member's symbol index

static bool BeforeNamespaceDot() { return Cursor() > StreamFirstToken() && ByteAt(Cursor() - 1) == 28; }

// ⎕DMX.Name: a property of the error record.
static bool DmxMemberStep(uint32_t memberIndex) {
  uint32_t dot = Cursor() - 3;  // the dot token is h l 28
  if (dot < StreamFirstToken() + 2 || ByteAt(dot - 1) != 62 || ByteAt(dot - 2) != kQuadDMX) return false;
  uint32_t property = FindDmxProperty(EntryName(SymbolSlot(memberIndex)));
  if (!property) SIGNAL(kValueError);
  Cursor() = dot - 2;
  ValueStep(DmxPropertyValue(static_cast<DmxProperty>(property)), true);
  return true;
}

static void StartMember(uint32_t memberIndex) {
  if (!(memberIndex & kSystemMemberFlag) && !(g_level.flags & kFlagAssign) && DmxMemberStep(memberIndex)) return;
  ReadByte();  // 28
  uint32_t low = ReadByte();
  uint32_t high = ReadByte();
  uint32_t expressionStart = StreamFirstToken() - Tokens() + high * 256 + low;
  PushNesting(kNestingOther, false);
  Words(CurrentFrame())[kNestMemberName] = memberIndex;
  g_level.memberStop = expressionStart;
}

static bool AtMemberExpressionStart() {
  return g_level.memberStop && FrameClassOf(CurrentFrame()) == kFrameNesting &&
         FrameSubTypeOf(CurrentFrame()) == kNestingOther && CursorOffset() == g_level.memberStop;
}


// ns.⎕F is ⎕F run with ns as the executing namespace; ns.⎕V and ns.⎕N read ⎕V and ⎕N there.
static void SystemMemberStep(const Ref& ns, uint32_t member) {
  const uint32_t tokenCode = (member >> 8) & 0xFF, k = member & 0xFF;
  if (tokenCode == 61) {
    Retain(ns);
    return FunctionItem(MakeDerived(SystemFunctionCode(k), kInNamespaceCode, ns));
  }
  if (g_level.flags & kFlagAssign) {
    if (tokenCode != 62) SIGNAL(kSyntaxError);
    Temporaries hold;
    hold[0] = SystemVariableTarget(k);
    Words(hold[0])[4] = ns;  // the namespace whose variable it is
    Retain(ns);
    return ValueStep(hold.Take(0), true);
  }
  Ref value = 0;
  {
    ExecutingIn scope(ns);
    value = tokenCode == 62 ? SystemVariableValue(k) : NiladicValue(k);
  }
  ValueStep(value, true);
}

static CallResult ApplyInNamespace(const Ref& derived, const Ref& left, const Ref& right) {
  Temporaries hold;
  hold[0] = Words(derived)[5];
  Retain(hold[0]);
  ExecutingIn scope(hold[0]);
  return CallFunctionValue(Words(derived)[3], left, right);
}

// A function found in namespace `home` (counted `fn`, taken over): a defined function from another
// namespace runs there; a niladic one is called at once.
static void FunctionFoundIn(Ref fn, const Ref& home) {
  Temporaries hold;  // [0] the function
  hold[0] = fn;
  if (IsTradfn(fn) && home != ExecutingNamespace()) {
    Retain(home);
    hold[0] = MakeDerived(hold.Take(0), kInNamespaceCode, home);
  }
  Ref defined = IsInNamespaceCall(hold[0]) ? Words(hold[0])[3] : hold[0];
  if (IsTradfn(defined) && !(TradfnHeaderValue(defined, kHeaderDescriptor) & kHeaderRight)) return CallNiladic(hold[0]);
  FunctionItem(hold.Take(0));
}

static void FinishMember() {
  if (!CompleteAtBoundary(Cursor())) return;
  Temporaries hold;
  hold[0] = Take(Left());
  uint32_t memberIndex = Words(CurrentFrame())[kNestMemberName];
  PopNesting(kNestingOther);
  if (!IsNamespaceObject(hold[0])) SIGNAL(kSyntaxError);
  if (memberIndex & kSystemMemberFlag) return SystemMemberStep(hold[0], memberIndex);
  std::u32string name = EntryName(SymbolSlot(memberIndex));
  bool assigning = (g_level.flags & kFlagAssign) != 0;
  Ref entry;
  {
    SpaceScope scope(hold[0]);
    entry = LookupName(name, assigning ? LookupMode::Create : LookupMode::Find);
  }
  if (!entry) SIGNAL(kValueError);
  if (assigning) {
    Retain(entry);
    return ValueStep(entry, true);
  }
  switch (EntryClass(entry)) {
    case kNameVariable: case kNameNamespace: case kNameLabel: {
      Ref value = EntryValue(entry);
      Retain(value);
      return ValueStep(value, true);
    }
    case kNameFunction: return FunctionFoundIn(FunctionFromValue(EntryValue(entry)), hold[0]);
    case kNameOperator: {
      Ref op = EntryValue(entry);
      Retain(op);
      return DopStep(op);
    }
    case kNameUndefined: SIGNAL(kValueError);
    default: SIGNAL(kNonceError);
  }
}

// ---- Errors --------------------------------------------------------------------------------------------

// The start of the statement whose right end is `end`: just after the ⋄, label mark or line start.
static uint32_t StatementStart(uint32_t end) {
  uint32_t p = end;
  while (p > StreamFirstToken()) {
    uint8_t code = ByteAt(p - 1);
    if (code == kTokDiamond || code == kTokLineStart || code == kTokLabel) return p;
    p = TokenStartBefore(p);
  }
  return StreamFirstToken() + 1;
}

static Ref InnermostDfnFrame();

// Shows an error that nothing trapped: its display names the statement that failed, with the caret
// under the token it happened at.
// Shows the error of the statement that failed; `unscanned` is the line when it failed before it
// became a token stream (nothing more is known of the place then, so the caret is at its start).
static void ShowUntrappedError(std::u32string_view unscanned = {}) {
  std::u32string statement(unscanned);
  uint32_t caret = 0;
  if (unscanned.empty() && IsRef(Tokens()) && IsRef(RootWordAt(kRootSymbolList))) {
    uint32_t end = std::min(Tokens() + g_level.statementEnd, StreamEnd());
    // In a dfn the whole statement that holds the braces is shown.
    uint32_t errorEnd = std::clamp(Tokens() + g_errorToken, StreamFirstToken() + 1, StreamEnd());
    uint32_t errorStart = TokenStartBefore(errorEnd);
    if (InnermostDfnFrame()) end = StatementEndFrom(std::min(errorStart, end));
    uint32_t start = StatementStart(end);
    uint32_t mark = std::clamp(errorStart, start, end);
    Ref symbols = RootWordAt(kRootSymbolList);
    statement = TokensText(std::span<const uint8_t>(g_heapBase + start, end - start), symbols);
    // The text before the caret is a prefix of the whole; a blank there belongs before the caret.
    caret = static_cast<uint32_t>(TokensText(std::span<const uint8_t>(g_heapBase + start, mark - start), symbols).size());
    if (caret < statement.size() && statement[caret] == U' ') ++caret;
    // Of a dfn written over several lines, the line that failed is shown.
    size_t lineStart = statement.rfind(U'\n', caret == 0 ? 0 : caret - 1);
    lineStart = lineStart == std::u32string::npos || caret == 0 ? 0 : lineStart + 1;
    size_t lineEnd = std::min(statement.find(U'\n', caret), statement.size());
    statement = statement.substr(lineStart, lineEnd - lineStart);
    caret -= static_cast<uint32_t>(lineStart);
  }
  ErrorPlace place;
  place.statement = statement;
  place.caret = caret;
  std::u32string function;
  if (CurrentFunctionPlace(function, place.line)) place.function = function;
  ErrorDisplay display = RecordErrorDisplay(place);
  for (const std::u32string& line : display.lines) WriteSessionLine(line);
  if (!display.sessionText.empty()) WriteSessionLine(display.sessionText);
}

static void PopFramesAbove(Ref target);

// Ends the line that ran at the session level: its registers, token stream and symbol list go.
static void EndSessionLine() {
  ClearRegisters();
  Release(Tokens());
  Cursor() = 0;
  Release(RootWordAt(kRootSymbolList));
  g_level = {};
  g_abandonLine = false;
  g_nativeCallDone = false;
  g_nativeDepth = 0;
  g_branchPending = false;
}

// Discards the frames a finished line left above the session level. An escape also cuts back the
// most recent suspension, with the functions waiting for it, down to the next suspension.
static void ReturnToSessionLevel() {
  PopFramesAbove(SessionLevel());
  if (g_escapePending && IsSuspendedTradfn(CurrentFrame())) {
    PopFramesAbove(FrameBelow(CurrentFrame()));
    PopFramesAbove(SessionLevel());
  }
  g_escapePending = false;
  EndSessionLine();
}

// Whether the frame is a call made for C++ code (an operator applying a defined operand): such a
// call cannot be resumed once the C++ code that waits for it has been unwound.
static bool CalledForNative(Ref frame) {
  if (!IsDfnFrame(frame) && FrameClassOf(frame) != kFrameExecution) return false;
  return Words(frame)[kExecCallerState] >> kResumeShift == kResumeNative;  // the saved flags word
}

// Where an untrapped error stops: the innermost running defined function that can be resumed, or
// the session level when there is none.
static Ref SuspensionPoint() {
  Ref point = 0;
  for (Ref f = CurrentFrame();; f = FrameBelow(f)) {
    if (IsSessionLevel(f)) return point ? point : f;
    if (!point && IsRunningTradfn(f)) point = f;
    if (CalledForNative(f)) point = 0;
  }
}

// An error that nothing trapped suspends the innermost running defined function at its line: the
// frames above it go (⍎ levels, dfns, calls it made), its own names stay visible, and lines typed
// next run on top of it until a branch resumes it or an escape cuts it back.
static void SuspendAfterError() {
  Ref point = SuspensionPoint();
  PopFramesAbove(point);
  if (IsRunningTradfn(point)) SetFrameSubType(point, kExecutionSuspended);
  g_escapePending = false;
  EndSessionLine();
}

// ---- Trapping ----------------------------------------------------------------------------------------------
// A ⎕TRAP specification that takes an error is carried out after the C++ stack has unwound: the
// search only records the action and the expression.

struct TrapAction {
  char32_t action = 0;
  std::u32string expression;
  // The function whose ⎕TRAP value decided (took the error, or stopped the search with S): the frames
  // above it, or the session's own value. Error guards and :Trap in that function and above it come
  // first; those below it are not reached.
  uint32_t ownerDepth = 0;
  bool ownerIsSession = true;
};
static TrapAction g_trap;
static bool g_trappingSuppressed = false;  // while a trap's own expression runs

// Does one specification's number list take error `en`?
static bool TrapNumbersMatch(Ref numbers, uint32_t en) {
  std::vector<int64_t> list;
  if (!ReadIntegers(numbers, list)) return false;
  for (int64_t d : list) {
    if (d == en || (d == 0 && en < 1000) || (d == 1000 && en >= 1000 && en <= 1999) ||
        (d != 0 && d == static_cast<int64_t>(en / 1000 * 1000)))
      return true;
  }
  return false;
}

enum class TrapOutcome { NoMatch, Taken, Stop };

// Tries the specifications of one ⎕TRAP value, which belongs to the function `ownerDepth` frames
// below the top (the session's own value when `ownerIsSession`).
static TrapOutcome TryTrapValue(Ref value, uint32_t en, uint32_t ownerDepth, bool ownerIsSession) {
  if (!IsRef(value) || KindOf(TypeWord(value)) != kKindNested) return TrapOutcome::NoMatch;
  for (uint64_t i = 0; i < ElementCount(value); ++i) {
    Ref spec = DataOf<Ref>(value)[i];
    if (!IsRef(spec) || KindOf(TypeWord(spec)) != kKindNested || ElementCount(spec) < 2) continue;
    if (!TrapNumbersMatch(DataOf<Ref>(spec)[0], en)) continue;
    std::u32string action = CharacterText(DataOf<Ref>(spec)[1]);
    if (action == U"N") continue;
    g_trap.ownerDepth = ownerDepth;
    g_trap.ownerIsSession = ownerIsSession;
    if (action != U"E" && action != U"C") return TrapOutcome::Stop;
    g_trap.action = action[0];
    g_trap.expression = ElementCount(spec) > 2 ? CharacterText(DataOf<Ref>(spec)[2]) : U"";
    return TrapOutcome::Taken;
  }
  return TrapOutcome::NoMatch;
}

// The saved ⎕TRAP value in a localisation frame (0 when the frame does not localise ⎕TRAP).
static Ref SavedTrapValue(Ref localisation) {
  Ref trapEntry = SystemVariableEntry(kQuadTRAP);
  uint32_t* w = Words(localisation);
  for (uint32_t i = 0; i < w[kLocalCountWord]; ++i)
    if (w[kLocalFirstWord + 3 * i + kLocalEntry] == trapEntry) return w[kLocalFirstWord + 3 * i + kLocalSavedValue];
  return 0;
}

// The search for a ⎕TRAP specification that takes the error: the current value first, then the
// values that each localisation of ⎕TRAP saved, from the most recent call down. Each value belongs to
// the function that localised it (the current one to the innermost such function); the session's
// own value belongs to no function.
// The depth of the innermost defined function or dfn above the session level (-1: none).
static int64_t InnermostFunctionDepth() {
  int64_t depth = 0;
  for (Ref f = CurrentFrame(); !IsSessionLevel(f); f = FrameBelow(f), ++depth)
    if (IsRunningTradfn(f) || IsDfnFrame(f)) return depth;
  return -1;
}

static bool SearchTraps(const AplError& error) {
  g_trap = {};
  if (g_trappingSuppressed) return false;
  const uint32_t en = ErrorState().en ? ErrorState().en : error.errorNumber;
  // The localisations of ⎕TRAP from the top down, by depth (frames are found again after anything
  // allocates): the localisation frame and the function it belongs to, just above it.
  std::vector<uint32_t> localisations;
  uint32_t depth = 0;
  for (Ref f = CurrentFrame(); !IsSessionLevel(f); f = FrameBelow(f), ++depth)
    if (FrameClassOf(f) == kFrameLocalisation && depth > 0 && SavedTrapValue(f)) localisations.push_back(depth);
  // ⎕SIGNAL raises its error in the caller of the function that ran it: that function's own values
  // are passed over.
  const int64_t signaller = error.raisedBySignal ? InnermostFunctionDepth() : -1;
  try {
    Temporaries hold;
    hold[0] = ReadSystemVariable(kQuadTRAP);
    // Value i is the current one (i = 0) or the one the localisation i − 1 saved; it belongs to the
    // function of localisation i, or to the session after the last.
    for (size_t i = 0; i <= localisations.size(); ++i) {
      if (i > 0) {
        Put(hold[0], SavedTrapValue(FrameAtDepth(localisations[i - 1])));
        Retain(hold[0]);
      }
      const bool session = i == localisations.size();
      const uint32_t owner = session ? 0 : localisations[i] - 1;
      if (!session && static_cast<int64_t>(owner) <= signaller) continue;
      TrapOutcome outcome = TryTrapValue(hold[0], en, owner, session);
      if (outcome != TrapOutcome::NoMatch) return outcome == TrapOutcome::Taken;
    }
  } catch (const AplError&) {
  }
  return false;
}


// ---- Trapping in running code ---------------------------------------------------------------------------
// When an error reaches the statement loop, the state indicator is searched from the top for a frame
// that takes it: a dfn whose error guard has been passed, or a defined function inside the body of a
// :Trap that lists the error. The stack is cut back to that frame, which then runs the guard's
// expression or the :Trap's clauses. An ⎕TRAP specification with E or C runs its expression in
// the innermost defined function (E) or, with nothing running, as the next immediate line.

// Cuts the state indicator back to `target`, restoring the namespace its code runs in, and makes its
// own code current again (registers cleared).
// Pops the frames above `target`, undoing their localisations, and restores the namespace that the
// code of `target` runs in.
static void PopFramesAbove(Ref target) {
  Temporaries hold;
  while (CurrentFrame() != target && FrameClassOf(CurrentFrame()) != kFrameImmediate) {
    Ref f = CurrentFrame();
    if (FrameClassOf(f) == kFrameExecution || IsDfnFrame(f)) {
      Put(hold[0], Words(f)[kExecCallerNamespace]);
      Retain(hold[0]);
    }
    CutBackTo(FrameBelow(f));
  }
  if (IsRef(hold[0]) && hold[0] != ExecutingNamespace()) SetExecutingNamespace(hold[0]);
}

static void CutBackToFrame(Ref target) {
  PopFramesAbove(target);
  ClearRegisters();
  g_level = {};
  g_branchPending = false;
  Ref code = IsDfnFrame(target) ? Words(target)[kDfnSelf] : Words(target)[kExecFunction];
  uint32_t symbolsWord = IsDfnFrame(target) ? uint32_t{kDfnObjectSymbols} : uint32_t{kTradfnNames};
  Put(RootWordAt(kRootSymbolList), Words(code)[symbolsWord]);
  Retain(RootWordAt(kRootSymbolList));
  if (IsDfnFrame(target)) {
    Put(Tokens(), Words(code)[kDfnObjectStream]);
    Retain(Tokens());
  }
}

static uint32_t RecordedErrorNumber(const AplError& error) {
  return ErrorState().en ? ErrorState().en : error.errorNumber;
}

// A dfn frame whose armed error guard lists the error: its expression gives the dfn's result.
static bool CatchInDfn(Ref frame, uint32_t en) {
  Ref numbers = Words(frame)[kDfnGuardNumbers];
  if (!IsRef(numbers) || !TrapNumbersMatch(numbers, en)) return false;
  CutBackToFrame(frame);
  uint32_t* w = Words(CurrentFrame());
  uint32_t guard = w[kDfnGuardPosition];
  Release(w[kDfnGuardNumbers]);  // errors in the guard's own expression are not caught by it
  w[kDfnMode] = kDfnGuardResult;
  w[kDfnStatementStart] = guard;
  w[kDfnStatementEnd] = NextDfnBoundary(w[kDfnClose], guard);
  Cursor() = TokenBase() + StatementEndBefore(w[kDfnStatementEnd]);
  g_level.statementEnd = CursorOffset();
  return true;
}

// A defined function frame inside the body of a :Trap that lists the error: the :Trap's clauses run
// as a :Select on the error number.
static bool CatchInTradfn(Ref frame, uint32_t en) {
  Ref stack = Words(frame)[kExecControlState];
  if (!IsRef(stack)) return false;
  Ref fn = Words(frame)[kExecFunction];
  uint32_t line = Words(frame)[kExecLineNumber];
  const std::vector<KeywordAt>& all = FunctionKeywords(fn);
  for (uint64_t i = ElementCount(stack); i-- > 0;) {
    Ref record = DataOf<Ref>(Words(frame)[kExecControlState])[i];
    uint32_t recordLine = RecordLine(record), recordR = RecordR(record);
    size_t k = 0;
    while (k < all.size() && !(all[k].line == recordLine && all[k].r == recordR)) ++k;
    if (k == all.size() || all[k].code != kKeyTrap) continue;
    size_t clause = ForwardKeyword(all, k, [](uint8_t c) {
      return c == kKeyCase || c == kKeyCaseList || c == kKeyElse || Closes(c);
    });
    if (clause == all.size() || line < all[k].line || line > all[clause].line) continue;  // left the body
    if (!TrapNumbersMatch(DataOf<Ref>(record)[0], en)) continue;
    CutBackToFrame(frame);
    Temporaries hold;
    hold[0] = MakeIntScalar(static_cast<int32_t>(en));
    ReplaceControlRecords(all[k], MakeControlRecord(all[k], hold[0], {}));
    NextCase(all, k);
    return true;
  }
  return false;
}

// The defined function in which a ⎕TRAP expression runs: for E the innermost one running, for C the
// one whose ⎕TRAP value took the error (its frames above are cut back). 0 when it is the session's.
static Ref TrapExpressionFrame(const Ref& stop) {
  Ref owner = 0;
  if (g_trap.action == U'C') {
    if (g_trap.ownerIsSession) return 0;
    owner = FrameAtDepth(g_trap.ownerDepth);
  }
  for (Ref f = CurrentFrame(); f != stop && !IsSessionLevel(f); f = FrameBelow(f)) {
    if (owner && f != owner) continue;
    if (IsRunningTradfn(f)) return f;
  }
  return 0;
}

// ⎕TRAP with E or C: with a defined function to run it in, the expression runs there as the next
// statement; the failed statement is abandoned. Otherwise it runs as the next immediate line.
static bool CatchByQuadTrap(const AplError& error, const Ref& stop) {
  if (!error.trapped || g_trap.action == 0) return false;
  if (Ref f = TrapExpressionFrame(stop)) {
    CutBackToFrame(f);
    f = CurrentFrame();
    Ref fn = Words(f)[kExecFunction];
    Retain(TradfnLine(fn, Words(f)[kExecLineNumber]));
    Put(Tokens(), TradfnLine(fn, Words(f)[kExecLineNumber]));
    // When the expression is done the line ends there: the failed statement and the rest of its
    // line are abandoned.
    g_level.statementEnd = StreamEnd() - Tokens();
    Cursor() = StreamFirstToken() + 1;
    std::u32string expression = std::move(g_trap.expression);
    g_trap = {};
    SetResume(kResumeBoundary);
    EnterExecutionLevel(kExecutionExecute, expression);
    return true;
  }
  return false;
}

// Looks for a frame above `stop` that takes the error; true when execution can go on there.
static bool ResumeAtTrap(const AplError& error, const Ref& stop) {
  if (error.errorNumber >= 32768) return false;
  uint32_t en = RecordedErrorNumber(error);
  uint32_t depth = 0;
  for (Ref f = CurrentFrame(); f != stop && !IsSessionLevel(f); f = FrameBelow(f), ++depth) {
    if (!g_trap.ownerIsSession && depth > g_trap.ownerDepth) break;  // below the ⎕TRAP that decided
    if (IsDfnFrame(f) && CatchInDfn(f, en)) return true;
    if (IsRunningTradfn(f) && CatchInTradfn(f, en)) return true;
  }
  return CatchByQuadTrap(error, stop);
}

// ⎕SIGNAL reports its error in the caller of the function that ran it: that function's frames (and
// what it called) go, and the caller's statement becomes the place of the error.
static void CutBackOverSignaller(const Ref& stop) {
  const int64_t depth = InnermostFunctionDepth();
  if (depth < 0) return;
  Ref f = FrameAtDepth(static_cast<uint32_t>(depth));
  for (Ref g = CurrentFrame(); g != f; g = FrameBelow(g))
    if (g == stop) return;  // the function runs outside this loop
  if (f == stop) return;
  uint32_t popped = static_cast<uint32_t>(depth) + 1;
  Ref below = FrameBelow(f);
  if (FrameClassOf(below) == kFrameLocalisation) {
    below = FrameBelow(below);
    ++popped;
  }
  Temporaries hold;
  hold[0] = f;
  Retain(f);
  ClearRegisters();
  PopFramesAbove(below);
  uint32_t* w = Words(hold[0]);
  Put(Tokens(), Take(w[kExecCallerTokens]));
  Cursor() = Tokens() + w[kExecCallerCursor];
  Put(RootWordAt(kRootSymbolList), Take(w[kExecCallerSymbols]));
  RestoreState(w + kExecCallerState);
  g_errorToken = g_level.functionToken;
  if (!g_trap.ownerIsSession) g_trap.ownerDepth = g_trap.ownerDepth >= popped ? g_trap.ownerDepth - popped : 0;
}

// Runs the statement loop; errors that a frame above `stop` (and above the session level) takes
// continue there.
// The C++ working storage of a primitive or of the display (outside the workspace) can run out too:
// the statement then fails with WS FULL like any other, and can be trapped.
static void RunLineOrWsFull() {
  try {
    RunLine();
  } catch (const std::bad_alloc&) {
    SIGNAL(kWsFull);
  } catch (const std::length_error&) {
    SIGNAL(kWsFull);
  }
}

// `stop` is a root slot or a registered temporary: frames move when the heap is compacted.
static void RunTrapping(const Ref& stop) {
  for (;;) {
    try {
      RunLineOrWsFull();
      return;
    } catch (const AplError& error) {
      if (!error.raisedBySignal) {
        if (!ResumeAtTrap(error, stop)) throw;
        continue;
      }
      AplError inCaller = error;  // cut back once, by the innermost loop
      inCaller.raisedBySignal = false;
      CutBackOverSignaller(stop);
      if (!ResumeAtTrap(inCaller, stop)) throw inCaller;
    }
  }
}

// ---- Immediate execution ----------------------------------------------------------------------------

static void ScanImmediateText(const std::u32string& text) {
  if (Scan(text) != kScanOk) SIGNAL(kLimitError);  // a symbol list of more than 4,094 items
}

void ExecuteLine(std::u32string_view line) {
  bool trapped = false;
  bool scanned = false;
  try {
    CheckStrongInterrupt();
    ScanImmediateText(std::u32string(line));
    scanned = true;
    StartStream();
    RunTrapping(0);
    ReturnToSessionLevel();
  } catch (const AplError& error) {
    trapped = error.trapped;
    // An escape from a function an operator called, or ⎕LOAD abandoning all the running code (the
    // outer loop then replaces the workspace).
    if (error.errorNumber == kSilentUnwind || error.errorNumber == kClearStateIndicator) {
      ReturnToSessionLevel();
      return;
    }
    if (!trapped) ShowUntrappedError(scanned ? std::u32string_view() : line);
    // A workspace full of the frames of a deep recursion would leave no room for the next line,
    // not even for the → that clears it: WS FULL cuts back instead of suspending.
    if (trapped || error.errorNumber == kWsFull) ReturnToSessionLevel();
    else SuspendAfterError();
  }
  if (trapped) {
    // The trap's expression runs where the error happened: here, as the next line of immediate
    // execution, without trapping its own errors.
    std::u32string expression = std::move(g_trap.expression);
    g_trap = {};
    g_trappingSuppressed = true;
    ExecuteLine(expression);
    g_trappingSuppressed = false;
  }
}

static SystemCommandHandler g_systemCommandHandler = nullptr;

void SetSystemCommandHandler(SystemCommandHandler handler) { g_systemCommandHandler = handler; }

void ClearStateIndicator() { PopFramesAbove(0); }

// A system command reports its refusals itself; an error it cannot avoid (WS FULL, an interrupt)
// is shown like a line's error, and no trap takes it.
static void SystemCommand(std::u32string_view line) {
  if (!g_systemCommandHandler) return WriteSessionLine(U"Incorrect command");
  g_trappingSuppressed = true;
  try {
    g_systemCommandHandler(line.substr(1));
  } catch (const AplError&) {
    ShowUntrappedError(line);
  }
  g_trappingSuppressed = false;
}

static std::u32string g_pendingLatentExpression;

void SetPendingLatentExpression(std::u32string text) { g_pendingLatentExpression = std::move(text); }

void InitialiseEvaluator() {
  RegisterKind(kKindDerived, DerivedChildren, nullptr);
  RegisterTransferKind(kKindDerived, PlainTransferRule());
  RegisterTransferObjectClass(kDfnObjectClass, {WriteDfn, ReadDfn, nullptr, FinishTransferredDfn});
  InstallPrimitives(kEvaluatorRows);
  static constexpr OperatorRow kInNamespaceRow[] = {{kInNamespaceCode, ApplyInNamespace, true}};
  InstallOperators(kInNamespaceRow);
  SetTrapSearch(SearchTraps);
  BuildSystemFunctionTable();
  BuildNiladicTable();
}

// Whether the text leaves a dfn open at its end (the scan is only looked at; errors in it are left
// for the execution to report).
static bool LeavesDfnOpen(const std::u32string& text) {
  ScanState state;
  try {
    if (Scan(text, &state) != kScanOk) return false;
  } catch (const AplError&) {
    return false;
  }
  Release(Tokens());
  Cursor() = 0;
  Release(RootWordAt(kRootSymbolList));
  return state.dfnDepth > 0;
}

// A line typed in the session that opens a dfn goes on with the next lines until the dfn closes.
static std::u32string WithDfnLines(std::u32string text) {
  std::u32string more;
  while (LeavesDfnOpen(text) && ReadInputLine(more)) text += U'\n' + more;
  return text;
}

// A ⎕LX that a load left runs as the next line of immediate execution.
static bool RunPendingLatentExpression() {
  if (g_pendingLatentExpression.empty()) return false;
  std::u32string expression = std::move(g_pendingLatentExpression);
  g_pendingLatentExpression.clear();
  ExecuteLine(expression);
  return true;
}

void RunSession(const SessionHooks& hooks) {
  RegisterCleanup(EndOpenLine);
  if (hooks.start) hooks.start();
  std::u32string line;
  for (;;) {
    if (hooks.betweenLines) hooks.betweenLines();
    if (RunPendingLatentExpression()) continue;
    if (hooks.beforeInput) hooks.beforeInput(FrameClassOf(CurrentFrame()) == kFrameImmediate);
    if (!ReadInputLine(line)) ExitApl(0);
    size_t first = line.find_first_not_of(U' ');
    if (first != std::u32string::npos && line[first] == U')') SystemCommand(line.substr(first));
    else ExecuteLine(WithDfnLines(line));
  }
}

}  // namespace vantor
