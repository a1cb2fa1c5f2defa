// The operators other than reduction and scan, and the table through which the evaluator reaches all
// of them. Scalar primitive operands are handed to the scalar engine over whole arrays (outer
// product extends its arguments first, inner product forms one row of products at a time); other
// operands are applied item by item through the evaluator and their results gathered.
#include "primitives/op.h"

#include <algorithm>
#include <cfloat>
#include <complex>
#include <type_traits>

#include "primitives/dispatch.h"
#include "memory/memory1.h"
#include "base/errors.h"
#include "primitives/arith.h"
#include "primitives/blas.h"
#include "primitives/cat.h"
#include "primitives/iass.h"
#include "primitives/index.h"
#include "primitives/key.h"
#include "primitives/parallel.h"
#include "primitives/same.h"
#include "primitives/reduce.h"
#include "sysfns/quadvar.h"

namespace vantor {

static constexpr char kUnit[] = "op";

namespace {

std::vector<uint32_t> ShapeOfArray(Ref array) {
  return std::vector<uint32_t>(ShapeOf(array), ShapeOf(array) + RankOf(TypeWord(array)));
}
uint64_t Product(const std::vector<uint32_t>& shape) {
  uint64_t n = 1;
  for (uint32_t d : shape) n *= d;
  return n;
}

// The operand in word `word` of a derived function, counted; SYNTAX ERROR unless it is a function.
Ref FunctionOperand(const Ref& derived, uint32_t word) {
  Ref operand = Words(derived)[word];
  if (!operand || IsArrayOperand(operand)) SIGNAL(kSyntaxError);
  return Retained(operand);
}

// The operators other than reduction and scan take no axis.
void RefuseAxis() {
  if (AxisArgument()) SIGNAL_MESSAGE(kSyntaxError, U"Invalid axis");
}

void RequireArrays(const Ref& left, const Ref& right) {
  if (!IsArray(right) || (left && !IsArray(left))) SIGNAL(kDomainError);
}

[[noreturn]] void SignalNeedsLeft() { SIGNAL_MESSAGE(kSyntaxError, U"The function requires a left argument"); }
[[noreturn]] void SignalTakesNoLeft() { SIGNAL_MESSAGE(kSyntaxError, U"The function does not take a left argument"); }

void CheckResultRank(size_t rank) {
  if (rank > kMaxRank) SIGNAL_MESSAGE(kLimitError, U"Rank of resultant array would exceed maximum permitted");
}

// ---- Identity elements --------------------------------------------------------------------------------

Ref RealScalar(double value) {
  Ref r = AllocScalar(kFloat64);
  *DataOf<double>(r) = value;
  return r;
}

// The largest finite decimal128 value, 34 nines at the largest exponent, and its negative.
Ref LargestDecimal(bool negative) {
  Ref r = AllocScalar(kDecimal128);
  Decimal d;
  d.w[0] = 0x378D8E63FFFFFFFFull;
  d.w[1] = negative ? 0xDFFFED09BEAD87C0ull : 0x5FFFED09BEAD87C0ull;
  StoreDecimal(DataOf<uint8_t>(r), d);
  return r;
}

Ref Extreme(bool negative) {
  if (CurrentFloatRepresentation() == 1287) return LargestDecimal(negative);
  return RealScalar(negative ? -DBL_MAX : DBL_MAX);
}

// 0⍴P for the prototype P of `array`.
Ref EmptyOfPrototype(const Ref& array) {
  Temporaries hold;
  hold[0] = Prototype(array);
  hold[1] = IntegerVector({0});
  return Reshape(hold[1], hold[0]);
}

// The shape of the result of pairing the items of `left` and `right`: a single item extends, two
// single items give the higher rank (the right on a tie); otherwise RANK or LENGTH ERROR.
std::vector<uint32_t> PairedShape(const Ref& left, const Ref& right) {
  const uint64_t nl = ElementCount(left), nr = ElementCount(right);
  const uint32_t rl = RankOf(TypeWord(left)), rr = RankOf(TypeWord(right));
  if (nl == 1 && !(nr == 1 && rr < rl)) return ShapeOfArray(right);
  if (nl == 1 || nr == 1) return ShapeOfArray(left);
  if (rl != rr) SIGNAL(kRankError);
  if (!std::equal(ShapeOf(left), ShapeOf(left) + rl, ShapeOf(right))) SIGNAL(kLengthError);
  return ShapeOfArray(left);
}

}  // namespace

// ---- Collecting -------------------------------------------------------------------------------------------

// The item at ravel position `index` of `array`, or its only item when it has one (single-item
// extension), counted.
Ref ItemAt(const Ref& array, uint64_t index) {
  if (!IsArray(array)) return Retained(array);
  return ElementAsScalar(array, ElementCount(array) == 1 ? 0 : index);
}

std::vector<uint32_t> ItemsShape(const Ref& left, const Ref& right) {
  return left ? PairedShape(left, right) : ShapeOfArray(right);
}

namespace {

// The fill of an array: its prototype, or the array itself when it is not an array (a reference).
Ref FillOf(const Ref& array) { return IsArray(array) ? Prototype(array) : Retained(RootWordAt(kRootScalarZero)); }

bool IsMonadicScalarCode(uint32_t code) { return (code >= 2 && code <= 12) || code == 14 || code == kPrimQuery; }

// f¨B and A f¨B (`left` 0 for a monadic call).
Ref EachItem(const Ref& fn, const Ref& left, const Ref& right) {
  const uint32_t code = PrimitiveCodeOf(fn);
  // A scalar function already applies item by item.
  if (left ? IsDyadicScalarCode(code) : IsMonadicScalarCode(code)) return ResultOf(fn, left, right);
  if (!IsArray(right) || (left && !IsArray(left))) return ResultOf(fn, left, right);
  ItemCollector result(ItemsShape(left, right));
  Temporaries hold;
  for (uint64_t i = 0; i < result.Count(); ++i) {
    if (left) hold[0] = ItemAt(left, i);
    hold[1] = ItemAt(right, i);
    result.Put(i, ResultOf(fn, hold[0], hold[1]));
    Release(hold[0]);
    Release(hold[1]);
  }
  if (result.Count() == 0) {
    // The prototype of an empty result: the function applied to the arguments' prototypes.
    if (left) hold[0] = FillOf(left);
    hold[1] = FillOf(right);
    hold[2] = ResultOf(fn, hold[0], hold[1]);
  }
  return result.Finish(hold[2]);
}

CallResult ApplyEach(const Ref& derived, const Ref& left, const Ref& right) {
  RefuseAxis();
  Temporaries hold;
  hold[0] = FunctionOperand(derived, kDerivedLeftOperand);
  if (IsSelection(right) || IsSelection(left))
    return SelectWithinItems(left, right, [&](const Ref& leftItem, const Ref& itemSelection) {
      return CallFunctionValue(hold[0], leftItem, itemSelection).value;
    });
  return {EachItem(hold[0], left, right)};
}

// ---- Outer product ------------------------------------------------------------------------------------

// A∘.fB for a scalar f: A's items each repeated ×/⍴B times against B repeated ×/⍴A times, in one
// call of the scalar function.
Ref ScalarOuterProduct(uint32_t code, const Ref& left, const Ref& right, const std::vector<uint32_t>& shape) {
  Temporaries hold;
  hold[0] = IntegerVector(shape);
  hold[1] = CallPrimitive(kPrimComma, 0, left).value;
  const uint64_t times = ElementCount(right);
  if (times > static_cast<uint64_t>(INT32_MAX)) SignalArrayTooLarge();
  hold[2] = MakeIntScalar(static_cast<int32_t>(times));
  Ref repeated = CallPrimitive(kPrimSlash, hold[2], hold[1]).value;
  Release(hold[1]);
  hold[1] = repeated;
  Release(hold[2]);
  hold[2] = Reshape(hold[0], hold[1]);
  Release(hold[1]);
  hold[1] = Reshape(hold[0], right);
  return CallPrimitive(code, hold[2], hold[1]).value;
}

Ref OuterProduct(const Ref& fn, const Ref& left, const Ref& right) {
  std::vector<uint32_t> shape = ShapeOfArray(left);
  const std::vector<uint32_t> rightShape = ShapeOfArray(right);
  shape.insert(shape.end(), rightShape.begin(), rightShape.end());
  CheckResultRank(shape.size());
  const uint32_t code = PrimitiveCodeOf(fn);
  if (IsDyadicScalarCode(code)) return ScalarOuterProduct(code, left, right, shape);
  ItemCollector result(shape);
  const uint64_t nr = ElementCount(right);
  Temporaries hold;
  const bool booleanLeft = KindOf(TypeWord(left)) == kKindSimple && ElementOf(TypeWord(left)) == kBool;
  if (booleanLeft && ElementCount(left) > 2 && nr > 0) {
    // A Boolean left argument: the operand is applied with 0 and with 1 only, and those rows reused.
    hold[0] = AllocVector(kBool, 2);
    DataOf<uint8_t>(hold[0])[0] = 0x40;  // 0 1
    hold[1] = OuterProduct(fn, hold[0], right);
    for (uint64_t i = 0; i < result.Count(); ++i)
      result.Put(i, ElementAsScalar(hold[1], GetBit(DataOf<uint8_t>(left), i / nr) * nr + i % nr));
    return result.Finish(hold[1]);
  }
  for (uint64_t i = 0; i < result.Count(); ++i) {
    hold[0] = ElementAsScalar(left, i / nr);
    hold[1] = ElementAsScalar(right, i % nr);
    result.Put(i, ResultOf(fn, hold[0], hold[1]));
    Release(hold[0]);
    Release(hold[1]);
  }
  if (result.Count() == 0) {
    hold[0] = FillOf(left);
    hold[1] = FillOf(right);
    hold[2] = ResultOf(fn, hold[0], hold[1]);
  }
  return result.Finish(hold[2]);
}

// ---- Inner product ------------------------------------------------------------------------------------

// The largest magnitude an element of a numeric type is taken to have when choosing the +.×
// accumulator.
double MagnitudeBound(ElementType type) {
  switch (type) {
    case kInt8: return 128;
    case kInt16: return 32768;
    case kInt32: return 2147000000;
    default: return 5E9;
  }
}

bool IsIntegerType(ElementType t) { return t == kInt8 || t == kInt16 || t == kInt32; }

// The elements of a simple numeric array as T, in ravel order.
template <class T>
std::vector<T> ElementsAs(Ref array) {
  std::vector<T> values(ElementCount(array));
  WithReader(array, [&](auto read) {
    for (uint64_t i = 0; i < values.size(); ++i) {
      auto v = read(i);
      if constexpr (std::is_arithmetic_v<decltype(v)>) values[i] = static_cast<T>(v);
    }
    return true;
  });
  return values;
}

// A+.×B with an accumulator of type T: each result row is the sum of B's rows scaled by A's items.
// `inner` is the common length (a single-item axis of either extends).
template <class T>
Ref PlusTimes(const Ref& left, const Ref& right, uint64_t rows, uint64_t inner, uint64_t columns,
              const std::vector<uint32_t>& shape) {
  const uint64_t a = RankOf(TypeWord(left)) ? ShapeOf(left)[RankOf(TypeWord(left)) - 1] : 1;
  const uint64_t b = RankOf(TypeWord(right)) ? ShapeOf(right)[0] : 1;
  const std::vector<T> x = ElementsAs<T>(left), y = ElementsAs<T>(right);
  Temporaries hold;
  hold[0] = NewArray(std::is_same_v<T, int32_t> ? kInt32 : kFloat64, shape);
  T* out = DataOf<T>(hold[0]);
  for (uint64_t i = 0; i < rows; ++i) {
    CheckStrongInterrupt();  // a row costs inner × columns steps
    T* row = out + i * columns;
    std::fill(row, row + columns, T(0));
    for (uint64_t j = 0; j < inner; ++j) {
      const T s = x[i * a + (a == 1 ? 0 : j)];
      const T* from = y.data() + (b == 1 ? 0 : j) * columns;
      for (uint64_t c = 0; c < columns; ++c) row[c] += s * from[c];
    }
  }
  return hold.Take(0);
}

// A+.×B with a binary64 result through the matrix library, when neither argument's inner axis
// extends; 0 when it does not apply or the library is missing. Rows go in blocks of about 2²⁸
// multiplications, with an interrupt check after each.
Ref LibraryPlusTimes(const Ref& left, const Ref& right, uint64_t rows, uint64_t inner, uint64_t columns,
                     const std::vector<uint32_t>& shape) {
  const uint64_t a = RankOf(TypeWord(left)) ? ShapeOf(left)[RankOf(TypeWord(left)) - 1] : 1;
  const uint64_t b = RankOf(TypeWord(right)) ? ShapeOf(right)[0] : 1;
  if (a != inner || b != inner) return 0;
  const bool leftDouble = ElementOf(TypeWord(left)) == kFloat64, rightDouble = ElementOf(TypeWord(right)) == kFloat64;
  std::vector<double> x, y;  // the arguments that are not binary64, converted
  if (!leftDouble) x = ElementsAs<double>(left);
  if (!rightDouble) y = ElementsAs<double>(right);
  Temporaries hold;
  hold[0] = NewArray(kFloat64, shape);
  const double* px = leftDouble ? DataOf<double>(left) : x.data();
  const double* py = rightDouble ? DataOf<double>(right) : y.data();
  double* out = DataOf<double>(hold[0]);
  const uint64_t block = std::max<uint64_t>(1, (uint64_t{1} << 28) / std::max<uint64_t>(inner * columns, 1));
  for (uint64_t start = 0; start < rows; start += block) {
    const uint64_t m = std::min(block, rows - start);
    if (!MultiplyMatrices(m, inner, columns, px + start * inner, py, out + start * columns, ParallelThreadCount()))
      return 0;
    CheckStrongInterrupt();
  }
  return hold.Take(0);
}

// +.× on numeric arrays of more than one item each, neither Boolean, complex nor decimal (⎕FR 645):
// a 32-bit accumulator when an 8-bit argument bounds every sum, else binary64. 0 when it does not
// apply.
Ref NumericPlusTimes(const Ref& left, const Ref& right, uint64_t rows, uint64_t inner, uint64_t columns,
                     const std::vector<uint32_t>& shape) {
  if (KindOf(TypeWord(left)) != kKindSimple || KindOf(TypeWord(right)) != kKindSimple) return 0;
  const ElementType tl = ElementOf(TypeWord(left)), tr = ElementOf(TypeWord(right));
  auto usable = [](ElementType t) { return IsIntegerType(t) || t == kFloat64; };
  if (!usable(tl) || !usable(tr) || ElementCount(left) < 2 || ElementCount(right) < 2) return 0;
  if (CurrentFloatRepresentation() == 1287 && !(IsIntegerType(tl) && IsIntegerType(tr))) return 0;
  const bool narrow = (tl == kInt8 || tr == kInt8) &&
                      static_cast<double>(inner) * MagnitudeBound(tl) * MagnitudeBound(tr) <= 2147483647.0;
  if (narrow) return PlusTimes<int32_t>(left, right, rows, inner, columns, shape);
  if (CurrentFloatRepresentation() == 1287) return 0;
  Ref r = LibraryPlusTimes(left, right, rows, inner, columns, shape);
  if (!r) r = PlusTimes<double>(left, right, rows, inner, columns, shape);
  if (IsIntegerType(tl) && IsIntegerType(tr)) Narrow(r);
  return r;
}

// One row of an inner product: item j of row `row` of A paired with each item of B's major cell j,
// as an n × (1↓⍴B) array (n the common inner length).
class InnerRows {
 public:
  InnerRows(const Ref& fn, const Ref& left, const Ref& right, uint64_t inner)
      : fn_(fn), left_(left), right_(right), inner_(inner) {
    a_ = RankOf(TypeWord(left)) ? ShapeOf(left)[RankOf(TypeWord(left)) - 1] : 1;
    shape_ = ShapeOfArray(right);
    if (shape_.empty()) shape_.push_back(1);
    shape_[0] = static_cast<uint32_t>(inner);
    columns_ = Product(shape_) / std::max<uint64_t>(inner, 1);
    b_ = RankOf(TypeWord(right)) ? ShapeOf(right)[0] : 1;
    code_ = PrimitiveCodeOf(fn);
    if (IsDyadicScalarCode(code_)) {
      hold_[0] = IntegerVector(shape_);
      hold_[1] = Reshape(hold_[0], right);  // B, its single major cell repeated when it has one
      hold_[2] = MakeIntScalar(static_cast<int32_t>(std::min<uint64_t>(columns_, INT32_MAX)));
    }
  }
  uint64_t Columns() const { return columns_; }

