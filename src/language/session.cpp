// Immediate execution: the session loop that reads, scans and executes lines, system commands, the
// latent expression, and the display of errors that nothing trapped.
#include "language/evaluator.h"

namespace vantor {

static constexpr char kUnit[] = "session";

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

// Shows an error that nothing trapped: its display names the statement that failed, with the caret
// under the token it happened at; `unscanned` is the line when it failed before it
// became a token stream (nothing more is known of the place then, so the caret is at its start).
static void ShowUntrappedError(std::u32string_view unscanned = {}) {
  std::u32string statement(unscanned);
  uint32_t caret = 0;
  if (unscanned.empty() && IsRef(Tokens()) && IsRef(RootWordAt(kRootSymbolList))) {
    uint32_t end = std::min(Tokens() + g_evaluator.level.statementEnd, StreamEnd());
    // In a dfn the whole statement that holds the braces is shown.
    uint32_t errorEnd = std::clamp(Tokens() + g_evaluator.errorToken, StreamFirstToken() + 1, StreamEnd());
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

// Ends the line that ran at the session level: its registers, token stream and symbol list go.
static void EndSessionLine() {
  ClearRegisters();
  Release(Tokens());
  Cursor() = 0;
  Release(RootWordAt(kRootSymbolList));
  g_evaluator.level = {};
  g_evaluator.abandonLine = false;
  g_evaluator.nativeCallDone = false;
  g_evaluator.nativeDepth = 0;
  g_evaluator.branchPending = false;
}

// Discards the frames a finished line left above the session level. An escape also cuts back the
// most recent suspension, with the functions waiting for it, down to the next suspension.
static void ReturnToSessionLevel() {
  PopFramesAbove(SessionLevel());
  if (g_evaluator.escapePending && IsSuspendedTradfn(CurrentFrame())) {
    PopFramesAbove(FrameBelow(CurrentFrame()));
    PopFramesAbove(SessionLevel());
  }
  g_evaluator.escapePending = false;
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
  g_evaluator.escapePending = false;
  EndSessionLine();
}

// ---- Immediate execution ----------------------------------------------------------------------------

void ScanImmediateText(const std::u32string& text) {
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
    std::u32string expression = std::move(g_evaluator.trap.expression);
    g_evaluator.trap = {};
    g_evaluator.trappingSuppressed = true;
    ExecuteLine(expression);
    g_evaluator.trappingSuppressed = false;
  }
}

void SetSystemCommandHandler(SystemCommandHandler handler) { g_evaluator.systemCommandHandler = handler; }

void ClearStateIndicator() { PopFramesAbove(0); }

// A system command reports its refusals itself; an error it cannot avoid (WS FULL, an interrupt)
// is shown like a line's error, and no trap takes it.
static void SystemCommand(std::u32string_view line) {
  if (!g_evaluator.systemCommandHandler) return WriteSessionLine(U"Incorrect command");
  g_evaluator.trappingSuppressed = true;
  try {
    g_evaluator.systemCommandHandler(line.substr(1));
  } catch (const AplError&) {
    ShowUntrappedError(line);
  }
  g_evaluator.trappingSuppressed = false;
}

void SetPendingLatentExpression(std::u32string text) { g_evaluator.pendingLatentExpression = std::move(text); }

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
  if (g_evaluator.pendingLatentExpression.empty()) return false;
  std::u32string expression = std::move(g_evaluator.pendingLatentExpression);
  g_evaluator.pendingLatentExpression.clear();
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
