// Pockets: the header and type word that every block in the workspace heap carries, the element
// types of arrays with their widths and ⎕DR codes, creating arrays, reference counting with a
// non-recursive destruction queue, the small-integer scalars, and narrowing (squeezing an array to
// its smallest element type). The heap itself (finding and freeing blocks) is memory1.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace vantor {

// A pocket reference: a byte offset from the base of the current heap space. Values below 512 are
// never references (0 = none; 1..511 are codes whose meaning belongs to the field).
using Ref = uint32_t;
inline constexpr Ref kFirstRef = 512;
inline constexpr bool IsRef(uint32_t value) { return value >= kFirstRef; }

extern uint8_t* g_heapBase;  // base of the current space's range (memory1)

enum PocketKind : uint32_t {
  kKindRoot = 0,
  kKindName = 1,
  kKindRefList = 2,
  kKindDefinedFunction = 3,
  kKindRecord4 = 4,
  kKindObject = 5,
  kKindExternal = 6,
  kKindNested = 7,
  kKindSystemObject = 8,
  kKindDerived = 9,
  kKindSmallRecord = 10,
  kKindPlain11 = 11,
  kKindTable16 = 12,
  kKindHashTable = 13,
  kKindPlain14 = 14,
  kKindSimple = 15,
};

enum ElementType : uint32_t {
  kCharAv = 0,
  kBool = 1,
  kInt8 = 2,
  kInt16 = 3,
  kInt32 = 4,
  kFloat64 = 5,
  kRefElement = 6,
  kChar8 = 7,
  kChar16 = 8,
  kChar32 = 9,
  kComplex = 10,
  kInternal8 = 11,
  kDecimal128 = 12,
  kInt64 = 13,
  kElementTypeCount = 14,
};

// Type word fields.
inline constexpr uint32_t kKindMask = 0xF;
inline constexpr uint32_t kRankShift = 4;
inline constexpr uint32_t kRankMask = 0xF0;
inline constexpr uint32_t kElementShift = 8;
inline constexpr uint32_t kElementMask = 0xF00;
inline constexpr uint32_t kNoNarrowFlag = 1u << 12;
inline constexpr uint32_t kNarrowedFlag = 1u << 13;
inline constexpr uint32_t kMarkFlag = 1u << 14;
inline constexpr uint32_t kMappedFlag = 1u << 16;
inline constexpr uint32_t kPaddingShift = 17;  // compaction's alignment padding (2 bits)
inline constexpr uint32_t kPaddingMask = 3u << kPaddingShift;
inline constexpr uint32_t kMaxRank = 15;
inline constexpr uint32_t kHeaderWords = 3;

// Element classes that other units test.
enum ElementClass : uint8_t {
  kClassCharacter = 1,
  kClassNumeric = 2,
  kClassHoldsRefs = 4,
  kClassNonIntegral = 8,
};

struct ElementInfo {
  uint8_t bytes;       // bytes per element (0 for packed Booleans)
  uint8_t log2Bits;    // log2 of the element width in bits
  uint8_t alignWords;  // required alignment of the data, in words
  uint16_t dr;         // ⎕DR code (0: none)
  uint8_t classes;     // ElementClass bits
};

inline constexpr ElementInfo kElementInfo[kElementTypeCount] = {
    {1, 3, 1, 82, kClassCharacter},                          // 0 ⎕AV character
    {0, 0, 1, 11, kClassNumeric},                            // 1 Boolean
    {1, 3, 1, 83, kClassNumeric},                            // 2 int8
    {2, 4, 1, 163, kClassNumeric},                           // 3 int16
    {4, 5, 1, 323, kClassNumeric},                           // 4 int32
    {8, 6, 2, 645, kClassNumeric | kClassNonIntegral},       // 5 binary64
    {4, 5, 1, 326, kClassHoldsRefs},                         // 6 reference
    {1, 3, 1, 80, kClassCharacter},                          // 7 char8
    {2, 4, 1, 160, kClassCharacter},                         // 8 char16
    {4, 5, 1, 320, kClassCharacter},                         // 9 char32
    {16, 7, 2, 1289, kClassNumeric | kClassNonIntegral},     // 10 complex
    {8, 6, 1, 0, kClassNumeric | kClassHoldsRefs},           // 11 internal
    {16, 7, 4, 1287, kClassNumeric | kClassNonIntegral},     // 12 decimal128
    {8, 6, 2, 643, kClassNumeric},                           // 13 int64
};