  Ref Row(uint64_t row) {
    if (IsDyadicScalarCode(code_)) return ScalarRow(row);
    ItemCollector g(shape_);
    Temporaries hold;
    for (uint64_t j = 0; j < inner_; ++j)
      for (uint64_t c = 0; c < columns_; ++c) {
        hold[0] = ElementAsScalar(left_, row * a_ + (a_ == 1 ? 0 : j));
        hold[1] = ElementAsScalar(right_, (b_ == 1 ? 0 : j) * columns_ + c);
        g.Put(j * columns_ + c, ResultOf(fn_, hold[0], hold[1]));
        Release(hold[0]);
        Release(hold[1]);
      }
    hold[0] = FillOf(right_);
    return g.Finish(hold[0]);
  }

 private:
  // A[row;j] repeated along B's cell j, and the scalar function applied once.
  Ref ScalarRow(uint64_t row) {
    Temporaries hold;
    std::vector<uint32_t> offsets(a_);
    for (uint32_t j = 0; j < a_; ++j) offsets[j] = j;
    SelectionPlan plan;
    plan.shape = {static_cast<uint32_t>(a_)};
    plan.groups = {{static_cast<uint32_t>(row * a_)}, offsets};
    hold[0] = GatherSelection(left_, plan);
    hold[1] = CallPrimitive(kPrimSlash, hold_[2], hold[0]).value;
    Release(hold[0]);
    hold[0] = Reshape(hold_[0], hold[1]);
    return CallPrimitive(code_, hold[0], hold_[1]).value;
  }

