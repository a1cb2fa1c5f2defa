// Error signalling: SignalError records an error in the running thread's ⎕EN and ⎕DMX, asks the trap
// search (installed by the evaluator) whether a ⎕TRAP or :Trap takes it, and throws the one exception
// type, AplError, that carries it to the evaluator's error re-entry (or, before the evaluator runs, to
// whoever guards the call). Nothing but the outer loop and the trap machinery catches AplError. The
// recorder and the search are installed by the units above, so that every floor can signal errors.
#pragma once
#include <concepts>
#include <cstdint>
#include <exception>
#include <initializer_list>
#include <string>
#include <string_view>

#include "base/messages.h"

namespace vantor {

// Error numbers used across the interpreter (⎕EN values).
enum ErrorNumber : uint32_t {
  kWsFull = 1,
  kSyntaxError = 2,
  kIndexError = 3,
  kRankError = 4,
  kLengthError = 5,
  kValueError = 6,
  kFormatError = 7,
  kLimitError = 10,
  kDomainError = 11,
  kHoldError = 12,
  kOptionError = 13,
  kNonceError = 16,
  kAccessError = 17,
  kFileTieError = 18,
  kFileAccessError = 19,
  kFileIndexError = 20,
  kFileFull = 21,
  kFileNameError = 22,
  kFileDamaged = 23,
  kFileTied = 24,
  kFileTiedRemotely = 25,  // recorded as kFileTied
  kFileSystemError = 26,
  kFileSystemNotAvailable = 28,
  kFileSystemTiesUsedUp = 30,
  kFileTieQuotaUsedUp = 31,
  kFileNameQuotaUsedUp = 32,
  kFileSystemNoSpace = 34,
  kFileAccessErrorConverting = 35,  // recorded as kFileAccessError
  kIncompatibleArray = 36,
  kFileComponentDamaged = 38,
  kTrapError = 84,
  kFutureError = 86,
  kException = 90,
  kExternalDllException = 91,
  kTranslationError = 92,
  kUnacceptableCharacter = 93,
  kAffirmError = 98,
  kInternalError = 99,
  kFirstFileErrnoError = 101,  // 101..199: FILE ERROR for errno 1..99
  kStop = 1001,
  kWeakInterrupt = 1002,
  kInterrupt = 1003,
  kInputInterrupt = 1004,
  kEofInterrupt = 1005,
  kTimeout = 1006,
  kResize = 1007,
  kDeadlock = 1008,
  // From here on the numbers are requests to unwind, never recorded or trapped.
  kFirstUnwindRequest = 32768,
  kResetAndEnd = 32769,        // reset the interpreter and end the run with the exit code
  kAbandonInput = 32770,       // finish pending input, exit code 2, then as kResetAndEnd
  kEndRun = 32771,             // unwind and end the run
  kSilentUnwind = 32772,       // unwind without a display
  kClearStateIndicator = 32773,
  kDebugCutStack = 32774,
  kDebugReset = 32775,
  kRemoteSilentUnwind = 32777,  // silent in the session's remote-control mode
};

// The kinds of operating-system error a record can carry (⎕DMX.OSError[1]). Any kind other than 0
// and 1 means an errno value of the run-time library.
enum OsErrorKind : int {
  kOsErrorNone = 0,
  kOsErrorSystem = 1,  // the system's own last-error code
  kOsErrorErrno = 2,
};

// One argument for the placeholders of a message: an integer for %d, %i, %u, %lu and %x, a text for
// %ls. Texts are views: the caller keeps them alive until the record is filled.
struct MessageArg {
  enum class Kind : uint8_t { Integer, Text };
  Kind kind;
  int64_t number = 0;
  std::u32string_view text;

