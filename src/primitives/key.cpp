// The search functions ⍳ ∊ ∪ ∩ ~ ⍷ and the tables they search with. Both arguments are first
// brought to one element type; the table method follows from that type, the size of a cell and the
// counts. Build and lookup loops are specialised per key type and per hash (CRC-32C where the
// processor has SSE4.2, a multiplier hash elsewhere). Results are assembled with the gathering and
// catenation of the structural units.
#include "primitives/key.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <complex>
#include <cstring>
#include <limits>
#include <numbers>
#include <optional>
#include <span>
#include <string>
#include <type_traits>
#include <vector>

#include "primitives/dispatch.h"
#include "language/space.h"
#include "base/errors.h"
#include "memory/eltype.h"
#include "primitives/arith_su.h"
#include "primitives/cat.h"
#include "primitives/darith.h"
#include "primitives/index.h"
#include "primitives/op.h"
#include "primitives/same.h"
#include "sysfns/quadvar.h"

namespace vantor {

static constexpr char kUnit[] = "key";

namespace {


constexpr uint64_t kLinearLimit = 9;  // sought cells compared directly, without a table
constexpr uint32_t kHashSeed = 1999999973u;
constexpr uint32_t kTolerantEmpty = 0xFFFFFFFFu;
constexpr uint32_t kToleranceMarker = 148;

ElementType TypeOf(Ref r) { return ElementOf(TypeWord(r)); }
uint32_t ArrayRank(Ref r) { return RankOf(TypeWord(r)); }

uint64_t Product(const uint32_t* lengths, uint32_t count) {
  uint64_t p = 1;
  for (uint32_t i = 0; i < count; ++i) p *= lengths[i];
  return p;
}

std::vector<uint32_t> ShapeOfArray(Ref r) { return {ShapeOf(r), ShapeOf(r) + ArrayRank(r)}; }

// ---- The type both arguments are brought to ----------------------------------------------------------

struct SearchTypes {
  ElementType type;
  bool neverEqual;  // a character is never equal to a number
};

SearchTypes CommonSearchType(ElementType a, ElementType b) {
  if (a == kRefElement || b == kRefElement) return {kRefElement, false};
  if (IsCharacterType(a) != IsCharacterType(b)) return {a, true};
  ElementType combined = CombinedType(a, b);
  // ⎕AV positions compare by the characters they stand for.
  if (a == kCharAv || b == kCharAv) return {std::max(combined, kChar16), false};
  return {combined == kBool ? kInt8 : combined, false};
}

// Calls f(Tag<T>) with the C++ type T of one element of a search type.
template <class T>
struct Tag {
  using Type = T;
};
template <class F>
void WithSearchCType(ElementType t, F&& f) {
  switch (t) {
    case kInt8: return f(Tag<int8_t>{});
    case kInt16: return f(Tag<int16_t>{});
    case kInt32: return f(Tag<int32_t>{});
    case kInt64: return f(Tag<int64_t>{});
    case kFloat64: return f(Tag<double>{});
    case kComplex: return f(Tag<std::complex<double>>{});
    case kDecimal128: return f(Tag<Decimal>{});
    case kChar8: return f(Tag<uint8_t>{});
    case kChar16: return f(Tag<char16_t>{});
    case kChar32: return f(Tag<char32_t>{});
    default: return f(Tag<Ref>{});
  }
}

// Equality of two elements of one search type, as = compares them (nested items by match).
struct ItemEquality {
  double ct = ComparisonTolerance();
  Decimal dct = FetchDecimalTolerance();
  template <class T>
  bool operator()(const T& a, const T& b) const {
    if constexpr (std::is_same_v<T, double>) return TolerantEqual(a, b, ct);
    else if constexpr (std::is_same_v<T, std::complex<double>>) return ComplexTolerantEqual(a, b, ct);
    else if constexpr (std::is_same_v<T, Decimal>) return DecimalEqual(a, b, dct);
    else if constexpr (std::is_same_v<T, Ref>) return Match(a, b);
    else return a == b;
  }
};

template <class T, class Equal>
bool CellsEqual(const T* a, const T* b, uint64_t w, const Equal& equal) {
  if (w == 1) return equal(a[0], b[0]);
  for (uint64_t k = 0; k < w; ++k)
    if (!equal(a[k], b[k])) return false;
  return true;
}

// ---- Hashes ------------------------------------------------------------------------------------------

constexpr std::array<uint32_t, 64> MakeMultipliers() {
  std::array<uint32_t, 64> m{};
  uint64_t x = 0x2545F4914F6CDD1Dull;
  for (uint32_t& multiplier : m) {
    x = x * 6364136223846793005ull + 1442695040888963407ull;
    multiplier = static_cast<uint32_t>((x >> 40) & 0xFFFFFF) | 1;
  }
  return m;
}
constexpr std::array<uint32_t, 64> kMultipliers = MakeMultipliers();

// Without the CRC instruction: each word multiplied by the odd multiplier of its position.
struct MultiplierHash {
  static uint32_t Mix(uint32_t h, uint32_t word, uint64_t position) {
    return (h ^ word) * kMultipliers[position & 63];
  }
  static uint32_t Mix64(uint32_t h, uint64_t word) {
    return Mix(Mix(h, static_cast<uint32_t>(word), 0), static_cast<uint32_t>(word >> 32), 1);
  }
  static uint32_t Finish(uint32_t h) { return h ^ (h >> 15); }
};

// CRC-32C of the cell's 32-bit words (SSE4.2).
struct CrcHash {
  [[gnu::target("sse4.2")]] static uint32_t Mix(uint32_t h, uint32_t word, uint64_t) {
    return __builtin_ia32_crc32si(h, word);
  }
  [[gnu::target("sse4.2")]] static uint32_t Mix64(uint32_t h, uint64_t word) {
    return static_cast<uint32_t>(__builtin_ia32_crc32di(h, word));
  }
  static uint32_t Finish(uint32_t h) { return h; }
};

bool HasCrc() {
  static const bool has = __builtin_cpu_supports("sse4.2");
  return has;
}

// Keys of cells that fit one machine word: the cell read as a 32- or 64-bit word, or a binary64
// value with ¯0 made 0 (so that equal values have equal keys).
struct Word32Key {
  using Key = uint32_t;
  static Key At(const uint8_t* data, uint64_t i) {
    Key k;
    std::memcpy(&k, data + 4 * i, 4);
    return k;
  }
  template <class H>
  static uint32_t Hash(Key k) { return H::Finish(H::Mix(kHashSeed, k, 0)); }
};
struct Word64Key {
  using Key = uint64_t;
  static Key At(const uint8_t* data, uint64_t i) {
    Key k;
    std::memcpy(&k, data + 8 * i, 8);
    return k;
  }
  template <class H>
  static uint32_t Hash(Key k) { return H::Finish(H::Mix64(kHashSeed, k)); }
};
struct FloatKey : Word64Key {
  static Key At(const uint8_t* data, uint64_t i) {
    double x;
    std::memcpy(&x, data + 8 * i, 8);
    return std::bit_cast<Key>(x + 0.0);
  }
};

// An exact hash table: slots hold the index of the first cell with their content, or n when empty.
struct ExactTable {
  uint32_t* slots;
  uint32_t mask;
  const uint8_t* data;  // the searched cells
  uint32_t n;
};

uint32_t ExactSlotCount(uint32_t n) {
  uint32_t bits = 32 - std::countl_zero((n - 1) | 64u);
  if (bits >= 31) SIGNAL(kLimitError);
  return 1u << (bits + 1);
}

// Builds and lookups run this many cells ahead with a prefetch of their first slot, so that the
// cache misses of many cells overlap.
constexpr uint32_t kPrefetchDistance = 16;

// The slot where `key` is, or the empty slot where it would go.
template <class H, class K>
uint32_t ProbeWord(const ExactTable& t, typename K::Key key) {
  uint32_t s = K::template Hash<H>(key) & t.mask;
  while (t.slots[s] != t.n && K::At(t.data, t.slots[s]) != key) s = (s + 1) & t.mask;
  return s;
}

template <class H, class K>
void EnterWords(const ExactTable& t) {
  for (uint32_t i = 0; i < t.n; ++i) {
    if (i + kPrefetchDistance < t.n)
      __builtin_prefetch(&t.slots[K::template Hash<H>(K::At(t.data, i + kPrefetchDistance)) & t.mask]);
    uint32_t s = ProbeWord<H, K>(t, K::At(t.data, i));
    if (t.slots[s] == t.n) t.slots[s] = i;
  }
}

// An empty slot holds n, which is the answer "not found".
template <class H, class K>
void FindWords(const ExactTable& t, const uint8_t* sought, uint64_t cells, uint32_t* answers) {
  for (uint64_t j = 0; j < cells; ++j) {
    if (j + kPrefetchDistance < cells)
      __builtin_prefetch(&t.slots[K::template Hash<H>(K::At(sought, j + kPrefetchDistance)) & t.mask]);
    answers[j] = t.slots[ProbeWord<H, K>(t, K::At(sought, j))];
  }
}

template <class K>
[[gnu::target("sse4.2"), gnu::flatten]] void EnterWordsCrc(const ExactTable& t) {
  EnterWords<CrcHash, K>(t);
}
template <class K>
[[gnu::target("sse4.2"), gnu::flatten]] void FindWordsCrc(const ExactTable& t, const uint8_t* sought, uint64_t cells,
                                                          uint32_t* answers) {
  FindWords<CrcHash, K>(t, sought, cells, answers);
}

template <class K>
void EnterWordsHashed(const ExactTable& t) {
  if (HasCrc()) EnterWordsCrc<K>(t);
  else EnterWords<MultiplierHash, K>(t);
}
template <class K>
void FindWordsHashed(const ExactTable& t, const uint8_t* sought, uint64_t cells, uint32_t* answers) {
  if (HasCrc()) FindWordsCrc<K>(t, sought, cells, answers);
  else FindWords<MultiplierHash, K>(t, sought, cells, answers);
}

// Cells of any other size, hashed as strings of bytes (a trailing partial word masked to its bytes).
template <class H>
uint32_t HashBytes(const uint8_t* p, uint64_t length) {
  uint32_t h = kHashSeed;
  uint64_t k = 0;
  for (; k + 4 <= length; k += 4) {
    uint32_t word;
    std::memcpy(&word, p + k, 4);
    h = H::Mix(h, word, k >> 2);
  }
  if (k < length) {
    uint32_t word = 0;
    std::memcpy(&word, p + k, length - k);
    h = H::Mix(h, word, k >> 2);
  }
  return H::Finish(h);
}

template <class H>
uint32_t ProbeCell(const ExactTable& t, uint64_t cellBytes, const uint8_t* cell) {
  uint32_t s = HashBytes<H>(cell, cellBytes) & t.mask;
  while (t.slots[s] != t.n && std::memcmp(t.data + t.slots[s] * cellBytes, cell, cellBytes) != 0)
    s = (s + 1) & t.mask;
  return s;
}

template <class H>
void EnterCells(const ExactTable& t, uint64_t cellBytes) {
  for (uint32_t i = 0; i < t.n; ++i) {
    uint32_t s = ProbeCell<H>(t, cellBytes, t.data + i * cellBytes);
    if (t.slots[s] == t.n) t.slots[s] = i;
  }
}
template <class H>
void FindCells(const ExactTable& t, uint64_t cellBytes, const uint8_t* sought, uint64_t cells, uint32_t* answers) {
  for (uint64_t j = 0; j < cells; ++j) answers[j] = t.slots[ProbeCell<H>(t, cellBytes, sought + j * cellBytes)];
}
[[gnu::target("sse4.2"), gnu::flatten]] void EnterCellsCrc(const ExactTable& t, uint64_t cellBytes) {
  EnterCells<CrcHash>(t, cellBytes);
}
[[gnu::target("sse4.2"), gnu::flatten]] void FindCellsCrc(const ExactTable& t, uint64_t cellBytes,
                                                          const uint8_t* sought, uint64_t cells, uint32_t* answers) {
  FindCells<CrcHash>(t, cellBytes, sought, cells, answers);
}

// ---- Hashing of nested and mixed items -------------------------------------------------------------

// A hash that items equal under match share: their rank and shape and, for the elements and the
// items of the first level, the characters (numbers, which compare tolerantly, contribute nothing;
// an item that is not a simple scalar contributes its rank and shape).
template <class H>
uint32_t ShapeHash(uint32_t h, Ref array) {
  const uint32_t rank = RankOf(TypeWord(array));
  h = H::Mix(h, rank, 0);
  for (uint32_t d = 0; d < rank; ++d) h = H::Mix(h, ShapeOf(array)[d], d + 1);
  return h;
}

template <class H>
uint32_t ItemHash(uint32_t h, Ref item) {
  if (!IsArray(item)) return H::Mix(h, item, 0);
  h = ShapeHash<H>(h, item);
  const uint64_t count = ElementCount(item);
  if (KindOf(TypeWord(item)) == kKindSimple) {
    WithReader(item, [&](auto read) {
      if constexpr (decltype(read)::kCharacter)
        for (uint64_t k = 0; k < count; ++k) h = H::Mix(h, read(k), k);
      return true;
    });
    return h;
  }
  for (uint64_t k = 0; k < count; ++k) {
    Ref sub = DataOf<Ref>(item)[k];
    bool simpleScalar = IsArray(sub) && KindOf(TypeWord(sub)) == kKindSimple && RankOf(TypeWord(sub)) == 0;
    if (!simpleScalar) h = ShapeHash<H>(H::Mix(h, 0xFFFFFFFFu, k), sub);
    else if (IsCharacterType(TypeOf(sub))) WithReader(sub, [&](auto read) {
        if constexpr (decltype(read)::kCharacter) h = H::Mix(h, read(0), k);
        return true;
      });
  }
  return h;
}

template <class H>
uint32_t NestedCellHash(const Ref* cell, uint64_t w) {
  uint32_t h = kHashSeed;
  for (uint64_t k = 0; k < w; ++k) h = ItemHash<H>(h, cell[k]);
  return H::Finish(h);
}

// Exact slots (empty = n) followed by the hash of each searched cell, compared before match.
struct NestedTable {
  uint32_t* slots;
  uint32_t mask;
  uint32_t* hashes;
  const Ref* data;
  uint64_t w;
  uint32_t n;