  const Ref& fn_;
  const Ref& left_;
  const Ref& right_;
  uint64_t inner_, a_, b_, columns_;
  uint32_t code_;
  std::vector<uint32_t> shape_;
  Temporaries hold_;  // scalar g: [0] the row shape, [1] B as rows, [2] the repeat count
};

Ref InnerProduct(const Ref& f, const Ref& g, const Ref& left, const Ref& right) {
  const std::vector<uint32_t> shapeA = ShapeOfArray(left), shapeB = ShapeOfArray(right);
  const uint64_t a = shapeA.empty() ? 1 : shapeA.back(), b = shapeB.empty() ? 1 : shapeB.front();
  if (a != b && a != 1 && b != 1) SIGNAL(kLengthError);
  const uint64_t inner = a == 1 ? b : a;
  std::vector<uint32_t> shape(shapeA.begin(), shapeA.end() - (shapeA.empty() ? 0 : 1));
  const uint64_t rows = Product(shape);
  if (!shapeB.empty()) shape.insert(shape.end(), shapeB.begin() + 1, shapeB.end());
  CheckResultRank(shape.size());
  const uint64_t columns = Product(shape) / std::max<uint64_t>(rows, 1);
  Temporaries hold;
  if (inner == 0) {
    hold[0] = IdentityItem(f, right);
    return FilledWith(shape, hold[0]);
  }
  if (PrimitiveCodeOf(f) == kScalarPlus && PrimitiveCodeOf(g) == kScalarTimes)
    if (Ref r = NumericPlusTimes(left, right, rows, inner, columns, shape)) return r;
  ItemCollector result(shape);
  InnerRows products(g, left, right, inner);
  for (uint64_t i = 0; i < rows; ++i) {
    hold[0] = products.Row(i);
    hold[1] = Reduce(f, hold[0], 0);
    for (uint64_t c = 0; c < columns; ++c) result.Put(i * columns + c, ElementAsScalar(hold[1], c));
    Release(hold[0]);
    Release(hold[1]);
  }
  hold[0] = FillOf(right);
  return result.Finish(hold[0]);
}

CallResult ApplyProduct(const Ref& derived, const Ref& left, const Ref& right) {
  RefuseAxis();
  if (!left) SignalNeedsLeft();
  RequireArrays(left, right);
  Temporaries hold;
  hold[1] = FunctionOperand(derived, kDerivedRightOperand);
  if (Words(derived)[kDerivedLeftOperand] == kPrimJot) return {OuterProduct(hold[1], left, right)};
  hold[0] = FunctionOperand(derived, kDerivedLeftOperand);
  return {InnerProduct(hold[0], hold[1], left, right)};
}

// ---- Commute and compose ------------------------------------------------------------------------------

CallResult ApplyCommute(const Ref& derived, const Ref& left, const Ref& right) {
  RefuseAxis();
  Temporaries hold;
  hold[0] = FunctionOperand(derived, kDerivedLeftOperand);
  return CallFunctionValue(hold[0], right, left ? left : right);
}

// ---- Trains ------------------------------------------------------------------------------------------

// (g h): g applied to the result of h.
CallResult ApplyAtop(const Ref& derived, const Ref& left, const Ref& right) {
  RefuseAxis();
  Temporaries hold;
  hold[0] = Retained(Words(derived)[kDerivedLeftOperand]);
  hold[1] = Retained(Words(derived)[kDerivedRightOperand]);
  hold[2] = ResultOf(hold[1], left, right);
  return CallFunctionValue(hold[0], 0, hold[2]);
}

// (f g h): g applied to the results of f and h, each applied to the arguments (h first); an array f
// is itself the left result.
CallResult ApplyFork(const Ref& derived, const Ref& left, const Ref& right) {
  RefuseAxis();
  Temporaries tines;  // f, g, h
  tines[0] = Retained(Words(derived)[kDerivedLeftOperand]);
  const Ref pair = Words(derived)[kDerivedRightOperand];
  tines[1] = Retained(Words(pair)[kDerivedLeftOperand]);
  tines[2] = Retained(Words(pair)[kDerivedRightOperand]);
  Temporaries results;  // of h, of f
  results[0] = ResultOf(tines[2], left, right);
  results[1] = IsArrayOperand(tines[0]) ? Retained(tines[0]) : ResultOf(tines[0], left, right);
  return CallFunctionValue(tines[1], results[1], results[0]);
}

// True when a search function bound to an array searches that array: X∘⍳ and X∘∪ with the array on
// the left, ∊∘X, ∩∘X and ~∘X with it on the right.
bool SearchesBoundArray(Ref fn, bool arrayOnLeft) {
  const uint32_t code = PrimitiveCodeOf(fn);
  if (arrayOnLeft) return code == kPrimIota || code == kPrimUnion;
  return code == kPrimEpsilon || code == kPrimIntersection || code == kPrimTilde;
}

// A bound search function keeps its array as a hashed array in operand word `word`, so that the
// search table built at its first call serves every later one. `array` is the slot holding the
// operand (counted), which gets the hashed array too.
void HashBoundArray(const Ref& derived, uint32_t word, Ref& array) {
  if (IsHashedArray(array)) return;
  Ref hashed = HashedArrayOf(array);
  Release(array);
  array = hashed;
  Ref replaced = Words(derived)[word];
  Words(derived)[word] = Retained(hashed);
  Release(replaced);
}

// f∘g, A∘f and f∘B. A bound array makes a monadic function; a bound search function searches its array
// with a table kept in the derived function.
CallResult ApplyCompose(const Ref& derived, const Ref& left, const Ref& right) {
  RefuseAxis();
  Temporaries hold;
  hold[0] = Retained(Words(derived)[kDerivedLeftOperand]);
  hold[1] = Retained(Words(derived)[kDerivedRightOperand]);
  const bool leftArray = IsArrayOperand(hold[0]), rightArray = IsArrayOperand(hold[1]);
  if (leftArray && rightArray) SIGNAL(kSyntaxError);
  if ((leftArray || rightArray) && left) SignalTakesNoLeft();
  if (leftArray && SearchesBoundArray(hold[1], true)) HashBoundArray(derived, kDerivedLeftOperand, hold[0]);
  if (rightArray && SearchesBoundArray(hold[0], false)) HashBoundArray(derived, kDerivedRightOperand, hold[1]);
  if (leftArray) return CallFunctionValue(hold[1], hold[0], right);
  if (rightArray) return CallFunctionValue(hold[0], right, hold[1]);
  hold[2] = ResultOf(hold[1], 0, right);
  return CallFunctionValue(hold[0], left, hold[2]);
}

// ---- Power --------------------------------------------------------------------------------------------

// The inverses of the primitives that have one, for ⍣ with a negative count: the X with f X = Y, and
// the X with A f X = Y, each one call of another primitive (`dyadic` 0: none). A dyadic inverse
// computes Y g A when `swap` is set, else A g Y; ⌽ and ⊖ rotate back by −A.
struct PrimitiveInverse {
  uint32_t code;
  uint32_t monadic;
  uint32_t dyadic;
  bool swap;
};
constexpr PrimitiveInverse kInverses[] = {
    {kScalarPlus, kScalarPlus, kScalarMinus, true},    {kScalarMinus, kScalarMinus, kScalarMinus, false},
    {kScalarTimes, 0, kScalarDivide, true},            {kScalarDivide, kScalarDivide, kScalarDivide, false},
    {kScalarPower, kScalarLog, kScalarLog, false},     {kScalarLog, kScalarPower, kScalarPower, false},
    {kScalarNot, kScalarNot, 0, false},                {kPrimRotate, kPrimRotate, kPrimRotate, false},
    {kPrimRotateFirst, kPrimRotateFirst, kPrimRotateFirst, false},
    {kPrimTranspose, kPrimTranspose, 0, false},
};

// A⊥⍣¯1 Y: Y in as many digits of base A as its largest magnitude needs (none for all zeros).
Ref DecodeInverse(const Ref& base, const Ref& y) {
  Temporaries hold;
  hold[0] = CallPrimitive(kScalarResidue, 0, y).value;
  hold[1] = CallPrimitive(kPrimComma, 0, hold[0]).value;
  Release(hold[0]);
  hold[0] = Reduce(Ref{kScalarCeiling}, hold[1], 0);
  Release(hold[1]);
  if (Match(hold[0], RootWordAt(kRootScalarZero)))
    return CallPrimitive(kPrimEncode, RootWordAt(kRootEmptyNumericVector), y).value;
  hold[1] = CallPrimitive(kScalarLog, base, hold[0]).value;
  Release(hold[0]);
  hold[0] = CallPrimitive(kScalarFloor, 0, hold[1]).value;
  Release(hold[1]);
  hold[1] = CallPrimitive(kScalarPlus, RootWordAt(kRootScalarOne), hold[0]).value;
  Release(hold[0]);
  hold[0] = CallPrimitive(kPrimSlash, hold[1], base).value;
  return CallPrimitive(kPrimEncode, hold[0], y).value;
}

// Y ↦ the X with f X = Y (`left` 0) or A f X = Y, for a primitive f; NONCE ERROR when f has no
// inverse here.
Ref Inverted(uint32_t code, const Ref& left, const Ref& y) {
  if (left && code == kPrimDecode) return DecodeInverse(left, y);
  for (const PrimitiveInverse& inverse : kInverses) {
    if (inverse.code != code) continue;
    const uint32_t g = left ? inverse.dyadic : inverse.monadic;
    if (!g) break;
    if (!left) return CallPrimitive(g, 0, y).value;
    if (inverse.swap) return CallPrimitive(g, y, left).value;
    if (code != kPrimRotate && code != kPrimRotateFirst) return CallPrimitive(g, left, y).value;
    Temporaries hold;
    hold[0] = CallPrimitive(kScalarMinus, 0, left).value;
    return CallPrimitive(g, hold[0], y).value;
  }
  SIGNAL(kNonceError);
}

// f∘B inverted: the X with X f B = Y is Y g B.
struct RightBoundInverse {
  uint32_t code;
  uint32_t g;
};
constexpr RightBoundInverse kRightBoundInverses[] = {
    {kScalarPlus, kScalarMinus}, {kScalarMinus, kScalarPlus}, {kScalarTimes, kScalarDivide}, {kScalarDivide, kScalarTimes}};

// The inverse of f as a primitive and a bound argument: `left` the left argument for A f X (or A∘f),
// `boundRight` set when it is the B of f∘B and `code` is then g of Y g B. NONCE ERROR when f has
// no inverse here.
struct FunctionInverse {
  uint32_t code = 0;
  bool boundRight = false;
};
static FunctionInverse InverseOf(const Ref& fn, const Ref& left, Ref& bound) {
  if (uint32_t code = PrimitiveCodeOf(fn)) {
    bound = Retained(left);
    return {code, false};
  }
  if (left || !IsRef(fn) || KindOf(TypeWord(fn)) != kKindDerived || Words(fn)[kDerivedOperator] != kPrimJot)
    SIGNAL(kNonceError);
  const Ref f = Words(fn)[kDerivedLeftOperand], g = Words(fn)[kDerivedRightOperand];
  if (IsArrayOperand(f)) {
    if (uint32_t code = PrimitiveCodeOf(g)) {
      bound = Retained(f);
      return {code, false};
    }
  } else if (IsArrayOperand(g)) {
    const uint32_t code = PrimitiveCodeOf(f);
    for (const RightBoundInverse& inverse : kRightBoundInverses)
      if (inverse.code == code) {
        bound = Retained(g);
        return {inverse.g, true};
      }
  }
  SIGNAL(kNonceError);
}

// f⍣n: f applied n times, each result the next right argument (A stays the left argument); a
// negative n applies the inverse of f. A∘f is inverted as f with the left argument A.
Ref PowerCount(const Ref& fn, const Ref& count, const Ref& left, const Ref& right) {
  if (RankOf(TypeWord(count)) != 0) SIGNAL(kRankError);
  const int64_t n = IntegersOf(count)[0];
  Temporaries hold;
  FunctionInverse inverse;
  if (n < 0) inverse = InverseOf(fn, left, hold[2]);
  hold[0] = Retained(right);
  for (int64_t i = 0; i < (n < 0 ? -n : n); ++i) {
    CheckStrongInterrupt();
    if (n >= 0) hold[1] = ResultOf(fn, left, hold[0]);
    else if (inverse.boundRight) hold[1] = CallPrimitive(inverse.code, hold[0], hold[2]).value;
    else hold[1] = Inverted(inverse.code, hold[2], hold[0]);
    Release(hold[0]);
    hold[0] = hold.Take(1);
  }
  return hold.Take(0);
}

// f⍣g: f applied until (new value) g (previous value) gives 1.
Ref PowerUntil(const Ref& fn, const Ref& test, const Ref& left, const Ref& right) {
  Temporaries hold;
  hold[0] = Retained(right);
  for (;;) {
    CheckStrongInterrupt();
    hold[1] = ResultOf(fn, left, hold[0]);
    hold[2] = ResultOf(test, hold[1], hold[0]);
    const bool done = PowerTestPasses(hold[2]);
    Release(hold[2]);
    Release(hold[0]);
    hold[0] = hold.Take(1);
    if (done) return hold.Take(0);
  }
}

CallResult ApplyPower(const Ref& derived, const Ref& left, const Ref& right) {
  RefuseAxis();
  Temporaries hold;
  hold[0] = FunctionOperand(derived, kDerivedLeftOperand);
  hold[1] = Retained(PlainArray(Words(derived)[kDerivedRightOperand]));
  if (IsArrayOperand(hold[1])) return {PowerCount(hold[0], hold[1], left, right)};
  return {PowerUntil(hold[0], hold[1], left, right)};
}

// ---- Rank ---------------------------------------------------------------------------------------------

// The rank of the cells that cell rank k selects from an array of rank r (negative k: r + k).
uint32_t CellRank(int64_t k, uint32_t r) {
  if (k >= 0) return static_cast<uint32_t>(std::min<int64_t>(k, r));
  return static_cast<uint32_t>(std::max<int64_t>(0, r + k));
}

// The cells of rank `cellRank` of `array` as the items of an array of the frame's shape.
Ref CellsOf(const Ref& array, uint32_t cellRank) {
  const std::vector<uint32_t> shape = ShapeOfArray(array);
  const uint32_t frameRank = static_cast<uint32_t>(shape.size()) - cellRank;
  if (cellRank == 0 && KindOf(TypeWord(array)) == kKindSimple) return Retained(array);
  const std::vector<uint32_t> frame(shape.begin(), shape.begin() + frameRank);
  const std::vector<uint32_t> cell(shape.begin() + frameRank, shape.end());
  const uint64_t cellCount = Product(cell);
  SelectionPlan plan;
  plan.shape = cell;
  plan.groups = {{0}, std::vector<uint32_t>(cellCount)};
  for (uint32_t i = 0; i < cellCount; ++i) plan.groups[1][i] = i;
  ItemCollector cells(frame);
  for (uint64_t i = 0; i < cells.Count(); ++i) {
    plan.groups[0][0] = static_cast<uint32_t>(i * cellCount);
    cells.Put(i, GatherSelection(array, plan));
  }
  Temporaries hold;
  hold[0] = IntegerVector(cell);
  hold[1] = Prototype(array);
  hold[2] = Reshape(hold[0], hold[1]);
  Release(hold[1]);
  return cells.Finish(hold[2]);
}

CallResult ApplyRank(const Ref& derived, const Ref& left, const Ref& right) {
  Temporaries hold;
  hold[0] = FunctionOperand(derived, kDerivedLeftOperand);
  RankCells(derived, left, right, hold[1], hold[2]);
  Ref results = EachItem(hold[0], hold[1], hold[2]);
  Release(hold[1]);
  Release(hold[2]);
  hold[1] = results;
  return {MixItems(hold[1], 0)};
}

constexpr OperatorRow kOperatorRows[] = {
    {kPrimSlash, ApplyReduceLast}, {kPrimSlashBar, ApplyReduceFirst},
    {kPrimBackslash, ApplyScanLast}, {kPrimBackslashBar, ApplyScanFirst},
    {kPrimEach, ApplyEach},         {kPrimDot, ApplyProduct},
    {kPrimCommute, ApplyCommute, true}, {kPrimJot, ApplyCompose, true},
    {kPrimPower, ApplyPower},       {kPrimRank, ApplyRank},
    {kTrainAtop, ApplyAtop, true},  {kTrainFork, ApplyFork, true},
};

}  // namespace

// ---- Shared helpers ----------------------------------------------------------------------------------

bool PowerTestPasses(const Ref& result) {
  if (!IsArray(result) || ElementCount(result) != 1) SIGNAL(kLengthError);
  const int64_t done = IntegersOf(result)[0];
  if (done != 0 && done != 1) SIGNAL(kDomainError);
  return done == 1;
}

void RankCells(const Ref& derived, const Ref& left, const Ref& right, Ref& leftCells, Ref& rightCells) {
  RefuseAxis();
  RequireArrays(left, right);
  Ref k = PlainArray(Words(derived)[kDerivedRightOperand]);
  if (!IsArrayOperand(k)) SIGNAL(kSyntaxError);
  if (RankOf(TypeWord(k)) > 1) SIGNAL(kRankError);
  const std::vector<int64_t> ranks = IntegersOf(k);
  if (ranks.empty() || ranks.size() > 3) SIGNAL(kLengthError);
  const int64_t rightRank = left ? ranks.back() : (ranks.size() == 3 ? ranks[0] : ranks.back());
  rightCells = CellsOf(right, CellRank(rightRank, RankOf(TypeWord(right))));
  if (left) leftCells = CellsOf(left, CellRank(ranks[ranks.size() == 3 ? 1 : 0], RankOf(TypeWord(left))));
}

uint32_t PrimitiveCodeOf(Ref fn) {
  while (IsRef(fn) && KindOf(TypeWord(fn)) == kKindDerived && Words(fn)[kDerivedOperator] == 0)
    fn = Words(fn)[kDerivedLeftOperand];
  return IsRef(fn) ? 0 : fn;
}

bool IsDyadicScalarCode(uint32_t code) { return (code >= 2 && code <= 12) || (code >= 15 && code <= 24); }

bool IsArrayOperand(Ref operand) { return IsArray(operand) || IsHashedArray(operand); }

Ref IdentityItem(Ref operand, const Ref& array) {
  switch (PrimitiveCodeOf(operand)) {
    case kScalarPlus: case kScalarMinus: case kScalarResidue: case kScalarOr: case kScalarLess:
    case kScalarGreater: case kScalarNotEqual: case kPrimRotate: case kPrimRotateFirst: case kPrimEncode:
      return Retained(RootWordAt(kRootScalarZero));
    case kScalarTimes: case kScalarDivide: case kScalarPower: case kScalarFactorial: case kScalarAnd:
    case kScalarLessEqual: case kScalarEqual: case kScalarGreaterEqual: case kPrimSlash: case kPrimSlashBar:
    case kPrimBackslash: case kPrimBackslashBar:
      return Retained(RootWordAt(kRootScalarOne));
    case kScalarCeiling: return Extreme(true);
    case kScalarFloor: return Extreme(false);
    case kPrimComma: case kPrimCommaBar: return EmptyOfPrototype(array);
    case kPrimUnion: return Retained(RootWordAt(kRootEmptyNumericVector));
    default: SIGNAL(kDomainError);
  }
}

Ref IntegerVector(const std::vector<uint32_t>& values) {
  Ref r = AllocVector(kInt32, static_cast<uint32_t>(values.size()));
  std::copy(values.begin(), values.end(), DataOf<int32_t>(r));
  return r;
}

Ref FilledWith(const std::vector<uint32_t>& shape, const Ref& item) {
  Temporaries hold;
  hold[0] = IntegerVector(shape);
  if (IsArray(item) && KindOf(TypeWord(item)) == kKindSimple && RankOf(TypeWord(item)) == 0)
    return Reshape(hold[0], item);
  hold[1] = AllocScalar(kRefElement);
  DataOf<Ref>(hold[1])[0] = Retained(item);
  return Reshape(hold[0], hold[1]);
}

ItemCollector::ItemCollector(const std::vector<uint32_t>& shape) : shape_(shape), count_(Product(shape)) {
  hold_[0] = NewArray(kRefElement, shape);
}

void ItemCollector::Put(uint64_t index, Ref item) { DataOf<Ref>(hold_[0])[index] = item; }

Ref ItemCollector::Finish(const Ref& fill) {
  if (count_ > 0) return Simplified(hold_.Take(0));
  Temporaries hold;
  hold[0] = IsArray(fill) ? ZeroedCopy(fill) : Retained(RootWordAt(kRootScalarZero));
  if (KindOf(TypeWord(hold[0])) == kKindSimple && RankOf(TypeWord(hold[0])) == 0)
    return NewArray(ElementOf(TypeWord(hold[0])), shape_);
  DataOf<Ref>(hold_[0])[0] = hold.Take(0);
  return hold_.Take(0);
}

Ref ResultOf(const Ref& fn, const Ref& left, const Ref& right) {
  CallResult r = CallFunctionValue(fn, left, right);
  if (!r.value) SIGNAL_MESSAGE(kValueError, U"No result was provided when the context expected one");
  return r.value;
}

void InitialiseOperators() { InstallOperators(kOperatorRows); }

}  // namespace vantor
