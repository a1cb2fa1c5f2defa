// Error signalling: raising the AplError exception. The trap search, ⎕DMX recording and the error
// display build on this record.
#include "language/trap.h"

namespace vantor {

const char* AplError::what() const noexcept { return "APL error"; }

void SignalError(uint32_t errorNumber, uint32_t messageRow, int osErrorKind, int osErrorCode,
                 const char* sourceUnit, int sourceLine) {
  throw AplError(errorNumber, messageRow, osErrorKind, osErrorCode, sourceUnit, sourceLine);
}

}  // namespace vantor