  uint32_t Probe(const Ref* cell, uint32_t h) const {
    uint32_t s = h & mask;
    while (slots[s] != n && (hashes[slots[s]] != h || !CellsEqual(data + slots[s] * w, cell, w, Match))) s = (s + 1) & mask;
    return s;
  }
  template <class H>
  void Enter() {
    for (uint32_t i = 0; i < n; ++i) {
      CheckStrongInterrupt();  // numbers share a chain, so entering an item can take long
      hashes[i] = NestedCellHash<H>(data + i * w, w);
      uint32_t s = Probe(data + i * w, hashes[i]);
      if (slots[s] == n) slots[s] = i;
    }
  }
  template <class H>
  void Find(const Ref* sought, uint64_t cells, uint32_t* answers) const {
    for (uint64_t j = 0; j < cells; ++j) answers[j] = slots[Probe(sought + j * w, NestedCellHash<H>(sought + j * w, w))];
  }
};

// ---- Tolerant hashing of binary64 values -------------------------------------------------------------

constexpr uint32_t kTolerantPrimes[] = {
    1031,     2053,     4099,     8209,      16411,     32771,     65537,
    131101,   262147,   524309,   1048583,   2097169,   4194319,   8388617,
    16777259, 33554467, 67108879, 134217757, 268435459, 536870923,
};

// A prime about twice n (by the significant bits of 2n).
uint32_t TolerantSlotCount(uint32_t n) {
  uint32_t bits = 64 - std::countl_zero(2ull * n);
  if (bits <= 10) return kTolerantPrimes[0];
  if (bits > 30) SIGNAL(kLimitError);
  return kTolerantPrimes[bits - 10];
}

// The bits of a binary64 value that tolerantly equal values share: the sign, the exponent and the
// high mantissa bits in which π, π×(1−t) and π÷(1−t) agree. Buckets must be at least as wide as the
// widest tolerance interval (4t relative to the bottom of a binade, for a value at its top), so that
// the interval of values tolerantly equal to x crosses at most one bucket boundary; they are made
// 16 times wider still, so that few intervals cross one and most lookups probe a single chain.
uint64_t ToleranceKeyMask(double t) {
  constexpr double pi = std::numbers::pi;
  constexpr double kBucketWidth = 64.64;  // in tolerances: 16 × the widest interval, and a margin
  uint64_t p = std::bit_cast<uint64_t>(pi);
  uint64_t differ = (p ^ std::bit_cast<uint64_t>(pi * (1 - t))) | (p ^ std::bit_cast<uint64_t>(pi / (1 - t)));
  int dropped = differ ? 64 - std::countl_zero(differ) : 0;
  while (dropped < 52 && std::ldexp(1.0, dropped - 52) < kBucketWidth * t) ++dropped;
  return ~0ull << dropped;
}

class TolerantKeys {
 public:
  explicit TolerantKeys(double t)
      : mask_(ToleranceKeyMask(t)), shrink_(1 - t * (1 + 1e-6)), grow_(1 / (1 - t * (1 + 2e-6))) {}
  uint64_t Key(double x) const { return std::bit_cast<uint64_t>(x + 0.0) & mask_; }
  // The keys of the two ends of the interval of values tolerantly equal to x, [x×(1−t), x÷(1−t)],
  // slightly widened so that rounding never leaves an equal value outside.
  uint64_t LowKey(double x) const { return Key(x * shrink_); }
  uint64_t HighKey(double x) const {
    double high = x * grow_;
    if (std::isinf(high)) high = std::copysign(std::numeric_limits<double>::max(), x);
    return Key(high);
  }
  static uint32_t Hash(uint64_t key) {
    return 17u * static_cast<uint32_t>(key) - 1999999955u * static_cast<uint32_t>(key >> 32);
  }

