// Reduction, n-wise reduction and scan. The array is seen as outer × length × inner around the axis;
// a scalar primitive operand on simple numeric data runs one kernel of the scalar engine over runs of
// `inner` elements at a time (a whole row of cells per call), so that the per-call cost is paid once
// per cell, not per element. Other operands are applied item by item through the evaluator.
#include "primitives/reduce.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <type_traits>
#include <vector>

#include "base/errors.h"
#include "memory/memory1.h"
#include "primitives/arith.h"
#include "primitives/cat.h"
#include "primitives/index.h"
#include "primitives/op.h"
#include "primitives/same.h"
#include "sysfns/quadvar.h"

namespace vantor {

static constexpr char kUnit[] = "reduce";

namespace {


// ---- The axis ------------------------------------------------------------------------------------------

// An array seen around one axis: `outer` cells before it, `length` along it, `inner` elements in each
// cell after it. A scalar counts as a one-item vector.
struct AxisLayout {
  std::vector<uint32_t> shape;
  uint32_t axis = 0;
  uint64_t outer = 1, length = 1, inner = 1;
};

AxisLayout LayoutOf(Ref array, uint32_t axis) {
  AxisLayout l;
  uint32_t rank = RankOf(TypeWord(array));
  l.shape.assign(ShapeOf(array), ShapeOf(array) + rank);
  if (rank == 0) l.shape.push_back(1);
  l.axis = axis;
  for (uint32_t i = 0; i < l.shape.size(); ++i) {
    if (i < axis) l.outer *= l.shape[i];
    else if (i > axis) l.inner *= l.shape[i];
  }
  l.length = l.shape[axis];
  return l;
}

// The shape of a result that has `length` items along the axis (the axis removed when `drop`).
std::vector<uint32_t> ResultShape(const AxisLayout& l, uint64_t length, bool drop) {
  std::vector<uint32_t> shape = l.shape;
  if (drop) shape.erase(shape.begin() + l.axis);
  else shape[l.axis] = static_cast<uint32_t>(length);
  return shape;
}

// The axis of f/ f⌿ f\ f⍀: the axis register's single axis (origin ⎕IO), else the last or the first.
uint32_t OperatorAxis(Ref array, bool first) {
  const uint32_t rank = std::max(1u, RankOf(TypeWord(array)));
  const Ref& axis = AxisArgument();
  if (!axis) return first ? 0 : rank - 1;
  if (!IsArray(axis) || RankOf(TypeWord(axis)) > 1 || ElementCount(axis) != 1)
    SIGNAL_MESSAGE(kRankError, U"Invalid axis");
  int64_t k = IntegersOf(axis)[0] - static_cast<int64_t>(IndexOrigin());
  if (k < 0 || k >= rank) SIGNAL_MESSAGE(kRankError, U"Invalid axis");
  return static_cast<uint32_t>(k);
}

// ---- Runs of elements for the kernels ----------------------------------------------------------------
// Vector kernels read whole elements, and Booleans a 32-bit word at a time from the top bit of their
// first byte. Runs of Booleans that do not start on a word boundary are first copied to one.

void CopyBooleans(uint8_t* to, uint64_t toIndex, const uint8_t* from, uint64_t fromIndex, uint64_t count) {
  if (toIndex % 8 == 0 && fromIndex % 8 == 0) {
    std::memcpy(to + toIndex / 8, from + fromIndex / 8, count / 8);
    for (uint64_t i = count & ~uint64_t{7}; i < count; ++i) SetBit(to, toIndex + i, GetBit(from, fromIndex + i));
    return;
  }
  for (uint64_t i = 0; i < count; ++i) SetBit(to, toIndex + i, GetBit(from, fromIndex + i));
}

// Working memory for elements of one type (owned by C++, so kernels can write into it freely).
// `bytes` is the element width, 0 for Booleans.
class ElementBuffer {
 public:
  ElementBuffer(uint32_t bytes, uint64_t count) : words_((bytes ? count * bytes : (count + 7) / 8) / 8 + 3, 0) {}
  uint8_t* Data() { return reinterpret_cast<uint8_t*>(words_.data()); }

