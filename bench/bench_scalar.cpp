// Scalar engine benchmarks (Google Benchmark): whole-array primitives on 10 million elements (A+B on
// binary64, A+B and A×B on int32, A<B and A=B on binary64, A∧B on Booleans, *B and ⍟B on binary64)
// through the dyadic and monadic drivers, and one dyadic primitive on two 10-element vectors through
// the dispatch path (CallPrimitive). Times are per call; a comparison script reads them by name.
#include <benchmark/benchmark.h>

#include <random>

#include "host/aplio.h"
#include "host/aplmain.h"
#include "language/parse.h"
#include "memory/memory1.h"
#include "primitives/arith.h"

using namespace vantor;

namespace {

constexpr uint32_t kLength = 10'000'000;

void Start() {
  static bool started = false;
  if (started) return;
  started = true;
  Startup().startupFlags = 0;
  ObtainSpace(kMainSpace, 1536ull << 20, 0);
  SwitchSpace(kMainSpace);
  InitialiseHeap();
  InitialiseModules();
}

// Arguments live in root-block working slots above the evaluator's, so compaction keeps them current.
Ref& Argument(uint32_t i) { return WorkingSlot(kSlotScratch + i); }

template <class T, class Fill>
void MakeArgument(uint32_t slot, ElementType type, uint32_t length, Fill fill) {
  Release(Argument(slot));
  Ref r = AllocVector(type, length);
  TypeWord(r) |= kNoNarrowFlag;
  T* data = DataOf<T>(r);
  std::mt19937_64 random(slot + 1);
  for (uint32_t i = 0; i < (type == kBool ? (length + 7) / 8 : length); ++i) data[i] = fill(random);
  Argument(slot) = r;
}

void Doubles(uint32_t length, double low, double high) {
  for (uint32_t slot : {0u, 1u})
    MakeArgument<double>(slot, kFloat64, length, [&](std::mt19937_64& g) {
      return std::uniform_real_distribution<double>(low, high)(g);
    });
}
void Int32s(uint32_t length) {
  for (uint32_t slot : {0u, 1u})
    MakeArgument<int32_t>(slot, kInt32, length, [](std::mt19937_64& g) {
      return static_cast<int32_t>(std::uniform_int_distribution<int32_t>(-30000, 30000)(g));
    });
}
void Booleans(uint32_t length) {
  for (uint32_t slot : {0u, 1u})
    MakeArgument<uint8_t>(slot, kBool, length, [](std::mt19937_64& g) { return static_cast<uint8_t>(g()); });
}

void RunDyadic(benchmark::State& state, uint32_t code) {
  for (auto _ : state) {
    Ref r = DyadicScalar(code, Argument(0), Argument(1));
    benchmark::DoNotOptimize(r);
    ReleaseRef(r);
  }
  state.SetItemsProcessed(state.iterations() * kLength);
}

void RunMonadic(benchmark::State& state, uint32_t code) {
  for (auto _ : state) {
    Ref r = MonadicScalar(code, Argument(0));
    benchmark::DoNotOptimize(r);
    ReleaseRef(r);
  }
  state.SetItemsProcessed(state.iterations() * kLength);
}

void BM_Plus_Float64_10M(benchmark::State& state) {
  Start();
  Doubles(kLength, -1000, 1000);
  RunDyadic(state, kScalarPlus);
}
void BM_Plus_Int32_10M(benchmark::State& state) {
  Start();
  Int32s(kLength);
  RunDyadic(state, kScalarPlus);
}
void BM_Times_Int32_10M(benchmark::State& state) {
  Start();
  Int32s(kLength);
  RunDyadic(state, kScalarTimes);
}
void BM_Less_Float64_10M(benchmark::State& state) {
  Start();
  Doubles(kLength, -1000, 1000);
  RunDyadic(state, kScalarLess);
}
void BM_Equal_Float64_10M(benchmark::State& state) {
  Start();
  Doubles(kLength, -2, 2);
  RunDyadic(state, kScalarEqual);
}
void BM_And_Boolean_10M(benchmark::State& state) {
  Start();
  Booleans(kLength);
  RunDyadic(state, kScalarAnd);
}
void BM_Exp_Float64_10M(benchmark::State& state) {
  Start();
  Doubles(kLength, -50, 50);
  RunMonadic(state, kScalarPower);
}
void BM_Log_Float64_10M(benchmark::State& state) {
  Start();
  Doubles(kLength, 0.001, 1000);
  RunMonadic(state, kScalarLog);
}

// A+B on two 10-element binary64 vectors through the primitive dispatch, as the evaluator calls it.
void BM_Plus_Float64_10_Dispatch(benchmark::State& state) {
  Start();
  Doubles(10, -1000, 1000);
  for (auto _ : state) {
    CallResult r = CallPrimitive(kScalarPlus, Argument(0), Argument(1));
    benchmark::DoNotOptimize(r.value);
    ReleaseRef(r.value);
  }
}

}  // namespace

BENCHMARK(BM_Plus_Float64_10M)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Plus_Int32_10M)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Times_Int32_10M)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Less_Float64_10M)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Equal_Float64_10M)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_And_Boolean_10M)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Exp_Float64_10M)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Log_Float64_10M)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Plus_Float64_10_Dispatch)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
