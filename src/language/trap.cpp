// The check that a value assigned to ⎕TRAP must pass.
#include "language/trap.h"

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "language/dmx.h"
#include "language/space.h"
#include "memory/memory1.h"
#include "sysfns/quadvar.h"

namespace vantor {

using namespace argcheck;

static constexpr char kUnit[] = "trap";

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

void InitialiseErrors() {
  SetErrorRecorder(RecordDmx);
  RegisterSystemVariableCheck(kQuadTRAP, CheckTrapValue);
}

}  // namespace vantor
