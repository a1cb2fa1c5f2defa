// Structural-function benchmarks (Google Benchmark), with references measured in the same run:
//  1. ⍉ of a 3000×3000 binary64 matrix, against NumPy's a.T.copy() on the same shape (goal: ratio
//     <= 1.0; NumPy from Debian's python3-numpy, run through /usr/bin/python3);
//  2. appending one element to an unshared 1,000,000-element vector (grows in place), against the
//     same append to a shared vector (copies both arguments).
#include <benchmark/benchmark.h>

#include "base/startup.h"
#include "primitives/dispatch.h"
#include "memory/memory1.h"
#include "primitives/cat.h"
#include "reference.h"

using namespace vantor;

namespace {

constexpr uint32_t kSide = 3000;
constexpr uint32_t kVectorLength = 1'000'000;
constexpr uint32_t kCodeTranspose = 41;

void Transpose3000(benchmark::State& state) {
  Temporaries hold;
  hold[0] = AllocMatrix(kFloat64, kSide, kSide);
  double* data = DataOf<double>(hold[0]);
  for (uint64_t i = 0; i < uint64_t{kSide} * kSide; ++i) data[i] = static_cast<double>(i) * 0.5;
  for (auto _ : state) {
    Ref result = CallPrimitive(kCodeTranspose, 0, hold[0]).value;
    benchmark::DoNotOptimize(result);
    Release(result);
  }
}

// Appends to a vector that one slot holds (in place), or that a second reference shares (copied).
void Append(benchmark::State& state, bool shared) {
  Temporaries hold;
  hold[1] = AllocScalar(kInt32);
  *DataOf<int32_t>(hold[1]) = 7;
  for (auto _ : state) {
    state.PauseTiming();
    Release(hold[0]);
    hold[0] = AllocVector(kInt32, kVectorLength);
    if (shared) Retain(hold[0]);
    state.ResumeTiming();
    Ref result = Catenated(hold[0], hold[1]);
    benchmark::DoNotOptimize(result);
    state.PauseTiming();
    Release(result);
    if (shared) ReleaseRef(hold[0]);
    state.ResumeTiming();
  }
}
void AppendInPlace(benchmark::State& state) { Append(state, false); }
void AppendCopying(benchmark::State& state) { Append(state, true); }

BENCHMARK(Transpose3000)->Unit(benchmark::kMillisecond);
BENCHMARK(AppendInPlace)->Unit(benchmark::kMicrosecond);
BENCHMARK(AppendCopying)->Unit(benchmark::kMicrosecond);

// NumPy's time for a.T.copy() on a 3000×3000 float64 matrix, best of several runs, in ms; negative
// when NumPy cannot be run.
double NumPyTransposeMs() {
  return bench::PythonNumber(
      "import numpy as np, timeit; a = np.arange(9e6).reshape(3000, 3000) * 0.5; "
      "print(min(timeit.repeat(lambda: a.T.copy(), number=1, repeat=15)) * 1e3)");
}

}  // namespace

int main(int argc, char** argv) {
  bench::StartInterpreter(1024u << 20);
  benchmark::Initialize(&argc, argv);
  bench::KeepingReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  if (auto ours = reporter.Best("Transpose3000"))
    bench::PrintComparison("transpose 3000x3000 binary64", *ours, "NumPy a.T.copy()", NumPyTransposeMs(), 1.0);
  auto inPlace = reporter.Best("AppendInPlace"), copying = reporter.Best("AppendCopying");
  if (inPlace && copying)
    bench::PrintComparison("append one element to 1,000,000 (in place)", *inPlace * 1e3, "copying a shared one",
                           *copying * 1e3, std::nullopt, "us");
  benchmark::Shutdown();
  return 0;
}
