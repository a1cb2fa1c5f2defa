// Selecting items of arrays: ⍳, bracket indexing and squad, and the enclose family ⊂ ⊃ ↑ ↓ ∊ with the
// meanings ⎕ML chooses. A selection is planned first (every check happens there, before anything is
// allocated) as groups of offset contributions, then copied by one loop per element width; indexing,
// squad, enclose with an axis, split, partitions and the transposition of mix all copy that way.
// Long copies and ⍳ of a large number act on a strong interrupt every so often.
#include "primitives/index.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "primitives/dispatch.h"
#include "base/errors.h"
#include "memory/eltype.h"
#include "memory/memory1.h"
#include "memory/memory3.h"
#include "primitives/arith.h"
#include "primitives/darith.h"
#include "primitives/same.h"
#include "sysfns/quadvar.h"

namespace vantor {

static constexpr char kUnit[] = "index";

namespace {

// ---- Facts about arrays -----------------------------------------------------------------------------

bool IsNested(Ref r) { return IsRef(r) && KindOf(TypeWord(r)) == kKindNested; }
bool IsSimpleScalar(Ref r) { return IsRef(r) && KindOf(TypeWord(r)) == kKindSimple && RankOf(TypeWord(r)) == 0; }
uint32_t ArrayRank(Ref r) { return IsArray(r) ? RankOf(TypeWord(r)) : 0; }
ElementType TypeOf(Ref r) { return ElementOf(TypeWord(r)); }
uint64_t Count(Ref r) { return IsArray(r) ? ElementCount(r) : 1; }

std::vector<uint32_t> ShapeVector(Ref r) {
  const uint32_t* shape = ShapeOf(r);
  return std::vector<uint32_t>(shape, shape + ArrayRank(r));
}

// Row-major strides of a shape, in elements.
std::vector<uint32_t> StridesOf(const std::vector<uint32_t>& shape) {
  std::vector<uint32_t> strides(shape.size());
  uint64_t stride = 1;
  for (size_t k = shape.size(); k-- > 0;) {
    strides[k] = static_cast<uint32_t>(stride);
    stride *= shape[k];
  }
  return strides;
}

// The contributions of a whole axis: 0, stride, 2×stride ...
std::vector<uint32_t> WholeAxis(uint32_t length, uint32_t stride) {
  std::vector<uint32_t> group(length);
  for (uint32_t i = 0; i < length; ++i) group[i] = i * stride;
  return group;
}

[[noreturn]] void SignalRankLimit() {
  SIGNAL_MESSAGE(kLimitError, U"Rank of resultant array would exceed maximum permitted");
}

// ---- Reading integers -------------------------------------------------------------------------------

constexpr double kIntegerTolerance = 1e-10;

bool NearInteger(double x, int64_t& value) {
  double r = std::nearbyint(x);
  if (!(std::fabs(x - r) <= kIntegerTolerance * std::max(1.0, std::fabs(x)))) return false;
  if (!(r >= -9.2e18 && r <= 9.2e18)) return false;
  value = static_cast<int64_t>(r);
  return true;
}

template <typename T>
void AppendIntegers(const void* data, uint64_t n, std::vector<int64_t>& out) {
  const T* d = static_cast<const T*>(data);
  for (uint64_t i = 0; i < n; ++i) out[i] = d[i];
}

void AppendReals(const double* d, uint64_t n, uint32_t step, std::vector<int64_t>& out) {
  for (uint64_t i = 0; i < n; ++i) {
    if (step == 2 && std::fabs(d[2 * i + 1]) > kIntegerTolerance) SIGNAL(kDomainError);
    if (!NearInteger(d[step * i], out[i])) SIGNAL(kDomainError);
  }
}

// ---- Element conversion -----------------------------------------------------------------------------

template <ElementType T>
using C = ElementCType<T>;

// One element of type S as type D (D holds S: a wider number, a wider character).
template <ElementType D, ElementType S>
C<D> ConvertValue(C<S> v) {
  if constexpr (S == D) {
    return v;
  } else if constexpr (IsCharacterType(D) && IsCharacterType(S)) {
    if constexpr (S == kCharAv) return static_cast<C<D>>(AvCharacter(v));
    else return static_cast<C<D>>(v);
  } else if constexpr (IsCharacterType(D) || IsCharacterType(S)) {
    SystemError(139);
  } else if constexpr (D == kDecimal128) {
    if constexpr (S == kFloat64) return DecimalFromDouble(v);
    else if constexpr (S == kComplex) return DecimalFromDouble(v.real());
    else return DecimalFromInt(static_cast<int64_t>(v));
  } else if constexpr (S == kDecimal128) {
    if constexpr (D == kComplex) return Complex(DoubleFromDecimal(v), 0);
    else if constexpr (D == kFloat64) return DoubleFromDecimal(v);
    else return static_cast<C<D>>(IntegerFromDecimal(v, INT64_MIN, INT64_MAX));
  } else if constexpr (D == kComplex) {
    return Complex(static_cast<double>(v), 0);
  } else if constexpr (S == kComplex) {
    return static_cast<C<D>>(v.real());
  } else {
    return static_cast<C<D>>(v);
  }
}

using ConvertFn = void (*)(const uint8_t* source, uint64_t from, uint8_t* target, uint64_t to, uint64_t n);

template <ElementType S, ElementType D>
void ConvertRun(const uint8_t* source, uint64_t from, uint8_t* target, uint64_t to, uint64_t n) {
  if constexpr (S == D && S != kBool) {
    std::memcpy(target + to * sizeof(C<D>), source + from * sizeof(C<S>), n * sizeof(C<S>));
  } else {
    for (uint64_t i = 0; i < n; ++i) StoreElement<D>(target, to + i, ConvertValue<D, S>(LoadElement<S>(source, from + i)));
  }
}

[[noreturn]] void ConvertUnsupported(const uint8_t*, uint64_t, uint8_t*, uint64_t, uint64_t) { SystemError(139); }

constexpr bool IsCopyable(ElementType t) { return t != kRefElement && t != kInternal8; }

// [source type][target type]: the loop that copies runs of elements of one simple type into another.
constexpr auto kConverters = PerTypePairTable([](auto s, auto d) -> ConvertFn {
  if constexpr (IsCopyable(s) && IsCopyable(d)) return ConvertRun<s, d>;
  else return ConvertUnsupported;
});

// Copies `n` elements of simple array `source` from `from` into simple array `target` at `to`.
void CopyConverted(Ref target, uint64_t to, Ref source, uint64_t from, uint64_t n) {
  kConverters[TypeOf(source)][TypeOf(target)](DataOf<uint8_t>(source), from, DataOf<uint8_t>(target), to, n);
}

// ---- Gathering --------------------------------------------------------------------------------------

struct Wide16 {
  uint64_t low, high;
};

// Calls put(k, offset) for the plan's offsets in result order (k counting from 0), acting on a strong
// interrupt every kInterruptStride elements.
template <typename Put>
void Gather(const SelectionPlan& plan, Put put) {
  uint64_t k = 0;
  plan.ForEachOffset([&](uint32_t offset) {
    if (k % kInterruptStride == 0) CheckStrongInterrupt();
    put(k++, offset);
  });
}

template <typename T>
void GatherWidth(Ref source, Ref result, const SelectionPlan& plan) {
  const T* s = DataOf<T>(source);
  T* d = DataOf<T>(result);
  Gather(plan, [&](uint64_t k, uint32_t offset) { d[k] = s[offset]; });
}

void GatherBits(Ref source, Ref result, const SelectionPlan& plan) {
  const uint8_t* s = DataOf<uint8_t>(source);
  uint8_t* d = DataOf<uint8_t>(result);
  Gather(plan, [&](uint64_t k, uint32_t offset) { SetBit(d, k, GetBit(s, offset)); });
}

// Items are retained as they are copied, so that a result an interrupt leaves half-filled holds only
// counted items (the rest are still 0).
void GatherItems(Ref source, Ref result, const SelectionPlan& plan) {
  const Ref* s = DataOf<Ref>(source);
  Ref* d = DataOf<Ref>(result);
  Gather(plan, [&](uint64_t k, uint32_t offset) { d[k] = Retained(s[offset]); });
}

using GatherFn = void (*)(Ref source, Ref result, const SelectionPlan& plan);
constexpr GatherFn kGatherByType[kElementTypeCount] = {
    GatherWidth<uint8_t>,   // ⎕AV character
    GatherBits,             // Boolean
    GatherWidth<uint8_t>,   // int8
    GatherWidth<uint16_t>,  // int16
    GatherWidth<uint32_t>,  // int32
    GatherWidth<uint64_t>,  // binary64
    GatherItems,            // references
    GatherWidth<uint8_t>,   // char8
    GatherWidth<uint16_t>,  // char16
    GatherWidth<uint32_t>,  // char32
    GatherWidth<Wide16>,    // complex
    GatherWidth<uint64_t>,  // internal
    GatherWidth<Wide16>,    // decimal128
    GatherWidth<uint64_t>,  // int64
};

// Fills `n` elements of a simple array from `at` with one raw element.
template <typename T>
void FillWidth(uint8_t* data, uint64_t at, uint64_t n, const RawElement& fill) {
  T value;
  std::memcpy(&value, fill.bytes, sizeof value);
  std::fill_n(reinterpret_cast<T*>(data) + at, n, value);
}

void FillBits(uint8_t* data, uint64_t at, uint64_t n, const RawElement&) {
  for (uint64_t i = 0; i < n; ++i) SetBit(data, at + i, false);
}

using FillFn = void (*)(uint8_t* data, uint64_t at, uint64_t n, const RawElement& fill);
constexpr FillFn kFillByType[kElementTypeCount] = {
    FillWidth<uint8_t>,  FillBits,           FillWidth<uint8_t>,  FillWidth<uint16_t>, FillWidth<uint32_t>,
    FillWidth<uint64_t>, FillWidth<uint32_t>, FillWidth<uint8_t>,  FillWidth<uint16_t>, FillWidth<uint32_t>,
    FillWidth<Wide16>,   FillWidth<uint64_t>, FillWidth<Wide16>,   FillWidth<uint64_t>,
};

// Fills a whole simple array with the fill element of its type.
void FillSimple(Ref array) {
  ElementType type = TypeOf(array);
  kFillByType[type](DataOf<uint8_t>(array), 0, ElementCount(array), SimpleFill(type));
}

// Element `index` of an item of a nested array as an item of another nested array (counted): the
// item itself when it is not an array.
Ref ItemElement(Ref item, uint64_t index) {
  if (!IsArray(item)) {
    Retain(item);
    return item;
  }
  return ElementAsScalar(item, index);
}

// An array of `shape` holding nothing but the fill of `like` (borrowed): its type's fill element, or
// for a nested array its prototype in every position.
Ref FilledArray(const Ref& like, const std::vector<uint32_t>& shape) {
  if (!IsNested(like)) {
    Ref r = NewArray(TypeOf(like), shape);
    FillSimple(r);
    return r;
  }
  Temporaries hold;
  hold[0] = NewArray(kRefElement, shape);
  hold[1] = Prototype(like);
  const uint64_t n = std::max<uint64_t>(ElementCount(hold[0]), 1);  // an empty one keeps it as prototype
  for (uint64_t i = 0; i < n; ++i) {
    Retain(hold[1]);
    DataOf<Ref>(hold[0])[i] = hold[1];
  }
  return Simplified(hold.Take(0));
}

// The prototype item of an empty nested result, set from the array it was taken from.
void SetEmptyPrototype(Ref result, const Ref& from) {
  Ref prototype = Prototype(from);
  DataOf<Ref>(result)[0] = prototype;
}

// ---- The index generator ----------------------------------------------------------------------------

ElementType IntegerTypeHolding(int64_t largest) {
  if (largest <= 127) return kInt8;
  if (largest <= 32767) return kInt16;
  return kInt32;
}

template <typename T>
void Ascending(Ref vector, uint64_t n, int64_t first) {
  T* d = DataOf<T>(vector);
  ForEachInterruptibly(n, [&](uint64_t i) { d[i] = static_cast<T>(first + static_cast<int64_t>(i)); });
}

// ⎕IO, ⎕IO+1, ... ⎕IO+n-1.
Ref IndexVector(int64_t n) {
  int64_t io = IndexOrigin();
  if (n - 1 + io > INT32_MAX) SIGNAL(kLimitError);
  ElementType type = IntegerTypeHolding(n - 1 + io);
  Temporaries hold;
  hold[0] = NewArray(type, {static_cast<uint32_t>(n)});
  if (type == kInt8) Ascending<int8_t>(hold[0], n, io);
  else if (type == kInt16) Ascending<int16_t>(hold[0], n, io);
  else Ascending<int32_t>(hold[0], n, io);
  return hold.Take(0);
}

// ⍳ of a vector of lengths: an array of that shape whose items are their own index vectors.
Ref IndexVectors(const std::vector<int64_t>& lengths) {
  if (lengths.size() > kMaxRank) SignalRankLimit();
  std::vector<uint32_t> shape;
  int64_t largest = 0;
  for (int64_t n : lengths) {
    if (n > UINT32_MAX) SIGNAL(kLimitError);
    shape.push_back(static_cast<uint32_t>(n));
    largest = std::max(largest, n);
  }
  const int64_t io = IndexOrigin();
  const size_t k = lengths.size();
  ElementType type = IntegerTypeHolding(largest - 1 + io);
  Temporaries hold;
  hold[0] = NewArray(kRefElement, shape);
  uint64_t count = ElementCount(hold[0]);
  std::vector<uint32_t> digit(k, 0);
  for (uint64_t i = 0; i < count; ++i) {
    Ref item = AllocVector(type, static_cast<uint32_t>(k));
    for (size_t j = 0; j < k; ++j) {
      int64_t value = digit[j] + io;
      if (type == kInt8) DataOf<int8_t>(item)[j] = static_cast<int8_t>(value);
      else if (type == kInt16) DataOf<int16_t>(item)[j] = static_cast<int16_t>(value);
      else DataOf<int32_t>(item)[j] = static_cast<int32_t>(value);
    }
    DataOf<Ref>(hold[0])[i] = item;
    for (size_t j = k; j-- > 0 && ++digit[j] == shape[j];) digit[j] = 0;
  }
  if (count == 0) {
    Ref prototype = AllocVector(kBool, static_cast<uint32_t>(k));
    FillSimple(prototype);
    DataOf<Ref>(hold[0])[0] = prototype;
  }
  return hold.Take(0);
}

CallResult IndexGenerator(const Ref&, const Ref& right) {
  if (!IsArray(right)) SIGNAL(kDomainError);
  if (ArrayRank(right) > 1) SIGNAL(kRankError);
  std::vector<int64_t> lengths = IntegersOf(right);
  for (int64_t n : lengths)
    if (n < 0) SIGNAL(kDomainError);
  if (ArrayRank(right) == 0) return {IndexVector(lengths[0])};
  return {IndexVectors(lengths)};
}

// ---- Bracket indexing and squad ---------------------------------------------------------------------

// The offset contributions (i - ⎕IO) × stride of the indexes i of one axis; INDEX ERROR for an index
// outside the axis.
template <typename T>
void IndexContributions(const T* d, uint64_t n, int64_t io, uint32_t length, uint32_t stride, std::vector<uint32_t>& out) {
  out.resize(n);
  for (uint64_t i = 0; i < n; ++i) {
    int64_t position = static_cast<int64_t>(d[i]) - io;
    if (static_cast<uint64_t>(position) >= length) SIGNAL(kIndexError);
    out[i] = static_cast<uint32_t>(position) * stride;
  }
}

std::vector<uint32_t> AxisContributions(Ref index, uint32_t length, uint32_t stride) {
  const int64_t io = IndexOrigin();
  const uint64_t n = ElementCount(index);
  std::vector<uint32_t> group;
  switch (TypeOf(index)) {
    case kInt8: IndexContributions(DataOf<int8_t>(index), n, io, length, stride, group); break;
    case kInt16: IndexContributions(DataOf<int16_t>(index), n, io, length, stride, group); break;
    case kInt32: IndexContributions(DataOf<int32_t>(index), n, io, length, stride, group); break;
    default: {
      std::vector<int64_t> values = IntegersOf(index);
      IndexContributions(values.data(), n, io, length, stride, group);
    }
  }
  return group;
}

// A[I] for a vector A and one index array of small integers, the common case: a range check over
// the indexes, then one tight gather loop.
template <typename I>
bool IndexesInRange(const I* d, uint64_t n, int64_t io, uint32_t length) {
  if (n == 0) return true;
  I low = d[0], high = d[0];
  for (uint64_t i = 0; i < n; ++i) {
    low = std::min(low, d[i]);
    high = std::max(high, d[i]);
  }
  return low - io >= 0 && high - io < static_cast<int64_t>(length);
}

template <typename T, typename I>
void GatherByIndex(Ref result, Ref source, Ref index, uint64_t n, int64_t io) {
  T* d = DataOf<T>(result);
  const T* s = DataOf<T>(source);
  const I* x = DataOf<I>(index);
  for (uint64_t i = 0; i < n; ++i) d[i] = s[x[i] - io];
}

template <typename T>
void GatherVectorByType(Ref result, Ref source, Ref index, uint64_t n, int64_t io) {
  switch (TypeOf(index)) {
    case kInt8: return GatherByIndex<T, int8_t>(result, source, index, n, io);
    case kInt16: return GatherByIndex<T, int16_t>(result, source, index, n, io);
    default: return GatherByIndex<T, int32_t>(result, source, index, n, io);
  }
}

bool InRangeByType(Ref index, uint64_t n, int64_t io, uint32_t length) {
  switch (TypeOf(index)) {
    case kInt8: return IndexesInRange(DataOf<int8_t>(index), n, io, length);
    case kInt16: return IndexesInRange(DataOf<int16_t>(index), n, io, length);
    default: return IndexesInRange(DataOf<int32_t>(index), n, io, length);
  }
}

using VectorGatherFn = void (*)(Ref result, Ref source, Ref index, uint64_t n, int64_t io);
constexpr VectorGatherFn kVectorGatherByType[kElementTypeCount] = {
    GatherVectorByType<uint8_t>,  nullptr, GatherVectorByType<uint8_t>,  GatherVectorByType<uint16_t>,
    GatherVectorByType<uint32_t>, GatherVectorByType<uint64_t>, nullptr, GatherVectorByType<uint8_t>,
    GatherVectorByType<uint16_t>, GatherVectorByType<uint32_t>, GatherVectorByType<Wide16>,
    GatherVectorByType<uint64_t>, GatherVectorByType<Wide16>,   GatherVectorByType<uint64_t>,
};

// The fast path of IndexArray; 0 when it does not apply.
Ref IndexVectorFast(const Ref& list, const Ref& array) {
  if (ArrayRank(array) != 1 || ElementCount(list) != 1) return 0;
  Ref index = DataOf<Ref>(list)[0];
  if (!IsArray(index) || IsNested(index)) return 0;
  ElementType indexType = TypeOf(index);
  VectorGatherFn gather = kVectorGatherByType[TypeOf(array)];
  if (!gather || (indexType != kInt8 && indexType != kInt16 && indexType != kInt32)) return 0;
  const int64_t io = IndexOrigin();
  const uint64_t n = ElementCount(index);
  if (!InRangeByType(index, n, io, ShapeOf(array)[0])) SIGNAL(kIndexError);
  Ref result = NewArray(TypeOf(array), ShapeVector(index));
  gather(result, array, DataOf<Ref>(list)[0], n, io);
  return result;
}

// The index list of I⌷B (with the axes K of I⌷[K]B): one item per axis of B, 0 for the axes no index
// names. Counted.
Ref SquadIndexList(const Ref& left, const Ref& right) {
  if (!IsArray(left)) SIGNAL(kDomainError);
  if (ArrayRank(left) > 1) SIGNAL(kRankError);
  const uint32_t rank = ArrayRank(right);
  const uint64_t n = ElementCount(left);
  std::vector<uint32_t> axes;
  if (AxisArgument()) {
    const int64_t io = IndexOrigin();
    std::vector<bool> seen(rank, false);
    if (!IsArray(AxisArgument()) || ArrayRank(AxisArgument()) > 1) SIGNAL_MESSAGE(kLengthError, U"Invalid axis");
    for (int64_t k : IntegersOf(AxisArgument())) {
      if (k - io < 0 || k - io >= rank) SIGNAL_MESSAGE(kLengthError, U"Invalid axis");
      if (seen[k - io]) SIGNAL_MESSAGE(kIndexError, U"Repeated axis");
      seen[k - io] = true;
      axes.push_back(static_cast<uint32_t>(k - io));
    }
    if (axes.size() != n) SIGNAL_MESSAGE(kLengthError, U"Invalid axis");
  } else {
    if (n > rank) SIGNAL(kRankError);
    for (uint32_t k = 0; k < n; ++k) axes.push_back(k);
  }
  Temporaries hold;
  hold[0] = AllocVector(kRefElement, rank);
  for (uint64_t j = 0; j < n; ++j) {
    Ref index = ElementAsScalar(left, j);
    DataOf<Ref>(hold[0])[axes[j]] = index;
  }
  return hold.Take(0);
}

CallResult Squad(const Ref& left, const Ref& right) {
  if (!IsArray(right)) SIGNAL(kRankError);
  Temporaries hold;
  hold[0] = SquadIndexList(left, right);
  SelectionPlan plan = PlanIndexing(hold[0], right);
  return {GatherSelection(right, plan)};
}

CallResult Materialise(const Ref&, const Ref& right) {
  Retain(right);
  return {right};
}

// ---- Enclose, split and partitions ------------------------------------------------------------------

// Axes in origin ⎕IO, each below `rank` and none repeated; an invalid axis is `invalid` (RANK ERROR
// or LENGTH ERROR) "Invalid axis".
std::vector<uint32_t> AxesOf(Ref axis, uint32_t rank) {
  if (!IsArray(axis) || ArrayRank(axis) > 1) SIGNAL_MESSAGE(kRankError, U"Invalid axis");
  const int64_t io = IndexOrigin();
  std::vector<uint32_t> axes;
  std::vector<bool> seen(rank, false);
  for (int64_t k : IntegersOf(axis)) {
    if (k - io < 0 || k - io >= rank) SIGNAL_MESSAGE(kRankError, U"Invalid axis");
    if (seen[k - io]) SIGNAL_MESSAGE(kIndexError, U"Repeated axis");
    seen[k - io] = true;
    axes.push_back(static_cast<uint32_t>(k - io));
  }
  return axes;
}

// The one axis of f[K] (K a single integer), or the last axis without one.
uint32_t SingleAxis(uint32_t rank) {
  if (!AxisArgument()) return rank - 1;
  std::vector<uint32_t> axes = AxesOf(AxisArgument(), rank);
  if (axes.size() != 1) SIGNAL_MESSAGE(kRankError, U"Invalid axis");
  return axes[0];
}

// ⊂[K]B: an array of the axes of B not in K whose items are the sub-arrays along K (in K's order).
Ref EncloseAxes(const Ref& array, const std::vector<uint32_t>& axes) {
  if (axes.empty()) {
    Retain(array);
    return array;
  }
  const std::vector<uint32_t> shape = ShapeVector(array);
  const std::vector<uint32_t> strides = StridesOf(shape);
  std::vector<bool> inner(shape.size(), false);
  SelectionPlan item;
  item.groups.push_back({0});  // the item's base offset, set per item
  for (uint32_t k : axes) {
    inner[k] = true;
    item.shape.push_back(shape[k]);
    item.groups.push_back(WholeAxis(shape[k], strides[k]));
  }
  SelectionPlan outer;
  for (uint32_t k = 0; k < shape.size(); ++k) {
    if (inner[k]) continue;
    outer.shape.push_back(shape[k]);
    outer.groups.push_back(WholeAxis(shape[k], strides[k]));
  }
  std::vector<uint32_t> bases;
  outer.ForEachOffset([&](uint32_t offset) { bases.push_back(offset); });
  Temporaries hold;
  hold[0] = NewArray(kRefElement, outer.shape);
  for (size_t i = 0; i < bases.size(); ++i) {
    item.groups[0][0] = bases[i];
    Ref enclosed = GatherSelection(array, item);
    DataOf<Ref>(hold[0])[i] = enclosed;
  }
  if (bases.empty()) {
    Ref prototype = FilledArray(array, item.shape);
    DataOf<Ref>(hold[0])[0] = prototype;
  }
  return hold.Take(0);
}

CallResult Enclose(const Ref&, const Ref& right) {
  if (AxisArgument()) return {EncloseAxes(right, AxesOf(AxisArgument(), ArrayRank(right)))};
  if (!IsArray(right) || IsSimpleScalar(right)) {
    Retain(right);
    return {right};
  }
  Ref result = NewArray(kRefElement, {});
  Retain(right);
  DataOf<Ref>(result)[0] = right;
  return {result};
}

CallResult Split(const Ref&, const Ref& right) {
  if (ArrayRank(right) == 0) {
    if (AxisArgument()) SIGNAL_MESSAGE(kRankError, U"Invalid axis");
    Retain(right);
    return {right};
  }
  return {EncloseAxes(right, {SingleAxis(ArrayRank(right))})};
}

struct Part {
  uint32_t start, length;
};

// A vector of the slices of B along `axis` that the parts name, each enclosed; with no parts, an
// empty vector whose prototype is the slice of length 0.
Ref EnclosedParts(const Ref& array, uint32_t axis, const std::vector<Part>& parts) {
  const std::vector<uint32_t> shape = ShapeVector(array);
  const std::vector<uint32_t> strides = StridesOf(shape);
  SelectionPlan slice;
  slice.shape = shape;
  for (uint32_t k = 0; k < shape.size(); ++k) slice.groups.push_back(WholeAxis(shape[k], strides[k]));
  auto enclosedSlice = [&](Part part) {
    slice.shape[axis] = part.length;
    slice.groups[axis].resize(part.length);
    for (uint32_t i = 0; i < part.length; ++i) slice.groups[axis][i] = (part.start + i) * strides[axis];
    return GatherSelection(array, slice);
  };
  Temporaries hold;
  hold[0] = NewArray(kRefElement, {static_cast<uint32_t>(parts.size())});
  for (size_t p = 0; p < parts.size(); ++p) {
    Ref item = enclosedSlice(parts[p]);
    DataOf<Ref>(hold[0])[p] = item;
  }
  if (parts.empty()) {
    Ref prototype = enclosedSlice({0, 0});
    DataOf<Ref>(hold[0])[0] = prototype;
  }
  return hold.Take(0);
}

// Checks the left argument of dyadic ⊂ against B's axis and reads it: a scalar extends.
std::vector<int64_t> PartitionCounts(const Ref& left, uint32_t length) {
  if (!IsArray(left)) SIGNAL(kDomainError);
  if (ArrayRank(left) > 1) SIGNAL(kRankError);
  std::vector<int64_t> counts = IntegersOf(left);
  if (ArrayRank(left) == 0) counts.assign(length, counts[0]);
  else if (counts.size() != length) SIGNAL(kLengthError);
  return counts;
}

// Partitioned enclose: each 1 starts a part that runs to the next 1; items before the first 1 drop.
std::vector<Part> PartsAtOnes(const std::vector<int64_t>& marks) {
  std::vector<Part> parts;
  for (uint32_t i = 0; i < marks.size(); ++i) {
    if (marks[i] != 0 && marks[i] != 1) SIGNAL(kDomainError);
    if (marks[i] == 1) parts.push_back({i, 0});
    if (!parts.empty()) ++parts.back().length;
  }
  return parts;
}

// Partition: a part starts wherever the number increases; items under 0 drop.
std::vector<Part> PartsAtIncreases(const std::vector<int64_t>& keys) {
  std::vector<Part> parts;
  int64_t previous = 0;
  for (uint32_t i = 0; i < keys.size(); ++i) {
    if (keys[i] < 0) SIGNAL(kDomainError);
    if (keys[i] > previous) parts.push_back({i, 0});
    if (keys[i] != 0) ++parts.back().length;
    previous = keys[i];
  }
  return parts;
}

CallResult PartitionedEnclose(const Ref& left, const Ref& right) {
  if (ArrayRank(right) == 0) SIGNAL(kRankError);
  const uint32_t axis = SingleAxis(ArrayRank(right));
  std::vector<int64_t> counts = PartitionCounts(left, ShapeOf(right)[axis]);
  std::vector<Part> parts = MigrationLevel() >= 3 ? PartsAtIncreases(counts) : PartsAtOnes(counts);
  return {EnclosedParts(right, axis, parts)};
}

// ---- First, mix, pick -------------------------------------------------------------------------------

// The extended shape of an item: its shape after leading axes of length 1 bring it to `rank`.
std::vector<uint32_t> ExtendedShape(Ref item, uint32_t rank) {
  std::vector<uint32_t> shape(rank, 1);
  uint32_t own = ArrayRank(item);
  for (uint32_t k = 0; k < own; ++k) shape[rank - own + k] = ShapeOf(item)[k];
  return shape;
}

// The natural mix (items' axes last) into a simple result: every item's rows converted into place
// over a result filled with the type's fill.
void MixSimple(Ref result, const Ref& array, const std::vector<uint32_t>& itemShape, uint64_t items) {
  FillSimple(result);
  const uint32_t rank = static_cast<uint32_t>(itemShape.size());
  uint64_t itemCount = 1;
  for (uint32_t length : itemShape) itemCount *= length;
  const std::vector<uint32_t> strides = StridesOf(itemShape);
  for (uint64_t i = 0; i < items; ++i) {
    Ref item = DataOf<Ref>(array)[i];
    std::vector<uint32_t> own = ExtendedShape(item, rank);
    uint64_t itemElements = ElementCount(item);
    if (itemElements == 0) continue;
    uint32_t row = rank == 0 ? 1 : own[rank - 1];
    std::vector<uint32_t> digit(rank, 0);
    for (uint64_t from = 0; from < itemElements; from += row) {
      uint64_t to = i * itemCount;
      for (uint32_t k = 0; k + 1 < rank; ++k) to += static_cast<uint64_t>(digit[k]) * strides[k];
      CopyConverted(result, to, item, from, row);
      if (rank == 0) break;
      for (uint32_t k = rank - 1; k-- > 0 && ++digit[k] == own[k];) digit[k] = 0;
    }
  }
}

// The natural mix into a nested result: elements of the items, padded with each item's prototype.
void MixNested(Temporaries& hold, const Ref& array, const std::vector<uint32_t>& itemShape, uint64_t items) {
  const uint32_t rank = static_cast<uint32_t>(itemShape.size());
  uint64_t itemCount = 1;
  for (uint32_t length : itemShape) itemCount *= length;
  for (uint64_t i = 0; i < items; ++i) {
    hold[1] = DataOf<Ref>(array)[i];
    Retain(hold[1]);
    hold[2] = Prototype(hold[1]);
    std::vector<uint32_t> own = ExtendedShape(hold[1], rank);
    std::vector<uint32_t> digit(rank, 0);
    for (uint64_t p = 0; p < itemCount; ++p) {
      bool inside = true;
      uint64_t from = 0;
      for (uint32_t k = 0; k < rank; ++k) {
        inside = inside && digit[k] < own[k];
        from = from * own[k] + digit[k];
      }
      Ref element = inside ? ItemElement(hold[1], from) : hold[2];
      if (!inside) Retain(element);
      DataOf<Ref>(hold[0])[i * itemCount + p] = element;
      for (uint32_t k = rank; k-- > 0 && ++digit[k] == itemShape[k];) digit[k] = 0;
    }
    Release(hold[1]);
    Release(hold[2]);
  }
}

// The axis order of ↑[K]: perm[a] is the natural axis (outer axes first, then the items' axes) that
// becomes result axis a. A fractional K (items of rank 1) puts the items' axis between ⌊K and ⌈K.
std::vector<uint32_t> MixPermutation(Ref axis, uint32_t outerRank, uint32_t itemRank) {
  const uint32_t rank = outerRank + itemRank;
  std::vector<uint32_t> targets;
  if (IsArray(axis) && ArrayRank(axis) == 0 && (TypeOf(axis) == kFloat64) && itemRank == 1) {
    double k = *DataOf<double>(axis) - IndexOrigin();
    if (!(k > -1 && k < rank - 1)) SIGNAL_MESSAGE(kRankError, U"Invalid axis");
    targets.push_back(static_cast<uint32_t>(std::ceil(k)));
  } else {
    targets = AxesOf(axis, rank);
  }
  if (targets.size() != itemRank) SIGNAL_MESSAGE(kRankError, U"Invalid axis");
  std::vector<uint32_t> perm(rank, UINT32_MAX);
  for (uint32_t j = 0; j < itemRank; ++j) perm[targets[j]] = outerRank + j;
  uint32_t next = 0;
  for (uint32_t& p : perm)
    if (p == UINT32_MAX) p = next++;
  return perm;
}

// The array (borrowed) with its axes rearranged: result axis a is axis perm[a].
Ref Rearranged(const Ref& array, const std::vector<uint32_t>& perm) {
  const std::vector<uint32_t> shape = ShapeVector(array);
  const std::vector<uint32_t> strides = StridesOf(shape);
  SelectionPlan plan;
  for (uint32_t natural : perm) {
    plan.shape.push_back(shape[natural]);
    plan.groups.push_back(WholeAxis(shape[natural], strides[natural]));
  }
  return GatherSelection(array, plan);
}

CallResult First(const Ref&, const Ref& right) {
  if (AxisArgument()) SIGNAL_MESSAGE(kSyntaxError, U"Invalid axis");
  return {FirstItem(right)};
}

CallResult Mix(const Ref&, const Ref& right) { return {MixItems(right, AxisArgument())}; }

CallResult FirstOrDisclose(const Ref& left, const Ref& right) {
  return MigrationLevel() >= 2 ? Mix(left, right) : First(left, right);
}

CallResult MixOrFirst(const Ref& left, const Ref& right) {
  return MigrationLevel() >= 2 ? First(left, right) : Mix(left, right);
}

// One level of pick: the item of `array` at `index` (one integer per axis).
Ref PickOne(const Ref& array, const std::vector<int64_t>& index) {
  if (!IsArray(array) || index.size() != ArrayRank(array)) SIGNAL(kRankError);
  const int64_t io = IndexOrigin();
  uint64_t offset = 0;
  for (uint32_t k = 0; k < index.size(); ++k) {
    uint32_t length = ShapeOf(array)[k];
    if (index[k] - io < 0 || index[k] - io >= length) SIGNAL(kIndexError);
    offset = offset * length + static_cast<uint64_t>(index[k] - io);
  }
  return ElementAsScalar(array, offset);
}

CallResult Pick(const Ref& left, const Ref& right) {
  if (!IsArray(left)) SIGNAL(kDomainError);
  if (ArrayRank(left) > 1) SIGNAL(kRankError);
  const bool itemsAreLevels = IsNested(left);
  std::vector<int64_t> scalarLevels = itemsAreLevels ? std::vector<int64_t>{} : IntegersOf(left);
  const uint64_t levels = ElementCount(left);
  Temporaries hold;
  hold[0] = right;
  Retain(right);
  for (uint64_t level = 0; level < levels; ++level) {
    std::vector<int64_t> index;
    if (itemsAreLevels) {
      Ref item = DataOf<Ref>(left)[level];
      if (!IsArray(item)) SIGNAL(kDomainError);
      if (ArrayRank(item) > 1) SIGNAL(kRankError);
      index = IntegersOf(item);
    } else {
      index = {scalarLevels[level]};
    }
    Ref next = PickOne(hold[0], index);
    Release(hold[0]);
    hold[0] = next;
  }
  return {hold.Take(0)};
}

// ---- Enlist and type --------------------------------------------------------------------------------

// The simple leaves of a nested array in depth-first ravel order (not counted; nothing may allocate
// while they are in use), with an explicit stack.
std::vector<Ref> Leaves(Ref array) {
  std::vector<Ref> leaves;
  struct Level {
    Ref array;
    uint64_t next;
  };
  std::vector<Level> stack{{array, 0}};
  while (!stack.empty()) {
    Level& top = stack.back();
    if (top.next == ElementCount(top.array)) {
      stack.pop_back();
      continue;
    }
    Ref item = DataOf<Ref>(top.array)[top.next++];
    if (IsNested(item)) stack.push_back({item, 0});
    else leaves.push_back(item);
  }
  return leaves;
}

Ref Enlist(const Ref& array) {
  if (!IsNested(array)) {
    if (!IsArray(array)) {  // a namespace or other object: a one-item vector
      Ref result = NewArray(kRefElement, {1});
      Retain(array);
      DataOf<Ref>(result)[0] = array;
      return result;
    }
    Ref result = NewArray(TypeOf(array), {static_cast<uint32_t>(ElementCount(array))});
    CopyConverted(result, 0, array, 0, ElementCount(array));
    return result;
  }
  std::vector<Ref> leaves = Leaves(array);
  uint64_t total = 0;
  ElementType type = kBool;
  bool typed = false;
  for (Ref leaf : leaves) {
    if (Count(leaf) == 0) continue;
    total += Count(leaf);
    ElementType t = IsArray(leaf) ? ContributedType(leaf) : kRefElement;
    type = typed ? CombinedType(type, t) : t;
    typed = true;
  }
  if (!typed && !leaves.empty() && IsArray(leaves[0])) type = TypeOf(leaves[0]);
  if (total > UINT32_MAX) SIGNAL(kLimitError);
  for (Ref leaf : leaves) Retain(leaf);
  Temporaries hold;
  hold.SetBuffer(leaves.data(), static_cast<uint32_t>(leaves.size()));
  hold[0] = NewArray(type, {static_cast<uint32_t>(total)});
  uint64_t at = 0;
  for (Ref& leaf : leaves) {
    uint64_t n = Count(leaf);
    if (type != kRefElement) {
      CopyConverted(hold[0], at, leaf, 0, n);
      at += n;
      continue;
    }
    for (uint64_t i = 0; i < n; ++i) {
      Ref element = ItemElement(leaf, i);
      DataOf<Ref>(hold[0])[at++] = element;
    }
  }
  return hold.Take(0);
}

CallResult EnlistOrType(const Ref&, const Ref& right) {
  if (MigrationLevel() == 0) return {ZeroedCopy(right)};
  return {Enlist(right)};
}

constexpr PrimitiveRow kIndexRows[] = {
    {kPrimIota, IndexGenerator, nullptr, 0},
    {kPrimUpArrow, MixOrFirst, nullptr, kMonadicAxis | kMonadicSelects},
    {kPrimDownArrow, Split, nullptr, kMonadicAxis},
    {kPrimEpsilon, EnlistOrType, nullptr, 0},
    {kPrimEnclose, Enclose, PartitionedEnclose, kMonadicAxis | kDyadicAxis},
    {kPrimDisclose, FirstOrDisclose, Pick, kMonadicAxis | kMonadicSelects | kDyadicSelects},
    {kPrimSquad, Materialise, Squad, kDyadicAxis | kDyadicSelects},
    {kPrimLeftBracket, nullptr, IndexArray, kDyadicSelects},
};

}  // namespace

// ---- Interface --------------------------------------------------------------------------------------

std::vector<int64_t> IntegersOf(Ref array) {
  if (!IsArray(array)) SIGNAL(kDomainError);
  const uint64_t n = ElementCount(array);
  std::vector<int64_t> out(n);
  if (n == 0) return out;
  if (IsNested(array)) SIGNAL(kDomainError);
  const uint8_t* d = DataOf<uint8_t>(array);
  switch (TypeOf(array)) {
    case kBool:
      for (uint64_t i = 0; i < n; ++i) out[i] = GetBit(d, i);
      break;
    case kInt8: AppendIntegers<int8_t>(d, n, out); break;
    case kInt16: AppendIntegers<int16_t>(d, n, out); break;
    case kInt32: AppendIntegers<int32_t>(d, n, out); break;
    case kInt64: AppendIntegers<int64_t>(d, n, out); break;
    case kFloat64: AppendReals(DataOf<double>(array), n, 1, out); break;
    case kComplex: AppendReals(DataOf<double>(array), n, 2, out); break;
    case kDecimal128:
      for (uint64_t i = 0; i < n; ++i) out[i] = IntegerFromDecimal(LoadDecimal(d + 16 * i), INT64_MIN, INT64_MAX);
      break;
    default: SIGNAL(kDomainError);
  }
  return out;
}

Ref NewArray(ElementType type, const std::vector<uint32_t>& shape) {
  if (shape.size() > kMaxRank) SignalRankLimit();
  uint64_t count = 1;
  bool empty = false;
  for (uint32_t length : shape) {
    empty = empty || length == 0;
    count *= length;
    if (count > UINT32_MAX) count = UINT32_MAX + 1ull;  // stays too large unless an axis is empty
  }
  if (empty) count = 0;
  const uint32_t rank = static_cast<uint32_t>(shape.size());
  Ref r = AllocArray(type, rank, count);
  std::copy(shape.begin(), shape.end(), ShapeOf(r));
  if (rank == 0 && type == kRefElement) DataOf<Ref>(r)[0] = 0;  // AllocArray wrote the count there
  return r;
}

SelectionPlan PlanIndexing(Ref list, Ref array) {
  const uint32_t rank = ArrayRank(array);
  const uint64_t items = ElementCount(list);
  SelectionPlan plan;
  if (rank == 0 && items == 1 && !IsRef(DataOf<Ref>(list)[0])) return plan;  // S[]: the scalar
  if (items != rank) SIGNAL(kRankError);
  const std::vector<uint32_t> shape = ShapeVector(array);
  const std::vector<uint32_t> strides = StridesOf(shape);
  for (uint32_t k = 0; k < rank; ++k) {
    Ref index = DataOf<Ref>(list)[k];
    if (!IsRef(index)) {
      plan.shape.push_back(shape[k]);
      plan.groups.push_back(WholeAxis(shape[k], strides[k]));
      continue;
    }
    if (!IsArray(index)) SIGNAL(kDomainError);
    const std::vector<uint32_t> indexShape = ShapeVector(index);
    plan.shape.insert(plan.shape.end(), indexShape.begin(), indexShape.end());
    if (plan.shape.size() > kMaxRank) SignalRankLimit();
    if (IsNested(index) && ElementCount(index) > 0) SIGNAL(kDomainError);
    plan.groups.push_back(AxisContributions(index, shape[k], strides[k]));
  }
  return plan;
}

Ref GatherSelection(const Ref& source, const SelectionPlan& plan) {
  const ElementType type = TypeOf(source);
  Temporaries hold;
  hold[0] = NewArray(type, plan.shape);
  kGatherByType[type](source, hold[0], plan);
  if (type != kRefElement) return hold.Take(0);
  if (ElementCount(hold[0]) == 0) SetEmptyPrototype(hold[0], source);
  return Simplified(hold.Take(0));
}

Ref Simplified(Ref nested) {
  const uint64_t n = ElementCount(nested);
  if (n == 0) return nested;
  ElementType type = kBool;
  for (uint64_t i = 0; i < n; ++i) {
    Ref item = DataOf<Ref>(nested)[i];
    if (!IsSimpleScalar(item)) return nested;
    type = i == 0 ? ContributedType(item) : CombinedType(type, ContributedType(item));
    if (type == kRefElement) return nested;
  }
  if (RankOf(TypeWord(nested)) == 0) {
    Ref item = DataOf<Ref>(nested)[0];
    Retain(item);
    ReleaseRef(nested);
    return item;
  }
  Temporaries hold;
  hold[0] = nested;
  hold[1] = NewArray(type, ShapeVector(nested));
  for (uint64_t i = 0; i < n; ++i) CopyConverted(hold[1], i, DataOf<Ref>(hold[0])[i], 0, 1);
  return hold.Take(1);
}

Ref ConvertedCopy(const Ref& source, ElementType type) {
  Temporaries hold;
  hold[0] = NewArray(type, ShapeVector(source));
  const uint64_t n = ElementCount(source);
  if (type != kRefElement) {
    CopyConverted(hold[0], 0, source, 0, n);
    return hold.Take(0);
  }
  if (IsNested(source)) {
    for (uint64_t i = 0; i < n; ++i) {
      Ref item = DataOf<Ref>(source)[i];
      Retain(item);
      DataOf<Ref>(hold[0])[i] = item;
    }
  } else {
    for (uint64_t i = 0; i < n; ++i) {
      Ref item = ElementAsScalar(source, i);
      DataOf<Ref>(hold[0])[i] = item;
    }
  }
  if (n == 0) SetEmptyPrototype(hold[0], source);
  return hold.Take(0);
}

CallResult IndexArray(const Ref& list, const Ref& array) {
  if (!IsNested(list) || ArrayRank(list) != 1) SIGNAL(kSyntaxError);
  if (!IsArray(array)) SIGNAL(kRankError);
  if (Ref fast = IndexVectorFast(list, array)) return {fast};
  SelectionPlan plan = PlanIndexing(list, array);
  return {GatherSelection(array, plan)};
}

Ref FirstItem(const Ref& array) {
  if (!IsArray(array)) {
    Retain(array);
    return array;
  }
  if (ElementCount(array) == 0) return Prototype(array);
  return ElementAsScalar(array, 0);
}

Ref MixItems(const Ref& array, const Ref& axis) {
  if (!IsNested(array)) {
    Retain(array);
    return array;
  }
  const uint64_t items = ElementCount(array);
  const uint32_t outerRank = ArrayRank(array);
  // An empty array mixes its prototype item: the result has no elements but that item's shape.
  const uint64_t scanned = items == 0 ? 1 : items;
  uint32_t itemRank = 0;
  for (uint64_t i = 0; i < scanned; ++i) itemRank = std::max(itemRank, ArrayRank(DataOf<Ref>(array)[i]));
  if (outerRank + itemRank > kMaxRank) SignalRankLimit();
  std::vector<uint32_t> itemShape(itemRank, items == 0 ? 1 : 0);
  ElementType type = kBool;
  for (uint64_t i = 0; i < scanned; ++i) {
    Ref item = DataOf<Ref>(array)[i];
    std::vector<uint32_t> own = ExtendedShape(item, itemRank);
    for (uint32_t k = 0; k < itemRank; ++k) itemShape[k] = items == 0 ? own[k] : std::max(itemShape[k], own[k]);
    ElementType t = IsArray(item) ? ContributedType(item) : kRefElement;
    type = i == 0 ? t : CombinedType(type, t);
  }
  std::vector<uint32_t> shape = ShapeVector(array);
  shape.insert(shape.end(), itemShape.begin(), itemShape.end());
  Temporaries hold;
  hold[0] = NewArray(type, shape);
  if (type != kRefElement) MixSimple(hold[0], array, itemShape, items);
  else if (items > 0) MixNested(hold, array, itemShape, items);
  if (type == kRefElement && ElementCount(hold[0]) == 0) {
    hold[1] = Prototype(array);
    SetEmptyPrototype(hold[0], hold[1]);
  }
  if (type == kRefElement) hold[0] = Simplified(hold.Take(0));
  if (!axis) return hold.Take(0);
  std::vector<uint32_t> perm = MixPermutation(axis, outerRank, itemRank);
  return Rearranged(hold[0], perm);
}

bool SelectsOneItem(FunctionHandler handler) {
  const bool firstByRightShoe = MigrationLevel() < 2;
  return handler == Pick || (handler == FirstOrDisclose && firstByRightShoe) ||
         (handler == MixOrFirst && !firstByRightShoe);
}

bool IsPick(FunctionHandler handler) { return handler == Pick; }

void InitialiseIndexing() { InstallPrimitives(kIndexRows); }

}  // namespace vantor