// Raw access. Pointers are valid only until the next allocation (compaction moves pockets).
inline uint32_t* Words(Ref r) { return reinterpret_cast<uint32_t*>(g_heapBase + r); }
inline int32_t& SizeWord(Ref r) { return *reinterpret_cast<int32_t*>(Words(r)); }
inline uint32_t& RefCount(Ref r) { return Words(r)[1]; }
inline uint32_t& TypeWord(Ref r) { return Words(r)[2]; }
inline uint32_t KindOf(uint32_t type) { return type & kKindMask; }
inline uint32_t RankOf(uint32_t type) { return (type & kRankMask) >> kRankShift; }
inline ElementType ElementOf(uint32_t type) {
  return static_cast<ElementType>((type & kElementMask) >> kElementShift);
}
inline uint32_t PocketWords(Ref r) { return static_cast<uint32_t>(-SizeWord(r)); }
inline bool IsArrayKind(uint32_t kind) { return kind == kKindSimple || kind == kKindNested; }
// Whether `r` refers to an array (simple or nested), not to another kind of pocket or a code below 512.
inline bool IsArray(Ref r) { return IsRef(r) && IsArrayKind(KindOf(TypeWord(r))); }

inline uint32_t* ShapeOf(Ref r) { return Words(r) + kHeaderWords; }
inline uint64_t ElementCount(Ref array) {
  const uint32_t rank = RankOf(TypeWord(array));
  const uint32_t* shape = ShapeOf(array);
  if (rank == 0) return 1;
  uint64_t count = shape[0];
  for (uint32_t i = 1; i < rank; ++i) count *= shape[i];
  return count;
}
inline size_t DataWordOffset(uint32_t rank) { return kHeaderWords + rank; }
template <typename T>
inline T* DataOf(Ref array) {
  return reinterpret_cast<T*>(Words(array) + DataWordOffset(RankOf(TypeWord(array))));
}
inline uint16_t DrCode(Ref array) { return kElementInfo[ElementOf(TypeWord(array))].dr; }

// Packed Booleans: element 0 is the most significant bit of the first byte.
inline bool GetBit(const uint8_t* data, uint64_t i) { return (data[i >> 3] >> (7 - (i & 7))) & 1; }
inline void SetBit(uint8_t* data, uint64_t i, bool value) {
  uint8_t mask = static_cast<uint8_t>(0x80u >> (i & 7));
  data[i >> 3] = value ? (data[i >> 3] | mask) : (data[i >> 3] & ~mask);
}

// Words of data for `count` elements of a type, rounded up to whole words.
inline uint64_t DataWords(ElementType type, uint64_t count) {
  uint32_t bits = kElementInfo[type].log2Bits;
  if (bits >= 5) return count << (bits - 5);
  uint32_t perWord = 1u << (5 - bits);
  return (count + perWord - 1) / perWord;
}

[[noreturn]] void SignalArrayTooLarge();
[[noreturn]] void SystemError(int code);  // memory3: an aplcore and exit code 3

// The size of an array pocket in words. LIMIT ERROR when it cannot be represented.
inline uint32_t ArrayWords(ElementType type, uint32_t rank, uint64_t count) {
  if (rank > kMaxRank || count > 0xFFFFFFFFull) SignalArrayTooLarge();
  uint64_t total = kHeaderWords + rank + DataWords(type, count) + (type == kRefElement && count == 0);
  if (total > 0x7FFFFFFFull) SignalArrayTooLarge();
  return static_cast<uint32_t>(total);
}

// Type word template for a new array (kind 7 for references, 15 otherwise).
inline uint32_t ArrayTypeWord(ElementType type, uint32_t rank) {
  uint32_t kind = type == kRefElement ? kKindNested : kKindSimple;
  return kind | (rank << kRankShift) | (static_cast<uint32_t>(type) << kElementShift);
}

// A new array with count 1: shape word 0 holds `count` (overwrite it for scalars and fill the other
// shape words for rank > 1); reference data and the empty-nested prototype slot are zeroed. The data
// is aligned as the element type needs; may compact the heap or signal WS FULL / LIMIT ERROR.
Ref AllocArray(ElementType type, uint32_t rank, uint64_t count);
Ref AllocMatrix(ElementType type, uint32_t rows, uint32_t columns);
Ref AllocVector(ElementType type, uint32_t length);
Ref AllocScalar(ElementType type);
// An int32 vector of bookkeeping words (line numbers, token positions, name indexes) that its owner
// reads as raw 32-bit words: marked never to be narrowed, so compaction cannot change its layout.
Ref AllocRecordVector(uint32_t length);

inline void Retain(Ref r) {
  if (IsRef(r)) ++RefCount(r);
}
// `r` retained, for handing on a counted reference in one expression.
inline Ref Retained(Ref r) {
  Retain(r);
  return r;
}
void FreeBlock(Ref block);   // the heap's free operation (memory1)
void ReleaseOther(Ref r);    // release of every kind but simple arrays
// Drops the reference held in `slot` and clears the slot. A simple array has no children and no
// hook, so its last release frees it at once.
// The object classes (bits 4-15 of a kind-5 type word) that registered a release hook.
extern std::array<bool, 4096> g_hookedObjectClass;
// Kinds without a release hook: any reference but the last is simply dropped, here, inline.
inline constexpr uint32_t kPlainRelease = 1u << kKindRefList | 1u << kKindDefinedFunction | 1u << kKindRecord4 |
                                          1u << kKindNested | 1u << kKindDerived | 1u << kKindPlain11 |
                                          1u << kKindPlain14;
