// Error signalling: records an error, lets the evaluator's trap search look at it, and throws the
// AplError that unwinds to the error re-entry. Unwind requests (32768 and up) skip the record and the
// search.
#include "language/trap.h"

#include "language/dmx.h"

namespace vantor {

static TrapSearchFn g_trapSearch = nullptr;
static int g_searchDepth = 0;

const char* AplError::what() const noexcept { return "APL error"; }

void SetTrapSearch(TrapSearchFn search) { g_trapSearch = search; }

bool TrapSearchRunning() { return g_searchDepth > 0; }

// An error that the search itself raises (and catches) is its own business: it is neither searched
// nor recorded, so the error being searched for keeps its record.
void RaiseRecordedError(AplError error) {
  if (error.errorNumber < kFirstUnwindRequest && g_trapSearch && !TrapSearchRunning()) {
    struct SearchScope {
      SearchScope() { ++g_searchDepth; }
      ~SearchScope() { --g_searchDepth; }
    } scope;
    error.trapped = g_trapSearch(error);
  }
  throw error;
}

void SignalError(uint32_t errorNumber, uint32_t messageRow, int osErrorKind, int osErrorCode, const char* sourceUnit,
                 int sourceLine, std::initializer_list<MessageArg> args) {
  RecordDmx(errorNumber, messageRow, osErrorKind, osErrorCode, sourceUnit, sourceLine, args);
  RaiseRecordedError(AplError(errorNumber, messageRow, osErrorKind, osErrorCode, sourceUnit, sourceLine));
}

}  // namespace vantor
