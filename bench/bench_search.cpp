// Search and grade benchmarks (Google Benchmark), with references measured in the same run:
//  1. ⍋ of 10,000,000 random 32-bit integers, against NumPy's argsort(kind='stable') on the same
//     numbers (goal: ratio <= 0.25; NumPy from Debian's python3-numpy, through /usr/bin/python3);
//  2. A⍳B with 1,000,000 32-bit integers each, against building a std::unordered_map of A's first
//     positions and looking B up in it (goal: ratio <= 1.0);
//  3. A⍳B with 1,000,000 binary64 values each under the default ⎕CT (tolerant), against the same
//     search with ⎕CT 0 (exact) (goal: ratio <= 1.5).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

#include "host/aplmain.h"
#include "language/parse.h"
#include "memory/memory1.h"
#include "sysfns/quadvar.h"

using namespace vantor;

namespace {

constexpr uint32_t kGradeLength = 10'000'000;
constexpr uint32_t kSearchLength = 1'000'000;
constexpr uint32_t kCodeIndexOf = 35;
constexpr uint32_t kCodeGradeUp = 40;
constexpr char kGradeDataFile[] = "/tmp/vantor_bench_grade.i32";

void Start() {
  Startup().startupFlags = 0;
  ObtainSpace(kMainSpace, 1024u << 20, 0);
  SwitchSpace(kMainSpace);
  InitialiseHeap();
  InitialiseModules();
}

std::vector<int32_t> RandomIntegers(uint32_t n, int32_t low, int32_t high, uint32_t seed) {
  std::mt19937 generator(seed);
  std::uniform_int_distribution<int32_t> distribution(low, high);
  std::vector<int32_t> values(n);
  for (int32_t& v : values) v = distribution(generator);
  return values;
}

// Random doubles in [0, 1000000) with 3 decimals, so that about half of B's values occur in A.
std::vector<double> RandomDoubles(uint32_t n, uint32_t seed) {
  std::vector<int32_t> integers = RandomIntegers(n, 0, 2 * static_cast<int32_t>(n), seed);
  std::vector<double> values(n);
  for (uint32_t i = 0; i < n; ++i) values[i] = integers[i] * 0.001;
  return values;
}

template <ElementType T, class V>
Ref VectorOf(const std::vector<V>& values) {
  Ref r = AllocVector(T, static_cast<uint32_t>(values.size()));
  std::copy(values.begin(), values.end(), DataOf<V>(r));
  return r;
}

void SetComparisonTolerance(double t) {
  Ref value = AllocScalar(kFloat64);
  *DataOf<double>(value) = t;
  AssignSystemVariable(kQuadCT, value);
  Release(value);
}

void GradeInt32(benchmark::State& state) {
  std::vector<int32_t> values = RandomIntegers(kGradeLength, INT32_MIN, INT32_MAX, 1);
  if (FILE* f = std::fopen(kGradeDataFile, "wb")) {
    std::fwrite(values.data(), sizeof(int32_t), values.size(), f);
    std::fclose(f);
  }
  Temporaries hold;
  hold[0] = VectorOf<kInt32>(values);
  for (auto _ : state) {
    Ref result = CallPrimitive(kCodeGradeUp, 0, hold[0]).value;
    benchmark::DoNotOptimize(result);
    Release(result);
  }
}

// The search data: A and B drawn from twice A's length, so about half of B is found.
std::vector<int32_t> SearchIntegers(uint32_t seed) {
  return RandomIntegers(kSearchLength, 0, 2 * static_cast<int32_t>(kSearchLength), seed);
}

void IndexOfInt32(benchmark::State& state) {
  Temporaries hold;
  hold[0] = VectorOf<kInt32>(SearchIntegers(2));
  hold[1] = VectorOf<kInt32>(SearchIntegers(3));
  for (auto _ : state) {
    Ref result = CallPrimitive(kCodeIndexOf, hold[0], hold[1]).value;
    benchmark::DoNotOptimize(result);
    Release(result);
  }
}

void UnorderedMapInt32(benchmark::State& state) {
  std::vector<int32_t> a = SearchIntegers(2);
  std::vector<int32_t> b = SearchIntegers(3);
  std::vector<uint32_t> answers(b.size());
  for (auto _ : state) {
    std::unordered_map<int32_t, uint32_t> first;
    first.reserve(a.size());
    for (uint32_t i = 0; i < a.size(); ++i) first.emplace(a[i], i);
    for (uint32_t j = 0; j < b.size(); ++j) {
      auto found = first.find(b[j]);
      answers[j] = found == first.end() ? static_cast<uint32_t>(a.size()) + 1 : found->second + 1;
    }
    benchmark::DoNotOptimize(answers.data());
  }
}

void IndexOfFloat(benchmark::State& state, double tolerance) {
  SetComparisonTolerance(tolerance);
  Temporaries hold;
  hold[0] = VectorOf<kFloat64>(RandomDoubles(kSearchLength, 4));
  hold[1] = VectorOf<kFloat64>(RandomDoubles(kSearchLength, 5));
  for (auto _ : state) {
    Ref result = CallPrimitive(kCodeIndexOf, hold[0], hold[1]).value;
    benchmark::DoNotOptimize(result);
    Release(result);
  }
  SetComparisonTolerance(1e-14);
}
void IndexOfFloatTolerant(benchmark::State& state) { IndexOfFloat(state, 1e-14); }
void IndexOfFloatExact(benchmark::State& state) { IndexOfFloat(state, 0); }

BENCHMARK(GradeInt32)->Unit(benchmark::kMillisecond);
BENCHMARK(IndexOfInt32)->Unit(benchmark::kMillisecond);
BENCHMARK(UnorderedMapInt32)->Unit(benchmark::kMillisecond);
BENCHMARK(IndexOfFloatTolerant)->Unit(benchmark::kMillisecond);
BENCHMARK(IndexOfFloatExact)->Unit(benchmark::kMillisecond);

// NumPy's time for argsort(kind='stable') of the grade data, best of several runs, in ms; negative
// when NumPy cannot be run.
double NumPyArgsortMs() {
  std::string command = std::string("/usr/bin/python3 -c \"import numpy as np, timeit; a = np.fromfile('") +
                        kGradeDataFile +
                        "', dtype=np.int32); "
                        "print(min(timeit.repeat(lambda: a.argsort(kind='stable'), number=1, repeat=5)) * 1e3)\" "
                        "2>/dev/null";
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return -1;
  double ms = -1;
  if (std::fscanf(pipe, "%lf", &ms) != 1) ms = -1;
  pclose(pipe);
  return ms;
}

// Console output as usual, and the best real time of every benchmark kept for the ratios.
class KeepingReporter : public benchmark::ConsoleReporter {
 public:
  std::map<std::string, double> bestMs;
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      double ms = run.GetAdjustedRealTime() * benchmark::GetTimeUnitMultiplier(benchmark::kMillisecond) /
                  benchmark::GetTimeUnitMultiplier(run.time_unit);
      auto [it, fresh] = bestMs.emplace(run.benchmark_name(), ms);
      if (!fresh) it->second = std::min(it->second, ms);
    }
    ConsoleReporter::ReportRuns(runs);
  }
};

