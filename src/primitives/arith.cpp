// The scalar function engine: the kernel tables of the four kernel sets and their start-up
// completion, argument conversion into a kernel's input type, the dyadic and monadic drivers
// (conformability, axis, single-element extension, restart, floating-point post-checks), pervasion
// into nested arrays on a chain of frames in the workspace, the pre-dispatch special cases, and the
// dispatch-table entries of the scalar primitives.
#include "primitives/arith.h"

#include <algorithm>
#include <array>
#include <cfenv>
#include <limits>
#include <memory>
#include <utility>
#if defined(__SSE2__)
#include <xmmintrin.h>
#endif

#include "base/errors.h"
#include "memory/memory1.h"
#include "memory/memory3.h"
#include "primitives/arith_su.h"
#include "primitives/parallel.h"
#include "primitives/scalarscalar.h"
#include "sysfns/quadvar.h"

namespace vantor {

static constexpr char kUnit[] = "arith";

namespace {

// ---- Element types as the engine sees them -----------------------------------------------------------

constexpr bool IsConvertible(ElementType t) { return t != kRefElement && t != kInternal8 && t != kInt64; }

// ---- Argument conversion -------------------------------------------------------------------------------
// Widening is exact. Narrowing checks each value with fixed bands that do not depend on ⎕CT.

constexpr double kConversionBand = 1E-14;

bool BooleanFromDouble(double x) {
  if (std::fabs(x) <= kConversionBand) return false;
  if (x > 0.99999999999999 && x < 1.00000000000001) return true;
  SIGNAL(kDomainError);
}

template <class T>
T IntegerFromDouble(double x) {
  double r = NearestInteger(x);
  double slack = kConversionBand * std::max(std::fabs(x), 1.0);
  if (!(std::fabs(x - r) <= slack) || r < std::numeric_limits<T>::min() || r > std::numeric_limits<T>::max())
    SIGNAL(kDomainError);
  return static_cast<T>(r);
}

double RealFromComplex(Complex z) {
  double im = std::fabs(z.imag());
  if (!(im <= kConversionBand || im <= kConversionBand * std::fabs(z.real()))) SIGNAL(kDomainError);
  return z.real();
}

template <ElementType S, ElementType T>
ElementCType<T> Convert(ElementCType<S> v) {
  using To = ElementCType<T>;
  if constexpr (S == T) {
    return v;
  } else if constexpr (IsCharacterType(S) || IsCharacterType(T)) {
    if constexpr (!IsCharacterType(S) || !IsCharacterType(T)) SIGNAL(kDomainError);
    else return static_cast<To>(S == kCharAv ? AvCharacter(v) : static_cast<char32_t>(v));
  } else if constexpr (S == kBool) {
    return Convert<kInt8, T>(static_cast<int8_t>(v));
  } else if constexpr (S == kComplex) {
    return Convert<kFloat64, T>(RealFromComplex(v));
  } else if constexpr (S == kDecimal128) {
    if constexpr (T == kFloat64) return DoubleFromDecimal(v);
    else if constexpr (T == kComplex) return Complex(DoubleFromDecimal(v));
    else if constexpr (T == kBool) return BooleanFromDecimal(v);
    else return static_cast<To>(IntegerFromDecimal(v, std::numeric_limits<To>::min(), std::numeric_limits<To>::max()));
  } else if constexpr (S == kFloat64) {
    if constexpr (T == kBool) return BooleanFromDouble(v);
    else if constexpr (T == kComplex) return Complex(v);
    else if constexpr (T == kDecimal128) return DecimalFromDouble(v);
    else return IntegerFromDouble<To>(v);
  } else {  // 8, 16 and 32-bit integers
    if constexpr (T == kFloat64) return static_cast<double>(v);
    else if constexpr (T == kComplex) return Complex(static_cast<double>(v));
    else if constexpr (T == kDecimal128) return DecimalFromInt(v);
    else if constexpr (T == kBool) {
      if (v != 0 && v != 1) SIGNAL(kDomainError);
      return v != 0;
    } else {
      if (v < std::numeric_limits<To>::min() || v > std::numeric_limits<To>::max()) SIGNAL(kDomainError);
      return static_cast<To>(v);
    }
  }
}

// Steppers: convert the next element into the descriptor's buffer, or store the buffer as the next
// result element.
void StepNothing(ArgumentDescriptor&) {}
[[noreturn]] void StepNonce(ArgumentDescriptor&) { SIGNAL(kNonceError); }

template <ElementType S, ElementType T>
void StepElement(ArgumentDescriptor& d) {
  d.As<ElementCType<T>>() = Convert<S, T>(LoadElement<S>(d.data, d.index++));
}

template <ElementType T>
void StoreResultElement(ArgumentDescriptor& d) {
  StoreElement<T>(d.data, d.index++, d.As<ElementCType<T>>());
}

// Whole-array conversion for the vector kernels (Booleans packed).
using ConvertRunFn = void (*)(const uint8_t* source, uint64_t count, uint8_t* target);
[[noreturn]] void ConvertNonce(const uint8_t*, uint64_t, uint8_t*) { SIGNAL(kNonceError); }

template <ElementType S, ElementType T>
void ConvertRun(const uint8_t* source, uint64_t count, uint8_t* target) {
  if constexpr (T == kBool) {
    std::memset(target, 0, (count + 7) / 8);
    for (uint64_t i = 0; i < count; ++i)
      if (Convert<S, T>(LoadElement<S>(source, i))) SetBit(target, i, true);
  } else {
    auto* out = reinterpret_cast<ElementCType<T>*>(target);
    for (uint64_t i = 0; i < count; ++i) out[i] = Convert<S, T>(LoadElement<S>(source, i));
  }
}

// [source type][target type] and [result type].
constexpr auto kSteppers = PerTypePairTable([](auto s, auto t) -> Stepper {
  if constexpr (IsConvertible(s) && IsConvertible(t)) return StepElement<s, t>;
  else return StepNonce;
});
constexpr auto kConverters = PerTypePairTable([](auto s, auto t) -> ConvertRunFn {
  if constexpr (IsConvertible(s) && IsConvertible(t)) return ConvertRun<s, t>;
  else return ConvertNonce;
});
constexpr auto kStorers = PerTypeTable([](auto t) -> Stepper {
  if constexpr (IsConvertible(t)) return StoreResultElement<t>;
  else return StepNonce;
});

// ---- Kernel records ----------------------------------------------------------------------------------

struct KernelOptions {
  bool first = false;  // the group's first kernel
  PostCheck check = PostCheck::kNone;
  uint8_t mapping = kMapped;
  bool tolerant = false;
  bool restart = false;
  uint8_t reduction = 0;
};

constexpr ScalarKernel MakeKernel(StreamKernel stream, VectorKernel vector, ElementType input, ElementType result,
                                  KernelOptions o, bool neverSignals = false) {
  // Binary64 and complex elements are costly enough to share out; integers, Booleans and characters
  // are not.
  bool slices = neverSignals && (input == kFloat64 || input == kComplex);
  return {stream, vector, o.check, input, result, o.reduction, o.mapping, o.tolerant, o.restart,
          static_cast<uint8_t>(o.first ? 0 : 1), slices};
}
template <class Op>
constexpr ScalarKernel Dyadic(KernelOptions o = {}) {
  return MakeKernel(DyadicStream<Op>, DyadicVector<Op>, kElementTypeOf<typename Op::In>, kElementTypeOf<typename Op::Out>, o,
                    NeverSignals<Op>);
}
template <class Op>
constexpr ScalarKernel Monadic(KernelOptions o = {}) {
  return MakeKernel(MonadicStream<Op>, MonadicVector<Op>, kElementTypeOf<typename Op::In>, kElementTypeOf<typename Op::Out>, o,
                    NeverSignals<Op>);
}
template <class Words>
constexpr ScalarKernel Boolean(KernelOptions o = {}) {
  return MakeKernel(DyadicStream<BooleanOp<Words>>, BooleanWordVector<Words>, kBool, kBool, o);
}
template <bool kValue>
constexpr ScalarKernel Constant(KernelOptions o = {}) {
  return MakeKernel(ConstantStream<kValue>, ConstantVector<kValue>, kRefElement, kBool, o);
}

constexpr KernelOptions kFirst{.first = true};
constexpr KernelOptions kRestart{.restart = true};
constexpr KernelOptions kTolerant{.tolerant = true};
constexpr KernelOptions kDomainOnException{.check = PostCheck::kExceptionDomain};
constexpr KernelOptions kDomainOnNonFinite{.check = PostCheck::kNonFiniteDomain};
constexpr KernelOptions kFirstRestart{.first = true, .restart = true};

// The groups shared by both sets: Booleans, integers, characters and complex numbers.
#define VANTOR_COMPARISON_GROUP(Op, Words, Real)                                                      \
  Boolean<Words>(kFirst), Dyadic<Op<int8_t>>(), Dyadic<Op<int16_t>>(), Dyadic<Op<int32_t>>(), \
      Dyadic<Real>(kTolerant)
#define VANTOR_EQUALITY_GROUP(Op, Words, Real, Value)                                                  \
  Dyadic<Op<uint8_t>>(kFirst), Dyadic<Op<char16_t>>(), Dyadic<Op<char32_t>>(), Constant<Value>(),     \
      Boolean<Words>(), Dyadic<Op<int8_t>>(), Dyadic<Op<int16_t>>(), Dyadic<Op<int32_t>>(),             \
      Dyadic<Real>(kTolerant), Dyadic<Op<Complex>>(kTolerant)

// ---- The binary64 kernel set (⎕FR 645) -------------------------------------------------------------

ScalarKernel g_dyadicKernels645[] = {
    Constant<false>(kFirst),  // 0: empty pervasion
    // + -
    Dyadic<Plus<int8_t, int16_t>>(kFirst), Dyadic<Plus<int16_t, int32_t>>(),
    Dyadic<PlusInt32>({.restart = true, .reduction = 1}), Dyadic<Plus<int32_t, double>>(),
    Dyadic<Plus<double>>(kDomainOnException), Dyadic<Plus<Complex>>(kDomainOnNonFinite),
    Dyadic<Minus<int8_t, int16_t>>(kFirst), Dyadic<Minus<int16_t, int32_t>>(),
    Dyadic<MinusInt32>({.restart = true, .reduction = 1}), Dyadic<Minus<int32_t, double>>(),
    Dyadic<Minus<double>>(kDomainOnException), Dyadic<Minus<Complex>>(kDomainOnNonFinite),
    // ×
    Boolean<AndWords>(kFirst), Dyadic<Times<int8_t, int16_t>>(), Dyadic<Times<int16_t, int32_t>>(),
    Dyadic<TimesInt32>(kRestart), Dyadic<Times<int32_t, double>>({.mapping = kMapPreferred}),
    Dyadic<Times<double>>(kDomainOnException), Dyadic<Times<Complex>>(kDomainOnNonFinite),
    // ÷
    Dyadic<DivideInt32>(kFirstRestart),
    Dyadic<DivideFloat>({.check = PostCheck::kExceptionRestart, .mapping = kMapPreferred, .restart = true}),
    Dyadic<DivideFloatChecked>({.check = PostCheck::kNonFiniteDomain, .mapping = kMapPreferred}),
    Dyadic<DivideComplex>(kDomainOnNonFinite),
    // ⌈ ⌊
    Boolean<OrWords>(kFirst), Dyadic<Maximum<int8_t>>(), Dyadic<Maximum<int16_t>>(), Dyadic<Maximum<int32_t>>(),
    Dyadic<Maximum<double>>(),
    Boolean<AndWords>(kFirst), Dyadic<Minimum<int8_t>>(), Dyadic<Minimum<int16_t>>(), Dyadic<Minimum<int32_t>>(),
    Dyadic<Minimum<double>>(),
    // * (the first kernel only by the pre-dispatch choice)
    Dyadic<PowerIntegerExponent>(kFirstRestart), Dyadic<PowerFloat>({.mapping = kMapEnds, .restart = true}),
    Dyadic<PowerComplex>(kDomainOnNonFinite),
    // ⍟
    Dyadic<LogBaseFloat>({.first = true, .check = PostCheck::kExceptionRestart, .restart = true}),
    Dyadic<LogBaseComplex>(kDomainOnNonFinite),
    // |
    Boolean<LessWords>(kFirst), Dyadic<ResidueInteger<int8_t>>(), Dyadic<ResidueInteger<int16_t>>(),
    Dyadic<ResidueInteger<int32_t>>(), Dyadic<ResidueFloat>(kTolerant), Dyadic<ResidueComplex>(kTolerant),
    // !
    Dyadic<BinomialFloat>({.first = true, .check = PostCheck::kExceptionDomain}), Dyadic<BinomialComplex>(),
    // ○
    Dyadic<CircleFloat>({.first = true, .check = PostCheck::kNonFiniteDomain, .restart = true}),
    Dyadic<CircleComplex>(),
    // ∨ ∧
    Boolean<OrWords>(kFirst), Dyadic<GcdInt32>(kRestart), Dyadic<GcdFloat>(kTolerant), Dyadic<GcdComplex>(kTolerant),
    Boolean<AndWords>(kFirst), Dyadic<LcmInt32>(kRestart), Dyadic<LcmInt32ToFloat>(), Dyadic<LcmFloat>(kTolerant),
    Dyadic<LcmComplex>(kTolerant),
    // ⍱ ⍲
    Boolean<NorWords>(kFirst), Boolean<NandWords>(kFirst),
    // < ≤ = ≥ > ≠
    VANTOR_COMPARISON_GROUP(Less, LessWords, Less<double>),
    VANTOR_COMPARISON_GROUP(LessEqual, LessEqualWords, LessEqual<double>),
    VANTOR_EQUALITY_GROUP(Equal, EqualWords, Equal<double>, false),
    VANTOR_COMPARISON_GROUP(GreaterEqual, GreaterEqualWords, GreaterEqual<double>),
    VANTOR_COMPARISON_GROUP(Greater, GreaterWords, Greater<double>),
    VANTOR_EQUALITY_GROUP(NotEqual, NotEqualWords, NotEqual<double>, true),
};

// The monadic groups shared by both sets for integers and complex numbers.
#define VANTOR_INTEGER_MONADIC_GROUP(Op) \
  Monadic<Op<int8_t>>({.first = true, .restart = true}), Monadic<Op<int16_t>>(kRestart), Monadic<Op<int32_t>>(kRestart)

ScalarKernel g_monadicKernels645[] = {
    Constant<false>(kFirst),  // 0: empty pervasion
    Monadic<Conjugate>(kFirst),  // + (other types: pre-dispatch)
    VANTOR_INTEGER_MONADIC_GROUP(NegateInteger), Monadic<Negate<double>>(), Monadic<Negate<Complex>>(),
    Monadic<Direction<int32_t>>(kFirst), Monadic<Direction<double>>(), Monadic<DirectionComplex>(),
    Monadic<ReciprocalFloat>({.first = true, .check = PostCheck::kNonFiniteDomain}),
    Monadic<ReciprocalComplex>(kDomainOnNonFinite),
    Monadic<CeilingToInt32>({.first = true, .tolerant = true, .restart = true}),
    Monadic<CeilingFloat>(kTolerant), Monadic<CeilingComplex>(kTolerant),
    Monadic<FloorToInt32>({.first = true, .tolerant = true, .restart = true}), Monadic<FloorFloat>(kTolerant),
    Monadic<FloorComplex>(kTolerant),
    Monadic<ExpFloat>({.first = true, .check = PostCheck::kNonFiniteDomain}), Monadic<ExpComplex>(kDomainOnNonFinite),
    Monadic<LogFloat>({.first = true, .check = PostCheck::kExceptionRestart, .restart = true}),
    Monadic<LogComplex>(kDomainOnNonFinite),
    VANTOR_INTEGER_MONADIC_GROUP(MagnitudeInteger), Monadic<MagnitudeFloat>(), Monadic<MagnitudeComplex>(),
    Monadic<FactorialFloat>({.first = true, .check = PostCheck::kExceptionDomain}), Monadic<FactorialComplex>(),
    Monadic<PiTimesFloat>({.first = true, .check = PostCheck::kNonFiniteDomain}),
    Monadic<PiTimesComplex>(kDomainOnNonFinite),
    Monadic<ExpPiTimesComplex>({.first = true, .check = PostCheck::kNonFiniteDomain}),  // hidden 13
    MakeKernel(MonadicStream<NotBoolean>, NotWordVector, kBool, kBool, kFirst),      // ~
    Monadic<RoundToInt32>({.first = true, .tolerant = true, .restart = true}),        // hidden 15
    Monadic<RoundFloat>(kTolerant), Monadic<RoundComplex>(kTolerant),
};

// ---- The decimal kernel set (⎕FR 1287) -----------------------------------------------------------------

ScalarKernel g_dyadicKernels1287[] = {
    Constant<false>(kFirst),
    // + -: the int32 kernels restart into the decimal one
    Dyadic<Plus<int8_t, int16_t>>(kFirst), Dyadic<Plus<int16_t, int32_t>>(),
    Dyadic<PlusInt32>({.restart = true, .reduction = 1}), Dyadic<DecimalAddOp>(kDomainOnException),
    Dyadic<Plus<Complex>>(kDomainOnNonFinite),
    Dyadic<Minus<int8_t, int16_t>>(kFirst), Dyadic<Minus<int16_t, int32_t>>(),
    Dyadic<MinusInt32>({.restart = true, .reduction = 1}), Dyadic<DecimalSubtractOp>(kDomainOnException),
    Dyadic<Minus<Complex>>(kDomainOnNonFinite),
    // ×
    Boolean<AndWords>(kFirst), Dyadic<Times<int8_t, int16_t>>(), Dyadic<Times<int16_t, int32_t>>(),
    Dyadic<TimesInt32>(kRestart),
    Dyadic<DecimalMultiplyOp>({.check = PostCheck::kExceptionDomain, .mapping = kMapPreferred}),
    Dyadic<Times<Complex>>(kDomainOnNonFinite),
    // ÷
    Dyadic<DivideInt32>(kFirstRestart),
    Dyadic<DecimalDivideOp>({.check = PostCheck::kExceptionRestart, .mapping = kMapPreferred, .restart = true}),
    Dyadic<DecimalDivideCheckedOp>({.check = PostCheck::kNonFiniteDomain, .mapping = kMapPreferred}),
    Dyadic<DivideComplex>(kDomainOnNonFinite),
    // ⌈ ⌊
    Boolean<OrWords>(kFirst), Dyadic<Maximum<int8_t>>(), Dyadic<Maximum<int16_t>>(), Dyadic<Maximum<int32_t>>(),
    Dyadic<DecimalMaxOp>(),
    Boolean<AndWords>(kFirst), Dyadic<Minimum<int8_t>>(), Dyadic<Minimum<int16_t>>(), Dyadic<Minimum<int32_t>>(),
    Dyadic<DecimalMinOp>(),
    // * (the decimal power handles integer exponents itself)
    Dyadic<DecimalPowerOp>({.first = true, .check = PostCheck::kExceptionRestart, .restart = true}),
    Dyadic<PowerComplex>(kDomainOnNonFinite),
    // ⍟
    Dyadic<DecimalLogOp>({.first = true, .check = PostCheck::kExceptionRestart, .restart = true}),
    Dyadic<LogBaseComplex>(kDomainOnNonFinite),
    // |
    Boolean<LessWords>(kFirst), Dyadic<ResidueInteger<int8_t>>(), Dyadic<ResidueInteger<int16_t>>(),
    Dyadic<ResidueInteger<int32_t>>(), Dyadic<DecimalResidueOp>(kTolerant), Dyadic<ResidueComplex>(kTolerant),
    // !
    Dyadic<DecimalBinomialOp>({.first = true, .check = PostCheck::kExceptionDomain}), Dyadic<BinomialComplex>(),
    // ○
    Dyadic<DecimalCircleOp>({.first = true, .check = PostCheck::kExceptionRestart, .restart = true}),
    Dyadic<CircleComplex>(),
    // ∨ ∧ (∧ keeps its int32→binary64 restart target)
    Boolean<OrWords>(kFirst), Dyadic<GcdInt32>(kRestart), Dyadic<DecimalGcdOp>(kTolerant),
    Dyadic<GcdComplex>(kTolerant),
    Boolean<AndWords>(kFirst), Dyadic<LcmInt32>(kRestart), Dyadic<LcmInt32ToFloat>(), Dyadic<DecimalLcmOp>(kTolerant),
    Dyadic<LcmComplex>(kTolerant),
    // ⍱ ⍲
    Boolean<NorWords>(kFirst), Boolean<NandWords>(kFirst),
    // < ≤ = ≥ > ≠
    VANTOR_COMPARISON_GROUP(Less, LessWords, DecimalLessOp),
    VANTOR_COMPARISON_GROUP(LessEqual, LessEqualWords, DecimalLessEqualOp),
    VANTOR_EQUALITY_GROUP(Equal, EqualWords, DecimalEqualOp, false),
    VANTOR_COMPARISON_GROUP(GreaterEqual, GreaterEqualWords, DecimalGreaterEqualOp),
    VANTOR_COMPARISON_GROUP(Greater, GreaterWords, DecimalGreaterOp),
    VANTOR_EQUALITY_GROUP(NotEqual, NotEqualWords, DecimalNotEqualOp, true),
};

ScalarKernel g_monadicKernels1287[] = {
    Constant<false>(kFirst),
    Monadic<Conjugate>(kFirst),
    VANTOR_INTEGER_MONADIC_GROUP(NegateInteger), Monadic<DecimalNegateOp>(), Monadic<Negate<Complex>>(),
    Monadic<Direction<int32_t>>(kFirst), Monadic<DecimalDirectionOp>(), Monadic<DirectionComplex>(),
    Monadic<DecimalReciprocalOp>({.first = true, .check = PostCheck::kNonFiniteDomain}),
    Monadic<ReciprocalComplex>(kDomainOnNonFinite),
    Monadic<DecimalCeilingToIntOp>({.first = true, .tolerant = true, .restart = true}),
    Monadic<DecimalCeilingOp>(kTolerant), Monadic<CeilingComplex>(kTolerant),
    Monadic<DecimalFloorToIntOp>({.first = true, .tolerant = true, .restart = true}), Monadic<DecimalFloorOp>(kTolerant),
    Monadic<FloorComplex>(kTolerant),
    Monadic<DecimalExpOp>({.first = true, .check = PostCheck::kNonFiniteDomain}), Monadic<ExpComplex>(kDomainOnNonFinite),
    Monadic<DecimalLnOp>({.first = true, .check = PostCheck::kExceptionRestart, .restart = true}),
    Monadic<LogComplex>(kDomainOnNonFinite),
    VANTOR_INTEGER_MONADIC_GROUP(MagnitudeInteger), Monadic<DecimalMagnitudeOp>(), Monadic<MagnitudeComplex>(),
    Monadic<DecimalFactorialOp>({.first = true, .check = PostCheck::kExceptionDomain}), Monadic<FactorialComplex>(),
    Monadic<DecimalPiTimesOp>({.first = true, .check = PostCheck::kNonFiniteDomain}),
    Monadic<PiTimesComplex>(kDomainOnNonFinite),
    Monadic<ExpPiTimesComplex>({.first = true, .check = PostCheck::kNonFiniteDomain}),
    MakeKernel(MonadicStream<NotBoolean>, NotWordVector, kBool, kBool, kFirst),
    Monadic<DecimalRoundHalfToIntOp>({.first = true, .tolerant = true, .restart = true}),
    Monadic<DecimalRoundHalfOp>(kTolerant), Monadic<RoundComplex>(kTolerant),
};

#undef VANTOR_COMPARISON_GROUP
#undef VANTOR_EQUALITY_GROUP
#undef VANTOR_INTEGER_MONADIC_GROUP

// ---- Pre-dispatch special cases ------------------------------------------------------------------------

bool IsSimpleArray(Ref r) { return IsRef(r) && KindOf(TypeWord(r)) == kKindSimple; }
bool IsSharedScalar(Ref r, uint32_t rootWord) { return r == RootWordAt(rootWord); }
ElementType TypeOf(Ref r) { return ElementOf(TypeWord(r)); }
bool IsIntegerType(ElementType t) { return t == kInt8 || t == kInt16 || t == kInt32; }

Ref SharedBoolean(bool value) { return Retained(RootWordAt(value ? kRootScalarOne : kRootScalarZero)); }

// A Boolean array of `shape`'s shape with every element `value` (the shared scalar for a scalar).
Ref BooleanFill(Ref shape, bool value) {
  uint32_t rank = RankOf(TypeWord(shape));
  if (rank == 0) return SharedBoolean(value);
  uint64_t count = ElementCount(shape);
  Temporaries held;
  held[0] = Retained(shape);
  Ref r = AllocArray(kBool, rank, count);
  std::copy_n(ShapeOf(held[0]), rank, ShapeOf(r));
  std::memset(DataOf<uint8_t>(r), value ? 0xFF : 0, (count + 7) / 8);
  return r;
}

// In-place x+1 and x-1 on an integer (or, under ⎕FR 645, binary64) array nobody else holds. When an
// element would pass the type's limit, the elements already changed are put back and the general
// path runs.
template <class T>
bool StepInPlace(Ref array, int direction) {
  T* data = DataOf<T>(array);
  uint64_t count = ElementCount(array);
  if constexpr (std::is_floating_point_v<T>) {
    for (uint64_t i = 0; i < count; ++i) data[i] += direction;
    return true;
  } else {
    const T limit = direction > 0 ? std::numeric_limits<T>::max() : std::numeric_limits<T>::min();
    for (uint64_t i = 0; i < count; ++i) {
      if (data[i] == limit) {
        while (i-- > 0) data[i] = static_cast<T>(data[i] - direction);
        return false;
      }
      data[i] = static_cast<T>(data[i] + direction);
    }
    return true;
  }
}

uint32_t IncrementInPlace(Ref other, int direction, Ref& result) {
  if (!IsSimpleArray(other) || RefCount(other) != 1 || (TypeWord(other) & kMappedFlag)) return 0;
  bool done = false;
  switch (TypeOf(other)) {
    case kInt8: done = StepInPlace<int8_t>(other, direction); break;
    case kInt16: done = StepInPlace<int16_t>(other, direction); break;
    case kInt32: done = StepInPlace<int32_t>(other, direction); break;
    case kFloat64:
      if (CurrentFloatRepresentation() == 645) done = StepInPlace<double>(other, direction);
      break;
    default: break;
  }
  if (!done) return 0;
  result = Retained(other);
  return 1;
}

bool SameNonCharacterPocket(Ref left, Ref right) {
  return left == right && IsSimpleArray(left) && !IsCharacterType(TypeOf(left));
}

uint32_t PlusSpecial(const Ref& left, const Ref& right, Ref& result) {
  if (IsSharedScalar(right, kRootScalarOne)) return IncrementInPlace(left, 1, result);
  if (IsSharedScalar(left, kRootScalarOne)) return IncrementInPlace(right, 1, result);
  return 0;
}

uint32_t MinusSpecial(const Ref& left, const Ref& right, Ref& result) {
  if (SameNonCharacterPocket(left, right)) {
    result = BooleanFill(left, false);
    return 1;
  }
  if (IsSharedScalar(right, kRootScalarOne)) return IncrementInPlace(left, -1, result);
  return 0;
}

uint32_t MaxMinSpecial(const Ref& left, const Ref& right, Ref& result) {
  if (!SameNonCharacterPocket(left, right) || TypeOf(left) == kComplex) return 0;
  result = Retained(left);
  return 1;
}

// ∨ (absorbing 1) and ∧ (absorbing 0) with a shared scalar 0 or 1 against a Boolean array.
template <bool kAbsorbing>
uint32_t OrAndSpecial(const Ref& left, const Ref& right, Ref& result) {
  bool leftShared = IsSharedScalar(left, kRootScalarZero) || IsSharedScalar(left, kRootScalarOne);
  bool rightShared = IsSharedScalar(right, kRootScalarZero) || IsSharedScalar(right, kRootScalarOne);
  if (leftShared == rightShared) return 0;
  Ref shared = leftShared ? left : right, other = leftShared ? right : left;
  if (!IsSimpleArray(other) || TypeOf(other) != kBool) return 0;
  bool value = shared == RootWordAt(kRootScalarOne);
  result = value == kAbsorbing ? BooleanFill(other, kAbsorbing) : Retained(other);
  return 1;
}

// X<X and the like: a constant when the values cannot differ from themselves.
template <bool kValue>
uint32_t SelfComparison(const Ref& left, const Ref& right, Ref& result) {
  if (!SameNonCharacterPocket(left, right)) return 0;
  ElementType t = TypeOf(left);
  if (t == kComplex || t == kDecimal128) return 0;
  result = BooleanFill(left, kValue);
  return 1;
}

// = and ≠: a character argument against a numeric one compares unequal everywhere (the constant
// kernel, 6 places before the group's last).
constexpr uint32_t kEqualityConstantOffset = 6;
template <bool kValue>
uint32_t EqualitySpecial(const Ref& left, const Ref& right, Ref& result) {
  if (SelfComparison<kValue>(left, right, result)) return 1;
  if (IsCharacterType(TypeOf(left)) != IsCharacterType(TypeOf(right))) return kEqualityConstantOffset;
  return 0;
}

// A*B with a Boolean B and a scalar A: (1, A)[B], no arithmetic.
template <class T>
Ref SelectPowers(Ref base, Ref selector) {
  uint32_t rank = RankOf(TypeWord(selector));
  uint64_t count = ElementCount(selector);
  Temporaries held;
  held[0] = Retained(base);
  held[1] = Retained(selector);
  Ref r = AllocArray(TypeOf(base), rank, count);
  std::copy_n(ShapeOf(held[1]), rank, ShapeOf(r));
  T a = *DataOf<T>(held[0]);
  const uint8_t* bits = DataOf<uint8_t>(held[1]);
  T* out = DataOf<T>(r);
  for (uint64_t i = 0; i < count; ++i) out[i] = GetBit(bits, i) ? a : T(1);
  return r;
}

// The integer-exponent kernel is the first of the * group, two places before the last.
constexpr uint32_t kIntegerExponentOffset = 2;

uint32_t PowerSpecial(const Ref& left, const Ref& right, Ref& result) {
  ElementType l = TypeOf(left), r = TypeOf(right);
  if (r == kBool && RankOf(TypeWord(left)) == 0) {
    switch (l) {
      case kInt8: result = SelectPowers<int8_t>(left, right); return 1;
      case kInt16: result = SelectPowers<int16_t>(left, right); return 1;
      case kInt32: result = SelectPowers<int32_t>(left, right); return 1;
      case kFloat64: result = SelectPowers<double>(left, right); return 1;
      case kComplex: result = SelectPowers<Complex>(left, right); return 1;
      default: break;
    }
  }
  bool realBase = l == kBool || IsIntegerType(l) || l == kFloat64;
  bool integerExponent = r == kBool || IsIntegerType(r);
  return realBase && integerExponent ? kIntegerExponentOffset : 0;
}

// Monadic functions that leave some arguments as they are.
template <bool (*kUnchanged)(ElementType)>
uint32_t IdentitySpecial(const Ref&, const Ref& right, Ref& result) {
  if (!IsSimpleArray(right) || !kUnchanged(TypeOf(right))) return 0;
  result = Retained(right);
  return 1;
}
bool IsNotComplex(ElementType t) { return t != kComplex; }
bool IsBooleanType(ElementType t) { return t == kBool; }
bool IsBooleanOrInteger(ElementType t) { return t == kBool || IsIntegerType(t); }

// ---- The primitive tables -----------------------------------------------------------------------------

constexpr ScalarPrimitive Scalar(PreDispatch pre = nullptr) { return {kOwnsKernels, pre, {}}; }
constexpr ScalarPrimitive kNone{kNotScalar, nullptr, {}};

ScalarPrimitive g_dyadic645[kDyadicScalarCodes] = {
    Scalar(), kNone, Scalar(PlusSpecial), Scalar(MinusSpecial), Scalar(), Scalar(),
    Scalar(MaxMinSpecial), Scalar(MaxMinSpecial), Scalar(PowerSpecial), Scalar(), Scalar(), Scalar(), Scalar(),
    kNone, kNone, Scalar(OrAndSpecial<true>), Scalar(OrAndSpecial<false>), Scalar(), Scalar(),
    Scalar(SelfComparison<false>), Scalar(SelfComparison<true>), Scalar(EqualitySpecial<true>),
    Scalar(SelfComparison<true>), Scalar(SelfComparison<false>), Scalar(EqualitySpecial<false>),
};

// The decimal power kernel takes integer exponents itself: only the Boolean-exponent case remains.
uint32_t DecimalPowerSpecial(const Ref& left, const Ref& right, Ref& result) {
  return PowerSpecial(left, right, result) == 1 ? 1 : 0;
}

ScalarPrimitive g_dyadic1287[kDyadicScalarCodes] = {
    Scalar(), kNone, Scalar(PlusSpecial), Scalar(MinusSpecial), Scalar(), Scalar(),
    Scalar(MaxMinSpecial), Scalar(MaxMinSpecial), Scalar(DecimalPowerSpecial), Scalar(), Scalar(), Scalar(),
    Scalar(), kNone, kNone, Scalar(OrAndSpecial<true>), Scalar(OrAndSpecial<false>), Scalar(), Scalar(),
    Scalar(SelfComparison<false>), Scalar(SelfComparison<true>), Scalar(EqualitySpecial<true>),
    Scalar(SelfComparison<true>), Scalar(SelfComparison<false>), Scalar(EqualitySpecial<false>),
};

// Monadic: roll (1) belongs to the random-number unit and has no kernels here.
constexpr ScalarPrimitive kMonadicPrimitives[kMonadicScalarCodes] = {
    Scalar(), kNone, Scalar(IdentitySpecial<IsNotComplex>), Scalar(), Scalar(IdentitySpecial<IsBooleanType>),
    Scalar(), Scalar(IdentitySpecial<IsBooleanOrInteger>), Scalar(IdentitySpecial<IsBooleanOrInteger>), Scalar(),
    Scalar(), Scalar(IdentitySpecial<IsBooleanType>), Scalar(), Scalar(), Scalar(), Scalar(), Scalar(),
};
ScalarPrimitive g_monadic645[kMonadicScalarCodes];
ScalarPrimitive g_monadic1287[kMonadicScalarCodes];

struct KernelTable {
  ScalarPrimitive* primitives;
  uint32_t primitiveCount;
  ScalarKernel* kernels;
  uint32_t kernelCount;
};
struct KernelSet {
  KernelTable dyadic;
  KernelTable monadic;
};

const KernelSet kSet645 = {
    {g_dyadic645, kDyadicScalarCodes, g_dyadicKernels645, std::size(g_dyadicKernels645)},
    {g_monadic645, kMonadicScalarCodes, g_monadicKernels645, std::size(g_monadicKernels645)},
};
const KernelSet kSet1287 = {
    {g_dyadic1287, kDyadicScalarCodes, g_dyadicKernels1287, std::size(g_dyadicKernels1287)},
    {g_monadic1287, kMonadicScalarCodes, g_monadicKernels1287, std::size(g_monadicKernels1287)},
};

// ⎕FR can change by assignment, localisation, )LOAD and )CLEAR, so the set is looked up per call.
const KernelSet& CurrentKernelSet() { return CurrentFloatRepresentation() == 1287 ? kSet1287 : kSet645; }

// Algorithm of start-up: walk the primitives from the highest code and the kernels from the last,
// in step; each element type ends up mapped to the narrowest kernel of the group that can hold it.
void CompleteKernelTable(const KernelTable& table) {
  int64_t k = static_cast<int64_t>(table.kernelCount) - 1;
  for (int64_t code = table.primitiveCount - 1; code >= 0; --code) {
    ScalarPrimitive& p = table.primitives[code];
    if (p.lastKernel == kNotScalar) continue;
    p.lastKernel = static_cast<uint32_t>(k);
    std::fill(std::begin(p.typeMap), std::end(p.typeMap), static_cast<uint8_t>(k));
    bool mapping = true;
    for (bool first = false; !first; --k) {
      if (k < 0) SystemError(11);
      ScalarKernel& kernel = table.kernels[k];
      if (kernel.input != kRefElement && mapping) {
        for (uint32_t j = 0; j < kElementTypeCount; ++j)
          if (kPromotionRank[j] <= kPromotionRank[kernel.input] &&
              IsCharacterType(static_cast<ElementType>(j)) == IsCharacterType(kernel.input))
            p.typeMap[j] = static_cast<uint8_t>(k);
      }
      if (kernel.mapping == kMapEnds) mapping = false;
      first = kernel.continuation == 0;
      kernel.continuation = static_cast<uint8_t>(code);
    }
  }
  if (k != -1) SystemError(11);
}

// ---- Descriptors and conformability ------------------------------------------------------------------

void LoadDescriptor(ArgumentDescriptor& d, Ref array) {
  uint32_t type = TypeWord(array);
  d.type = ElementOf(type);
  d.rank = RankOf(type);
  const uint32_t* shape = ShapeOf(array);
  uint64_t count = 1;
  for (uint32_t i = 0; i < d.rank; ++i) count *= d.shape[i] = shape[i];
  d.count = count;
}

// The result's rank, shape and count: any single-element argument extends; two single-element
// arguments give the higher rank (the right on a tie).
void Conform(const ArgumentDescriptor& left, const ArgumentDescriptor& right, ArgumentDescriptor& result) {
  const ArgumentDescriptor* source = &left;
  if (left.count == 1) {
    if (!(right.count == 1 && right.rank < left.rank)) source = &right;
  } else if (right.count != 1) {
    if (left.rank != right.rank) SIGNAL(kRankError);
    if (!std::equal(left.shape, left.shape + left.rank, right.shape)) SIGNAL(kLengthError);
  }
  result.rank = source->rank;
  std::copy_n(source->shape, source->rank, result.shape);
  result.count = source->count;
}

Ref AllocShaped(ElementType type, const ArgumentDescriptor& shape, uint64_t extraWords = 0) {
  uint64_t extra = 0;
  if (extraWords) {
    uint32_t bits = kElementInfo[type].log2Bits;
    extra = bits >= 5 ? (extraWords >> (bits - 5)) + 1 : extraWords << (5 - bits);
  }
  Ref r = AllocArray(type, shape.rank, shape.count + extra);
  std::copy_n(shape.shape, shape.rank, ShapeOf(r));
  return r;
}

// ---- Running a kernel ---------------------------------------------------------------------------------

// The floating-point exceptions the post-checks look at (inexact and underflow are not errors).
// Binary64 arithmetic runs in SSE registers, so its status word is enough, and far cheaper to read
// and clear than the whole environment.
#if defined(__SSE2__)
void ClearFloatStatus() { _mm_setcsr(_mm_getcsr() & ~_MM_EXCEPT_MASK); }
bool FloatExceptionRaised() {
  return (_mm_getcsr() & (_MM_EXCEPT_INVALID | _MM_EXCEPT_DIV_ZERO | _MM_EXCEPT_OVERFLOW)) != 0;
}
#else
void ClearFloatStatus() { std::feclearexcept(FE_ALL_EXCEPT); }
bool FloatExceptionRaised() { return std::fetestexcept(FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW) != 0; }
#endif

bool IsDecimalKernel(const ScalarKernel& k) { return k.input == kDecimal128 || k.result == kDecimal128; }

void ClearStatus(const ScalarKernel& kernel) {
  if (kernel.postCheck == PostCheck::kNone) return;
  if (IsDecimalKernel(kernel)) ClearDecimalStatus();
  else ClearFloatStatus();
}

bool AllFinite(const ScalarKernel& kernel, Ref result) {
  uint64_t count = ElementCount(result);
  switch (kernel.result) {
    case kFloat64: {
      const double* d = DataOf<double>(result);
      return std::all_of(d, d + count, [](double x) { return std::isfinite(x); });
    }
    case kComplex: {
      const double* d = DataOf<double>(result);
      return std::all_of(d, d + 2 * count, [](double x) { return std::isfinite(x); });
    }
    case kDecimal128: {
      const uint8_t* d = DataOf<uint8_t>(result);
      for (uint64_t i = 0; i < count; ++i)
        if (!IsDecimalFinite(LoadDecimal(d + 16 * i))) return false;
      return true;
    }
    default: return true;
  }
}

// False when the kernel must give up because of the status it left.
bool PassesPostCheck(const ScalarKernel& kernel, Ref result) {
  if (kernel.postCheck == PostCheck::kNone) return true;
  bool raised = IsDecimalKernel(kernel) ? DecimalExceptionRaised() : FloatExceptionRaised();
  if (!raised) return true;
  switch (kernel.postCheck) {
    case PostCheck::kExceptionDomain: SIGNAL(kDomainError);
    case PostCheck::kNonFiniteDomain:
      if (IsRef(result) && !AllFinite(kernel, result)) SIGNAL(kDomainError);
      return true;
    case PostCheck::kExceptionRestart: return false;
    case PostCheck::kNone: break;
  }
  return true;
}

// A single element is converted once, into the buffer; a stepper that does nothing then extends it.
void PrepareStream(ArgumentDescriptor& d, Ref array, ElementType input) {
  d.data = DataOf<uint8_t>(array);
  d.index = 0;
  if (input == kRefElement) {
    d.step = StepNothing;
    return;
  }
  d.step = kSteppers[d.type][input];
  if (d.count == 1) {
    d.step(d);
    d.step = StepNothing;
  }
}

// The elements a vector kernel reads: the argument's own data, its one element converted into the
// buffer (Booleans as a full byte), or a converted copy at `scratch`.
const void* PrepareVector(ArgumentDescriptor& d, Ref array, ElementType input, uint8_t*& scratch, uint64_t count) {
  d.data = DataOf<uint8_t>(array);
  d.index = 0;
  if (input == kRefElement) return d.data;
  if (d.count == 1) {
    kSteppers[d.type][input](d);
    if (input == kBool) d.buffer[0] = d.buffer[0] ? 0xFF : 0;
    return d.buffer;
  }
  if (d.type == input) return d.data;
  uint8_t* copy = scratch;
  kConverters[d.type][input](d.data, count, copy);
  scratch += 16 * ((DataWords(input, count) + 3) / 4);
  return copy;
}

bool NeedsCopy(const ArgumentDescriptor& d, ElementType input) {
  return input != kRefElement && d.count != 1 && d.type != input;
}

// ---- Parallel slices of a vector kernel ---------------------------------------------------------------

struct SlicedRun {
  const ScalarKernel* kernel;
  const VectorOperands* whole;
};

uint32_t ElementBits(ElementType t) { return 1u << kElementInfo[t].log2Bits; }

// A buffer's elements from `begin` on (a multiple of 8 for packed Booleans).
const void* FromElement(const void* data, uint64_t begin, ElementType t) {
  uint32_t bits = ElementBits(t);
  return static_cast<const uint8_t*>(data) + (bits < 8 ? begin / 8 : begin * (bits / 8));
}

bool RunSlice(const void* context, uint64_t begin, uint64_t count) {
  const SlicedRun& run = *static_cast<const SlicedRun*>(context);
  VectorOperands v = *run.whole;
  const ElementType input = run.kernel->input, result = run.kernel->result;
  if (v.left) v.left = FromElement(v.left, begin, input);
  v.right = FromElement(v.right, begin, input);
  v.result = const_cast<void*>(FromElement(v.result, begin, result));
  v.count = count;
  v.inSlice = true;
  return run.kernel->vector(v);
}

// A kernel that may share its work, on two full arguments of a long run, runs in parallel slices.
bool RunVectorKernel(const ScalarKernel& kernel, const VectorOperands& v) {
  if (!kernel.slices || v.leftSingle || v.rightSingle || !WorthSlicing(v.count)) return kernel.vector(v);
  SlicedRun run{&kernel, &v};
  bool done = RunInSlices(v.count, std::min(ElementBits(kernel.input), ElementBits(kernel.result)), RunSlice, &run);
  CheckStrongInterrupt();
  return done;
}

// ---- Arguments converted a block at a time -----------------------------------------------------------

// Elements per block: a multiple of 64, so packed Boolean sources start on whole bytes, and long
// enough for a block to run in parallel slices.
constexpr uint64_t kConversionBlock = uint64_t{1} << 17;

// Conversions into binary64 or complex from a narrower number type are exact and cannot fail, so
// they may happen block by block while the kernel runs, instead of in a whole copy first.
bool WidensExactly(ElementType from, ElementType to) {
  return (to == kFloat64 || to == kComplex) && IsRealType(from) && kPromotionRank[from] < kPromotionRank[to];
}

bool ConvertsInBlocks(const KernelCall& call, bool dyadic, ElementType input) {
  bool leftCopy = dyadic && NeedsCopy(call.left, input), rightCopy = NeedsCopy(call.right, input);
  return (leftCopy || rightCopy) && (!leftCopy || WidensExactly(call.left.type, input)) &&
         (!rightCopy || WidensExactly(call.right.type, input));
}

// An argument's elements for the block [start, start+count): its own data, its single element, or
// the block converted into `buffer`.
const void* BlockOf(ArgumentDescriptor& d, const void* prepared, ElementType input, uint64_t start, uint64_t count,
                    uint8_t* buffer) {
  if (d.count == 1) return prepared;
  if (d.type == input) return FromElement(prepared, start, input);
  kConverters[d.type][input](static_cast<const uint8_t*>(FromElement(d.data, start, d.type)), count, buffer);
  return buffer;
}

Ref RunConvertingBlocks(const ScalarKernel& kernel, KernelCall& call, const Ref* left, const Ref& right) {
  const ElementType input = kernel.input;
  const uint64_t n = call.result.count, block = std::min(n, kConversionBlock);
  const uint64_t bytes = block * kElementInfo[input].bytes;
  std::unique_ptr<uint8_t[]> leftBuffer(left ? new uint8_t[bytes] : nullptr), rightBuffer(new uint8_t[bytes]);
  Temporaries held;
  held[0] = AllocShaped(kernel.result, call.result);
  uint8_t* scratch = nullptr;  // not used: arguments that need a copy are converted per block
  const void* rightData = NeedsCopy(call.right, input) ? nullptr : PrepareVector(call.right, right, input, scratch, n);
  const void* leftData = !left || NeedsCopy(call.left, input) ? nullptr : PrepareVector(call.left, *left, input, scratch, n);
  call.right.data = DataOf<uint8_t>(right);
  if (left) call.left.data = DataOf<uint8_t>(*left);
  VectorOperands v{};
  v.leftSingle = left && call.left.count == 1;
  v.rightSingle = call.right.count == 1;
  v.env = &call.env;
  uint8_t* result = DataOf<uint8_t>(held[0]);
  ClearStatus(kernel);
  for (uint64_t start = 0; start < n; start += block) {
    v.count = std::min(block, n - start);
    v.right = BlockOf(call.right, rightData, input, start, v.count, rightBuffer.get());
    v.left = left ? BlockOf(call.left, leftData, input, start, v.count, leftBuffer.get()) : nullptr;
    v.result = const_cast<void*>(FromElement(result, start, kernel.result));
    if (!RunVectorKernel(kernel, v)) return 0;
  }
  if (!PassesPostCheck(kernel, held[0])) return 0;
  return held.Take(0);
}

// Runs one kernel; returns the counted result, or 0 when the kernel gave up. `left` is nullptr for a
// monadic call.
Ref RunKernel(const ScalarKernel& kernel, KernelCall& call, const Ref* left, const Ref& right) {
  ArgumentDescriptor& shape = call.result;
  call.env = FetchKernelEnvironment(kernel);
  uint64_t n = shape.count;
  if (n == 0) return AllocShaped(kernel.result, shape);
  Temporaries held;
  if (shape.rank == 0 && kernel.result == kBool) {  // the shared scalars
    call.result.step = StepNothing;
    PrepareStream(call.right, right, kernel.input);
    if (left) PrepareStream(call.left, *left, kernel.input);
    ClearStatus(kernel);
    if (!kernel.stream(call, 1) || !PassesPostCheck(kernel, 0)) return 0;
    return SharedBoolean(call.result.As<bool>());
  }
  if (n < 8 || !kernel.vector) {
    held[0] = AllocShaped(kernel.result, shape);
    call.result.data = DataOf<uint8_t>(held[0]);
    call.result.index = 0;
    call.result.step = kStorers[kernel.result];
    PrepareStream(call.right, right, kernel.input);
    if (left) PrepareStream(call.left, *left, kernel.input);
    ClearStatus(kernel);
    if (!kernel.stream(call, n) || !PassesPostCheck(kernel, held[0])) return 0;
    return held.Take(0);
  }
  if (ConvertsInBlocks(call, left != nullptr, kernel.input)) return RunConvertingBlocks(kernel, call, left, right);
  // Converted copies of the arguments go behind the result's data, in room given back afterwards.
  uint32_t copies = (left && NeedsCopy(call.left, kernel.input)) + NeedsCopy(call.right, kernel.input);
  uint64_t resultWords = DataWords(kernel.result, n);
  uint64_t extraWords = copies ? copies * ((DataWords(kernel.input, n) + 3) / 4 * 4) + 4 : 0;
  held[0] = AllocShaped(kernel.result, shape, extraWords);
  uint8_t* data = DataOf<uint8_t>(held[0]);
  uintptr_t end = reinterpret_cast<uintptr_t>(data + 4 * resultWords);
  uint8_t* scratch = data + 4 * resultWords + ((16 - end % 16) % 16);
  VectorOperands v{};
  v.right = PrepareVector(call.right, right, kernel.input, scratch, n);
  v.left = left ? PrepareVector(call.left, *left, kernel.input, scratch, n) : nullptr;
  v.result = data;
  v.count = n;
  v.leftSingle = left && call.left.count == 1;
  v.rightSingle = call.right.count == 1;
  v.env = &call.env;
  ClearStatus(kernel);
  bool done = RunVectorKernel(kernel, v);
  if (copies) ShrinkBlock(held[0], ArrayWords(kernel.result, shape.rank, n));
  if (!done || !PassesPostCheck(kernel, held[0])) return 0;
  return held.Take(0);
}

// The kernels of a group from `k` on, each taking over when the one before gives up.
Ref RunFrom(const KernelTable& table, uint32_t k, KernelCall& call, const Ref* left, const Ref& right) {
  uint32_t last = table.primitives[table.kernels[k].continuation].lastKernel;
  for (;; ++k) {
    Ref result = RunKernel(table.kernels[k], call, left, right);
    if (result) return result;
    if (k == last) SystemError(11);  // the last kernel of a group never gives up
  }
}

// ---- The drivers on simple arrays -------------------------------------------------------------------

bool IsArgumentArray(Ref r) { return IsRef(r) && IsArrayKind(KindOf(TypeWord(r))); }

// Arguments that are not arrays (namespace and instance references): = and ≠ compare them by
// identity, every other function refuses them.
Ref CompareReferences(uint32_t code, Ref left, Ref right) {
  if (code != kScalarEqual && code != kScalarNotEqual) SIGNAL(kDomainError);
  bool equal = code == kScalarEqual;
  if (!IsArgumentArray(left) && !IsArgumentArray(right)) return SharedBoolean((left == right) == equal);
  return BooleanFill(IsArgumentArray(left) ? left : right, !equal);
}

uint32_t GoverningType(ElementType left, ElementType right) {
  ElementType t = HigherPromotion(left, right);
  return t == kCharAv ? kChar32 : t;  // ⎕AV positions may stand for any code point
}

Ref DyadicSimple(uint32_t code, const Ref& left, const Ref& right) {
  if (!IsArgumentArray(left) || !IsArgumentArray(right)) return CompareReferences(code, left, right);
  const KernelTable& table = CurrentKernelSet().dyadic;
  const ScalarPrimitive& p = table.primitives[code];
  KernelCall call;
  LoadDescriptor(call.left, left);
  LoadDescriptor(call.right, right);
  Conform(call.left, call.right, call.result);
  uint32_t k = 0;
  if (p.preDispatch) {
    Ref result = 0;
    uint32_t answer = p.preDispatch(left, right, result);
    if (answer == 1) return result;
    if (answer >= 2) k = p.lastKernel - answer;
  }
  if (!k) k = p.typeMap[GoverningType(call.left.type, call.right.type)];
  return RunFrom(table, k, call, &left, right);
}

Ref MonadicSimple(uint32_t code, const Ref& right) {
  if (!IsArgumentArray(right)) SIGNAL(kDomainError);
  const KernelTable& table = CurrentKernelSet().monadic;
  const ScalarPrimitive& p = table.primitives[code];
  KernelCall call;
  LoadDescriptor(call.right, right);
  call.result.rank = call.right.rank;
  std::copy_n(call.right.shape, call.right.rank, call.result.shape);
  call.result.count = call.right.count;
  uint32_t k = 0;
  if (p.preDispatch) {
    Ref result = 0;
    uint32_t answer = p.preDispatch(0, right, result);
    if (answer == 1) return result;
    if (answer >= 2) k = p.lastKernel - answer;
  }
  if (!k) k = p.typeMap[call.right.type == kCharAv ? kChar32 : call.right.type];
  return RunFrom(table, k, call, nullptr, right);
}

// ---- Pervasion ------------------------------------------------------------------------------------------
// A pervasion frame is an object pocket: link, left, right, result (references), then valence, the
// next item, the item count, the code to restore, and whether the result is empty (its one item is
// the prototype).

constexpr uint32_t kPervasionFrameClass = 23077;  // kind 5, class 0x5A2
enum PervasionWord : uint32_t {
  kFrameLink = 3,
  kFrameLeft,
  kFrameRight,
  kFrameResult,
  kFrameValence,
  kFrameIndex,
  kFrameCount,
  kFrameCode,
  kFrameEmpty,
  kFrameWords,
};

void PervasionFrameFields(Ref, FieldRuns& out) { out.Add(kFrameLink, 4); }

bool IsNestedArray(Ref r) { return IsRef(r) && KindOf(TypeWord(r)) == kKindNested; }

// Item i of an argument: a nested array's item, a simple array's element as a scalar; a single-item
// argument gives its item every time; an empty frame takes the prototypes. Counted.
Ref ItemOf(Ref array, uint64_t i, bool prototype) {
  if (!IsArgumentArray(array)) return Retained(array);
  if (prototype) {
    if (KindOf(TypeWord(array)) == kKindNested && IsRef(DataOf<Ref>(array)[0])) return Retained(DataOf<Ref>(array)[0]);
    return SharedBoolean(false);  // the constant function does not look at simple values
  }
  if (ElementCount(array) == 1) i = 0;
  if (RankOf(TypeWord(array)) == 0 && KindOf(TypeWord(array)) == kKindSimple) return Retained(array);
  return ElementAsScalar(array, i);
}

// Pushes a frame for `left` (0 for monadic) and `right` onto the chain in `head`; returns the code
// now in force (0 for an empty result).
// `left` (a root slot or registered temporary, or null for a monadic level) is read after allocating.
uint32_t PushFrame(Ref& head, const Ref* left, const Ref& right, uint32_t code) {
  ArgumentDescriptor l, r, shape;
  LoadDescriptor(r, right);
  if (left) {
    LoadDescriptor(l, *left);
    Conform(l, r, shape);
  } else {
    shape = r;
  }
  Temporaries held;
  held[0] = AllocArray(kRefElement, shape.rank, shape.count);
  std::copy_n(shape.shape, shape.rank, ShapeOf(held[0]));
  Ref frame = GetSpace(kFrameWords);
  uint32_t* w = Words(frame);
  w[1] = 1;
  w[2] = kPervasionFrameClass;
  w[kFrameLink] = head;
  w[kFrameLeft] = left ? Retained(*left) : 0;
  w[kFrameRight] = Retained(right);
  w[kFrameResult] = held.Take(0);
  w[kFrameValence] = left ? 3 : 2;
  w[kFrameIndex] = 0;
  w[kFrameCount] = shape.count == 0 ? 1 : static_cast<uint32_t>(shape.count);
  w[kFrameCode] = code;
  w[kFrameEmpty] = shape.count == 0;
  head = frame;
  return shape.count == 0 ? kScalarConstant : code;
}

// = and ≠ give simple Booleans when every item came out a simple scalar 0 or 1. Takes over the
// counted `result` and returns the counted simplified one (or `result` itself).
Ref SimplifyBooleans(Ref result) {
  uint64_t count = ElementCount(result);
  if (count == 0) return result;
  const Ref* items = DataOf<Ref>(result);
  for (uint64_t i = 0; i < count; ++i) {
    Ref item = items[i];
    if (!IsSimpleArray(item) || RankOf(TypeWord(item)) != 0) return result;
    ElementType t = TypeOf(item);
    if (t != kBool && !(t == kInt8 && (*DataOf<int8_t>(item) & ~1) == 0)) return result;
  }
  Temporaries held;
  held[0] = result;
  uint32_t rank = RankOf(TypeWord(result));
  Ref simple = AllocArray(kBool, rank, count);
  std::copy_n(ShapeOf(held[0]), rank, ShapeOf(simple));
  uint8_t* bits = DataOf<uint8_t>(simple);
  items = DataOf<Ref>(held[0]);
  for (uint64_t i = 0; i < count; ++i) {
    Ref item = items[i];
    SetBit(bits, i, TypeOf(item) == kBool ? GetBit(DataOf<uint8_t>(item), 0) : *DataOf<int8_t>(item) != 0);
  }
  return simple;
}

// Walks nested arguments without native recursion: each level of nesting is a frame on a chain in
// the workspace; items whose arguments are both simple go to the simple drivers.
Ref Pervade(uint32_t code, const Ref* left, const Ref& right) {
  Temporaries held;  // [0] the chain, [1] [2] the current items
  code = PushFrame(held[0], left, right, code);
  for (;;) {
    uint32_t* w = Words(held[0]);
    if (w[kFrameIndex] < w[kFrameCount]) {
      bool prototype = w[kFrameEmpty];
      uint32_t i = w[kFrameIndex];
      bool dyadic = w[kFrameValence] == 3;
      held[1] = dyadic ? ItemOf(w[kFrameLeft], i, prototype) : 0;
      held[2] = ItemOf(Words(held[0])[kFrameRight], i, prototype);
      Ref item;
      if (IsNestedArray(held[1]) || IsNestedArray(held[2])) {
        code = PushFrame(held[0], dyadic ? &held[1] : nullptr, held[2], code);
        Release(held[1]);
        Release(held[2]);
        continue;
      }
      item = dyadic ? DyadicSimple(code, held[1], held[2]) : MonadicSimple(code, held[2]);
      Release(held[1]);
      Release(held[2]);
      w = Words(held[0]);
      Ref* slot = DataOf<Ref>(w[kFrameResult]) + (w[kFrameEmpty] ? 0 : i);
      *slot = item;
      ++w[kFrameIndex];
      continue;
    }
    // The level is complete: pop it and give its result to the level above.
    Ref frame = held[0];
    Ref result = w[kFrameResult];
    w[kFrameResult] = 0;
    code = w[kFrameCode];
    held[0] = Retained(w[kFrameLink]);
    ReleaseRef(frame);
    if (code == kScalarEqual || code == kScalarNotEqual) result = SimplifyBooleans(result);
    if (!held[0]) return result;
    w = Words(held[0]);
    Ref* slot = DataOf<Ref>(w[kFrameResult]) + (w[kFrameEmpty] ? 0 : w[kFrameIndex]);
    *slot = result;
    ++w[kFrameIndex];
  }
}

// ---- Axis ---------------------------------------------------------------------------------------------------

// The lower-rank argument extended along the axes of `higher` that `axes` does not name: element
// [i] of the result is element [i[axes]] of `lower`.
Ref ExtendAlongAxes(Ref lower, Ref higher, const std::array<uint32_t, kMaxRank>& axes) {
  Temporaries held;
  held[0] = Retained(lower);
  held[1] = Retained(higher);
  uint32_t rank = RankOf(TypeWord(higher));
  uint32_t lowerRank = RankOf(TypeWord(lower));
  ElementType type = TypeOf(lower);
  uint64_t count = ElementCount(higher);
  held[2] = AllocArray(type, rank, count);
  Ref r = held[2];
  std::copy_n(ShapeOf(held[1]), rank, ShapeOf(r));
  const uint32_t* shape = ShapeOf(r);
  const uint32_t* lowerShape = ShapeOf(held[0]);
  // Strides of `lower` seen from each axis of `higher`.
  std::array<uint64_t, kMaxRank> stride{};
  uint64_t s = 1;
  for (uint32_t j = lowerRank; j-- > 0;) {
    stride[axes[j]] = s;
    s *= lowerShape[j];
  }
  std::array<uint32_t, kMaxRank> index{};
  uint64_t source = 0;
  uint32_t width = kElementInfo[type].bytes;
  const uint8_t* from = DataOf<uint8_t>(held[0]);
  uint8_t* to = DataOf<uint8_t>(r);
  for (uint64_t i = 0; i < count; ++i) {
    if (i % kInterruptStride == 0) CheckStrongInterrupt();  // items so far are counted, the rest 0
    if (type == kBool) SetBit(to, i, GetBit(from, source));
    else std::memcpy(to + i * width, from + source * width, width);
    if (type == kRefElement) Retain(DataOf<Ref>(r)[i]);
    for (uint32_t a = rank; a-- > 0;) {  // odometer
      source += stride[a];
      if (++index[a] < shape[a]) break;
      source -= stride[a] * shape[a];
      index[a] = 0;
    }
  }
  return held.Take(2);
}

// A f[K] B: K names the axes of the higher-rank argument that match the lower one's axes.
Ref DyadicWithAxis(uint32_t code, const Ref& left, const Ref& right, const Ref& axis) {
  if (!IsArgumentArray(left) || !IsArgumentArray(right)) SIGNAL(kDomainError);
  bool leftLower = RankOf(TypeWord(left)) <= RankOf(TypeWord(right));
  const Ref& lower = leftLower ? left : right;
  const Ref& higher = leftLower ? right : left;
  uint32_t lowerRank = RankOf(TypeWord(lower)), higherRank = RankOf(TypeWord(higher));
  if (!IsSimpleArray(axis) || RankOf(TypeWord(axis)) > 1 || IsCharacterType(TypeOf(axis)))
    SIGNAL_MESSAGE(kRankError, U"Invalid axis");
  uint64_t axisCount = ElementCount(axis);
  if (axisCount == 0 && lowerRank == 0) return DyadicScalar(code, left, right);
  if (axisCount != lowerRank) SIGNAL(kRankError);
  std::array<uint32_t, kMaxRank> axes{};
  std::array<bool, kMaxRank> seen{};
  Temporaries held;
  for (uint64_t j = 0; j < axisCount; ++j) {
    held[0] = ElementAsScalar(axis, j);
    double value = 0;
    switch (TypeOf(held[0])) {
      case kBool: value = GetBit(DataOf<uint8_t>(held[0]), 0); break;
      case kInt8: value = *DataOf<int8_t>(held[0]); break;
      case kInt16: value = *DataOf<int16_t>(held[0]); break;
      case kInt32: value = *DataOf<int32_t>(held[0]); break;
      case kFloat64: value = *DataOf<double>(held[0]); break;
      default: SIGNAL_MESSAGE(kRankError, U"Invalid axis");
    }
    Release(held[0]);
    double a = value - IndexOrigin();
    if (!(a >= 0 && a < higherRank && a == std::floor(a))) SIGNAL_MESSAGE(kRankError, U"Invalid axis");
    uint32_t k = static_cast<uint32_t>(a);
    if (seen[k]) SIGNAL_MESSAGE(kIndexError, U"Repeated axis");
    seen[k] = true;
    axes[j] = k;
    if (ShapeOf(lower)[j] != ShapeOf(higher)[k]) SIGNAL(kLengthError);
  }
  held[1] = ExtendAlongAxes(lower, higher, axes);
  return leftLower ? DyadicScalar(code, held[1], right) : DyadicScalar(code, left, held[1]);
}

// ---- Dispatch-table entries ------------------------------------------------------------------------------

// The scalar-with-scalar fast path serves these dyadic functions.
constexpr bool HasScalarFastPath(uint32_t code) {
  return code <= kScalarDivide || code == kScalarResidue || code == kScalarOr || code == kScalarAnd ||
         (code >= kScalarLess && code <= kScalarNotEqual);
}

template <uint32_t kCode>
CallResult DyadicEntry(const Ref& left, const Ref& right) {
  const Ref& axis = AxisArgument();
  if constexpr (HasScalarFastPath(kCode)) {
    if (!axis) {
      Ref r = ScalarWithScalar(kCode, left, right);
      if (r) return {r};
    }
  }
  if (axis) return {DyadicWithAxis(kCode, left, right, axis)};
  return {DyadicScalar(kCode, left, right)};
}

template <uint32_t kCode>
CallResult MonadicEntry(const Ref&, const Ref& right) {
  if constexpr (kCode == kScalarCeiling || kCode == kScalarFloor) {
    Ref r = ScalarFloorCeiling(kCode, right);
    if (r) return {r};
  }
  return {MonadicScalar(kCode, right)};
}

template <uint32_t kCode>
constexpr PrimitiveRow Row() {
  return {kCode, MonadicEntry<kCode>, DyadicEntry<kCode>, kDyadicAxis};
}

constexpr PrimitiveRow kRows[] = {
    Row<kScalarPlus>(), Row<kScalarMinus>(), Row<kScalarTimes>(), Row<kScalarDivide>(),
    Row<kScalarCeiling>(), Row<kScalarFloor>(), Row<kScalarPower>(), Row<kScalarLog>(),
    Row<kScalarResidue>(), Row<kScalarFactorial>(), Row<kScalarCircle>(),
    {kScalarNot, MonadicEntry<kScalarNot>, nullptr, 0},
    {kScalarOr, nullptr, DyadicEntry<kScalarOr>, kDyadicAxis},
    {kScalarAnd, nullptr, DyadicEntry<kScalarAnd>, kDyadicAxis},
    {kScalarNor, nullptr, DyadicEntry<kScalarNor>, kDyadicAxis},
    {kScalarNand, nullptr, DyadicEntry<kScalarNand>, kDyadicAxis},
    {kScalarLess, nullptr, DyadicEntry<kScalarLess>, kDyadicAxis},
    {kScalarLessEqual, nullptr, DyadicEntry<kScalarLessEqual>, kDyadicAxis},
    {kScalarEqual, nullptr, DyadicEntry<kScalarEqual>, kDyadicAxis},
    {kScalarGreaterEqual, nullptr, DyadicEntry<kScalarGreaterEqual>, kDyadicAxis},
    {kScalarGreater, nullptr, DyadicEntry<kScalarGreater>, kDyadicAxis},
    {kScalarNotEqual, nullptr, DyadicEntry<kScalarNotEqual>, kDyadicAxis},
};

const KernelTable* TableHolding(const ScalarKernel* kernel) {
  for (const KernelSet* set : {&kSet645, &kSet1287})
    for (const KernelTable* table : {&set->dyadic, &set->monadic})
      if (kernel >= table->kernels && kernel < table->kernels + table->kernelCount) return table;
  return nullptr;
}

}  // namespace

// ---- Interface ---------------------------------------------------------------------------------------------

void InitialiseScalarEngine() {
  static bool completed = false;
  if (!completed) {
    std::copy(std::begin(kMonadicPrimitives), std::end(kMonadicPrimitives), g_monadic645);
    std::copy(std::begin(kMonadicPrimitives), std::end(kMonadicPrimitives), g_monadic1287);
    for (const KernelSet* set : {&kSet645, &kSet1287}) {
      CompleteKernelTable(set->dyadic);
      CompleteKernelTable(set->monadic);
    }
    completed = true;
  }
  RegisterObjectClass(kPervasionFrameClass, PervasionFrameFields, nullptr);
  InstallPrimitives(kRows);
}

Ref DyadicScalar(uint32_t code, const Ref& left, const Ref& right) {
  if (IsNestedArray(left) || IsNestedArray(right)) return Pervade(code, &left, right);
  return DyadicSimple(code, left, right);
}

Ref MonadicScalar(uint32_t code, const Ref& right) {
  if (IsNestedArray(right)) return Pervade(code, nullptr, right);
  return MonadicSimple(code, right);
}

KernelEnvironment FetchKernelEnvironment(const ScalarKernel& kernel) {
  KernelEnvironment env;
  if (kernel.tolerant) {
    if (CurrentFloatRepresentation() == 1287) {
      env.decimalTolerance = FetchDecimalTolerance();
      env.tolerance = DoubleFromDecimal(env.decimalTolerance);
    } else {
      env.tolerance = ComparisonTolerance();
    }
  }
  if (kernel.continuation == kScalarDivide) env.divisionMethod = DivisionMethod();
  return env;
}

const ScalarKernel* SelectOperatorKernel(uint32_t code, ElementType left, ElementType right, bool reduction) {
  if (code >= kDyadicScalarCodes) return nullptr;
  const KernelTable& table = CurrentKernelSet().dyadic;
  const ScalarPrimitive& p = table.primitives[code];
  if (p.lastKernel == kNotScalar) return nullptr;
  uint32_t k = p.typeMap[GoverningType(left, right)];
  if (reduction)
    for (uint32_t j = k; j <= p.lastKernel; ++j)
      if (table.kernels[j].mapping == kMapPreferred) return &table.kernels[j];
  return &table.kernels[k];
}

void ClearKernelStatus(const ScalarKernel& kernel) { ClearStatus(kernel); }
bool PassesKernelPostCheck(const ScalarKernel& kernel, Ref result) { return PassesPostCheck(kernel, result); }

const ScalarKernel* NextOperatorKernel(const ScalarKernel* kernel) {
  const KernelTable* table = TableHolding(kernel);
  if (!table) return nullptr;
  uint32_t last = table->primitives[kernel->continuation].lastKernel;
  for (uint32_t k = static_cast<uint32_t>(kernel - table->kernels) + 1; k <= last; ++k)
    if (table->kernels[k].input == kernel->result) return &table->kernels[k];
  return nullptr;
}

}  // namespace vantor
