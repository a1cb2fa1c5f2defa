// The check that a value assigned to ⎕TRAP must pass.
#include "language/trap.h"
#include "language/evaluator.h"

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "language/dmx.h"
#include "language/space.h"
#include "memory/memory1.h"
#include "sysfns/quadvar.h"

namespace vantor {

using namespace argcheck;

static constexpr char kUnit[] = "trap";

// ---- ⎕TRAP ----------------------------------------------------------------------------------------

static constexpr int kTooDeep = 99;

// The depth of a value (negative when its items differ in depth or are uneven themselves), looked at
// no more than `levels` levels down: anything deeper reports kTooDeep.
static int BoundedDepth(Ref value, int levels) {
  if (!IsArrayValue(value)) return 0;
  if (!IsNestedArray(value)) return ArrayRank(value) == 0 ? 0 : 1;
  if (levels == 0) return kTooDeep;
  int deepest = 0;
  bool uneven = false;
  for (uint64_t i = 0, count = ElementCount(value); i < count; ++i) {
    int depth = BoundedDepth(ItemOf(value, i), levels - 1);
    if (depth == kTooDeep) return kTooDeep;
    uneven |= depth < 0 || (i > 0 && std::abs(depth) != deepest);
    deepest = std::max(deepest, std::abs(depth));
  }
  return uneven ? -(deepest + 1) : deepest + 1;
}

// Error numbers: simple non-negative integers of rank 0 or 1.
static void CheckTrapNumbers(Ref numbers) {
  if (!IsArrayValue(numbers) || IsNestedArray(numbers)) SIGNAL(kDomainError);
  if (ArrayRank(numbers) > 1) SIGNAL(kRankError);
  std::vector<int64_t> list;
  if (!ReadIntegers(numbers, list)) SIGNAL(kDomainError);
  for (int64_t n : list)
    if (n < 0) SIGNAL(kDomainError);
}

// The action: one character of "ECNS:" as a scalar.
static char32_t CheckTrapAction(Ref action) {
  if (!IsArrayValue(action)) SIGNAL(kDomainError);
  if (ArrayRank(action) != 0) SIGNAL(kRankError);
  if (!IsSimpleCharacterArray(action)) SIGNAL(kDomainError);
  char32_t c = CharacterText(action)[0];
  if (std::u32string_view(U"ECNS:").find(c) == std::u32string_view::npos) SIGNAL(kDomainError);
  return c;
}

static void CheckTrapExpression(Ref expression) {
  if (!IsArrayValue(expression) || !IsSimpleCharacterArray(expression)) SIGNAL(kDomainError);
  if (ArrayRank(expression) > 1) SIGNAL(kRankError);
}

// One specification: numbers, action and, for E and C, the expression. The internal ":" form of a
// :Trap structure carries what the control structure put there.
static void CheckTrapSpecification(Ref spec) {
  if (!IsArrayValue(spec) || ArrayRank(spec) != 1) SIGNAL(kRankError);
  uint64_t count = ElementCount(spec);
  if (count != 2 && count != 3) SIGNAL(kLengthError);
  if (!IsNestedArray(spec)) SIGNAL(kDomainError);  // a simple vector cannot hold numbers and an action
  CheckTrapNumbers(ItemOf(spec, 0));
  char32_t action = CheckTrapAction(ItemOf(spec, 1));
  if (action == U':') return;
  uint64_t wanted = action == U'E' || action == U'C' ? 3 : 2;
  if (count != wanted) SIGNAL(kLengthError);
  if (count == 3) CheckTrapExpression(ItemOf(spec, 2));
}

// A counted one-item vector holding `item`.
static Ref EnclosedInVector(Ref item) {
  Temporaries hold;
  Retain(item);
  hold[0] = item;
  Ref vector = AllocVector(kRefElement, 1);
  DataOf<Ref>(vector)[0] = hold.Take(0);
  return vector;
}

Ref CheckTrapValue(Ref value) {
  if (!IsArrayValue(value)) SIGNAL(kDomainError);
  if (ElementCount(value) == 0) {
    if (ArrayRank(value) > 1) SIGNAL(kRankError);
    Ref empty = RootWordAt(kRootEmptyNumericVector);
    Retain(empty);
    return empty;
  }
  int depth = BoundedDepth(value, 3);
  if (depth == 1 || depth == -2) {
    CheckTrapSpecification(value);
    return EnclosedInVector(value);
  }
  if (depth != 2 && depth != -3) SIGNAL(kDomainError);
  if (ArrayRank(value) > 1) SIGNAL(kRankError);
  for (uint64_t i = 0, count = ElementCount(value); i < count; ++i) CheckTrapSpecification(ItemOf(value, i));
  if (ArrayRank(value) == 0) return EnclosedInVector(ItemOf(value, 0));
  Retain(value);
  return value;
}

void InitialiseErrors() {
  SetErrorRecorder(RecordDmx);
  RegisterSystemVariableCheck(kQuadTRAP, CheckTrapValue);
}

// ---- Trapping ----------------------------------------------------------------------------------------------
// A ⎕TRAP specification that takes an error is carried out after the C++ stack has unwound: the
// search only records the action and the expression.

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
    g_evaluator.trap.ownerDepth = ownerDepth;
    g_evaluator.trap.ownerIsSession = ownerIsSession;
    if (action != U"E" && action != U"C") return TrapOutcome::Stop;
    g_evaluator.trap.action = action[0];
    g_evaluator.trap.expression = ElementCount(spec) > 2 ? CharacterText(DataOf<Ref>(spec)[2]) : U"";
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

bool SearchTraps(const AplError& error) {
  g_evaluator.trap = {};
  if (g_evaluator.trappingSuppressed) return false;
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
void PopFramesAbove(Ref target) {
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
  g_evaluator.level = {};
  g_evaluator.branchPending = false;
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
  g_evaluator.level.statementEnd = CursorOffset();
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
  if (g_evaluator.trap.action == U'C') {
    if (g_evaluator.trap.ownerIsSession) return 0;
    owner = FrameAtDepth(g_evaluator.trap.ownerDepth);
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
  if (!error.trapped || g_evaluator.trap.action == 0) return false;
  if (Ref f = TrapExpressionFrame(stop)) {
    CutBackToFrame(f);
    f = CurrentFrame();
    Ref fn = Words(f)[kExecFunction];
    Retain(TradfnLine(fn, Words(f)[kExecLineNumber]));
    Put(Tokens(), TradfnLine(fn, Words(f)[kExecLineNumber]));
    // When the expression is done the line ends there: the failed statement and the rest of its
    // line are abandoned.
    g_evaluator.level.statementEnd = StreamEnd() - Tokens();
    Cursor() = StreamFirstToken() + 1;
    std::u32string expression = std::move(g_evaluator.trap.expression);
    g_evaluator.trap = {};
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
    if (!g_evaluator.trap.ownerIsSession && depth > g_evaluator.trap.ownerDepth) break;  // below the ⎕TRAP that decided
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
  g_evaluator.errorToken = g_evaluator.level.functionToken;
  if (!g_evaluator.trap.ownerIsSession) g_evaluator.trap.ownerDepth = g_evaluator.trap.ownerDepth >= popped ? g_evaluator.trap.ownerDepth - popped : 0;
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
void RunTrapping(const Ref& stop) {
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

}  // namespace vantor
