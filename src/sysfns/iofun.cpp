// The I-beam table: system services reached as N⌶ by their number N. The operator's handler reads the
// number from its array operand and hands the arguments to the service of that number; each service
// checks its own arguments.
#include "sysfns/iofun.h"

#include <algorithm>
#include <vector>

#include "files/zip.h"
#include "language/dmx.h"
#include "primitives/parallel.h"
#include "primitives/dispatch.h"
#include "language/scan.h"
#include "base/errors.h"
#include "primitives/key.h"
#include "primitives/op.h"
#include "primitives/rand.h"
#include "sysfns/json.h"

namespace vantor {

static constexpr char kUnit[] = "iofun";

namespace {


// The single integer that `value` (a plain array) holds; `fail` is raised for anything else.
template <class Fail>
int64_t SingleInteger(Ref value, Fail fail) {
  std::vector<int64_t> n;
  if (!IsRef(value) || !IsArrayKind(KindOf(TypeWord(value))) || !ReadIntegers(value, n) || n.size() != 1) fail();
  return n[0];
}

// 1500⌶: 0 wraps the argument as a hashed array (a hashed one is returned as it is), 1 says 0 for a
// value that is not a hashed array, 1 for one without its table and 2 once its table is built, 2 gives
// the plain array. Monadic, it wraps as 0 does.
CallResult HashedArrayService(const Ref& left, const Ref& right) {
  auto invalidLeft = [] { SIGNAL_MESSAGE_IN(kDomainError, kCategoryGeneral, U"Invalid left argument"); };
  const int64_t selector = left ? SingleInteger(PlainArray(left), invalidLeft) : 0;
  switch (selector) {
    case 0: return {HashedArrayOf(right)};
    case 1: return {MakeIntScalar(static_cast<int32_t>(HashedState(right)))};
    case 2: {
      Ref plain = PlainArray(right);
      Retain(plain);
      return {plain};
    }
    default: invalidLeft();
  }
  return {};
}

struct IBeamRow {
  int64_t number;
  FunctionHandler service;
};
// Sorted by number.
constexpr IBeamRow kIBeams[] = {
    {219, CompressionPairService},
    {1111, ParallelThreadsService},
    {1112, ParallelThresholdService},
    {1500, HashedArrayService},
    {2194, CompressionVectorService},
    {7159, JsonImport},
    {7160, JsonExport},
    {16807, SelectRandomGenerator},
};

CallResult ApplyIBeam(const Ref& derived, const Ref& left, const Ref& right) {
  if (AxisArgument()) SIGNAL_MESSAGE(kSyntaxError, U"Invalid axis");
  const Ref operand = Words(derived)[kDerivedLeftOperand];
  if (!IsArrayOperand(operand)) SIGNAL(kSyntaxError);
  const int64_t number = SingleInteger(PlainArray(operand), [] { SIGNAL(kDomainError); });
  const IBeamRow* row = std::lower_bound(std::begin(kIBeams), std::end(kIBeams), number,
                                         [](const IBeamRow& r, int64_t n) { return r.number < n; });
  if (row == std::end(kIBeams) || row->number != number) SIGNAL(kDomainError);
  return row->service(left, right);
}

constexpr OperatorRow kIBeamOperatorRows[] = {{kPrimIBeam, ApplyIBeam, true}};

}  // namespace

void InitialiseIBeams() { InstallOperators(kIBeamOperatorRows); }

}  // namespace vantor
