// Calls: defined functions and dfns (their frames, localisation, lines and statements, guards and
// error guards), and the service frames through which operators call them.
#include "language/evaluator.h"

namespace vantor {

static constexpr char kUnit[] = "aplfun";

// ---- Defined functions ---------------------------------------------------------------------------------
// A call pushes an execution-level frame that saves the caller, localises the function's names (the
// locals from the last to the first, the labels from the last line to the first, then the right
// argument, the left argument and the result) and runs the lines one after another. A branch
// chooses the next line; running off the end, or a branch to a line that does not exist, returns.

bool IsRunningTradfn(Ref frame) {
  return FrameClassOf(frame) == kFrameExecution && FrameSubTypeOf(frame) == kExecutionRunning;
}

bool IsSuspendedTradfn(Ref frame) {
  return FrameClassOf(frame) == kFrameExecution && FrameSubTypeOf(frame) == kExecutionSuspended;
}

// A ⎕ or ⍎ level: its statements' values go back to the code that opened it.
bool IsInputOrExecuteLevel(Ref frame) {
  uint32_t sub = FrameSubTypeOf(frame);
  return FrameClassOf(frame) == kFrameExecution && (sub == kExecutionEvaluatedInput || sub == kExecutionExecute);
}

// Lines typed by the user run at the session level: on top of the most recently suspended function,
// or in immediate execution when nothing is suspended.
bool IsSessionLevel(Ref frame) { return FrameClassOf(frame) == kFrameImmediate || IsSuspendedTradfn(frame); }

Ref SessionLevel() {
  Ref f = CurrentFrame();
  while (!IsSessionLevel(f)) f = FrameBelow(f);
  return f;
}

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

// Runs line n of the function in the frame on top; past the last line the function returns.
void StartTradfnLine(uint32_t n) {
  Ref frame = CurrentFrame();
  Ref fn = Words(frame)[kExecFunction];
  if (n < 1 || n > TradfnLineCount(fn)) return LeaveTradfn();
  Words(frame)[kExecLineNumber] = n;
  Ref line = TradfnLine(fn, n);
  Retain(line);
  Put(Tokens(), line);
  g_evaluator.level = {};
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
  g_evaluator.level = {};
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
void LeaveTradfn() {
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
void TradfnStatementDone(bool shy) {
  if (Left() && !shy) DisplayValue(Left());
  Release(Left());
  if (g_evaluator.branchPending) {
    g_evaluator.branchPending = false;
    return StartTradfnLine(g_evaluator.branchLine);
  }
  if (!NextStatement()) StartTradfnLine(Words(CurrentFrame())[kExecLineNumber] + 1);
}

// A niladic defined function named in running code is called at once; its result is a value.
void CallNiladic(Ref fn) {
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

uint32_t TokenBase() { return StreamFirstToken(); }
// A structure token [0][h][l][c][111] is known by the offset r of its last byte in the token bytes.
uint8_t StructureCodeAt(uint32_t r) { return ByteAt(TokenBase() + r - 1); }
static uint32_t StructureChainAt(uint32_t r) {
  return ByteAt(TokenBase() + r - 3) * 256u + ByteAt(TokenBase() + r - 2);
}
static bool IsDfnClose(uint8_t c) { return c >= kStructDfnEnd && c <= kStructDyadicDopEnd; }

bool IsDfnFrame(Ref frame) { return (TypeWord(frame) & kDfnFrameFlag) != 0; }

// A dfn object, or a derived function whose operator is a dfn (a dop with its operands).
bool IsDfnCall(Ref fn) {
  return IsDfnObject(fn) || (IsDerived(fn) && IsDfnObject(Words(fn)[4]));
}
// A defined function, or a derived function whose operator is a defined operator.
// ns.F for a defined function F: F is called with ns as its executing namespace.
bool IsInNamespaceCall(Ref fn) {
  return IsDerived(fn) && Words(fn)[4] == kInNamespaceCode && IsTradfn(Words(fn)[3]);
}
bool IsTradfnCall(Ref fn) {
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
uint32_t StatementEndBefore(uint32_t r) { return r - (StructureCodeAt(r) == kStructDfnContinues ? 6 : 4); }

// The first boundary of the dfn's own statements after token offset `after`: a ⋄, a guard, an
// error guard or the closing brace.
uint32_t NextDfnBoundary(uint32_t close, uint32_t after) {
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
void WriteDfn(Ref dfn, TransferWriter& out) {
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

Ref ReadDfn(TransferReader& in, uint32_t size, uint32_t type) {
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
void FinishTransferredDfn(const Ref& dfn, const Ref&, bool completed) {
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
void DopStep(Ref op) {
  bool dyadic = IsTradfn(op) ? (TradfnHeaderValue(op, kHeaderDescriptor) & kHeaderRightOperand) != 0
                             : Words(op)[kDfnObjectKind] == 2;
  if (dyadic) return DyadicOperatorStep(op);
  MonadicOperatorStep(op);
}

// The dfn frame that ⍺, ⍵, ∇ and assignments refer to: the innermost one, unless a defined
// function or immediate execution comes first.
Ref InnermostDfnFrame() {
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
    g_evaluator.level.statementEnd = CursorOffset();
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
  g_evaluator.level = {};
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
static bool IsTailCall(Ref fn) {
  if (!g_evaluator.atDfnStatementStart || !IsDfnCall(fn)) return false;
  Ref frame = CurrentFrame();
  if (!IsDfnFrame(frame) || PendingItem() || Resume(g_evaluator.level) != kResumeBoundary) return false;
  uint32_t* w = Words(frame);
  if (IsRef(w[kDfnGuardNumbers])) return false;  // the dfn's error guard must still see the callee's errors
  if (FrameClassOf(FrameBelow(frame)) == kFrameLocalisation) return false;  // the callee may read its locals
  return w[kDfnMode] == kDfnGuardResult || (w[kDfnMode] == kDfnPlain && w[kDfnStatementEnd] == w[kDfnClose]);
}

static void EnterTradfn(const Ref& fn, Ref alpha, Ref omega);

// The pending function is a dfn or a defined function: it runs in its own frame with the registers'
// arguments.
void StartDefinedCall() {
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
bool GuardHolds(Ref value) {
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
void DfnStatementDone(bool shy) {
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
      g_evaluator.level.statementEnd = CursorOffset();
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
  g_evaluator.atDfnStatementStart = true;
  struct Clear {
    ~Clear() { g_evaluator.atDfnStatementStart = false; }
  } clear;
  return StatementEndStep(tokenEnd);
}

// ⍺←: the value to its right becomes ⍺ (the statement only runs when ⍺ has none).
static void DefaultAlphaStep(uint32_t tokenEnd) {
  if (!CompleteAtBoundary(tokenEnd)) return;
  Ref frame = InnermostDfnFrame();
  if (!frame || !Left()) SIGNAL(kSyntaxError);
  Put(Words(frame)[kDfnAlpha], Take(Left()));
  g_evaluator.level.flags |= kFlagShy;
}

// A structure token in running code. Returns true when the line immediate execution runs is done.
bool StructureStep(uint32_t tokenEnd) {
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
void DfnNameStep() {
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
Ref CurrentFrameBelowNesting() {
  Ref f = CurrentFrame();
  while (FrameClassOf(f) == kFrameNesting) f = FrameBelow(f);
  return f;
}

// An assignment in a running dfn first makes the target local to the dfn, once: the value being
// assigned was computed with the outer meaning.
void LocaliseInDfn(Ref entry) {
  Ref frame = InnermostDfnFrame();
  if (!frame || frame != CurrentFrameBelowNesting()) return;
  if (FindLocalRecord(frame, [&](Ref local) { return local == entry; })) return;
  LocaliseName(entry, kNameUndefined, 0);
}

// A function that traps errors has ⎕DMX of its own: the caller's record comes back when it ends.
void LocaliseDmx() {
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
  if (g_evaluator.nativeDepth >= kMaxNativeDepth) SIGNAL(kLimitError);
  uint32_t resume = Resume(g_evaluator.level);
  SetResume(kResumeNative);
  Temporaries stop;  // the frame the run ends at, kept up to date by compaction
  stop[0] = Retained(CurrentFrame());
  enter();
  struct DepthCount {
    DepthCount() { ++g_evaluator.nativeDepth; }
    ~DepthCount() { --g_evaluator.nativeDepth; }
  } depth;
  RunTrapping(stop[0]);
  // An escape (or a branch out of the line) in the function ends the C++ caller's work too.
  if (g_evaluator.abandonLine) RaiseRecordedError(AplError(kSilentUnwind, 0, 0, 0, kUnit, __LINE__));
  g_evaluator.nativeCallDone = false;
  SetResume(resume);
  return {Take(WorkingSlot(kSlotNativeResult)), false};
}

CallResult RunDefinedForNative(const Ref& fn, const Ref& left, const Ref& right) {
  return RunForNative([&] {
    Retain(left);
    Retain(right);
    if (IsTradfnCall(fn)) EnterTradfn(fn, left, right);
    else EnterDfn(fn, left, right);
  });
}

CallResult RunExecuteForNative(const Ref& left, const Ref& right) {
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
const ServiceOperator* RunsInServiceFrame(Ref fn, const Ref& left, const Ref& right) {
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
  g_evaluator.errorToken = g_evaluator.level.functionToken;
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
void RunService(bool given, Ref result) {
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
  g_evaluator.level = {};
  try {
    op.start();
  } catch (const AplError&) {
    AbandonService();
    throw;
  }
  RunService(false, 0);
}

// The pending function runs from a service frame: the frame takes over the registers' arguments.
void StartPendingService(const ServiceOperator& op) {
  Temporaries hold;
  hold[0] = Take(PendingFunction());
  Ref left = Take(Left());
  StartService(op, hold[0], left, Take(Right()));
}

}  // namespace vantor
