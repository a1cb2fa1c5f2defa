// Indexing benchmark: A[I] with 10 million random indexes into a vector of 10 million binary64
// values, through the indexing primitive, against NumPy's fancy indexing (a[i]) on data of the same
// size and kind, measured in the same run (goal: ratio <= 1.00).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>
#include <string>

#include "language/parse.h"
#include "memory/memory1.h"
#include "primitives/index.h"

using namespace vantor;
using Clock = std::chrono::steady_clock;

namespace {

constexpr uint32_t kElements = 10'000'000;
double g_vantorSeconds = 0;
double g_numpySeconds = 0;

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

void VantorGather(benchmark::State& state) {
  for (auto _ : state) {
    auto start = Clock::now();
    CallResult result = IndexArray(WorkingSlot(kSlotLeft), WorkingSlot(kSlotRight));
    double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    benchmark::DoNotOptimize(result.value);
    ReleaseRef(result.value);
    state.SetIterationTime(seconds);
    g_vantorSeconds = g_vantorSeconds == 0 ? seconds : std::min(g_vantorSeconds, seconds);  // best run, as for NumPy
  }
}

// NumPy's best of several runs of a[i], timed inside Python (Debian's python3 with python3-numpy).
double NumPySeconds() {
  const std::string script =
      "import numpy as np, time\n"
      "rng = np.random.default_rng(12345)\n"
      "a = rng.random(" + std::to_string(kElements) + ")\n"
      "i = rng.integers(0, " + std::to_string(kElements) + ", " + std::to_string(kElements) + ", dtype=np.int32)\n"
      "best = 1e9\n"
      "for _ in range(5):\n"
      "    t = time.perf_counter(); r = a[i]; best = min(best, time.perf_counter() - t)\n"
      "print(best)\n";
  std::string command = "/usr/bin/python3 -c '" + script + "' 2>/dev/null";
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return 0;
  double seconds = 0;
  if (std::fscanf(pipe, "%lf", &seconds) != 1) seconds = 0;
  pclose(pipe);
  return seconds;
}

void NumPyGather(benchmark::State& state) {
  if (g_numpySeconds == 0) g_numpySeconds = NumPySeconds();
  if (g_numpySeconds == 0) {
    state.SkipWithError("python3 with numpy is not available");
    return;
  }
  for (auto _ : state) state.SetIterationTime(g_numpySeconds);
}

}  // namespace

BENCHMARK(VantorGather)->Name("A[I] 10M random into 10M binary64")->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(NumPyGather)->Name("NumPy a[i], same sizes")->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);

int main(int argc, char** argv) {
  SwitchSpace(kMainSpace);
  if (!ObtainSpace(kMainSpace, 1024u * 1024 * 1024, 0)) return 1;
  InitialiseHeap();
  PrepareArguments();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  if (g_numpySeconds > 0)
    std::printf("A[I] %.1f ms | NumPy a[i] %.1f ms | ratio %.2f (goal <= 1.00)\n", g_vantorSeconds * 1e3,
                g_numpySeconds * 1e3, g_vantorSeconds / g_numpySeconds);
  return 0;
}
