// Error signalling: records an error through the installed recorder, lets the installed trap search
// look at it, and throws the AplError that unwinds to the error re-entry. Unwind requests (32768 and
// up) skip the record and the search. Also the guard that stops native recursion before the C++
// stack runs out.
#include "base/errors.h"

#include <pthread.h>

#include <algorithm>

namespace vantor {

static ErrorRecorderFn g_recorder = nullptr;
static TrapSearchFn g_trapSearch = nullptr;
static int g_searchDepth = 0;

const char* AplError::what() const noexcept { return "APL error"; }

void SetErrorRecorder(ErrorRecorderFn recorder) { g_recorder = recorder; }

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
  if (g_recorder) g_recorder(errorNumber, messageRow, osErrorKind, osErrorCode, sourceUnit, sourceLine, args);
  RaiseRecordedError(AplError(errorNumber, messageRow, osErrorKind, osErrorCode, sourceUnit, sourceLine));
}

// What must stay free below a recursion's last level: room for signalling the error, the trap search
// and the error display, with room to spare for the larger frames of sanitizer builds.
inline constexpr uintptr_t kNativeStackReserve = 512 * 1024;

// The lowest frame address this thread may reach before native recursion stops.
static uintptr_t NativeStackFloor() {
  thread_local const uintptr_t floor = [] {
    pthread_attr_t attributes;
    if (pthread_getattr_np(pthread_self(), &attributes) != 0) return uintptr_t{0};
    void* low = nullptr;
    size_t size = 0;
    pthread_attr_getstack(&attributes, &low, &size);
    pthread_attr_destroy(&attributes);
    return reinterpret_cast<uintptr_t>(low) + std::min<uintptr_t>(kNativeStackReserve, size / 2);
  }();
  return floor;
}

// The frame address, not a local's: with a sanitizer's fake stacks, locals live elsewhere.
bool NativeStackLow() { return reinterpret_cast<uintptr_t>(__builtin_frame_address(0)) < NativeStackFloor(); }

}  // namespace vantor
