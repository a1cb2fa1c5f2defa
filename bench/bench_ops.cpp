// Operator benchmarks (Google Benchmark), with the reference measured in the same run: +/ over
// 10 million 32-bit integers against NumPy's sum of the same int32 array (goal: ratio <= 0.6; NumPy
// from Debian's python3-numpy, run through /usr/bin/python3).
#include <benchmark/benchmark.h>

#include "base/startup.h"
#include "memory/memory1.h"
#include "primitives/reduce.h"
#include "reference.h"

using namespace vantor;

namespace {

constexpr uint32_t kLength = 10'000'000;
constexpr Ref kPlus = 2;

// The values NumPy sums too: i mod 100 (the total fits 32 bits, so no restart happens).
void SumInt32(benchmark::State& state) {
  Temporaries hold;
  hold[0] = AllocVector(kInt32, kLength);
  int32_t* data = DataOf<int32_t>(hold[0]);
  for (uint32_t i = 0; i < kLength; ++i) data[i] = static_cast<int32_t>(i % 100);
  hold[1] = kPlus;
  for (auto _ : state) {
    Ref result = Reduce(hold[1], hold[0], 0);
    benchmark::DoNotOptimize(result);
    Release(result);
  }
}
BENCHMARK(SumInt32)->Unit(benchmark::kMillisecond)->Repetitions(10);

// NumPy's time for a.sum() over the same values as int32, best of several runs, in ms; negative when
// NumPy cannot be run.
double NumPySumMs() {
  return bench::PythonNumber(
      "import numpy as np, timeit; a = (np.arange(10000000) % 100).astype(np.int32); "
      "print(min(timeit.repeat(lambda: a.sum(), number=1, repeat=25)) * 1e3)");
}

}  // namespace

int main(int argc, char** argv) {
  bench::StartInterpreter(1024u << 20);
  benchmark::Initialize(&argc, argv);
  bench::KeepingReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  if (auto ours = reporter.Best("SumInt32"))
    bench::PrintComparison("+/ 10,000,000 int32", *ours, "NumPy a.sum()", NumPySumMs(), 0.6);
  benchmark::Shutdown();
  return 0;
}
