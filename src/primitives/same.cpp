// Depth, match and tally (≡ ≢), and the prototype and fill rules that every structural function
// uses. Nested values are walked with explicit stacks, never native recursion: depth and match keep
// their stacks in C++ vectors (they allocate nothing in the heap), the zeroed copy keeps its frames in
// a buffer registered as temporaries, since it allocates while it walks.
#include "primitives/same.h"

#include "memory/decimal.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <vector>

#include "primitives/dispatch.h"
#include "memory/eltype.h"
#include "memory/memory1.h"
#include "primitives/arith_su.h"
#include "primitives/darith.h"
#include "sysfns/quadvar.h"

namespace vantor {

// ---- Element types ---------------------------------------------------------------------------------

ElementType CombinedType(ElementType a, ElementType b) {
  if (a == b) return a;
  if (IsCharacterType(a) && IsCharacterType(b)) {
    if (a == kCharAv || b == kCharAv) return std::max(a == kCharAv ? b : a, kChar16);
    return std::max(a, b);  // 8 < 16 < 32 bits in code order
  }
  if (!IsNumberType(a) || !IsNumberType(b)) return kRefElement;
  if (kPromotionRank[a] != kPromotionRank[b]) return HigherPromotion(a, b);
  return CurrentFloatRepresentation() == 1287 ? kDecimal128 : kFloat64;
}

ElementType ContributedType(Ref array) {
  if (array == RootWordAt(kRootScalarZero) || array == RootWordAt(kRootScalarOne)) return kBool;
  return ElementOf(TypeWord(array));
}

RawElement SimpleFill(ElementType type) {
  RawElement fill{};
  if (type == kDecimal128) {
    BID_UINT128 zero = bid128_from_int32(0);
    std::memcpy(fill.bytes, &zero, sizeof zero);
  } else if (type == kCharAv) {
    int position = AvPosition(U' ');
    fill.bytes[0] = static_cast<uint8_t>(position < 0 ? 0 : position);
  } else if (IsCharacterType(type)) {
    fill.bytes[0] = ' ';  // little-endian: the blank at every character width
  }
  return fill;
}

// ---- Zeroed copies and prototypes ----------------------------------------------------------------

static bool IsNested(Ref r) { return IsRef(r) && KindOf(TypeWord(r)) == kKindNested; }

// The items a walk visits in a nested array: its items, or the prototype slot (data word 0) of an
// empty one.
static uint64_t VisitedItems(Ref nested) { return std::max<uint64_t>(ElementCount(nested), 1); }

// A simple value (or a non-array) with its numbers made 0 and its characters blanks; counted.
static Ref ZeroedSimple(Ref value) {
  if (!IsArray(value)) return MakeIntScalar(0);
  uint32_t type = TypeWord(value);
  ElementType element = ElementOf(type);
  uint32_t rank = RankOf(type);
  if (!IsCharacterType(element) && rank == 0) return MakeIntScalar(0);
  uint64_t count = ElementCount(value);
  ElementType resultType = IsCharacterType(element) ? element : kBool;
  Temporaries hold;
  hold[0] = value;
  Retain(value);
  Ref result = AllocArray(resultType, rank, count);
  std::copy_n(ShapeOf(hold[0]), rank, ShapeOf(result));
  uint8_t* data = DataOf<uint8_t>(result);
  if (resultType == kBool) {
    std::memset(data, 0, (count + 7) / 8);
  } else {
    RawElement blank = SimpleFill(resultType);
    uint32_t width = kElementInfo[resultType].bytes;
    for (uint64_t i = 0; i < count; ++i) std::memcpy(data + i * width, blank.bytes, width);
  }
  return result;
}

// A new nested array of the shape of `like`, with zeroed items; counted.
static Ref NestedOfShape(Ref like) {
  uint32_t rank = RankOf(TypeWord(like));
  Temporaries hold;
  hold[0] = like;
  Retain(like);
  Ref result = AllocArray(kRefElement, rank, ElementCount(like));
  std::copy_n(ShapeOf(hold[0]), rank, ShapeOf(result));
  return result;
}

namespace {
// The frames of the zeroed copy: pairs (source, target) of counted references in a buffer that is
// registered as temporaries, so compaction rewrites them, and the next item of each.
class CopyStack {
 public:
  explicit CopyStack(Temporaries& hold) : hold_(hold) {}
  ~CopyStack() {
    while (!next_.empty()) Pop();
  }
  bool Empty() const { return next_.empty(); }
  void Push(Ref source, Ref target) {
    Retain(source);
    Retain(target);
    refs_.push_back(source);
    refs_.push_back(target);
    next_.push_back(0);
    hold_.SetBuffer(refs_.data(), static_cast<uint32_t>(refs_.size()));
  }
  void Pop() {
    Release(refs_[refs_.size() - 1]);
    Release(refs_[refs_.size() - 2]);
    refs_.resize(refs_.size() - 2);
    next_.pop_back();
    hold_.SetBuffer(refs_.data(), static_cast<uint32_t>(refs_.size()));
  }
  Ref Source() const { return refs_[refs_.size() - 2]; }
  Ref Target() const { return refs_[refs_.size() - 1]; }
  uint64_t& Next() { return next_.back(); }