  template <std::integral T>
  MessageArg(T value) : kind(Kind::Integer), number(static_cast<int64_t>(value)) {}
  MessageArg(std::u32string_view value) : kind(Kind::Text), text(value) {}
  MessageArg(const char32_t* value) : kind(Kind::Text), text(value) {}
  MessageArg(const std::u32string& value) : kind(Kind::Text), text(value) {}
};

// A signalled error on its way to the evaluator: the number as signalled, the extended message row
// (0 = none), the operating-system error pair, and the source unit and line that raised it. The
// running thread's ⎕EN and ⎕DMX already hold it (except for unwind requests).
struct AplError : std::exception {
  uint32_t errorNumber;
  uint32_t messageRow;
  int osErrorKind;
  int osErrorCode;
  const char* sourceUnit;
  int sourceLine;
  bool trapped = false;          // the trap search found a specification that takes the error
  bool raisedBySignal = false;   // ⎕SIGNAL: report it in the caller of the function that ran ⎕SIGNAL

  AplError(uint32_t en, uint32_t row, int osKind, int osCode, const char* unit, int line)
      : errorNumber(en), messageRow(row), osErrorKind(osKind), osErrorCode(osCode),
        sourceUnit(unit), sourceLine(line) {}
  const char* what() const noexcept override;
};

// Records a signalled error in the running thread's ⎕EN and ⎕DMX; installed by the unit that keeps
// those records. Until one is installed (early start-up) errors go unrecorded.
using ErrorRecorderFn = void (*)(uint32_t errorNumber, uint32_t messageRow, int osErrorKind, int osErrorCode,
                                 const char* sourceUnit, int sourceLine, std::initializer_list<MessageArg> args);
void SetErrorRecorder(ErrorRecorderFn recorder);

// Raises an APL error: records it, runs the trap search, throws AplError. Never returns.
// `args` fill the placeholders of the row's message.
[[noreturn]] void SignalError(uint32_t errorNumber, uint32_t messageRow, int osErrorKind, int osErrorCode,
                              const char* sourceUnit, int sourceLine, std::initializer_list<MessageArg> args = {});

// Raises an error whose record is already filled: runs the trap search and throws. ⎕SIGNAL uses this
// after adjusting the record.
[[noreturn]] void RaiseRecordedError(AplError error);

// The trap search. Called by SignalError for every error below 32768 after the error is recorded in
// ⎕EN and ⎕DMX, with the C++ stack still at the point of the error. It decides whether a ⎕TRAP
// specification or a :Trap takes the error and, when one does, records for the evaluator what to do
// (the action, the frame to cut back to, the expression to run) and returns true; it returns false
// for an untrapped error, and when no code is running or trapping is suppressed. It must not let an
// error escape, and it leaves the state indicator alone: the evaluator's catch of AplError carries
// out the action after the C++ stack has unwound. When `raisedBySignal` is set the search starts in
// the caller of the function that executed ⎕SIGNAL.
using TrapSearchFn = bool (*)(const AplError&);
void SetTrapSearch(TrapSearchFn search);
// True while the trap search runs. An error raised inside it is thrown at once, without being
// recorded or searched, and the search is expected to catch it.
bool TrapSearchRunning();

// True when this thread's C++ stack is nearly used up. Native recursions (derived functions applied
// inside each other, display of deep function trees) test it at each level and stop with an APL
// error instead of overflowing the stack.
bool NativeStackLow();

// Raises an error with no extended message and no operating-system error, naming this unit and line.
// Each source file defines `static constexpr char kUnit[]` with its unit name.
#define SIGNAL(en) ::vantor::SignalError((en), 0, 0, 0, kUnit, __LINE__)
#define SIGNAL_ROW(en, row) ::vantor::SignalError((en), (row), 0, 0, kUnit, __LINE__)
// Raises an error with the extended message whose text is `text` (found while compiling), filling its
// placeholders from the further arguments: SIGNAL_MESSAGE(kDomainError, U"Divide by zero").
#define SIGNAL_MESSAGE(en, text, ...) \
  ::vantor::SignalError((en), ::vantor::MessageRow(text), 0, 0, kUnit, __LINE__ __VA_OPT__(, {__VA_ARGS__}))
// The same for a text that several categories share: the category says which one is meant.
#define SIGNAL_MESSAGE_IN(en, category, text, ...)                                            \
  ::vantor::SignalError((en), ::vantor::MessageRow((category), (text)), 0, 0, kUnit, __LINE__ \
                        __VA_OPT__(, {__VA_ARGS__}))

}  // namespace vantor
