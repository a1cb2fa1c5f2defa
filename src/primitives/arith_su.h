// The element operations of the scalar kernels for Booleans, 8/16/32-bit integers, binary64 and
// complex numbers: what each scalar primitive computes per element, with the tolerant floor, residue
// and GCD, power and logarithm, factorial and binomial, the circle functions and the ⎕DIV rule. Each
// operation is a struct in the shape arith.h describes; the engine's kernel tables turn them into
// stream and vector kernels. Booleans combine a 32-bit word at a time.
#pragma once
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <numbers>

#include "primitives/arith.h"
#include "primitives/vecmath.h"

namespace vantor {

// ---- Shared rules ------------------------------------------------------------------------------------

// True when APL_COMPLEX_AS_V12 is "1" (read on first use): a negative base with a fractional
// exponent then gives a real result instead of a complex one.
bool ComplexAsV12();

// The nearest integer, ties to even.
inline double NearestInteger(double x) {
  constexpr double kTwo52 = 4503599627370496.0;
  if (!(std::fabs(x) < kTwo52)) return x;
  double shift = std::copysign(kTwo52, x);
  return (x + shift) - shift;
}

// Floor and ceiling within tolerance t (exact with t = 0).
double TolerantFloor(double x, double t);
inline double TolerantCeiling(double x, double t) { return -TolerantFloor(-x, t); }
Complex ComplexFloor(Complex z, double t);
inline Complex ComplexCeiling(Complex z, double t) { return -ComplexFloor(-z, t); }

// a = b when |a−b| ≤ t×max(|a|,|b|); a ≤ b when a ≤ b or a−b ≤ t×max(a,−b). For finite values
// max(a,−b) equals max(|a|,|b|) whenever a > b, so both reduce to one comparison without branches
// and comparison loops vectorise.
inline double LargerMagnitude(double a, double b) {
  double fa = std::fabs(a), fb = std::fabs(b);
  return fa > fb ? fa : fb;
}
inline bool TolerantEqual(double a, double b, double t) { return std::fabs(a - b) <= t * LargerMagnitude(a, b); }
inline bool TolerantLessEqual(double a, double b, double t) { return a - b <= t * LargerMagnitude(a, b); }
bool ComplexTolerantEqual(Complex a, Complex b, double t);

// x÷0 under ⎕DIV: 0÷0 is 1 and x÷0 DOMAIN ERROR "Divide by zero" with ⎕DIV 0; 0 with ⎕DIV 1.
double DivideByZero(bool zeroNumerator, uint32_t divisionMethod);

// Residue A|B.
double FloatResidue(double a, double b, double t);
Complex ComplexResidue(Complex a, Complex b, double t);
template <class T>
inline T IntegerResidue(T a, T b) {
  if (a == 0) return b;
  int64_t r = static_cast<int64_t>(b) % a;
  if (r != 0 && (r < 0) != (a < 0)) r += a;
  return static_cast<T>(r);
}

// GCD and LCM.
int64_t IntegerGcd(int64_t a, int64_t b);
double FloatGcd(double a, double b, double t);
double FloatLcm(double a, double b, double t);
Complex ComplexGcd(Complex a, Complex b, double t);
Complex ComplexLcm(Complex a, Complex b, double t);

// Power and logarithm. FloatPower gives up (for the complex kernel) on a negative base with a
// fractional exponent.
double IntegerPower(double x, int64_t n);
double FloatPower(double a, double b, bool& giveUp);
Complex ComplexPower(Complex a, Complex b);
Complex ComplexLog(Complex z);

// Factorial and binomial; DOMAIN ERROR where they have no finite value.
double Factorial(double x);
double Binomial(double a, double b);
Complex ComplexFactorial(Complex z);
Complex ComplexBinomial(Complex a, Complex b);

// A○B. The function number must be a near-integer from ¯12 to 12 (else DOMAIN ERROR). The real form
// gives up when the result is complex.
double Circle(double a, double b, bool& giveUp);
Complex ComplexCircle(Complex a, Complex b);

// ---- Dyadic operations -------------------------------------------------------------------------------
// Template arguments: A the input type, R the result type.

template <class A, class R = A>
struct Plus {
  using In = A;
  using Out = R;
  static constexpr bool kNeverSignals = true;
  static R Compute(A a, A b, const KernelEnvironment&, bool&) { return static_cast<R>(R(a) + R(b)); }
};
template <class A, class R = A>
struct Minus {
  using In = A;
  using Out = R;
  static constexpr bool kNeverSignals = true;
  static R Compute(A a, A b, const KernelEnvironment&, bool&) { return static_cast<R>(R(a) - R(b)); }
};
template <class A, class R = A>
struct Times {
  using In = A;
  using Out = R;
  static constexpr bool kNeverSignals = true;
  static R Compute(A a, A b, const KernelEnvironment&, bool&) { return static_cast<R>(R(a) * R(b)); }
};

// 32-bit + - × that give up on overflow (written without branches so that they vectorise).
struct PlusInt32 {
  using In = int32_t;
  using Out = int32_t;
  static int32_t Compute(int32_t a, int32_t b, const KernelEnvironment&, bool& giveUp) {
    uint32_t r = static_cast<uint32_t>(a) + static_cast<uint32_t>(b);
    giveUp |= static_cast<bool>(((static_cast<uint32_t>(a) ^ r) & (static_cast<uint32_t>(b) ^ r)) >> 31);
    return static_cast<int32_t>(r);
  }
};
struct MinusInt32 {
  using In = int32_t;
  using Out = int32_t;
  static int32_t Compute(int32_t a, int32_t b, const KernelEnvironment&, bool& giveUp) {
    uint32_t r = static_cast<uint32_t>(a) - static_cast<uint32_t>(b);
    giveUp |= static_cast<bool>(((static_cast<uint32_t>(a) ^ static_cast<uint32_t>(b)) & (static_cast<uint32_t>(a) ^ r)) >> 31);
    return static_cast<int32_t>(r);
  }
};
struct TimesInt32 {
  using In = int32_t;
  using Out = int32_t;
  static int32_t Compute(int32_t a, int32_t b, const KernelEnvironment&, bool& giveUp) {
    int64_t p = static_cast<int64_t>(a) * b;
    giveUp |= p != static_cast<int32_t>(p);
    return static_cast<int32_t>(p);
  }
};

// Exact integer quotients; gives up on a remainder or an overflow.
struct DivideInt32 {
  using In = int32_t;
  using Out = int32_t;
  static int32_t Compute(int32_t a, int32_t b, const KernelEnvironment& env, bool& giveUp) {
    if (b == 0) return static_cast<int32_t>(DivideByZero(a == 0, env.divisionMethod));
    if (b == -1) {
      giveUp |= a == INT32_MIN;
      return -static_cast<int32_t>(static_cast<uint32_t>(a));
    }
    giveUp |= a % b != 0;
    return a / b;
  }
};
// The quick float quotient: any floating exception makes the kernel give up.
struct DivideFloat {
  using In = double;
  using Out = double;
  static constexpr bool kNeverSignals = true;
  static double Compute(double a, double b, const KernelEnvironment&, bool&) { return a / b; }
};
// The careful one: zero divisors by the ⎕DIV rule.
struct DivideFloatChecked {
  using In = double;
  using Out = double;
  static double Compute(double a, double b, const KernelEnvironment& env, bool&) {
    return b == 0 ? DivideByZero(a == 0, env.divisionMethod) : a / b;
  }
};
struct DivideComplex {
  using In = Complex;
  using Out = Complex;
  static Complex Compute(Complex a, Complex b, const KernelEnvironment& env, bool&) {
    return b == Complex(0) ? Complex(DivideByZero(a == Complex(0), env.divisionMethod)) : a / b;
  }
};

template <class A>
struct Maximum {
  using In = A;
  using Out = A;
  static constexpr bool kNeverSignals = true;
  static A Compute(A a, A b, const KernelEnvironment&, bool&) { return a > b ? a : b; }
};
template <class A>
struct Minimum {
  using In = A;
  using Out = A;
  static constexpr bool kNeverSignals = true;
  static A Compute(A a, A b, const KernelEnvironment&, bool&) { return a < b ? a : b; }
};

// Power with a right argument known to be an integer (the left one real).
struct PowerIntegerExponent {
  using In = double;
  using Out = double;
  static constexpr bool kNeverSignals = true;
  static double Compute(double a, double b, const KernelEnvironment&, bool& giveUp) {
    double r = IntegerPower(a, static_cast<int64_t>(b));
    giveUp |= !std::isfinite(r);
    return r;
  }
};
struct PowerFloat {
  using In = double;
  using Out = double;
  static double Compute(double a, double b, const KernelEnvironment&, bool& giveUp) {
    return FloatPower(a, b, giveUp);
  }
};
struct PowerComplex {
  using In = Complex;
  using Out = Complex;
  static Complex Compute(Complex a, Complex b, const KernelEnvironment&, bool&) { return ComplexPower(a, b); }
};

// A⍟B; gives up on a negative argument (the complex kernel takes over).
struct LogBaseFloat {
  using In = double;
  using Out = double;
  static constexpr bool kNeverSignals = true;
  static double Compute(double a, double b, const KernelEnvironment&, bool& giveUp) {
    giveUp |= a < 0 || b < 0;
    return a == b ? 1.0 : std::log(b) / std::log(a);
  }
};
struct LogBaseComplex {
  using In = Complex;
  using Out = Complex;
  static Complex Compute(Complex a, Complex b, const KernelEnvironment&, bool&) {
    return a == b ? Complex(1) : ComplexLog(b) / ComplexLog(a);
  }
};

template <class A>
struct ResidueInteger {
  using In = A;
  using Out = A;
  static A Compute(A a, A b, const KernelEnvironment&, bool&) { return IntegerResidue(a, b); }
};
struct ResidueFloat {
  using In = double;
  using Out = double;
  static double Compute(double a, double b, const KernelEnvironment& env, bool&) {
    return FloatResidue(a, b, env.tolerance);
  }
};
struct ResidueComplex {
  using In = Complex;
  using Out = Complex;
  static Complex Compute(Complex a, Complex b, const KernelEnvironment& env, bool&) {
    return ComplexResidue(a, b, env.tolerance);
  }
};

struct BinomialFloat {
  using In = double;
  using Out = double;
  static double Compute(double a, double b, const KernelEnvironment&, bool&) { return Binomial(a, b); }
};
struct BinomialComplex {
  using In = Complex;
  using Out = Complex;
  static Complex Compute(Complex a, Complex b, const KernelEnvironment&, bool&) { return ComplexBinomial(a, b); }
};

struct CircleFloat {
  using In = double;
  using Out = double;
  static double Compute(double a, double b, const KernelEnvironment&, bool& giveUp) { return Circle(a, b, giveUp); }
};
struct CircleComplex {
  using In = Complex;
  using Out = Complex;
  static Complex Compute(Complex a, Complex b, const KernelEnvironment&, bool&) { return ComplexCircle(a, b); }
};

// GCD and LCM on 32-bit integers give up when the result needs more than 32 bits.
struct GcdInt32 {
  using In = int32_t;
  using Out = int32_t;
  static int32_t Compute(int32_t a, int32_t b, const KernelEnvironment&, bool& giveUp) {
    int64_t g = IntegerGcd(a, b);
    giveUp |= g > INT32_MAX;
    return static_cast<int32_t>(g);
  }
};
struct LcmInt32 {
  using In = int32_t;
  using Out = int32_t;
  static int32_t Compute(int32_t a, int32_t b, const KernelEnvironment&, bool& giveUp) {
    int64_t g = IntegerGcd(a, b);
    int64_t l = g == 0 ? 0 : a / g * static_cast<int64_t>(b);
    giveUp |= l != static_cast<int32_t>(l);
    return static_cast<int32_t>(l);
  }
};
// The restart target of LcmInt32: the exact LCM as a double.
struct LcmInt32ToFloat {
  using In = int32_t;
  using Out = double;
  static double Compute(int32_t a, int32_t b, const KernelEnvironment&, bool&) {
    int64_t g = IntegerGcd(a, b);
    return g == 0 ? 0.0 : static_cast<double>(a / g) * b;
  }
};
struct GcdFloat {
  using In = double;
  using Out = double;
  static double Compute(double a, double b, const KernelEnvironment& env, bool&) { return FloatGcd(a, b, env.tolerance); }
};
struct LcmFloat {
  using In = double;
  using Out = double;
  static double Compute(double a, double b, const KernelEnvironment& env, bool&) { return FloatLcm(a, b, env.tolerance); }
};
struct GcdComplex {
  using In = Complex;
  using Out = Complex;
  static Complex Compute(Complex a, Complex b, const KernelEnvironment& env, bool&) { return ComplexGcd(a, b, env.tolerance); }
};
struct LcmComplex {
  using In = Complex;
  using Out = Complex;
  static Complex Compute(Complex a, Complex b, const KernelEnvironment& env, bool&) { return ComplexLcm(a, b, env.tolerance); }
};

// Comparisons. Integers and characters compare exactly; doubles and complex numbers within ⎕CT.
template <class A>
struct Less {
  using In = A;
  using Out = bool;
  static constexpr bool kNeverSignals = true;
  static bool Compute(A a, A b, const KernelEnvironment&, bool&) { return a < b; }
};
template <class A>
struct LessEqual {
  using In = A;
  using Out = bool;
  static constexpr bool kNeverSignals = true;
  static bool Compute(A a, A b, const KernelEnvironment&, bool&) { return a <= b; }
};
template <class A>
struct Equal {
  using In = A;
  using Out = bool;
  static constexpr bool kNeverSignals = true;
  static bool Compute(A a, A b, const KernelEnvironment&, bool&) { return a == b; }
};
template <class A>
struct GreaterEqual {
  using In = A;
  using Out = bool;
  static constexpr bool kNeverSignals = true;
  static bool Compute(A a, A b, const KernelEnvironment&, bool&) { return a >= b; }
};
template <class A>
struct Greater {
  using In = A;
  using Out = bool;
  static constexpr bool kNeverSignals = true;
  static bool Compute(A a, A b, const KernelEnvironment&, bool&) { return a > b; }
};
template <class A>
struct NotEqual {
  using In = A;
  using Out = bool;
  static constexpr bool kNeverSignals = true;
  static bool Compute(A a, A b, const KernelEnvironment&, bool&) { return a != b; }
};
template <>
struct Less<double> {
  using In = double;
  using Out = bool;
  static constexpr bool kNeverSignals = true;
  static bool Compute(double a, double b, const KernelEnvironment& env, bool&) { return !TolerantLessEqual(b, a, env.tolerance); }
};
template <>
struct LessEqual<double> {
  using In = double;
  using Out = bool;
  static constexpr bool kNeverSignals = true;
  static bool Compute(double a, double b, const KernelEnvironment& env, bool&) { return TolerantLessEqual(a, b, env.tolerance); }
};
template <>
struct Equal<double> {
  using In = double;
  using Out = bool;
  static constexpr bool kNeverSignals = true;
  static bool Compute(double a, double b, const KernelEnvironment& env, bool&) { return TolerantEqual(a, b, env.tolerance); }
};
template <>
struct GreaterEqual<double> {
  using In = double;
  using Out = bool;
  static constexpr bool kNeverSignals = true;
  static bool Compute(double a, double b, const KernelEnvironment& env, bool&) { return TolerantLessEqual(b, a, env.tolerance); }
};
template <>
struct Greater<double> {
  using In = double;
  using Out = bool;
  static constexpr bool kNeverSignals = true;
  static bool Compute(double a, double b, const KernelEnvironment& env, bool&) { return !TolerantLessEqual(a, b, env.tolerance); }
};
template <>
struct NotEqual<double> {
  using In = double;
  using Out = bool;
  static constexpr bool kNeverSignals = true;
  static bool Compute(double a, double b, const KernelEnvironment& env, bool&) { return !TolerantEqual(a, b, env.tolerance); }
};
template <>
struct Equal<Complex> {
  using In = Complex;
  using Out = bool;
  static constexpr bool kNeverSignals = true;
  static bool Compute(Complex a, Complex b, const KernelEnvironment& env, bool&) { return ComplexTolerantEqual(a, b, env.tolerance); }
};
template <>
struct NotEqual<Complex> {
  using In = Complex;
  using Out = bool;
  static constexpr bool kNeverSignals = true;
  static bool Compute(Complex a, Complex b, const KernelEnvironment& env, bool&) { return !ComplexTolerantEqual(a, b, env.tolerance); }
};

// ---- Boolean operations, a word at a time ------------------------------------------------------------
// Word(a, b) combines 32 Booleans of each argument; bit 0 of the result is the operation on 0/1.

template <class Words>
struct BooleanOp {
  using In = bool;
  using Out = bool;
  static bool Compute(bool a, bool b, const KernelEnvironment&, bool&) { return Words::Word(a, b) & 1u; }
};
struct AndWords { static uint32_t Word(uint32_t a, uint32_t b) { return a & b; } };
struct OrWords { static uint32_t Word(uint32_t a, uint32_t b) { return a | b; } };
struct NorWords { static uint32_t Word(uint32_t a, uint32_t b) { return ~(a | b); } };
struct NandWords { static uint32_t Word(uint32_t a, uint32_t b) { return ~(a & b); } };
struct LessWords { static uint32_t Word(uint32_t a, uint32_t b) { return ~a & b; } };  // also A|B
struct LessEqualWords { static uint32_t Word(uint32_t a, uint32_t b) { return ~a | b; } };
struct EqualWords { static uint32_t Word(uint32_t a, uint32_t b) { return ~(a ^ b); } };
struct GreaterEqualWords { static uint32_t Word(uint32_t a, uint32_t b) { return a | ~b; } };
struct GreaterWords { static uint32_t Word(uint32_t a, uint32_t b) { return a & ~b; } };
struct NotEqualWords { static uint32_t Word(uint32_t a, uint32_t b) { return a ^ b; } };

// The vector kernel of a Boolean operation: packed arguments combined word by word. A run is fast, so
// it looks for a strong interrupt once, for the operators that run it row by row.
template <class Words>
bool BooleanWordVector(const VectorOperands& v) {
  CheckStrongInterrupt();
  const uint8_t* left = static_cast<const uint8_t*>(v.left);
  const uint8_t* right = static_cast<const uint8_t*>(v.right);
  uint32_t* out = static_cast<uint32_t*>(v.result);
  uint64_t words = (v.count + 31) / 32;
  auto load = [](const uint8_t* p, uint64_t i) {
    uint32_t w;
    std::memcpy(&w, p + 4 * i, 4);
    return w;
  };
  if (v.leftSingle || v.rightSingle) {
    const uint8_t* single = v.leftSingle ? left : right;
    const uint8_t* other = v.leftSingle ? right : left;
    uint32_t s = GetBit(single, 0) ? ~0u : 0u;
    if (v.leftSingle && v.rightSingle) other = single;
    if (v.leftSingle)
      for (uint64_t i = 0; i < words; ++i) out[i] = Words::Word(s, load(other, i));
    else
      for (uint64_t i = 0; i < words; ++i) out[i] = Words::Word(load(other, i), s);
    return true;
  }
  for (uint64_t i = 0; i < words; ++i) out[i] = Words::Word(load(left, i), load(right, i));
  return true;
}

// ---- Monadic operations ------------------------------------------------------------------------------

template <class A, class R = A>
struct Negate {
  using In = A;
  using Out = R;
  static constexpr bool kNeverSignals = true;
  static R Compute(A b, const KernelEnvironment&, bool&) { return static_cast<R>(-b); }
};
// Negation and magnitude of an integer give up on the most negative value.
template <class A>
struct NegateInteger {
  using In = A;
  using Out = A;
  static A Compute(A b, const KernelEnvironment&, bool& giveUp) {
    const bool overflows = b == std::numeric_limits<A>::min();  // −b does not fit: a wider kernel redoes it
    giveUp |= overflows;
    return overflows ? b : static_cast<A>(-b);
  }
};
template <class A>
struct MagnitudeInteger {
  using In = A;
  using Out = A;
  static A Compute(A b, const KernelEnvironment&, bool& giveUp) {
    const bool overflows = b == std::numeric_limits<A>::min();
    giveUp |= overflows;
    return overflows ? b : static_cast<A>(b < 0 ? -b : b);
  }
};
struct MagnitudeFloat {
  using In = double;
  using Out = double;
  static constexpr bool kNeverSignals = true;
  static double Compute(double b, const KernelEnvironment&, bool&) { return std::fabs(b); }
};
struct MagnitudeComplex {
  using In = Complex;
  using Out = double;
  static double Compute(Complex b, const KernelEnvironment&, bool&) { return std::abs(b); }
};
template <class A>
struct Direction {
  using In = A;
  using Out = int8_t;
  static int8_t Compute(A b, const KernelEnvironment&, bool&) { return static_cast<int8_t>((b > 0) - (b < 0)); }
};
struct DirectionComplex {
  using In = Complex;
  using Out = Complex;
  static Complex Compute(Complex b, const KernelEnvironment&, bool&) { return b == Complex(0) ? b : b / std::abs(b); }
};
struct Conjugate {
  using In = Complex;
  using Out = Complex;
  static Complex Compute(Complex b, const KernelEnvironment&, bool&) { return std::conj(b); }
};
struct ReciprocalFloat {
  using In = double;
  using Out = double;
  static double Compute(double b, const KernelEnvironment& env, bool&) {
    return b == 0 ? DivideByZero(false, env.divisionMethod) : 1 / b;
  }
};
struct ReciprocalComplex {
  using In = Complex;
  using Out = Complex;
  static Complex Compute(Complex b, const KernelEnvironment& env, bool&) {
    return b == Complex(0) ? Complex(DivideByZero(false, env.divisionMethod)) : 1.0 / b;
  }
};

// Floor and ceiling into 32-bit integers give up when a result does not fit.
inline int32_t FitInt32(double x, bool& giveUp) {
  giveUp |= !(x >= -2147483648.0 && x <= 2147483647.0);
  return giveUp ? 0 : static_cast<int32_t>(x);
}
struct FloorToInt32 {
  using In = double;
  using Out = int32_t;
  static int32_t Compute(double b, const KernelEnvironment& env, bool& giveUp) {
    return FitInt32(TolerantFloor(b, env.tolerance), giveUp);
  }
};
struct CeilingToInt32 {
  using In = double;
  using Out = int32_t;
  static int32_t Compute(double b, const KernelEnvironment& env, bool& giveUp) {
    return FitInt32(TolerantCeiling(b, env.tolerance), giveUp);
  }
};
struct FloorFloat {
  using In = double;
  using Out = double;
  static double Compute(double b, const KernelEnvironment& env, bool&) { return TolerantFloor(b, env.tolerance); }
};
struct CeilingFloat {
  using In = double;
  using Out = double;
  static double Compute(double b, const KernelEnvironment& env, bool&) { return TolerantCeiling(b, env.tolerance); }
};
struct FloorComplex {
  using In = Complex;
  using Out = Complex;
  static Complex Compute(Complex b, const KernelEnvironment& env, bool&) { return ComplexFloor(b, env.tolerance); }
};
struct CeilingComplex {
  using In = Complex;
  using Out = Complex;
  static Complex Compute(Complex b, const KernelEnvironment& env, bool&) { return ComplexCeiling(b, env.tolerance); }
};
// ⌊0.5+⍵, the hidden rounding function.
struct RoundToInt32 {
  using In = double;
  using Out = int32_t;
  static int32_t Compute(double b, const KernelEnvironment& env, bool& giveUp) {
    return FitInt32(TolerantFloor(b + 0.5, env.tolerance), giveUp);
  }
};
struct RoundFloat {
  using In = double;
  using Out = double;
  static double Compute(double b, const KernelEnvironment& env, bool&) { return TolerantFloor(b + 0.5, env.tolerance); }
};
struct RoundComplex {
  using In = Complex;
  using Out = Complex;
  static Complex Compute(Complex b, const KernelEnvironment& env, bool&) { return ComplexFloor(b + 0.5, env.tolerance); }
};

// * and ⍟ of reals go through the vector library, single elements too, so that an element's result
// does not depend on the length of the array it is in.
struct ExpFloat {
  using In = double;
  using Out = double;
  static constexpr bool kNeverSignals = true;
  static double Compute(double b, const KernelEnvironment&, bool&) {
    double r;
    ExpRun(&b, &r, 1);
    return r;
  }
  static bool Run(const double* in, double* out, uint64_t n) {
    ExpRun(in, out, n);
    return true;
  }
};
struct ExpComplex {
  using In = Complex;
  using Out = Complex;
  static Complex Compute(Complex b, const KernelEnvironment&, bool&) { return std::exp(b); }
};
// *○⍵, the hidden exponential of π times.
struct ExpPiTimesComplex {
  using In = Complex;
  using Out = Complex;
  static Complex Compute(Complex b, const KernelEnvironment&, bool&) { return std::exp(std::numbers::pi * b); }
};
// ⍟⍵ gives up on a negative argument (the complex logarithm takes over).
struct LogFloat {
  using In = double;
  using Out = double;
  static constexpr bool kNeverSignals = true;
  static double Compute(double b, const KernelEnvironment&, bool& giveUp) {
    double r = 0;
    giveUp |= !LogRun(&b, &r, 1);
    return r;
  }
  static bool Run(const double* in, double* out, uint64_t n) { return LogRun(in, out, n); }
};
struct LogComplex {
  using In = Complex;
  using Out = Complex;
  static Complex Compute(Complex b, const KernelEnvironment&, bool&) { return ComplexLog(b); }
};
struct FactorialFloat {
  using In = double;
  using Out = double;
  static double Compute(double b, const KernelEnvironment&, bool&) { return Factorial(b); }
};
struct FactorialComplex {
  using In = Complex;
  using Out = Complex;
  static Complex Compute(Complex b, const KernelEnvironment&, bool&) { return ComplexFactorial(b); }
};
struct PiTimesFloat {
  using In = double;
  using Out = double;
  static constexpr bool kNeverSignals = true;
  static double Compute(double b, const KernelEnvironment&, bool&) { return std::numbers::pi * b; }
};
struct PiTimesComplex {
  using In = Complex;
  using Out = Complex;
  static Complex Compute(Complex b, const KernelEnvironment&, bool&) { return std::numbers::pi * b; }
};

// Monadic ~ on packed Booleans.
struct NotBoolean {
  using In = bool;
  using Out = bool;
  static bool Compute(bool b, const KernelEnvironment&, bool&) { return !b; }
};
bool NotWordVector(const VectorOperands& v);

// The constant kernels: every result element 0 (empty pervasion, =) or 1 (≠), arguments unread.
template <bool kValue>
bool ConstantStream(KernelCall& call, uint64_t count) {
  for (uint64_t i = 0; i < count; ++i) {
    call.result.As<bool>() = kValue;
    call.result.step(call.result);
  }
  return true;
}
template <bool kValue>
bool ConstantVector(const VectorOperands& v) {
  std::memset(v.result, kValue ? 0xFF : 0, (v.count + 7) / 8);
  return true;
}

}  // namespace vantor