 private:
  std::vector<uint64_t> words_;
};

// Moves `count` elements of `bytes` bytes each (0: Booleans).
void MoveElements(uint8_t* to, uint64_t toIndex, const uint8_t* from, uint64_t fromIndex, uint64_t count,
                  uint32_t bytes) {
  if (bytes) std::memmove(to + toIndex * bytes, from + fromIndex * bytes, count * bytes);
  else CopyBooleans(to, toIndex, from, fromIndex, count);
}

// One kernel applied to runs: the kernel, its environment, and the element width of its input.
class KernelRunner {
 public:
  explicit KernelRunner(const ScalarKernel& kernel)
      : kernel_(kernel), env_(FetchKernelEnvironment(kernel)), bytes_(kElementInfo[kernel.input].bytes) {}
  uint32_t Bytes() const { return bytes_; }
  // `count` elements from element `index` of `base`, as the kernel reads them.
  const void* Run(const uint8_t* base, uint64_t index, uint64_t count) {
    if (bytes_) return base + index * bytes_;
    if (index % 32 == 0) return base + index / 8;
    scratch_.assign((count + 31) / 32 + 1, 0);
    CopyBooleans(reinterpret_cast<uint8_t*>(scratch_.data()), 0, base, index, count);
    return scratch_.data();
  }
  // out[i] = left[i] f right[i]; false when the kernel gives up.
  bool Apply(const void* left, const void* right, void* out, uint64_t count) {
    VectorOperands v{left, right, out, count, false, false, &env_};
    return kernel_.vector(v);
  }

