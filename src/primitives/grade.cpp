// Grade ⍋ ⍒. The cells of the argument become sort keys: cells of 1, 2, 4 or 8 bytes of integers,
// characters or binary64 are packed into one unsigned word whose order is the cells' order (and
// complemented for ⍒); those are sorted by counting or LSD radix sorts above fixed sizes. Other
// cells, and small arrays, go through a quicksort of the index vector whose comparison ends with the
// index difference, so every sort is stable. The permutation is built in C++ memory from data that
// nothing moves meanwhile (no allocation happens while sorting). Long sorts look for a strong
// interrupt between radix passes, buckets and partitions.
#include "primitives/grade.h"

#include <algorithm>
#include <bit>
#include <complex>
#include <cstring>
#include <numeric>
#include <type_traits>
#include <unordered_map>
#include <vector>

#include "primitives/dispatch.h"
#include "base/errors.h"
#include "memory/memory1.h"
#include "primitives/darith.h"
#include "primitives/index.h"
#include "primitives/same.h"
#include "sysfns/quadvar.h"

namespace vantor {

static constexpr char kUnit[] = "grade";

namespace {


// From these counts of cells of 2, 4 and 8 bytes, sorting goes by counting or radix sort.
constexpr uint32_t kCountingThreshold2 = 6000;
constexpr uint32_t kRadixThreshold4 = 12000;
constexpr uint32_t kRadixThreshold8 = 21000;
constexpr uint32_t kDirectlySorted = 4;  // quicksort partitions this small are sorted by insertion

using Permutation = std::vector<uint32_t>;

ElementType TypeOf(Ref r) { return ElementOf(TypeWord(r)); }
uint32_t ArrayRank(Ref r) { return RankOf(TypeWord(r)); }

uint64_t TrailingProduct(Ref array) {
  uint64_t p = 1;
  for (uint32_t d = 1; d < ArrayRank(array); ++d) p *= ShapeOf(array)[d];
  return p;
}

// ---- Order-preserving keys -------------------------------------------------------------------------

// An unsigned key of the element's width whose order is the element's order. ¯0 counts as 0, so
// that equal values stay in index order.
template <class T>
auto OrderKey(T x) {
  if constexpr (std::is_same_v<T, double>) {
    uint64_t bits = std::bit_cast<uint64_t>(x + 0.0);
    return bits >> 63 ? ~bits : bits | (uint64_t{1} << 63);
  } else if constexpr (std::is_signed_v<T>) {
    using U = std::make_unsigned_t<T>;
    return static_cast<U>(static_cast<U>(x) ^ (U{1} << (8 * sizeof(T) - 1)));
  } else {
    return static_cast<std::make_unsigned_t<std::conditional_t<std::is_same_v<T, char16_t>, uint16_t,
                                                               std::conditional_t<std::is_same_v<T, char32_t>,
                                                                                  uint32_t, T>>>>(x);
  }
}
template <class T>
using OrderKeyType = decltype(OrderKey(T{}));

// A cell of w elements packed into one key K, the first element most significant; complemented for
// a descending sort.
template <class K, class T>
K CellKey(const T* cell, uint64_t w, bool down) {
  constexpr uint32_t kElementBits = 8 * sizeof(OrderKeyType<T>);
  K key = 0;
  for (uint64_t k = 0; k < w; ++k) {
    if constexpr (kElementBits < 8 * sizeof(K)) key <<= kElementBits;
    key |= static_cast<K>(OrderKey(cell[k]));
  }
  return down ? static_cast<K>(~key) : key;
}

template <class K, class T>
std::vector<K> PackedKeys(const T* data, uint32_t n, uint64_t w, bool down) {
  std::vector<K> keys(n);
  for (uint32_t i = 0; i < n; ++i) keys[i] = CellKey<K>(data + i * w, w, down);
  return keys;
}

// ---- Sorts -----------------------------------------------------------------------------------------

// A stable counting sort of 8- or 16-bit keys.
template <class K>
Permutation CountingSort(const std::vector<K>& keys) {
  std::vector<uint32_t> start((size_t{1} << (8 * sizeof(K))) + 1, 0);
  for (K k : keys) ++start[size_t{k} + 1];
  std::partial_sum(start.begin(), start.end(), start.begin());
  Permutation perm(keys.size());
  for (uint32_t i = 0; i < keys.size(); ++i) perm[start[keys[i]]++] = i;
  return perm;
}

constexpr uint32_t kDigitBits = 11;
constexpr uint32_t kBuckets = 1u << kDigitBits;

// Least-significant-digit radix passes over the n values at `values` carrying a key of `keyBits`
// bits, 11 bits per pass, with `scratch` of n values; a pass in which every key has the same digit
// is skipped. The sorted values end at `values`.
template <class V, class KeyOf>
void RadixPasses(V* values, V* scratch, uint32_t n, uint32_t keyBits, KeyOf keyOf) {
  const uint32_t passes = (keyBits + kDigitBits - 1) / kDigitBits;
  auto digit = [](uint64_t key, uint32_t pass) { return static_cast<uint32_t>(key >> (pass * kDigitBits)) & (kBuckets - 1); };
  std::vector<uint32_t> counts(passes * kBuckets, 0);
  for (uint32_t i = 0; i < n; ++i)
    for (uint32_t p = 0; p < passes; ++p) ++counts[p * kBuckets + digit(keyOf(values[i]), p)];
  V* from = values;
  V* to = scratch;
  for (uint32_t p = 0; p < passes; ++p) {
    CheckStrongInterrupt();
    uint32_t* count = &counts[p * kBuckets];
    if (std::find(count, count + kBuckets, n) != count + kBuckets) continue;
    std::exclusive_scan(count, count + kBuckets, count, 0u);
    for (uint32_t i = 0; i < n; ++i) to[count[digit(keyOf(from[i]), p)]++] = from[i];
    std::swap(from, to);
  }
  if (from != values) std::copy_n(from, n, values);
}

// Cells with 32-bit keys: each key is packed with its index into one 64-bit word, so that the words
// are distinct and their numeric order is the stable order. One pass on the top 11 bits of the keys
// scatters the words into 2048 buckets; each bucket, small enough to stay in the cache, is then
// sorted on the remaining 21 bits.
template <class T>
Permutation RadixSort32(const T* data, uint32_t n, uint64_t w, bool down) {
  constexpr uint32_t kLowBits = 32 - kDigitBits;
  constexpr uint32_t kSmallBucket = 32;  // sorted by insertion
  std::vector<uint64_t> packed(n), sorted(n);
  std::vector<uint32_t> start(kBuckets + 1, 0);
  for (uint32_t i = 0; i < n; ++i) {
    packed[i] = uint64_t{CellKey<uint32_t>(data + i * w, w, down)} << 32 | i;
    ++start[(packed[i] >> (32 + kLowBits)) + 1];
  }
  std::partial_sum(start.begin(), start.end(), start.begin());
  std::vector<uint32_t> next(start.begin(), start.end() - 1);
  for (uint64_t v : packed) sorted[next[v >> (32 + kLowBits)]++] = v;
  for (uint32_t b = 0; b < kBuckets; ++b) {
    CheckStrongInterrupt();
    uint64_t* bucket = sorted.data() + start[b];
    const uint32_t size = start[b + 1] - start[b];
    if (size <= kSmallBucket) {
      for (uint32_t i = 1; i < size; ++i)
        for (uint32_t j = i; j > 0 && bucket[j] < bucket[j - 1]; --j) std::swap(bucket[j], bucket[j - 1]);
    } else {
      RadixPasses(bucket, packed.data() + start[b], size, kLowBits,
                  [](uint64_t v) { return (v >> 32) & ((1u << kLowBits) - 1); });
    }
  }
  Permutation perm(n);
  for (uint32_t i = 0; i < n; ++i) perm[i] = static_cast<uint32_t>(sorted[i]);
  return perm;
}
// Cells with 64-bit keys: each key with its index in a record, sorted by LSD passes.
template <class T>
Permutation RadixSort64(const T* data, uint32_t n, uint64_t w, bool down) {
  struct Entry {
    uint64_t key;
    uint32_t index;
  };
  std::vector<Entry> entries(n), scratch(n);
  for (uint32_t i = 0; i < n; ++i) entries[i] = {CellKey<uint64_t>(data + i * w, w, down), i};
  RadixPasses(entries.data(), scratch.data(), n, 64, [](const Entry& e) { return e.key; });
  Permutation perm(n);
  for (uint32_t i = 0; i < n; ++i) perm[i] = entries[i].index;
  return perm;
}

// Sorts the index vector by `less`, a strict total order (ties between cells broken by the index, so
// the result is the stable order). Median-of-three quicksort with the partitions on an explicit
// stack, the larger pushed first so that the stack stays logarithmic.
template <class Less>
void QuickSortIndices(Permutation& v, Less less) {
  struct Range {
    uint32_t low, high;  // [low, high)
  };
  std::vector<Range> stack{{0, static_cast<uint32_t>(v.size())}};
  while (!stack.empty()) {
    CheckStrongInterrupt();
    auto [low, high] = stack.back();
    stack.pop_back();
    if (high - low <= kDirectlySorted) {
      for (uint32_t i = low + 1; i < high; ++i)
        for (uint32_t j = i; j > low && less(v[j], v[j - 1]); --j) std::swap(v[j], v[j - 1]);
      continue;
    }
    uint32_t mid = low + (high - low) / 2;
    if (less(v[mid], v[low])) std::swap(v[mid], v[low]);
    if (less(v[high - 1], v[low])) std::swap(v[high - 1], v[low]);
    if (less(v[high - 1], v[mid])) std::swap(v[high - 1], v[mid]);
    std::swap(v[low], v[mid]);  // the median is the pivot, kept at the front while partitioning
    const uint32_t pivot = v[low];
    uint32_t i = low, j = high;
    for (;;) {
      do ++i;
      while (i < high && less(v[i], pivot));
      do --j;
      while (less(pivot, v[j]));
      if (i >= j) break;
      std::swap(v[i], v[j]);
    }
    std::swap(v[low], v[j]);
    Range left{low, j}, right{j + 1, high};
    if (left.high - left.low > right.high - right.low) std::swap(left, right);
    stack.push_back(right);
    stack.push_back(left);
  }
}

Permutation Identity(uint32_t n) {
  Permutation perm(n);
  std::iota(perm.begin(), perm.end(), 0u);
  return perm;
}

template <class K>
Permutation QuickSortKeys(const std::vector<K>& keys) {
  Permutation perm = Identity(static_cast<uint32_t>(keys.size()));
  QuickSortIndices(perm, [&](uint32_t a, uint32_t b) { return keys[a] < keys[b] || (keys[a] == keys[b] && a < b); });
  return perm;
}

template <class T>
int CompareElements(const T& a, const T& b) {
  if constexpr (std::is_same_v<T, Decimal>) return DecimalLess(a, b) ? -1 : DecimalLess(b, a) ? 1 : 0;
  else return a < b ? -1 : b < a ? 1 : 0;
}

// Cells of w elements compared element by element in ravel order.
template <class T>
Permutation QuickSortCells(const T* data, uint32_t n, uint64_t w, bool down) {
  Permutation perm = Identity(n);
  QuickSortIndices(perm, [&](uint32_t a, uint32_t b) {
    for (uint64_t k = 0; k < w; ++k) {
      int c = CompareElements(data[a * w + k], data[b * w + k]);
      if (c != 0) return down ? c > 0 : c < 0;
    }
    return a < b;
  });
  return perm;
}

// The stable sorting permutation of n cells of w elements.
template <class T>
Permutation GradeCells(const T* data, uint32_t n, uint64_t w, bool down) {
  if constexpr (!std::is_same_v<T, Decimal>) {
    switch (w * sizeof(OrderKeyType<T>)) {
      case 1: return CountingSort(PackedKeys<uint8_t>(data, n, w, down));
      case 2:
        if (n >= kCountingThreshold2) return CountingSort(PackedKeys<uint16_t>(data, n, w, down));
        return QuickSortKeys(PackedKeys<uint16_t>(data, n, w, down));
      case 4:
        if (n >= kRadixThreshold4) return RadixSort32(data, n, w, down);
        return QuickSortKeys(PackedKeys<uint32_t>(data, n, w, down));
      case 8:
        if (n >= kRadixThreshold8) return RadixSort64(data, n, w, down);
        return QuickSortKeys(PackedKeys<uint64_t>(data, n, w, down));
      default: break;
    }
  }
  return QuickSortCells(data, n, w, down);
}

// Boolean cells padded to whole bytes, the first bit most significant, so that byte order is cell
// order.
std::vector<uint8_t> PaddedBits(const uint8_t* bits, uint32_t n, uint64_t w) {
  const uint64_t cellBytes = (w + 7) / 8;
  std::vector<uint8_t> bytes(n * cellBytes, 0);
  for (uint64_t i = 0; i < n; ++i)
    for (uint64_t k = 0; k < w; ++k)
      if (GetBit(bits, i * w + k)) SetBit(bytes.data() + i * cellBytes, k, true);
  return bytes;
}

// The sorting permutation of the major cells of a simple array (nothing allocates meanwhile).
Permutation SortingPermutation(Ref array, bool down) {
  const uint32_t n = ShapeOf(array)[0];
  const uint64_t w = TrailingProduct(array);
  switch (TypeOf(array)) {
    case kBool: {
      std::vector<uint8_t> bytes = PaddedBits(DataOf<uint8_t>(array), n, w);
      return GradeCells(bytes.data(), n, (w + 7) / 8, down);
    }
    case kCharAv: {
      std::vector<char32_t> characters(n * w);
      for (uint64_t i = 0; i < n * w; ++i) characters[i] = AvCharacter(DataOf<uint8_t>(array)[i]);
      return GradeCells(characters.data(), n, w, down);
    }
    case kComplex: {
      std::vector<double> real(n * w);
      const std::complex<double>* z = DataOf<std::complex<double>>(array);
      for (uint64_t i = 0; i < n * w; ++i) {
        if (z[i].imag() != 0) SIGNAL(kDomainError);
        real[i] = z[i].real();
      }
      return GradeCells(real.data(), n, w, down);
    }
    case kInt8: return GradeCells(DataOf<int8_t>(array), n, w, down);
    case kInt16: return GradeCells(DataOf<int16_t>(array), n, w, down);
    case kInt32: return GradeCells(DataOf<int32_t>(array), n, w, down);
    case kInt64: return GradeCells(DataOf<int64_t>(array), n, w, down);
    case kFloat64: return GradeCells(DataOf<double>(array), n, w, down);
    case kDecimal128: return GradeCells(DataOf<Decimal>(array), n, w, down);
    case kChar8: return GradeCells(DataOf<uint8_t>(array), n, w, down);
    case kChar16: return GradeCells(DataOf<char16_t>(array), n, w, down);
    case kChar32: return GradeCells(DataOf<char32_t>(array), n, w, down);
    default: SIGNAL(kDomainError);  // nested or mixed
  }
}

// The permutation plus ⎕IO as a vector of the narrowest integer type (at least 8 bits).
Ref GradeResult(const Permutation& perm) {
  const uint32_t origin = IndexOrigin();
  const uint64_t largest = perm.size() + origin;
  ElementType type = largest <= 128 ? kInt8 : largest <= 32768 ? kInt16 : kInt32;
  Ref result = AllocVector(type, static_cast<uint32_t>(perm.size()));
  auto store = [&](auto* out) {
    for (size_t i = 0; i < perm.size(); ++i) out[i] = static_cast<std::remove_reference_t<decltype(*out)>>(perm[i] + origin);
  };
  if (type == kInt8) store(DataOf<int8_t>(result));
  else if (type == kInt16) store(DataOf<int16_t>(result));
  else store(DataOf<int32_t>(result));
  return result;
}

void CheckGradable(Ref array) {
  if (!IsArray(array)) SIGNAL(kDomainError);
  if (ArrayRank(array) == 0) SIGNAL(kRankError);
  if (ShapeOf(array)[0] > 0x7FFFFFFFu) SIGNAL(kLimitError);
}

// ---- Grading with a collating array ------------------------------------------------------------------

// The characters of an array in ravel order, as code points.
std::vector<char32_t> CodePoints(Ref array) {
  std::vector<char32_t> points(ElementCount(array));
  WithReader(array, [&](auto read) {
    if constexpr (decltype(read)::kCharacter)
      for (uint64_t i = 0; i < points.size(); ++i) points[i] = read(i);
    return true;
  });
  return points;
}

// Each character of B replaced by its coordinates in A (its first occurrence), the last axis most
// significant; a character absent from A gets A's axis lengths, so it sorts after every present one.
std::vector<uint32_t> CollationKeys(Ref collation, Ref array) {
  const uint32_t rankA = ArrayRank(collation);
  const uint32_t* shapeA = ShapeOf(collation);
  std::vector<char32_t> sequence = CodePoints(collation);
  std::unordered_map<char32_t, uint32_t> position;
  for (uint32_t i = 0; i < sequence.size(); ++i) position.emplace(sequence[i], i);
  std::vector<char32_t> characters = CodePoints(array);
  std::vector<uint32_t> keys(characters.size() * rankA);
  for (size_t c = 0; c < characters.size(); ++c) {
    uint32_t* key = &keys[c * rankA];
    auto found = position.find(characters[c]);
    if (found == position.end()) {
      for (uint32_t d = 0; d < rankA; ++d) key[d] = shapeA[rankA - 1 - d];
      continue;
    }
    uint32_t rest = found->second;
    for (uint32_t d = 0; d < rankA; ++d) {
      key[d] = rest % shapeA[rankA - 1 - d];
      rest /= shapeA[rankA - 1 - d];
    }
  }
  return keys;
}

bool IsSimpleCharacterArray(Ref r) {
  return IsArray(r) && KindOf(TypeWord(r)) == kKindSimple && (kElementInfo[TypeOf(r)].classes & kClassCharacter);
}

Ref CollatedGrade(Ref collation, Ref array, bool down) {
  if (!IsArray(collation) || !IsArray(array)) SIGNAL(kDomainError);
  if (ArrayRank(collation) == 0 || ArrayRank(array) == 0) SIGNAL(kRankError);
  if (!IsSimpleCharacterArray(collation) || !IsSimpleCharacterArray(array)) SIGNAL(kDomainError);
  CheckGradable(array);
  std::vector<uint32_t> keys = CollationKeys(collation, array);
  const uint32_t n = ShapeOf(array)[0];
  return GradeResult(GradeCells(keys.data(), n, TrailingProduct(array) * ArrayRank(collation), down));
}

CallResult GradeUp(const Ref&, const Ref& right) { return {Grade(right, false)}; }
CallResult GradeDown(const Ref&, const Ref& right) { return {Grade(right, true)}; }
CallResult CollatedGradeUp(const Ref& left, const Ref& right) { return {CollatedGrade(left, right, false)}; }
CallResult CollatedGradeDown(const Ref& left, const Ref& right) { return {CollatedGrade(left, right, true)}; }

constexpr PrimitiveRow kGradeRows[] = {
    {kPrimGradeDown, GradeDown, CollatedGradeDown, 0},
    {kPrimGradeUp, GradeUp, CollatedGradeUp, 0},
};

}  // namespace

Ref Grade(Ref array, bool down) {
  CheckGradable(array);
  return GradeResult(SortingPermutation(array, down));
}

void InitialiseGrade() { InstallPrimitives(kGradeRows); }

}  // namespace vantor
