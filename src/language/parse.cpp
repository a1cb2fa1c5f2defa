// The evaluator: reads each statement's token bytes from right to left and reduces them with the
// registers of the root block (stranding, function and operator binding, assignment, brackets and
// parentheses as nesting levels), applies functions through the dispatch tables, and runs the outer
// loop that reads, scans and executes lines. ⍎ and ⎕ input run their text in an execution-level frame
// on the state indicator, so nested execution never recurses on the C++ stack.
#include "language/evaluator.h"

namespace vantor {

EvaluatorState g_evaluator;

static constexpr char kUnit[] = "parse";

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
Ref BoundEntry(uint32_t index) {
  Ref entry = SymbolSlot(index);
  if (Words(entry)[kEntryOwner] == Words(ExecutingNamespace())[kNsSelf]) return entry;
  Ref fresh = LookupName(EntryName(entry), LookupMode::Create);
  MakeSymbolListPrivate();
  Retain(fresh);
  Put(SymbolSlot(index), fresh);
  return fresh;
}

// ---- Functions as values ---------------------------------------------------------------------------

bool IsDerived(Ref r) { return IsRef(r) && KindOf(TypeWord(r)) == kKindDerived; }
static bool IsNameEntry(Ref r) { return IsRef(r) && KindOf(TypeWord(r)) == kKindName; }

bool IsDfnObject(Ref r) {
  return IsRef(r) && (TypeWord(r) & 0xFFFF) == kDfnObjectClass && !(TypeWord(r) & kDfnFrameFlag);
}

static void FunctionFoundIn(Ref fn, const Ref& home);

bool IsFunction(Ref r) {
  if (!IsRef(r)) return r >= 2;
  uint32_t kind = KindOf(TypeWord(r));
  return kind == kKindDerived || kind == kKindDefinedFunction || kind == kKindExternal ||
         (kind == kKindObject && (TypeWord(r) & 0xFFFF) == kDfnObjectClass);
}

// A value that may be an argument: an array (also a hashed one) or a namespace reference.
bool IsArgumentValue(Ref r) {
  return IsRef(r) && (IsArrayKind(KindOf(TypeWord(r))) || IsNamespaceObject(r) || IsNullItem(r) || IsHashedArray(r));
}

// A new derived function: left operand, operator, right operand (codes or counted references).
Ref MakeDerived(Ref leftOperand, uint32_t op, Ref rightOperand) {
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

void DerivedChildren(Ref, FieldRuns& out) {
  out.Add(3, 1);
  out.Add(4, 1);
  out.Add(5, 1);
}

// A function held as a value (assigned, or a statement's value): a complete derived pocket, or a
// complete wrapper (operator 0) around a primitive or system-function code.
Ref FunctionAsValue(Ref fn) {
  if (!IsRef(fn)) fn = MakeDerived(fn, 0, 0);
  if (IsDerived(fn)) TypeWord(fn) |= kDerivedCompleteFlag;
  return fn;
}

// A function value ready to be applied: a wrapper gives way to the function it wraps.
Ref UnwrapFunction(Ref fn) {
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
  if (!(g_evaluator.level.flags & kFlagAssign)) GatherStrandLookAhead(parts);
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
  parts.single.push_back((g_evaluator.level.flags & kFlagLeftSingle) != 0);
  Left() = BuildStrand(parts);
  g_evaluator.level.flags &= ~kFlagLeftSingle;
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
  if (becomesFunctionStep) g_evaluator.level.flags |= kFlagAwaitStep;
  else g_evaluator.level.flags &= ~kFlagAwaitStep;
}

static bool IsSlashCode(Ref r) { return r >= kPrimSlash && r <= kPrimBackslashBar; }

static void CompleteOperatorChain();
static void SettleSlashOperand();

// Gives the innermost waiting operator its left operand (a function or an array; counted).
static void FillOperand(Ref operand) {
  if (operand == kPrimAssign) SettleSlashOperand();
  if (!OperatorAwaiting()) return FunctionStep(operand);
  if (g_evaluator.level.flags & kFlagSlashOperand) {
    // The operand so far is a bare / ⌿ \ ⍀: with the function read now it forms a reduction or scan.
    g_evaluator.level.flags &= ~kFlagSlashOperand;
    Ref inner = InnermostAwaiting();
    uint32_t slash = Words(inner)[3];
    Words(inner)[3] = 0;
    operand = MakeDerived(operand, slash, 0);
    inner = InnermostAwaiting();
    Words(inner)[3] = operand;
  } else if (IsSlashCode(operand)) {
    Words(InnermostAwaiting())[3] = operand;
    g_evaluator.level.flags |= kFlagSlashOperand;
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
  if (g_evaluator.level.flags & kFlagAwaitStep) {
    g_evaluator.level.flags &= ~kFlagAwaitStep;
    FunctionStep(head);
  } else {
    Release(head);  // the chain is already the pending function
  }
}

// A bare / ⌿ \ ⍀ waiting as an operand is the function operand itself (replicate or expand) when
// what stands to its left cannot be its own operand: a value ('abc'/⍨mask), ← (f←/⍨) or the start
// of the statement.
static void SettleSlashOperand() {
  if (!(g_evaluator.level.flags & kFlagSlashOperand)) return;
  g_evaluator.level.flags &= ~kFlagSlashOperand;
  CompleteOperatorChain();
}

void MonadicOperatorStep(uint32_t op) { AwaitLeftOperand(MakeDerived(0, op, 0), true); }

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
void DyadicOperatorStep(uint32_t op) {
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

[[noreturn]] void SignalNeedsLeft() {
  SIGNAL_MESSAGE(kSyntaxError, U"The function requires a left argument");
}
[[noreturn]] void SignalTakesNoLeft() {
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

void BuildSystemFunctionTable() {
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

void InstallNiladicFunction(std::u32string_view name, NiladicHandler handler) {
  const SystemNameEntry* entry = FindSystemName(name);
  if (!entry || entry->cls != kSystemNiladic) SystemError(11);
  g_niladics[entry->code & 0xFF] = handler;
}

void BuildNiladicTable() {
  for (const NiladicRow& row : kNiladicRows)
    InstallNiladicFunction(std::u32string(row.name.begin(), row.name.end()), row.handler);
  g_evaluator.offNumber = FindSystemName(U"OFF")->code & 0xFF;
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

static CallResult ApplyDerived(const Ref& fn, const Ref& left, const Ref& right);

// Derived functions are walked on the C++ stack, a level per operand that is itself derived: a tree
// built too deep stops with an error before the stack runs out.
void CheckFunctionTreeDepth() {
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
  g_evaluator.errorToken = g_evaluator.level.functionToken;
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
  if (result.shy) g_evaluator.level.flags |= kFlagShy;
  else g_evaluator.level.flags &= ~kFlagShy;
  return Applied::Now;
}

// ---- Steps ---------------------------------------------------------------------------------------------

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
bool TakesTarget(Ref fn) {
  return fn == kPrimAssign || (IsDerived(fn) && Words(fn)[4] == kPrimAssign);
}

static void FinishFunctionStep() {
  if (!NewValue()) SIGNAL_MESSAGE(kValueError, U"No result was provided when the context expected one");
  Right() = Take(NewValue());
  PendingFunction() = Take(PendingItem());
  g_evaluator.level.functionToken = g_evaluator.level.itemToken;
  g_evaluator.level.flags &= ~kFlagAssign;
  if (PendingFunction() == kPrimAssign) g_evaluator.level.flags |= kFlagAssign;
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
  g_evaluator.level.functionToken = g_evaluator.tokenEnd;
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
void FunctionStep(Ref item) {
  if (item == kPrimAssign) FinishTrain();
  if (item == kPrimAssign && PendingFunction() && !Right() && !Left()) {
    // f←+/ : the function standing alone to the right of ← is the value assigned.
    Right() = FunctionAsValue(Take(PendingFunction()));
    PendingFunction() = item;
    g_evaluator.level.functionToken = g_evaluator.tokenEnd;
    g_evaluator.level.flags |= kFlagAssign;
    return;
  }
  if (PendingFunction()) {
    if (!Left() && IsOperatorLike(PendingFunction())) {
      // / ⌿ \ ⍀ and ← with a function to their left and no value: they act as operators.
      Ref op = Take(PendingFunction());
      PendingFunction() = OperatorLikeDerived(item, op);
      g_evaluator.level.functionToken = g_evaluator.tokenEnd;
      return;
    }
    if (!Right() || BuildingTrain()) return TrainStep(item);
    PendingItem() = item;
    g_evaluator.level.itemToken = g_evaluator.tokenEnd;
    SetResume(kResumeFunctionStep);
    if (ApplyPending() == Applied::Later) return;
    FinishFunctionStep();
    return;
  }
  Right() = Take(Left());
  g_evaluator.level.flags &= ~kFlagLeftSingle;
  PendingFunction() = item;
  g_evaluator.level.functionToken = g_evaluator.tokenEnd;
  if (item == kPrimAssign) g_evaluator.level.flags |= kFlagAssign;
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

void FunctionItem(Ref item) {
  if (IndexPending()) item = WithAxis(item);
  if (OperatorAwaiting()) return FillOperand(item);
  FunctionStep(item);
}

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
void ValueStep(Ref value, bool single) {
  if (IndexPending()) return IndexStep(value);
  SettleSlashOperand();
  if (OperatorAwaiting()) return FillOperand(OperandStrand(value, single));
  g_evaluator.level.flags &= ~kFlagShy;
  if (Left()) {
    NewValue() = value;
    StrandIntoLeft(single);
    return;
  }
  Left() = value;
  if (single) g_evaluator.level.flags |= kFlagLeftSingle;
  else g_evaluator.level.flags &= ~kFlagLeftSingle;
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
  g_evaluator.errorToken = g_evaluator.tokenEnd;
  if (BeforeNamespaceDot()) return StartMember(index);
  Ref entry = BoundEntry(index);
  if (g_evaluator.level.flags & kFlagSelectTarget) {
    g_evaluator.level.flags = (g_evaluator.level.flags & ~kFlagSelectTarget) | kFlagSelecting;
    return ValueStep(MakeSelection(entry), true);
  }
  if (g_evaluator.level.flags & kFlagAssign) {
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

[[noreturn]] void QuadOff(Ref argument) {
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
  g_evaluator.errorToken = g_evaluator.tokenEnd;
  if (BeforeNamespaceDot()) return StartMember(kSystemMemberFlag | tokenCode << 8 | k);
  switch (tokenCode) {
    case 61: return FunctionItem(SystemFunctionCode(k));
    case 62:
      if (g_evaluator.level.flags & kFlagAssign) return ValueStep(SystemVariableTarget(k), true);
      return ValueStep(SystemVariableValue(k), true);
    case 63:
      if (k == g_evaluator.offNumber) return FunctionItem(kCodeOff);
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
  g_evaluator.level.flags = keepAssignment ? uint32_t{kFlagAssign} : 0u;
  g_evaluator.level.memberStop = 0;
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
    if (kTokenFormat[code].cls == kTcConstant || kTokenFormat[code].cls == kTcZilde) return false;
  }
  return false;
}

static void CloseParenthesisStep() {
  bool assigning = (g_evaluator.level.flags & kFlagAssign) != 0;
  if (!assigning || ParenthesesHoldOnlyNames()) return PushNesting(kNestingParenthesis, assigning);
  bool selective = ParenthesesSelect();
  g_evaluator.level.flags &= ~kFlagAssign;
  PushNesting(kNestingParenthesis, false);
  if (selective) g_evaluator.level.flags |= kFlagSelectTarget;
}

// Applies what is pending at a boundary ( ( [ ; ⋄ and the line start), leaving the value so far in
// LeftSlot. Returns false when the application continues in an execution level: the boundary token
// is read again when that level ends.
bool CompleteAtBoundary(uint32_t boundaryEnd) {
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
      g_evaluator.errorToken = g_evaluator.level.functionToken;
      SIGNAL(kSyntaxError);  // a value left over before a function
    }
    Left() = FunctionAsValue(Take(PendingFunction()));
    g_evaluator.level.flags |= kFlagLeftSingle;
    return true;
  }
  uint32_t boundaryStart = CursorOffset();  // relative: the application may move the token stream
  Cursor() = boundaryEnd;
  SetResume(kResumeBoundary);
  if (ApplyPending() == Applied::Later) return false;
  Cursor() = Tokens() + boundaryStart;
  Left() = Take(NewValue());
  g_evaluator.level.flags |= kFlagLeftSingle;
  g_evaluator.level.flags &= ~kFlagAssign;
  return true;
}

static void OpenParenthesisStep(uint32_t boundaryEnd) {
  Ref frame = CurrentFrame();
  if (FrameClassOf(frame) != kFrameNesting || FrameSubTypeOf(frame) != kNestingParenthesis) SIGNAL(kSyntaxError);
  if (!CompleteAtBoundary(boundaryEnd)) return;
  bool selecting = (g_evaluator.level.flags & kFlagSelecting) != 0;
  Ref value = Take(Left());
  if (selecting != IsSelection(value)) {
    Release(value);
    SIGNAL(kSyntaxError);  // a selection that escaped its target, or a target that selected nothing
  }
  PopNesting(kNestingParenthesis);
  if (selecting) g_evaluator.level.flags |= kFlagAssign;
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
void SaveCaller(Ref frame) {
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

void EnterExecutionLevel(uint32_t subType, const std::u32string& text) {
  Ref frame = NewFrame(kFrameExecution, subType);
  SaveCaller(frame);
  PushFrame(frame);
  ClearRegisters();
  g_evaluator.level = {};
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
std::u32string ExecutedText(Ref right) {
  if (!IsSimpleCharacterArray(right) && !(IsArrayKind(KindOf(TypeWord(right))) && ElementCount(right) == 0))
    SIGNAL(kDomainError);
  if (RankOf(TypeWord(right)) > 1) SIGNAL(kRankError);
  return ElementCount(right) ? CharacterText(right) : std::u32string();
}

// Opens the ⍎ level that runs `text`, in `space` (counted, taken over) when it is not 0.
void EnterExecute(const std::u32string& text, Ref space) {
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
void ReinstateCaller(Ref frame) {
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

void ResumeCaller(Ref frame, Ref result, bool shy) {
  Temporaries hold;
  hold[0] = frame;
  Retain(frame);
  hold[1] = result;
  ReinstateCaller(hold[0]);
  result = hold.Take(1);
  uint32_t resume = Resume(g_evaluator.level);
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
    g_evaluator.nativeCallDone = true;
  } else if (resume == kResumeService) {
    RunService(true, result);
  } else {
    Left() = result;
    g_evaluator.level.flags |= kFlagLeftSingle;
    if (shy) g_evaluator.level.flags |= kFlagShy;
    else g_evaluator.level.flags &= ~kFlagShy;
  }
}

// ---- Branch --------------------------------------------------------------------------------------------

void Branch(Ref target) {
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
    g_evaluator.branchLine = lines[0] >= 1 && lines[0] <= 0xFFFF ? static_cast<uint32_t>(lines[0]) : 0;
    g_evaluator.branchPending = true;
    return;
  }
  for (Ref f = CurrentFrame(); IsRef(f); f = FrameBelow(f)) {
    uint32_t c = FrameClassOf(f);
    if (c == kFrameNesting || c == kFrameLocalisation) SIGNAL(kSyntaxError);
    if (c == kFrameImmediate || (c == kFrameExecution && FrameSubTypeOf(f) == kExecutionEvaluatedInput)) break;
  }
  // No defined function is running: the rest of the line is abandoned.
  g_evaluator.abandonLine = true;
}

// The escape → (nothing to its right): the rest of the line is abandoned, and the most recent
// suspension is cut back when the line's frames are discarded.
void Escape() {
  g_evaluator.abandonLine = true;
  g_evaluator.escapePending = true;
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
void DisplayValue(Ref value) {
  if (!ResultsDisplayed()) return;
  value = PlainArray(value);
  if (IsDerived(value) || IsDfnObject(value)) {
    for (const std::u32string& line : FunctionDisplayLines(value)) WriteSessionLine(line);
    return;
  }
  if (!IsArgumentValue(value)) return;
  for (const std::u32string& line : DisplayLines(value, CurrentDisplaySettings())) WriteSessionLine(line);
}

void WriteOutputValue(uint32_t k, Ref value) {
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
  g_evaluator.branchPending = false;
  StartTradfnLine(g_evaluator.branchLine);
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
  if (g_evaluator.branchPending && IsSuspendedTradfn(frame)) {
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
bool StatementEndStep(uint32_t boundaryEnd) {
  if (FrameClassOf(CurrentFrame()) == kFrameNesting) SIGNAL(kSyntaxError);  // a ) or ] never opened
  if (!CompleteAtBoundary(boundaryEnd)) return false;
  if (g_evaluator.abandonLine) return true;
  bool shy = (g_evaluator.level.flags & kFlagShy) != 0;
  Release(Right());
  Release(NewValue());
  Release(PendingFunction());
  Release(PendingItem());
  g_evaluator.level.flags = 0;
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
Ref NamespaceOfArgument(Ref argument) {
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
void RunLine() {
  for (;;) {
    if (g_evaluator.abandonLine || g_evaluator.nativeCallDone) return;
    if (AtMemberExpressionStart()) {
      FinishMember();
      continue;
    }
    uint32_t tokenEnd = Cursor();
    g_evaluator.tokenEnd = tokenEnd - Tokens();
    uint8_t code = ReadByte();
    if (code >= 112) {
      NameStep(code - 112);
      continue;
    }
    switch (kTokenFormat[code].cls) {
      case kTcConstant01: ValueStep(MakeIntScalar(code), true); break;
      case kTcFunction: FunctionItem(code); break;
      case kTcSkip: Cursor() -= kTokenFormat[code].length - 1; break;
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
        if (g_evaluator.level.flags & kFlagAssign) ValueStep(SystemVariableTarget(kQuadOutputVariable), true);
        else EvaluatedInputStep();
        break;
      case kTcQuoteInput:
        if (g_evaluator.level.flags & kFlagAssign) ValueStep(SystemVariableTarget(kQuoteOutputVariable), true);
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
        g_evaluator.errorToken = g_evaluator.tokenEnd;
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

bool BeforeNamespaceDot() { return Cursor() > StreamFirstToken() && ByteAt(Cursor() - 1) == 28; }

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

void StartMember(uint32_t memberIndex) {
  if (!(memberIndex & kSystemMemberFlag) && !(g_evaluator.level.flags & kFlagAssign) && DmxMemberStep(memberIndex)) return;
  ReadByte();  // 28
  uint32_t low = ReadByte();
  uint32_t high = ReadByte();
  uint32_t expressionStart = StreamFirstToken() - Tokens() + high * 256 + low;
  PushNesting(kNestingOther, false);
  Words(CurrentFrame())[kNestMemberName] = memberIndex;
  g_evaluator.level.memberStop = expressionStart;
}

bool AtMemberExpressionStart() {
  return g_evaluator.level.memberStop && FrameClassOf(CurrentFrame()) == kFrameNesting &&
         FrameSubTypeOf(CurrentFrame()) == kNestingOther && CursorOffset() == g_evaluator.level.memberStop;
}

// ns.⎕F is ⎕F run with ns as the executing namespace; ns.⎕V and ns.⎕N read ⎕V and ⎕N there.
static void SystemMemberStep(const Ref& ns, uint32_t member) {
  const uint32_t tokenCode = (member >> 8) & 0xFF, k = member & 0xFF;
  if (tokenCode == 61) {
    Retain(ns);
    return FunctionItem(MakeDerived(SystemFunctionCode(k), kInNamespaceCode, ns));
  }
  if (g_evaluator.level.flags & kFlagAssign) {
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

CallResult ApplyInNamespace(const Ref& derived, const Ref& left, const Ref& right) {
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

// refs.name over an array of namespace references: the array of each one's variable `name`.
static void MemberOfEachStep(const Ref& refs, const std::u32string& name) {
  if (!IsArrayValue(refs) || !argcheck::IsNestedArray(refs)) SIGNAL(kSyntaxError);
  const uint64_t count = ElementCount(refs);
  for (uint64_t i = 0; i < count; ++i)
    if (!IsNamespaceObject(argcheck::ItemOf(refs, i))) SIGNAL(kSyntaxError);
  std::vector<uint32_t> shape(ShapeOf(refs), ShapeOf(refs) + argcheck::ArrayRank(refs));
  Ref values = MakeNested(shape, [&](uint64_t i) {
    Ref entry;
    {
      SpaceScope scope(argcheck::ItemOf(refs, i));
      entry = LookupName(name, LookupMode::Find);
    }
    if (!entry || EntryClass(entry) == kNameUndefined) SIGNAL(kValueError);
    if (EntryClass(entry) != kNameVariable && EntryClass(entry) != kNameNamespace) SIGNAL(kSyntaxError);
    Ref value = EntryValue(entry);
    Retain(value);
    return value;
  });
  ValueStep(Simplified(values), true);
}

void FinishMember() {
  if (!CompleteAtBoundary(Cursor())) return;
  Temporaries hold;
  hold[0] = Take(Left());
  uint32_t memberIndex = Words(CurrentFrame())[kNestMemberName];
  PopNesting(kNestingOther);
  bool assigning = (g_evaluator.level.flags & kFlagAssign) != 0;
  if (IsArrayValue(hold[0]) && argcheck::ArrayRank(hold[0]) == 0 && argcheck::IsNestedArray(hold[0]) &&
      IsNamespaceObject(argcheck::ItemOf(hold[0], 0))) {  // a reference picked out of an array: refs[2].name
    Ref ns = argcheck::ItemOf(hold[0], 0);
    Retain(ns);
    Put(hold[0], ns);
  }
  if (!IsNamespaceObject(hold[0])) {
    if (assigning || (memberIndex & kSystemMemberFlag)) SIGNAL(kSyntaxError);
    return MemberOfEachStep(hold[0], EntryName(SymbolSlot(memberIndex)));
  }
  if (memberIndex & kSystemMemberFlag) return SystemMemberStep(hold[0], memberIndex);
  std::u32string name = EntryName(SymbolSlot(memberIndex));
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

// ---- Start-up ------------------------------------------------------------------------------------

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

}  // namespace vantor
