// The state indicator: frame pockets linked from the current frame down to the immediate-execution
// frame, their layouts (registered with the heap so compaction and release can walk them), and the
// cut-back that undoes localisations when frames are discarded.
#include "language/stack.h"

#include <algorithm>

#include <csignal>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "language/dmx.h"
#include "language/fixapfns.h"
#include "language/scan.h"
#include "language/shadow.h"
#include "language/space.h"
#include "base/errors.h"
#include "memory/memory3.h"

namespace vantor {

static constexpr char kUnit[] = "stack";

static constexpr uint32_t FrameLowBits(uint32_t frameClass, uint32_t subType) {
  return kKindObject | (subType << 4) | (frameClass << 12);
}

static uint32_t FrameWords(uint32_t frameClass, uint32_t subType) {
  if (frameClass == kFrameService && subType == kServiceDfn) return kDfnFrameWords;
  if (frameClass == kFrameService && std::ranges::count(kOperatorServiceTypes, subType)) return kServiceFrameWords;
  switch (frameClass) {
    case kFrameNesting: return kNestingFrameWords;
    case kFrameExecution: return kExecutionFrameWords;
    case kFrameLocalisation: return kLocalisationFrameWords;
    default: return 4;
  }
}

// ---- Layouts -------------------------------------------------------------------------------------

static void LinkOnly(Ref, FieldRuns& out) { out.Add(kFrameLinkWord, 1); }
// Only the words that hold references are listed: the saved state words hold offsets and flags,
// which may well be 512 or more.
static void NestingFields(Ref r, FieldRuns& out) {
  out.Add(kFrameLinkWord, kNestSavedPendingFunction - kFrameLinkWord + 1);
  // Word 7 is an index list in a bracket level, and a symbol index in other levels.
  if (FrameSubTypeOf(r) == kNestingOther) out.Add(kNestSavedPendingItem, 1);
  else out.Add(kNestItemList, kNestSavedPendingItem - kNestItemList + 1);
}
static void ExecutionFields(Ref, FieldRuns& out) {
  out.Add(kFrameLinkWord, 1);
  out.Add(kExecFunction, 2);       // the function, the caller's token stream
  out.Add(kExecCallerSymbols, 4);  // the caller's symbol list, a result, pending item and namespace
  out.Add(kExecControlState, 6);   // control state, caller registers, tracer state, own symbols
}
// Dfn frames hold their arguments and operands and what execution-level frames hold of the caller;
// dfn objects (same low type bits, without the frame flag) hold their stream, symbols and namespace.
static void DfnFields(Ref r, FieldRuns& out) {
  if (!(TypeWord(r) & kDfnFrameFlag)) return out.Add(kDfnObjectStream, 3);
  out.Add(kFrameLinkWord, kExecCallerTokens - kFrameLinkWord + 1);  // link, ⍺, ⍵, ⍺⍺, caller's stream
  out.Add(kExecCallerSymbols, 4);  // symbols, error guard numbers, pending item, namespace
  out.Add(kDfnOmegaOmega, kDfnSelf - kDfnOmegaOmega + 1);        // ⍵⍵, caller left, caller right, ∇
  out.Add(kExecCallerState - 1, 1);                              // caller pending function
}

// Operator service frames hold the function, its arguments, the operator's values and the caller's
// references; the operator's numbers, the cursor and the state words are numbers.
static void ServiceFields(Ref, FieldRuns& out) {
  out.Add(kFrameLinkWord, kExecCallerTokens - kFrameLinkWord + 1);  // link, function, arguments, caller's stream
  out.Add(kExecCallerSymbols, 4);    // symbols, the operator's value, pending item, namespace
  out.Add(kExecCallerState - 5, 3);  // caller left and right, the operator's second value (15 to 17)
  out.Add(kExecCallerState - 1, 1);  // caller pending function
}

// The entry and the saved value of each record are references; the saved-state word is not.
static void LocalisationFields(Ref r, FieldRuns& out) {
  uint32_t records = Words(r)[kLocalCountWord];
  out.Add(kFrameLinkWord, 1);
  out.Add(kLocalFirstWord, records, 3);
  out.Add(kLocalFirstWord + 1, records, 3);
}

static void RegisterFrameClass(uint32_t frameClass, uint32_t subType, ChildFieldsFn fields) {
  RegisterObjectClass(FrameLowBits(frameClass, subType), fields, nullptr);
}

void InitialiseStack() {
  RegisterFrameClass(kFrameImmediate, 0, LinkOnly);
  for (uint32_t sub : {kNestingOther, kNestingParenthesis, kNestingBracket})
    RegisterFrameClass(kFrameNesting, sub, NestingFields);
  for (uint32_t sub : {kExecutionEvaluatedInput, kExecutionExecute, kExecutionSuspended, kExecutionRunning})
    RegisterFrameClass(kFrameExecution, sub, ExecutionFields);
  RegisterFrameClass(kFrameLocalisation, 0, LocalisationFields);
  RegisterFrameClass(kFrameService, kServiceDfn, DfnFields);
  for (uint32_t sub : kOperatorServiceTypes) RegisterFrameClass(kFrameService, sub, ServiceFields);
  RegisterFrameClass(kFrameTemporary, 0, LinkOnly);
  if (!IsRef(RootWordAt(kRootCurrentFrame))) RootWordAt(kRootCurrentFrame) = NewFrame(kFrameImmediate, 0);
}

bool IsOperatorServiceFrame(Ref frame) {
  return FrameClassOf(frame) == kFrameService && std::ranges::count(kOperatorServiceTypes, FrameSubTypeOf(frame));
}

bool KeepsCaller(Ref frame) {
  const uint32_t c = FrameClassOf(frame);
  return c == kFrameExecution || (c == kFrameService && FrameSubTypeOf(frame) == kServiceDfn) ||
         IsOperatorServiceFrame(frame);
}

Ref NewFrame(uint32_t frameClass, uint32_t subType) {
  uint32_t words = FrameWords(frameClass, subType);
  Ref frame = GetSpace(words);
  uint32_t* w = Words(frame);
  std::memset(w + 1, 0, 4ull * (words - 1));
  w[1] = 1;
  w[2] = FrameLowBits(frameClass, subType) | (frameClass == kFrameExecution ? kExecutionFrameBit : 0) |
         (frameClass == kFrameService && subType == kServiceDfn ? kDfnFrameFlag : 0);
  return frame;
}

void PushFrame(Ref frame) {
  Words(frame)[kFrameLinkWord] = RootWordAt(kRootCurrentFrame);
  RootWordAt(kRootCurrentFrame) = frame;
}

Ref FrameAtDepth(uint32_t depth) {
  Ref f = CurrentFrame();
  for (uint32_t d = 0; d < depth; ++d) f = FrameBelow(f);
  return f;
}

void SetFrameSubType(Ref frame, uint32_t subType) {
  TypeWord(frame) = (TypeWord(frame) & ~(0xFFu << 4)) | (subType << 4);
}

Ref PopFrame() {
  Ref frame = RootWordAt(kRootCurrentFrame);
  if (FrameClassOf(frame) == kFrameImmediate) SystemError(11);
  RootWordAt(kRootCurrentFrame) = Words(frame)[kFrameLinkWord];
  Words(frame)[kFrameLinkWord] = 0;
  return frame;
}

// ---- Localisation --------------------------------------------------------------------------------

// The link word below the topmost execution-level or dfn frame: where that level's localisation
// frame hangs. Null at immediate execution.
static uint32_t* LocalisationLink() {
  for (Ref f = CurrentFrame(); IsRef(f); f = FrameBelow(f)) {
    uint32_t c = FrameClassOf(f);
    if (c == kFrameExecution || (c == kFrameService && FrameSubTypeOf(f) == kServiceDfn))
      return &Words(f)[kFrameLinkWord];
    if (c == kFrameImmediate) return nullptr;
  }
  return nullptr;
}

void AppendLocalRecord(Ref entry, uint32_t savedValue, uint32_t savedState) {
  if (!LocalisationLink()) SIGNAL(kSyntaxError);  // immediate execution has nothing to localise in
  Temporaries hold;
  hold[0] = entry;
  Retain(entry);
  hold[1] = savedValue;
  Retain(savedValue);
  Ref below = *LocalisationLink();
  if (!IsRef(below) || FrameClassOf(below) != kFrameLocalisation) {
    Ref frame = NewFrame(kFrameLocalisation, 0);
    uint32_t* link = LocalisationLink();
    Words(frame)[kFrameLinkWord] = *link;
    *link = frame;
  }
  // The localisation frame leaves its link while it grows, so that it has one owner to resize.
  uint32_t* link = LocalisationLink();
  hold[2] = *link;
  *link = 0;
  Ref record;
  try {
    record = Resize(hold[2], 3);
  } catch (const AplError&) {
    *LocalisationLink() = hold.Take(2);  // WS FULL: the frame goes back in the chain as it was
    throw;
  }
  Words(record)[0] = hold.Take(0);
  Words(record)[1] = hold.Take(1);
  Words(record)[2] = savedState;
  ++Words(hold[2])[kLocalCountWord];
  *LocalisationLink() = hold.Take(2);
}

// Undoes the records of the localisation frame held in `frame[0]`, in reverse order. Undoing a record
// may allocate, so the frame is found again through the temporary for each record.
static void UndoLocalisation(Temporaries& frame) {
  for (uint32_t i = Words(frame[0])[kLocalCountWord]; i-- > 0;)
    UndoLocalRecord(frame[0], i);
}

void CutBackTo(Ref target) {
  while (CurrentFrame() != target && FrameClassOf(CurrentFrame()) != kFrameImmediate) {
    Temporaries frame;
    frame[0] = PopFrame();  // released when the temporary goes
    if (FrameClassOf(frame[0]) == kFrameLocalisation) UndoLocalisation(frame);
  }
}

// ---- Interrupts ------------------------------------------------------------------------------------

void RequestInterrupt() {
  if (g_weakInterrupt) g_interruptPending.store(true, std::memory_order_relaxed);
  g_weakInterrupt = 1;
}

void ClearInterrupts() {
  g_interruptPending.store(false, std::memory_order_relaxed);
  g_weakInterrupt = 0;
}

void CheckInterruptAtLine() {
  if (!g_interruptOnAllocation) return;  // interrupts are not enabled
  CheckStrongInterrupt();
  if (!g_weakInterrupt) return;
  g_weakInterrupt = 0;
  SIGNAL(kWeakInterrupt);
}

static void OnBreakSignal(int) { RequestInterrupt(); }

void InstallInterruptHandler() {
  struct sigaction action {};
  action.sa_handler = OnBreakSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  g_interruptOnAllocation = true;
}

// ---- Reports ---------------------------------------------------------------------------------------
// The reported frames are the running defined functions and the dfns, from the most recent down. A
// dfn is reported under the name of the defined function below it in whose lines its braces stand
// ('' when there is none), and at that function's line.

namespace {

// What the reports say of one frame, read before anything is allocated (an allocation may move the
// frames): its depth in the chain, and the texts and numbers about it.
struct ReportedFrame {
  uint32_t depth;
  std::u32string name;
  uint32_t line;
  std::u32string callerNamespace;
  bool suspended = false;
  std::u32string ownNamespace;  // the namespace the function runs in
};

bool IsFunctionFrame(Ref f) {
  uint32_t c = FrameClassOf(f), sub = FrameSubTypeOf(f);
  return c == kFrameExecution && (sub == kExecutionRunning || sub == kExecutionSuspended);
}
bool IsDfnFrameOf(Ref f) { return (TypeWord(f) & kDfnFrameFlag) != 0; }

// Whether the token stream is one of the function's lines.
bool HoldsStream(Ref fn, Ref stream) {
  for (uint32_t n = 0; n <= TradfnLineCount(fn); ++n)
    if (TradfnLine(fn, n) == stream) return true;
  return false;
}

std::vector<ReportedFrame> ReportedFrames() {
  std::vector<ReportedFrame> out;
  std::vector<std::pair<size_t, Ref>> pendingDfns;  // dfns waiting for the function whose text holds them
  uint32_t depth = 0;
  Ref inForce = ExecutingNamespace();  // the namespace of the code running in the frame
  for (Ref f = CurrentFrame(); IsRef(f); f = FrameBelow(f), ++depth) {
    const Ref own = inForce;
    if (FrameClassOf(f) == kFrameExecution || IsDfnFrameOf(f)) inForce = Words(f)[kExecCallerNamespace];
    if (!IsDfnFrameOf(f) && !IsFunctionFrame(f)) continue;
    std::u32string caller = DisplayName(Words(f)[kExecCallerNamespace]);
    if (IsDfnFrameOf(f)) {
      pendingDfns.emplace_back(out.size(), Words(Words(f)[kDfnSelf])[kDfnObjectStream]);
      out.push_back({depth, U"", 0, caller, false, DisplayName(own)});
      continue;
    }
    Ref fn = Words(f)[kExecFunction];
    for (auto [index, stream] : pendingDfns) {
      if (!HoldsStream(fn, stream)) continue;
      out[index].name = TradfnName(fn);
      out[index].line = Words(f)[kExecLineNumber];
    }
    pendingDfns.clear();
    out.push_back({depth, TradfnName(fn), Words(f)[kExecLineNumber], caller,
                   FrameSubTypeOf(f) == kExecutionSuspended, DisplayName(own)});
  }
  return out;
}

Ref TextReport(const std::function<std::u32string(const ReportedFrame&)>& text) {
  std::vector<ReportedFrame> frames = ReportedFrames();
  return MakeNested({static_cast<uint32_t>(frames.size())}, [&](uint64_t i) { return MakeText(text(frames[i])); });
}

}  // namespace

bool CurrentFunctionPlace(std::u32string& name, uint32_t& line) {
  std::vector<ReportedFrame> frames = ReportedFrames();
  // A line typed at a suspension runs on top of the suspended function but is not part of it.
  if (frames.empty() || frames[0].name.empty() || frames[0].suspended) return false;
  name = frames[0].name;
  line = frames[0].line;
  return true;
}

Ref QuadSI() {
  return TextReport([](const ReportedFrame& r) { return r.name; });
}

Ref QuadXSI() {
  return TextReport([](const ReportedFrame& r) { return r.ownNamespace + U"." + r.name; });
}

Ref QuadNSI() {
  return TextReport([](const ReportedFrame& r) { return r.callerNamespace; });
}

Ref QuadLC() {
  std::vector<ReportedFrame> frames = ReportedFrames();
  Ref result = AllocVector(kInt32, static_cast<uint32_t>(frames.size()));
  for (size_t i = 0; i < frames.size(); ++i) DataOf<int32_t>(result)[i] = static_cast<int32_t>(frames[i].line);
  Narrow(result);
  return result;
}

Ref QuadRSI() {
  std::vector<ReportedFrame> frames = ReportedFrames();
  if (frames.empty()) {
    Ref zilde = RootWordAt(kRootEmptyNumericVector);
    Retain(zilde);
    return zilde;
  }
  Ref result = AllocVector(kRefElement, static_cast<uint32_t>(frames.size()));
  for (size_t i = 0; i < frames.size(); ++i) {
    Ref ns = Words(FrameAtDepth(frames[i].depth))[kExecCallerNamespace];
    Retain(ns);
    DataOf<Ref>(result)[i] = ns;
  }
  return result;
}

// The ⎕STACK text of an operator service frame: its operator's symbol; ⍣ and trains have none.
static std::u32string ServiceFrameText(uint32_t subType) {
  const char32_t symbol = subType == kPrimPower ? 0 : PrimitiveCharacter(static_cast<uint8_t>(subType));
  return symbol ? std::u32string(1, symbol) : std::u32string();
}

// ⎕STACK: one row per described frame: the frame's function (the shared placeholder, the empty
// numeric vector, where there is none) and its text.
Ref QuadSTACK() {
  struct Row {
    uint32_t depth;
    bool function;  // the frame's function goes in the first column
    std::u32string text;
  };
  std::vector<Row> rows;
  uint32_t depth = 0;
  for (Ref f = CurrentFrame(); IsRef(f); f = FrameBelow(f), ++depth) {
    uint32_t c = FrameClassOf(f), sub = FrameSubTypeOf(f);
    if (IsFunctionFrame(f) && sub == kExecutionSuspended) rows.push_back({depth, false, U"*"});
    if (IsFunctionFrame(f) || IsDfnFrameOf(f)) rows.push_back({depth, true, U" "});
    else if (c == kFrameExecution && sub == kExecutionEvaluatedInput) rows.push_back({depth, false, U"⎕"});
    else if (c == kFrameExecution && sub == kExecutionExecute) rows.push_back({depth, false, U"⍎"});
    else if (IsOperatorServiceFrame(f) && !ServiceFrameText(sub).empty())
      rows.push_back({depth, false, ServiceFrameText(sub)});
    else if (c == kFrameImmediate) rows.push_back({depth, false, U"*"});
  }
  uint32_t count = static_cast<uint32_t>(rows.size());
  Temporaries hold;
  hold[0] = AllocMatrix(kRefElement, count, 2);
  for (uint32_t r = 0; r < count; ++r) {
    Ref f = FrameAtDepth(rows[r].depth);
    Ref function = !rows[r].function ? RootWordAt(kRootEmptyNumericVector)
                   : IsDfnFrameOf(f)  ? Words(f)[kDfnSelf]
                                      : Words(f)[kExecFunction];
    Retain(function);
    DataOf<Ref>(hold[0])[2 * r] = function;
  }
  for (uint32_t r = 0; r < count; ++r) {
    Ref text = MakeText(rows[r].text);
    DataOf<Ref>(hold[0])[2 * r + 1] = text;
  }
  return hold.Take(0);
}

}  // namespace vantor
