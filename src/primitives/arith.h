// The scalar function engine: applies the pervasive primitives (+ - × ÷ ⌈ ⌊ * ⍟ | ! ○ ∨ ∧ ⍱ ⍲ < ≤ = ≥ >
// ≠ ~) to arrays. Per primitive a group of type-specialised kernels; per call the engine picks one by
// the arguments' element types, converts the arguments into its input type, extends single elements,
// restarts with the next kernel of the group when a kernel gives up (integer overflow, a complex
// result), checks floating-point exceptions, and walks nested arguments with an explicit frame chain.
// The kernels themselves are arith_su (binary64, integers, complex) and darith (decimal128).
#pragma once
#include <bit>
#include <complex>
#include <concepts>
#include <cstdint>
#include <cstring>

#include "primitives/dispatch.h"
#include "memory/memory1.h"
#include "memory/eltype.h"
#include "memory/pockutil.h"
#include "primitives/darith.h"

namespace vantor {

// ---- Scalar codes ----------------------------------------------------------------------------------
// The index of a primitive in the engine's tables: its primitive code, except monadic 1 (roll, code
// 38), the hidden monadic 13 (*○⍵) and 15 (⌊0.5+⍵) that only idiom recognition produces, and 0, the
// constant function that empty pervasion uses.
enum ScalarCode : uint32_t {
  kScalarConstant = 0,
  kScalarRoll = 1,
  kScalarPlus = 2,
  kScalarMinus = 3,
  kScalarTimes = 4,
  kScalarDivide = 5,
  kScalarCeiling = 6,
  kScalarFloor = 7,
  kScalarPower = 8,
  kScalarLog = 9,
  kScalarResidue = 10,
  kScalarFactorial = 11,  // monadic !; dyadic ! is the binomial
  kScalarCircle = 12,
  kScalarExpPiTimes = 13,  // monadic, hidden: *○⍵
  kScalarNot = 14,         // monadic ~
  kScalarOr = 15,          // dyadic ∨
  kScalarRoundHalf = 15,   // monadic, hidden: ⌊0.5+⍵
  kScalarAnd = 16,
  kScalarNor = 17,
  kScalarNand = 18,
  kScalarLess = 19,
  kScalarLessEqual = 20,
  kScalarEqual = 21,
  kScalarGreaterEqual = 22,
  kScalarGreater = 23,
  kScalarNotEqual = 24,
};
inline constexpr uint32_t kDyadicScalarCodes = 25;
inline constexpr uint32_t kMonadicScalarCodes = 16;

// ---- Kernel shape ----------------------------------------------------------------------------------

// One argument (or the result) of a kernel run element by element. The stepper converts the next
// element into `buffer` as the kernel's input type and advances (for the result: stores `buffer`
// and advances). A single-element argument is converted once; its stepper then does nothing.
struct ArgumentDescriptor;
using Stepper = void (*)(ArgumentDescriptor& d);
struct ArgumentDescriptor {
  alignas(16) uint8_t buffer[16];
  uint8_t* data;            // the elements (raw pointer: valid until the next allocation)
  uint64_t index;           // the next element
  Stepper step;
  ElementType target;       // what the stepper converts into
  ElementType type;         // the argument's own element type
  uint32_t rank;
  uint64_t count;           // element count (1 for a scalar)
  uint32_t shape[kMaxRank];
  template <class T> T& As() { return *reinterpret_cast<T*>(buffer); }
};

// What a call of a kernel carries besides the elements: fetched once per call.
struct KernelEnvironment {
  double tolerance = 0;       // ⎕CT, or ⎕DCT as a double under ⎕FR 1287 (tolerant kernels only)
  Decimal decimalTolerance{}; // ⎕DCT (tolerant decimal kernels only)
  uint32_t divisionMethod = 0;  // ⎕DIV
};

struct KernelCall {
  ArgumentDescriptor left, right, result;  // a monadic kernel uses `right` only
  KernelEnvironment env;
};

// A stream kernel runs `count` elements through the steppers. A vector kernel runs over whole arrays
// already converted into its input type (a single element extends). Both return false when they give
// up (the engine then releases the partial result and runs the next kernel of the group); errors are
// signalled directly.
using StreamKernel = bool (*)(KernelCall& call, uint64_t count);
struct VectorOperands {
  const void* left;   // monadic kernels: unused
  const void* right;
  void* result;
  uint64_t count;     // result elements
  bool leftSingle;    // the one element extends against every result element
  bool rightSingle;
  const KernelEnvironment* env;
  bool inSlice;       // one slice of a parallel run, on any thread: no interrupt checks
};
using VectorKernel = bool (*)(const VectorOperands& operands);

// What runs after a kernel to inspect the floating-point status it left (the status word for
// binary64 kernels, the thread's DecimalStatus() for decimal ones).
enum class PostCheck : uint8_t {
  kNone,
  kExceptionDomain,   // any exception flag: DOMAIN ERROR
  kNonFiniteDomain,   // a flag and a result element that is not finite: DOMAIN ERROR
  kExceptionRestart,  // any exception flag: give up, the next kernel runs
};

// Mapping flag values of a kernel.
enum KernelMapping : uint8_t {
  kMapEnds = 0,       // takes part in type mapping and ends it: narrower kernels only by offset
  kMapped = 1,
  kMapPreferred = 2,  // takes part; the kernel reductions prefer
};

struct ScalarKernel {
  StreamKernel stream;
  VectorKernel vector;      // nullptr: the stream kernel also runs long arguments
  PostCheck postCheck;
  ElementType input;        // both arguments are converted to it (kRefElement: not read at all)
  ElementType result;
  uint8_t reductionClass;   // read by the operators
  uint8_t mapping;          // KernelMapping
  bool tolerant;            // fetch ⎕CT / ⎕DCT
  bool restart;             // may give up; the next kernel of the group runs
  uint8_t continuation;     // nonzero on every kernel of a group but its first; the primitive's code
                            // once the set is initialised
  bool slices;              // the vector kernel may run in parallel slices (it never signals)
};

// Before kernel selection a primitive may look at the arguments itself: 0 select by type, 1 the
// routine made the result (in `result`, counted), k >= 2 use the kernel k places before the group's
// last.
using PreDispatch = uint32_t (*)(const Ref& left, const Ref& right, Ref& result);

struct ScalarPrimitive {
  uint32_t lastKernel;  // kNotScalar, or (once initialised) the index of the group's last kernel
  PreDispatch preDispatch;
  uint8_t typeMap[kElementTypeCount];  // the kernel for each governing type (set by initialisation)
};
inline constexpr uint32_t kNotScalar = 0xFFFFFFFF;
inline constexpr uint32_t kOwnsKernels = 0xFFFFFFFE;  // before initialisation: the primitive has a group

// ---- Element operations and the kernels made from them ------------------------------------------------
// A dyadic element operation is a struct with the types `In` and `Out` and
//   static Out Compute(In a, In b, const KernelEnvironment& env, bool& giveUp);
// a monadic one has Compute(In b, const KernelEnvironment& env, bool& giveUp). Compute sets giveUp
// (never clears it) when the kernel must give up, and then returns anything. The templates below make
// the stream and vector kernels of an operation.

namespace kernel_detail {
template <class T>
inline T Load(const void* data, uint64_t i) {
  if constexpr (std::is_same_v<T, bool>) return GetBit(static_cast<const uint8_t*>(data), i);
  else return static_cast<const T*>(data)[i];
}
// Results are written in blocks, after each of which a kernel that gave up stops and a pending strong
// interrupt is acted on (so every run looks for one at least once: operators run kernels row by row).
inline constexpr uint64_t kBlock = 1024;
}  // namespace kernel_detail

template <class Op>
bool DyadicStream(KernelCall& call, uint64_t count) {
  using In = typename Op::In;
  using Out = typename Op::Out;
  bool giveUp = false;
  for (uint64_t i = 0; i < count; ++i) {
    call.left.step(call.left);
    call.right.step(call.right);
    call.result.As<Out>() = Op::Compute(call.left.As<In>(), call.right.As<In>(), call.env, giveUp);
    if (giveUp) return false;
    call.result.step(call.result);
  }
  return true;
}

template <class Op>
bool MonadicStream(KernelCall& call, uint64_t count) {
  using In = typename Op::In;
  using Out = typename Op::Out;
  bool giveUp = false;
  for (uint64_t i = 0; i < count; ++i) {
    call.right.step(call.right);
    call.result.As<Out>() = Op::Compute(call.right.As<In>(), call.env, giveUp);
    if (giveUp) return false;
    call.result.step(call.result);
  }
  return true;
}

// Runs `element(i)` for i in [0, count), storing into `result` of type Out (packed when Boolean), in
// blocks after each of which a give-up ends the run and, unless `inSlice`, a strong interrupt
// signals INTERRUPT.
template <class Out, class Element>
bool StoreBlocks(void* result, uint64_t count, bool inSlice, bool& giveUp, Element element) {
  using namespace kernel_detail;
  for (uint64_t start = 0; start < count; start += kBlock) {
    uint64_t end = start + kBlock < count ? start + kBlock : count;
    if constexpr (std::is_same_v<Out, bool>) {
      // 64 results as bytes of 0 or 1 (a loop that vectorises), then each 8 bytes packed into one
      // by a multiplication that gathers byte k's low bit into bit 7 - k (bytes read little-endian).
      static_assert(std::endian::native == std::endian::little);
      uint8_t* bytes = static_cast<uint8_t*>(result);
      uint64_t i = start;
      for (; i + 64 <= end; i += 64) {
        uint8_t flags[64];
        for (uint32_t k = 0; k < 64; ++k) flags[k] = element(i + k);
        for (uint32_t k = 0; k < 8; ++k) {
          uint64_t eight;
          std::memcpy(&eight, flags + 8 * k, 8);
          bytes[(i >> 3) + k] = static_cast<uint8_t>((eight * 0x8040201008040201ull) >> 56);
        }
      }
      for (; i + 8 <= end; i += 8) {
        uint32_t byte = 0;
        for (uint32_t k = 0; k < 8; ++k) byte |= static_cast<uint32_t>(element(i + k)) << (7 - k);
        bytes[i >> 3] = static_cast<uint8_t>(byte);
      }
      if (i < end) {
        uint32_t byte = 0;
        for (uint32_t k = 0; i + k < end; ++k) byte |= static_cast<uint32_t>(element(i + k)) << (7 - k);
        bytes[i >> 3] = static_cast<uint8_t>(byte);
      }
    } else {
      Out* out = static_cast<Out*>(result);
      for (uint64_t i = start; i < end; ++i) out[i] = element(i);
    }
    if (giveUp) return false;
    if (!inSlice) CheckStrongInterrupt();
  }
  return true;
}

template <class Op>
bool DyadicVector(const VectorOperands& v) {
  using In = typename Op::In;
  using Out = typename Op::Out;
  using kernel_detail::Load;
  bool giveUp = false;
  const KernelEnvironment& env = *v.env;
  if (v.leftSingle) {
    In a = Load<In>(v.left, 0);
    return StoreBlocks<Out>(v.result, v.count, v.inSlice, giveUp,
                            [&](uint64_t i) { return Op::Compute(a, Load<In>(v.right, i), env, giveUp); });
  }
  if (v.rightSingle) {
    In b = Load<In>(v.right, 0);
    return StoreBlocks<Out>(v.result, v.count, v.inSlice, giveUp,
                            [&](uint64_t i) { return Op::Compute(Load<In>(v.left, i), b, env, giveUp); });
  }
  return StoreBlocks<Out>(v.result, v.count, v.inSlice, giveUp, [&](uint64_t i) {
    return Op::Compute(Load<In>(v.left, i), Load<In>(v.right, i), env, giveUp);
  });
}

// An operation that declares `kNeverSignals` raises no APL error, so its vector kernel may run on
// worker threads (parallel.h).
template <class Op>
concept NeverSignals = requires { requires Op::kNeverSignals; };

// An operation with a `Run(in, out, n)` form computes whole runs (false: it gives up).
template <class Op>
concept RunsWhole = requires(const typename Op::In* in, typename Op::Out* out, uint64_t n) {
  { Op::Run(in, out, n) } -> std::same_as<bool>;
};

template <class Op>
bool MonadicVector(const VectorOperands& v) {
  using In = typename Op::In;
  using Out = typename Op::Out;
  if constexpr (RunsWhole<Op>) {
    const In* in = static_cast<const In*>(v.right);
    Out* out = static_cast<Out*>(v.result);
    for (uint64_t start = 0; start < v.count; start += kernel_detail::kBlock) {
      uint64_t n = v.count - start < kernel_detail::kBlock ? v.count - start : kernel_detail::kBlock;
      if (!Op::Run(in + start, out + start, n)) return false;
      if (!v.inSlice) CheckStrongInterrupt();
    }
    return true;
  }
  bool giveUp = false;
  const KernelEnvironment& env = *v.env;
  return StoreBlocks<Out>(v.result, v.count, v.inSlice, giveUp, [&](uint64_t i) {
    return Op::Compute(kernel_detail::Load<In>(v.right, i), env, giveUp);
  });
}

// ---- The engine ----------------------------------------------------------------------------------

// Completes the four kernel sets (dyadic and monadic, for ⎕FR 645 and 1287) and enters the scalar
// primitives in the dispatch tables. Called once at start-up.
void InitialiseScalarEngine();

// The drivers: apply scalar function `code` (a ScalarCode) to borrowed arguments, pervading nested
// arrays; the result is counted. The dyadic driver honours a pending axis (AxisArgument()).
Ref DyadicScalar(uint32_t code, const Ref& left, const Ref& right);
Ref MonadicScalar(uint32_t code, const Ref& right);

// Kernel selection for operators. Reduction, scan, inner and outer product run a scalar primitive's
// kernel over many cells without going through the driver for each: this returns the kernel of the
// current set (⎕FR) for dyadic `code` with arguments of the given element types, or nullptr when the
// primitive is not scalar or has no kernel for them. With `reduction` set, a group's
// reduction-preferred kernel is taken when the types map below it. When a kernel gives up, the
// caller continues with NextOperatorKernel: the next kernel of the group whose input type is the
// given kernel's result type (nullptr when there is none).
const ScalarKernel* SelectOperatorKernel(uint32_t code, ElementType left, ElementType right, bool reduction);
const ScalarKernel* NextOperatorKernel(const ScalarKernel* kernel);
// The comparison tolerance and ⎕DIV as a kernel of the current set expects them.
KernelEnvironment FetchKernelEnvironment(const ScalarKernel& kernel);
// A kernel run by an operator is bracketed as the drivers bracket it: clear the floating-point status
// its post-check reads before the first run, then ask whether the results pass (false: the kernel
// gives up and the next one runs; DOMAIN ERROR is signalled here). `result` is the array of results.
void ClearKernelStatus(const ScalarKernel& kernel);
bool PassesKernelPostCheck(const ScalarKernel& kernel, Ref result);

}  // namespace vantor
