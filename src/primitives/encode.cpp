// Decode (⊥), encode (⊤) and matrix divide (⌹). The arguments are read once into vectors of one
// number type chosen from both arguments (64-bit integers, binary64, decimal128 or complex), the
// digits or values are computed there, and the result array is built from the vector at the end, so
// no raw pointer into the heap is held across an allocation.
#include "primitives/encode.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <type_traits>
#include <vector>

#include "primitives/dispatch.h"
#include "base/errors.h"
#include "memory/memory1.h"
#include "primitives/arith_su.h"
#include "primitives/darith.h"
#include "primitives/same.h"
#include "sysfns/quadvar.h"

namespace vantor {

static constexpr char kUnit[] = "encode";

// ---- Arguments -----------------------------------------------------------------------------------

using Shape = std::vector<uint32_t>;

// LIMIT ERROR for more elements than an array can have, WS FULL for more bytes than the whole
// workspace: checked before a result (or a working copy of an argument) is computed outside the heap.
static void CheckResultFits(uint64_t count, size_t elementBytes) {
  if (count > 0xFFFFFFFFull) SIGNAL(kLimitError);
  if (count * elementBytes > g_space->limitBytes) SIGNAL(kWsFull);
}

static Shape ShapeVector(Ref array) {
  const uint32_t* shape = ShapeOf(array);
  return Shape(shape, shape + RankOf(TypeWord(array)));
}

// DOMAIN ERROR unless the argument is a simple numeric array.
static ElementType NumericType(Ref array) {
  uint32_t type = TypeWord(array);
  ElementType element = ElementOf(type);
  if (KindOf(type) != kKindSimple || !(kElementInfo[element].classes & kClassNumeric)) SIGNAL(kDomainError);
  return element;
}

// The number type both arguments are computed in: complex when either is; decimal when either is
// decimal or binary64 under ⎕FR 1287 (binary64 under ⎕FR 645); binary64 when either is; else integers.
enum class Domain { kInteger, kFloat, kDecimal, kComplex };

static Domain DomainOf(ElementType a, ElementType b) {
  auto either = [&](ElementType t) { return a == t || b == t; };
  if (either(kComplex)) return Domain::kComplex;
  if (!either(kDecimal128) && !either(kFloat64)) return Domain::kInteger;
  return CurrentFloatRepresentation() == 1287 ? Domain::kDecimal : Domain::kFloat;
}

// One number as type T. The domain admits every argument type, so the last branch is reached only
// by an argument that the domain choice did not see: it is refused rather than guessed at.
template <class T, class S>
static T Convert(S value) {
  if constexpr (std::is_same_v<T, S>) {
    return value;
  } else if constexpr (std::is_same_v<T, Decimal> && std::is_same_v<S, int64_t>) {
    return DecimalFromInt(value);
  } else if constexpr (std::is_same_v<T, Decimal> && std::is_same_v<S, double>) {
    return DecimalFromDouble(value);
  } else if constexpr (std::is_same_v<S, Decimal> && (std::is_same_v<T, double> || std::is_same_v<T, Complex>)) {
    return T(DoubleFromDecimal(value));
  } else if constexpr (std::is_same_v<S, int64_t> && (std::is_same_v<T, double> || std::is_same_v<T, Complex>)) {
    return T(static_cast<double>(value));
  } else if constexpr (std::is_same_v<S, double> && std::is_same_v<T, Complex>) {
    return T(value);
  } else {
    SIGNAL(kDomainError);
  }
}

// The elements of a simple numeric array (borrowed) as type T.
template <class T>
static std::vector<T> NumbersOf(Ref array) {
  CheckResultFits(ElementCount(array), sizeof(T));
  std::vector<T> values(ElementCount(array));
  WithReader(array, [&](auto read) {
    if constexpr (!decltype(read)::kCharacter)
      for (uint64_t i = 0; i < values.size(); ++i) values[i] = Convert<T>(read(i));
    return true;
  });
  return values;
}

// ---- Results -------------------------------------------------------------------------------------


static Ref AllocShaped(ElementType type, const Shape& shape) {
  uint64_t count = 1;
  for (uint32_t length : shape) count *= length;
  if (shape.size() > kMaxRank) SIGNAL_MESSAGE(kLimitError, U"Rank of resultant array would exceed maximum permitted");
  Ref r = AllocArray(type, static_cast<uint32_t>(shape.size()), count);
  std::copy(shape.begin(), shape.end(), ShapeOf(r));
  return r;
}

template <class T>
static Ref CopiedResult(ElementType type, const Shape& shape, const std::vector<T>& values) {
  Ref r = AllocShaped(type, shape);
  if (!values.empty()) std::memcpy(DataOf<uint8_t>(r), values.data(), values.size() * sizeof(T));
  return r;
}

// Integers as the narrowest integer type, or binary64 when one is beyond 32 bits.
static Ref MakeResult(const Shape& shape, const std::vector<int64_t>& values) {
  bool fits = std::all_of(values.begin(), values.end(), [](int64_t v) { return v == static_cast<int32_t>(v); });
  if (!fits) return CopiedResult(kFloat64, shape, std::vector<double>(values.begin(), values.end()));
  Ref r = CopiedResult(kInt32, shape, std::vector<int32_t>(values.begin(), values.end()));
  Narrow(r);
  return r;
}
static Ref MakeResult(const Shape& shape, const std::vector<double>& values) {
  if (!std::all_of(values.begin(), values.end(), [](double v) { return std::isfinite(v); })) SIGNAL(kDomainError);
  return CopiedResult(kFloat64, shape, values);
}
static Ref MakeResult(const Shape& shape, const std::vector<Complex>& values) {
  bool finite = std::all_of(values.begin(), values.end(),
                            [](Complex v) { return std::isfinite(v.real()) && std::isfinite(v.imag()); });
  if (!finite) SIGNAL(kDomainError);
  return CopiedResult(kComplex, shape, values);
}
static Ref MakeResult(const Shape& shape, const std::vector<Decimal>& values) {
  if (!std::all_of(values.begin(), values.end(), IsDecimalFinite)) SIGNAL(kDomainError);
  return CopiedResult(kDecimal128, shape, values);
}

// ---- Arithmetic per number type ------------------------------------------------------------------
// Integers report overflow through `overflow` (the caller then starts again in binary64); binary64 and
// complex results are checked for finiteness when the result is built; decimal operations leave
// their exceptions in the thread's status, checked once at the end.

struct Arithmetic {
  double tolerance;          // ⎕CT
  Decimal decimalTolerance;  // ⎕DCT
  bool overflow = false;

