// Decimal floating-point arithmetic for ⎕FR 1287: the per-element operations of the decimal kernels
// (IEEE 754 decimal128 values in the binary-integer encoding, computed by the Intel decimal library),
// the conversions between decimal and the other numeric element types, and each operating-system
// thread's decimal status flags, which the scalar engine's post-checks read after a kernel has run.
#pragma once
#include <cstdint>

#include "memory/decimal.h"
#include "memory/eltype.h"

namespace vantor {

// ---- Status --------------------------------------------------------------------------------------
// Every operation below that can round, overflow or fail records it in the calling thread's status
// (thread-local, so worker threads running slices of one kernel never see each other's flags).
// Comparisons never touch it.

// The calling thread's status flags (BID_INVALID_EXCEPTION, BID_ZERO_DIVIDE_EXCEPTION, ...).
_IDEC_flags& DecimalStatus();
// Clears the flags the post-checks look at: invalid operation, division by zero, overflow and
// underflow.
void ClearDecimalStatus();
// True when an operation since the last clear was invalid, divided by zero or overflowed: the
// decimal equivalent of a floating-point exception.
bool DecimalExceptionRaised();

// ---- Constants and tests -------------------------------------------------------------------------

Decimal DecimalFromInt(int64_t value);  // exact
bool IsDecimalFinite(Decimal x);
bool IsDecimalZero(Decimal x);
bool IsDecimalNegative(Decimal x);  // sign bit set (¯0 included)
// True when the value is an integer (exactly).
bool IsDecimalInteger(Decimal x);
// Bitwise copies in and out of an element's 16 bytes (decimal elements are 16-byte aligned, but a
// caller reading through a byte pointer need not rely on it).
Decimal LoadDecimal(const void* element);
void StoreDecimal(void* element, Decimal x);

// ---- Conversions ---------------------------------------------------------------------------------

// The shortest decimal digits that read back as the same double (0.1 becomes exactly 0.1, not the
// binary value's 55 digits).
Decimal DecimalFromDouble(double value);
// The nearest double. DOMAIN ERROR when the decimal is beyond the double range.
double DoubleFromDecimal(Decimal x);
// The integer a decimal stands for when it lies within a relative 1E¯14 of one (an absolute 1E¯14
// near 0), and that integer lies in [low, high]; otherwise DOMAIN ERROR.
int64_t IntegerFromDecimal(Decimal x, int64_t low, int64_t high);
// 0 for a value within 1E¯14 of 0, 1 for a value strictly between 0.99999999999999 and
// 1.00000000000001; otherwise DOMAIN ERROR.
bool BooleanFromDecimal(Decimal x);

// ---- The tolerance -------------------------------------------------------------------------------
// ⎕DCT as the decimal kernels use it: the engine fetches it once per call of a tolerant kernel.
Decimal FetchDecimalTolerance();

// ---- Dyadic operations ---------------------------------------------------------------------------
// Rounded to 34 digits, half even. A result that is not finite (overflow, 0×∞ and the like) is left
// in the status for the post-checks.

Decimal DecimalAdd(Decimal a, Decimal b);
Decimal DecimalSubtract(Decimal a, Decimal b);
Decimal DecimalMultiply(Decimal a, Decimal b);
// a÷b as the library gives it: a zero divisor raises the division-by-zero flag.
Decimal DecimalDivide(Decimal a, Decimal b);
// a÷b with the ⎕DIV rule for a zero divisor: 0÷0 is 1 and a÷0 DOMAIN ERROR ("Divide by zero")
// when divisionMethod is 0; both 0 when it is 1.
Decimal DecimalDivideChecked(Decimal a, Decimal b, uint32_t divisionMethod);
Decimal DecimalMax(Decimal a, Decimal b);
Decimal DecimalMin(Decimal a, Decimal b);
// a|b, tolerant: 0 when b÷a is within the tolerance of an integer.
Decimal DecimalResidue(Decimal a, Decimal b, Decimal tolerance);
// a*b: an integer exponent by repeated squaring (exact when the result fits 34 digits), an
// exponent of exactly 0.5 by the square root, otherwise the library's power. A negative base with a
// fractional exponent raises the invalid flag: the real kernel gives up and the complex one runs.
Decimal DecimalPower(Decimal a, Decimal b);
// a*n for an integer n.
Decimal DecimalIntegerPower(Decimal a, int64_t n);
// a⍟b = (⍟b)÷⍟a.
Decimal DecimalLogarithmBase(Decimal a, Decimal b);
// a!b, the binomial coefficient: exact for integers (with the usual signs and zeros for negative
// integers), otherwise through the gamma function. DOMAIN ERROR for an infinite result.
Decimal DecimalBinomial(Decimal a, Decimal b);
// a○b for a = ¯12 … 12 (an integer by the 1E¯14 rule, else DOMAIN ERROR). The functions whose result
// is complex for these arguments raise the invalid flag so that the complex kernel takes over.
Decimal DecimalCircle(Decimal a, Decimal b);
// GCD and LCM: exact on integers; on other values through continued-fraction approximations that
// stop within the tolerance. DOMAIN ERROR when an approximation fails.
Decimal DecimalGcd(Decimal a, Decimal b, Decimal tolerance);
Decimal DecimalLcm(Decimal a, Decimal b, Decimal tolerance);

// Tolerant comparisons (a t b), with the same formulas as the binary64 kernels:
// a = b when |a−b| ≤ t×max(|a|,|b|); a ≤ b when a ≤ b or a−b ≤ t×max(a,−b); a ≥ b symmetrically;
// < > ≠ are the negations of ≥ ≤ =.
bool DecimalEqual(Decimal a, Decimal b, Decimal tolerance);
bool DecimalLessEqual(Decimal a, Decimal b, Decimal tolerance);
bool DecimalGreaterEqual(Decimal a, Decimal b, Decimal tolerance);
// Exact ordering, for sorting and for the monadic kernels.
bool DecimalLess(Decimal a, Decimal b);

// ---- Monadic operations --------------------------------------------------------------------------

Decimal DecimalNegate(Decimal x);
Decimal DecimalMagnitude(Decimal x);
int8_t DecimalDirection(Decimal x);  // ¯1, 0 or 1
// ÷x with the ⎕DIV rule for 0.
Decimal DecimalReciprocal(Decimal x, uint32_t divisionMethod);
// Tolerant floor and ceiling (exact with a zero tolerance).
Decimal DecimalFloor(Decimal x, Decimal tolerance);
Decimal DecimalCeiling(Decimal x, Decimal tolerance);
Decimal DecimalExp(Decimal x);
// ⍟x; a negative x raises the invalid flag (the complex kernel takes over).
Decimal DecimalLog(Decimal x);
// !x: exact products for integers, Γ(x+1) otherwise; DOMAIN ERROR for a negative integer.
Decimal DecimalFactorial(Decimal x);
// ○x (π times).
Decimal DecimalPiTimes(Decimal x);

// ---- Element operations in the scalar engine's shape -------------------------------------------
// The decimal kernels of the ⎕FR 1287 set are DyadicStream<Op>, DyadicVector<Op>, MonadicStream<Op>
// and MonadicVector<Op> (arith.h) over these; the engine's 1287 kernel tables in arith.cpp list them
// with their post-checks and restart flags. Each Compute reads the tolerance and ⎕DIV from the
// call's KernelEnvironment and leaves overflow and invalid operations in DecimalStatus() for the
// kernel's post-check; only the kernels that produce integers give up through `giveUp`.
struct KernelEnvironment;

template <class InType, class OutType>
struct DecimalOpTypes {
  using In = InType;
  using Out = OutType;
};
using DecimalToDecimal = DecimalOpTypes<Decimal, Decimal>;
using DecimalToBool = DecimalOpTypes<Decimal, bool>;
using DecimalToInt8 = DecimalOpTypes<Decimal, int8_t>;
using DecimalToInt32 = DecimalOpTypes<Decimal, int32_t>;

#define VANTOR_DECIMAL_DYADIC(Name, Types) \
  struct Name : Types { static Out Compute(In a, In b, const KernelEnvironment& env, bool& giveUp); }
#define VANTOR_DECIMAL_MONADIC(Name, Types) \
  struct Name : Types { static Out Compute(In b, const KernelEnvironment& env, bool& giveUp); }

VANTOR_DECIMAL_DYADIC(DecimalAddOp, DecimalToDecimal);          // +
VANTOR_DECIMAL_DYADIC(DecimalSubtractOp, DecimalToDecimal);     // -
VANTOR_DECIMAL_DYADIC(DecimalMultiplyOp, DecimalToDecimal);     // ×
VANTOR_DECIMAL_DYADIC(DecimalDivideOp, DecimalToDecimal);       // ÷ first try: a zero divisor raises a flag
VANTOR_DECIMAL_DYADIC(DecimalDivideCheckedOp, DecimalToDecimal);  // ÷ after it: the ⎕DIV rule
VANTOR_DECIMAL_DYADIC(DecimalMaxOp, DecimalToDecimal);          // ⌈
VANTOR_DECIMAL_DYADIC(DecimalMinOp, DecimalToDecimal);          // ⌊
VANTOR_DECIMAL_DYADIC(DecimalPowerOp, DecimalToDecimal);        // * (integer exponents included)
VANTOR_DECIMAL_DYADIC(DecimalLogOp, DecimalToDecimal);          // ⍟
VANTOR_DECIMAL_DYADIC(DecimalResidueOp, DecimalToDecimal);      // |, tolerant
VANTOR_DECIMAL_DYADIC(DecimalBinomialOp, DecimalToDecimal);     // !
VANTOR_DECIMAL_DYADIC(DecimalCircleOp, DecimalToDecimal);       // ○
VANTOR_DECIMAL_DYADIC(DecimalGcdOp, DecimalToDecimal);          // ∨, tolerant
VANTOR_DECIMAL_DYADIC(DecimalLcmOp, DecimalToDecimal);          // ∧, tolerant
VANTOR_DECIMAL_DYADIC(DecimalLessOp, DecimalToBool);            // < ≤ = ≥ > ≠, tolerant
VANTOR_DECIMAL_DYADIC(DecimalLessEqualOp, DecimalToBool);
VANTOR_DECIMAL_DYADIC(DecimalEqualOp, DecimalToBool);
VANTOR_DECIMAL_DYADIC(DecimalGreaterEqualOp, DecimalToBool);
VANTOR_DECIMAL_DYADIC(DecimalGreaterOp, DecimalToBool);
VANTOR_DECIMAL_DYADIC(DecimalNotEqualOp, DecimalToBool);

VANTOR_DECIMAL_MONADIC(DecimalNegateOp, DecimalToDecimal);                    // -
VANTOR_DECIMAL_MONADIC(DecimalDirectionOp, DecimalToInt8);  // ×
VANTOR_DECIMAL_MONADIC(DecimalReciprocalOp, DecimalToDecimal);                // ÷, ⎕DIV rule
// ⌈ ⌊ and the hidden ⌊0.5+⍵: first into 32-bit integers (giving up when one does not fit), then
// into decimals.
VANTOR_DECIMAL_MONADIC(DecimalCeilingToIntOp, DecimalToInt32);
VANTOR_DECIMAL_MONADIC(DecimalFloorToIntOp, DecimalToInt32);
VANTOR_DECIMAL_MONADIC(DecimalRoundHalfToIntOp, DecimalToInt32);
VANTOR_DECIMAL_MONADIC(DecimalCeilingOp, DecimalToDecimal);
VANTOR_DECIMAL_MONADIC(DecimalFloorOp, DecimalToDecimal);
VANTOR_DECIMAL_MONADIC(DecimalRoundHalfOp, DecimalToDecimal);
VANTOR_DECIMAL_MONADIC(DecimalExpOp, DecimalToDecimal);        // *
VANTOR_DECIMAL_MONADIC(DecimalLnOp, DecimalToDecimal);         // ⍟ (invalid for a negative: complex)
VANTOR_DECIMAL_MONADIC(DecimalMagnitudeOp, DecimalToDecimal);  // |
VANTOR_DECIMAL_MONADIC(DecimalFactorialOp, DecimalToDecimal);  // !
VANTOR_DECIMAL_MONADIC(DecimalPiTimesOp, DecimalToDecimal);    // ○

#undef VANTOR_DECIMAL_DYADIC
#undef VANTOR_DECIMAL_MONADIC

}  // namespace vantor
