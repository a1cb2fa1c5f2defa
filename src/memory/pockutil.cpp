// Pockets: array sizes and allocation, the kind table (survival thresholds, child walkers and destroy
// hooks), release through the non-recursive destruction queue, the small-integer scalars, and
// narrowing: squeezing a simple array in place to the smallest element type that holds its values.
#include "memory/pockutil.h"

#include "memory/decimal.h"

#include <algorithm>
#include <cmath>

#include "base/errors.h"
#include "memory/memory1.h"
#include "memory/memory3.h"

namespace vantor {

static constexpr char kUnit[] = "pockutil";

void SignalArrayTooLarge() { SIGNAL(kLimitError); }

Ref AllocArray(ElementType type, uint32_t rank, uint64_t count) {
  uint32_t words = ArrayWords(type, rank, count);
  uint32_t dataWord = static_cast<uint32_t>(DataWordOffset(rank));
  Ref r = GetSpaceAligned(words, dataWord, kElementInfo[type].alignWords);
  uint32_t* w = Words(r);
  w[1] = 1;
  w[2] = ArrayTypeWord(type, rank);
  if (rank > 0) w[kHeaderWords] = static_cast<uint32_t>(count);
  if (type == kRefElement) std::memset(w + dataWord, 0, 4ull * (words - dataWord));
  return r;
}

Ref AllocMatrix(ElementType type, uint32_t rows, uint32_t columns) {
  Ref r = AllocArray(type, 2, static_cast<uint64_t>(rows) * columns);
  ShapeOf(r)[0] = rows;
  ShapeOf(r)[1] = columns;
  return r;
}

Ref AllocVector(ElementType type, uint32_t length) { return AllocArray(type, 1, length); }
Ref AllocScalar(ElementType type) { return AllocArray(type, 0, 1); }
Ref AllocRecordVector(uint32_t length) {
  Ref r = AllocVector(kInt32, length);
  TypeWord(r) |= kNoNarrowFlag;
  return r;
}

// ---- The kind table ------------------------------------------------------------------------------

static void NoChildren(Ref, FieldRuns&) {}
static void RefListChildren(Ref r, FieldRuns& out) { out.Add(3, (TypeWord(r) >> 4) & 0xFFF); }
static void Record4Children(Ref, FieldRuns& out) { out.Add(3, 4); }
static void DerivedChildren(Ref, FieldRuns& out) {
  out.Add(3, 1);
  out.Add(5, 1);
}
static void NestedChildren(Ref r, FieldRuns& out) {
  uint64_t count = ElementCount(r);
  out.Add(static_cast<uint32_t>(DataWordOffset(RankOf(TypeWord(r)))),
          count == 0 ? 1 : static_cast<uint32_t>(count));  // an empty array keeps its prototype
}
// Interned names stay alive: the name-table code removes them.
static int KeepAlive(Ref) { return 1; }

// Kinds whose pockets are told apart by a sub-type in bits 4-15 of the type word (objects and small
// records) keep a walker and a hook per sub-type.
struct SubType {
  ChildFieldsFn children = nullptr;
  DestroyHookFn hook = nullptr;
};
using SubTypeTable = SubType[4096];
static SubTypeTable g_objectClasses;
static SubTypeTable g_smallRecordTypes;
static uint32_t SubTypeIndex(Ref r) { return (TypeWord(r) >> 4) & 0xFFF; }

static void SubTypeChildren(const SubTypeTable& table, Ref r, FieldRuns& out) {
  ChildFieldsFn walker = table[SubTypeIndex(r)].children;
  if (!walker) SystemError(123);  // a sub-type whose layout nobody registered
  walker(r, out);
}
// Nobody holds the pocket any more when its count has reached 0; its sub-type may keep it longer.
static int SubTypeHook(const SubTypeTable& table, Ref r) {
  DestroyHookFn hook = table[SubTypeIndex(r)].hook;
  if (hook) return hook(r);
  return RefCount(r) != 0;
}

static void ObjectChildren(Ref r, FieldRuns& out) { SubTypeChildren(g_objectClasses, r, out); }
static int ObjectHook(Ref r) { return SubTypeHook(g_objectClasses, r); }
static void SmallRecordChildren(Ref r, FieldRuns& out) { SubTypeChildren(g_smallRecordTypes, r, out); }
static int SmallRecordHook(Ref r) { return SubTypeHook(g_smallRecordTypes, r); }

std::array<bool, 4096> g_hookedObjectClass{};

void RegisterObjectClass(uint32_t low16, ChildFieldsFn children, DestroyHookFn hook) {
  g_objectClasses[(low16 >> 4) & 0xFFF] = {children, hook};
  g_hookedObjectClass[(low16 >> 4) & 0xFFF] = hook != nullptr;
}

void RegisterSmallRecordType(uint32_t subType, ChildFieldsFn children, DestroyHookFn hook) {
  g_smallRecordTypes[subType & 0xFFF] = {children, hook};
}

static KindTraits g_kinds[16] = {
    {0, nullptr, nullptr},                  // 0 root set: never released
    {2, nullptr, KeepAlive},                // 1 interned name
    {0, RefListChildren, nullptr},          // 2 reference list
    {0, nullptr, nullptr},                  // 3 defined function
    {0, Record4Children, nullptr},          // 4 four-reference record
    {0xFFFFFFFFu, ObjectChildren, ObjectHook},  // 5 object: its hook sees every release
    {0, nullptr, nullptr},                  // 6 external function
    {0, NestedChildren, nullptr},           // 7 nested array
    {1, nullptr, nullptr},                  // 8 system object
    {0, DerivedChildren, nullptr},          // 9 derived function
    {1, SmallRecordChildren, SmallRecordHook},  // 10 small records: per sub-type
    {0, NoChildren, nullptr},               // 11 plain data
    {0, nullptr, nullptr},                  // 12 table of 16-byte entries
    {0, nullptr, nullptr},                  // 13 hashed table
    {0, NoChildren, nullptr},               // 14 plain data
    {0, NoChildren, nullptr},               // 15 simple array
};

const KindTraits& TraitsOf(uint32_t kind) { return g_kinds[kind & kKindMask]; }

void RegisterKind(uint32_t kind, ChildFieldsFn children, DestroyHookFn hook) {
  if (hook && (kPlainRelease >> (kind & kKindMask) & 1)) SystemError(11);  // Release skips hooks of these kinds
  g_kinds[kind & kKindMask].children = children;
  g_kinds[kind & kKindMask].hook = hook;
}

bool HasLayout(Ref pocket) {
  uint32_t kind = KindOf(TypeWord(pocket));
  if (!g_kinds[kind].children) return false;
  if (kind == kKindObject) return g_objectClasses[SubTypeIndex(pocket)].children != nullptr;
  if (kind == kKindSmallRecord) return g_smallRecordTypes[SubTypeIndex(pocket)].children != nullptr;
  return true;
}

void ChildFields(Ref pocket, FieldRuns& out) {
  ChildFieldsFn walker = g_kinds[KindOf(TypeWord(pocket))].children;
  if (!walker) SystemError(123);  // a pocket of a kind whose layout nobody registered
  walker(pocket, out);
}

// ---- Release -------------------------------------------------------------------------------------

static Ref g_destroyQueue = 0;  // linked through the count words
static bool g_draining = false;

// Drops one reference; a pocket whose count falls to its threshold is freed (simple arrays) or
// queued for destruction, unless its kind's hook keeps it.
static void DestroyStep(Ref r) {
  uint32_t kind = KindOf(TypeWord(r));
  const KindTraits& traits = g_kinds[kind];
  uint32_t count = RefCount(r);
  uint32_t c = count == 0 ? 0 : count - 1;
  // Objects and small records of a sub-type without a hook need to be seen only when their last
  // reference goes.
  const SubTypeTable* table = kind == kKindObject ? &g_objectClasses : kind == kKindSmallRecord ? &g_smallRecordTypes : nullptr;
  const uint32_t threshold = table && !(*table)[SubTypeIndex(r)].hook ? 0 : traits.threshold;
  if (c > threshold) {
    RefCount(r) = c;
    return;
  }
  RefCount(r) = c;
  if (traits.hook && traits.hook(r)) return;
  if (kind == kKindSimple) {
    FreeBlock(r);
    return;
  }
  RefCount(r) = g_destroyQueue;
  g_destroyQueue = r;
}

static void DrainDestroyQueue() {
  if (g_draining) return;
  g_draining = true;
  while (g_destroyQueue) {
    Ref r = g_destroyQueue;
    g_destroyQueue = RefCount(r);
    RefCount(r) = 0;
    FieldRuns runs;
    ChildFields(r, runs);
    ForEachChildField(Words(r), runs, [](uint32_t* field) {
      if (IsRef(*field)) DestroyStep(*field);
    });
    FreeBlock(r);
  }
  g_draining = false;
}

void ReleaseOther(Ref r) {
  DestroyStep(r);
  DrainDestroyQueue();
}

// ---- Element access ------------------------------------------------------------------------------

namespace {

// An element read into the widest form of its class.
struct ElementValue {
  enum Class { Integer, Real, Complex, Decimal, Character } cls;
  int64_t integer = 0;
  double real = 0, imaginary = 0;
  BID_UINT128 decimal{};
  char32_t character = 0;
};

ElementValue ReadElement(Ref array, uint64_t i) {
  const uint8_t* d = DataOf<uint8_t>(array);
  ElementValue v{ElementValue::Integer};
  switch (ElementOf(TypeWord(array))) {
    case kBool: v.integer = GetBit(d, i); break;
    case kInt8: v.integer = reinterpret_cast<const int8_t*>(d)[i]; break;
    case kInt16: v.integer = reinterpret_cast<const int16_t*>(d)[i]; break;
    case kInt32: v.integer = reinterpret_cast<const int32_t*>(d)[i]; break;
    case kInt64: v.integer = reinterpret_cast<const int64_t*>(d)[i]; break;
    case kFloat64: v = {ElementValue::Real}; v.real = reinterpret_cast<const double*>(d)[i]; break;
    case kComplex:
      v = {ElementValue::Complex};
      v.real = reinterpret_cast<const double*>(d)[2 * i];
      v.imaginary = reinterpret_cast<const double*>(d)[2 * i + 1];
      break;
    case kDecimal128: v = {ElementValue::Decimal}; std::memcpy(&v.decimal, d + 16 * i, 16); break;
    case kCharAv: case kChar8: v = {ElementValue::Character}; v.character = d[i]; break;
    case kChar16: v = {ElementValue::Character}; v.character = reinterpret_cast<const uint16_t*>(d)[i]; break;
    case kChar32: v = {ElementValue::Character}; v.character = reinterpret_cast<const uint32_t*>(d)[i]; break;
    default: SystemError(139);
  }
  return v;
}

double AsReal(const ElementValue& v) { return v.cls == ElementValue::Integer ? static_cast<double>(v.integer) : v.real; }

BID_UINT128 AsDecimal(const ElementValue& v) {
  _IDEC_flags flags = 0;
  if (v.cls == ElementValue::Decimal) return v.decimal;
  if (v.cls == ElementValue::Integer) return bid128_from_int64(v.integer);
  return binary64_to_bid128(v.real, BID_ROUNDING_TO_NEAREST, &flags);
}

}  // namespace

void CopyElement(Ref target, uint64_t to, Ref source, uint64_t from) {
  ElementValue v = ReadElement(source, from);
  uint8_t* d = DataOf<uint8_t>(target);
  switch (ElementOf(TypeWord(target))) {
    case kBool: SetBit(d, to, v.integer != 0); break;
    case kInt8: reinterpret_cast<int8_t*>(d)[to] = static_cast<int8_t>(v.integer); break;
    case kInt16: reinterpret_cast<int16_t*>(d)[to] = static_cast<int16_t>(v.integer); break;
    case kInt32: reinterpret_cast<int32_t*>(d)[to] = static_cast<int32_t>(v.integer); break;
    case kInt64: reinterpret_cast<int64_t*>(d)[to] = v.integer; break;
    case kFloat64: reinterpret_cast<double*>(d)[to] = AsReal(v); break;
    case kComplex:
      reinterpret_cast<double*>(d)[2 * to] = AsReal(v);
      reinterpret_cast<double*>(d)[2 * to + 1] = v.cls == ElementValue::Complex ? v.imaginary : 0;
      break;
    case kDecimal128: {
      BID_UINT128 decimal = AsDecimal(v);
      std::memcpy(d + 16 * to, &decimal, 16);
      break;
    }
    case kCharAv: case kChar8: d[to] = static_cast<uint8_t>(v.character); break;
    case kChar16: reinterpret_cast<uint16_t*>(d)[to] = static_cast<uint16_t>(v.character); break;
    case kChar32: reinterpret_cast<uint32_t*>(d)[to] = static_cast<uint32_t>(v.character); break;
    default: SystemError(139);
  }
}

Ref ElementAsScalar(Ref array, uint64_t index) {
  if (KindOf(TypeWord(array)) == kKindNested) {
    Ref item = DataOf<Ref>(array)[index];
    Retain(item);
    return item;
  }
  Temporaries hold;
  hold[0] = array;
  Retain(array);
  Ref scalar = AllocScalar(ElementOf(TypeWord(array)));
  CopyElement(scalar, 0, hold[0], index);
  return scalar;
}

// ---- Integer scalars -----------------------------------------------------------------------------

static int32_t g_smallIntFirst = 0;
static int32_t g_smallIntLast = -1;

void RefreshSmallIntCacheRange() {
  Ref cache = RootWordAt(kRootSmallIntCache);
  g_smallIntFirst = 0;
  g_smallIntLast = -1;
  if (!IsRef(cache) || ElementCount(cache) == 0) return;
  const Ref* items = DataOf<Ref>(cache);
  g_smallIntFirst = *DataOf<int8_t>(items[0]);
  g_smallIntLast = *DataOf<int8_t>(items[ElementCount(cache) - 1]);
}

Ref MakeIntScalar(int32_t n) {
  Ref r;
  if (n == 0 || n == 1) {
    r = RootWordAt(n == 0 ? kRootScalarZero : kRootScalarOne);
  } else if (n >= g_smallIntFirst && n <= g_smallIntLast) {
    r = DataOf<Ref>(RootWordAt(kRootSmallIntCache))[n - g_smallIntFirst];
  } else {
    bool fits8 = n >= -128 && n <= 127;
    bool fits16 = n >= -32768 && n <= 32767;
    r = AllocScalar(fits8 ? kInt8 : fits16 ? kInt16 : kInt32);
    if (fits8) *DataOf<int8_t>(r) = static_cast<int8_t>(n);
    else if (fits16) *DataOf<int16_t>(r) = static_cast<int16_t>(n);
    else *DataOf<int32_t>(r) = n;
    TypeWord(r) |= kNarrowedFlag;
    return r;
  }
  Retain(r);
  return r;
}

// ---- Narrowing -----------------------------------------------------------------------------------

template <typename T>
static T Load(const uint8_t* data, uint64_t i) {
  T value;
  std::memcpy(&value, data + i * sizeof(T), sizeof(T));
  return value;
}
template <typename T>
static void Store(uint8_t* data, uint64_t i, T value) {
  std::memcpy(data + i * sizeof(T), &value, sizeof(T));
}

// The smallest integer type (or Boolean) holding every value in [lo, hi]; kInt64 when none does.
static ElementType IntegerTypeFor(int64_t lo, int64_t hi) {
  if (lo >= 0 && hi <= 1) return kBool;
  if (lo >= -128 && hi <= 127) return kInt8;
  if (lo >= -32768 && hi <= 32767) return kInt16;
  if (lo >= INT32_MIN && hi <= INT32_MAX) return kInt32;
  return kInt64;
}

// Integers: the range decides. Blocks are scanned with a plain min/max loop the compiler vectorises,
// and the scan stops as soon as the range already needs the array's own type.
template <typename T>
static ElementType ScanIntegers(const uint8_t* data, uint64_t n, ElementType self) {
  constexpr uint64_t kBlock = 4096;
  T lo = 0, hi = 0;
  if (n > 0) lo = hi = Load<T>(data, 0);
  const T* elements = reinterpret_cast<const T*>(data);
  for (uint64_t start = 0; start < n; start += kBlock) {
    uint64_t stop = std::min(n, start + kBlock);
    T blockLo = lo, blockHi = hi;
    for (uint64_t i = start; i < stop; ++i) {
      blockLo = std::min(blockLo, elements[i]);
      blockHi = std::max(blockHi, elements[i]);
    }
    lo = blockLo;
    hi = blockHi;
    if (IntegerTypeFor(lo, hi) >= self) return self;
  }
  return IntegerTypeFor(lo, hi);
}

// The integer value of a real number when it has one within 32 bits.
static bool RealAsInt32(double x, int64_t& value) {
  if (!(x >= -2147483648.0 && x <= 2147483647.0)) return false;
  value = static_cast<int64_t>(x);
  return static_cast<double>(value) == x;
}

// Reals (and the real parts of complex numbers, `stride` doubles apart): integers narrow to the
// integer types; anything else keeps `self`.
static ElementType ScanReals(const uint8_t* data, uint64_t n, uint32_t stride, ElementType self) {
  int64_t lo = 0, hi = 0;
  for (uint64_t i = 0; i < n; ++i) {
    int64_t v;
    if (!RealAsInt32(Load<double>(data, i * stride), v)) return self;
    if (i == 0) lo = hi = v;
    lo = std::min(lo, v);
    hi = std::max(hi, v);
  }
  return IntegerTypeFor(lo, hi);
}

static ElementType ScanComplex(const uint8_t* data, uint64_t n) {
  for (uint64_t i = 0; i < n; ++i)
    if (Load<double>(data, 2 * i + 1) != 0.0) return kComplex;
  return ScanReals(data, n, 2, kFloat64);
}

__extension__ typedef unsigned __int128 Uint128;

// The value of a decimal128 number (binary integer significand encoding) when it is an integer within
// 32 bits.
static bool DecimalAsInt32(const uint8_t* data, uint64_t i, int64_t& value) {
  uint64_t lo = Load<uint64_t>(data, 2 * i), hi = Load<uint64_t>(data, 2 * i + 1);
  bool negative = hi >> 63;
  if (((hi >> 61) & 3) == 3) {
    if (((hi >> 58) & 0x1F) >= 0x1E) return false;  // infinity or NaN
    value = 0;  // significand of 2^113 or more is non-canonical and reads as zero
    return true;
  }
  int exponent = static_cast<int>((hi >> 49) & 0x3FFF) - 6176;
  Uint128 significand = (static_cast<Uint128>(hi & 0x1FFFFFFFFFFFFull) << 64) | lo;
  static const Uint128 kLimit = [] {
    Uint128 ten34 = 1;
    for (int k = 0; k < 34; ++k) ten34 *= 10;
    return ten34;
  }();
  if (significand >= kLimit) significand = 0;
  if (significand == 0) {
    value = 0;
    return true;
  }
  for (; exponent > 0; --exponent) {
    significand *= 10;
    if (significand > 0x80000000u) return false;
  }
  for (; exponent < 0; ++exponent) {
    if (significand % 10 != 0) return false;
    significand /= 10;
  }
  if (significand > (negative ? 0x80000000u : 0x7FFFFFFFu)) return false;
  value = negative ? -static_cast<int64_t>(significand) : static_cast<int64_t>(significand);
  return true;
}

static ElementType ScanDecimals(const uint8_t* data, uint64_t n) {
  int64_t lo = 0, hi = 0;
  for (uint64_t i = 0; i < n; ++i) {
    int64_t v;
    if (!DecimalAsInt32(data, i, v)) return kDecimal128;
    if (i == 0) lo = hi = v;
    lo = std::min(lo, v);
    hi = std::max(hi, v);
  }
  return IntegerTypeFor(lo, hi);
}

template <typename T>
static ElementType ScanCharacters(const uint8_t* data, uint64_t n) {
  T top = 0;
  const T* elements = reinterpret_cast<const T*>(data);
  for (uint64_t i = 0; i < n; ++i) top = std::max(top, elements[i]);
  return top < 256 ? kChar8 : top < 65536 ? kChar16 : kChar32;
}

static ElementType SmallestType(ElementType type, const uint8_t* data, uint64_t n) {
  switch (type) {
    case kInt8: return ScanIntegers<int8_t>(data, n, type);
    case kInt16: return ScanIntegers<int16_t>(data, n, type);
    case kInt32: return ScanIntegers<int32_t>(data, n, type);
    case kFloat64: return ScanReals(data, n, 1, type);
    case kComplex: return ScanComplex(data, n);
    case kDecimal128: return ScanDecimals(data, n);
    case kChar16: return ScanCharacters<uint16_t>(data, n);
    case kChar32: return ScanCharacters<uint32_t>(data, n);
    default: return type;  // Boolean, 8-bit characters, references, internal and 64-bit integers
  }
}

// Rewrites n values in place as `target`, reading each with `read(i)`. The target is never wider
// than the source, so no value is overwritten before it has been read.
template <typename Read>
static void WriteIntegers(uint8_t* data, uint64_t n, ElementType target, Read read) {
  switch (target) {
    case kBool:
      for (uint64_t byte = 0; byte * 8 < n; ++byte) {
        uint8_t bits = 0;
        for (uint64_t k = 0; k < 8 && byte * 8 + k < n; ++k) bits |= static_cast<uint8_t>(read(byte * 8 + k) << (7 - k));
        data[byte] = bits;
      }
      break;
    case kInt8: for (uint64_t i = 0; i < n; ++i) Store<int8_t>(data, i, static_cast<int8_t>(read(i))); break;
    case kInt16: for (uint64_t i = 0; i < n; ++i) Store<int16_t>(data, i, static_cast<int16_t>(read(i))); break;
    case kInt32: for (uint64_t i = 0; i < n; ++i) Store<int32_t>(data, i, static_cast<int32_t>(read(i))); break;
    case kChar8: for (uint64_t i = 0; i < n; ++i) Store<uint8_t>(data, i, static_cast<uint8_t>(read(i))); break;
    case kChar16: for (uint64_t i = 0; i < n; ++i) Store<uint16_t>(data, i, static_cast<uint16_t>(read(i))); break;
    default: SystemError(139);
  }
}

static void ConvertInPlace(ElementType from, ElementType to, uint8_t* data, uint64_t n) {
  switch (from) {
    case kInt8: return WriteIntegers(data, n, to, [&](uint64_t i) { return int64_t{Load<int8_t>(data, i)}; });
    case kInt16: return WriteIntegers(data, n, to, [&](uint64_t i) { return int64_t{Load<int16_t>(data, i)}; });
    case kInt32: return WriteIntegers(data, n, to, [&](uint64_t i) { return int64_t{Load<int32_t>(data, i)}; });
    case kChar16: return WriteIntegers(data, n, to, [&](uint64_t i) { return int64_t{Load<uint16_t>(data, i)}; });
    case kChar32: return WriteIntegers(data, n, to, [&](uint64_t i) { return int64_t{Load<uint32_t>(data, i)}; });
    case kFloat64:
      return WriteIntegers(data, n, to, [&](uint64_t i) { return static_cast<int64_t>(Load<double>(data, i)); });
    case kDecimal128:
      return WriteIntegers(data, n, to, [&](uint64_t i) {
        int64_t v = 0;
        DecimalAsInt32(data, i, v);
        return v;
      });
    case kComplex:
      if (to == kFloat64) {
        for (uint64_t i = 0; i < n; ++i) Store<double>(data, i, Load<double>(data, 2 * i));
        return;
      }
      return WriteIntegers(data, n, to, [&](uint64_t i) { return static_cast<int64_t>(Load<double>(data, 2 * i)); });
    default: SystemError(139);
  }
}

int Narrow(Ref array) {
  uint32_t type = TypeWord(array);
  if (KindOf(type) != kKindSimple || (type & (kNoNarrowFlag | kNarrowedFlag))) return 0;
  TypeWord(array) = type |= kNarrowedFlag;
  ElementType from = ElementOf(type);
  uint64_t n = ElementCount(array);
  uint8_t* data = DataOf<uint8_t>(array);
  ElementType to = SmallestType(from, data, n);
  // A scalar or a single item is never made Boolean; one that already is stays as it is.
  if (to == kBool && from != kBool && n <= 1) to = kInt8;
  if (to == from || to == kInt64) return 0;
  ConvertInPlace(from, to, data, n);
  TypeWord(array) = (type & ~kElementMask) | (static_cast<uint32_t>(to) << kElementShift);
  ShrinkBlock(array, ArrayWords(to, RankOf(type), n));
  return 1;
}

}  // namespace vantor
