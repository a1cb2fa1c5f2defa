// Error signalling: records an error, lets the evaluator's trap search look at it, and throws the
// AplError that unwinds to the error re-entry. Unwind requests (32768 and up) skip the record and the
// search. Also the check that a value assigned to ⎕TRAP must pass.
#include "language/trap.h"

#include <pthread.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "language/dmx.h"
#include "language/space.h"
#include "memory/memory1.h"
#include "sysfns/quadvar.h"

namespace vantor {

static TrapSearchFn g_trapSearch = nullptr;
static int g_searchDepth = 0;

using namespace argcheck;

static constexpr char kUnit[] = "trap";

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

void InitialiseErrors() { RegisterSystemVariableCheck(kQuadTRAP, CheckTrapValue); }

}  // namespace vantor
