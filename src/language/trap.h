// Error signalling: the one exception type that carries an APL error from the place that raises it
// to the evaluator's error re-entry (or, before the evaluator runs, to whoever guards the call).
// Everything that raises an APL error calls SignalError; nothing but the outer loop and the trap
// machinery catches AplError.
#pragma once
#include <cstdint>
#include <exception>

namespace vantor {

// Error numbers used across the interpreter (⎕EN values).
enum ErrorNumber : uint32_t {
  kWsFull = 1,
  kSyntaxError = 2,
  kIndexError = 3,
  kRankError = 4,
  kLengthError = 5,
  kValueError = 6,
  kLimitError = 10,
  kDomainError = 11,
  kNonceError = 16,
  kInterrupt = 1003,
};

// The record of one signalled error: the error number, the row of the extended message table
// (0 = none), the operating-system error pair when the failure came from the system, and the source
// unit and line that raised it (shown as ⎕DMX.InternalLocation).
struct AplError : std::exception {
  uint32_t errorNumber;
  uint32_t messageRow;
  int osErrorKind;
  int osErrorCode;
  const char* sourceUnit;
  int sourceLine;

  AplError(uint32_t en, uint32_t row, int osKind, int osCode, const char* unit, int line)
      : errorNumber(en), messageRow(row), osErrorKind(osKind), osErrorCode(osCode),
        sourceUnit(unit), sourceLine(line) {}
  const char* what() const noexcept override;
};

// Raises an APL error. Never returns.
[[noreturn]] void SignalError(uint32_t errorNumber, uint32_t messageRow, int osErrorKind,
                              int osErrorCode, const char* sourceUnit, int sourceLine);

// Raises an error with no extended message and no operating-system error, naming this unit and line.
// Each source file defines `static constexpr char kUnit[]` with its unit name.
#define SIGNAL(en) ::vantor::SignalError((en), 0, 0, 0, kUnit, __LINE__)
#define SIGNAL_ROW(en, row) ::vantor::SignalError((en), (row), 0, 0, kUnit, __LINE__)

}  // namespace vantor
