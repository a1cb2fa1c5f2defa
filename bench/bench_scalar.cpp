// Scalar engine benchmarks (Google Benchmark) against NumPy on identical data, measured in the same
// run: whole-array primitives on 10 million elements through the dyadic and monadic drivers, and one
// dyadic primitive on two 10-element vectors through the dispatch path (CallPrimitive).
#include <benchmark/benchmark.h>

#include <string>

#include "base/startup.h"
#include "primitives/dispatch.h"
#include "memory/memory1.h"
#include "primitives/arith.h"
#include "reference.h"

using namespace vantor;

namespace {

constexpr uint32_t kLength = 10'000'000;
constexpr uint32_t kShortLength = 10;

// Both sides build their arguments from the same hash of the element's index: argument k's element i
// comes from h = (i × kMultipliers[k]) mod 2³², h ^= h >> 16 (kHashInPython computes it for NumPy).
constexpr uint64_t kMultipliers[2] = {2654435761u, 2246822519u};
constexpr char kHashInPython[] =
    "import numpy as np, timeit\n"
    "def hashes(n, m):\n"
    "    h = (np.arange(n, dtype=np.uint64) * np.uint64(m)) & np.uint64(0xFFFFFFFF)\n"
    "    return h ^ (h >> np.uint64(16))\n";

uint64_t Hash(uint64_t i, int k) {
  uint64_t h = (i * kMultipliers[k]) & 0xFFFFFFFFu;
  return h ^ (h >> 16);
}

// How an argument's elements follow from the hash: in C++, and as the same arithmetic in NumPy.
struct Operands {
  ElementType type;
  double (*element)(uint64_t h);
  const char* numpy;  // a Python function of the hash array h
};

constexpr Operands kWideDoubles{kFloat64, [](uint64_t h) { return -1000.0 + h / 4294967296.0 * 2000.0; },
                         "lambda h: -1000.0 + h / 4294967296.0 * 2000.0"};
// Eight values, so that about one pair in eight is equal.
constexpr Operands kGridDoubles{kFloat64, [](uint64_t h) { return (h % 8) * 0.5 - 2.0; },
                         "lambda h: (h % np.uint64(8)) * 0.5 - 2.0"};
constexpr Operands kExponents{kFloat64, [](uint64_t h) { return -50.0 + h / 4294967296.0 * 100.0; },
                              "lambda h: -50.0 + h / 4294967296.0 * 100.0"};
constexpr Operands kPositiveDoubles{kFloat64, [](uint64_t h) { return 0.001 + h / 4294967296.0 * 1000.0; },
                             "lambda h: 0.001 + h / 4294967296.0 * 1000.0"};
constexpr Operands kSmallInt32s{kInt32, [](uint64_t h) { return static_cast<double>(h % 60001) - 30000; },
                          "lambda h: ((h % np.uint64(60001)).astype(np.int64) - 30000).astype(np.int32)"};
// NumPy keeps one byte a Boolean; ours are bits.
constexpr Operands kBooleans{kBool, [](uint64_t h) { return static_cast<double>(h >> 31); },
                             "lambda h: (h >> np.uint64(31)).astype(bool)"};

// Arguments live in root-block working slots above the evaluator's, so compaction keeps them current.
Ref& Argument(int k) { return WorkingSlot(kSlotScratch + k); }

void MakeArgument(int k, const Operands& operands, uint32_t length) {
  Release(Argument(k));
  Ref r = AllocVector(operands.type, length);
  TypeWord(r) |= kNoNarrowFlag;
  for (uint32_t i = 0; i < length; ++i) {
    double value = operands.element(Hash(i, k));
    if (operands.type == kFloat64) DataOf<double>(r)[i] = value;
    if (operands.type == kInt32) DataOf<int32_t>(r)[i] = static_cast<int32_t>(value);
    if (operands.type == kBool) SetBit(DataOf<uint8_t>(r), i, value != 0);
  }
  Argument(k) = r;
}

enum class Path { Dyadic, Monadic, Dispatch };

// One primitive against its NumPy counterpart on the same arguments.
struct Comparison {
  const char* name;
  uint32_t code;
  Path path;
  const Operands& operands;
  uint32_t length;
  const char* numpy;  // an expression of a and b
  double goal;        // the ratio to NumPy; for Path::Dispatch, our time in µs
};

const Comparison kComparisons[] = {
    {"A+B 10M binary64", kScalarPlus, Path::Dyadic, kWideDoubles, kLength, "a + b", 0.7},
    {"A+B 10M int32", kScalarPlus, Path::Dyadic, kSmallInt32s, kLength, "a + b", 0.7},
    {"A×B 10M int32", kScalarTimes, Path::Dyadic, kSmallInt32s, kLength, "a * b", 0.7},
    {"A<B 10M binary64", kScalarLess, Path::Dyadic, kWideDoubles, kLength, "a < b", 0.7},
    {"A=B 10M binary64", kScalarEqual, Path::Dyadic, kGridDoubles, kLength, "a == b", 0.7},
    {"A∧B 10M Booleans", kScalarAnd, Path::Dyadic, kBooleans, kLength, "a & b", 1.0},
    {"*B 10M binary64", kScalarPower, Path::Monadic, kExponents, kLength, "np.exp(a)", 1.0},
    {"⍟B 10M binary64", kScalarLog, Path::Monadic, kPositiveDoubles, kLength, "np.log(a)", 1.0},
    {"A+B 10-element binary64 via CallPrimitive", kScalarPlus, Path::Dispatch, kWideDoubles, kShortLength, "a + b",
     0.15},
};

Ref Apply(const Comparison& c) {
  switch (c.path) {
    case Path::Dyadic: return DyadicScalar(c.code, Argument(0), Argument(1));
    case Path::Monadic: return MonadicScalar(c.code, Argument(0));
    case Path::Dispatch: return CallPrimitive(c.code, Argument(0), Argument(1)).value;
  }
  return 0;
}

void Run(benchmark::State& state, const Comparison& c) {
  for (int k : {0, 1}) MakeArgument(k, c.operands, c.length);
  for (auto _ : state) {
    Ref r = Apply(c);
    benchmark::DoNotOptimize(r);
    ReleaseRef(r);
  }
}

void RegisterBenchmarks() {
  for (const Comparison& c : kComparisons) {
    auto* b = benchmark::RegisterBenchmark(c.name, [&c](benchmark::State& state) { Run(state, c); });
    // The best of several repetitions, as NumPy's time is the best of its runs.
    b->Repetitions(5)->Unit(c.path == Path::Dispatch ? benchmark::kMicrosecond : benchmark::kMillisecond);
  }
}

// NumPy's best time for the comparison's expression on the same data, in the comparison's unit (µs
// for the short vectors, ms otherwise); negative when NumPy is missing.
double NumPyTime(const Comparison& c) {
  bool shortVectors = c.path == Path::Dispatch;
  std::string n = std::to_string(c.length), calls = shortVectors ? "100000" : "1";
  return bench::PythonNumber(std::string(kHashInPython) + "operand = " + c.operands.numpy + "\n" +
                             "a = operand(hashes(" + n + ", " + std::to_string(kMultipliers[0]) + "))\n" +
                             "b = operand(hashes(" + n + ", " + std::to_string(kMultipliers[1]) + "))\n" +
                             "best = min(timeit.repeat(lambda: " + c.numpy + ", number=" + calls + ", repeat=7))\n" +
                             "print(best / " + calls + " * " + (shortVectors ? "1e6" : "1e3") + ")\n");
}

void PrintComparisons(const bench::KeepingReporter& reporter) {
  for (const Comparison& c : kComparisons) {
    auto ours = reporter.Best(c.name);
    if (!ours) continue;
    std::string reference = std::string("NumPy ") + c.numpy;
    if (c.path == Path::Dispatch) {
      double us = *ours * 1e3;
      bench::PrintComparison(c.name, us, reference, NumPyTime(c), std::nullopt, "us");
      std::printf("  goal: ours <= %.2f us (%s)\n", c.goal, us <= c.goal ? "met" : "not met");
    } else {
      bench::PrintComparison(c.name, *ours, reference, NumPyTime(c), c.goal);
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  bench::StartInterpreter(1536ull << 20);
  RegisterBenchmarks();
  benchmark::Initialize(&argc, argv);
  bench::KeepingReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  PrintComparisons(reporter);
  benchmark::Shutdown();
  return 0;
}