 private:
  Temporaries& hold_;
  std::vector<Ref> refs_;
  std::vector<uint64_t> next_;
};
}  // namespace

Ref ZeroedCopy(Ref array) {
  if (!IsNested(array)) return ZeroedSimple(array);
  Temporaries hold;
  hold[1] = Retained(array);  // making the copy's pockets may move it
  hold[0] = NestedOfShape(hold[1]);
  CopyStack stack(hold);
  stack.Push(hold[1], hold[0]);
  while (!stack.Empty()) {
    uint64_t i = stack.Next();
    if (i == VisitedItems(stack.Source())) {
      stack.Pop();
      continue;
    }
    ++stack.Next();
    Ref item = DataOf<Ref>(stack.Source())[i];
    if (IsNested(item)) {
      Ref sub = NestedOfShape(item);
      DataOf<Ref>(stack.Target())[i] = sub;
      stack.Push(DataOf<Ref>(stack.Source())[i], sub);
    } else {
      Ref zeroed = ZeroedSimple(item);
      DataOf<Ref>(stack.Target())[i] = zeroed;
    }
  }
  return hold.Take(0);
}

// A scalar blank of a character type; counted.
static Ref BlankScalar(ElementType type) {
  Ref r = AllocScalar(type);
  std::memcpy(DataOf<uint8_t>(r), SimpleFill(type).bytes, kElementInfo[type].bytes);
  return r;
}

Ref Prototype(Ref array) {
  if (IsNested(array)) return ZeroedCopy(DataOf<Ref>(array)[0]);  // first item, or the prototype slot
  if (IsArray(array) && IsCharacterType(ElementOf(TypeWord(array)))) return BlankScalar(ElementOf(TypeWord(array)));
  return MakeIntScalar(0);
}

// ---- Depth -----------------------------------------------------------------------------------------

namespace {
struct DepthFrame {
  Ref array;
  uint64_t next = 0;
  int32_t greatest = 0;
  int32_t first = -1;  // magnitude of the first item's depth
  bool uneven = false;