  int64_t Add(int64_t a, int64_t b) {
    int64_t r;
    overflow |= __builtin_add_overflow(a, b, &r);
    return r;
  }
  int64_t Multiply(int64_t a, int64_t b) {
    int64_t r;
    overflow |= __builtin_mul_overflow(a, b, &r);
    return r;
  }
  int64_t Residue(int64_t radix, int64_t value) { return IntegerResidue(radix, value); }
  // (value − digit) ÷ radix, exact: the digit is value's residue.
  int64_t Quotient(int64_t value, int64_t digit, int64_t radix) { return (value - digit) / radix; }

  double Add(double a, double b) { return a + b; }
  double Multiply(double a, double b) { return a * b; }
  double Residue(double radix, double value) { return FloatResidue(radix, value, tolerance); }
  double Quotient(double value, double digit, double radix) { return (value - digit) / radix; }

  Complex Add(Complex a, Complex b) { return a + b; }
  Complex Multiply(Complex a, Complex b) { return a * b; }
  Complex Residue(Complex radix, Complex value) { return ComplexResidue(radix, value, tolerance); }
  Complex Quotient(Complex value, Complex digit, Complex radix) { return (value - digit) / radix; }

  Decimal Add(Decimal a, Decimal b) { return DecimalAdd(a, b); }
  Decimal Multiply(Decimal a, Decimal b) { return DecimalMultiply(a, b); }
  Decimal Residue(Decimal radix, Decimal value) { return DecimalResidue(radix, value, decimalTolerance); }
  Decimal Quotient(Decimal value, Decimal digit, Decimal radix) {
    return DecimalDivide(DecimalSubtract(value, digit), radix);
  }
};

static bool IsZero(int64_t x) { return x == 0; }
static bool IsZero(double x) { return x == 0; }
static bool IsZero(Complex x) { return x == Complex(0); }
static bool IsZero(Decimal x) { return IsDecimalZero(x); }

static Arithmetic ArithmeticFor(Domain domain) {
  Arithmetic arithmetic{ComparisonTolerance(), Decimal{}};
  if (domain == Domain::kDecimal) {
    arithmetic.decimalTolerance = FetchDecimalTolerance();
    ClearDecimalStatus();
  }
  return arithmetic;
}

// Runs `compute.template operator()<T>()` with the number type of the domain; an integer computation
// that overflows is done again in binary64 (decimal128 under ⎕FR 1287). DOMAIN ERROR for a decimal
// computation that overflowed.
template <class Compute>
static Ref InDomain(Domain domain, Compute compute) {
  switch (domain) {
    case Domain::kInteger: {
      Ref r = compute.template operator()<int64_t>();
      if (r) return r;
      return InDomain(CurrentFloatRepresentation() == 1287 ? Domain::kDecimal : Domain::kFloat, compute);
    }
    case Domain::kFloat: return compute.template operator()<double>();
    case Domain::kComplex: return compute.template operator()<Complex>();
    case Domain::kDecimal: {
      Ref r = compute.template operator()<Decimal>();
      if (DecimalExceptionRaised()) {
        Release(r);
        SIGNAL(kDomainError);
      }
      return r;
    }
  }
  return 0;
}

// ---- Decode --------------------------------------------------------------------------------------

// The geometry of A⊥B: the rows of A (all but its last axis) against the columns of B (all but its
// first axis), each a polynomial of `length` terms; an axis of length 1 extends.
struct DecodeShape {
  uint64_t rows, columns, length;
  bool radixExtends, digitsExtend;
  Shape result;
};

static DecodeShape DecodeGeometry(const Shape& a, const Shape& b) {
  DecodeShape g;
  uint64_t last = a.empty() ? 1 : a.back();
  uint64_t first = b.empty() ? 1 : b.front();
  if (last != first && last != 1 && first != 1) SIGNAL(kLengthError);
  g.length = last == 1 ? first : last;
  g.radixExtends = last == 1;
  g.digitsExtend = first == 1;
  g.result.assign(a.begin(), a.empty() ? a.end() : a.end() - 1);
  if (!b.empty()) g.result.insert(g.result.end(), b.begin() + 1, b.end());
  g.rows = 1;
  for (size_t i = 0; i + 1 < a.size(); ++i) g.rows *= a[i];
  g.columns = 1;
  for (size_t i = 1; i < b.size(); ++i) g.columns *= b[i];
  return g;
}

static CallResult Decode(const Ref& left, const Ref& right) {
  Domain domain = DomainOf(NumericType(left), NumericType(right));
  DecodeShape g = DecodeGeometry(ShapeVector(left), ShapeVector(right));
  return {InDomain(domain, [&]<class T>() -> Ref {
    std::vector<T> radix = NumbersOf<T>(left), digits = NumbersOf<T>(right);
    Arithmetic arithmetic = ArithmeticFor(domain);
    uint64_t radixRow = g.radixExtends ? 1 : g.length;
    CheckResultFits(g.rows * g.columns, sizeof(T));
    std::vector<T> values(g.rows * g.columns, Convert<T>(int64_t{0}));
    for (uint64_t i = 0; i < g.rows; ++i) {
      for (uint64_t j = 0; j < g.columns; ++j) {
        T value = Convert<T>(int64_t{0});  // Horner's rule: value × radix + digit, term by term
        for (uint64_t k = 0; k < g.length; ++k) {
          T r = radix[i * radixRow + (g.radixExtends ? 0 : k)];
          T d = digits[(g.digitsExtend ? 0 : k) * g.columns + j];
          value = arithmetic.Add(arithmetic.Multiply(value, r), d);
        }
        values[i * g.columns + j] = value;
        CheckStrongInterrupt();
      }
    }
    if (arithmetic.overflow) return 0;
    return MakeResult(g.result, values);
  })};
}

// ---- Encode --------------------------------------------------------------------------------------

static CallResult Encode(const Ref& left, const Ref& right) {
  Domain domain = DomainOf(NumericType(left), NumericType(right));
  Shape radixShape = ShapeVector(left);
  Shape result = radixShape;
  Shape valueShape = ShapeVector(right);
  result.insert(result.end(), valueShape.begin(), valueShape.end());
  uint64_t digitCount = radixShape.empty() ? 1 : radixShape.front();  // digits per value
  uint64_t radixColumns = 1;                                          // radix vectors in A
  for (size_t i = 1; i < radixShape.size(); ++i) radixColumns *= radixShape[i];
  return {InDomain(domain, [&]<class T>() -> Ref {
    std::vector<T> radix = NumbersOf<T>(left), numbers = NumbersOf<T>(right);
    Arithmetic arithmetic = ArithmeticFor(domain);
    uint64_t count = numbers.size();
    CheckResultFits(digitCount * radixColumns * count, sizeof(T));
    std::vector<T> digits(digitCount * radixColumns * count);
    for (uint64_t c = 0; c < radixColumns; ++c) {
      for (uint64_t j = 0; j < count; ++j) {
        T value = numbers[j];
        for (uint64_t k = digitCount; k-- > 0;) {  // last digit first
          T r = radix[k * radixColumns + c];
          T digit = IsZero(r) ? value : arithmetic.Residue(r, value);
          digits[(k * radixColumns + c) * count + j] = digit;
          value = IsZero(r) ? Convert<T>(int64_t{0}) : arithmetic.Quotient(value, digit, r);
        }
        CheckStrongInterrupt();
      }
    }
    return MakeResult(result, digits);
  })};
}

// ---- Matrix divide -------------------------------------------------------------------------------

// A column-major matrix of doubles.
struct Matrix {
  uint32_t rows = 0, columns = 0;
  std::vector<double> values;
  double& At(uint32_t i, uint32_t j) { return values[static_cast<size_t>(j) * rows + i]; }
  double At(uint32_t i, uint32_t j) const { return values[static_cast<size_t>(j) * rows + i]; }
};

// A scalar or vector as a one-column matrix, a matrix as itself; RANK ERROR above rank 2. Complex
// matrices are not solved (NONCE ERROR).
static Matrix MatrixOf(Ref array) {
  ElementType type = NumericType(array);
  if (type == kComplex) SIGNAL(kNonceError);
  Shape shape = ShapeVector(array);
  if (shape.size() > 2) SIGNAL(kRankError);
  Matrix m;
  m.rows = shape.empty() ? 1 : shape[0];
  m.columns = shape.size() == 2 ? shape[1] : 1;
  std::vector<double> rowMajor = NumbersOf<double>(array);
  m.values.resize(rowMajor.size());
  for (uint32_t i = 0; i < m.rows; ++i)
    for (uint32_t j = 0; j < m.columns; ++j) m.At(i, j) = rowMajor[static_cast<size_t>(i) * m.columns + j];
  return m;
}

// A column whose part outside the span of the columns before it is below this fraction of its
// length makes the matrix rank-deficient.
static constexpr double kRankTolerance = 1e-13;

// Householder QR of b (rows ≥ columns) in place: above the diagonal R, on and below it the vectors
// v of the reflections I − v vᵀ/scale. Returns R's diagonal and each reflection's scale. DOMAIN
// ERROR for a rank-deficient b.
struct Reflections {
  std::vector<double> diagonal, scale;
};

// Applies reflection j (its vector in column j of b) to the column y of length b.rows.
static void Reflect(const Matrix& b, const Reflections& h, uint32_t j, double* y) {
  double dot = 0;
  for (uint32_t i = j; i < b.rows; ++i) dot += b.At(i, j) * y[i];
  double factor = dot / h.scale[j];
  for (uint32_t i = j; i < b.rows; ++i) y[i] -= factor * b.At(i, j);
}

static Reflections Triangulate(Matrix& b) {
  Reflections h{std::vector<double>(b.columns), std::vector<double>(b.columns)};
  for (uint32_t j = 0; j < b.columns; ++j) {
    CheckStrongInterrupt();
    double columnNorm = 0, norm = 0;
    for (uint32_t i = 0; i < b.rows; ++i) columnNorm = std::hypot(columnNorm, b.At(i, j));
    for (uint32_t i = j; i < b.rows; ++i) norm = std::hypot(norm, b.At(i, j));
    if (norm == 0 || norm <= kRankTolerance * columnNorm) SIGNAL(kDomainError);
    double head = b.At(j, j);
    h.diagonal[j] = head > 0 ? -norm : norm;
    b.At(j, j) = head - h.diagonal[j];           // v = x − R[j;j] e₁
    h.scale[j] = norm * (norm + std::fabs(head));  // vᵀv ÷ 2
    for (uint32_t k = j + 1; k < b.columns; ++k) Reflect(b, h, j, &b.At(0, k));
  }
  return h;
}

// Solves R x = y (the first b.columns values of y); writes x's values `stride` apart.
static void BackSubstitute(const Matrix& b, const Reflections& h, const double* y, double* x, size_t stride) {
  for (uint32_t i = b.columns; i-- > 0;) {
    double sum = y[i];
    for (uint32_t j = i + 1; j < b.columns; ++j) sum -= b.At(i, j) * x[j * stride];
    x[i * stride] = sum / h.diagonal[i];
  }
}

// DOMAIN ERROR for fewer rows than columns; WS FULL or LIMIT ERROR for a result of `count` columns
// that cannot exist.
static void CheckSolvable(const Matrix& b, uint64_t count) {
  if (b.rows < b.columns) SIGNAL(kDomainError);
  CheckResultFits(b.columns * count, sizeof(double));
}

// The least-squares solution x of b x = a, one column of a at a time: Qᵀ a then R⁻¹. Row-major,
// columns(b) by columns(a).
static std::vector<double> LeastSquares(Matrix b, const Matrix& a) {
  CheckSolvable(b, a.columns);
  Reflections h = Triangulate(b);
  std::vector<double> x(static_cast<size_t>(b.columns) * a.columns);
  std::vector<double> y(b.rows);
  for (uint32_t k = 0; k < a.columns; ++k) {
    CheckStrongInterrupt();
    for (uint32_t i = 0; i < a.rows; ++i) y[i] = a.At(i, k);
    for (uint32_t j = 0; j < b.columns; ++j) Reflect(b, h, j, y.data());
    BackSubstitute(b, h, y.data(), x.data() + k, a.columns);
  }
  return x;
}

// The left inverse R⁻¹ Q₁ᵀ of b, where Q₁ is the first columns(b) columns of Q: each found by
// reflecting a unit column, so the cost grows with rows × columns², not rows². Row-major, columns(b)
// by rows(b).
static std::vector<double> LeftInverse(Matrix b) {
  CheckSolvable(b, b.rows);
  Reflections h = Triangulate(b);
  Matrix q{b.rows, b.columns, std::vector<double>(b.values.size())};
  std::vector<double> y(b.rows);
  for (uint32_t i = 0; i < b.columns; ++i) {
    CheckStrongInterrupt();
    std::fill(y.begin(), y.end(), 0.0);
    y[i] = 1;
    for (uint32_t j = b.columns; j-- > 0;) Reflect(b, h, j, y.data());
    std::copy(y.begin(), y.end(), q.values.begin() + static_cast<ptrdiff_t>(i) * b.rows);
  }
  std::vector<double> x(static_cast<size_t>(b.columns) * b.rows);
  if (x.empty()) return x;  // no columns: nothing to solve for
  std::vector<double> row(b.columns);
  for (uint32_t k = 0; k < b.rows; ++k) {
    CheckStrongInterrupt();
    for (uint32_t i = 0; i < b.columns; ++i) row[i] = q.At(k, i);
    BackSubstitute(b, h, row.data(), x.data() + k, b.rows);
  }
  return x;
}

// The result shape of A⌹B: (1↓⍴B),1↓⍴A.
static Shape QuotientShape(const Shape& a, const Shape& b) {
  Shape shape(b.empty() ? b.begin() : b.begin() + 1, b.end());
  if (!a.empty()) shape.insert(shape.end(), a.begin() + 1, a.end());
  return shape;
}

static CallResult MatrixDivide(const Ref& left, const Ref& right) {
  Shape shape = QuotientShape(ShapeVector(left), ShapeVector(right));
  Matrix a = MatrixOf(left), b = MatrixOf(right);
  if (a.rows != b.rows) SIGNAL(kLengthError);
  return {MakeResult(shape, LeastSquares(std::move(b), a))};
}

// ⌹B: the left inverse, shaped (1↓⍴B),1↑⍴B.
static CallResult MatrixInverse(const Ref&, const Ref& right) {
  Shape shape = ShapeVector(right);
  if (!shape.empty()) std::rotate(shape.begin(), shape.begin() + 1, shape.end());
  return {MakeResult(shape, LeftInverse(MatrixOf(right)))};
}

static constexpr PrimitiveRow kEncodeRows[] = {
    {45, nullptr, Decode, 0},
    {46, nullptr, Encode, 0},
    {49, MatrixInverse, MatrixDivide, 0},
};

void InitialiseEncode() { InstallPrimitives(kEncodeRows); }

}  // namespace vantor