 private:
  const ScalarKernel& kernel_;
  KernelEnvironment env_;
  uint32_t bytes_;
  std::vector<uint32_t> scratch_;
};

// ---- Kernel selection ----------------------------------------------------------------------------------

// A kernel accumulates when its results can be fed back to it: its input and result types agree.
bool Accumulates(const ScalarKernel* k) { return k->input == k->result; }

// The kernel that reduces or scans data of `type` with dyadic scalar `code`: a Boolean kernel for
// Boolean data when the primitive has one, otherwise the one preferred for reductions, stepped forward
// to one that accumulates. None when the data would have to be narrowed to reach it.
const ScalarKernel* AccumulatingKernel(uint32_t code, ElementType type) {
  if (!IsDyadicScalarCode(code)) return nullptr;
  const ScalarKernel* k = SelectOperatorKernel(code, type, type, false);
  if (!k) return nullptr;
  if (!(k->input == kBool && Accumulates(k))) k = SelectOperatorKernel(code, type, type, true);
  while (k && !Accumulates(k)) k = NextOperatorKernel(k);
  if (!k || k->input == kRefElement || CombinedType(type, k->input) != k->input) return nullptr;
  return k;
}

// Where a kernel that gave up hands over: the next one of its group that accumulates.
const ScalarKernel* NextAccumulating(const ScalarKernel* k) {
  do k = NextOperatorKernel(k);
  while (k && !Accumulates(k));
  return k;
}

// Functions whose reduction may combine the items in any order: + × ⌈ ⌊ ∧ ∨, and = ≠ on Booleans.
// (Binary64 sums and products are then rounded in a different order than strictly from the right.)
bool CombinesInAnyOrder(uint32_t code, const ScalarKernel& kernel) {
  switch (code) {
    case kScalarPlus: case kScalarTimes: case kScalarCeiling: case kScalarFloor: case kScalarAnd: case kScalarOr:
      return true;
    case kScalarEqual: case kScalarNotEqual: return kernel.input == kBool;
    default: return false;
  }
}

// ---- Kernel passes over an array -------------------------------------------------------------------------
// The kernels act on a strong interrupt themselves; loops of cheap steps here look for one once per
// kInterruptStride steps.

// Rows of one cell each longer than this are folded a block at a time when the order is free.
constexpr uint64_t kFoldBlock = 1024;

// The reduction of one row of `n` single elements from `start`, combining in any order: blocks of
// kFoldBlock elements are combined element-wise, then the block's elements and the leftovers one by
// one. The value goes to `out` (one element).
bool FoldRow(KernelRunner& run, const uint8_t* in, uint64_t start, uint64_t n, ElementBuffer& block, uint8_t* out) {
  const uint64_t blocks = n / kFoldBlock, rest = n % kFoldBlock, first = start + rest;
  uint8_t* acc = block.Data();
  MoveElements(acc, 0, in, first + (blocks - 1) * kFoldBlock, kFoldBlock, run.Bytes());
  for (uint64_t b = blocks - 1; b-- > 0;)
    if (!run.Apply(run.Run(in, first + b * kFoldBlock, kFoldBlock), acc, acc, kFoldBlock)) return false;
  alignas(16) uint8_t x[16] = {};
  MoveElements(x, 0, acc, kFoldBlock - 1, 1, run.Bytes());
  for (uint64_t j = kFoldBlock - 1; j-- > 0;)
    if (!run.Apply(run.Run(acc, j, 1), x, x, 1)) return false;
  for (uint64_t j = rest; j-- > 0;)
    if (!run.Apply(run.Run(in, start + j, 1), x, x, 1)) return false;
  MoveElements(out, 0, x, 0, 1, run.Bytes());
  return true;
}

// Windows of `width` cells along the axis, each reduced from the right (from the left when
// `reversed`): the result has length − width + 1 cells per outer cell. A reduction is one window
// covering the axis.
bool ReduceWindows(KernelRunner& run, const uint8_t* in, uint8_t* out, const AxisLayout& l, uint64_t width,
                   bool reversed, bool anyOrder) {
  const uint64_t n = l.length, q = l.inner, span = (n - width + 1) * q;
  const bool foldRows = anyOrder && span == 1 && n >= 2 * kFoldBlock;
  ElementBuffer buffer(run.Bytes(), foldRows ? kFoldBlock : span);
  uint8_t* a = buffer.Data();
  for (uint64_t p = 0; p < l.outer; ++p) {
    const uint64_t base = p * n * q;
    if (foldRows) {
      alignas(16) uint8_t one[16] = {};
      if (!FoldRow(run, in, base, n, buffer, one)) return false;
      MoveElements(out, p, one, 0, 1, run.Bytes());
      continue;
    }
    MoveElements(a, 0, in, base + (reversed ? 0 : width - 1) * q, span, run.Bytes());
    for (uint64_t step = 1; step < width; ++step) {
      uint64_t k = reversed ? step : width - 1 - step;
      if (!run.Apply(run.Run(in, base + k * q, span), a, a, span)) return false;
    }
    MoveElements(out, p * span, a, 0, span, run.Bytes());
  }
  return true;
}


// Scan combining in any order: each cell is the previous result f the cell, one pass.
bool ScanRunning(KernelRunner& run, const uint8_t* in, uint8_t* out, const AxisLayout& l) {
  const uint64_t n = l.length, q = l.inner;
  ElementBuffer buffer(run.Bytes(), q);
  uint8_t* a = buffer.Data();
  for (uint64_t p = 0; p < l.outer; ++p) {
    const uint64_t base = p * n * q;
    MoveElements(a, 0, in, base, q, run.Bytes());
    MoveElements(out, base, a, 0, q, run.Bytes());
    for (uint64_t i = 1; i < n; ++i) {
      if (!run.Apply(a, run.Run(in, base + i * q, q), a, q)) return false;
      MoveElements(out, base + i * q, a, 0, q, run.Bytes());
    }
  }
  return true;
}

// Scan by definition: cell i is the reduction from the right of cells 0 to i.
bool ScanByPrefixes(KernelRunner& run, const uint8_t* in, uint8_t* out, const AxisLayout& l) {
  const uint64_t n = l.length, q = l.inner;
  ElementBuffer buffer(run.Bytes(), q);
  uint8_t* a = buffer.Data();
  for (uint64_t p = 0; p < l.outer; ++p) {
    const uint64_t base = p * n * q;
    for (uint64_t i = 0; i < n; ++i) {
      CheckStrongInterrupt();  // the work grows with the square of the length
      MoveElements(a, 0, in, base + i * q, q, run.Bytes());
      for (uint64_t j = i; j-- > 0;)
        if (!run.Apply(run.Run(in, base + j * q, q), a, a, q)) return false;
      MoveElements(out, base + i * q, a, 0, q, run.Bytes());
    }
  }
  return true;
}

// Scan of a Boolean function on Booleans in one pass. Item i is b0 f (b1 f (… f bi)): with g_j the
// function x ↦ b_j f x, it is (g_0 ∘ … ∘ g_{i-1})(b_i), and a function of one bit is one of four
// (kept as its values at 0 and 1), so the composition runs forward with the items.
bool ScanBooleans(KernelRunner& run, const uint8_t* in, uint8_t* out, const AxisLayout& l) {
  alignas(4) uint8_t left[4] = {0x30}, right[4] = {0x50}, table[4] = {};  // a: 0 0 1 1, x: 0 1 0 1
  if (!run.Apply(left, right, table, 4)) return false;
  const bool f[2][2] = {{GetBit(table, 0), GetBit(table, 1)}, {GetBit(table, 2), GetBit(table, 3)}};
  const uint64_t n = l.length, q = l.inner;
  for (uint64_t p = 0; p < l.outer; ++p)
    for (uint64_t c = 0; c < q; ++c) {
      bool g0 = false, g1 = true;  // the composition so far, at 0 and at 1: the identity
      ForEachInterruptibly(n, [&](uint64_t i) {
        const uint64_t at = (p * n + i) * q + c;
        const bool b = GetBit(in, at);
        SetBit(out, at, b ? g1 : g0);
        const bool h0 = f[b][0] ? g1 : g0, h1 = f[b][1] ? g1 : g0;  // (g ∘ (x ↦ b f x))
        g0 = h0;
        g1 = h1;
      });
    }
  return true;
}

// Runs `pass` (a kernel pass from `in` to `out`) with the kernel for `code` on `array`, restarting
// with the next accumulating kernel whenever one gives up. Returns the counted result of `shape`, or
// 0 when no kernel applies to the array.
template <class Pass>
Ref WithKernel(uint32_t code, const Ref& array, const std::vector<uint32_t>& shape, Pass pass) {
  if (!IsArray(array) || KindOf(TypeWord(array)) != kKindSimple) return 0;
  const ElementType type = ElementOf(TypeWord(array));
  if (!(kElementInfo[type].classes & kClassNumeric)) return 0;
  const ScalarKernel* kernel = AccumulatingKernel(code, type);
  if (!kernel) return 0;
  uint64_t count = 1;
  for (uint32_t d : shape) count *= d;
  Temporaries hold;
  for (;;) {
    hold[0] = kernel->input == type ? Retained(array) : ConvertedCopy(array, kernel->input);
    hold[1] = AllocArray(kernel->input, static_cast<uint32_t>(shape.size()), count);
    std::copy(shape.begin(), shape.end(), ShapeOf(hold[1]));
    KernelRunner run(*kernel);
    ClearKernelStatus(*kernel);
    if (pass(run, *kernel, DataOf<uint8_t>(hold[0]), DataOf<uint8_t>(hold[1])) &&
        PassesKernelPostCheck(*kernel, hold[1]))
      return hold.Take(1);
    Release(hold[0]);
    Release(hold[1]);
    kernel = NextAccumulating(kernel);
    if (!kernel) SIGNAL(kDomainError);
  }
}

// +/ along the last axis of a Boolean array: counts of set bits.
Ref CountBits(const Ref& array, const AxisLayout& l, const std::vector<uint32_t>& shape) {
  Temporaries hold;
  hold[0] = NewArray(kInt32, shape);
  const uint8_t* bits = DataOf<uint8_t>(array);
  int32_t* out = DataOf<int32_t>(hold[0]);
  for (uint64_t p = 0; p < l.outer; ++p) {
    uint64_t i = p * l.length, end = i + l.length, count = 0;
    for (; i < end && i % 64 != 0; ++i) count += GetBit(bits, i);
    for (; i + 64 <= end; i += 64) {
      uint64_t word;
      std::memcpy(&word, bits + i / 8, 8);
      count += std::popcount(word);
    }
    for (; i < end; ++i) count += GetBit(bits, i);
    out[p] = static_cast<int32_t>(count);
  }
  return hold.Take(0);
}

// +/ along rows of integers or binary64 numbers (the last axis, or any axis with one element per
// cell after it). Integers are summed in 64 bits, which fewer than 2^32 32-bit integers cannot
// overflow; binary64 numbers in eight running sums added pairwise at the end.
template <class T, class Sum>
void SumRows(const T* in, uint64_t rows, uint64_t length, Sum* totals) {
  for (uint64_t r = 0; r < rows; ++r) {
    const T* row = in + r * length;
    if constexpr (std::is_integral_v<Sum>) {  // integer sums vectorise as they stand
      Sum total = 0;
      for (uint64_t i = 0; i < length; ++i) total += row[i];
      totals[r] = total;
      continue;
    }
    Sum lanes[8] = {};
    uint64_t i = 0;
    for (; i + 8 <= length; i += 8)
      for (int k = 0; k < 8; ++k) lanes[k] += static_cast<Sum>(row[i + k]);
    for (; i < length; ++i) lanes[i % 8] += static_cast<Sum>(row[i]);
    totals[r] = ((lanes[0] + lanes[1]) + (lanes[2] + lanes[3])) + ((lanes[4] + lanes[5]) + (lanes[6] + lanes[7]));
  }
}

// 32-bit rows are the common case and memory-bound: the loop is also compiled for AVX2, which the
// processor selects when it has it.
__attribute__((target_clones("avx2", "default"))) void SumInt32Rows(const int32_t* in, uint64_t rows,
                                                                     uint64_t length, int64_t* totals) {
  SumRows(in, rows, length, totals);
}

// Integer sums as the 32-bit kernel and its restart would give them: 32-bit integers when every one
// fits, otherwise binary64 (decimal128 under ⎕FR 1287).
Ref IntegerTotals(const std::vector<int64_t>& totals, const std::vector<uint32_t>& shape) {
  const bool narrow = std::all_of(totals.begin(), totals.end(), [](int64_t t) { return t == static_cast<int32_t>(t); });
  const bool decimal = CurrentFloatRepresentation() == 1287;
  Ref r = NewArray(narrow ? kInt32 : decimal ? kDecimal128 : kFloat64, shape);
  for (uint64_t i = 0; i < totals.size(); ++i) {
    if (narrow) DataOf<int32_t>(r)[i] = static_cast<int32_t>(totals[i]);
    else if (decimal) StoreDecimal(DataOf<uint8_t>(r) + 16 * i, DecimalFromInt(totals[i]));
    else DataOf<double>(r)[i] = static_cast<double>(totals[i]);
  }
  return r;
}

template <class T>
Ref IntegerSums(const Ref& array, const AxisLayout& l, const std::vector<uint32_t>& shape) {
  std::vector<int64_t> totals(l.outer);
  if constexpr (std::is_same_v<T, int32_t>) SumInt32Rows(DataOf<T>(array), l.outer, l.length, totals.data());
  else SumRows(DataOf<T>(array), l.outer, l.length, totals.data());
  return IntegerTotals(totals, shape);
}

Ref RealSums(const Ref& array, const AxisLayout& l, const std::vector<uint32_t>& shape) {
  Temporaries hold;
  hold[0] = NewArray(kFloat64, shape);
  double* out = DataOf<double>(hold[0]);
  SumRows(DataOf<double>(array), l.outer, l.length, out);
  if (!std::all_of(out, out + l.outer, [](double x) { return std::isfinite(x); })) SIGNAL(kDomainError);
  return hold.Take(0);
}

// The row sums for +/ when they apply (0 otherwise); Boolean rows are counted.
Ref RowSums(const Ref& array, const AxisLayout& l, const std::vector<uint32_t>& shape) {
  if (l.inner != 1 || KindOf(TypeWord(array)) != kKindSimple) return 0;
  switch (ElementOf(TypeWord(array))) {
    case kBool: return CountBits(array, l, shape);
    case kInt8: return IntegerSums<int8_t>(array, l, shape);
    case kInt16: return IntegerSums<int16_t>(array, l, shape);
    case kInt32: return IntegerSums<int32_t>(array, l, shape);
    case kFloat64: return CurrentFloatRepresentation() == 645 ? RealSums(array, l, shape) : 0;
    default: return 0;
  }
}

// Windows of + over integers, and of ≠ and = over Booleans, slide: each window's sum is the one before
// with the item entering added and the item leaving taken away, so the cost does not depend on the
// width. ≠ is the parity of the sum, and = (width − 1 equivalences) the parity flipped for every pair.
Ref SlidingWindows(uint32_t code, const Ref& array, const AxisLayout& l, uint64_t width,
                   const std::vector<uint32_t>& shape) {
  if (KindOf(TypeWord(array)) != kKindSimple) return 0;
  const ElementType type = ElementOf(TypeWord(array));
  const bool sum = code == kScalarPlus;
  if (sum ? !(type == kBool || type == kInt8 || type == kInt16 || type == kInt32)
          : !((code == kScalarNotEqual || code == kScalarEqual) && type == kBool))
    return 0;
  const uint64_t n = l.length, q = l.inner, windows = n - width + 1;
  std::vector<int64_t> sums(l.outer * windows * q);
  WithReader(array, [&](auto read) {
    if constexpr (std::is_same_v<decltype(read(0)), int64_t>) {
      for (uint64_t p = 0; p < l.outer; ++p)
        for (uint64_t c = 0; c < q; ++c) {
          auto item = [&](uint64_t i) { return read((p * n + i) * q + c); };
          int64_t s = 0;
          ForEachInterruptibly(width, [&](uint64_t i) { s += item(i); });
          for (uint64_t w = 0;; ++w) {
            if (w % kInterruptStride == 0) CheckStrongInterrupt();
            sums[(p * windows + w) * q + c] = s;
            if (w + 1 == windows) break;
            s += item(w + width) - item(w);
          }
        }
    }
    return true;
  });
  if (!sum) {
    Ref r = NewArray(kBool, shape);
    const bool flip = code == kScalarEqual && (width - 1) % 2;
    for (uint64_t i = 0; i < sums.size(); ++i) SetBit(DataOf<uint8_t>(r), i, (sums[i] & 1) != flip);
    return r;
  }
  return IntegerTotals(sums, shape);
}

// ---- Any operand, item by item -----------------------------------------------------------------------

// The items of an array along its axis, for applying a function to them one by one.
class AxisItems {
 public:
  AxisItems(const Ref& array, const AxisLayout& l) : array_(array), layout_(l) {}
  // Item `i` along the axis in the cell at outer position `p` and inner position `q`, counted.
  Ref At(uint64_t p, uint64_t i, uint64_t q) const {
    return ElementAsScalar(array_, (p * layout_.length + i) * layout_.inner + q);
  }