inline void Release(Ref& slot) {
  Ref r = slot;
  slot = 0;
  if (!IsRef(r)) return;
  uint32_t* w = Words(r);
  if ((w[2] & kKindMask) != kKindSimple) {
    const uint32_t kind = w[2] & kKindMask;
    if (w[1] > 1 && ((kPlainRelease >> kind & 1) || (kind == kKindObject && !g_hookedObjectClass[(w[2] >> 4) & 0xFFF]))) {
      --w[1];
      return;
    }
    return ReleaseOther(r);
  }
  if (w[1] > 1) {
    --w[1];
    return;
  }
  w[1] = 0;
  FreeBlock(r);
}
// Drops a reference that is not held in a slot.
inline void ReleaseRef(Ref r) { Release(r); }

// The reference fields of a pocket kind, as up to four runs of fields: `fields` words starting at
// `firstWord`, `stride` words apart (1: consecutive). A field refers to a pocket only when its value
// is at least 512.
struct FieldRuns {
  uint32_t count = 0;
  struct Run {
    uint32_t firstWord;
    uint32_t fields;
    uint32_t stride;
  } runs[4];
  // A layout with more runs than the record holds is a fault of the layout's unit: system error 11.
  void Add(uint32_t firstWord, uint32_t fields, uint32_t stride = 1) {
    if (count == 4) SystemError(11);
    runs[count++] = {firstWord, fields, stride};
  }
};

// Calls visit(field) for every reference field of a pocket (see ChildFields below).
template <typename Visit>
void ForEachChildField(uint32_t* words, const FieldRuns& runs, Visit visit) {
  for (uint32_t i = 0; i < runs.count; ++i)
    for (uint32_t k = 0; k < runs.runs[i].fields; ++k) visit(&words[runs.runs[i].firstWord + k * runs.runs[i].stride]);
}
using ChildFieldsFn = void (*)(Ref pocket, FieldRuns& out);
// A destroy hook decides whether a pocket whose count fell to its kind's threshold stays alive
// (non-zero) or is destroyed (0).
using DestroyHookFn = int (*)(Ref pocket);

struct KindTraits {
  uint32_t threshold;     // survival threshold: a count above it keeps the pocket alive
  ChildFieldsFn children; // nullptr: the kind has no layout registered (no such pockets may exist)
  DestroyHookFn hook;     // nullptr: no hook
};
const KindTraits& TraitsOf(uint32_t kind);
// Units that define a pocket kind register its child walker and destroy hook at initialisation.
void RegisterKind(uint32_t kind, ChildFieldsFn children, DestroyHookFn hook);
// Objects (kind 5) are told apart by bits 4-15 of their type word (so the low 16 bits name an object
// class: 22,741 a namespace, 20,725 a namespace handle, 20,805 a dfn). The unit that defines an
// object class registers its walker and hook here; the hook of kind 5 sees every release (the kind's
// threshold is the largest count), so it decides when the object dies: return 0 to destroy it.
void RegisterObjectClass(uint32_t low16, ChildFieldsFn children, DestroyHookFn hook);
// Small records (kind 10) are told apart by their sub-type in bits 4-15 of the type word. The unit
// that defines a sub-type registers its walker and hook here; without a hook a record dies when its
// count reaches 0.
void RegisterSmallRecordType(uint32_t subType, ChildFieldsFn children, DestroyHookFn hook);
// The reference fields of a pocket, by its kind. System error when the kind has no layout.
void ChildFields(Ref pocket, FieldRuns& out);
// Whether a layout is registered for the pocket's kind and, for objects and small records, its
// sub-type: ChildFields can be asked.
bool HasLayout(Ref pocket);

// Element access across types. CopyElement converts element `from` of `source` into element `to`
// of `target`, whose type must hold it (a number into a number type at least as wide, a character
// into a character type at least as wide). ElementAsScalar makes a new scalar of the element's own
// type (for a nested array: the item itself, counted).
void CopyElement(Ref target, uint64_t to, Ref source, uint64_t from);
Ref ElementAsScalar(Ref array, uint64_t index);

// Counted reference to an integer scalar: the shared 0 and 1, the small-integer cache, or a new
// scalar of the narrowest integer type.
Ref MakeIntScalar(int32_t n);

// Squeezes a simple array in place to the smallest element type that holds its values and gives the
// freed tail back to the heap. Returns 1 when the type changed, 0 otherwise.
int Narrow(Ref array);

}  // namespace vantor