 private:
  uint64_t mask_;
  double shrink_;
  double grow_;
};

__extension__ typedef unsigned __int128 Wide;

// Slots of a prime count, the remainder taken by multiplication.
struct TolerantTable {
  uint32_t* slots;
  uint32_t size;
  uint64_t reciprocal;  // 2^64 ÷ size, rounded up
  const double* data;   // the searched cells
  uint64_t w;           // elements per cell
  TolerantKeys keys;

  uint32_t SlotOf(uint64_t key) const {
    uint64_t low = reciprocal * TolerantKeys::Hash(key);
    return static_cast<uint32_t>((static_cast<Wide>(low) * size) >> 64);
  }
  uint32_t Next(uint32_t s) const { return s + 1 == size ? 0 : s + 1; }

  // Enters the cells in order; a cell exactly equal to one already present keeps the first index.
  void Enter(uint32_t n) {
    auto exact = [](double a, double b) { return a == b; };
    for (uint32_t i = 0; i < n; ++i) {
      if (i + kPrefetchDistance < n) __builtin_prefetch(&slots[SlotOf(keys.Key(data[(i + kPrefetchDistance) * w]))]);
      const double* cell = data + i * w;
      uint32_t s = SlotOf(keys.Key(cell[0]));
      while (slots[s] != kTolerantEmpty && !CellsEqual(data + slots[s] * w, cell, w, exact)) s = Next(s);
      if (slots[s] == kTolerantEmpty) slots[s] = i;
    }
  }
  // The first entry on the chain from slot s tolerantly equal to the cell, or kTolerantEmpty.
  uint32_t FirstOnChain(uint32_t s, const double* cell, const ItemEquality& equal) const {
    for (; slots[s] != kTolerantEmpty; s = Next(s))
      if (CellsEqual(data + slots[s] * w, cell, w, equal)) return slots[s];
    return kTolerantEmpty;
  }
  // Entries along a chain come in the order they were entered, so the first equal one on each of
  // the (one or two) chains is the earliest with its key; the smaller of the two is the answer.
  // `lowKey` is the key of the low end of the cell's interval and `low` its slot.
  uint32_t Find(const double* cell, uint32_t n, const ItemEquality& equal, uint64_t lowKey, uint32_t low) const {
    uint64_t highKey = keys.HighKey(cell[0]);
    uint32_t best = FirstOnChain(low, cell, equal);
    if (highKey != lowKey) {
      uint32_t high = SlotOf(highKey);
      if (high != low) best = std::min(best, FirstOnChain(high, cell, equal));
    }
    return best == kTolerantEmpty ? n : best;
  }
  // Looks up `cells` cells with two stages of prefetching ahead of the answers: the first slot of a
  // cell's chain 16 cells ahead, and the searched cell that slot names 8 cells ahead.
  void FindAll(const double* sought, uint64_t cells, uint32_t n, uint32_t* answers) const {
    constexpr uint64_t kSlotAhead = 16;  // a power of two: the ring of keys computed ahead
    constexpr uint64_t kCellAhead = 8;
    ItemEquality equal;
    uint64_t lowKeys[kSlotAhead];
    uint32_t lowSlots[kSlotAhead];
    auto prepare = [&](uint64_t j) {
      lowKeys[j % kSlotAhead] = keys.LowKey(sought[j * w]);
      lowSlots[j % kSlotAhead] = SlotOf(lowKeys[j % kSlotAhead]);
      __builtin_prefetch(&slots[lowSlots[j % kSlotAhead]]);
    };
    for (uint64_t j = 0; j < std::min(cells, kSlotAhead); ++j) prepare(j);
    for (uint64_t j = 0; j < cells; ++j) {
      if (j + kCellAhead < cells) {
        uint32_t entry = slots[lowSlots[(j + kCellAhead) % kSlotAhead]];
        if (entry != kTolerantEmpty) __builtin_prefetch(data + entry * w);
      }
      answers[j] = Find(sought + j * w, n, equal, lowKeys[j % kSlotAhead], lowSlots[j % kSlotAhead]);
      if (j + kSlotAhead < cells) prepare(j + kSlotAhead);
    }
  }
};

// ---- Direct tables and linear search --------------------------------------------------------------

template <class K>
void EnterDirect(uint32_t* table, const uint8_t* data, uint32_t n) {
  for (uint32_t i = n; i-- > 0;) {
    K key;
    std::memcpy(&key, data + i * sizeof(K), sizeof(K));
    table[key] = i;
  }
}
template <class K>
void FindDirect(const uint32_t* table, const uint8_t* sought, uint64_t cells, uint32_t* answers) {
  for (uint64_t j = 0; j < cells; ++j) {
    K key;
    std::memcpy(&key, sought + j * sizeof(K), sizeof(K));
    answers[j] = table[key];
  }
}

template <class T>
void FindLinear(const T* searched, uint32_t n, uint64_t w, const T* sought, uint64_t cells, uint32_t* answers) {
  ItemEquality equal;
  for (uint64_t j = 0; j < cells; ++j) {
    uint32_t i = 0;
    while (i < n && !CellsEqual(searched + i * w, sought + j * w, w, equal)) ++i;
    answers[j] = i;
  }
}

}  // namespace

// ---- The search table ----------------------------------------------------------------------------

namespace {

// The table's pocket: a small record of sub-type 3.
enum TableWord : uint32_t {
  kTableSearched = 3,      // the searched array in the search type (0: the method reads none)
  kTableSlots = 4,         // the slots (0: the method needs none)
  kTableCount = 5,         // the number of searched cells
  kTableCellElements = 6,  // two words
  kTableTypes = 8,         // a byte each: searched type, sought type, search type, method
  kTableTolerance = 9,     // two words: the ⎕CT the table was built under
  kTableWords = 11,
};
constexpr uint32_t kTableSubType = 3;
constexpr uint32_t kTableType = kKindSmallRecord | (kTableSubType << 4);

void TableFields(Ref, FieldRuns& out) { out.Add(kTableSearched, 2); }

}  // namespace

// Writes the description of the table into a new pocket, which holds no arrays yet.
void SearchTable::MakePocket() {
  Ref r = GetSpace(kTableWords);
  uint32_t* w = Words(r);
  w[1] = 1;
  w[2] = kTableType;
  w[kTableSearched] = w[kTableSlots] = 0;
  w[kTableCount] = count_;
  std::memcpy(w + kTableCellElements, &cellElements_, sizeof cellElements_);
  w[kTableTypes] = searchedType_ | soughtType_ << 8 | type_ << 16 | static_cast<uint32_t>(method_) << 24;
  std::memcpy(w + kTableTolerance, &tolerance_, sizeof tolerance_);
  hold_[0] = r;
}

Ref SearchTable::Slots() { return Words(hold_[0])[kTableSlots]; }

SearchTable::SearchTable(Ref kept) {
  Retain(kept);
  hold_[0] = kept;
  const uint32_t* w = Words(kept);
  hold_[2] = w[kTableSearched];
  Retain(hold_[2]);
  count_ = w[kTableCount];
  std::memcpy(&cellElements_, w + kTableCellElements, sizeof cellElements_);
  searchedType_ = static_cast<ElementType>(w[kTableTypes] & 0xFF);
  soughtType_ = static_cast<ElementType>((w[kTableTypes] >> 8) & 0xFF);
  type_ = static_cast<ElementType>((w[kTableTypes] >> 16) & 0xFF);
  method_ = static_cast<SearchMethod>(w[kTableTypes] >> 24);
  std::memcpy(&tolerance_, w + kTableTolerance, sizeof tolerance_);
}

Ref SearchTable::Kept() {
  Retain(hold_[0]);
  return hold_[0];
}

SearchTable::SearchTable(const Ref& searched, uint32_t cells, uint64_t cellElements, ElementType soughtType,
                         uint64_t soughtCells)
    : cellElements_(cellElements),
      count_(cells),
      searchedType_(TypeOf(searched)),
      soughtType_(soughtType),
      tolerance_(ComparisonTolerance()) {
  SearchTypes common = CommonSearchType(searchedType_, soughtType);
  type_ = common.type;
  const uint64_t cellBytes = cellElements * kElementInfo[type_].bytes;
  if (common.neverEqual) method_ = SearchMethod::kNeverEqual;
  else if (cellElements == 0) method_ = SearchMethod::kEmptyCells;
  else if (searchedType_ == kBool && cellElements == 1 && IsSmallIntegerType(soughtType)) method_ = SearchMethod::kBits;
  else if (soughtCells <= kLinearLimit || type_ == kComplex || type_ == kDecimal128) method_ = SearchMethod::kLinear;
  else if (type_ == kRefElement) method_ = SearchMethod::kNested;
  else if (type_ == kFloat64) method_ = tolerance_ == 0 && cellElements == 1 ? SearchMethod::kWord64 : SearchMethod::kTolerant;
  else if (cellBytes == 1) method_ = SearchMethod::kDirect8;
  else if (cellBytes == 2) method_ = SearchMethod::kDirect16;
  else if (cellBytes == 4) method_ = SearchMethod::kWord32;
  else if (cellBytes == 8) method_ = SearchMethod::kWord64;
  else method_ = SearchMethod::kCells;
  MakePocket();
  if (method_ == SearchMethod::kNeverEqual || method_ == SearchMethod::kEmptyCells || count_ == 0) return;
  if (method_ == SearchMethod::kBits || searchedType_ == type_) {
    Retain(searched);
    hold_[2] = searched;
  } else {
    hold_[2] = ConvertedCopy(searched, type_);
    TypeWord(hold_[2]) |= kNoNarrowFlag;  // a kept copy is the table's own: its type must stay
  }
  Words(hold_[0])[kTableSearched] = hold_[2];
  Retain(hold_[2]);
  Build();
}

bool SearchTable::Accepts(ElementType soughtType) {
  // A kept table may outlive a compaction that narrowed the searched array it reads directly.
  if (Searched() && TypeOf(Searched()) != (method_ == SearchMethod::kBits ? searchedType_ : type_)) return false;
  if (method_ == SearchMethod::kBits) return IsSmallIntegerType(soughtType);
  SearchTypes built = CommonSearchType(searchedType_, soughtType_);
  SearchTypes asked = CommonSearchType(searchedType_, soughtType);
  bool sameTolerance = type_ != kFloat64 || tolerance_ == ComparisonTolerance();
  return built.type == asked.type && built.neverEqual == asked.neverEqual && sameTolerance;
}

void SearchTable::Build() {
  const uint64_t cellBytes = cellElements_ * kElementInfo[type_].bytes;
  // The slots are indices, not values: compaction must never narrow them.
  auto allocateSlots = [&](uint32_t slots, uint32_t extraWords, uint32_t empty) {
    Ref table = AllocVector(kInt32, slots + extraWords);
    TypeWord(table) |= kNoNarrowFlag;
    std::fill_n(DataOf<uint32_t>(table), slots, empty);
    Words(hold_[0])[kTableSlots] = table;
  };
  auto exactTable = [&](uint32_t slots) {
    allocateSlots(slots, 0, count_);
    return ExactTable{DataOf<uint32_t>(Slots()), slots - 1, DataOf<uint8_t>(Searched()), count_};
  };
  switch (method_) {
    case SearchMethod::kDirect8:
    case SearchMethod::kDirect16: {
      uint32_t entries = method_ == SearchMethod::kDirect8 ? 256 : 65536;
      allocateSlots(entries, 0, count_);
      if (entries == 256) EnterDirect<uint8_t>(DataOf<uint32_t>(Slots()), DataOf<uint8_t>(Searched()), count_);
      else EnterDirect<uint16_t>(DataOf<uint32_t>(Slots()), DataOf<uint8_t>(Searched()), count_);
      return;
    }
    case SearchMethod::kWord32: return EnterWordsHashed<Word32Key>(exactTable(ExactSlotCount(count_)));
    case SearchMethod::kWord64:
      if (type_ == kFloat64) return EnterWordsHashed<FloatKey>(exactTable(ExactSlotCount(count_)));
      return EnterWordsHashed<Word64Key>(exactTable(ExactSlotCount(count_)));
    case SearchMethod::kCells: {
      ExactTable t = exactTable(ExactSlotCount(count_));
      if (HasCrc()) EnterCellsCrc(t, cellBytes);
      else EnterCells<MultiplierHash>(t, cellBytes);
      return;
    }
    case SearchMethod::kNested: {
      uint32_t slots = ExactSlotCount(count_);
      allocateSlots(slots, count_, count_);
      NestedTable t{DataOf<uint32_t>(Slots()), slots - 1, DataOf<uint32_t>(Slots()) + slots, DataOf<Ref>(Searched()),
                    cellElements_, count_};
      if (HasCrc()) t.Enter<CrcHash>();
      else t.Enter<MultiplierHash>();
      return;
    }
    case SearchMethod::kTolerant: {
      // Behind the slots: the tolerance the table was built with and a marker word, so that a kept
      // table is used again only under the same tolerance.
      uint32_t size = TolerantSlotCount(count_);
      allocateSlots(size, 3, kTolerantEmpty);
      uint32_t* slots = DataOf<uint32_t>(Slots());
      std::memcpy(slots + size, &tolerance_, sizeof tolerance_);
      slots[size + 2] = kToleranceMarker;
      TolerantTable t{slots, size, ~0ull / size + 1, DataOf<double>(Searched()), cellElements_, TolerantKeys(tolerance_)};
      t.Enter(count_);
      return;
    }
    default: return;  // no table: the searched array is read directly
  }
}

void SearchTable::FindBits(Ref sought, uint64_t cells, uint32_t* answers) {
  const uint8_t* bits = DataOf<uint8_t>(Searched());
  uint32_t first[2] = {count_, count_};
  for (uint32_t i = 0; i < count_ && (first[0] == count_ || first[1] == count_); ++i) {
    bool bit = GetBit(bits, i);
    if (first[bit] == count_) first[bit] = i;
  }
  const uint8_t* data = DataOf<uint8_t>(sought);
  auto answer = [&](int64_t v) { return v == 0 || v == 1 ? first[v] : count_; };
  switch (TypeOf(sought)) {
    case kBool:
      for (uint64_t j = 0; j < cells; ++j) answers[j] = first[GetBit(data, j)];
      return;
    case kInt8:
      for (uint64_t j = 0; j < cells; ++j) answers[j] = answer(reinterpret_cast<const int8_t*>(data)[j]);
      return;
    case kInt16:
      for (uint64_t j = 0; j < cells; ++j) answers[j] = answer(reinterpret_cast<const int16_t*>(data)[j]);
      return;
    default:
      for (uint64_t j = 0; j < cells; ++j) answers[j] = answer(reinterpret_cast<const int32_t*>(data)[j]);
      return;
  }
}

void SearchTable::Find(const Ref& sought, uint64_t cells, uint32_t* answers) {
  if (count_ == 0 || method_ == SearchMethod::kNeverEqual) {
    std::fill_n(answers, cells, count_);
    return;
  }
  if (method_ == SearchMethod::kEmptyCells) {
    std::fill_n(answers, cells, 0u);
    return;
  }
  if (method_ == SearchMethod::kBits) return FindBits(sought, cells, answers);
  Ref soughtData = sought;
  if (TypeOf(sought) != type_) {
    Release(hold_[1]);
    hold_[1] = ConvertedCopy(sought, type_);
    soughtData = hold_[1];
  }
  const uint8_t* b = DataOf<uint8_t>(soughtData);
  const uint64_t cellBytes = cellElements_ * kElementInfo[type_].bytes;
  const Ref slots = Slots();
  auto exactTable = [&] {
    return ExactTable{DataOf<uint32_t>(slots), ShapeOf(slots)[0] - 1, DataOf<uint8_t>(Searched()), count_};
  };
  switch (method_) {
    case SearchMethod::kLinear:
      return WithSearchCType(type_, [&](auto tag) {
        using T = typename decltype(tag)::Type;
        FindLinear(DataOf<T>(Searched()), count_, cellElements_, reinterpret_cast<const T*>(b), cells, answers);
      });
    case SearchMethod::kDirect8: return FindDirect<uint8_t>(DataOf<uint32_t>(slots), b, cells, answers);
    case SearchMethod::kDirect16: return FindDirect<uint16_t>(DataOf<uint32_t>(slots), b, cells, answers);
    case SearchMethod::kWord32: return FindWordsHashed<Word32Key>(exactTable(), b, cells, answers);
    case SearchMethod::kWord64:
      if (type_ == kFloat64) return FindWordsHashed<FloatKey>(exactTable(), b, cells, answers);
      return FindWordsHashed<Word64Key>(exactTable(), b, cells, answers);
    case SearchMethod::kCells:
      if (HasCrc()) return FindCellsCrc(exactTable(), cellBytes, b, cells, answers);
      return FindCells<MultiplierHash>(exactTable(), cellBytes, b, cells, answers);
    case SearchMethod::kNested: {
      uint32_t size = ShapeOf(slots)[0] - count_;
      NestedTable t{DataOf<uint32_t>(slots), size - 1, DataOf<uint32_t>(slots) + size, DataOf<Ref>(Searched()),
                    cellElements_, count_};
      const Ref* items = reinterpret_cast<const Ref*>(b);
      if (HasCrc()) t.Find<CrcHash>(items, cells, answers);
      else t.Find<MultiplierHash>(items, cells, answers);
      return;
    }
    case SearchMethod::kTolerant: {
      uint32_t size = ShapeOf(slots)[0] - 3;
      TolerantTable t{DataOf<uint32_t>(slots), size, ~0ull / size + 1, DataOf<double>(Searched()), cellElements_,
                      TolerantKeys(tolerance_)};
      t.FindAll(reinterpret_cast<const double*>(b), cells, count_, answers);
      return;
    }
    default: return;
  }
}

// ---- The primitives --------------------------------------------------------------------------------

namespace {

void RequireArrays(Ref left, Ref right) {
  if (!IsArray(left) || !IsArray(right)) SIGNAL(kDomainError);
}

void RequireVectorOrScalar(Ref array) {
  if (ArrayRank(array) > 1) SIGNAL(kRankError);
}

uint32_t CellCount(Ref array) { return ArrayRank(array) == 0 ? 1 : ShapeOf(array)[0]; }

// ---- Hashed arrays -----------------------------------------------------------------------------------

enum HashedArrayWord : uint32_t {
  kHashedArray = 3,  // the array
  kHashedTable = 4,  // the kept search table (0: none built yet)
  kHashedWords = 5,
};
constexpr uint32_t kHashedArraySubType = (kHashedArrayType >> 4) & 0xFFF;

void HashedArrayFields(Ref, FieldRuns& out) { out.Add(kHashedArray, 2); }

// A kept table is built for any number of sought cells, so never one that compares cells directly.
constexpr uint64_t kAnySoughtCells = UINT64_MAX;

// Puts into `table` the table for searching `cells` cells of `cellElements` of the hashed array in
// slot `hashed` for cells of `soughtType`: the table it keeps when that serves the search, otherwise a
// new one, which the hashed array keeps from now on. `searched` holds the array for a new table; the
// caller made it before `table`, so the two records go in the reverse order of their making.
void UseKeptTable(const Ref& hashed, uint32_t cells, uint64_t cellElements, ElementType soughtType,
                  uint64_t soughtCells, Temporaries& searched, std::optional<SearchTable>& table) {
  if (Ref kept = KeptTable(hashed)) {
    table.emplace(kept);
    if (table->Covers(cells, cellElements) && table->Accepts(soughtType)) return;
    table.reset();
  }
  searched[0] = Retained(Words(hashed)[kHashedArray]);
  // Nested items sought in a simple array are looked up as in any array: a table kept for them would
  // hold every number of the array in one chain (numbers are not hashed in nested tables).
  if (soughtType == kRefElement && TypeOf(searched[0]) != kRefElement) {
    table.emplace(searched[0], cells, cellElements, soughtType, soughtCells);
    return;
  }
  table.emplace(searched[0], cells, cellElements, soughtType, kAnySoughtCells);
  // Characters sought among numbers (or the reverse) find nothing without any table: not worth
  // keeping in place of one that finds.
  if (table->Method() == SearchMethod::kNeverEqual) return;
  Ref replaced = Words(hashed)[kHashedTable];
  Words(hashed)[kHashedTable] = table->Kept();
  Release(replaced);
}

// The answers of looking up `cells` cells of `sought` in `searched` (an array, or a hashed array that
// is searched with its kept table), cells of `cellElements`. Both are borrowed slots.
std::vector<uint32_t> Answers(const Ref& searched, uint32_t searchedCells, uint64_t cellElements, const Ref& sought,
                              uint64_t cells) {
  std::vector<uint32_t> answers(cells);
  Temporaries hashedArray;
  std::optional<SearchTable> table;
  if (IsHashedArray(searched))
    UseKeptTable(searched, searchedCells, cellElements, TypeOf(sought), cells, hashedArray, table);
  else table.emplace(searched, searchedCells, cellElements, TypeOf(sought), cells);
  table->Find(sought, cells, answers.data());
  return answers;
}

// An integer array of `shape` holding origin + each answer, of the narrowest type for `largest`.
Ref IndexArrayOf(const std::vector<uint32_t>& shape, const std::vector<uint32_t>& answers, uint32_t origin,
                 uint64_t largest) {
  ElementType type = largest <= 1 ? kBool : largest <= 127 ? kInt8 : largest <= 32767 ? kInt16 : kInt32;
  Ref result = NewArray(type, shape);
  const uint64_t m = answers.size();
  auto store = [&](auto* out) {
    for (uint64_t i = 0; i < m; ++i) out[i] = static_cast<std::remove_reference_t<decltype(*out)>>(answers[i] + origin);
  };
  switch (type) {
    case kBool:
      for (uint64_t i = 0; i < m; ++i) SetBit(DataOf<uint8_t>(result), i, answers[i] + origin);
      break;
    case kInt8: store(DataOf<int8_t>(result)); break;
    case kInt16: store(DataOf<int16_t>(result)); break;
    default: store(DataOf<int32_t>(result)); break;
  }
  return result;
}

// The items of vector or scalar `source` (a slot) at `offsets`, as a vector.
Ref ItemsAt(const Ref& source, std::vector<uint32_t> offsets) {
  SelectionPlan plan;
  plan.shape = {static_cast<uint32_t>(offsets.size())};
  plan.groups = {std::move(offsets)};
  return GatherSelection(source, plan);
}

// The offsets i (of n) for which keep(i) holds.
template <class Keep>
std::vector<uint32_t> OffsetsWhere(uint32_t n, Keep keep) {
  std::vector<uint32_t> offsets;
  for (uint32_t i = 0; i < n; ++i)
    if (keep(i)) offsets.push_back(i);
  return offsets;
}

CallResult IndexOfHandler(const Ref& left, const Ref& right) { return {IndexOf(left, right)}; }

// The search functions below are given hashed arrays as they are: each searches the argument it
// builds its table on as given (a hashed array with its kept table) and reads the plain arrays for
// everything else.

// A∊B: for each element of A, whether it occurs among the elements of B.
CallResult Membership(const Ref& left, const Ref& right) {
  PlainArguments plain(left, right);
  RequireArrays(plain.Left(), plain.Right());
  const uint64_t m = ElementCount(plain.Left());
  const uint32_t n = static_cast<uint32_t>(ElementCount(plain.Right()));
  std::vector<uint32_t> answers = Answers(right, n, 1, plain.Left(), m);
  if (ArrayRank(plain.Left()) == 0) return {MakeIntScalar(answers[0] != n)};
  Ref result = NewArray(kBool, ShapeOfArray(plain.Left()));
  uint8_t* bits = DataOf<uint8_t>(result);
  for (uint64_t i = 0; i < m; ++i) SetBit(bits, i, answers[i] != n);
  return {result};
}

// A∩B: the items of A found in B; A~B: those not found.
CallResult Select(const Ref& left, const Ref& right, bool found) {
  PlainArguments plain(left, right);
  RequireArrays(plain.Left(), plain.Right());
  RequireVectorOrScalar(plain.Left());
  const uint32_t m = CellCount(plain.Left());
  const uint32_t n = static_cast<uint32_t>(ElementCount(plain.Right()));
  std::vector<uint32_t> answers = Answers(right, n, 1, plain.Left(), m);
  return {ItemsAt(plain.Left(), OffsetsWhere(m, [&](uint32_t i) { return (answers[i] != n) == found; }))};
}
CallResult Intersection(const Ref& left, const Ref& right) { return Select(left, right, true); }
CallResult Without(const Ref& left, const Ref& right) { return Select(left, right, false); }

// A∪B: the items of A, then those of B that are neither in A nor earlier in B.
CallResult Union(const Ref& left, const Ref& right) {
  PlainArguments plain(left, right);
  const Ref& a = plain.Left();
  const Ref& b = plain.Right();
  RequireArrays(a, b);
  RequireVectorOrScalar(a);
  RequireVectorOrScalar(b);
  const uint32_t nA = CellCount(a);
  const uint32_t nB = CellCount(b);
  std::vector<uint32_t> inLeft = Answers(left, nA, 1, b, nB);
  std::vector<uint32_t> inRight = Answers(b, nB, 1, b, nB);
  std::vector<uint32_t> added = OffsetsWhere(nB, [&](uint32_t j) { return inLeft[j] == nA && inRight[j] == j; });
  if (nA == 0) return {ItemsAt(b, std::move(added))};
  if (added.empty()) {
    if (ArrayRank(a) == 0) return {ItemsAt(a, {0})};
    Retain(a);
    return {a};
  }
  Temporaries hold;
  hold[0] = a;
  Retain(a);
  hold[1] = ItemsAt(b, std::move(added));
  return {Catenated(hold[0], hold[1])};
}

// ∪B: the major cells of B at their first occurrence.
CallResult Unique(const Ref&, const Ref& right) {
  PlainArguments plain(0, right);
  const Ref& b = plain.Right();
  if (!IsArray(b)) SIGNAL(kDomainError);
  const uint32_t rank = ArrayRank(b);
  if (rank == 0) return {ItemsAt(b, {0})};
  const uint32_t n = ShapeOf(b)[0];
  const uint64_t w = Product(ShapeOf(b) + 1, rank - 1);
  std::vector<uint32_t> first = Answers(right, n, w, b, n);
  std::vector<uint32_t> kept = OffsetsWhere(n, [&](uint32_t i) { return first[i] == i; });
  SelectionPlan plan;
  plan.shape = ShapeOfArray(b);
  plan.shape[0] = static_cast<uint32_t>(kept.size());
  if (rank == 1) {
    plan.groups = {std::move(kept)};
  } else {
    for (uint32_t& i : kept) i = static_cast<uint32_t>(i * w);
    std::vector<uint32_t> within(w);
    for (uint32_t k = 0; k < w; ++k) within[k] = k;
    plan.groups = {std::move(kept), std::move(within)};
  }
  return {GatherSelection(b, plan)};
}

inline constexpr uint64_t kPositionsPerInterruptCheck = 1024;

// A⍷B: marks the positions of B where an array equal to A begins (A's shape taken with leading 1s
// to B's rank).
template <class T>
void MarkOccurrences(const T* pattern, const std::vector<uint32_t>& patternShape, const T* data,
                     const std::vector<uint32_t>& shape, uint8_t* marks) {
  const uint32_t rank = static_cast<uint32_t>(shape.size());
  std::vector<uint64_t> stride(rank, 1);
  for (uint32_t d = rank; d-- > 1;) stride[d - 1] = stride[d] * shape[d];
  // The offset in B of each element of the pattern, relative to where the pattern starts.
  const uint64_t patternCount = Product(patternShape.data(), rank);
  std::vector<uint64_t> offsets(patternCount);
  std::vector<uint32_t> digit(rank, 0);
  for (uint64_t k = 0; k < patternCount; ++k) {
    uint64_t offset = 0;
    for (uint32_t d = 0; d < rank; ++d) offset += digit[d] * stride[d];
    offsets[k] = offset;
    for (uint32_t d = rank; d-- > 0;) {
      if (++digit[d] < patternShape[d]) break;
      digit[d] = 0;
    }
  }
  ItemEquality equal;
  const uint64_t count = Product(shape.data(), rank);
  std::fill(digit.begin(), digit.end(), 0);
  for (uint64_t p = 0; p < count; ++p) {
    if (p % kPositionsPerInterruptCheck == 0) CheckStrongInterrupt();  // a position may cost a whole pattern
    bool fits = true;
    for (uint32_t d = 0; d < rank && fits; ++d) fits = digit[d] + patternShape[d] <= shape[d];
    uint64_t k = 0;
    if (fits)
      while (k < patternCount && equal(data[p + offsets[k]], pattern[k])) ++k;
    SetBit(marks, p, fits && k == patternCount);
    for (uint32_t d = rank; d-- > 0;) {
      if (++digit[d] < shape[d]) break;
      digit[d] = 0;
    }
  }
}

CallResult FindPattern(const Ref& left, const Ref& right) {
  RequireArrays(left, right);
  const uint32_t patternRank = ArrayRank(left);
  const uint32_t rank = ArrayRank(right);
  std::vector<uint32_t> shape = ShapeOfArray(right);
  std::vector<uint32_t> patternShape(rank, 1);
  bool possible = patternRank <= rank;
  for (uint32_t d = 0; possible && d < patternRank; ++d) {
    patternShape[rank - patternRank + d] = ShapeOf(left)[d];
    possible = ShapeOf(left)[d] <= shape[rank - patternRank + d];
  }
  SearchTypes common = CommonSearchType(TypeOf(left), TypeOf(right));
  possible = possible && !common.neverEqual;
  Temporaries hold;
  hold[0] = TypeOf(left) == common.type || !possible ? (Retain(left), left) : ConvertedCopy(left, common.type);
  hold[1] = TypeOf(right) == common.type || !possible ? (Retain(right), right) : ConvertedCopy(right, common.type);
  hold[2] = NewArray(kBool, shape);
  const uint64_t count = ElementCount(hold[2]);
  std::memset(DataOf<uint8_t>(hold[2]), 0, (count + 7) / 8);
  if (possible)
    WithSearchCType(common.type, [&](auto tag) {
      using T = typename decltype(tag)::Type;
      MarkOccurrences(DataOf<T>(hold[0]), patternShape, DataOf<T>(hold[1]), shape, DataOf<uint8_t>(hold[2]));
    });
  if (rank == 0) return {MakeIntScalar(GetBit(DataOf<uint8_t>(hold[2]), 0))};
  return {hold.Take(2)};
}

constexpr PrimitiveRow kSearchRows[] = {
    {kPrimTilde, nullptr, Without, kTakesHashed},
    {kPrimIota, nullptr, IndexOfHandler, kTakesHashed},
    {kPrimEpsilon, nullptr, Membership, kTakesHashed},
    {kPrimUnion, Unique, Union, kTakesHashed},
    {kPrimIntersection, nullptr, Intersection, kTakesHashed},
    {kPrimFind, nullptr, FindPattern, 0},
};

}  // namespace

// A⍳B: the index of each major cell of B (of A's cell shape) among A's major cells.
Ref IndexOf(const Ref& left, const Ref& right) {
  PlainArguments plain(left, right);
  const Ref& a = plain.Left();
  const Ref& b = plain.Right();
  RequireArrays(a, b);
  const uint32_t rankA = ArrayRank(a);
  const uint32_t rankB = ArrayRank(b);
  if (rankA == 0) SIGNAL(kRankError);
  const uint32_t cellRank = rankA - 1;
  if (rankB < cellRank) SIGNAL(kRankError);
  const uint32_t frameRank = rankB - cellRank;
  if (!std::equal(ShapeOf(a) + 1, ShapeOf(a) + rankA, ShapeOf(b) + frameRank)) SIGNAL(kLengthError);
  const uint32_t n = ShapeOf(a)[0];
  const uint64_t largest = uint64_t{IndexOrigin()} + n;
  if (largest > 0x7FFFFFFF) SIGNAL(kLimitError);
  std::vector<uint32_t> shape(ShapeOf(b), ShapeOf(b) + frameRank);
  const uint64_t cells = Product(shape.data(), frameRank);
  std::vector<uint32_t> answers = Answers(left, n, Product(ShapeOf(a) + 1, cellRank), b, cells);
  return IndexArrayOf(shape, answers, IndexOrigin(), largest);
}

Ref TakePlainArray(Ref counted) {
  if (!IsHashedArray(counted)) return counted;
  Ref array = Words(counted)[kHashedArray];
  Retain(array);
  Release(counted);
  return array;
}

Ref HashedArrayOf(const Ref& array) {
  if (IsHashedArray(array)) {
    Retain(array);
    return array;
  }
  if (!IsArray(array)) SIGNAL(kDomainError);
  Ref hashed = GetSpace(kHashedWords);
  uint32_t* w = Words(hashed);
  w[1] = 1;
  w[2] = kHashedArrayType;
  w[kHashedArray] = array;
  Retain(array);
  w[kHashedTable] = 0;
  return hashed;
}

Ref KeptTable(Ref hashed) { return Words(hashed)[kHashedTable]; }

uint32_t HashedState(Ref value) {
  if (!IsHashedArray(value)) return 0;
  return KeptTable(value) ? 2 : 1;
}

PlainArguments::PlainArguments(const Ref& left, const Ref& right) {
  hold_[0] = PlainArray(left);
  Retain(hold_[0]);
  hold_[1] = PlainArray(right);
  Retain(hold_[1]);
}

void InitialiseSearch() {
  InstallPrimitives(kSearchRows);
  RegisterSmallRecordType(kHashedArraySubType, HashedArrayFields, nullptr);
  RegisterSmallRecordType(kTableSubType, TableFields, nullptr);
}

// ==== The key operator ===================================================================================
//
// A f⌸ B and f⌸ B. The major cells of the keys (A, or B when monadic) are grouped with one search
// table built on the keys and consulted for the keys themselves: each cell learns the index of its
// first equal cell (tolerantly for floats, as = compares). Groups come in order of first appearance
// and the cells of a group keep their order. The operands ⊣ and ⊢ and the dfns {≢⍵}, {⊂⍵} and
// {⍺,≢⍵} are answered from the groups directly; any other operand is called once per group with the
// key and the group's cells of B (or the indices of the key's occurrences) and its results are mixed.

namespace {


// The cells of the keys gathered into groups, numbered in order of first appearance.
struct KeyGroups {
  std::vector<uint32_t> groupOf;  // per cell: its group
  std::vector<uint32_t> first;    // per group: the index of its first cell, whose value is the key
  std::vector<uint32_t> sizes;    // per group: the number of its cells
  uint32_t Count() const { return static_cast<uint32_t>(first.size()); }
};

uint64_t CellElements(Ref array) { return Product(ShapeOf(array) + 1, ArrayRank(array) - 1); }

// Groups the `n` major cells of `keys` (a slot). A cell joins the group of its first equal cell,
// which comes before it and already has its group (under a tolerance that is not transitive, that
// cell may itself have joined an earlier one: the chain stays in one group).
KeyGroups GroupCells(const Ref& keys, uint32_t n) {
  KeyGroups groups;
  groups.groupOf = Answers(keys, n, CellElements(keys), keys, n);
  for (uint32_t i = 0; i < n; ++i) {
    uint32_t& g = groups.groupOf[i];
    if (g == i) {
      g = groups.Count();
      groups.first.push_back(i);
      groups.sizes.push_back(0);
    } else {
      g = groups.groupOf[g];
    }
    ++groups.sizes[g];
  }
  return groups;
}

// The cells of every group, group after group, each group in cell order (a stable counting sort).
class GroupMembers {
 public:
  explicit GroupMembers(const KeyGroups& groups) : begin_(groups.Count() + 1, 0), cells_(groups.groupOf.size()) {
    for (uint32_t g = 0; g < groups.Count(); ++g) begin_[g + 1] = begin_[g] + groups.sizes[g];
    std::vector<uint32_t> next(begin_.begin(), begin_.end() - 1);
    for (uint32_t i = 0; i < cells_.size(); ++i) cells_[next[groups.groupOf[i]]++] = i;
  }
  std::span<const uint32_t> Of(uint32_t g) const { return {cells_.data() + begin_[g], begin_[g + 1] - begin_[g]}; }