  void Record(int32_t depth) {
    int32_t magnitude = std::abs(depth);
    if (depth < 0 || (first >= 0 && magnitude != first)) uneven = true;
    if (first < 0) first = magnitude;
    greatest = std::max(greatest, magnitude);
  }
  int32_t Result() const { return uneven ? -(greatest + 1) : greatest + 1; }
};
}  // namespace

static int32_t SimpleDepth(Ref r) { return IsArray(r) && RankOf(TypeWord(r)) > 0 ? 1 : 0; }

int32_t Depth(Ref array) {
  if (!IsNested(array)) return SimpleDepth(array);
  std::vector<DepthFrame> stack{{array}};
  for (;;) {
    DepthFrame& frame = stack.back();
    if (frame.next < VisitedItems(frame.array)) {
      Ref item = DataOf<Ref>(frame.array)[frame.next++];
      if (IsNested(item)) stack.push_back({item});
      else frame.Record(SimpleDepth(item));
      continue;
    }
    int32_t depth = frame.Result();
    stack.pop_back();
    if (stack.empty()) return depth;
    stack.back().Record(depth);
  }
}

// ---- Match -----------------------------------------------------------------------------------------

namespace {

template <typename V>
constexpr bool kIsDecimal = std::is_same_v<V, BID_UINT128>;
template <typename V>
constexpr bool kIsComplex = std::is_same_v<V, std::complex<double>>;
template <typename V>
constexpr bool kIsReal = std::is_same_v<V, double>;

template <typename V>
BID_UINT128 AsDecimal(V v) {
  _IDEC_flags flags = 0;
  if constexpr (kIsDecimal<V>) return v;
  else if constexpr (kIsReal<V>) return binary64_to_bid128(v, BID_ROUNDING_TO_NEAREST, &flags);
  else return bid128_from_int64(v);
}
template <typename V>
std::complex<double> AsComplex(V v) {
  if constexpr (kIsDecimal<V>) {
    _IDEC_flags flags = 0;
    return bid128_to_binary64(v, BID_ROUNDING_TO_NEAREST, &flags);
  } else {
    return static_cast<std::complex<double>>(v);
  }
}

struct Tolerances {
  double ct;
  BID_UINT128 dct;
};

// Elements ia.. of one simple array against ib.. of another, n of them.
template <typename RA, typename RB>
bool RangesMatch(RA ra, uint64_t ia, RB rb, uint64_t ib, uint64_t n, const Tolerances& tol) {
  if constexpr (RA::kCharacter != RB::kCharacter) {
    return false;
  } else {
    using VA = decltype(ra(0));
    using VB = decltype(rb(0));
    for (uint64_t i = 0; i < n; ++i) {
      VA a = ra(ia + i);
      VB b = rb(ib + i);
      bool equal;
      if constexpr (RA::kCharacter) equal = a == b;
      else if constexpr (kIsComplex<VA> || kIsComplex<VB>) equal = ComplexTolerantEqual(AsComplex(a), AsComplex(b), tol.ct);
      else if constexpr (kIsDecimal<VA> || kIsDecimal<VB>) equal = DecimalEqual(AsDecimal(a), AsDecimal(b), tol.dct);
      else if constexpr (kIsReal<VA> || kIsReal<VB>) equal = TolerantEqual(static_cast<double>(a), static_cast<double>(b), tol.ct);
      else equal = a == b;
      if (!equal) return false;
    }
    return true;
  }
}

// Types whose equal elements have equal bytes, so that whole arrays of them compare with memcmp.
bool ComparesByBytes(ElementType t) {
  return t != kFloat64 && t != kComplex && t != kDecimal128 && t != kBool && t != kCharAv;
}

bool SimpleRangesMatch(Ref a, uint64_t ia, Ref b, uint64_t ib, uint64_t n, const Tolerances& tol) {
  ElementType ta = ElementOf(TypeWord(a));
  if (ta == ElementOf(TypeWord(b)) && ComparesByBytes(ta)) {
    uint32_t width = kElementInfo[ta].bytes;
    return std::memcmp(DataOf<uint8_t>(a) + ia * width, DataOf<uint8_t>(b) + ib * width, n * width) == 0;
  }
  return WithReader(a, [&](auto ra) {
    return WithReader(b, [&](auto rb) { return RangesMatch(ra, ia, rb, ib, n, tol); });
  });
}

bool SameShape(Ref a, Ref b) {
  uint32_t rank = RankOf(TypeWord(a));
  return rank == RankOf(TypeWord(b)) && std::equal(ShapeOf(a), ShapeOf(a) + rank, ShapeOf(b));
}

bool IsCharacterArray(Ref r) { return IsCharacterType(ElementOf(TypeWord(r))); }

// An item of a nested array against element i of a simple array: the item must be a simple scalar
// equal to the element.
bool ItemMatchesElement(Ref item, Ref simple, uint64_t i, const Tolerances& tol) {
  if (!IsArray(item) || IsNested(item) || RankOf(TypeWord(item)) != 0) return false;
  return SimpleRangesMatch(item, 0, simple, i, 1, tol);
}

// Two arrays still to compare. Below the prototypes of empty arrays only the structure and the
// kind of each element (number or character) count.
struct Pending {
  Ref a, b;
  bool kindsOnly;
};

bool IsSimpleScalarOfKind(Ref item, bool character) {
  return IsArray(item) && !IsNested(item) && RankOf(TypeWord(item)) == 0 && IsCharacterArray(item) == character;
}

// Compares everything but the items of two nested arrays, and pushes the pairs of items still to
// compare.
bool ShallowMatch(const Pending& p, std::vector<Pending>& pending, const Tolerances& tol) {
  Ref a = p.a, b = p.b;
  if (a == b) return true;
  if (!IsArray(a) || !IsArray(b)) return false;
  if (!SameShape(a, b)) return false;
  uint64_t count = ElementCount(a);
  bool nestedA = IsNested(a);
  bool nestedB = IsNested(b);
  if (!nestedA && !nestedB) {
    if (count == 0 || p.kindsOnly) return IsCharacterArray(a) == IsCharacterArray(b);
    return SimpleRangesMatch(a, 0, b, 0, count, tol);
  }
  if (nestedA && nestedB) {
    bool kindsOnly = p.kindsOnly || count == 0;
    for (uint64_t i = 0; i < VisitedItems(a); ++i) pending.push_back({DataOf<Ref>(a)[i], DataOf<Ref>(b)[i], kindsOnly});
    return true;
  }
  Ref nested = nestedA ? a : b;
  Ref simple = nestedA ? b : a;
  bool character = IsCharacterArray(simple);
  if (count == 0) return IsSimpleScalarOfKind(DataOf<Ref>(nested)[0], character);
  for (uint64_t i = 0; i < count; ++i) {
    Ref item = DataOf<Ref>(nested)[i];
    if (p.kindsOnly ? !IsSimpleScalarOfKind(item, character) : !ItemMatchesElement(item, simple, i, tol)) return false;
  }
  return true;
}

}  // namespace

bool Match(Ref a, Ref b) {
  Tolerances tol{ComparisonTolerance(), FetchDecimalTolerance()};
  std::vector<Pending> pending{{a, b, false}};
  while (!pending.empty()) {
    Pending p = pending.back();
    pending.pop_back();
    if (!ShallowMatch(p, pending, tol)) return false;
  }
  return true;
}

// ---- The primitives --------------------------------------------------------------------------------

static Ref Tally(Ref array) {
  if (!IsArray(array) || RankOf(TypeWord(array)) == 0) return MakeIntScalar(1);
  uint32_t length = ShapeOf(array)[0];
  if (length <= 0x7FFFFFFFu) return MakeIntScalar(static_cast<int32_t>(length));
  Ref r = AllocScalar(kFloat64);
  *DataOf<double>(r) = length;
  return r;
}

static CallResult DepthOf(const Ref&, const Ref& right) { return {MakeIntScalar(Depth(right))}; }
static CallResult MatchOf(const Ref& left, const Ref& right) { return {MakeIntScalar(Match(left, right))}; }
static CallResult TallyOf(const Ref&, const Ref& right) { return {Tally(right)}; }
static CallResult NotMatchOf(const Ref& left, const Ref& right) { return {MakeIntScalar(!Match(left, right))}; }

static constexpr PrimitiveRow kSameRows[] = {
    {30, DepthOf, MatchOf, 0},
    {31, TallyOf, NotMatchOf, 0},
};

void InitialiseSame() { InstallPrimitives(kSameRows); }

}  // namespace vantor
