// The arithmetic behind the scalar kernels that is too large to inline: tolerant floor and residue,
// GCD and LCM by continued fractions, integer and real powers, factorial and binomial through the
// gamma function, the 25 circle functions for real and complex arguments, and the ⎕DIV rule.
#include "primitives/arith_su.h"

#include <cfenv>
#include <string_view>
#include <utility>

#include "base/config.h"
#include "base/errors.h"

namespace vantor {

static constexpr char kUnit[] = "arith_su";

namespace {

constexpr double kPi = std::numbers::pi;
constexpr Complex kI(0, 1);

// −0 parts become +0, so that a real argument reaches a branch cut of sqrt and log from above, as
// the APL definitions (¯1○2 = 1.570796327J¯1.316957897) expect.
Complex Unsigned(Complex z) { return {z.real() + 0.0, z.imag() + 0.0}; }
bool IsReal(Complex z) { return z.imag() == 0; }
bool IsWhole(double x) { return x == std::floor(x); }
bool IsFiniteComplex(Complex z) { return std::isfinite(z.real()) && std::isfinite(z.imag()); }

Complex CheckedFinite(Complex z) {
  if (!IsFiniteComplex(z)) SIGNAL(kDomainError);
  return z;
}

// The function number of A○B: a near-integer (1E¯14 relative, absolute near 0) from ¯12 to 12.
int CircleFunctionNumber(double a) {
  double r = NearestInteger(a);
  double slack = 1E-14 * (std::fabs(a) > 1 ? std::fabs(a) : 1);
  if (!(std::fabs(a - r) <= slack) || r < -12 || r > 12) SIGNAL(kDomainError);
  return static_cast<int>(r);
}

int CircleFunctionNumber(Complex a) {
  if (!(std::fabs(a.imag()) <= 1E-14 * std::fabs(a.real()) || std::fabs(a.imag()) <= 1E-14)) SIGNAL(kDomainError);
  return CircleFunctionNumber(a.real());
}

// ---- Gamma -------------------------------------------------------------------------------------------

constexpr double kExactFactorials[22] = {
    1.0, 1.0, 2.0, 6.0, 24.0, 120.0, 720.0, 5040.0, 40320.0, 362880.0, 3628800.0, 39916800.0,
    479001600.0, 6227020800.0, 87178291200.0, 1307674368000.0, 20922789888000.0, 355687428096000.0,
    6402373705728000.0, 121645100408832000.0, 2432902008176640000.0, 51090942171709440000.0,
};
constexpr double kFactorialLimit = 170.62437695630268;

bool IsPole(double x) { return x <= 0 && IsWhole(x); }

// A nonzero real number as the logarithm of its magnitude and its sign.
struct SignedLog {
  double log;
  int sign;
};
SignedLog operator*(SignedLog x, SignedLog y) { return {x.log + y.log, x.sign * y.sign}; }
SignedLog operator/(SignedLog x, SignedLog y) { return {x.log - y.log, x.sign * y.sign}; }
SignedLog LogOf(double x) { return {std::log(std::fabs(x)), x < 0 ? -1 : 1}; }

// sin πx, reduced exactly to an argument of at most ½ first, so that it keeps its relative precision
// near the zeros at the integers whatever the size of x.
double SinPi(double x) {
  double r = std::fmod(x, 2.0);  // exact, in (¯2, 2)
  if (r >= 1) r -= 2;
  else if (r < -1) r += 2;  // now in [¯1, 1)
  if (r > 0.5) r = 1 - r;
  else if (r < -0.5) r = -1 - r;
  return std::sin(kPi * r);
}
double CosPi(double x) { return SinPi(std::fmod(x, 2.0) + 0.5); }

// A sum of doubles as its rounded value and the rounding error. Far from 0 the rounding of b−a+1 is
// a good part of a period of sin πx, so the sines below are taken of the exact sums.
struct ExactSum {
  double value;
  double error;
};
ExactSum TwoSum(double x, double y) {
  double s = x + y, y1 = s - x;
  return {s, (x - (s - y1)) + (y - y1)};
}
ExactSum operator+(ExactSum x, double y) {
  ExactSum s = TwoSum(x.value, y);
  return {s.value, s.error + x.error};
}
double OneMinus(ExactSum x) { return (1 - x.value) - x.error; }
double SinPi(ExactSum x) { return SinPi(x.value) * CosPi(x.error) + CosPi(x.value) * SinPi(x.error); }

// Stirling's series for ln Γ(z) − ((z−½) ln z − z + ½ ln 2π); below 1E¯17 from z = 10 on.
constexpr double kStirlingFrom = 10;
double StirlingCorrection(double z) {
  constexpr double kTerms[] = {1.0 / 12, -1.0 / 360, 1.0 / 1260, -1.0 / 1680, 1.0 / 1188, -691.0 / 360360, 1.0 / 156};
  double w = 1 / (z * z), sum = 0;
  for (size_t i = std::size(kTerms); i-- > 0;) sum = sum * w + kTerms[i];
  return sum / z;
}

// ln B(p, q) = ln Γ(p) + ln Γ(q) − ln Γ(p+q) for p, q > 0. When the arguments are large the three
// log-gammas are large and nearly cancel, so Stirling's series is taken with the terms regrouped into
// differences that cancel exactly; this keeps 0.5!1E15 as precise as 0.5!5.
double LogBeta(double p, double q) {
  if (p > q) std::swap(p, q);
  double sum = p + q;
  if (p >= kStirlingFrom) {
    double correction = StirlingCorrection(p) + StirlingCorrection(q) - StirlingCorrection(sum);
    return 0.5 * std::log(2 * kPi / q) + correction + (p - 0.5) * std::log(p / sum) + q * std::log1p(-p / sum);
  }
  if (q >= kStirlingFrom) {
    double correction = StirlingCorrection(q) - StirlingCorrection(sum);
    return std::lgamma(p) + correction + p - p * std::log(sum) + (q - 0.5) * std::log1p(-p / sum);
  }
  return std::lgamma(p) + std::lgamma(q) - std::lgamma(sum);
}
SignedLog Beta(double p, double q) { return {LogBeta(p, q), 1}; }

// Below this magnitude of its arguments the binomial is a quotient of Γ values taken directly: as
// precise as Γ itself, exact where it should be (0.5!0.5 is 1), and far from overflow.
constexpr double kDirectBelow = 20;

// Γ(t) ÷ (Γ(l) × Γ(r)) with t = l + r − 1, none of them a pole. Every Γ of a negative argument is
// first reflected through Γ(x) Γ(1−x) = π ÷ sin πx; what remains is a beta function of positive
// arguments (Γ(l+r) = t Γ(t) joins the three when l and r are positive).
SignedLog GammaQuotient(ExactSum t, ExactSum l, ExactSum r) {
  const SignedLog pi = LogOf(kPi);
  if (l.value > 0 && r.value > 0) return LogOf(1) / (LogOf(t.value) * Beta(l.value, r.value));
  if (l.value < 0 && r.value < 0)
    return LogOf(SinPi(l)) * LogOf(SinPi(r)) * Beta(OneMinus(l), OneMinus(r)) / (pi * LogOf(SinPi(t)));
  if (r.value < 0) std::swap(l, r);  // the quotient is symmetric in l and r: now l < 0 < r
  if (t.value > 0) return LogOf(SinPi(l)) * Beta(t.value, OneMinus(l)) / pi;
  return LogOf(SinPi(l)) / (LogOf(SinPi(t)) * LogOf(OneMinus(l)) * Beta(OneMinus(t), r.value));
}

// Lanczos approximation (g = 7, nine terms), with reflection for the left half-plane.
Complex ComplexGamma(Complex z) {
  constexpr double kCoefficients[9] = {
      0.99999999999980993, 676.5203681218851, -1259.1392167224028, 771.32342877765313, -176.61502916214059,
      12.507343278686905, -0.13857109526572012, 9.9843695780195716e-6, 1.5056327351493116e-7,
  };
  if (z.real() < 0.5) return kPi / (std::sin(kPi * z) * ComplexGamma(1.0 - z));
  z -= 1.0;
  Complex x = kCoefficients[0];
  for (int i = 1; i < 9; ++i) x += kCoefficients[i] / (z + static_cast<double>(i));
  Complex t = z + 7.5;
  return std::sqrt(2 * kPi) * std::pow(t, z + 0.5) * std::exp(-t) * x;
}

// n!k for whole numbers 0 ≤ k ≤ n, as the running product C(n−k+i, i) for i = 1 … k: exact while
// the result fits 53 bits, since every partial product is a binomial coefficient and so each division
// is exact. With k ≤ n−k the partial product is at least C(2i, i), which passes the largest double
// before i reaches 520; the loop stops there with an infinite result, however large k is.
double WholeBinomial(double n, double k) {
  if (n - k < k) k = n - k;
  // Near the top of the range r × factor may overflow where r × factor ÷ i would not; the division
  // then comes first.
  const double safe = std::numeric_limits<double>::max() / (n + 1);  // no factor exceeds n
  double r = 1;
  for (double i = 1; i <= k && std::isfinite(r); ++i) {
    double factor = n - k + i;
    r = r <= safe ? r * factor / i : r / i * factor;
  }
  return r;
}

double WholeBinomialSigned(double a, double b) {
  auto signOf = [](double n) { return std::fmod(std::fabs(n), 2.0) == 1 ? -1.0 : 1.0; };
  if (a >= 0 && b >= 0) return a > b ? 0 : WholeBinomial(b, a);
  if (a >= 0) return signOf(a) * WholeBinomial(a - b - 1, a);
  if (b >= 0) return 0;
  return b >= a ? signOf(b - a) * WholeBinomial(-a - 1, b - a) : 0;
}

// ---- Continued fractions -------------------------------------------------------------------------

struct Fraction {
  double numerator;
  double denominator;
};

// x as p/q: the first convergent of its nearest-integer continued fraction (at most 53 terms) that
// equals x or lies within the tolerance of it.
Fraction Approximate(double x, double t) {
  double h = 1, hPrevious = 0, k = 0, kPrevious = 1;
  double y = x;
  for (int term = 0; term < 53; ++term) {
    double a = NearestInteger(y);
    double hNext = a * h + hPrevious, kNext = a * k + kPrevious;
    hPrevious = h, kPrevious = k, h = hNext, k = kNext;
    if (!std::isfinite(h) || !std::isfinite(k) || k == 0) SIGNAL(kDomainError);
    double value = h / k;
    if (value == x || std::fabs(x - value) <= t * std::fabs(x)) break;
    double f = y - a;
    if (f == 0) break;
    y = 1 / f;
  }
  if (k < 0) h = -h, k = -k;
  return {h, k};
}

double WholeGcd(double a, double b) {
  a = std::fabs(a), b = std::fabs(b);
  while (b != 0) {
    double r = std::fmod(a, b);
    a = b, b = r;
  }
  return a;
}

// A negative base with a fractional exponent, the older way: the real root when the exponent's
// denominator is odd.
double RealPowerOfNegative(double a, double b) {
  for (int q = 1; q <= 1024; q += 2) {
    double p = NearestInteger(b * q);
    if (std::fabs(b * q - p) <= 1E-10 * std::fabs(b * q)) {
      double magnitude = std::pow(-a, b);
      return std::fmod(std::fabs(p), 2.0) == 1 ? -magnitude : magnitude;
    }
  }
  SIGNAL(kDomainError);
}

}  // namespace

bool ComplexAsV12() {
  static const bool value = [] {
    const char* text = ConfigLookup("APL_COMPLEX_AS_V12");
    return text && std::string_view(text) == "1";
  }();
  return value;
}

double TolerantFloor(double x, double t) {
  if (t == 0) return std::floor(x);
  double r = NearestInteger(x);
  if (x >= r) return r;
  if (r == 0) return -x <= t ? 0.0 : -1.0;
  if (r > 0) return r - x <= r * t ? r : r - 1;
  return r - x <= std::fabs(x) * t ? r : r - 1;
}

// McDonnell's complex floor: the floors of both parts, moved by 1 or i when the fractional parts sum
// to 1 or more.
Complex ComplexFloor(Complex z, double t) {
  double re = std::floor(z.real()), im = std::floor(z.imag());
  double x = z.real() - re, y = z.imag() - im;
  if (TolerantLessEqual(1, x + y, t)) return x >= y ? Complex(re + 1, im) : Complex(re, im + 1);
  return {re, im};
}

bool ComplexTolerantEqual(Complex a, Complex b, double t) {
  double fa = std::abs(a), fb = std::abs(b);
  return a == b || std::abs(a - b) <= t * (fa > fb ? fa : fb);
}

double DivideByZero(bool zeroNumerator, uint32_t divisionMethod) {
  if (divisionMethod == 1) return 0;
  if (zeroNumerator) return 1;
  SIGNAL_MESSAGE(kDomainError, U"Divide by zero");
}

double FloatResidue(double a, double b, double t) {
  if (a == 0) return b;
  if (b == 0) return 0;
  double q = b / a;
  if (q == 0) q = (a > 0) == (b > 0) ? b : 0;
  if (!std::isfinite(q)) {
    std::feclearexcept(FE_ALL_EXCEPT);
    return 0;
  }
  double r = NearestInteger(q);
  double fq = std::fabs(q), fr = std::fabs(r);
  if (r == 0 ? fq < t : std::fabs(q - r) <= t * (fq > fr ? fq : fr)) return 0;
  double result = b - a * std::floor(q);
  if (!std::isfinite(result)) SIGNAL(kDomainError);
  return result;
}

Complex ComplexResidue(Complex a, Complex b, double t) {
  if (a == Complex(0)) return b;
  Complex q = b / a;
  Complex r(NearestInteger(q.real()), NearestInteger(q.imag()));
  if (r == Complex(0) ? std::abs(q) < t : ComplexTolerantEqual(q, r, t)) return 0;
  return CheckedFinite(b - a * ComplexFloor(q, t));
}

int64_t IntegerGcd(int64_t a, int64_t b) {
  a = a < 0 ? -a : a, b = b < 0 ? -b : b;
  while (b != 0) {
    int64_t r = a % b;
    a = b, b = r;
  }
  return a;
}

double FloatGcd(double a, double b, double t) {
  if (a == 0) return std::fabs(b);
  if (b == 0) return std::fabs(a);
  Fraction fa = Approximate(std::fabs(a), t), fb = Approximate(std::fabs(b), t);
  double denominators = fa.denominator / WholeGcd(fa.denominator, fb.denominator) * fb.denominator;
  return WholeGcd(fa.numerator, fb.numerator) / denominators;
}

double FloatLcm(double a, double b, double t) {
  double g = FloatGcd(a, b, t);
  return g == 0 ? 0 : a * b / g;
}

Complex ComplexGcd(Complex a, Complex b, double t) {
  if (IsReal(a) && IsReal(b)) return FloatGcd(a.real(), b.real(), t);
  for (int step = 0; step < 256; ++step) {
    if (a == Complex(0)) return b;
    Complex r = ComplexResidue(a, b, t);
    b = a, a = r;
  }
  SIGNAL(kDomainError);
}

Complex ComplexLcm(Complex a, Complex b, double t) {
  Complex g = ComplexGcd(a, b, t);
  return g == Complex(0) ? Complex(0) : CheckedFinite(a * b / g);
}

// Square and multiply from the top bit: x⁶ is (x³)², x⁸ is (x⁴)².
double IntegerPower(double x, int64_t n) {
  if (n < 0) return 1 / IntegerPower(x, -n);
  double r = 1;
  for (int bit = 63 - __builtin_clzll(n | 1); bit >= 0; --bit) {
    r *= r;
    if ((n >> bit) & 1) r *= x;
  }
  return r;
}

double FloatPower(double a, double b, bool& giveUp) {
  if (a == 0) {
    if (b == 0) return 1;
    if (b > 0) return 0;
    SIGNAL(kDomainError);
  }
  if (a < 0 && !IsWhole(b)) {
    if (!ComplexAsV12()) {
      giveUp = true;
      return 0;
    }
    return RealPowerOfNegative(a, b);
  }
  double r = b == 0.5 ? std::sqrt(a) : std::pow(a, b);
  if (!std::isfinite(r)) SIGNAL(kDomainError);
  return r;
}

Complex ComplexPower(Complex a, Complex b) {
  if (a == Complex(0)) {
    if (b == Complex(0)) return 1;
    if (b.real() > 0) return 0;
    SIGNAL(kDomainError);
  }
  if (IsReal(b) && IsWhole(b.real()) && std::fabs(b.real()) <= 2147483647.0) {
    int64_t n = static_cast<int64_t>(b.real());
    Complex r = 1, x = n < 0 ? 1.0 / a : a;
    for (uint64_t m = n < 0 ? -n : n; m; m >>= 1, x *= x)
      if (m & 1) r *= x;
    return CheckedFinite(r);
  }
  if (b == Complex(0.5)) return std::sqrt(Unsigned(a));
  return CheckedFinite(std::exp(b * ComplexLog(a)));
}

Complex ComplexLog(Complex z) {
  if (z == Complex(0)) SIGNAL(kDomainError);
  return std::log(Unsigned(z));
}

double Factorial(double x) {
  if (!(std::fabs(x) < kFactorialLimit)) SIGNAL(kDomainError);
  if (IsWhole(x)) {
    if (x < 0) SIGNAL(kDomainError);
    if (x <= 21) return kExactFactorials[static_cast<int>(x)];
  }
  double r = std::tgamma(x + 1);
  if (!std::isfinite(r)) SIGNAL(kDomainError);
  return r;
}

double Binomial(double a, double b) {
  double result = 0;
  if (IsWhole(a) && IsWhole(b)) {
    result = WholeBinomialSigned(a, b);
  } else {
    ExactSum top = TwoSum(b, 1), left = TwoSum(a, 1), right = TwoSum(b, -a) + 1;
    double t = top.value, l = left.value, r = right.value;
    if (IsPole(l) || IsPole(r)) {
      if (IsPole(t)) SIGNAL(kDomainError);
      return 0;
    }
    if (IsPole(t)) SIGNAL(kDomainError);
    if (std::fabs(t) < kDirectBelow && std::fabs(l) < kDirectBelow && std::fabs(r) < kDirectBelow) {
      result = std::tgamma(t) / (std::tgamma(l) * std::tgamma(r));
    } else {
      SignedLog q = GammaQuotient(top, left, right);
      result = q.sign * std::exp(q.log);
    }
  }
  if (!std::isfinite(result)) SIGNAL(kDomainError);
  return result;
}

Complex ComplexFactorial(Complex z) {
  if (IsReal(z)) return Factorial(z.real());
  return CheckedFinite(ComplexGamma(z + 1.0));
}

Complex ComplexBinomial(Complex a, Complex b) {
  if (IsReal(a) && IsReal(b)) return Binomial(a.real(), b.real());
  return CheckedFinite(ComplexGamma(b + 1.0) / (ComplexGamma(a + 1.0) * ComplexGamma(b - a + 1.0)));
}

double Circle(double a, double b, bool& giveUp) {
  auto complexResult = [&giveUp] {
    giveUp = true;
    return 0.0;
  };
  switch (CircleFunctionNumber(a)) {
    case 0: return std::fabs(b) > 1 ? complexResult() : std::sqrt((1 - b) * (1 + b));
    case 1: return std::sin(b);
    case 2: return std::cos(b);
    case 3: return std::tan(b);
    case 4: return std::fabs(b) > 1E10 ? std::fabs(b) : std::sqrt(1 + b * b);
    case 5: return std::sinh(b);
    case 6: return std::cosh(b);
    case 7: return std::tanh(b);
    case 9: return b;
    case 10: return std::fabs(b);
    case 11: return 0;
    case 12: return b < 0 ? kPi : 0;
    case -1: return std::fabs(b) > 1 ? complexResult() : std::asin(b);
    case -2: return std::fabs(b) > 1 ? complexResult() : std::acos(b);
    case -3: return std::atan(b);
    case -4:
      if (std::fabs(b) > 1E10) return b;
      if (b == -1) return 0;
      return std::fabs(b) < 1 ? complexResult() : (b + 1) * std::sqrt((b - 1) / (b + 1));
    case -5: return std::asinh(b);
    case -6: return b < 1 ? complexResult() : std::acosh(b);
    case -7: return std::fabs(b) > 1 ? complexResult() : std::atanh(b);
    case -9: return b;
    case -10: return b;
    default: return complexResult();  // 8, ¯8, ¯11, ¯12: complex for every real B
  }
}

Complex ComplexCircle(Complex a, Complex b) {
  Complex r;
  switch (CircleFunctionNumber(a)) {
    case 0: r = std::sqrt(Unsigned((1.0 - b) * (1.0 + b))); break;
    case 1: r = std::sin(b); break;
    case 2: r = std::cos(b); break;
    case 3: r = std::tan(b); break;
    case 4: r = std::sqrt(Unsigned(1.0 + b * b)); break;
    case 5: r = std::sinh(b); break;
    case 6: r = std::cosh(b); break;
    case 7: r = std::tanh(b); break;
    case 8: r = std::sqrt(Unsigned(-1.0 - b * b)); break;
    case 9: r = b.real(); break;
    case 10: r = std::abs(b); break;
    case 11: r = b.imag(); break;
    case 12: r = std::arg(Unsigned(b)); break;
    case -1: r = -kI * std::log(Unsigned(kI * b + std::sqrt(Unsigned(1.0 - b * b)))); break;
    case -2: r = -kI * std::log(Unsigned(b + kI * std::sqrt(Unsigned(1.0 - b * b)))); break;
    case -3: r = std::atan(b); break;
    case -4: r = b == Complex(-1) ? Complex(0) : (b + 1.0) * std::sqrt(Unsigned((b - 1.0) / (b + 1.0))); break;
    case -5: r = std::asinh(b); break;
    case -6: r = std::acosh(Unsigned(b)); break;
    case -7: r = std::atanh(Unsigned(b)); break;
    case -8: r = -std::sqrt(Unsigned(-1.0 - b * b)); break;
    case -9: r = b; break;
    case -10: r = std::conj(b); break;
    case -11: r = kI * b; break;
    default: r = std::exp(kI * b); break;  // ¯12
  }
  return CheckedFinite(r);
}

bool NotWordVector(const VectorOperands& v) {
  const uint8_t* in = static_cast<const uint8_t*>(v.right);
  uint32_t* out = static_cast<uint32_t*>(v.result);
  uint64_t words = (v.count + 31) / 32;
  for (uint64_t i = 0; i < words; ++i) {
    uint32_t w;
    std::memcpy(&w, in + 4 * i, 4);
    out[i] = ~w;
  }
  return true;
}

}  // namespace vantor
