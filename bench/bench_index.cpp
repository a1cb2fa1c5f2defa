// Indexing benchmark: A[I] with 10 million random indexes into a vector of 10 million binary64
// values, through the indexing primitive, against NumPy's fancy indexing (a[i]) on data of the same
// size and kind, measured in the same run (goal: ratio <= 1.00).
#include <benchmark/benchmark.h>

#include <random>
#include <string>

#include "primitives/dispatch.h"
#include "memory/memory1.h"
#include "primitives/index.h"
#include "reference.h"

using namespace vantor;

namespace {

constexpr uint32_t kElements = 10'000'000;

// A (in the right-argument register) and the index list holding I (in the left-argument register),
// as the evaluator would pass them.
void PrepareArguments() {
  std::mt19937 random(12345);
  Ref data = AllocVector(kFloat64, kElements);
  for (uint32_t i = 0; i < kElements; ++i) DataOf<double>(data)[i] = random() * 1e-3;
  WorkingSlot(kSlotRight) = data;
  Ref index = AllocVector(kInt32, kElements);
  std::uniform_int_distribution<int32_t> pick(1, kElements);
  for (uint32_t i = 0; i < kElements; ++i) DataOf<int32_t>(index)[i] = pick(random);
  Ref list = AllocVector(kRefElement, 1);
  DataOf<Ref>(list)[0] = index;
  WorkingSlot(kSlotLeft) = list;
}

void Gather(benchmark::State& state) {
  for (auto _ : state) {
    CallResult result = IndexArray(WorkingSlot(kSlotLeft), WorkingSlot(kSlotRight));
    benchmark::DoNotOptimize(result.value);
    ReleaseRef(result.value);
  }
}
// The best of several repetitions, as NumPy's time is the best of its runs.
BENCHMARK(Gather)->Unit(benchmark::kMillisecond)->Repetitions(5);

// NumPy's best time of a[i] in ms, on random data of the same sizes; negative when NumPy is missing.
double NumPyGatherMs() {
  const std::string n = std::to_string(kElements);
  return bench::PythonNumber(
      "import numpy as np, timeit\n"
      "rng = np.random.default_rng(12345)\n"
      "a = rng.random(" + n + ")\n"
      "i = rng.integers(0, " + n + ", " + n + ", dtype=np.int32)\n"
      "print(min(timeit.repeat(lambda: a[i], number=1, repeat=5)) * 1e3)\n");
}

}  // namespace

int main(int argc, char** argv) {
  SwitchSpace(kMainSpace);
  if (!ObtainSpace(kMainSpace, 1024u * 1024 * 1024, 0)) return 1;
  InitialiseHeap();
  PrepareArguments();
  benchmark::Initialize(&argc, argv);
  bench::KeepingReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  if (auto ours = reporter.Best("Gather"))
    bench::PrintComparison("A[I] 10M random indexes into 10M binary64", *ours, "NumPy a[i]", NumPyGatherMs(), 1.0);
  benchmark::Shutdown();
  return 0;
}