 private:
  std::vector<uint32_t> begin_;
  std::vector<uint32_t> cells_;
};

// The major cells of `array` (a slot, rank ≥ 1) at `indices`: an array of them (`single` false), or
// the one cell at indices[0] itself (`single`).
Ref MajorCellsAt(const Ref& array, std::span<const uint32_t> indices, bool single) {
  const uint64_t w = CellElements(array);
  SelectionPlan plan;
  plan.shape.assign(ShapeOf(array) + 1, ShapeOf(array) + ArrayRank(array));
  if (!single) plan.shape.insert(plan.shape.begin(), static_cast<uint32_t>(indices.size()));
  std::vector<uint32_t> starts(indices.begin(), indices.begin() + (single ? 1 : indices.size()));
  for (uint32_t& s : starts) s = static_cast<uint32_t>(s * w);
  std::vector<uint32_t> within(w);
  for (uint32_t k = 0; k < w; ++k) within[k] = k;
  plan.groups = {std::move(starts), std::move(within)};
  return GatherSelection(array, plan);
}

// The right argument of one call of the operand: the cells of `values` at `members`, or when `values`
// is 0 (monadic) the members themselves as indices in origin ⎕IO (`origin`) among `n` cells.
Ref GroupArgument(const Ref& values, std::span<const uint32_t> members, uint32_t origin, uint32_t n) {
  if (values) return MajorCellsAt(values, members, false);
  const uint32_t size = static_cast<uint32_t>(members.size());
  return IndexArrayOf({size}, {members.begin(), members.end()}, origin, uint64_t{origin} + n - 1);
}

// An integer array of `shape` holding `counts`, in the narrowest type that holds them.
Ref CountArray(const std::vector<uint32_t>& shape, const std::vector<uint32_t>& counts) {
  return IndexArrayOf(shape, counts, 0, counts.empty() ? 0 : *std::max_element(counts.begin(), counts.end()));
}

// {⍺,≢⍵}: each key with its count after it, as the last column of the keys (a vector of keys made a
// one-column matrix first).
Ref KeysAndCounts(const Ref& keys, const KeyGroups& groups) {
  Temporaries hold;
  hold[0] = MajorCellsAt(keys, groups.first, false);
  if (ArrayRank(keys) == 1) {
    Ref table = CallPrimitive(kPrimCommaBar, 0, hold[0]).value;
    Release(hold[0]);
    hold[0] = table;
  }
  // One count for each row of the keys: every count repeated over the rows of its key cell.
  std::vector<uint32_t> shape = ShapeOfArray(hold[0]);
  shape.pop_back();
  const uint64_t rows = Product(shape.data() + 1, static_cast<uint32_t>(shape.size()) - 1);
  std::vector<uint32_t> counts;
  counts.reserve(groups.Count() * rows);
  for (uint32_t size : groups.sizes) counts.insert(counts.end(), rows, size);
  hold[1] = CountArray(shape, counts);
  return CallPrimitive(kPrimComma, hold[0], hold[1]).value;
}

// The operand's result for each group, in group order, as the items of a vector. With no groups the
// operand is called once on a key cell and a group made of fill items, and its result stands as the
// prototype of the empty vector.
Ref GroupResults(const Ref& fn, const Ref& keys, const Ref& values, const KeyGroups& groups) {
  const uint32_t origin = IndexOrigin();
  const uint32_t n = static_cast<uint32_t>(groups.groupOf.size());
  const GroupMembers members(groups);
  ItemCollector results({groups.Count()});
  Temporaries hold;
  for (uint32_t g = 0; g < groups.Count(); ++g) {
    hold[0] = MajorCellsAt(keys, std::span<const uint32_t>(&groups.first[g], 1), true);
    hold[1] = GroupArgument(values, members.Of(g), origin, n);
    results.Put(g, ResultOf(fn, hold[0], hold[1]));
    Release(hold[0]);
    Release(hold[1]);
  }
  if (groups.Count() == 0) {
    hold[2] = MakeIntScalar(1);
    hold[1] = TakeOrDrop(hold[2], keys, 0, false);  // one cell of fill items
    Release(hold[2]);
    constexpr uint32_t kFirstCell[] = {0};
    hold[0] = MajorCellsAt(hold[1], kFirstCell, true);
    Release(hold[1]);
    hold[1] = values ? values : RootWordAt(kRootEmptyNumericVector);
    Retain(hold[1]);
    hold[2] = ResultOf(fn, hold[0], hold[1]);
  }
  return results.Finish(hold[2]);
}

// The groups themselves, one item each: B's cells or the indices of the key's occurrences.
Ref GroupItems(const Ref& values, const KeyGroups& groups) {
  const uint32_t origin = IndexOrigin();
  const uint32_t n = static_cast<uint32_t>(groups.groupOf.size());
  const GroupMembers members(groups);
  ItemCollector items({groups.Count()});
  for (uint32_t g = 0; g < groups.Count(); ++g) items.Put(g, GroupArgument(values, members.Of(g), origin, n));
  return items.Finish(0);
}

// The operand forms answered without calling the operand.
enum class KeyForm { kCalled, kKeys, kGroupsMixed, kCounts, kGroups, kKeysAndCounts };

KeyForm FormOf(Ref fn) {
  switch (PrimitiveCodeOf(fn)) {
    case kPrimLeft: return KeyForm::kKeys;
    case kPrimRight: return KeyForm::kGroupsMixed;
    default: break;
  }
  if (!IsRef(fn) || (TypeWord(fn) & 0xFFFF) != kDfnObjectClass) return KeyForm::kCalled;
  static constexpr struct {
    std::u32string_view text;
    KeyForm form;
  } kDfnForms[] = {{U"{≢⍵}", KeyForm::kCounts}, {U"{⊂⍵}", KeyForm::kGroups}, {U"{⍺,≢⍵}", KeyForm::kKeysAndCounts}};
  const std::u32string text = FunctionValueText(fn);
  for (const auto& f : kDfnForms)
    if (text == f.text) return f.form;
  return KeyForm::kCalled;
}

// The key applied with operand `fn` to `keys` and `values` (0 when monadic), all slots. No groups
// (empty arguments) always call the operand, for the prototype of the result.
Ref Key(const Ref& fn, const Ref& keys, const Ref& values) {
  const uint32_t n = ShapeOf(keys)[0];
  const KeyGroups groups = GroupCells(keys, n);
  const KeyForm form = n == 0 ? KeyForm::kCalled : FormOf(fn);
  Temporaries hold;
  switch (form) {
    case KeyForm::kKeys: return MajorCellsAt(keys, groups.first, false);
    case KeyForm::kCounts: return CountArray({groups.Count()}, groups.sizes);
    case KeyForm::kKeysAndCounts: return KeysAndCounts(keys, groups);
    case KeyForm::kGroups: return GroupItems(values, groups);
    case KeyForm::kGroupsMixed: hold[0] = GroupItems(values, groups); break;
    case KeyForm::kCalled: hold[0] = GroupResults(fn, keys, values, groups); break;
  }
  return MixItems(hold[0], 0);
}

CallResult ApplyKey(const Ref& derived, const Ref& left, const Ref& right) {
  if (!IsArray(right) || (left && !IsArray(left))) SIGNAL(kDomainError);
  if (ArrayRank(right) == 0 || (left && ArrayRank(left) == 0)) SIGNAL(kRankError);
  if (left && ShapeOf(left)[0] != ShapeOf(right)[0]) SIGNAL(kLengthError);
  const Ref operand = Words(derived)[kDerivedLeftOperand];
  if (!operand || IsArrayOperand(operand)) SIGNAL(kSyntaxError);
  Temporaries hold;
  hold[0] = operand;
  Retain(hold[0]);
  hold[1] = left ? left : right;
  Retain(hold[1]);
  hold[2] = left ? right : 0;
  Retain(hold[2]);
  return {Key(hold[0], hold[1], hold[2])};
}

constexpr OperatorRow kKeyOperatorRows[] = {{kPrimKey, ApplyKey}};

}  // namespace

void InitialiseKeyOperator() { InstallOperators(kKeyOperatorRows); }

}  // namespace vantor
