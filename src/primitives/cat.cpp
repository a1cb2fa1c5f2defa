// Shape, reshape, ravel, table, catenate and laminate, take and drop, reverse and rotate, transpose,
// replicate and expand. Every function checks its arguments first, then allocates its result and
// moves elements into it with loops written per element width (packed bits, 1, 2, 4, 8 and 16
// bytes). Items of nested results are copied as plain words and counted in one pass at the end, so
// nothing may allocate between the copying and that pass. Loops that copy element by element (or run
// by run) act on a strong interrupt every so often; the half-built result is then dropped.
#include "primitives/cat.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <exception>
#include <vector>

#include "language/dmx.h"
#include "primitives/dispatch.h"
#include "base/errors.h"
#include "memory/eltype.h"
#include "memory/memory1.h"
#include "primitives/same.h"
#include "sysfns/quadvar.h"

namespace vantor {

static constexpr char kUnit[] = "cat";
static constexpr uint64_t kMaxLength = 0xFFFFFFFFull;

// ---- Shapes ----------------------------------------------------------------------------------------

namespace {

// A shape being worked out; one spare axis so that a rank-16 result can be seen and refused.
struct Dims {
  uint32_t rank = 0;
  uint64_t len[kMaxRank + 2] = {};

  uint64_t Product(uint32_t from, uint32_t to) const {  // saturates above kMaxLength
    uint64_t p = 1;
    for (uint32_t i = from; i < to; ++i) {
      if (len[i] == 0) return 0;
      p = p > kMaxLength || len[i] > kMaxLength ? kMaxLength + 1 : std::min(p * len[i], kMaxLength + 1);
    }
    return p;
  }
  uint64_t Count() const { return Product(0, rank); }
  void Insert(uint32_t at, uint64_t length) {
    std::copy_backward(len + at, len + rank, len + rank + 1);
    len[at] = length;
    ++rank;
  }
  bool operator==(const Dims& other) const {
    return rank == other.rank && std::equal(len, len + rank, other.len);
  }
};

Dims DimsOf(Ref array) {
  Dims d;
  d.rank = RankOf(TypeWord(array));
  std::copy_n(ShapeOf(array), d.rank, d.len);
  return d;
}

[[noreturn]] void SignalRankLimit() {
  SIGNAL_MESSAGE(kLimitError, U"Rank of resultant array would exceed maximum permitted");
}
void CheckResultRank(uint32_t rank) {
  if (rank > kMaxRank) SignalRankLimit();
}
void CheckLength(uint64_t length) {
  if (length > kMaxLength) SIGNAL(kLimitError);
}

// A new array of this type and shape (count 1, reference data zeroed).
Ref NewArray(ElementType type, const Dims& d) {
  CheckResultRank(d.rank);
  uint64_t count = d.Count();
  CheckLength(count);
  Ref r = AllocArray(type, d.rank, count);
  for (uint32_t i = 0; i < d.rank; ++i) ShapeOf(r)[i] = static_cast<uint32_t>(d.len[i]);
  return r;
}

bool IsNested(Ref r) { return KindOf(TypeWord(r)) == kKindNested; }
ElementType TypeOf(Ref r) { return ElementOf(TypeWord(r)); }

// Structural functions work on arrays; a namespace or function as an argument is a DOMAIN ERROR.
void RequireArray(Ref r) {
  if (!IsArray(r)) SIGNAL(kDomainError);
}

CallResult Same(Ref r) {
  Retain(r);
  return {r};
}

// ---- Reading arguments -----------------------------------------------------------------------------

// The whole numbers of a simple numeric scalar or vector; DOMAIN ERROR for anything else, RANK ERROR
// for a higher rank.
std::vector<int64_t> IntegerList(Ref array) {
  RequireArray(array);
  if (RankOf(TypeWord(array)) > 1) SIGNAL(kRankError);
  std::vector<int64_t> values;
  if (!ReadIntegers(array, values)) SIGNAL(kDomainError);
  return values;
}

[[noreturn]] void SignalInvalidAxis() { SIGNAL_MESSAGE(kRankError, U"Invalid axis"); }

// The axis numbers of [K], less ⎕IO, each a valid axis of an array of rank `rank`.
std::vector<int64_t> AxisList(Ref axis, uint32_t rank) {
  std::vector<int64_t> axes;
  if (!IsArray(axis) || RankOf(TypeWord(axis)) > 1 || !ReadIntegers(axis, axes)) SignalInvalidAxis();
  for (int64_t& k : axes) {
    k -= IndexOrigin();
    if (k < 0 || k >= rank) SignalInvalidAxis();
  }
  return axes;
}

// The one axis of [K] for a function along one axis, less ⎕IO.
uint32_t SingleAxis(Ref axis, uint32_t rank) {
  std::vector<int64_t> axes = AxisList(axis, rank);
  if (axes.size() != 1) SignalInvalidAxis();
  return static_cast<uint32_t>(axes[0]);
}

// A single number of [K], which may be fractional (laminate, ravel with a new axis).
double AxisNumber(Ref axis) {
  if (!IsArray(axis) || IsNested(axis) || RankOf(TypeWord(axis)) > 1 || ElementCount(axis) != 1) SignalInvalidAxis();
  double value = 0;
  bool numeric = WithReader(axis, [&](auto read) {
    using V = decltype(read(0));
    if constexpr (std::is_same_v<V, int64_t> || std::is_same_v<V, double>) {
      value = static_cast<double>(read(0));
      return true;
    } else {
      return false;
    }
  });
  if (!numeric) SignalInvalidAxis();
  return value;
}

void CheckDistinct(const std::vector<int64_t>& axes) {
  for (size_t i = 0; i < axes.size(); ++i)
    for (size_t j = 0; j < i; ++j)
      if (axes[i] == axes[j]) SIGNAL_MESSAGE(kIndexError, U"Repeated axis");
}

// ---- Moving elements -------------------------------------------------------------------------------

struct Wide16 {
  uint64_t low, high;
};

// Elements of a fixed byte width.
template <typename T>
struct Cells {
  using Value = T;
  static T Get(const uint8_t* d, uint64_t i) {
    T v;
    std::memcpy(&v, d + i * sizeof(T), sizeof(T));
    return v;
  }
  static void Set(uint8_t* d, uint64_t i, T v) { std::memcpy(d + i * sizeof(T), &v, sizeof(T)); }
  static void Copy(uint8_t* dst, uint64_t di, const uint8_t* src, uint64_t si, uint64_t n) {
    std::memmove(dst + di * sizeof(T), src + si * sizeof(T), n * sizeof(T));
  }
  static T FromRaw(const RawElement& raw) {
    T v;
    std::memcpy(&v, raw.bytes, sizeof(T));
    return v;
  }
  static void Fill(uint8_t* d, uint64_t i, uint64_t n, T v) {
    T* p = reinterpret_cast<T*>(d) + i;
    std::fill(p, p + n, v);
  }
};

// Copies n bits from bit si of src to bit di of dst (the ranges do not overlap). The bits up to the
// next byte boundary of dst go one by one; then each destination byte is assembled from two source
// bytes.
void CopyBits(uint8_t* dst, uint64_t di, const uint8_t* src, uint64_t si, uint64_t n) {
  while (n > 0 && (di & 7)) {
    SetBit(dst, di++, GetBit(src, si++));
    --n;
  }
  uint64_t bytes = n >> 3;
  const uint8_t* s = src + (si >> 3);
  uint8_t* d = dst + (di >> 3);
  unsigned shift = si & 7;
  if (shift == 0) {
    std::memmove(d, s, bytes);
  } else {
    for (uint64_t k = 0; k < bytes; ++k)
      d[k] = static_cast<uint8_t>((s[k] << shift) | (s[k + 1] >> (8 - shift)));
  }
  di += bytes * 8;
  si += bytes * 8;
  for (n &= 7; n > 0; --n) SetBit(dst, di++, GetBit(src, si++));
}

void FillBits(uint8_t* d, uint64_t i, uint64_t n, bool v) {
  while (n > 0 && (i & 7)) {
    SetBit(d, i++, v);
    --n;
  }
  std::memset(d + (i >> 3), v ? 0xFF : 0, n >> 3);
  i += n & ~7ull;
  for (n &= 7; n > 0; --n) SetBit(d, i++, v);
}

// Packed Booleans.
struct Bits {
  using Value = bool;
  static bool Get(const uint8_t* d, uint64_t i) { return GetBit(d, i); }
  static void Set(uint8_t* d, uint64_t i, bool v) { SetBit(d, i, v); }
  static void Copy(uint8_t* dst, uint64_t di, const uint8_t* src, uint64_t si, uint64_t n) {
    CopyBits(dst, di, src, si, n);
  }
  static bool FromRaw(const RawElement& raw) { return raw.bytes[0] != 0; }
  static void Fill(uint8_t* d, uint64_t i, uint64_t n, bool v) { FillBits(d, i, n, v); }
};

// Calls f with the element policy of a type's width.
template <typename F>
void WithCells(ElementType type, F&& f) {
  switch (kElementInfo[type].bytes) {
    case 0: return f(Bits{});
    case 1: return f(Cells<uint8_t>{});
    case 2: return f(Cells<uint16_t>{});
    case 4: return f(Cells<uint32_t>{});
    case 8: return f(Cells<uint64_t>{});
    default: return f(Cells<Wide16>{});
  }
}

// Counts the items that a nested result got as plain copies, after giving an empty one its
// prototype (a reference held elsewhere, or 0).
void CountItems(Ref result, Ref prototype) {
  if (!IsNested(result)) return;
  uint64_t count = ElementCount(result);
  Ref* items = DataOf<Ref>(result);
  if (count == 0) items[0] = prototype;
  for (uint64_t i = 0; i < std::max<uint64_t>(count, 1); ++i) Retain(items[i]);
}

// A result while its elements are copied in, held where compaction keeps it current. Should an error or
// interrupt end the copying, a nested result still holds uncounted items: they are cleared before the
// result is let go.
class Building {
 public:
  explicit Building(Ref result) { held_[0] = result; }
  Building(const Building&) = delete;
  Building& operator=(const Building&) = delete;
  ~Building() {
    if (std::uncaught_exceptions() > exceptions_ && IsRef(held_[0]) && IsNested(held_[0]))
      std::memset(DataOf<Ref>(held_[0]), 0, sizeof(Ref) * std::max<uint64_t>(ElementCount(held_[0]), 1));
  }
  uint8_t* Data() { return DataOf<uint8_t>(held_[0]); }
  // The result with its items counted (CountItems).
  Ref Finish(Ref prototype) {
    CountItems(held_[0], prototype);
    return held_.Take(0);
  }

