// What the benchmarks that measure a reference in the same run share: a console reporter that keeps
// the best time of every benchmark, a stopwatch, a runner for Python snippets (Debian's
// /usr/bin/python3, which has python3-numpy; the python3 on PATH may not), and the one line format
// every comparison prints.
#pragma once
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <unistd.h>

#include "host/aplmain.h"
#include "base/utf8.h"
#include "language/dmx.h"
#include "language/session.h"
#include "language/space.h"
#include "memory/memory1.h"

namespace vantor::bench {

// A main workspace of `bytes` with every unit started, as the interpreter starts (`startupFlags`
// 0: the runtime edition, values are not displayed).
inline void StartInterpreter(uint64_t bytes, uint32_t startupFlags = 0) {
  Startup().startupFlags = startupFlags;
  ObtainSpace(kMainSpace, bytes, 0);
  SwitchSpace(kMainSpace);
  InitialiseHeap();
  InitialiseModules();
}

// Console output as usual, and the best real time of every benchmark in milliseconds, keyed by the
// benchmark's own name (repetitions and arguments do not change the key; aggregates are skipped).
class KeepingReporter : public benchmark::ConsoleReporter {
 public:
  // Colours only on a terminal, so that logs stay plain text.
  KeepingReporter() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_Defaults : OO_Tabular) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.run_type == Run::RT_Aggregate || run.error_occurred) continue;
      double ms = run.GetAdjustedRealTime() * benchmark::GetTimeUnitMultiplier(benchmark::kMillisecond) /
                  benchmark::GetTimeUnitMultiplier(run.time_unit);
      auto [it, fresh] = bestMs.emplace(run.run_name.function_name, ms);
      if (!fresh) it->second = std::min(it->second, ms);
    }
    ConsoleReporter::ReportRuns(runs);
  }

  // The best time of benchmark `name` in milliseconds, if it ran.
  std::optional<double> Best(const std::string& name) const {
    auto it = bestMs.find(name);
    if (it == bestMs.end()) return std::nullopt;
    return it->second;
  }

 private:
  std::map<std::string, double> bestMs;
};

// The time one call of `work` takes, in ms.
template <class Work>
double Milliseconds(Work&& work) {
  auto start = std::chrono::steady_clock::now();
  work();
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

// The times in ms of `runs` executions of `line`, with `before` executed untimed before each (so
// that, as on the Python side, the previous value is freed outside the timing).
inline std::vector<double> LineTimes(const std::u32string& line, int runs, const std::u32string& before = U"") {
  std::vector<double> times;
  for (int run = 0; run < runs; ++run) {
    if (!before.empty()) ExecuteLine(before);
    times.push_back(Milliseconds([&] { ExecuteLine(line); }));
  }
  return times;
}

// The document written to a temporary file for the reference to read (named after `stem`, this
// process and `extension`), and the same text in the workspace as the character vector t.
inline std::string ShareDocument(const std::string& stem, const std::string& extension, const std::string& text) {
  const std::string path = "/tmp/vantor_bench_" + stem + "_" + std::to_string(getpid()) + extension;
  if (FILE* file = std::fopen(path.c_str(), "wb")) {
    std::fwrite(text.data(), 1, text.size(), file);
    std::fclose(file);
  }
  Temporaries hold;
  hold[0] = MakeText(FromUtf8(text));
  SetEntry(LookupName(U"t", LookupMode::Create), kNameVariable, hold[0]);
  return path;
}

// Runs `script` with /usr/bin/python3 and returns every number it prints, in order; empty when Python,
// or a module the script imports, is missing.
inline std::vector<double> PythonNumbers(const std::string& script) {
  // Single-quoted for the shell: each ' in the script becomes '\''.
  std::string quoted = "'";
  for (char c : script) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  quoted += "'";
  std::string command = "/usr/bin/python3 -c " + quoted + " 2>/dev/null";
  FILE* pipe = popen(command.c_str(), "r");
  std::vector<double> numbers;
  if (!pipe) return numbers;
  for (double x; std::fscanf(pipe, "%lf", &x) == 1;) numbers.push_back(x);
  if (pclose(pipe) != 0) numbers.clear();
  return numbers;
}

// The first number a Python script prints; negative when Python, or a module it imports, is missing.
inline double PythonNumber(const std::string& script) {
  std::vector<double> numbers = PythonNumbers(script);
  return numbers.empty() ? -1 : numbers.front();
}

// Prints "name: ours X ms | reference Y ms | ratio Z (goal <= G)" — or that the reference could not
// be measured when `theirs` is negative. `unit` names the unit both times are in.
inline void PrintComparison(const std::string& name, double ours, const std::string& reference, double theirs,
                            std::optional<double> goal, const char* unit = "ms") {
  std::printf("%s: ours %.4g %s | ", name.c_str(), ours, unit);
  if (theirs <= 0) {
    std::printf("%s not available (scripts/bench.sh installs python3-numpy)\n", reference.c_str());
    return;
  }
  std::printf("%s %.4g %s | ratio %.3g", reference.c_str(), theirs, unit, ours / theirs);
  if (goal) std::printf(" (goal <= %.2f)", *goal);
  std::printf("\n");
}

struct Spread {
  double min, median, max;
};

inline Spread SpreadOf(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return {values.front(), values[values.size() / 2], values.back()};
}

// The runs of both sides, taken pairwise in order: the median comparison as every benchmark prints
// it, then the min, median and max of each side and of the per-run ratios.
inline void PrintRuns(const std::string& name, const std::vector<double>& ours, const std::string& reference,
                      const std::vector<double>& theirs, double goal) {
  Spread our = SpreadOf(ours), their = SpreadOf(theirs);
  PrintComparison(name, our.median, reference, their.min > 0 ? their.median : -1, goal);
  if (their.min <= 0) return;
  std::vector<double> ratios;
  for (size_t run = 0; run < ours.size(); ++run) ratios.push_back(ours[run] / theirs[run]);
  Spread ratio = SpreadOf(ratios);
  std::printf("  %zu runs, min/median/max: ours %.4g/%.4g/%.4g ms | reference %.4g/%.4g/%.4g ms | "
              "ratio %.3g/%.3g/%.3g\n",
              ours.size(), our.min, our.median, our.max, their.min, their.median, their.max, ratio.min,
              ratio.median, ratio.max);
}

}  // namespace vantor::bench
