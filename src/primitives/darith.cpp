// Decimal floating-point arithmetic for ⎕FR 1287: per-element operations over IEEE 754 decimal128
// values through the Intel decimal library (call-by-value build, rounding half even, status flags
// passed per call), and the conversions to and from the other numeric types. See docs/decimal.md.
#include "primitives/darith.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "format/disp1.h"
#include "base/errors.h"
#include "primitives/arith.h"
#include "sysfns/quadvar.h"

namespace vantor {

static constexpr char kUnit[] = "darith";
static constexpr _IDEC_round kRound = BID_ROUNDING_TO_NEAREST;  // half even
static constexpr _IDEC_flags kPostCheckFlags =
    BID_INVALID_EXCEPTION | BID_ZERO_DIVIDE_EXCEPTION | BID_OVERFLOW_EXCEPTION | BID_UNDERFLOW_EXCEPTION;
static constexpr _IDEC_flags kExceptionFlags =
    BID_INVALID_EXCEPTION | BID_ZERO_DIVIDE_EXCEPTION | BID_OVERFLOW_EXCEPTION;

// ---- Status --------------------------------------------------------------------------------------

static thread_local _IDEC_flags t_status = 0;

_IDEC_flags& DecimalStatus() { return t_status; }
void ClearDecimalStatus() { t_status &= ~kPostCheckFlags; }
bool DecimalExceptionRaised() { return (t_status & kExceptionFlags) != 0; }

// Marks the current operation as one the real kernel cannot do (the complex kernel takes over).
static Decimal GiveUp() {
  t_status |= BID_INVALID_EXCEPTION;
  return bid128_nan(nullptr);
}

static Decimal Overflowed() {
  t_status |= BID_OVERFLOW_EXCEPTION;
  return bid128_inf();
}

// ---- Constants and tests -------------------------------------------------------------------------

Decimal DecimalFromInt(int64_t value) { return bid128_from_int64(value); }

__extension__ typedef unsigned __int128 Uint128;

// significand × 10^exponent, for a significand below 10^34 and an exponent within the format: the
// encoding written directly, so the constants below need no library call at start-up.
static constexpr Decimal Parts(Uint128 significand, int exponent, bool negative = false) {
  Decimal x{};
  x.w[0] = static_cast<uint64_t>(significand);
  x.w[1] = (static_cast<uint64_t>(negative) << 63) | (static_cast<uint64_t>(exponent + 6176) << 49) |
           static_cast<uint64_t>(significand >> 64);
  return x;
}

static constexpr Decimal kZero = Parts(0, 0);
static constexpr Decimal kOne = Parts(1, 0);
static constexpr Decimal kMinusOne = Parts(1, 0, true);
static constexpr Decimal kHalf = Parts(5, -1);
static constexpr Decimal kPi = Parts(static_cast<Uint128>(3141592653589793238ull) * 1000000000000000ull + 462643383279503ull, -33);
static constexpr Decimal kNearIntegerTolerance = Parts(1, -14);
static constexpr Decimal kBooleanLow = Parts(99999999999999, -14);
static constexpr Decimal kBooleanHigh = Parts(100000000000001, -14);
// Beyond this magnitude the arcosh form (b+1)×√((b−1)÷(b+1)) equals b to 34 digits.
static constexpr Decimal kArcoshIsIdentity = Parts(1, 17);
static constexpr Decimal kInt32Low = Parts(2147483648u, 0, true);
static constexpr Decimal kInt32High = Parts(2147483647u, 0);

bool IsDecimalFinite(Decimal x) { return bid128_isFinite(x); }
bool IsDecimalZero(Decimal x) { return bid128_isZero(x); }
bool IsDecimalNegative(Decimal x) { return bid128_isSigned(x); }

// Comparisons and the other exact operations use flags of their own: they never fail on the finite
// values arrays hold, and must not disturb the kernel's status.
static bool Less(Decimal a, Decimal b) {
  _IDEC_flags flags = 0;
  return bid128_quiet_less(a, b, &flags);
}
static bool LessEqual(Decimal a, Decimal b) {
  _IDEC_flags flags = 0;
  return bid128_quiet_less_equal(a, b, &flags);
}
static bool Equal(Decimal a, Decimal b) {
  _IDEC_flags flags = 0;
  return bid128_quiet_equal(a, b, &flags);
}
static Decimal Nearest(Decimal x) {
  _IDEC_flags flags = 0;
  return bid128_round_integral_nearest_even(x, &flags);
}
static Decimal Floor(Decimal x) {
  _IDEC_flags flags = 0;
  return bid128_round_integral_negative(x, &flags);
}
static Decimal Abs(Decimal x) { return bid128_abs(x); }
static Decimal Negate(Decimal x) { return bid128_negate(x); }
static Decimal Max(Decimal a, Decimal b) { return Less(a, b) ? b : a; }

bool IsDecimalInteger(Decimal x) { return IsDecimalFinite(x) && Equal(Nearest(x), x); }

Decimal LoadDecimal(const void* element) {
  Decimal x;
  std::memcpy(&x, element, sizeof x);
  return x;
}
void StoreDecimal(void* element, Decimal x) { std::memcpy(element, &x, sizeof x); }

// The kernels' arithmetic, recording in the thread's status.
Decimal DecimalAdd(Decimal a, Decimal b) { return bid128_add(a, b, kRound, &t_status); }
Decimal DecimalSubtract(Decimal a, Decimal b) { return bid128_sub(a, b, kRound, &t_status); }
Decimal DecimalMultiply(Decimal a, Decimal b) { return bid128_mul(a, b, kRound, &t_status); }
Decimal DecimalDivide(Decimal a, Decimal b) { return bid128_div(a, b, kRound, &t_status); }

// ---- Conversions ---------------------------------------------------------------------------------

Decimal DecimalFromDouble(double value) {
  if (value == 0) return kZero;
  NumberDigits d = DigitsOfDouble(value, kMaxPrintPrecision);  // at most 17 digits: fits 64 bits
  uint64_t significand = 0;
  for (uint8_t i = 0; i < d.count; ++i) significand = significand * 10 + static_cast<uint64_t>(d.digits[i] - '0');
  return Parts(significand, d.exponent - d.count, d.negative);
}

double DoubleFromDecimal(Decimal x) {
  _IDEC_flags flags = 0;
  double value = bid128_to_binary64(x, kRound, &flags);
  if (!std::isfinite(value)) SIGNAL(kDomainError);
  return value;
}

int64_t IntegerFromDecimal(Decimal x, int64_t low, int64_t high) {
  Decimal r = Nearest(x);
  _IDEC_flags flags = 0;
  Decimal distance = Abs(bid128_sub(x, r, kRound, &flags));
  Decimal allowed = bid128_mul(kNearIntegerTolerance, Max(Abs(x), kOne), kRound, &flags);
  if (!IsDecimalFinite(x) || !LessEqual(distance, allowed) || Less(r, DecimalFromInt(low)) ||
      Less(DecimalFromInt(high), r))
    SIGNAL(kDomainError);
  return bid128_to_int64_rnint(r, &flags);
}

bool BooleanFromDecimal(Decimal x) {
  if (LessEqual(Abs(x), kNearIntegerTolerance)) return false;
  if (Less(kBooleanLow, x) && Less(x, kBooleanHigh)) return true;
  SIGNAL(kDomainError);
}

Decimal FetchDecimalTolerance() {
  Ref value = ReadSystemVariable(kQuadDCT);  // always a decimal scalar (the assignment makes it one)
  Decimal t = LoadDecimal(DataOf<uint8_t>(value));
  Release(value);
  return t;
}

// ---- Division and the ⎕DIV rule ------------------------------------------------------------------

// The quotient of a zero divisor: 1 for 0÷0 and DOMAIN ERROR otherwise under ⎕DIV 0; 0 under ⎕DIV 1.
static Decimal ZeroDivisorQuotient(Decimal dividend, uint32_t divisionMethod) {
  if (divisionMethod == 1) return kZero;
  if (IsDecimalZero(dividend)) return kOne;
  SIGNAL_MESSAGE(kDomainError, U"Divide by zero");
}

Decimal DecimalDivideChecked(Decimal a, Decimal b, uint32_t divisionMethod) {
  if (IsDecimalZero(b)) return ZeroDivisorQuotient(a, divisionMethod);
  return DecimalDivide(a, b);
}

Decimal DecimalReciprocal(Decimal x, uint32_t divisionMethod) {
  if (IsDecimalZero(x)) return ZeroDivisorQuotient(kOne, divisionMethod);
  return DecimalDivide(kOne, x);
}

// ---- Maximum, minimum, floor, ceiling, residue ---------------------------------------------------

Decimal DecimalMax(Decimal a, Decimal b) { return Max(a, b); }
Decimal DecimalMin(Decimal a, Decimal b) { return Less(b, a) ? b : a; }

// The tolerant floor: with r the nearest integer, x itself is floored to r when it lies below r by
// no more than the tolerance relative to r (or to x for negative r; absolutely when r is 0).
Decimal DecimalFloor(Decimal x, Decimal tolerance) {
  if (IsDecimalZero(tolerance)) return DecimalAdd(Floor(x), kZero);  // + 0 turns ¯0 into 0
  Decimal r = Nearest(x);
  if (LessEqual(r, x)) return DecimalAdd(r, kZero);
  _IDEC_flags flags = 0;
  Decimal below = bid128_sub(r, x, kRound, &flags);
  Decimal scale = IsDecimalZero(r) ? kOne : Less(kZero, r) ? r : Abs(x);
  bool withinTolerance = LessEqual(below, bid128_mul(scale, tolerance, kRound, &flags));
  return withinTolerance ? DecimalAdd(r, kZero) : bid128_sub(r, kOne, kRound, &flags);
}

Decimal DecimalCeiling(Decimal x, Decimal tolerance) {
  return DecimalSubtract(kZero, DecimalFloor(Negate(x), tolerance));
}

Decimal DecimalResidue(Decimal a, Decimal b, Decimal tolerance) {
  if (IsDecimalZero(a)) return b;
  if (IsDecimalZero(b)) return kZero;
  _IDEC_flags flags = 0;
  Decimal q = bid128_div(b, a, kRound, &flags);
  if (IsDecimalZero(q)) q = IsDecimalNegative(a) == IsDecimalNegative(b) ? b : kZero;  // underflow
  if (!IsDecimalFinite(q)) return kZero;
  Decimal r = Nearest(q);
  Decimal distance = Abs(bid128_sub(q, r, kRound, &flags));
  bool nearInteger = IsDecimalZero(r)
                         ? Less(Abs(q), tolerance)
                         : LessEqual(distance, bid128_mul(tolerance, Max(Abs(q), Abs(r)), kRound, &flags));
  if (nearInteger) return kZero;
  Decimal result = bid128_fma(Negate(a), Floor(q), b, kRound, &flags);  // b − a×⌊q, rounded once
  if (!IsDecimalFinite(result)) SIGNAL(kDomainError);
  return result;
}

// ---- Comparisons ---------------------------------------------------------------------------------

bool DecimalEqual(Decimal a, Decimal b, Decimal tolerance) {
  if (Equal(a, b)) return true;
  _IDEC_flags flags = 0;
  Decimal distance = Abs(bid128_sub(a, b, kRound, &flags));
  return LessEqual(distance, bid128_mul(tolerance, Max(Abs(a), Abs(b)), kRound, &flags));
}

bool DecimalLessEqual(Decimal a, Decimal b, Decimal tolerance) {
  if (LessEqual(a, b)) return true;
  _IDEC_flags flags = 0;
  Decimal excess = bid128_sub(a, b, kRound, &flags);
  return LessEqual(excess, bid128_mul(tolerance, Max(a, Negate(b)), kRound, &flags));
}

bool DecimalGreaterEqual(Decimal a, Decimal b, Decimal tolerance) { return DecimalLessEqual(b, a, tolerance); }
bool DecimalLess(Decimal a, Decimal b) { return Less(a, b); }

// ---- Monadic operations --------------------------------------------------------------------------

Decimal DecimalNegate(Decimal x) { return DecimalSubtract(kZero, x); }
Decimal DecimalMagnitude(Decimal x) { return Abs(x); }
int8_t DecimalDirection(Decimal x) {
  if (IsDecimalZero(x)) return 0;
  return IsDecimalNegative(x) ? -1 : 1;
}
Decimal DecimalExp(Decimal x) { return bid128_exp(x, kRound, &t_status); }
Decimal DecimalLog(Decimal x) { return bid128_log(x, kRound, &t_status); }
Decimal DecimalPiTimes(Decimal x) { return DecimalMultiply(kPi, x); }

// ---- Power and logarithm -------------------------------------------------------------------------

Decimal DecimalIntegerPower(Decimal a, int64_t n) {
  uint64_t k = n < 0 ? 0 - static_cast<uint64_t>(n) : static_cast<uint64_t>(n);
  Decimal result = kOne;
  Decimal square = a;
  while (k != 0) {
    if (k & 1) result = DecimalMultiply(result, square);
    k >>= 1;
    if (k != 0) square = DecimalMultiply(square, square);
  }
  return n < 0 ? DecimalDivide(kOne, result) : result;
}

// The value of an integral decimal as int64 when it has one.
static bool FitsInt64(Decimal x, int64_t& out) {
  static constexpr Decimal kLimit = Parts(9, 18);
  if (!IsDecimalInteger(x) || !Less(Abs(x), kLimit)) return false;
  _IDEC_flags flags = 0;
  out = bid128_to_int64_int(x, &flags);
  return true;
}

Decimal DecimalPower(Decimal a, Decimal b) {
  int64_t n;
  if (FitsInt64(b, n)) return DecimalIntegerPower(a, n);
  if (Equal(b, kHalf)) return bid128_sqrt(a, kRound, &t_status);
  return bid128_pow(a, b, kRound, &t_status);
}

Decimal DecimalLogarithmBase(Decimal a, Decimal b) { return DecimalDivide(DecimalLog(b), DecimalLog(a)); }

// ---- Factorial and binomial ----------------------------------------------------------------------

// The product of the integers from `first` to `last` (1 when empty). Past the largest decimal the
// product has overflowed and the loop stops.
static Decimal Product(int64_t first, int64_t last) {
  Decimal result = kOne;
  for (int64_t i = first; i <= last && IsDecimalFinite(result); ++i) result = DecimalMultiply(result, DecimalFromInt(i));
  return result;
}

// 7000! is far beyond the largest decimal (about 1E6145); larger counts are not multiplied out.
static constexpr int64_t kFactorialOverflows = 7000;

Decimal DecimalFactorial(Decimal x) {
  int64_t n;
  if (FitsInt64(x, n)) {
    if (n < 0) SIGNAL(kDomainError);
    return n >= kFactorialOverflows ? Overflowed() : Product(2, n);
  }
  if (IsDecimalInteger(x)) {  // beyond int64
    if (IsDecimalNegative(x)) SIGNAL(kDomainError);
    return Overflowed();
  }
  return bid128_tgamma(DecimalAdd(x, kOne), kRound, &t_status);
}

// n!k… the binomial coefficient C(n, k) for 0 ≤ k ≤ n, multiplied and divided step by step so
// that every partial result C(n−k+i, i) is an integer.
static Decimal Choose(int64_t n, int64_t k) {
  k = std::min(k, n - k);
  if (k >= kFactorialOverflows) return Overflowed();
  Decimal result = kOne;
  for (int64_t i = 1; i <= k && IsDecimalFinite(result); ++i)
    result = DecimalDivide(DecimalMultiply(result, DecimalFromInt(n - k + i)), DecimalFromInt(i));
  return result;
}

static Decimal Signed(Decimal x, bool negative) { return negative ? Negate(x) : x; }

// A!B for integers: C(B, A) extended to negative arguments the way the gamma-function limits go.
static Decimal IntegerBinomial(int64_t a, int64_t b) {
  if (a >= 0 && b >= 0) return b < a ? kZero : Choose(b, a);
  if (a >= 0) return Signed(Choose(a - b - 1, a), a & 1);             // b < 0
  if (b >= 0 || b < a) return kZero;                                  // a < 0
  return Signed(Choose(-a - 1, b - a), (b - a) & 1);                  // a ≤ b < 0
}

// True when Γ has a pole at x (0 or a negative integer).
static bool GammaPole(Decimal x) { return IsDecimalInteger(x) && LessEqual(x, kZero); }

Decimal DecimalBinomial(Decimal a, Decimal b) {
  int64_t ia, ib;
  static constexpr Decimal kIntegerRange = Parts(1, 15);
  if (FitsInt64(a, ia) && FitsInt64(b, ib) && Less(Abs(a), kIntegerRange) && Less(Abs(b), kIntegerRange))
    return IntegerBinomial(ia, ib);
  Decimal top = DecimalAdd(b, kOne);
  Decimal left = DecimalAdd(a, kOne);
  Decimal right = DecimalAdd(DecimalSubtract(b, a), kOne);
  bool topPole = GammaPole(top);
  if (GammaPole(left) || GammaPole(right)) {
    if (!topPole) return kZero;
  } else if (topPole) {
    SIGNAL(kDomainError);
  }
  Decimal denominator = DecimalMultiply(bid128_tgamma(left, kRound, &t_status), bid128_tgamma(right, kRound, &t_status));
  return DecimalDivide(bid128_tgamma(top, kRound, &t_status), denominator);
}

// ---- Circle functions ----------------------------------------------------------------------------

static Decimal SquareRoot(Decimal x) { return bid128_sqrt(x, kRound, &t_status); }

// ¯4○b: (b+1)×√((b−1)÷(b+1)), complex inside (¯1, 1).
static Decimal Arcosh4(Decimal b) {
  if (Equal(b, kMinusOne)) return kZero;
  if (Less(Abs(b), kOne)) return GiveUp();
  if (Less(kArcoshIsIdentity, Abs(b))) return b;
  Decimal above = DecimalAdd(b, kOne);
  return DecimalMultiply(above, SquareRoot(DecimalDivide(DecimalSubtract(b, kOne), above)));
}

Decimal DecimalCircle(Decimal a, Decimal b) {
  switch (IntegerFromDecimal(a, -12, 12)) {
    case 0: return SquareRoot(DecimalMultiply(DecimalSubtract(kOne, b), DecimalAdd(kOne, b)));
    case 1: return bid128_sin(b, kRound, &t_status);
    case 2: return bid128_cos(b, kRound, &t_status);
    case 3: return bid128_tan(b, kRound, &t_status);
    case 4: return bid128_hypot(kOne, b, kRound, &t_status);
    case 5: return bid128_sinh(b, kRound, &t_status);
    case 6: return bid128_cosh(b, kRound, &t_status);
    case 7: return bid128_tanh(b, kRound, &t_status);
    case 8: return GiveUp();  // √(¯1−b²) is imaginary for every real b
    case 9: return b;
    case 10: return Abs(b);
    case 11: return kZero;
    case 12: return IsDecimalNegative(b) && !IsDecimalZero(b) ? kPi : kZero;
    case -1: return bid128_asin(b, kRound, &t_status);
    case -2: return bid128_acos(b, kRound, &t_status);
    case -3: return bid128_atan(b, kRound, &t_status);
    case -4: return Arcosh4(b);
    case -5: return bid128_asinh(b, kRound, &t_status);
    case -6: return bid128_acosh(b, kRound, &t_status);
    case -7: return bid128_atanh(b, kRound, &t_status);
    case -9: case -10: return b;
    default: return GiveUp();  // ¯8 ¯11 ¯12: complex results
  }
}

// ---- GCD and LCM ---------------------------------------------------------------------------------

// Euclid's algorithm on integral decimals (the remainder of integers is exact).
static Decimal IntegerGcd(Decimal a, Decimal b) {
  _IDEC_flags flags = 0;
  a = Abs(a);
  b = Abs(b);
  while (!IsDecimalZero(b)) {
    Decimal r = bid128_fmod(a, b, &flags);
    a = b;
    b = r;
  }
  return a;
}

struct Fraction {
  Decimal numerator;
  Decimal denominator;
};

// Enough continued-fraction terms for any 34-digit value: each term at least doubles the
// denominator of the nearest-integer expansion.
static constexpr int kFractionTerms = 120;

// p/q ≈ x ≥ 0 by the nearest-integer continued fraction, stopping at the first convergent within the
// tolerance. DOMAIN ERROR when the expansion fails.
static Fraction ApproximateFraction(Decimal x, Decimal tolerance) {
  _IDEC_flags flags = 0;
  Decimal h = kOne, hBefore = kZero, k = kZero, kBefore = kOne;
  Decimal y = x;
  Decimal allowed = bid128_mul(tolerance, x, kRound, &flags);
  for (int term = 0; term < kFractionTerms; ++term) {
    Decimal whole = Nearest(y);
    Decimal hNext = bid128_fma(whole, h, hBefore, kRound, &flags);
    Decimal kNext = bid128_fma(whole, k, kBefore, kRound, &flags);
    hBefore = h, h = hNext, kBefore = k, k = kNext;
    Decimal error = Abs(bid128_sub(x, bid128_div(h, k, kRound, &flags), kRound, &flags));
    Decimal rest = bid128_sub(y, whole, kRound, &flags);
    if (flags & kExceptionFlags) break;
    if (IsDecimalZero(rest) || LessEqual(error, allowed)) return {Abs(h), Abs(k)};
    y = bid128_div(kOne, rest, kRound, &flags);
  }
  SIGNAL(kDomainError);
}

Decimal DecimalGcd(Decimal a, Decimal b, Decimal tolerance) {
  if (IsDecimalZero(a)) return Abs(b);
  if (IsDecimalZero(b)) return Abs(a);
  if (IsDecimalInteger(a) && IsDecimalInteger(b)) return IntegerGcd(a, b);
  Fraction p = ApproximateFraction(Abs(a), tolerance);
  Fraction q = ApproximateFraction(Abs(b), tolerance);
  Decimal denominators = IntegerGcd(p.denominator, q.denominator);
  Decimal commonDenominator = DecimalMultiply(p.denominator, DecimalDivide(q.denominator, denominators));
  return DecimalDivide(IntegerGcd(p.numerator, q.numerator), commonDenominator);
}

Decimal DecimalLcm(Decimal a, Decimal b, Decimal tolerance) {
  Decimal gcd = DecimalGcd(a, b, tolerance);
  if (IsDecimalZero(gcd)) return kZero;
  return DecimalMultiply(a, DecimalDivide(b, gcd));
}

// ---- The element operations of the decimal kernels -----------------------------------------------

static Decimal RoundHalf(Decimal b, Decimal tolerance) { return DecimalFloor(DecimalAdd(b, kHalf), tolerance); }

// A decimal integer as a 32-bit integer; gives up when it does not fit.
static int32_t ToInt32(Decimal x, bool& giveUp) {
  if (!IsDecimalFinite(x) || Less(x, kInt32Low) || Less(kInt32High, x)) {
    giveUp = true;
    return 0;
  }
  _IDEC_flags flags = 0;
  return bid128_to_int32_int(x, &flags);
}

using Env = KernelEnvironment;

Decimal DecimalAddOp::Compute(Decimal a, Decimal b, const Env&, bool&) { return DecimalAdd(a, b); }
Decimal DecimalSubtractOp::Compute(Decimal a, Decimal b, const Env&, bool&) { return DecimalSubtract(a, b); }
Decimal DecimalMultiplyOp::Compute(Decimal a, Decimal b, const Env&, bool&) { return DecimalMultiply(a, b); }
Decimal DecimalDivideOp::Compute(Decimal a, Decimal b, const Env&, bool&) { return DecimalDivide(a, b); }
Decimal DecimalDivideCheckedOp::Compute(Decimal a, Decimal b, const Env& env, bool&) {
  return DecimalDivideChecked(a, b, env.divisionMethod);
}
Decimal DecimalMaxOp::Compute(Decimal a, Decimal b, const Env&, bool&) { return DecimalMax(a, b); }
Decimal DecimalMinOp::Compute(Decimal a, Decimal b, const Env&, bool&) { return DecimalMin(a, b); }
Decimal DecimalPowerOp::Compute(Decimal a, Decimal b, const Env&, bool&) { return DecimalPower(a, b); }
Decimal DecimalLogOp::Compute(Decimal a, Decimal b, const Env&, bool&) { return DecimalLogarithmBase(a, b); }
Decimal DecimalResidueOp::Compute(Decimal a, Decimal b, const Env& env, bool&) {
  return DecimalResidue(a, b, env.decimalTolerance);
}
Decimal DecimalBinomialOp::Compute(Decimal a, Decimal b, const Env&, bool&) { return DecimalBinomial(a, b); }
Decimal DecimalCircleOp::Compute(Decimal a, Decimal b, const Env&, bool&) { return DecimalCircle(a, b); }
Decimal DecimalGcdOp::Compute(Decimal a, Decimal b, const Env& env, bool&) { return DecimalGcd(a, b, env.decimalTolerance); }
Decimal DecimalLcmOp::Compute(Decimal a, Decimal b, const Env& env, bool&) { return DecimalLcm(a, b, env.decimalTolerance); }
bool DecimalLessOp::Compute(Decimal a, Decimal b, const Env& env, bool&) {
  return !DecimalGreaterEqual(a, b, env.decimalTolerance);
}
bool DecimalLessEqualOp::Compute(Decimal a, Decimal b, const Env& env, bool&) {
  return DecimalLessEqual(a, b, env.decimalTolerance);
}
bool DecimalEqualOp::Compute(Decimal a, Decimal b, const Env& env, bool&) { return DecimalEqual(a, b, env.decimalTolerance); }
bool DecimalGreaterEqualOp::Compute(Decimal a, Decimal b, const Env& env, bool&) {
  return DecimalGreaterEqual(a, b, env.decimalTolerance);
}
bool DecimalGreaterOp::Compute(Decimal a, Decimal b, const Env& env, bool&) {
  return !DecimalLessEqual(a, b, env.decimalTolerance);
}
bool DecimalNotEqualOp::Compute(Decimal a, Decimal b, const Env& env, bool&) {
  return !DecimalEqual(a, b, env.decimalTolerance);
}

Decimal DecimalNegateOp::Compute(Decimal b, const Env&, bool&) { return DecimalNegate(b); }
int8_t DecimalDirectionOp::Compute(Decimal b, const Env&, bool&) { return DecimalDirection(b); }
Decimal DecimalReciprocalOp::Compute(Decimal b, const Env& env, bool&) { return DecimalReciprocal(b, env.divisionMethod); }
int32_t DecimalCeilingToIntOp::Compute(Decimal b, const Env& env, bool& giveUp) {
  return ToInt32(DecimalCeiling(b, env.decimalTolerance), giveUp);
}
int32_t DecimalFloorToIntOp::Compute(Decimal b, const Env& env, bool& giveUp) {
  return ToInt32(DecimalFloor(b, env.decimalTolerance), giveUp);
}
int32_t DecimalRoundHalfToIntOp::Compute(Decimal b, const Env& env, bool& giveUp) {
  return ToInt32(RoundHalf(b, env.decimalTolerance), giveUp);
}
Decimal DecimalCeilingOp::Compute(Decimal b, const Env& env, bool&) { return DecimalCeiling(b, env.decimalTolerance); }
Decimal DecimalFloorOp::Compute(Decimal b, const Env& env, bool&) { return DecimalFloor(b, env.decimalTolerance); }
Decimal DecimalRoundHalfOp::Compute(Decimal b, const Env& env, bool&) { return RoundHalf(b, env.decimalTolerance); }
Decimal DecimalExpOp::Compute(Decimal b, const Env&, bool&) { return DecimalExp(b); }
Decimal DecimalLnOp::Compute(Decimal b, const Env&, bool&) { return DecimalLog(b); }
Decimal DecimalMagnitudeOp::Compute(Decimal b, const Env&, bool&) { return DecimalMagnitude(b); }
Decimal DecimalFactorialOp::Compute(Decimal b, const Env&, bool&) { return DecimalFactorial(b); }
Decimal DecimalPiTimesOp::Compute(Decimal b, const Env&, bool&) { return DecimalPiTimes(b); }

}  // namespace vantor