 private:
  int exceptions_ = std::uncaught_exceptions();
  Temporaries held_;
};

// The fill of an array's type as a raw element; for a nested array the prototype held in `prototype`.
RawElement FillOf(ElementType type, Ref prototype) {
  if (type != kRefElement) return SimpleFill(type);
  RawElement raw{};
  std::memcpy(raw.bytes, &prototype, sizeof prototype);
  return raw;
}

// The single element of a one-element array as a raw element of its own type.
RawElement OnlyElement(Ref array) {
  RawElement raw{};
  if (TypeOf(array) == kBool) raw.bytes[0] = GetBit(DataOf<uint8_t>(array), 0);
  else std::memcpy(raw.bytes, DataOf<uint8_t>(array), kElementInfo[TypeOf(array)].bytes);
  return raw;
}

// A copy of `array` (held in a slot) with the shape `d` of the same count; counted.
Ref CopyWithShape(const Ref& array, const Dims& d) {
  Ref result = NewArray(TypeOf(array), d);
  uint64_t count = d.Count();
  WithCells(TypeOf(array), [&](auto cells) {
    cells.Copy(DataOf<uint8_t>(result), 0, DataOf<uint8_t>(array), 0, count);
  });
  CountItems(result, IsNested(array) ? DataOf<Ref>(array)[0] : 0);
  return result;
}

// `array` with the shape `d`: the argument itself when the shape is its own.
Ref WithShape(const Ref& array, const Dims& d) {
  if (DimsOf(array) == d) return Same(array).value;
  return CopyWithShape(array, d);
}

}  // namespace

// ---- Shape and reshape -----------------------------------------------------------------------------

static CallResult ShapeOfArray(const Ref&, const Ref& right) {
  uint32_t rank = IsArray(right) ? RankOf(TypeWord(right)) : 0;
  Ref result = AllocVector(kFloat64, rank);
  const uint32_t* shape = ShapeOf(right);
  for (uint32_t i = 0; i < rank; ++i) DataOf<double>(result)[i] = shape[i];
  Narrow(result);
  return {result};
}

Ref Reshape(Ref shape, Ref array) {
  Temporaries hold;
  hold[0] = shape;
  Retain(shape);
  hold[1] = array;
  Retain(array);
  RequireArray(array);
  std::vector<int64_t> lengths = IntegerList(shape);
  if (lengths.size() > kMaxRank) SignalRankLimit();
  Dims d;
  for (int64_t n : lengths) {
    if (n < 0) SIGNAL(kDomainError);
    CheckLength(static_cast<uint64_t>(n));
    d.len[d.rank++] = static_cast<uint64_t>(n);
  }
  CheckLength(d.Count());
  if (d == DimsOf(array)) return Same(array).value;
  uint64_t count = d.Count();
  uint64_t available = ElementCount(array);
  ElementType type = TypeOf(array);
  if ((available == 0 || count == 0) && IsNested(array)) hold[2] = Prototype(array);
  Ref result = NewArray(type, d);
  uint8_t* out = DataOf<uint8_t>(result);
  const uint8_t* in = DataOf<uint8_t>(hold[1]);
  WithCells(type, [&](auto cells) {
    if (available == 0) {
      cells.Fill(out, 0, count, cells.FromRaw(FillOf(type, hold[2])));
      return;
    }
    // The argument's items once, then the result doubles itself until it is full.
    uint64_t done = std::min(available, count);
    cells.Copy(out, 0, in, 0, done);
    while (done < count) {
      uint64_t step = std::min(done, count - done);
      cells.Copy(out, done, out, 0, step);
      done += step;
    }
  });
  CountItems(result, hold[2]);
  return result;
}

static CallResult ReshapeArray(const Ref& left, const Ref& right) { return {Reshape(left, right)}; }

// ---- Ravel and table -------------------------------------------------------------------------------

// ,[K]B: contiguous axes K merged into one, or a new axis of length 1 after axis ⌊K for a fraction.
static Dims RavelledDims(Ref array, Ref axis) {
  Dims d = DimsOf(array);
  double k = 0;
  bool fractional = ElementCount(axis) == 1 && RankOf(TypeWord(axis)) <= 1 &&
                    (k = AxisNumber(axis), k != std::floor(k));
  if (fractional) {
    double position = std::floor(k - IndexOrigin()) + 1;
    if (position < 0 || position > d.rank) SignalInvalidAxis();
    CheckResultRank(d.rank + 1);
    d.Insert(static_cast<uint32_t>(position), 1);
    return d;
  }
  std::vector<int64_t> axes = AxisList(axis, d.rank);
  if (axes.empty()) {
    CheckResultRank(d.rank + 1);
    d.Insert(d.rank, 1);
    return d;
  }
  for (size_t i = 1; i < axes.size(); ++i)
    if (axes[i] != axes[i - 1] + 1) SignalInvalidAxis();
  uint32_t first = static_cast<uint32_t>(axes.front());
  uint32_t last = static_cast<uint32_t>(axes.back());
  Dims merged;
  for (uint32_t i = 0; i < first; ++i) merged.len[merged.rank++] = d.len[i];
  merged.len[merged.rank++] = d.Product(first, last + 1);
  for (uint32_t i = last + 1; i < d.rank; ++i) merged.len[merged.rank++] = d.len[i];
  return merged;
}

static CallResult Ravel(const Ref&, const Ref& right) {
  RequireArray(right);
  Dims d;
  if (AxisArgument()) {
    d = RavelledDims(right, AxisArgument());
  } else {
    d.rank = 1;
    d.len[0] = ElementCount(right);
  }
  return {WithShape(right, d)};
}

static CallResult Table(const Ref&, const Ref& right) {
  RequireArray(right);
  Dims source = DimsOf(right);
  Dims d;
  d.rank = 2;
  d.len[0] = source.rank == 0 ? 1 : source.len[0];
  d.len[1] = source.rank == 0 ? 1 : source.Product(1, source.rank);
  return {WithShape(right, d)};
}

// ---- Catenate and laminate -------------------------------------------------------------------------

namespace {

// How the two arguments of a catenation line up: the result's shape, the axis, and each argument's
// shape at the result's rank (a scalar argument has length 1 along the axis and is spread).
struct Catenation {
  Dims result;
  uint32_t axis = 0;
  Dims left, right;
  bool leftScalar = false, rightScalar = false;
  bool laminate = false;
};

// A non-scalar argument's shape at the result rank: its own, or with a length-1 axis inserted when
// it is one rank short.
Dims AtResultRank(const Dims& own, uint32_t rank, uint32_t axis) {
  Dims d = own;
  if (d.rank + 1 == rank) d.Insert(axis, 1);
  else if (d.rank != rank) SIGNAL(kRankError);
  return d;
}

Catenation PlanCatenation(Ref left, Ref right, Ref axisArgument, bool firstAxis) {
  Catenation plan;
  Dims a = DimsOf(left);
  Dims b = DimsOf(right);
  uint32_t higher = std::max(a.rank, b.rank);
  uint32_t rank = std::max(higher, 1u);
  uint32_t axis = firstAxis ? 0 : rank - 1;
  if (axisArgument) {
    double k = AxisNumber(axisArgument) - IndexOrigin() + 1;
    if (!(k > 0 && k < 2147483646.0)) SignalInvalidAxis();
    plan.laminate = k != std::floor(k);
    if (plan.laminate ? std::floor(k) > higher : k > rank) SignalInvalidAxis();
    axis = static_cast<uint32_t>(plan.laminate ? std::floor(k) : k - 1);
  }
  plan.axis = axis;
  plan.leftScalar = a.rank == 0;
  plan.rightScalar = b.rank == 0;
  if (plan.laminate) {
    CheckResultRank(higher + 1);
    if (!plan.leftScalar && !plan.rightScalar && !(a == b)) SIGNAL(a.rank == b.rank ? kLengthError : kRankError);
    Dims common = plan.leftScalar ? b : a;
    common.Insert(axis, 1);
    plan.left = plan.right = common;
    plan.result = common;
    plan.result.len[axis] = 2;
    return plan;
  }
  CheckResultRank(rank);
  if (!plan.leftScalar) plan.left = AtResultRank(a, rank, axis);
  if (!plan.rightScalar) plan.right = AtResultRank(b, rank, axis);
  // A scalar is spread over the other argument's shape, with length 1 along the axis.
  if (plan.leftScalar) {
    plan.left = plan.rightScalar ? Dims{1, {1}} : plan.right;
    plan.left.len[axis] = 1;
  }
  if (plan.rightScalar) {
    plan.right = plan.left;
    plan.right.len[axis] = 1;
  }
  for (uint32_t i = 0; i < rank; ++i)
    if (i != axis && plan.left.len[i] != plan.right.len[i]) SIGNAL(kLengthError);
  plan.result = plan.left;
  plan.result.len[axis] = plan.left.len[axis] + plan.right.len[axis];
  CheckLength(plan.result.len[axis]);
  CheckLength(plan.result.Count());
  return plan;
}

// A value read by a reader (int64_t, double, complex, decimal or code point) as type D of a wider
// or equal element type.
template <typename D, typename V>
D Widened(V v) {
  _IDEC_flags flags = 0;
  if constexpr (std::is_same_v<D, BID_UINT128>) {
    if constexpr (std::is_same_v<V, BID_UINT128>) return v;
    else if constexpr (std::is_same_v<V, double>) return binary64_to_bid128(v, BID_ROUNDING_TO_NEAREST, &flags);
    else return bid128_from_int64(static_cast<int64_t>(v));
  } else if constexpr (std::is_same_v<V, BID_UINT128>) {
    return static_cast<D>(bid128_to_binary64(v, BID_ROUNDING_TO_NEAREST, &flags));
  } else {
    return static_cast<D>(v);
  }
}

template <typename V, typename D>
constexpr bool kWidens = !std::is_same_v<V, std::complex<double>> || std::is_same_v<D, std::complex<double>>;

template <ElementType T>
void ConvertElements(Ref target, Ref source, uint64_t count) {
  using D = ElementCType<T>;
  D* out = DataOf<D>(target);
  WithReader(source, [&](auto read) {
    using V = decltype(read(0));
    if constexpr (decltype(read)::kCharacter == (std::is_same_v<D, uint8_t> || std::is_same_v<D, char16_t> ||
                                                 std::is_same_v<D, char32_t>) &&
                  kWidens<V, D>) {
      for (uint64_t i = 0; i < count; ++i) out[i] = Widened<D>(read(i));
    }
    return true;
  });
}

// `array` (held in `slot`) converted to the element type `type`, which holds all its values;
// counted. Conversion to references makes each element a scalar item.
Ref Converted(Ref& slot, ElementType type) {
  Dims d = DimsOf(slot);
  Temporaries hold;
  hold[0] = NewArray(type, d);
  uint64_t count = d.Count();
  switch (type) {
    case kBool:  // only the shared scalars 0 and 1 become Boolean
      SetBit(DataOf<uint8_t>(hold[0]), 0, *DataOf<int8_t>(slot) != 0);
      break;
    case kRefElement:
      for (uint64_t i = 0; i < count; ++i) {
        Ref item = ElementAsScalar(slot, i);
        DataOf<Ref>(hold[0])[i] = item;
      }
      break;
    case kInt8: ConvertElements<kInt8>(hold[0], slot, count); break;
    case kInt16: ConvertElements<kInt16>(hold[0], slot, count); break;
    case kInt32: ConvertElements<kInt32>(hold[0], slot, count); break;
    case kInt64: ConvertElements<kInt64>(hold[0], slot, count); break;
    case kFloat64: ConvertElements<kFloat64>(hold[0], slot, count); break;
    case kComplex: ConvertElements<kComplex>(hold[0], slot, count); break;
    case kDecimal128: ConvertElements<kDecimal128>(hold[0], slot, count); break;
    case kChar8: ConvertElements<kChar8>(hold[0], slot, count); break;
    case kChar16: ConvertElements<kChar16>(hold[0], slot, count); break;
    case kChar32: ConvertElements<kChar32>(hold[0], slot, count); break;
    default: SIGNAL(kNonceError);  // internal element types
  }
  return hold.Take(0);
}

// A short argument of a wide type is first squeezed, so that it does not force the conversion of a
// long one of a narrow type: `wide` (held in a slot) is replaced by a narrowed copy.
void NarrowShortPiece(Ref& wide) {
  if (IsNested(wide) || (TypeWord(wide) & kNarrowedFlag)) return;
  Ref copy = CopyWithShape(wide, DimsOf(wide));
  Narrow(copy);
  Release(wide);
  wide = copy;
}

// The left argument grows where it lies and gets the right's elements: the left of a type that
// holds the right's (not Boolean, not references), already at the result rank, catenated along the
// first axis, and its pocket unshared.
bool CanAppendInPlace(Ref left, Ref right, const Catenation& plan) {
  ElementType type = TypeOf(left);
  return !plan.laminate && plan.axis == 0 && !plan.leftScalar && RankOf(TypeWord(left)) == plan.result.rank &&
         type != kBool && type != kRefElement && TypeOf(right) != kRefElement &&
         CombinedType(type, ContributedType(right)) == type && RefCount(left) == 1 && !(TypeWord(left) & kMappedFlag);
}

// A pocket that must grow for an append grows by half its size again at least, so that a run of
// appends to one array copies its elements a bounded number of times.
uint32_t GrowthFor(Ref pocket, uint32_t needed) {
  const uint32_t old = PocketWords(pocket);
  const uint64_t headroom = std::max<uint64_t>(needed - old, old / 2);
  return static_cast<uint32_t>(std::min<uint64_t>(headroom, 0x7FFFFFFFu - old));
}

Ref AppendInPlace(Ref& left, Ref right, const Catenation& plan) {
  ElementType type = TypeOf(left);
  uint64_t oldCount = ElementCount(left);
  uint64_t newCount = plan.result.Count();
  uint32_t needed = ArrayWords(type, plan.result.rank, newCount);
  Temporaries hold;
  hold[0] = TypeOf(right) == type ? Retained(right) : Converted(right, type);
  if (needed > PocketWords(left)) Resize(left, GrowthFor(left, needed));
  ShapeOf(left)[0] = static_cast<uint32_t>(plan.result.len[0]);
  TypeWord(left) &= ~kNarrowedFlag;
  uint8_t* out = DataOf<uint8_t>(left);
  uint64_t added = newCount - oldCount;
  WithCells(type, [&](auto cells) {
    if (plan.rightScalar) cells.Fill(out, oldCount, added, cells.FromRaw(OnlyElement(hold[0])));
    else cells.Copy(out, oldCount, DataOf<uint8_t>(hold[0]), 0, added);
  });
  Retain(left);
  return left;
}

// Copies the blocks of both arguments along the axis into the result.
template <typename Cells>
void InterleaveBlocks(uint8_t* out, const Catenation& plan, Ref left, Ref right, const RawElement& leftFill,
                      const RawElement& rightFill) {
  uint64_t outer = plan.result.Product(0, plan.axis);
  uint64_t inner = plan.result.Product(plan.axis + 1, plan.result.rank);
  uint64_t leftBlock = plan.left.len[plan.axis] * inner;
  uint64_t rightBlock = plan.right.len[plan.axis] * inner;
  const uint8_t* a = DataOf<uint8_t>(left);
  const uint8_t* b = DataOf<uint8_t>(right);
  uint64_t at = 0;
  ForEachInterruptibly(outer, [&](uint64_t o) {
    if (plan.leftScalar) Cells::Fill(out, at, leftBlock, Cells::FromRaw(leftFill));
    else Cells::Copy(out, at, a, o * leftBlock, leftBlock);
    at += leftBlock;
    if (plan.rightScalar) Cells::Fill(out, at, rightBlock, Cells::FromRaw(rightFill));
    else Cells::Copy(out, at, b, o * rightBlock, rightBlock);
    at += rightBlock;
  });
}

bool ContributesNothing(const Dims& d, uint32_t axis, bool scalar) { return !scalar && d.len[axis] == 0; }

// The element a scalar argument spreads over its block: in a nested result a simple scalar is its
// own item.
RawElement SpreadElement(Ref scalar, ElementType resultType) {
  if (resultType != kRefElement || IsNested(scalar)) return OnlyElement(scalar);
  RawElement raw{};
  std::memcpy(raw.bytes, &scalar, sizeof scalar);
  return raw;
}

Ref Catenate(const Ref& left, const Ref& right, Ref axis, bool firstAxis) {
  RequireArray(left);
  RequireArray(right);
  Catenation plan = PlanCatenation(left, right, axis, firstAxis);
  if (!plan.laminate) {
    if (ContributesNothing(plan.left, plan.axis, plan.leftScalar) && DimsOf(right) == plan.result)
      return Same(right).value;
    if (ContributesNothing(plan.right, plan.axis, plan.rightScalar) && DimsOf(left) == plan.result)
      return Same(left).value;
  }
  if (CanAppendInPlace(left, right, plan)) return AppendInPlace(const_cast<Ref&>(left), right, plan);
  ElementType leftType = ContributedType(left);
  ElementType rightType = ContributedType(right);

  Temporaries hold;
  hold[0] = left;
  Retain(left);
  hold[1] = right;
  Retain(right);
  ElementType type = CombinedType(leftType, rightType);
  uint64_t leftCount = ElementCount(left);
  uint64_t rightCount = ElementCount(right);
  if (type != kRefElement && leftType != rightType && plan.result.Count() > 15) {
    if (type == leftType && leftCount * 8 < rightCount) NarrowShortPiece(hold[0]);
    if (type == rightType && rightCount * 8 < leftCount) NarrowShortPiece(hold[1]);
    type = CombinedType(ContributedType(hold[0]), ContributedType(hold[1]));
  }
  // Simple scalars are their own items in a nested result; everything else takes the result type.
  for (int i = 0; i < 2; ++i) {
    bool scalarItem = type == kRefElement && RankOf(TypeWord(hold[i])) == 0 && !IsNested(hold[i]);
    if (TypeOf(hold[i]) != type && !scalarItem) {
      Ref converted = Converted(hold[i], type);
      Release(hold[i]);
      hold[i] = converted;
    }
  }
  if (plan.result.Count() == 0 && type == kRefElement) hold[2] = Prototype(hold[0]);
  Building result(NewArray(type, plan.result));
  RawElement leftFill = plan.leftScalar ? SpreadElement(hold[0], type) : RawElement{};
  RawElement rightFill = plan.rightScalar ? SpreadElement(hold[1], type) : RawElement{};
  WithCells(type, [&](auto cells) {
    InterleaveBlocks<decltype(cells)>(result.Data(), plan, hold[0], hold[1], leftFill, rightFill);
  });
  return result.Finish(hold[2]);
}

}  // namespace

Ref Catenated(Ref& left, Ref right) { return Catenate(left, right, 0, false); }

static CallResult CatenateLast(const Ref& left, const Ref& right) {
  return {Catenate(left, right, AxisArgument(), false)};
}
static CallResult CatenateFirst(const Ref& left, const Ref& right) {
  return {Catenate(left, right, AxisArgument(), true)};
}

// ---- Take and drop ---------------------------------------------------------------------------------

namespace {

// A box of elements to copy: where it starts in the source and in the result, and its extent.
struct Box {
  uint64_t from[kMaxRank + 1] = {};
  uint64_t to[kMaxRank + 1] = {};
  uint64_t extent[kMaxRank + 1] = {};
};

// Copies the box from a source of shape `source` into a result of shape `target` (same rank), one
// run along the last axis at a time.
template <typename Cells>
void CopyBox(uint8_t* out, const Dims& target, const uint8_t* in, const Dims& source, const Box& box) {
  uint32_t rank = target.rank;
  if (rank == 0) return Cells::Copy(out, 0, in, 0, 1);
  for (uint32_t i = 0; i < rank; ++i)
    if (box.extent[i] == 0) return;
  uint64_t index[kMaxRank + 1] = {};
  uint64_t run = box.extent[rank - 1];
  for (uint64_t runs = 0;; ++runs) {
    if (runs % kInterruptStride == 0) CheckStrongInterrupt();
    uint64_t src = 0, dst = 0;
    for (uint32_t i = 0; i < rank; ++i) {
      src = src * source.len[i] + box.from[i] + index[i];
      dst = dst * target.len[i] + box.to[i] + index[i];
    }
    Cells::Copy(out, dst, in, src, run);
    int32_t axis = static_cast<int32_t>(rank) - 2;
    while (axis >= 0 && ++index[axis] == box.extent[axis]) index[axis--] = 0;
    if (axis < 0) return;
  }
}

}  // namespace

Ref TakeOrDrop(Ref counts, Ref array, Ref axis, bool drop) {
  Temporaries hold;
  hold[0] = array;
  Retain(array);
  RequireArray(array);
  std::vector<int64_t> amounts = IntegerList(counts);
  Dims source = DimsOf(array);
  if (source.rank == 0) {  // a scalar takes as many axes of length 1 as it needs
    CheckResultRank(static_cast<uint32_t>(amounts.size()));
    for (size_t i = 0; i < amounts.size(); ++i) source.len[source.rank++] = 1;
  }
  std::vector<int64_t> axes;
  if (axis) {
    axes = AxisList(axis, source.rank);
    if (axes.size() != amounts.size()) SIGNAL(kLengthError);
    CheckDistinct(axes);
  } else {
    if (amounts.size() > source.rank) SIGNAL(kRankError);
    for (size_t i = 0; i < amounts.size(); ++i) axes.push_back(static_cast<int64_t>(i));
  }
  Dims target = source;
  Box box;
  bool padded = false;
  for (uint32_t i = 0; i < source.rank; ++i) box.extent[i] = source.len[i];
  for (size_t k = 0; k < axes.size(); ++k) {
    uint32_t i = static_cast<uint32_t>(axes[k]);
    uint64_t n = source.len[i];
    int64_t c = amounts[k];
    uint64_t magnitude = c < 0 ? 0 - static_cast<uint64_t>(c) : static_cast<uint64_t>(c);
    uint64_t kept = std::min(magnitude, n);
    if (drop) {
      target.len[i] = n - kept;
      box.extent[i] = n - kept;
      box.from[i] = c >= 0 ? kept : 0;
    } else {
      CheckLength(magnitude);
      target.len[i] = magnitude;
      box.extent[i] = kept;
      box.from[i] = c >= 0 ? 0 : n - kept;
      box.to[i] = c >= 0 ? 0 : magnitude - kept;
      padded |= magnitude > n;
    }
  }
  CheckLength(target.Count());
  if (target == DimsOf(array) && !padded && std::all_of(box.from, box.from + target.rank, [](uint64_t f) { return f == 0; }))
    return Same(array).value;
  ElementType type = TypeOf(array);
  if (IsNested(array) && (padded || target.Count() == 0)) hold[1] = Prototype(array);
  Building result(NewArray(type, target));
  WithCells(type, [&](auto cells) {
    uint8_t* out = result.Data();
    if (padded) cells.Fill(out, 0, target.Count(), cells.FromRaw(FillOf(type, hold[1])));
    CopyBox<decltype(cells)>(out, target, DataOf<uint8_t>(hold[0]), source, box);
  });
  return result.Finish(hold[1]);
}

static CallResult Take(const Ref& left, const Ref& right) { return {TakeOrDrop(left, right, AxisArgument(), false)}; }
static CallResult Drop(const Ref& left, const Ref& right) { return {TakeOrDrop(left, right, AxisArgument(), true)}; }

// ---- Reverse and rotate ----------------------------------------------------------------------------

namespace {

// An array seen as outer × length × inner around one axis.
struct AxisView {
  uint64_t outer, length, inner;
};
AxisView ViewAlong(const Dims& d, uint32_t axis) {
  return {d.Product(0, axis), d.len[axis], d.Product(axis + 1, d.rank)};
}

uint32_t FunctionAxis(Ref array, bool firstAxis) {
  uint32_t rank = RankOf(TypeWord(array));
  if (AxisArgument()) return SingleAxis(AxisArgument(), std::max(rank, 1u));
  return firstAxis || rank == 0 ? 0 : rank - 1;
}

template <typename Cells>
void ReverseCells(uint8_t* out, const uint8_t* in, const AxisView& v) {
  for (uint64_t o = 0; o < v.outer; ++o) {
    uint64_t base = o * v.length;
    if (v.inner == 1) {
      ForEachInterruptibly(v.length, [&](uint64_t i) {
        Cells::Set(out, base + i, Cells::Get(in, base + v.length - 1 - i));
      });
    } else {
      ForEachInterruptibly(v.length, [&](uint64_t i) {
        Cells::Copy(out, (base + i) * v.inner, in, (base + v.length - 1 - i) * v.inner, v.inner);
      });
    }
  }
}

// Every vector along the axis rotated by the same amount: two runs per vector.
template <typename Cells>
void RotateAll(uint8_t* out, const uint8_t* in, const AxisView& v, uint64_t by) {
  uint64_t block = v.length * v.inner;
  uint64_t head = by * v.inner;
  ForEachInterruptibly(v.outer, [&](uint64_t o) {
    Cells::Copy(out, o * block, in, o * block + head, block - head);
    Cells::Copy(out, o * block + block - head, in, o * block, head);
  });
}

// Each vector along the axis rotated by its own amount.
template <typename Cells>
void RotateEach(uint8_t* out, const uint8_t* in, const AxisView& v, const std::vector<int64_t>& amounts) {
  for (uint64_t o = 0; o < v.outer; ++o) {
    for (uint64_t j = 0; j < v.inner; ++j) {
      int64_t n = static_cast<int64_t>(v.length);
      uint64_t by = static_cast<uint64_t>(((amounts[o * v.inner + j] % n) + n) % n);
      uint64_t base = o * v.length * v.inner + j;
      ForEachInterruptibly(v.length, [&](uint64_t i) {
        uint64_t from = i + by < v.length ? i + by : i + by - v.length;
        Cells::Set(out, base + i * v.inner, Cells::Get(in, base + from * v.inner));
      });
    }
  }
}

// A new array of the argument's type and shape whose elements `fill` writes; counted.
template <typename F>
Ref Rearranged(const Ref& array, F&& fill) {
  Building result(NewArray(TypeOf(array), DimsOf(array)));
  WithCells(TypeOf(array), [&](auto cells) { fill(cells, result.Data(), DataOf<uint8_t>(array)); });
  return result.Finish(IsNested(array) ? DataOf<Ref>(array)[0] : 0);
}

CallResult Reverse(const Ref& right, bool firstAxis) {
  RequireArray(right);
  uint32_t axis = FunctionAxis(right, firstAxis);
  if (RankOf(TypeWord(right)) == 0 || ElementCount(right) == 0) return Same(right);
  AxisView v = ViewAlong(DimsOf(right), axis);
  return {Rearranged(right, [&](auto cells, uint8_t* out, const uint8_t* in) {
    ReverseCells<decltype(cells)>(out, in, v);
  })};
}

CallResult Rotate(const Ref& left, const Ref& right, bool firstAxis) {
  RequireArray(right);
  uint32_t axis = FunctionAxis(right, firstAxis);
  RequireArray(left);
  std::vector<int64_t> amounts;
  if (!ReadIntegers(left, amounts)) SIGNAL(kDomainError);
  Dims d = DimsOf(right);
  Dims a = DimsOf(left);
  bool single = amounts.size() == 1 && a.rank <= 1;
  if (!single) {
    // One amount per vector along the axis: the left's shape is the right's without that axis.
    Dims rest = d;
    if (d.rank > 0) {
      std::copy(rest.len + axis + 1, rest.len + rest.rank, rest.len + axis);
      --rest.rank;
    }
    if (a.rank != rest.rank) SIGNAL(kRankError);
    if (!(a == rest)) SIGNAL(kLengthError);
  }
  if (d.rank == 0 || ElementCount(right) == 0) return Same(right);
  AxisView v = ViewAlong(d, axis);
  if (single) {
    int64_t n = static_cast<int64_t>(v.length);
    uint64_t by = static_cast<uint64_t>(((amounts[0] % n) + n) % n);
    if (by == 0) return Same(right);
    return {Rearranged(right, [&](auto cells, uint8_t* out, const uint8_t* in) {
      RotateAll<decltype(cells)>(out, in, v, by);
    })};
  }
  return {Rearranged(right, [&](auto cells, uint8_t* out, const uint8_t* in) {
    RotateEach<decltype(cells)>(out, in, v, amounts);
  })};
}

}  // namespace

static CallResult ReverseLast(const Ref&, const Ref& right) { return Reverse(right, false); }
static CallResult ReverseFirst(const Ref&, const Ref& right) { return Reverse(right, true); }
static CallResult RotateLast(const Ref& left, const Ref& right) { return Rotate(left, right, false); }
static CallResult RotateFirst(const Ref& left, const Ref& right) { return Rotate(left, right, true); }

// ---- Transpose -------------------------------------------------------------------------------------

namespace {

// out[i × columns + j] = in[i × rowStride + j × columnStride] for a rows × columns block, visited in
// tiles so that both the reads and the writes stay in the cache when one of the strides is long.
template <typename Cells>
void GatherPlane(uint8_t* out, uint64_t at, const uint8_t* in, uint64_t base, uint64_t rows, uint64_t columns,
                 uint64_t rowStride, uint64_t columnStride) {
  constexpr uint64_t kTile = 128;  // a tile's source lines stay in the first-level cache
  if (columnStride == 1) {
    ForEachInterruptibly(rows, [&](uint64_t i) {
      Cells::Copy(out, at + i * columns, in, base + i * rowStride, columns);
    });
    return;
  }
  if constexpr (std::is_same_v<Cells, Bits>) {
    for (uint64_t i = 0; i < rows; ++i)
      ForEachInterruptibly(columns, [&](uint64_t j) {
        Cells::Set(out, at + i * columns + j, Cells::Get(in, base + i * rowStride + j * columnStride));
      });
  } else {
    using T = typename Cells::Value;
    T* dst = reinterpret_cast<T*>(out) + at;
    const T* src = reinterpret_cast<const T*>(in) + base;
    for (uint64_t i0 = 0; i0 < rows; i0 += kTile) {
      uint64_t i1 = std::min(rows, i0 + kTile);
      for (uint64_t j0 = 0; j0 < columns; j0 += kTile) {
        CheckStrongInterrupt();
        uint64_t j1 = std::min(columns, j0 + kTile);
        for (uint64_t i = i0; i < i1; ++i) {
          T* row = dst + i * columns;
          const T* from = src + i * rowStride;
          for (uint64_t j = j0; j < j1; ++j) row[j] = from[j * columnStride];
        }
      }
    }
  }
}

// The result of A⍉B: axis i of B goes to result axis map[i]; axes sent to the same place take the
// diagonal.
Ref Transposed(const Ref& array, const std::vector<int64_t>& map) {
  Dims source = DimsOf(array);
  uint64_t sourceStride[kMaxRank + 1];
  uint64_t stride = 1;
  for (uint32_t i = source.rank; i-- > 0;) {
    sourceStride[i] = stride;
    stride *= source.len[i];
  }
  Dims target;
  uint64_t gather[kMaxRank + 1] = {};
  target.rank = source.rank == 0 ? 0 : static_cast<uint32_t>(*std::max_element(map.begin(), map.end()) + 1);
  std::fill(target.len, target.len + target.rank, kMaxLength + 1);
  for (uint32_t i = 0; i < source.rank; ++i) {
    uint32_t j = static_cast<uint32_t>(map[i]);
    target.len[j] = std::min(target.len[j], source.len[i]);
    gather[j] += sourceStride[i];
  }
  Building result(NewArray(TypeOf(array), target));
  uint64_t count = target.Count();
  WithCells(TypeOf(array), [&](auto cells) {
    using C = decltype(cells);
    uint8_t* out = result.Data();
    const uint8_t* in = DataOf<uint8_t>(array);
    if (target.rank == 0) return C::Copy(out, 0, in, 0, 1);
    if (count == 0) return;
    // The last two result axes form planes; the axes before them are counted off one by one.
    uint32_t r = target.rank;
    uint64_t rows = r >= 2 ? target.len[r - 2] : 1;
    uint64_t rowStride = r >= 2 ? gather[r - 2] : 0;
    uint64_t columns = target.len[r - 1];
    uint64_t index[kMaxRank + 1] = {};
    uint64_t at = 0;
    for (;;) {
      uint64_t base = 0;
      for (uint32_t k = 0; k + 2 < r; ++k) base += index[k] * gather[k];
      GatherPlane<C>(out, at, in, base, rows, columns, rowStride, gather[r - 1]);
      at += rows * columns;
      int32_t k = static_cast<int32_t>(r) - 3;
      while (k >= 0 && ++index[k] == target.len[k]) index[k--] = 0;
      if (k < 0) return;
    }
  });
  return result.Finish(IsNested(array) ? DataOf<Ref>(array)[0] : 0);
}

bool IsIdentity(const std::vector<int64_t>& map) {
  for (size_t i = 0; i < map.size(); ++i)
    if (map[i] != static_cast<int64_t>(i)) return false;
  return true;
}

}  // namespace

static CallResult TransposeMonadic(const Ref&, const Ref& right) {
  RequireArray(right);
  uint32_t rank = RankOf(TypeWord(right));
  std::vector<int64_t> map(rank);
  for (uint32_t i = 0; i < rank; ++i) map[i] = rank - 1 - i;
  if (IsIdentity(map)) return Same(right);
  return {Transposed(right, map)};
}

static CallResult TransposeDyadic(const Ref& left, const Ref& right) {
  RequireArray(right);
  std::vector<int64_t> map = IntegerList(left);
  uint32_t rank = RankOf(TypeWord(right));
  if (map.size() != rank) SIGNAL(kLengthError);
  std::vector<bool> used(rank);
  for (int64_t& m : map) {
    m -= IndexOrigin();
    if (m < 0) SIGNAL(kDomainError);
    if (m >= rank) SIGNAL(kRankError);
    used[m] = true;
  }
  int64_t highest = map.empty() ? -1 : *std::max_element(map.begin(), map.end());
  if (!std::all_of(used.begin(), used.begin() + (highest + 1), [](bool u) { return u; })) SIGNAL(kRankError);
  if (IsIdentity(map)) return Same(right);
  return {Transposed(right, map)};
}

// ---- Replicate and expand --------------------------------------------------------------------------

namespace {

// The argument along its axis, a scalar being a vector of one.
struct AlongAxis {
  Dims dims;
  uint32_t axis;
  AxisView view;
};

AlongAxis AxisOfFunction(Ref array, bool firstAxis) {
  AlongAxis a;
  a.dims = DimsOf(array);
  if (a.dims.rank == 0) a.dims.Insert(0, 1);
  a.axis = AxisArgument() ? SingleAxis(AxisArgument(), a.dims.rank) : firstAxis ? 0 : a.dims.rank - 1;
  a.view = ViewAlong(a.dims, a.axis);
  return a;
}

// Builds the result of replicate or expand: for each source position i along the axis, `counts[i]`
// copies of its cell (a negative count: that many fill cells); `cellOf[i]` names the source cell.
Ref Replicated(const Ref& array, const AlongAxis& along, const std::vector<int64_t>& counts,
               const std::vector<uint64_t>& cellOf, uint64_t resultLength) {
  Dims target = along.dims;
  target.len[along.axis] = resultLength;
  CheckLength(target.Count());
  bool fills = std::any_of(counts.begin(), counts.end(), [](int64_t c) { return c < 0; });
  Temporaries hold;
  hold[0] = array;
  Retain(array);
  if (IsNested(array) && (fills || target.Count() == 0)) hold[1] = Prototype(array);
  ElementType type = TypeOf(array);
  Building result(NewArray(type, target));
  // An empty result has nothing to copy, however many cells the counts name.
  if (target.Count() == 0) return result.Finish(hold[1]);
  const AxisView& v = along.view;
  WithCells(type, [&](auto cells) {
    using C = decltype(cells);
    uint8_t* out = result.Data();
    const uint8_t* in = DataOf<uint8_t>(hold[0]);
    auto fill = C::FromRaw(FillOf(type, hold[1]));
    uint64_t at = 0;
    for (uint64_t o = 0; o < v.outer; ++o) {
      uint64_t base = o * v.length;
      ForEachInterruptibly(counts.size(), [&](uint64_t i) {
        int64_t c = counts[i];
        if (c < 0) {
          C::Fill(out, at, static_cast<uint64_t>(-c) * v.inner, fill);
          at += static_cast<uint64_t>(-c) * v.inner;
          return;
        }
        uint64_t from = (base + cellOf[i]) * v.inner;
        if (v.inner == 1 && c == 1) {
          C::Set(out, at++, C::Get(in, from));
          return;
        }
        for (int64_t k = 0; k < c; ++k, at += v.inner) C::Copy(out, at, in, from, v.inner);
      });
    }
  });
  return result.Finish(hold[1]);
}

// Boolean left argument with one count per item: the cells whose bit is set, counted by population.
Ref Compressed(const Ref& mask, const Ref& array, const AlongAxis& along) {
  const uint8_t* bits = DataOf<uint8_t>(mask);
  uint64_t n = along.view.length;
  uint64_t kept = 0;
  for (uint64_t k = 0; k < n / 8; ++k) kept += std::popcount(static_cast<unsigned>(bits[k]));
  for (uint64_t i = n & ~7ull; i < n; ++i) kept += GetBit(bits, i);
  if (kept == n) return Same(array).value;
  Dims target = along.dims;
  target.len[along.axis] = kept;
  Temporaries hold;
  hold[0] = mask;
  Retain(mask);
  hold[1] = array;
  Retain(array);
  if (IsNested(array) && target.Count() == 0) hold[2] = Prototype(array);
  Building result(NewArray(TypeOf(array), target));
  const AxisView& v = along.view;
  WithCells(TypeOf(array), [&](auto cells) {
    using C = decltype(cells);
    uint8_t* out = result.Data();
    const uint8_t* in = DataOf<uint8_t>(hold[1]);
    const uint8_t* m = DataOf<uint8_t>(hold[0]);
    uint64_t at = 0;
    for (uint64_t o = 0; o < v.outer; ++o) {
      uint64_t base = o * v.length;
      ForEachInterruptibly(v.length, [&](uint64_t i) {
        if (!GetBit(m, i)) return;
        if (v.inner == 1) C::Set(out, at++, C::Get(in, base + i));
        else {
          C::Copy(out, at, in, (base + i) * v.inner, v.inner);
          at += v.inner;
        }
      });
    }
  });
  return result.Finish(hold[2]);
}

CallResult Replicate(const Ref& left, const Ref& right, bool firstAxis) {
  RequireArray(right);
  std::vector<int64_t> counts = IntegerList(left);
  AlongAxis along = AxisOfFunction(right, firstAxis);
  uint64_t n = along.view.length;
  if (counts.size() == 1 && n != 1) counts.assign(n, counts[0]);
  else if (n == 1 && counts.size() != 1) along.view.length = 1;
  else if (counts.size() != n) SIGNAL(kLengthError);
  std::vector<uint64_t> cellOf(counts.size());
  uint64_t length = 0;
  for (size_t i = 0; i < counts.size(); ++i) {
    cellOf[i] = n == 1 ? 0 : i;
    length += counts[i] < 0 ? 0 - static_cast<uint64_t>(counts[i]) : static_cast<uint64_t>(counts[i]);
    CheckLength(length);
  }
  bool maskPerItem = TypeOf(left) == kBool && RankOf(TypeWord(left)) == 1 && ElementCount(left) == n && n > 1;
  if (maskPerItem) return {Compressed(left, right, along)};
  if (RankOf(TypeWord(right)) > 0 && counts.size() == n &&
      std::all_of(counts.begin(), counts.end(), [](int64_t c) { return c == 1; }))
    return Same(right);
  return {Replicated(right, along, counts, cellOf, length)};
}

CallResult Expand(const Ref& left, const Ref& right, bool firstAxis) {
  RequireArray(right);
  std::vector<int64_t> counts = IntegerList(left);
  AlongAxis along = AxisOfFunction(right, firstAxis);
  uint64_t n = along.view.length;
  uint64_t positives = 0, length = 0;
  for (int64_t c : counts) {
    if (c < 0) SIGNAL(kDomainError);
    positives += c > 0;
    length += c > 0 ? static_cast<uint64_t>(c) : 1;
    CheckLength(length);
  }
  if (positives != n && n != 1) SIGNAL(kLengthError);
  // A 0 becomes one fill cell (count -1); each positive count takes the next cell.
  std::vector<uint64_t> cellOf(counts.size());
  uint64_t next = 0;
  for (size_t i = 0; i < counts.size(); ++i) {
    if (counts[i] == 0) {
      counts[i] = -1;
    } else {
      cellOf[i] = n == 1 ? 0 : next++;
    }
  }
  return {Replicated(right, along, counts, cellOf, length)};
}

}  // namespace

static CallResult ReplicateLast(const Ref& left, const Ref& right) { return Replicate(left, right, false); }
static CallResult ReplicateFirst(const Ref& left, const Ref& right) { return Replicate(left, right, true); }
static CallResult ExpandLast(const Ref& left, const Ref& right) { return Expand(left, right, false); }
static CallResult ExpandFirst(const Ref& left, const Ref& right) { return Expand(left, right, true); }

// ---- Installation ----------------------------------------------------------------------------------

static constexpr uint32_t kAxes = kMonadicAxis | kDyadicAxis;
static constexpr uint32_t kSelects = kMonadicSelects | kDyadicSelects;

static constexpr PrimitiveRow kStructureRows[] = {
    {32, ShapeOfArray, ReshapeArray, kDyadicSelects},
    {33, Ravel, CatenateLast, kAxes | kMonadicSelects},
    {34, Table, CatenateFirst, kDyadicAxis | kMonadicSelects},
    {36, nullptr, Take, kDyadicAxis | kDyadicSelects},
    {37, nullptr, Drop, kDyadicAxis | kDyadicSelects},
    {41, TransposeMonadic, TransposeDyadic, kSelects},
    {42, ReverseLast, RotateLast, kAxes | kSelects},
    {43, ReverseFirst, RotateFirst, kAxes | kSelects},
    {64, nullptr, ReplicateLast, kDyadicAxis | kDyadicSelects},
    {65, nullptr, ReplicateFirst, kDyadicAxis | kDyadicSelects},
    {66, nullptr, ExpandLast, kDyadicAxis | kDyadicSelects},
    {67, nullptr, ExpandFirst, kDyadicAxis | kDyadicSelects},
};

void InitialiseStructure() { InstallPrimitives(kStructureRows); }

}  // namespace vantor
