// The scalar-with-scalar fast path: a 16 by 16 table indexed by the element types of the two scalar
// arguments gives the routine for the pair (integers, reals, characters, characters against
// numbers); each computes any of the served functions with the same rules as the kernels.
#include "primitives/scalarscalar.h"

#include <array>
#include <cmath>
#include <utility>

#include "base/errors.h"
#include "memory/eltype.h"
#include "memory/memory1.h"
#include "primitives/arith.h"
#include "primitives/arith_su.h"
#include "sysfns/quadvar.h"

namespace vantor {

static constexpr char kUnit[] = "scalarscalar";

namespace {

using PairRoutine = Ref (*)(uint32_t code, const Ref& left, const Ref& right);

bool IsSimpleScalar(Ref r) {
  return IsRef(r) && (TypeWord(r) & (kKindMask | kRankMask)) == kKindSimple;
}

template <ElementType T>
auto Read(Ref r) {
  auto v = LoadElement<T>(DataOf<uint8_t>(r), 0);
  if constexpr (T == kBool) return static_cast<int64_t>(v);
  else return v;
}

Ref SharedBoolean(bool value) { return Retained(RootWordAt(value ? kRootScalarOne : kRootScalarZero)); }

// An argument pocket of type `type` that only the caller's register holds, to write the result in.
Ref Reusable(ElementType type, Ref left, Ref right) {
  for (Ref r : {left, right})
    if (IsRef(r) && ElementOf(TypeWord(r)) == type && RefCount(r) == 1 && !(TypeWord(r) & kMappedFlag)) return r;
  return 0;
}

Ref FloatResult(double x, Ref left, Ref right) {
  if (!std::isfinite(x)) SIGNAL(kDomainError);
  Ref r = Reusable(kFloat64, left, right);
  r = r ? Retained(r) : AllocScalar(kFloat64);
  *DataOf<double>(r) = x;
  return r;
}

// 0 when the value needs more than 32 bits under ⎕FR 1287 (the driver makes it a decimal).
Ref IntegerResult(int64_t x, Ref left, Ref right) {
  if (x < INT32_MIN || x > INT32_MAX)
    return CurrentFloatRepresentation() == 1287 ? 0 : FloatResult(static_cast<double>(x), left, right);
  if (x >= -128 && x <= 127) return MakeIntScalar(static_cast<int32_t>(x));
  ElementType type = x >= INT16_MIN && x <= INT16_MAX ? kInt16 : kInt32;
  Ref r = Reusable(type, left, right);
  if (!r) return MakeIntScalar(static_cast<int32_t>(x));
  if (type == kInt16) *DataOf<int16_t>(r) = static_cast<int16_t>(x);
  else *DataOf<int32_t>(r) = static_cast<int32_t>(x);
  return Retained(r);
}

Ref Comparison(uint32_t code, bool less, bool equal) {
  switch (code) {
    case kScalarLess: return SharedBoolean(less && !equal);
    case kScalarLessEqual: return SharedBoolean(less || equal);
    case kScalarEqual: return SharedBoolean(equal);
    case kScalarGreaterEqual: return SharedBoolean(!less || equal);
    case kScalarGreater: return SharedBoolean(!less && !equal);
    default: return SharedBoolean(!equal);  // ≠
  }
}

Ref IntegerPair(uint32_t code, int64_t a, int64_t b, const Ref& left, const Ref& right) {
  switch (code) {
    case kScalarPlus: return IntegerResult(a + b, left, right);
    case kScalarMinus: return IntegerResult(a - b, left, right);
    case kScalarTimes: return IntegerResult(a * b, left, right);
    case kScalarDivide:
      if (b == 0) return IntegerResult(static_cast<int64_t>(DivideByZero(a == 0, DivisionMethod())), left, right);
      if (a % b == 0) return IntegerResult(a / b, left, right);
      if (CurrentFloatRepresentation() == 1287) return 0;
      return FloatResult(static_cast<double>(a) / static_cast<double>(b), left, right);
    case kScalarResidue: return IntegerResult(IntegerResidue(a, b), left, right);
    case kScalarOr: return IntegerResult(IntegerGcd(a, b), left, right);
    case kScalarAnd: {
      int64_t g = IntegerGcd(a, b);
      return IntegerResult(g == 0 ? 0 : a / g * b, left, right);
    }
    default: return Comparison(code, a < b, a == b);
  }
}

Ref FloatPair(uint32_t code, double a, double b, const Ref& left, const Ref& right) {
  switch (code) {
    case kScalarPlus: return FloatResult(a + b, left, right);
    case kScalarMinus: return FloatResult(a - b, left, right);
    case kScalarTimes: return FloatResult(a * b, left, right);
    case kScalarDivide:
      return FloatResult(b == 0 ? DivideByZero(a == 0, DivisionMethod()) : a / b, left, right);
    case kScalarResidue: return FloatResult(FloatResidue(a, b, ComparisonTolerance()), left, right);
    case kScalarOr: return FloatResult(FloatGcd(a, b, ComparisonTolerance()), left, right);
    case kScalarAnd: return FloatResult(FloatLcm(a, b, ComparisonTolerance()), left, right);
    default: {
      double t = ComparisonTolerance();
      bool equal = TolerantEqual(a, b, t);
      return Comparison(code, a < b, equal);
    }
  }
}

template <ElementType L, ElementType R>
Ref Integers(uint32_t code, const Ref& left, const Ref& right) {
  return IntegerPair(code, Read<L>(left), Read<R>(right), left, right);
}

// Reals are served under ⎕FR 645 only; under 1287 they compute in decimal.
template <ElementType L, ElementType R>
Ref Reals(uint32_t code, const Ref& left, const Ref& right) {
  if (CurrentFloatRepresentation() == 1287) return 0;
  return FloatPair(code, static_cast<double>(Read<L>(left)), static_cast<double>(Read<R>(right)), left, right);
}

template <ElementType T>
char32_t CodePoint(Ref r) {
  if constexpr (T == kCharAv) return AvCharacter(Read<T>(r));
  else return static_cast<char32_t>(Read<T>(r));
}

template <ElementType L, ElementType R>
Ref Characters(uint32_t code, const Ref& left, const Ref& right) {
  if (code != kScalarEqual && code != kScalarNotEqual) SIGNAL(kDomainError);
  bool equal = CodePoint<L>(left) == CodePoint<R>(right);
  return SharedBoolean(equal == (code == kScalarEqual));
}

// A character against a number: never equal, and no arithmetic.
Ref CharacterAndNumber(uint32_t code, const Ref&, const Ref&) {
  if (code != kScalarEqual && code != kScalarNotEqual) SIGNAL(kDomainError);
  return SharedBoolean(code == kScalarNotEqual);
}

// Numbers that meet a character: never equal to it (the 64-bit and internal types never reach here).
constexpr bool IsNumberClass(ElementType t) { return IsRealType(t) || t == kComplex || t == kDecimal128; }

// [left element type][right element type]; nullptr: the driver.
constexpr auto kPairs = PerTypePairTable([](auto l, auto r) -> PairRoutine {
  if constexpr (IsSmallIntegerType(l) && IsSmallIntegerType(r)) return Integers<l, r>;
  else if constexpr (IsRealType(l) && IsRealType(r)) return Reals<l, r>;
  else if constexpr (IsCharacterType(l) && IsCharacterType(r)) return Characters<l, r>;
  else if constexpr ((IsCharacterType(l) && IsNumberClass(r)) || (IsNumberClass(l) && IsCharacterType(r)))
    return CharacterAndNumber;
  else return nullptr;
});

}  // namespace

Ref ScalarWithScalar(uint32_t code, const Ref& left, const Ref& right) {
  if (!IsSimpleScalar(left) || !IsSimpleScalar(right)) return 0;
  ElementType l = ElementOf(TypeWord(left)), r = ElementOf(TypeWord(right));
  if (l >= kElementTypeCount || r >= kElementTypeCount) return 0;
  PairRoutine routine = kPairs[l][r];
  return routine ? routine(code, left, right) : 0;
}

Ref ScalarFloorCeiling(uint32_t code, const Ref& right) {
  if (!IsSimpleScalar(right)) return 0;
  ElementType type = ElementOf(TypeWord(right));
  if (IsSmallIntegerType(type)) return Retained(right);
  if (type != kFloat64 || CurrentFloatRepresentation() == 1287) return 0;
  double x = *DataOf<double>(right), t = ComparisonTolerance();
  double r = code == kScalarFloor ? TolerantFloor(x, t) : TolerantCeiling(x, t);
  if (std::fabs(r) <= 2147483647.0) return IntegerResult(static_cast<int64_t>(r), 0, right);
  return FloatResult(r, 0, right);
}

}  // namespace vantor