void PrintRatio(const char* what, double ours, const char* reference, double theirs, double goal) {
  std::printf("%s: %.2f ms | %s: %.2f ms | ratio %.2f (goal <= %.2f)\n", what, ours, reference, theirs,
              ours / theirs, goal);
}

}  // namespace

int main(int argc, char** argv) {
  Start();
  benchmark::Initialize(&argc, argv);
  KeepingReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  const auto& best = reporter.bestMs;
  if (best.count("GradeInt32")) {
    double numpy = NumPyArgsortMs();
    if (numpy > 0)
      PrintRatio("grade 10,000,000 int32", best.at("GradeInt32"), "NumPy argsort(kind='stable')", numpy, 0.25);
    else
      std::printf("grade 10,000,000 int32: %.2f ms | NumPy not available (install python3-numpy)\n",
                  best.at("GradeInt32"));
  }
  if (best.count("IndexOfInt32") && best.count("UnorderedMapInt32"))
    PrintRatio("index-of 1,000,000 int32", best.at("IndexOfInt32"), "std::unordered_map build + lookup",
               best.at("UnorderedMapInt32"), 1.0);
  if (best.count("IndexOfFloatTolerant") && best.count("IndexOfFloatExact"))
    PrintRatio("index-of 1,000,000 binary64, ⎕CT 1E¯14", best.at("IndexOfFloatTolerant"), "same with ⎕CT 0",
               best.at("IndexOfFloatExact"), 1.5);
  std::remove(kGradeDataFile);
  benchmark::Shutdown();
  return 0;
}