 private:
  const Ref& array_;
  const AxisLayout& layout_;
};

// The reduction of items first..last (inclusive) of one cell: from the right, or from the left of
// the reversed window.
Ref FoldItems(const Ref& fn, const AxisItems& items, uint64_t p, uint64_t q, uint64_t first, uint64_t last,
              bool reversed) {
  Temporaries hold;
  hold[0] = items.At(p, reversed ? first : last, q);
  for (uint64_t step = 1; step <= last - first; ++step) {
    CheckStrongInterrupt();
    hold[1] = items.At(p, reversed ? first + step : last - step, q);
    hold[2] = ResultOf(fn, hold[1], hold[0]);
    Release(hold[1]);
    Release(hold[0]);
    hold[0] = hold.Take(2);
  }
  return hold.Take(0);
}

// Windows of `width` items along the axis, each reduced by applying `fn` from the right.
Ref ReduceWindowsByItems(const Ref& fn, const Ref& array, const AxisLayout& l, uint64_t width, bool reversed,
                         const std::vector<uint32_t>& shape) {
  const uint64_t windows = l.length - width + 1;
  ItemCollector result(shape);
  AxisItems items(array, l);
  for (uint64_t p = 0; p < l.outer; ++p)
    for (uint64_t w = 0; w < windows; ++w)
      for (uint64_t q = 0; q < l.inner; ++q)
        result.Put((p * windows + w) * l.inner + q, FoldItems(fn, items, p, q, w, w + width - 1, reversed));
  Temporaries hold;
  hold[0] = Prototype(array);
  return result.Finish(hold[0]);
}

Ref ScanByItems(const Ref& fn, const Ref& array, const AxisLayout& l) {
  ItemCollector result(l.shape);
  AxisItems items(array, l);
  for (uint64_t p = 0; p < l.outer; ++p)
    for (uint64_t i = 0; i < l.length; ++i)
      for (uint64_t q = 0; q < l.inner; ++q)
        result.Put((p * l.length + i) * l.inner + q, FoldItems(fn, items, p, q, 0, i, false));
  Temporaries hold;
  hold[0] = Prototype(array);
  return result.Finish(hold[0]);
}

// ---- Reduction -----------------------------------------------------------------------------------------

// Windows of |width| cells (reversed for a negative width) reduced with `fn`; the plain reduction is
// the one window of the whole axis with the axis dropped from the result.
Ref Windows(const Ref& fn, const Ref& array, const AxisLayout& l, uint64_t width, bool reversed, bool dropAxis) {
  const uint64_t windows = l.length + 1 - width;
  const std::vector<uint32_t> shape = ResultShape(l, windows, dropAxis);
  if (width == 0) {
    Temporaries hold;
    hold[0] = IdentityItem(fn, array);
    // A reduction of one empty vector is the identity itself: ∪/⍬ is ⍬, not ⊂⍬.
    if (shape.empty()) return hold.Take(0);
    return FilledWith(shape, hold[0]);
  }
  if (width == 1) {
    Temporaries hold;
    hold[0] = IntegerVector(shape);
    return Reshape(hold[0], array);
  }
  const uint32_t code = PrimitiveCodeOf(fn);
  if (code == kScalarPlus && windows == 1)
    if (Ref sums = RowSums(array, l, shape)) return sums;
  if (windows > 0 && width > 2)
    if (Ref slid = SlidingWindows(code, array, l, width, shape)) return slid;
  auto windowPass = [&](KernelRunner& run, const ScalarKernel& kernel, const uint8_t* in, uint8_t* out) {
    return ReduceWindows(run, in, out, l, width, reversed, CombinesInAnyOrder(code, kernel));
  };
  Ref r = WithKernel(code, array, shape, windowPass);
  if (r) return r;
  return ReduceWindowsByItems(fn, array, l, width, reversed, shape);
}

// The counted function operand of a derived function, held by the caller; SYNTAX ERROR for an array.
Ref OperandOf(const Ref& derived) {
  Ref operand = Words(derived)[kDerivedLeftOperand];
  if (IsArrayOperand(operand)) SIGNAL(kSyntaxError);
  return Retained(operand);
}

// A f/B: windows of A items; A a single integer (RANK ERROR otherwise) of magnitude at most one more
// than the axis length (LENGTH ERROR otherwise).
Ref ReduceNWise(const Ref& fn, const Ref& left, const Ref& array, uint32_t axis) {
  if (!IsArray(left) || !IsArray(array)) SIGNAL(kDomainError);
  if (RankOf(TypeWord(left)) > 1 || ElementCount(left) != 1) SIGNAL(kRankError);
  const int64_t width = IntegersOf(left)[0];
  const AxisLayout l = LayoutOf(array, axis);
  const uint64_t magnitude = static_cast<uint64_t>(width < 0 ? -width : width);
  if (magnitude > l.length + 1) SIGNAL(kLengthError);
  return Windows(fn, array, l, magnitude, width < 0, false);
}

CallResult ApplyReduce(const Ref& derived, const Ref& left, const Ref& right, bool first) {
  Temporaries hold;
  hold[0] = OperandOf(derived);
  if (!IsArray(right)) SIGNAL(kDomainError);
  const uint32_t axis = OperatorAxis(right, first);
  if (left) return {ReduceNWise(hold[0], left, right, axis)};
  return {Reduce(hold[0], right, axis)};
}

// ---- Scan ----------------------------------------------------------------------------------------------

// -\ and ÷\ by + and × scans of the items with alternating signs or powers: B×1 ¯1 1 ¯1… and
// B*1 ¯1 1 ¯1… along the axis.
Ref AlternatingScan(uint32_t code, const Ref& array, uint32_t axis) {
  const AxisLayout l = LayoutOf(array, axis);
  Temporaries hold;
  hold[0] = NewArray(kInt8, l.shape);
  int8_t* signs = DataOf<int8_t>(hold[0]);
  const uint64_t count = l.outer * l.length * l.inner;
  for (uint64_t i = 0; i < count; ++i) signs[i] = (i / l.inner) % l.length % 2 ? -1 : 1;
  const bool minus = code == kScalarMinus;
  hold[1] = CallPrimitive(minus ? kScalarTimes : kScalarPower, array, hold[0]).value;
  const Ref combine = minus ? kScalarPlus : kScalarTimes;  // a primitive code, not a pocket
  auto runningPass = [&](KernelRunner& run, const ScalarKernel&, const uint8_t* in, uint8_t* out) {
    return ScanRunning(run, in, out, l);
  };
  Ref r = WithKernel(combine, hold[1], l.shape, runningPass);
  return r ? r : ScanByItems(combine, hold[1], l);
}

Ref Scan(const Ref& fn, const Ref& array, uint32_t axis) {
  const AxisLayout l = LayoutOf(array, axis);
  if (l.length <= 1) {
    Retain(array);
    return array;
  }
  const uint32_t code = PrimitiveCodeOf(fn);
  if (code == kScalarMinus || code == kScalarDivide) return AlternatingScan(code, array, axis);
  auto scanPass = [&](KernelRunner& run, const ScalarKernel& kernel, const uint8_t* in, uint8_t* out) {
    if (kernel.input == kBool) return ScanBooleans(run, in, out, l);
    return CombinesInAnyOrder(code, kernel) ? ScanRunning(run, in, out, l) : ScanByPrefixes(run, in, out, l);
  };
  Ref r = WithKernel(code, array, l.shape, scanPass);
  return r ? r : ScanByItems(fn, array, l);
}

CallResult ApplyScan(const Ref& derived, const Ref& left, const Ref& right, bool first) {
  if (left) SIGNAL_MESSAGE(kSyntaxError, U"The function does not take a left argument");
  Temporaries hold;
  hold[0] = OperandOf(derived);
  if (!IsArray(right)) SIGNAL(kDomainError);
  return {Scan(hold[0], right, OperatorAxis(right, first))};
}

}  // namespace

Ref Reduce(const Ref& operand, const Ref& array, uint32_t axis) {
  const AxisLayout l = LayoutOf(array, axis);
  return Windows(operand, array, l, l.length, false, true);
}

CallResult ApplyReduceLast(const Ref& derived, const Ref& left, const Ref& right) {
  return ApplyReduce(derived, left, right, false);
}
CallResult ApplyReduceFirst(const Ref& derived, const Ref& left, const Ref& right) {
  return ApplyReduce(derived, left, right, true);
}
CallResult ApplyScanLast(const Ref& derived, const Ref& left, const Ref& right) {
  return ApplyScan(derived, left, right, false);
}
CallResult ApplyScanFirst(const Ref& derived, const Ref& left, const Ref& right) {
  return ApplyScan(derived, left, right, true);
}

}  // namespace vantor
